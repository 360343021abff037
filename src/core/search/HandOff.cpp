#include "HandOff.h"

#include "download/DownloadListModel.h"
#include "search/ResultListModel.h"
#include "util/PathHelpers.h"
#include "util/TextHelpers.h"
#include "util/Wait.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSet>

namespace lintbay {

namespace {
constexpr int kPumpIntervalMs = 30;
}

bool 加入下载列表(const QString& link, const QString& title, const QString& type, const QString& saveFolder,
                  const QString& pageAddress, const HandOffNaming& naming, DownloadListModel& list)
{
    const QString cleanTitle = RemoveLineBreaks(title).trimmed();
    const QString folder = saveFolder.isEmpty() ? naming.defaultSavePath : saveFolder;
    const QString name = SanitizeFileName(naming.nameFromLink ? FileNameFromPath(link, true) : cleanTitle);
    list.addItem(link, name, type, folder, pageAddress, DownloadItemState::Waiting);
    return true;
}

bool PassQualifies(AnalysePass pass, const SearchResult& row, bool selected)
{
    switch (pass) {
    case AnalysePass::New:
        return row.status.isEmpty();
    case AnalysePass::Failed:
        return row.status == ResultListModel::statusFailed();
    case AnalysePass::Selected:
        return selected;
    case AnalysePass::All:
        return true;
    }
    return false;
}

int HandOverRows(ResultListModel& results, AnalysePass pass, const QList<int>& selectedRows,
                 const HandOffNaming& naming, const DownloadListSource& targetSource,
                 const std::function<bool()>& stopRequested)
{
    const QSet<int> selected(selectedRows.cbegin(), selectedRows.cend());
    // The lists belong to a window and a session that can go away while events run.
    QPointer<ResultListModel> source(&results);
    QPointer<DownloadListModel> target;
    bool targetAsked = false;
    int handed = 0;
    // Events run between rows, but at most every few milliseconds: often enough for the stop
    // button and the timers, rarely enough that a long list is not redrawn row by row.
    QElapsedTimer sincePump;
    sincePump.start();
    for (int row = 0; source && row < source->count(); ++row) {
        const SearchResult r = source->at(row);
        if (!PassQualifies(pass, r, selected.contains(row)))
            continue;
        if (!targetAsked) {
            targetAsked = true;
            target = targetSource ? targetSource() : nullptr;
        }
        if (!target || !source)
            break;
        source->setStatus(row, QString());
        加入下载列表(r.key, r.title, r.type, r.saveFolder, r.tag, naming, *target);
        source->setStatus(row, ResultListModel::statusDone());
        ++handed;
        if (sincePump.elapsed() >= kPumpIntervalMs) {
            pumpEvents();
            sincePump.restart();
            if (!source) // the window went away, and whatever the stop question would read with it
                break;
            // The download window may have been closed meanwhile, its list thrown away before it
            // is freed: the next row is handed to the list of the window as it is now.
            targetAsked = false;
        }
        if (stopRequested && stopRequested())
            break;
    }
    return handed;
}

} // namespace lintbay
