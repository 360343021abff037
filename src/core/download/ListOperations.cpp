#include "download/ListOperations.h"

#include "app/SettingsStore.h"
#include "controls/TransferReason.h"
#include "download/CellOrder.h"
#include "download/FileActions.h"
#include "download/RowFiles.h"
#include "download/TransferOutcome.h"

#include <QDir>
#include <QFile>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

bool finished(const DownloadItem& item)
{
    return item.state == DownloadItemState::Done || item.state == DownloadItemState::Failed;
}

// Rows of `rows` that exist, each once, ascending.
QList<int> validRows(const DownloadListModel& list, const QList<int>& rows)
{
    QList<bool> marked(list.count(), false);
    for (int row : rows) {
        if (row >= 0 && row < list.count())
            marked[row] = true;
    }
    QList<int> out;
    for (int i = 0; i < marked.size(); ++i) {
        if (marked.at(i))
            out.append(i);
    }
    return out;
}

// A name part that cannot step out of its folder.
bool plainNamePart(const QString& text)
{
    return !text.contains(u'/') && !text.contains(u'\\') && !text.contains(QDir::separator());
}

} // namespace

QStringView refusalText(ListOperation operation, const DownloadActivity& activity)
{
    switch (operation) {
    case ListOperation::Sort:
        return activity.downloading ? kStopBeforeSortText : QStringView();
    case ListOperation::Shuffle:
    case ListOperation::RemoveSelected:
    case ListOperation::RemoveFailed:
    case ListOperation::RemoveDone:
    case ListOperation::ClearAll:
        return activity.downloadBusy ? kStopDownloadFirstText : QStringView();
    case ListOperation::CancelSelected:
        return activity.busyFlag ? kStopBeforeCancelText : QStringView();
    case ListOperation::DeleteFiles:
    case ListOperation::Requeue:
    case ListOperation::CopyName:
    case ListOperation::ExportNames:
        return {};
    }
    return {};
}

ListOpResult SortByColumn(DownloadListModel& list, int column, const DownloadActivity& activity)
{
    if (const QStringView refusal = refusalText(ListOperation::Sort, activity); !refusal.isEmpty())
        return {refusal, 0};
    if (column < 0 || column >= DownloadListModel::ColumnCount)
        return {};
    const Qt::SortOrder order =
        list.sortOrder() == Qt::DescendingOrder ? Qt::AscendingOrder : Qt::DescendingOrder;
    list.sort(column, order);
    return {{}, list.count()};
}

ListOpResult ShuffleList(DownloadListModel& list, const DownloadActivity& activity,
                         QRandomGenerator& generator)
{
    if (const QStringView refusal = refusalText(ListOperation::Shuffle, activity); !refusal.isEmpty())
        return {refusal, 0};
    list.shuffle(generator);
    return {{}, list.count()};
}

ListOpResult removeSelectedRows(DownloadListModel& list, const QList<int>& selectedRows,
                                const DownloadActivity& activity)
{
    if (const QStringView refusal = refusalText(ListOperation::RemoveSelected, activity); !refusal.isEmpty())
        return {refusal, 0};
    return {{}, list.removeRowsAt(selectedRows)};
}

ListOpResult removeFailedRows(DownloadListModel& list, const DownloadActivity& activity)
{
    if (const QStringView refusal = refusalText(ListOperation::RemoveFailed, activity); !refusal.isEmpty())
        return {refusal, 0};
    return {{}, list.removeInState(DownloadItemState::Failed)};
}

ListOpResult removeDoneRows(DownloadListModel& list, const DownloadActivity& activity)
{
    if (const QStringView refusal = refusalText(ListOperation::RemoveDone, activity); !refusal.isEmpty())
        return {refusal, 0};
    return {{}, list.removeInState(DownloadItemState::Done)};
}

ListOpResult clearList(DownloadListModel& list, const DownloadActivity& activity)
{
    if (const QStringView refusal = refusalText(ListOperation::ClearAll, activity); !refusal.isEmpty())
        return {refusal, 0};
    const int n = list.count();
    list.clear();
    return {{}, n};
}

ListOpResult cancelSelectedRows(DownloadListModel& list, const QList<int>& selectedRows,
                                const DownloadActivity& activity)
{
    if (const QStringView refusal = refusalText(ListOperation::CancelSelected, activity); !refusal.isEmpty())
        return {refusal, 0};
    const int changed = list.editRows(validRows(list, selectedRows), [](int, DownloadItem& item) {
        if (item.state != DownloadItemState::Waiting)
            return false;
        item.state = DownloadItemState::Failed;
        item.reason = reason::cancelled();
        return true;
    });
    return {{}, changed};
}

bool isPageType(const QString& type)
{
    return type.compare(u"htm"_s, Qt::CaseInsensitive) == 0 ||
           type.compare(u"html"_s, Qt::CaseInsensitive) == 0;
}

bool isPageOrXmlType(const QString& type)
{
    return isPageType(type) || type.compare(u"xml"_s, Qt::CaseInsensitive) == 0;
}

bool ownsFileAtPath(const DownloadItem& item)
{
    if (item.state == DownloadItemState::Failed || endedWithoutFile(item.progress) ||
        item.progress == kFileMissingWord)
        return false;
    // A finished row with emptied cells: its file was deleted here (删除文件, or as a duplicate).
    return !(item.state == DownloadItemState::Done && item.progress.isEmpty());
}

