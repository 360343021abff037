// Helpers of the row type; the list model itself is in DownloadListModel.cpp.
#include "download/DownloadListModel.h"

#include <QDir>

namespace lintbay {

QString DownloadItem::filePath() const
{
    // A row without a type is saved under its bare name, and its file is looked for there.
    if (type.isEmpty())
        return folder + name;
    return folder + name + u'.' + type;
}

QString 选择url(const QString& key)
{
    const qsizetype bar = key.indexOf(u'|');
    return bar < 0 ? key : key.left(bar);
}

QString 对调url(const QString& key)
{
    const QStringList urls = key.split(u'|');
    if (urls.size() == 2)
        return urls.at(1) + u'|' + urls.at(0);
    if (urls.size() == 3)
        return urls.at(2) + u'|' + urls.at(0) + u'|' + urls.at(1);
    return key;
}

QString folderWithSeparator(const QString& folder)
{
    if (folder.isEmpty())
        return folder;
    QString native = QDir::toNativeSeparators(folder);
    if (!native.endsWith(QDir::separator()))
        native += QDir::separator();
    return native;
}

} // namespace lintbay
