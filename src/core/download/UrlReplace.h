#pragma once

#include "download/DownloadListModel.h"

#include <QString>
#include <QStringView>

namespace lintbay {

inline constexpr QStringView kUrlReplaceEmptyFindText = u"请输入字符串！"; // error icon
inline constexpr QStringView kUrlReplaceDoneText = u"全部网址替换完成！";  // information icon

struct UrlReplaceResult
{
    bool refused = false;    // the find text is empty or only spaces: nothing changed
    int keysChanged = 0;     // rows whose addresses changed
    int referersChanged = 0; // rows whose referring address changed
    int keysKept = 0;        // rows whose new addresses another row holds: unchanged
    int keysEmptied = 0;     // rows the replace would have left without an address: unchanged
};

// Replaces every occurrence of `find`, ignoring case, in the addresses (every address of a key) and
// the referring address of every row. The texts are used as typed; only the emptiness test trims.
// Keys stay unique: a row whose new key another row ends up holding keeps its old key (the row that
// keeps its key, or else the first such row, wins). State, name, type, sizes and folder stay.
UrlReplaceResult replaceInAddresses(DownloadListModel& list, const QString& find, const QString& replacement);

// The final message: kUrlReplaceDoneText, and how many rows kept their addresses when any did.
QString urlReplaceMessage(const UrlReplaceResult& result);

} // namespace lintbay
