#include "BrowserProfile.h"

#include <QStandardPaths>
#include <QWebEngineProfile>

using namespace Qt::StringLiterals;

namespace lintbay {

QWebEngineProfile* CreateBrowserProfile(QObject* parent, const QString& storageFolder)
{
    if (storageFolder.isEmpty())
        return new QWebEngineProfile(parent); // off the record
    auto* profile = new QWebEngineProfile(u"Lintbay"_s, parent);
    profile->setPersistentStoragePath(storageFolder + u"/storage"_s);
    profile->setCachePath(storageFolder + u"/cache"_s);
    profile->setPersistentCookiesPolicy(QWebEngineProfile::AllowPersistentCookies);
    return profile;
}

QString DefaultBrowserStorageFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) + u"/browser"_s;
}

} // namespace lintbay
