#pragma once

#include "tools/UrlCacheIndex.h"

#include <QByteArray>
#include <QList>
#include <QSet>
#include <QString>

#include <functional>

class QIODevice;

namespace lintbay {

class UrlCacheDatabase;

// The folder the program's URL cache lives in: InternetCacheFolder() unless replaced.
QString UrlCacheFolder();
// Replaces UrlCacheFolder (automated runs point it at a temporary folder); empty restores it.
void SetUrlCacheFolder(const QString& folder);

// Entries whose address contains "Cookie" (any case) are never removed by the user's deletions or by
// clearing, and the size cap takes them only when nothing else is left: they hold what a site needs to
// recognise the user again.
bool IsProtectedCacheUrl(const QString& url);

// The program's own URL cache: every page and file the network layer fetched, kept as a plain file
// under a bucket subfolder of the cache folder, with an index (address → file, size, time) in an
// SQLite database beside them (UrlCacheDatabase): a store or a removal writes only the rows it
// changes. Objects are cheap; every object on one folder shares the folder's open index. A damaged
// index is set aside and made anew; a locked one, or an earlier index.dat that cannot be read, turns
// the cache off for the run (stores fail, listings are empty and incomplete), never fatal. A missing
// cache file is skipped. When the stored bytes exceed the cap, the oldest entries are removed first.
class UrlCache
{
public:
    static constexpr qint64 kDefaultMaxBytes = qint64(256) * 1024 * 1024;
    // The index database in the cache folder, and the index file of earlier versions (moved into
    // the database at first use); they are the cache's bookkeeping, never cached files.
    static QString indexFileName();
    static QString legacyIndexFileName();

    explicit UrlCache(const QString& folder = UrlCacheFolder(), qint64 maxBytes = kDefaultMaxBytes);

    QString folder() const { return m_folder; }
    QString indexPath() const;
    QString legacyIndexPath() const;
    // Whether the cache is off for this run (its index locked, unwritable or unreadable).
    bool isOff() const;
    qint64 maxBytes() const { return m_maxBytes; }
    void setMaxBytes(qint64 maxBytes) { m_maxBytes = maxBytes; }

    // Keeps `bytes` as the content of `url`, replacing what was kept for it before. False when the
    // address is empty, the content is larger than the cap, or the file or the index cannot be
    // written (the cache is then as it was).
    bool store(const QString& url, const QByteArray& bytes);
    // The same with the rest of a readable device (read to its end).
    bool store(const QString& url, QIODevice* device);
    // The same with a copy of a finished file (the file itself stays where it is).
    bool storeFile(const QString& url, const QString& filePath);

    // The entries in the order they were stored. `readable` is false when the cache is off.
    QList<UrlCacheEntry> entries(bool* readable = nullptr) const;
    // The full path of an entry's file (native separators), whether or not the file exists.
    QString filePath(const UrlCacheEntry& entry) const;
    // The cache's files that exist now ("bucket/name", as entries name them), from one listing per
    // bucket folder: far quicker than a look-up per entry in a large cache. Links are left out.
    QSet<QString> existingFiles() const;
    // The existing file kept for `url`, or an empty text.
    QString localFile(const QString& url) const;
    // The bytes the index counts.
    qint64 totalSize() const;

    // Removes the entry and its file. False for a protected address, an address not in the cache,
    // or an index that cannot be written.
    bool remove(const QString& url);
    // Removes every entry that is not protected, with its file, then every file in the bucket
    // folders that no entry refers to (left behind by an interrupted run) and the emptied bucket
    // folders. Returns the number of entries removed.
    int clear();

private:
    // Writes the content under a new name and records it. `write` fills the open file and returns
    // the number of bytes written, or -1 when the content cannot be had or is over the cap.
    bool storeWith(const QString& url, qint64 knownSize, const std::function<qint64(QIODevice&)>& write);
    QString newFileName(const QString& url, const QString& bucket, UrlCacheDatabase& index) const;
    void removeFile(const QString& fileName) const;

    QString m_folder;
    qint64 m_maxBytes;
};

} // namespace lintbay