QString ItemFileToDelete(const DownloadItem& item)
{
    if (!ownsFileAtPath(item) || item.name.isEmpty() || item.name == u"."_s ||
        item.name == u".."_s || !plainNamePart(item.name) || !plainNamePart(item.type) || item.folder.isEmpty() ||
        !QDir::isAbsolutePath(item.folder))
        return {};
    return item.filePath();
}

bool RemoveRowFile(const QString& path)
{
    // One call to the file system per row, as passes over a long list make one per chosen row: the
    // removal unlinks a name, so a link goes as a link, never what it points to, and a folder under
    // the row's name is never removed.
    return !path.isEmpty() && QFile::remove(path);
}

bool DeleteItemFile(const DownloadItem& item)
{
    return RemoveRowFile(ItemFileToDelete(item));
}

namespace {

int deleteFilesWhere(DownloadListModel& list, RowFiles* files, const DownloadListModel::RowPredicate& chosen)
{
    QList<quint64> failed;
    const int count = list.editRows([&chosen, &failed](int, DownloadItem& item) {
        if (!chosen(item))
            return false;
        if (item.state == DownloadItemState::Failed)
            failed.append(item.id);
        // The row's ending, in its columns, tells whether the file at its path is its own.
        DeleteItemFile(item);
        item.size.clear();
        item.received.clear();
        item.progress.clear();
        return true;
    });
    // What a failed row received lies in its hidden part file, its only file.
    if (files) {
        for (quint64 id : std::as_const(failed))
            files->dropPart(id);
    }
    return count;
}

} // namespace

int deletePageFiles(DownloadListModel& list, RowFiles* files)
{
    return deleteFilesWhere(list, files,
                            [](const DownloadItem& item) { return finished(item) && isPageOrXmlType(item.type); });
}

int deleteFailedFiles(DownloadListModel& list, RowFiles* files)
{
    return deleteFilesWhere(list, files,
                            [](const DownloadItem& item) { return item.state == DownloadItemState::Failed; });
}

std::optional<double> parseSizeAnswer(const QString& answer)
{
    // Numeric as the options take numbers: "1,000" and "1e3" too.
    double v = 0;
    if (!ParseNumber(answer, &v))
        return std::nullopt;
    return v;
}

namespace {

bool smallerThan(const DownloadItem& item, double limit)
{
    QString size = item.size;
    QString received = item.received;
    size.remove(u',');
    received.remove(u',');
    double s = 0;
    double r = 0;
    return finished(item) && parseDecimal(size, &s) && parseDecimal(received, &r) && r == s && s < limit;
}

} // namespace

int RequeueRows(DownloadListModel& list, RequeueRule rule, const QList<int>& selectedRows, double sizeLimit,
                QStringList* filesToRemove)
{
    QList<int> chosen;
    switch (rule) {
    case RequeueRule::Selected:
        for (int row : validRows(list, selectedRows)) {
            if (finished(list.at(row)))
                chosen.append(row);
        }
        break;
    case RequeueRule::Failed:
        chosen = list.rowsInState(DownloadItemState::Failed);
        break;
    case RequeueRule::WebPages:
        chosen = list.rowsMatching(
            [](const DownloadItem& item) { return finished(item) && isPageOrXmlType(item.type); });
        break;
    case RequeueRule::FailedAndWebPages:
        chosen = list.rowsMatching([](const DownloadItem& item) {
            return item.state == DownloadItemState::Failed ||
                   (item.state == DownloadItemState::Done && isPageType(item.type));
        });
        break;
    case RequeueRule::SmallerThan:
        chosen =
            list.rowsMatching([sizeLimit](const DownloadItem& item) { return smallerThan(item, sizeLimit); });
        break;
    }
    if (chosen.isEmpty())
        return 0;

    const bool alwaysUnknownType = rule == RequeueRule::WebPages;
    const auto removeFile = [filesToRemove](const DownloadItem& item) {
        if (!filesToRemove)
            DeleteItemFile(item);
        else if (const QString path = ItemFileToDelete(item); !path.isEmpty())
            filesToRemove->append(path);
    };
    list.editRows(chosen, [alwaysUnknownType, &removeFile](int, DownloadItem& item) {
        // Only the file the row wrote goes (a failed or skipped row owns none, see DeleteItemFile).
        // What lies at the retyped path was never this row's: a finished page row's ".xxx" became its
        // ".htm", so a file there is another row's document or the user's own.
        removeFile(item);
        item.state = DownloadItemState::Waiting;
        const bool retyped = (alwaysUnknownType || isPageType(item.type)) && item.type != u"xxx"_s;
        if (retyped)
            item.type = u"xxx"_s;
        item.size.clear();
        item.received.clear();
        item.progress.clear();
        item.reason.clear();
        return true;
    });

    QList<DownloadListModel::KeyChange> rotated;
    rotated.reserve(chosen.size());
    for (int row : chosen) {
        const QString& key = list.at(row).key;
        const QString next = 对调url(key);
        if (next != key)
            rotated.append({row, next});
    }
    list.changeKeys(rotated);
    return int(chosen.size());
}

std::optional<QString> copyName(const DownloadListModel& list, int currentRow)
{
    if (list.isEmpty() || currentRow < 0 || currentRow >= list.count())
        return std::nullopt;
    return list.at(currentRow).name;
}

QStringList exportNameLines(const DownloadListModel& list, bool unfinishedOnly, bool withReasons)
{
    QStringList lines;
    lines.reserve(list.count());
    for (const DownloadItem& item : list.rows()) {
        if (unfinishedOnly && item.state == DownloadItemState::Done)
            continue;
        lines.append(withReasons ? item.name + u'\t' + reason::asField(item.reason) : item.name);
    }
    return lines;
}

} // namespace lintbay
