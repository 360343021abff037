#pragma once

#include <QList>
#include <QString>

#include <functional>

namespace lintbay {

class DownloadListModel;
class ResultListModel;
struct SearchResult;

// What naming a handed-over row depends on: the default save folder (for rows that carry none) and
// the save-folder dialog's choice to name files after their links.
struct HandOffNaming
{
    QString defaultSavePath;
    bool nameFromLink = false;
};

// Adds one result row to the download list as a waiting row: the link as its address, the cleaned
// title (or, when files are named after their links, the link's file name) as its name, the page
// it came from as referer, and the default save folder when the row carries none. A link the list
// already holds adds nothing. Always true.
bool 加入下载列表(const QString& link, const QString& title, const QString& type, const QString& saveFolder,
                  const QString& pageAddress, const HandOffNaming& naming, DownloadListModel& list);

// The four hand-over passes and the rows each takes.
enum class AnalysePass
{
    New,      // "分析未分析项": rows not handed over yet
    Failed,   // "分析失败项": rows marked "分析失败"
    Selected, // "分析选中项": the selected rows
    All,      // "分析全部": every row
};
bool PassQualifies(AnalysePass pass, const SearchResult& row, bool selected);

// The download list rows go to. It is asked for only when a row qualifies, because reaching it may
// load the download window, and again after events have run, which may have closed that window;
// null ends the pass.
using DownloadListSource = std::function<DownloadListModel*()>;

// Step through the result rows in list order and hand over each that qualifies, marking it "成功".
// Events run between rows (the stop button and the timers are served); `stopRequested` is asked
// after every row. Rows appended during the pass are taken too. Returns the rows handed over.
int HandOverRows(ResultListModel& results, AnalysePass pass, const QList<int>& selectedRows,
                 const HandOffNaming& naming, const DownloadListSource& target,
                 const std::function<bool()>& stopRequested);

} // namespace lintbay
