#include "CacheListing.h"

#include "tools/UrlCache.h"
#include "tools/UrlCacheDatabase.h"
#include "util/PathHelpers.h"
#include "util/TextHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>

#include <optional>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

std::optional<CacheLocations> g_locationsOverride;

QString nativeClean(const QString& path)
{
    return QDir::toNativeSeparators(QDir::cleanPath(QDir::fromNativeSeparators(path)));
}

bool isPassedOver(const QString& name)
{
    return name.compare(u"pagefile.sys"_s, Qt::CaseInsensitive) == 0 ||
           name.compare(u"RECYCLER"_s, Qt::CaseInsensitive) == 0;
}

// One listing of `folder` is finished before any subfolder is opened, so only one directory
// listing is held at a time whatever the depth.
void walk(const QString& folder, QStringList* folders, QStringList* files, bool recursive)
{
    const QDir dir(folder);
    const QFileInfoList infos = dir.entryInfoList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System | QDir::NoSymLinks, QDir::Name);
    QStringList subfolders;
    for (const QFileInfo& info : infos) {
        if (isPassedOver(info.fileName()))
            continue;
        const QString path = QDir::toNativeSeparators(info.filePath());
        if (info.isDir())
            subfolders.append(path);
        else if (files)
            files->append(path);
    }
    if (folders)
        folders->append(subfolders);
    if (!recursive)
        return;
    for (const QString& sub : std::as_const(subfolders))
        walk(sub, folders, files, true);
}

QString lastSegment(const QString& path)
{
    const QString clean = QDir::cleanPath(QDir::fromNativeSeparators(path));
    return clean.mid(clean.lastIndexOf(u'/') + 1);
}

QString realFolderOf(const QString& filePath)
{
    return QFileInfo(QFileInfo(filePath).absolutePath()).canonicalFilePath();
}

// Between listing and deleting, the owner of a home could put a link where a folder of the cache
// was, leading to files of the user who deletes.
bool stillWhereListed(const CacheRow& row)
{
    return !row.realFolder.isEmpty() && realFolderOf(row.filePath) == row.realFolder;
}

} // namespace

QString UrlFileType(const QString& text)
{
    QString s = text;
    const qsizetype scheme = s.indexOf(u"://"_s);
    if (scheme >= 0) {
        s = s.mid(scheme + 3);
        const qsizetype second = s.indexOf(u"://"_s);
        if (second >= 0)
            s.truncate(second);
    }
    s.replace(u'/', u'\\');
    s = s.mid(s.lastIndexOf(u'\\') + 1);
    static const QChar cuts[] = {u'#', QChar(8), QChar(9), QChar(10), QChar(13), u':', u'*',
                                 u'<', u'>',     u'|',     u'"',      u'\'',     u'=', u'?'};
    for (QChar c : cuts) {
        const qsizetype at = s.indexOf(c);
        if (at >= 0)
            s.truncate(at);
    }
    const qsizetype dot = s.lastIndexOf(u'.');
    if (dot < 0)
        return {};
    const QString type = trimSpaces(QStringView(s).sliced(dot + 1));
    return type.size() >= 7 ? QString() : type;
}

void ListSubfolders(const QString& folder, QStringList& list, bool recursive)
{
    walk(folder, &list, nullptr, recursive);
}

void ListFilesUnder(const QString& folder, QStringList& list, bool recursive)
{
    walk(folder, nullptr, &list, recursive);
}

