#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace lintbay {

// What a copy does when a file of the same name is already in the target folder (the copy
// dialog's option buttons 1 to 5, in that order).
enum class SameNameRule
{
    Skip = 1,                       // "跳过"
    Overwrite = 2,                  // "覆盖"
    Rename = 3,                     // "自动重命名"
    OverwriteIfSameSizeAndTime = 4, // equal length and last-modified time: overwrite, else rename
    OverwriteIfSameSize = 5,        // equal length: overwrite, else rename
};
inline constexpr SameNameRule kDefaultSameNameRule = SameNameRule::OverwriteIfSameSizeAndTime;
// The rule of an option index; anything outside 1..5 gives the default.
SameNameRule SameNameRuleFromIndex(int index);

// Called while a large file is being copied, so that the caller can keep its window alive.
using CopyWorking = std::function<void()>;

// Copies `source` to `target` through a temporary file in the target's folder, which is renamed
// into place only when complete; the copy keeps the source's last-modified time and permissions.
// Never replaces anything: false when `target` exists (even if it appeared during the copy).
bool CopyFileNoReplace(const QString& source, const QString& target, const CopyWorking& working = {});
// The same, but an existing file at `target` is replaced in one step; if the copy fails, the old
// file stays untouched.
bool CopyFileReplace(const QString& source, const QString& target, const CopyWorking& working = {});

// Copies the source into `targetFolder` under the first free name: its own name without a final
// bracketed counter ("report[007].pdf" is tried as "report.pdf" first), then with "[001]",
// "[002]", ... (at least three digits) before the type. False when the source does not exist or
// cannot be copied; `written` receives the path copied to.
bool 复制相同文件自动重命名(const QString& source, const QString& targetFolder, QString* written = nullptr,
                            const CopyWorking& working = {});

// Whether two paths name the same folder on disk (links and "." resolved; case ignored only where
// the file system ignores it).
bool IsSameFolder(const QString& a, const QString& b);

enum class CopyOutcome
{
    Copied,            // no file of that name was there
    Overwritten,       // replaced the file of the same name
    Renamed,           // copied under a new name
    SkippedExisting,   // the rule kept the file that was there
    SkippedSameFolder, // the source already lies in the target folder
    Missing,           // the source is gone
    Failed             // could not be copied; nothing in the target folder changed
};
struct CopyResult
{
    CopyOutcome outcome = CopyOutcome::Failed;
    QString target; // the file written, when one was
};

// The file name a source is copied under: base & "." & type (no dot without a type).
QString CopyTargetName(const QString& source);
// Copies one file into `targetFolder` following `rule`.
CopyResult CopyWithRule(const QString& source, const QString& targetFolder, SameNameRule rule,
                        const CopyWorking& working = {});

// The files that still exist, in order.
QStringList DropMissingFiles(const QStringList& files);

struct CopyRunCallbacks
{
    std::function<bool()> running;                                    // false: stop before the next file
    std::function<void(int number, const QString& name)> fileStarted; // 1-based, before each file
    CopyWorking working;                                              // during a long copy
};
struct CopyRunSummary
{
    int copied = 0;       // Copied, Overwritten or Renamed
    int skipped = 0;      // SkippedExisting or SkippedSameFolder
    int failed = 0;       // Missing or Failed
    bool stopped = false; // the run ended before its last file
};
// Copies every file into `targetFolder` in order with `rule`, checking `running` before each file.
// A file that cannot be copied is passed over.
CopyRunSummary CopyFilesTo(const QStringList& files, const QString& targetFolder, SameNameRule rule,
                           const CopyRunCallbacks& callbacks = {});

} // namespace lintbay
