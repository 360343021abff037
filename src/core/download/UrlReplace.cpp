#include "download/UrlReplace.h"

using namespace Qt::StringLiterals;

namespace lintbay {

UrlReplaceResult replaceInAddresses(DownloadListModel& list, const QString& find, const QString& replacement)
{
    UrlReplaceResult result;
    if (find.trimmed().isEmpty()) {
        result.refused = true;
        return result;
    }

    QList<DownloadListModel::KeyChange> keyChanges;
    for (int row = 0; row < list.count(); ++row) {
        const QString before = list.at(row).key;
        QString key = before;
        key.replace(find, replacement, Qt::CaseInsensitive);
        if (key == before)
            continue;
        // An address the replace emptied goes, with its separator: an empty one would be fetched
        // as "" once the row's addresses are swapped.
        key = key.split(u'|', Qt::SkipEmptyParts).join(u'|');
        if (key.isEmpty())
            ++result.keysEmptied;
        else if (key != before)
            keyChanges.append({row, key});
    }
    result.keysKept = list.changeKeys(keyChanges);
    result.keysChanged = int(keyChanges.size()) - result.keysKept;

    result.referersChanged = list.editRows([&find, &replacement](int, DownloadItem& item) {
        if (item.referer.isEmpty())
            return false;
        const QString before = item.referer;
        item.referer.replace(find, replacement, Qt::CaseInsensitive);
        return item.referer != before;
    });
    return result;
}

QString urlReplaceMessage(const UrlReplaceResult& result)
{
    QString text = kUrlReplaceDoneText.toString();
    if (result.keysKept > 0)
        text += u"\n有%1项替换后的网址与列表中其他项相同，保留了原网址。"_s.arg(result.keysKept);
    if (result.keysEmptied > 0)
        text += u"\n有%1项替换后没有网址了，保留了原网址。"_s.arg(result.keysEmptied);
    return text;
}

} // namespace lintbay