bool 强制删除(const QString& path)
{
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (info.isDir() && !info.isSymLink())
        return false; // a file path, never a folder
    QFile file(path);
    if (!info.isSymLink()) // a link's permissions are its target's: leave those alone
        file.setPermissions(file.permissions() | QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    file.remove();
    const QFileInfo after(path);
    return !after.exists() && !after.isSymLink();
}

void 删除空文件夹(const QStringList& folders)
{
    for (qsizetype i = folders.size() - 1; i >= 0; --i) {
        const QString& folder = folders[i];
        if (folder.isEmpty())
            continue;
        const QFileInfo info(folder);
        if (info.isDir() && !info.isSymLink())
            QDir().rmdir(folder); // fails, as it should, while the folder holds anything
    }
}

CacheLocations CacheLocations::forHome(const QString& homeFolder, const QString& cacheFolder)
{
    CacheLocations locations;
    const QString home = QDir::cleanPath(QDir::fromNativeSeparators(homeFolder));
    const QString cache = QDir::cleanPath(QDir::fromNativeSeparators(cacheFolder));
    locations.myCacheFolder = QDir::toNativeSeparators(cache);
    locations.myProfile = lastSegment(home);
    const QString prefix = home.endsWith(u'/') ? home : home + u'/';
    if (!home.isEmpty() && cache.startsWith(prefix, Qt::CaseSensitive) && cache.size() > prefix.size()) {
        locations.relativeCachePath = QDir::toNativeSeparators(cache.mid(prefix.size()));
        const QString parent = QFileInfo(home).path();
        locations.homesRoot = QDir::toNativeSeparators(parent);
    }
    return locations;
}

CacheLocations CacheLocations::current()
{
    if (g_locationsOverride)
        return *g_locationsOverride;
    return forHome(QDir::homePath(), UrlCacheFolder());
}

void SetCacheLocations(const CacheLocations& locations)
{
    if (locations.myCacheFolder.isEmpty())
        g_locationsOverride.reset();
    else
        g_locationsOverride = locations;
}

UserCacheFolders ListUserCacheFolders(const CacheLocations& locations)
{
    UserCacheFolders result;
    const QString myFolder = nativeClean(QDir::fromNativeSeparators(locations.myCacheFolder));
    // Another user's cache folder counts only where it really lies in that user's home: a link on
    // the way there (a ~/.cache that is a link) could lead anywhere, such as the viewing user's own
    // settings, which deleting "that user's cache" would then delete. The user's own cache folder
    // lies where the user put it.
    auto addProfile = [&result, &myFolder](const QString& profile, const QString& home,
                                           const QString& folder) {
        const QFileInfo info(folder);
        if (!info.isDir() || info.isSymLink())
            return;
        if (nativeClean(folder) != myFolder) {
            const QString realHome = QFileInfo(home).canonicalFilePath();
            if (realHome.isEmpty() || !info.canonicalFilePath().startsWith(realHome + u'/', kPathCase))
                return;
        }
        result.profiles.append({profile, nativeClean(folder)});
        ListSubfolders(folder, result.subfolders, true);
    };

    if (locations.homesRoot.isEmpty() || locations.relativeCachePath.isEmpty()) {
        addProfile(locations.myProfile, QString(), locations.myCacheFolder);
        return result;
    }
    QStringList homes;
    ListSubfolders(locations.homesRoot, homes, false);
    const QString relative = QDir::fromNativeSeparators(locations.relativeCachePath);
    for (const QString& home : std::as_const(homes)) {
        const QString homePath = QDir::fromNativeSeparators(home);
        addProfile(lastSegment(home), homePath, homePath + u'/' + relative);
    }
    return result;
}

QList<CacheRow> MyCacheRows(const UrlCache& cache, bool* complete)
{
    bool readable = true;
    const QList<UrlCacheEntry> entries = cache.entries(&readable);
    if (complete)
        *complete = readable;
    // Whether each file exists comes from listing the buckets, not from a look-up per entry, which
    // took most of the time for a large cache. Its length is the size stored with it: the cache
    // writes a file once, under a temporary name, and never changes it afterwards.
    const QSet<QString> existing = cache.existingFiles();
    QList<CacheRow> rows;
    rows.reserve(entries.size());
    for (const UrlCacheEntry& entry : entries) {
        CacheRow row;
        row.text = entry.url;
        row.type = UrlFileType(entry.url);
        if (existing.contains(entry.fileName)) {
            row.filePath = cache.filePath(entry);
            row.size = entry.size;
        }
        rows.append(row);
    }
    return rows;
}

QList<CacheRow> ListUserCacheFiles(const QString& folder, const QString& profile)
{
    QStringList files;
    ListFilesUnder(folder, files, true);
    const QString top = nativeClean(QDir::fromNativeSeparators(folder)) + QDir::separator();
    QList<CacheRow> rows;
    rows.reserve(files.size());
    QHash<QString, QString> realFolders; // folder → its real path, asked once per folder
    for (const QString& path : std::as_const(files)) {
        // The index database with its log, a damaged one set aside, the earlier index file.
        if (path.startsWith(top) && path.indexOf(QDir::separator(), top.size()) < 0 &&
            UrlCacheDatabase::isIndexFile(path.sliced(top.size())))
            continue;
        CacheRow row;
        row.text = kUserRowPrefix.toString() + profile;
        row.type = UrlFileType(path);
        row.size = QFileInfo(path).size();
        row.filePath = path;
        const QString folderPath = QFileInfo(path).absolutePath();
        auto real = realFolders.constFind(folderPath);
        if (real == realFolders.cend())
            real = realFolders.insert(folderPath, realFolderOf(path));
        row.realFolder = *real;
        rows.append(row);
    }
    return rows;
}

bool MayDeleteRow(const CacheRow& row)
{
    // A user's file is kept by its name's own type: the type shown is cut at characters that end an
    // address's path ("it's cookie.txt" shows none).
    if (row.isUserRow())
        return !row.filePath.isEmpty() &&
               QFileInfo(row.filePath).suffix().compare(u"txt"_s, Qt::CaseInsensitive) != 0;
    return !row.text.isEmpty() && !IsProtectedCacheUrl(row.text);
}

int DeleteCacheRows(const QList<CacheRow>& rows, UrlCache& cache)
{
    // Which entry of the program's own cache each of its files belongs to, read when first needed. A
    // file of it listed among a user's (the user's own home is one of the homes walked) goes through
    // the index as its own row would: a protected entry's file stays, and no entry is left naming a
    // file that is gone. A row listed before its entry was stored again may name a file that another
    // entry has taken since: that file is not the row's to delete. While the index cannot be read,
    // which of its files are protected is unknown, and none of them is touched.
    std::optional<QHash<QString, QString>> owners; // file path → address
    bool ownersKnown = false;
    const QString ownFolder = nativeClean(cache.folder()) + QDir::separator();
    const auto ownerOf = [&](const QString& path) {
        if (!owners) {
            owners.emplace();
            for (const UrlCacheEntry& entry : cache.entries(&ownersKnown))
                owners->insert(nativeClean(cache.filePath(entry)), entry.url);
        }
        return owners->value(nativeClean(path));
    };
    int deleted = 0;
    for (const CacheRow& row : rows) {
        if (!MayDeleteRow(row))
            continue;
        if (row.isUserRow()) {
            const QString owner = ownerOf(row.filePath);
            if (owner.isEmpty() && !ownersKnown && nativeClean(row.filePath).startsWith(ownFolder, kPathCase))
                continue;
            if (owner.isEmpty() ? stillWhereListed(row) && 强制删除(row.filePath)
                                : !IsProtectedCacheUrl(owner) && cache.remove(owner))
                ++deleted;
            continue;
        }
        const QString owner = row.filePath.isEmpty() ? QString() : ownerOf(row.filePath);
        bool done = cache.remove(row.text);
        if (!row.filePath.isEmpty() && (owner.isEmpty() || owner == row.text))
            done = 强制删除(row.filePath) || done;
        if (done)
            ++deleted;
    }
    return deleted;
}

int ClearAllCaches(const CacheLocations& locations)
{
    UrlCache cache(locations.myCacheFolder);
    int deleted = DeleteCacheRows(MyCacheRows(cache), cache);
    const UserCacheFolders folders = ListUserCacheFolders(locations);
    for (const ProfileCache& profile : folders.profiles)
        deleted += DeleteCacheRows(ListUserCacheFiles(profile.folder, profile.profile), cache);
    删除空文件夹(folders.subfolders);
    return deleted;
}

QString CacheCountText(int count, bool complete)
{
    const QString text = u"共有"_s + QString::number(count) + u" 个文件"_s;
    return complete ? text : u"出错!!!"_s + text;
}

} // namespace lintbay
