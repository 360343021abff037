#pragma once

#include "download/DownloadListModel.h"

#include <QList>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <optional>

namespace lintbay {

class RowFiles;

// Texts the download window shows for the list commands.
inline constexpr QStringView kStopDownloadFirstText = u"停止下载以后，才能执行此操作！"; // information icon
inline constexpr QStringView kStopBeforeSortText = u"停止下载后方可排序！";              // information icon
inline constexpr QStringView kStopBeforeCancelText = u"停止下载后方可设置！";            // error icon
inline constexpr QStringView kShuffleDoneText = u"随机排序完成！";
inline constexpr QStringView kClearListQuestion = u"您确定要清空列表的所有信息吗？"; // Yes/No, no icon
inline constexpr QStringView kSizeRulePrompt = u"请输入数字：";
inline constexpr QStringView kExportFilter = u"*.txt";

// What is running, as the window knows it. Each list command is refused under one of these.
struct DownloadActivity
{
    bool downloadBusy = false; // IsDownloadBusy: a slot or the single transfer runs, or the scheduler is on
    bool downloading = false;  // IsDownloading: the scheduler is on, or the busy flag is set
    bool busyFlag = false;     // the scheduler's busy flag alone
};

enum class ListOperation
{
    Sort,           // refused while downloading
    Shuffle,        // refused while downloadBusy
    RemoveSelected, // refused while downloadBusy
    RemoveFailed,   // refused while downloadBusy
    RemoveDone,     // refused while downloadBusy
    ClearAll,       // refused while downloadBusy (check before asking kClearListQuestion)
    CancelSelected, // refused while busyFlag
    DeleteFiles,    // never refused: it only takes finished or failed rows
    Requeue,        // never refused: it only takes finished or failed rows
    CopyName,
    ExportNames
};

// The message refusing the operation now, or an empty view when it may run.
QStringView refusalText(ListOperation operation, const DownloadActivity& activity);

// What a command did: refused with a message (and nothing changed), or the number of rows it touched.
struct ListOpResult
{
    QStringView refusal;
    int rows = 0;
    bool refused() const { return !refusal.isEmpty(); }
};

// Header click: sorts by the column in the order opposite to the last one (one order shared by all
// columns; the first click sorts descending).
ListOpResult SortByColumn(DownloadListModel& list, int column, const DownloadActivity& activity);
// A uniformly random order of all rows; states and data stay. The window then shows kShuffleDoneText.
ListOpResult ShuffleList(DownloadListModel& list, const DownloadActivity& activity,
                         QRandomGenerator& generator = *QRandomGenerator::global());

// "清除". Only rows go; files stay on disk. clearList runs after the window's question was answered Yes.
ListOpResult removeSelectedRows(DownloadListModel& list, const QList<int>& selectedRows,
                                const DownloadActivity& activity);
ListOpResult removeFailedRows(DownloadListModel& list, const DownloadActivity& activity);
ListOpResult removeDoneRows(DownloadListModel& list, const DownloadActivity& activity);
ListOpResult clearList(DownloadListModel& list, const DownloadActivity& activity);

// "取消下载选中项": selected waiting rows become failed, with the reason that they were cancelled; rows
// in other states are not touched.
ListOpResult cancelSelectedRows(DownloadListModel& list, const QList<int>& selectedRows,
                                const DownloadActivity& activity);

// Types of pages that arrived instead of documents.
bool isPageType(const QString& type);      // htm, html (any case)
bool isPageOrXmlType(const QString& type); // htm, html, xml (any case)

// Deletes the row's own file, DownloadItem::filePath(), when it is a file there; never a folder, and
// nothing when the folder is not absolute or the name would reach outside the folder, or when the
// row owns no file at its path (ownsFileAtPath; a transfer that does not end well leaves its bytes in
// a hidden part file). True when a file was deleted. Failures are silent.
bool DeleteItemFile(const DownloadItem& item);
// False for a row whose path holds no file of its own: a failed row, one that ended skipped, one
// whose file was found missing ("不存在"), and a finished one whose file was deleted here (its cells
// emptied). What lies at such a path is the user's or another row's.
bool ownsFileAtPath(const DownloadItem& item);
// The path DeleteItemFile would remove, or empty when it would remove nothing whatever is there.
QString ItemFileToDelete(const DownloadItem& item);
// Removes a file DeleteItemFile-style (a link as a link, never a folder). True when one was removed.
bool RemoveRowFile(const QString& path);

// "删除文件": empties size, received and progress of the chosen rows and deletes their files (a failed
// row has none at its path, see DeleteItemFile, but may have a body kept in `files`, which goes); the
// rows stay with their states. Web-page rows are finished or failed rows of type htm, html or xml.
// Both return the number of rows chosen.
int deletePageFiles(DownloadListModel& list, RowFiles* files = nullptr);
int deleteFailedFiles(DownloadListModel& list, RowFiles* files = nullptr);

enum class RequeueRule
{
    Selected,          // selected finished or failed rows
    Failed,            // failed rows
    WebPages,          // finished or failed rows of type htm, html or xml; their type becomes "xxx"
    FailedAndWebPages, // failed rows, and finished rows of type htm or html
    SmallerThan        // finished or failed rows whose size equals received and is below a number
};

// The number the size rule's answer gives, or nothing when the answer is not a number.
std::optional<double> parseSizeAnswer(const QString& answer);

// "重新下载": every row the rule chooses loses its file (a failed row has none), waits again with size, received, progress and
// reason empty, gets type "xxx" when it held a web page (so the type is found anew) and its addresses rotated
// (对调url) so that a retry asks another one. A rotated key that another row holds is not taken
// (keys stay unique). Runs at any time. Returns the number of rows queued again. With `filesToRemove`
// the rows' files are not deleted here but listed there (ItemFileToDelete), for the caller to remove
// before any of these rows starts again.
int RequeueRows(DownloadListModel& list, RequeueRule rule, const QList<int>& selectedRows = {},
                double sizeLimit = 0, QStringList* filesToRemove = nullptr);

// The name "复制名称" puts on the clipboard, or nothing when there is no current row.
std::optional<QString> copyName(const DownloadListModel& list, int currentRow);

// "导出名称": one name per row in list order (all rows, or those not finished), for writeTextFile;
// with the reasons (when the window shows them), each name is followed by a tab and the row's reason.
QStringList exportNameLines(const DownloadListModel& list, bool unfinishedOnly, bool withReasons = false);

} // namespace lintbay
