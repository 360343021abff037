#pragma once

#include <QString>
#include <QStringList>

namespace lintbay {

// The installation's menu entry, relative to the folder of the installed executable (from the
// install layout the build was configured with). Where it exists the program runs installed.
QString InstalledMarker();

// The folder the program keeps its own files in (the save-folder history) when its executable is
// in `exeFolder`: that folder when it is writable and not an installation (a build or a copied
// folder), else the per-user data folder. Native separators, no trailing separator.
QString ProgramDataFolderFor(const QString& exeFolder);
// ProgramDataFolderFor the running executable's folder, unless replaced.
QString ProgramDataFolder();
// Replaces ProgramDataFolder (automated runs point it at a temporary folder); empty restores it.
void SetProgramDataFolder(const QString& folder);

// "SaveList.dat" in ProgramDataFolder: the save folders chosen before, one per line.
QString FolderHistoryFile();

// At most this many non-empty lines of the history file are read.
inline constexpr int kFolderHistoryMaxLines = 100;

// Reads the history file. A missing file gives `current` unchanged (and `existed` false).
// Otherwise the list is rebuilt from the file: lines trimmed, blank ones skipped, only the first
// kFolderHistoryMaxLines non-empty lines looked at (repeats count), an entry equal to an earlier
// one ignoring case left out. A file that cannot be opened or read gives `current` unchanged.
QStringList LoadFolderHistory(const QString& path, const QStringList& current, bool* existed = nullptr);

// Writes every entry in order, one per line (an empty list writes one empty line), creating the
// folder when needed. The file is replaced only when complete; false when it cannot be written, or
// when it exists but cannot be read (it is then left as it is).
bool SaveFolderHistory(const QString& path, const QStringList& folders);

} // namespace lintbay
