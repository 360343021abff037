#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace lintbay {

// Lets the user pick a folder, starting in `startPath` (its folder when it names a file; the home
// folder when it is empty or gone). The result ends with the native separator. Cancelling returns
// `startPath` with the separator appended (empty when `startPath` is empty). With `includeFiles`
// the files of each folder are shown too; only folders can be chosen.
QString BrowseForFolder(QWidget* owner, const QString& startPath, const QString& title,
                        bool includeFiles = false);

// Shows the picker and returns the chosen folder, or an empty text when cancelled. Automated runs
// install one so that no modal dialog waits for a person; an empty function restores the dialog.
using FolderPicker = std::function<QString(QWidget* owner, const QString& startFolder, const QString& title,
                                           bool includeFiles)>;
void SetFolderPicker(FolderPicker picker);

} // namespace lintbay
