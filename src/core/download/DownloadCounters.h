#pragma once

#include "download/DownloadListModel.h"

#include <QString>

namespace lintbay {

struct StateCounts
{
    int total = 0;
    int downloading = 0;
    int waiting = 0;
    int done = 0;
    int failed = 0; // a row in none of the four states counts only in the total

    bool operator==(const StateCounts&) const = default;
};

// From the counts the list keeps as rows change: constant time.
StateCounts countStates(const DownloadListModel& list);
// By one walk over the rows.
StateCounts countStates(const QList<DownloadItem>& rows);

// The status bar's counters line: "总数:10 正在下载:2 等待:5 已完成:2 失败:1".
QString countersText(const StateCounts& counts);
inline QString countersText(const DownloadListModel& list)
{
    return countersText(countStates(list));
}

// The row counter label: "0条".
QString rowCountText(const DownloadListModel& list);

// True when no row waits or downloads (an empty list included).
bool 检测是否下载列表完毕(const DownloadListModel& list);
// Rows whose size, received and progress are all empty (never started, or queued again).
int 统计未下载项数目(const DownloadListModel& list);
// Rows of type htm or html, and other rows that failed: what stops the scheduler at five.
int CountFailedAndPageRows(const DownloadListModel& list);

} // namespace lintbay
