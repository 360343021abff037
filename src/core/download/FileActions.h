#pragma once

#include "download/DownloadListModel.h"
#include "download/ListOperations.h"

#include <QString>
#include <QStringView>

namespace lintbay {

// Texts of the file commands of the download list.
inline constexpr QStringView kOpenOrRetryTip = u"双击鼠标：下载当前项或者打开文件"; // the list's tooltip
inline constexpr QStringView kFileMissingText = u"文件不存在！";       // double-click on a finished row
inline constexpr QStringView kThisFileMissingText = u"该文件不存在！"; // open the file, text editor
inline constexpr QStringView kFolderMissingText = u"文件夹不存在！";
inline constexpr QStringView kOpenFailedText = u"打开失败！"; // no file manager or editor took it
inline constexpr QStringView kTooLargeForEditorText = u"该文件太大，超过了2M，不便于用记事本打开！";
inline constexpr QStringView kFileMissingWord = u"不存在"; // Progress of a row whose file is gone
inline constexpr QStringView kTypesCorrectedPrefix = u"纠正文件类型：";
inline constexpr QStringView kTypesCorrectedSuffix = u"个.";
inline constexpr QStringView kFileTypeIsText = u"文件类型为：";
inline constexpr QStringView kTypeUnknownText = u"目前还无法判断。";
// The file dialog of IdentifyChosenFile: any file, also one without an extension (the very files whose
// type is in question; "*.*" matches only names with a dot here).
inline constexpr QStringView kChooseAnyFileFilter = u"*";

// The largest file handed to the text editor (2 MB; one byte more is refused).
inline constexpr qint64 kMaxTextEditorBytes = 2 * 1024 * 1024;

enum class FileMessageIcon
{
    None,
    Information,
    Error
};

// A message box the window shows, or nothing when the text is empty.
struct FileMessage
{
    QString text;
    FileMessageIcon icon = FileMessageIcon::None;
    bool isEmpty() const { return text.isEmpty(); }
};

// What the window does after a file command decided.
enum class FileActionKind
{
    None,             // nothing (a message may still be shown)
    OpenFile,         // open `path` with its associated program (OpenFile)
    ShowInFolder,     // show `path` selected in the file manager; kOpenFailedText if that fails
    OpenFolder,       // open the folder `path`
    OpenInTextEditor, // open `path` in the user's text editor; kOpenFailedText if none starts
    OpenInWebBrowser, // open `path` (an address or a file) in the user's web browser
    Requeued          // done here already: the row waits again; the window only refreshes
};

struct FileAction
{
    FileActionKind kind = FileActionKind::None;
    QString path;
    FileMessage message;
};

// Double-click on the current row: a finished row's file is opened (or kFileMissingText shown when it
// is gone); a failed row loses its file and waits again with size, received, progress and reason
// empty (key and type stay). Waiting and running rows, and no row (-1), do nothing.
FileAction OpenOrRetry(DownloadListModel& list, int currentRow);

// Status-bar panel 2 after a click on a row: the row's file path when the file exists, else empty.
QString ShowRowPath(const DownloadListModel& list, int row);

// "打开下载文件", "打开所在文件夹", "用记事本打开文件" on the current row (-1: no row, nothing happens).
FileAction OpenDownloadedFile(const DownloadListModel& list, int currentRow);
FileAction OpenContainingFolder(const DownloadListModel& list, int currentRow);
FileAction OpenInTextEditor(const DownloadListModel& list, int currentRow);

// "打开网址": the current row's first address in the web browser (-1: no row, nothing happens).
FileAction OpenRowAddress(const DownloadListModel& list, int currentRow);

// What a check of all rows found. The check itself shows no message.
struct FileCheckResult
{
    int checked = 0; // rows looked at
    int missing = 0; // of those, rows whose file is not there (now marked kFileMissingWord)
};

// "检查文件是否存在": every row, whatever its state, whose file is missing gets Progress "不存在"; rows
// whose file exists keep theirs. Runs at any time. Events run every few milliseconds during the walk
// and the view is told of changes in blocks, not row by row. Rows added during the walk are not
// checked; rows removed during it are skipped.
FileCheckResult CheckFilesExist(DownloadListModel& list);

// Gives the row's file the type its content shows: when the detected type differs from the row's
// (ignoring case), the file is renamed in its folder to name + "." + detected type, or to a free
// variant of that name (a counter) when it is taken, and the row's Type and Name follow. Never
// replaces another file. A missing file, an unknown content, a rename that fails or a row whose name
// would reach outside its folder leave file and row as they were. True when the row was corrected.
// Also run on each row when its transfer ends.
bool CorrectOneRow(DownloadListModel& list, int row);

struct TypeCorrectionResult
{
    FileMessage message; // the refusal, the count message, or nothing (an empty list)
    int corrected = 0;
};

// "检查并纠正磁盘文件类型": refused while downloads are busy (kStopDownloadFirstText); otherwise
// CorrectOneRow on every row in list order and the message "纠正文件类型：<n>个.". Rows that start
// downloading during the walk are left alone. Events run every few milliseconds, as in
// CheckFilesExist.
TypeCorrectionResult CorrectFileTypes(DownloadListModel& list, const DownloadActivity& activity);

// "打开文件判断类型": the message for the file the user chose, or nothing when none was chosen.
FileMessage IdentifyChosenFile(const QString& chosenPath);

} // namespace lintbay
