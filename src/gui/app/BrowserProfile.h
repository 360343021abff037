#pragma once

#include <QString>

class QObject;
class QWebEngineProfile;

namespace lintbay {

// The one browser profile of the program: the search window's browser and the login panel share it,
// so a login in one serves the other and, through the cookie mirror, the downloads. With an empty
// storage folder the profile keeps everything in memory (tests).
QWebEngineProfile* CreateBrowserProfile(QObject* parent, const QString& storageFolder);

// Where the program's own profile keeps cookies and cache.
QString DefaultBrowserStorageFolder();

} // namespace lintbay
