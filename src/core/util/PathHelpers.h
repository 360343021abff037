#pragma once

#include <QString>
#include <QStringView>

#include <filesystem>
#include <system_error>

namespace lintbay {

// Shown by the GUI when CreateFolderPath reports a folder name it cannot use.
inline constexpr QStringView kFolderNameErrorText = u"文件夹名称有误！不能创建文件夹！";

// How the file system compares names: ignoring case on Windows, exactly elsewhere.
#ifdef Q_OS_WIN
inline constexpr Qt::CaseSensitivity kPathCase = Qt::CaseInsensitive;
#else
inline constexpr Qt::CaseSensitivity kPathCase = Qt::CaseSensitive;
#endif

// A file name may take this many bytes in the file system's encoding.
inline constexpr int kMaxFileNameBytes = 255;
// What SanitizeFileName leaves room for after the name: a "[0001]" counter and a ".xxxxx" type.
inline constexpr int kNameSuffixReserveBytes = 12;

// Length of a file name as the file system counts it (UTF-8 bytes; UTF-16 units on Windows).
int fileNameLength(QStringView name);
// The longest start of `name` whose fileNameLength is at most `maxLength`, cut at whole characters.
QString cutFileName(QStringView name, int maxLength);

// True when the path names an existing file (not a folder). Accepts "file:" URLs. Never fails.
bool FileExists(const QString& path);

// True when the path names an existing folder. Never fails.
bool FolderExists(const QString& path);

// Creates every missing folder of `path`, each name cleaned by SanitizeFileName, and returns the
// folder path as built (without a trailing separator), or an empty text when it does not exist in
// the end. `nameError` is set when a folder name is unusable (the GUI then shows
// kFolderNameErrorText); the part built before it is still returned.
QString CreateFolderPath(const QString& path, bool* nameError = nullptr);
// Whether CreateFolderPath would find an unusable folder name in `path`; creates nothing.
bool HasUnusableFolderName(const QString& path);

// Turns any text into a file name legal on Windows and here: forbidden and control characters
// removed, leading and trailing dots removed, a device's name ("con", "lpt1", ...) given a "_",
// at most 200 GBK bytes, and short enough for a counter and a type to be added. May be empty.
QString SanitizeFileName(const QString& text);
// The same for what follows the name's dot, where a device's name does no harm.
QString SanitizeFileType(const QString& type);

// `fullPath` when nothing exists there; otherwise folder + base + "[nnnn]" + "." + type with the
// first free counter (an old counter on the base is replaced).
QString UniqueFileName(const QString& fullPath);

// The type of a path's file name (text after the last ".", when shorter than 7 characters) and, in
// `base`, the name without it. Both trimmed.
QString SplitFileName(const QString& path, QString* base = nullptr);

// The folder of a path (up to and including the last separator, or empty), with the type and base
// name as SplitFileName gives them; an empty base becomes the whole name with no type.
QString SplitPath(const QString& path, QString* extension = nullptr, QString* base = nullptr);

// The number of a final "[n]" of a base name, with `stripped` the base before the "["; an empty
// result and the base unchanged when it has none (or only the counter).
QString SplitCounterSuffix(const QString& base, QString* stripped = nullptr);

// The user's cache folder of the program (the URL cache lives there).
QString InternetCacheFolder();

// The path as the standard library's file system calls take it.
std::filesystem::path toFsPath(const QString& path);

// Moves `from` to `to` unless something stands at `to` (then EEXIST), in one step where the system
// can: no file that comes at the last moment is replaced.
std::error_code renameWithoutReplacing(const QString& from, const QString& to);

} // namespace lintbay
