#pragma once

#include <QString>

class QWidget;

namespace lintbay {

// Opens the file with the program the desktop associates with it. A missing file is reported to
// the user ("文件不存在！") and gives false; so does a desktop that cannot open it. A file the desktop
// would run (a program, an installer, a launcher, a Java archive: a server chose what it is) is not
// opened: the user is told, and its folder is shown instead.
bool OpenFile(const QString& path, QWidget* owner = nullptr);

// Shows the file selected in the desktop's file manager, or, where the file manager offers no
// such request, opens the folder that holds it. False when the file does not exist or nothing
// could be opened; the caller reports that in its own words.
bool ShowInFolder(const QString& path);

// Opens the file in the user's desktop text editor (the application the desktop associates with
// plain text, else a common one found on the path), whatever the file's own type; false when none
// could be started.
bool OpenWithTextEditor(const QString& path);

// Opens a web address (http, https, ftp) or an existing file in the user's web browser (the one
// $BROWSER names, else the desktop's handler of web addresses); false for anything else and when no
// browser could be started.
bool OpenInWebBrowser(const QString& text);

} // namespace lintbay
