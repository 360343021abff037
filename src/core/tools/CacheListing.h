#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QStringView>

namespace lintbay {

class UrlCache;

// The first text of a row found on disk in a profile's cache folder, followed by the profile name.
inline constexpr QStringView kUserRowPrefix = u"用户:";
// What the cache list shows (the viewer's Tag): the user's own cache, or every profile's folder.
inline constexpr QStringView kMyCacheMode = u"我的缓存";
inline constexpr QStringView kAllCachesMode = u"所有缓存";

// One row of the cache list.
struct CacheRow
{
    QString text;     // the cached address, or kUserRowPrefix + profile name
    QString type;     // UrlFileType of the address or of the file path
    qint64 size = -1; // the local file's length; -1 when there is no local file
    QString filePath; // the local file (native separators), or empty
    // A user's file: the real path of its folder when listed. The file is deleted only while its
    // folder still is that one, and not what a link put in its place since leads to.
    QString realFolder;

    bool isUserRow() const { return text.startsWith(kUserRowPrefix); }
};

// The short type of an address or path: the text after the last "." of its last segment, with
// anything from "#", control characters, ":", "*", "<", ">", "|", quotes, "=" or "?" on cut off.
// Empty without a "." or when the type has seven or more characters.
QString UrlFileType(const QString& text);

// Append the subfolders / files of `folder` (full native paths, listing order) to `list`; with
// `recursive` every subfolder is then searched in turn, after the folder's own listing is done.
// Hidden and system entries count; "pagefile.sys" and "RECYCLER" are passed over, and so are
// symbolic links, so a walk never leaves the folder it was given. An unreadable folder adds nothing.
void ListSubfolders(const QString& folder, QStringList& list, bool recursive);
void ListFilesUnder(const QString& folder, QStringList& list, bool recursive);

// Deletes a file even when it is read-only. True when it is gone afterwards; never fails loudly.
bool 强制删除(const QString& path);
// Removes each listed folder that is empty, from the last entry to the first, so deeper folders go
// before their parents; folders that still hold something stay.
void 删除空文件夹(const QStringList& folders);

// Where the caches lie: the user's own cache folder, and the folder that holds every user's home
// folder together with the cache folder's path inside a home. Each profile's cache is the same
// relative path under its home. Without a relative path (the cache is not inside the home folder)
// only the user's own cache folder is known.
struct CacheLocations
{
    QString myCacheFolder;
    QString homesRoot;
    QString relativeCachePath;
    QString myProfile; // the name of the user's own home folder

    // From the home folder and the cache folder of this user.
    static CacheLocations forHome(const QString& homeFolder, const QString& cacheFolder);
    // The replacement set by SetCacheLocations, else this user's home and UrlCacheFolder().
    static CacheLocations current();
};
// Automated runs point the viewer at temporary folders; an empty myCacheFolder restores the system's.
void SetCacheLocations(const CacheLocations& locations);

struct ProfileCache
{
    QString profile; // the profile (home) folder's last segment
    QString folder;  // its cache folder, native separators
};
struct UserCacheFolders
{
    QList<ProfileCache> profiles;
    QStringList subfolders; // every subfolder, at any depth, of every listed cache folder
};
// Every existing profile cache folder under the homes root, with all their subfolders.
UserCacheFolders ListUserCacheFolders(const CacheLocations& locations);

// The user's own cache: one row per index entry, in index order; size and path only where the file
// exists. `complete` is false when the index exists but could not be read.
QList<CacheRow> MyCacheRows(const UrlCache& cache, bool* complete = nullptr);
// One row per file under a profile's cache folder (any depth). The cache index is the cache's
// bookkeeping, not a cached file, and is left out.
QList<CacheRow> ListUserCacheFiles(const QString& folder, const QString& profile);

// Whether a row may be deleted: a profile row when it has a file that is not a ".txt" file (those
// hold the profile's cookies); a row of the user's own cache when its address is not empty and
// does not contain "Cookie".
bool MayDeleteRow(const CacheRow& row);
// Deletes the rows that may be deleted, in order: a profile row's file, or a cache entry with its
// file. Returns the number of rows deleted.
int DeleteCacheRows(const QList<CacheRow>& rows, UrlCache& cache);

// Empties the user's cache and every profile's cache folder by the same rules as the viewer's
// "全部删除" in both views, then removes the emptied folders. Returns the rows deleted.
int ClearAllCaches(const CacheLocations& locations = CacheLocations::current());

// "共有" + count + " 个文件", or with "出错!!!" before it when the listing stopped on an error.
QString CacheCountText(int count, bool complete = true);

} // namespace lintbay
