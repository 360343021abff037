#pragma once

// What the transfer benchmarks share: the rows of a URL list file, the process's CPU time, a test
// authority to trust.

#include "controls/NetworkContext.h"
#include "download/DownloadListModel.h"

#include <QFile>
#include <QSslCertificate>
#include <QString>
#include <QUrl>

#include <sys/resource.h>

namespace lintbay::bench {

// One waiting row per line of `listPath` (a URL), saved in `folder` as "<file>_<n>.<type>" so that
// files of the same name stay apart. False when the file cannot be read.
inline bool addUrlRows(DownloadListModel& list, const QString& listPath, const QString& folder)
{
    QFile listFile(listPath);
    if (!listFile.open(QIODevice::ReadOnly))
        return false;
    int n = 0;
    while (!listFile.atEnd()) {
        const QString url = QString::fromUtf8(listFile.readLine()).trimmed();
        if (url.isEmpty())
            continue;
        const QString file = QUrl(url).fileName();
        const qsizetype dot = file.lastIndexOf(u'.');
        const QString number = QString::number(n++);
        list.addItem(url, dot > 0 ? file.left(dot) + u'_' + number : file + u'_' + number,
                     dot > 0 ? file.mid(dot + 1) : QString(), folder, QString());
    }
    return true;
}

// User and system time of every thread of the process so far, in seconds.
inline double processCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
}

// Trusts the first certificate in the PEM file at `path` for HTTPS; false when there is none.
inline bool trustAuthorityFile(NetworkContext& network, const QString& path)
{
    const QList<QSslCertificate> authority = QSslCertificate::fromPath(path);
    if (authority.isEmpty())
        return false;
    network.trustAuthority(authority.first());
    return true;
}

} // namespace lintbay::bench
