#include "download/DownloadCounters.h"

#include "download/ListOperations.h"

using namespace Qt::StringLiterals;

namespace lintbay {

StateCounts countStates(const DownloadListModel& list)
{
    StateCounts c;
    c.total = list.count();
    c.downloading = list.countInState(DownloadItemState::Downloading);
    c.waiting = list.countInState(DownloadItemState::Waiting);
    c.done = list.countInState(DownloadItemState::Done);
    c.failed = list.countInState(DownloadItemState::Failed);
    return c;
}

StateCounts countStates(const QList<DownloadItem>& rows)
{
    int byState[5] = {};
    for (const DownloadItem& item : rows) {
        const unsigned v = unsigned(item.state);
        ++byState[v <= 4 ? v : 0];
    }
    StateCounts c;
    c.total = int(rows.size());
    c.waiting = byState[int(DownloadItemState::Waiting)];
    c.downloading = byState[int(DownloadItemState::Downloading)];
    c.done = byState[int(DownloadItemState::Done)];
    c.failed = byState[int(DownloadItemState::Failed)];
    return c;
}

QString countersText(const StateCounts& counts)
{
    return u"总数:%1 正在下载:%2 等待:%3 已完成:%4 失败:%5"_s.arg(counts.total)
        .arg(counts.downloading)
        .arg(counts.waiting)
        .arg(counts.done)
        .arg(counts.failed);
}

QString rowCountText(const DownloadListModel& list)
{
    return QString::number(list.count()) + u"条"_s;
}

bool 检测是否下载列表完毕(const DownloadListModel& list)
{
    return list.countInState(DownloadItemState::Waiting) == 0 &&
           list.countInState(DownloadItemState::Downloading) == 0;
}

int 统计未下载项数目(const DownloadListModel& list)
{
    int n = 0;
    for (const DownloadItem& item : list.rows()) {
        if (item.size.isEmpty() && item.received.isEmpty() && item.progress.isEmpty())
            ++n;
    }
    return n;
}

int CountFailedAndPageRows(const DownloadListModel& list)
{
    int n = 0;
    for (const DownloadItem& item : list.rows()) {
        if (isPageType(item.type) || item.state == DownloadItemState::Failed)
            ++n;
    }
    return n;
}

} // namespace lintbay
