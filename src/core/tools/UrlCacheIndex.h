#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringView>

namespace lintbay {

// One cached address: its file (relative to the cache folder, "/"-separated), the size stored and
// when it was stored (UTC).
struct UrlCacheEntry
{
    QString url;
    QString fileName;
    qint64 size = 0;
    QDateTime stored;
};

// The index file of earlier versions of the URL cache ("index.dat"), read once to move it into the
// database: a header line, then one line per entry with the file name, the size, the time stored
// (milliseconds since the epoch, UTC) and the address, separated by tabs. Also the rules on the
// cache's file names, which hold for the database's rows too.
namespace urlcacheindex {

// A bucket folder's name: two lower-case hexadecimal digits.
bool isBucketName(QStringView name);

// Only "bucket/name" is a cache file name, so that a damaged or tampered index can never point
// outside the cache folder or at the index itself.
bool isCacheFileName(const QString& name);
// Whether the database gives `text` back as it was stored: it reads a lone surrogate and the
// noncharacters U+FFFE and U+FFFF back as U+FFFD, which could make two addresses one.
bool keepsInDatabase(QStringView text);

// Reads the entries at `path` in file order. Damaged lines are left out; of two lines for one
// address the later one counts, and a file claimed twice belongs to the first claim only, so that
// removing one entry never takes another entry's file. A missing file gives no entries; false only
// when the file exists but cannot be read (`entries` is then empty).
bool read(const QString& path, QList<UrlCacheEntry>& entries);

// Writes the entries whole under a temporary name that replaces `path` when complete (the folder
// must exist). False when the file cannot be written; the old index is then as it was.
bool write(const QString& path, const QList<UrlCacheEntry>& entries);

} // namespace urlcacheindex

} // namespace lintbay
