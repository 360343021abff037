// The journal of the download list under load: 100,000 rows changed one by one, as transfers change
// them. Reports the time spent writing in all and the longest slice the window waits for.
#include "download/DownloadJournal.h"
#include "download/DownloadListModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>

using namespace Qt::StringLiterals;
using namespace lintbay;

namespace {
// Runs the event loop until the journal has written everything.
void untilWritten(const DownloadJournal& journal)
{
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!journal.hasPending())
            loop.quit();
    });
    poll.start(1);
    loop.exec();
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int rows = args.size() > 1 ? args.at(1).toInt() : 100000;

    QTemporaryDir dir;
    DownloadListModel list;
    QList<DownloadItem> items;
    for (int i = 0; i < rows; ++i) {
        DownloadItem item;
        item.key = u"http://127.0.0.1:8123/link?url=token%1"_s.arg(i);
        item.name = u"第%1份 机器学习研究报告"_s.arg(i);
        item.type = u"pdf"_s;
        item.folder = u"/home/user/12345/"_s;
        items.append(item);
    }
    list.addItems(items);

    DownloadJournal journal(dir.filePath(u"journal.sqlite"_s));
    if (!journal.attach(list))
        return 1;
    untilWritten(journal);
    const double firstWriteMs = journal.writingMs();
    const qint64 firstLongest = journal.longestSliceMs();

    // Every row changes once, in bursts as the transfers report, with the window's events between.
    for (int i = 0; i < rows; ++i) {
        list.setTransferColumns(i, u"1048576"_s, QString::number(i), u"%1%"_s.arg(i % 100));
        if (i % 1000 == 999)
            QCoreApplication::processEvents();
    }
    untilWritten(journal);
    const double changesMs = journal.writingMs() - firstWriteMs;
    std::printf("| write the whole list of %d rows when the window opens | %.0f | %lld |\n", rows, firstWriteMs,
                qlonglong(firstLongest));
    std::printf("| %d row changes, one by one | %.0f | %lld |\n", rows, changesMs,
                qlonglong(journal.longestSliceMs()));
    return 0;
}
