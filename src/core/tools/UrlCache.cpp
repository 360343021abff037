#include "UrlCache.h"

#include "tools/UrlCacheDatabase.h"
#include "util/PathHelpers.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QRandomGenerator>
#include <QSet>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QVariant>

#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

QString g_folderOverride;

constexpr qint64 kMaxTotal = std::numeric_limits<qint64>::max();

constexpr qint64 kCopyChunk = 256 * 1024;

// Deletes a file however its permissions are set; failures leave it where it is. A link goes as a
// link: its permissions are its target's, which may lie anywhere, and are left alone.
void deleteFile(const QString& path)
{
    const QFileInfo info(path);
    if (info.isSymLink()) {
        QFile::remove(path);
        return;
    }
    if (!info.exists())
        return;
    QFile file(path);
    file.setPermissions(file.permissions() | QFileDevice::WriteOwner | QFileDevice::ReadOwner);
    file.remove();
}

// A bucket folder the cache may write in or delete from: a link in its place leads out of the cache
// folder, so nothing goes through it.
bool isLinkedBucket(const QString& folder, const QString& fileName)
{
    const qsizetype slash = fileName.indexOf(u'/');
    return slash > 0 && QFileInfo(folder + u'/' + fileName.left(slash)).isSymLink();
}

// Sizes come from the index file, which may be damaged: a sum of them stops at the largest value
// instead of overflowing. (They are never negative: such lines are left out when the index is read.)
qint64 addSize(qint64 total, qint64 size)
{
    qint64 sum = 0;
    return qAddOverflow(total, size, &sum) ? std::numeric_limits<qint64>::max() : sum;
}

QString lastUrlSegment(const QString& url)
{
    const QUrl parsed(url);
    QString path = parsed.isValid() ? parsed.path() : url;
    if (!parsed.isValid()) {
        for (QChar stop : {u'?', u'#'}) {
            const qsizetype at = path.indexOf(stop);
            if (at >= 0)
                path.truncate(at);
        }
    }
    return path.mid(path.lastIndexOf(u'/') + 1);
}

} // namespace

QString UrlCacheFolder()
{
    return g_folderOverride.isEmpty() ? InternetCacheFolder() : g_folderOverride;
}

void SetUrlCacheFolder(const QString& folder)
{
    g_folderOverride = folder;
}

bool IsProtectedCacheUrl(const QString& url)
{
    return url.contains(u"cookie"_s, Qt::CaseInsensitive);
}

QString UrlCache::indexFileName()
{
    return UrlCacheDatabase::fileName();
}

QString UrlCache::legacyIndexFileName()
{
    return UrlCacheDatabase::legacyFileName();
}

UrlCache::UrlCache(const QString& folder, qint64 maxBytes)
    : m_folder(QDir::cleanPath(QDir::fromNativeSeparators(folder))), m_maxBytes(maxBytes)
{
}

QString UrlCache::indexPath() const
{
    return QDir::toNativeSeparators(m_folder + u'/' + indexFileName());
}

QString UrlCache::legacyIndexPath() const
{
    return QDir::toNativeSeparators(m_folder + u'/' + legacyIndexFileName());
}

bool UrlCache::isOff() const
{
    bool off = false;
    UrlCacheDatabase::open(m_folder, UrlCacheDatabase::Access::Read, &off);
    return off;
}

QString UrlCache::newFileName(const QString& url, const QString& bucket, UrlCacheDatabase& index) const
{
    QString name = SanitizeFileName(lastUrlSegment(url));
    if (name.isEmpty())
        name = u"index"_s;
    QString base;
    const QString type = SplitFileName(name, &base);
    if (base.isEmpty())
        base = name;
    const QString typeTail = type.isEmpty() ? QString() : u'.' + type;

    QSqlQuery taken(index.db());
    taken.prepare(u"SELECT 1 FROM entries WHERE file = ?"_s);
    // An entry whose file went missing still owns its name.
    const auto isFree = [&](const QString& candidate) {
        const QString path = m_folder + u'/' + candidate;
        if (QFileInfo::exists(path) || QFileInfo(path).isSymLink())
            return false;
        taken.addBindValue(candidate);
        if (!taken.exec())
            return false;
        const bool used = taken.next();
        taken.finish();
        return !used;
    };
    QString candidate = bucket + u'/' + name;
    for (int n = 1; !isFree(candidate) && n < 100000; ++n)
        candidate = bucket + u'/' + base + u'[' + QString::number(n) + u']' + typeTail;
    return candidate;
}

void UrlCache::removeFile(const QString& fileName) const
{
    // A name from the database is only trusted as a file of a bucket: a damaged or rewritten index
    // must not lead a replacement or an eviction out of the cache folder.
    if (!urlcacheindex::isCacheFileName(fileName) || isLinkedBucket(m_folder, fileName))
        return;
    deleteFile(m_folder + u'/' + fileName);
    const qsizetype slash = fileName.indexOf(u'/');
    if (slash > 0)
        QDir(m_folder).rmdir(fileName.left(slash)); // only when it is empty
}

bool UrlCache::storeWith(const QString& url, qint64 knownSize, const std::function<qint64(QIODevice&)>& write)
{
    if (url.trimmed().isEmpty() || knownSize > m_maxBytes || !urlcacheindex::keepsInDatabase(url))
        return false;
    UrlCacheDatabase* index = UrlCacheDatabase::open(m_folder, UrlCacheDatabase::Access::Write);
    if (!index)
        return false;

    const QString bucket =
        QString::fromLatin1(QCryptographicHash::hash(url.toUtf8(), QCryptographicHash::Sha1).toHex().left(2));
    const QString bucketPath = m_folder + u'/' + bucket;
    if (QFileInfo(bucketPath).isSymLink() || !QDir().mkpath(bucketPath))
        return false;
    // The content goes under a temporary name and gets its own only once it is whole. A cache file
    // is not worth a sync to disk: one lost to a power cut is a missing file, which is skipped.
    QString temporary;
    QFile file;
    for (int attempt = 0; attempt < 8 && !file.isOpen(); ++attempt) {
        temporary =
            bucketPath + u"/.store-"_s + QString::number(QRandomGenerator::global()->generate64(), 36);
        file.setFileName(temporary);
        file.open(QIODevice::WriteOnly | QIODevice::NewOnly);
    }
    const auto giveUp = [&] {
        if (file.isOpen())
            file.close();
        QFile::remove(temporary);
        QDir(m_folder).rmdir(bucket);
        return false;
    };
    if (!file.isOpen())
        return giveUp();
    const qint64 size = write(file);
    file.close();
    if (size < 0 || size > m_maxBytes || file.error() != QFileDevice::NoError)
        return giveUp();

    UrlCacheTransaction transaction(*index);
    if (!transaction.isOpen())
        return giveUp();
    QSqlQuery query(index->db());
    const auto failed = [&] {
        index->failed(query.lastError());
        return giveUp();
    };
    QStringList dropped;
    qint64 total = index->total();
    query.prepare(u"SELECT file, size FROM entries WHERE url = ?"_s);
    query.addBindValue(url);
    if (!query.exec())
        return failed();
    if (query.next()) {
        dropped.append(query.value(0).toString());
        total = total == kMaxTotal ? total : total - std::max<qint64>(0, query.value(1).toLongLong());
        query.finish();
        query.prepare(u"DELETE FROM entries WHERE url = ?"_s);
        query.addBindValue(url);
        if (!query.exec())
            return failed();
    }
    query.finish();

    const QString name = newFileName(url, bucket, *index);
    const QString path = m_folder + u'/' + name;
    if (!QFile::rename(temporary, path))
        return giveUp();
    temporary = path; // from here on, giving up removes it under its new name
    query.prepare(u"INSERT INTO entries (url, file, size, stored, protected) VALUES (?, ?, ?, ?, ?)"_s);
    query.addBindValue(url);
    query.addBindValue(name);
    query.addBindValue(size);
    query.addBindValue(QDateTime::currentMSecsSinceEpoch());
    query.addBindValue(IsProtectedCacheUrl(url) ? 1 : 0);
    if (!query.exec())
        return failed();
    const qint64 newSeq = query.lastInsertId().toLongLong();
    total = addSize(total, size);
    if (total == kMaxTotal)
        total = index->sumOfSizes();

    // Oldest first, protected entries only when nothing else is left (they would otherwise grow past
    // any cap); the new entry itself is never evicted (it fits the cap on its own). A sum that
    // reached the largest value cannot have sizes taken off: it is summed afresh after each one.
    while (total > m_maxBytes) {
        const bool saturated = total == kMaxTotal;
        query.prepare(u"SELECT seq, file, size FROM entries WHERE seq <> ? "
                      "ORDER BY protected, stored, seq LIMIT ?"_s);
        query.addBindValue(newSeq);
        query.addBindValue(saturated ? 1 : 32);
        if (!query.exec())
            return failed();
        QList<qint64> evicted;
        while (query.next() && total > m_maxBytes) {
            evicted.append(query.value(0).toLongLong());
            dropped.append(query.value(1).toString());
            if (!saturated)
                total -= std::max<qint64>(0, query.value(2).toLongLong());
        }
        query.finish();
        if (evicted.isEmpty())
            break; // only the new entry is left
        query.prepare(u"DELETE FROM entries WHERE seq = ?"_s);
        for (const qint64 seq : std::as_const(evicted)) {
            query.addBindValue(seq);
            if (!query.exec())
                return failed();
        }
        if (saturated)
            total = index->sumOfSizes();
    }

    if (!index->setTotal(total) || !transaction.commit())
        return giveUp();
    // The replaced entry's name may have been taken again when its file had gone: that is the new one.
    for (const QString& old : std::as_const(dropped)) {
        if (old != name)
            removeFile(old);
    }
    return true;
}

bool UrlCache::store(const QString& url, const QByteArray& bytes)
{
    return storeWith(url, bytes.size(), [&bytes](QIODevice& out) -> qint64 {
        return out.write(bytes) == bytes.size() ? bytes.size() : -1;
    });
}

bool UrlCache::store(const QString& url, QIODevice* device)
{
    if (!device || !device->isReadable())
        return false;
    const qint64 cap = m_maxBytes;
    return storeWith(url, -1, [device, cap](QIODevice& out) -> qint64 {
        qint64 total = 0;
        while (true) {
            const QByteArray chunk = device->read(kCopyChunk);
            if (chunk.isEmpty())
                break;
            total += chunk.size();
            if (total > cap || out.write(chunk) != chunk.size())
                return -1;
        }
        return total;
    });
}

bool UrlCache::storeFile(const QString& url, const QString& filePath)
{
    QFile source(filePath);
    if (!QFileInfo(filePath).isFile() || !source.open(QIODevice::ReadOnly))
        return false;
    return storeWith(url, source.size(), [&source](QIODevice& out) -> qint64 {
        qint64 total = 0;
        while (!source.atEnd()) {
            const QByteArray chunk = source.read(kCopyChunk);
            if (chunk.isEmpty())
                return -1; // a read error
            total += chunk.size();
            if (out.write(chunk) != chunk.size())
                return -1;
        }
        return total;
    });
}

QList<UrlCacheEntry> UrlCache::entries(bool* readable) const
{
    QList<UrlCacheEntry> entries;
    bool off = false;
    UrlCacheDatabase* index = UrlCacheDatabase::open(m_folder, UrlCacheDatabase::Access::Read, &off);
    bool ok = !off;
    if (index) {
        QSqlQuery query(index->db());
        query.setForwardOnly(true);
        ok = query.exec(u"SELECT url, file, size, stored FROM entries ORDER BY seq"_s);
        while (ok && query.next()) {
            UrlCacheEntry entry;
            entry.url = query.value(0).toString();
            entry.fileName = query.value(1).toString();
            entry.size = query.value(2).toLongLong();
            entry.stored = QDateTime::fromMSecsSinceEpoch(query.value(3).toLongLong(), Qt::UTC);
            // Rows written by another program are held to the same rules as the old index file's.
            if (urlcacheindex::isCacheFileName(entry.fileName) && entry.size >= 0 && !entry.url.isEmpty())
                entries.append(entry);
        }
        if (ok && query.lastError().type() != QSqlError::NoError)
            ok = false;
        if (!ok)
            index->failed(query.lastError());
    }
    if (readable)
        *readable = ok;
    return entries;
}

QString UrlCache::filePath(const UrlCacheEntry& entry) const
{
    return QDir::toNativeSeparators(m_folder + u'/' + entry.fileName);
}

QSet<QString> UrlCache::existingFiles() const
{
    QSet<QString> files;
    const QDir root(m_folder);
    const QStringList buckets =
        root.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks, QDir::NoSort);
    for (const QString& bucket : buckets) {
        if (!urlcacheindex::isBucketName(bucket))
            continue;
        // The kind of each entry comes with the listing: no file is looked up on its own.
        const QStringList names =
            QDir(root.filePath(bucket))
                .entryList(QDir::Files | QDir::Hidden | QDir::System | QDir::NoSymLinks, QDir::NoSort);
        for (const QString& name : names)
            files.insert(bucket + u'/' + name);
    }
    return files;
}

QString UrlCache::localFile(const QString& url) const
{
    UrlCacheDatabase* index = UrlCacheDatabase::open(m_folder, UrlCacheDatabase::Access::Read);
    if (!index)
        return {};
    QSqlQuery query(index->db());
    query.prepare(u"SELECT file FROM entries WHERE url = ?"_s);
    query.addBindValue(url);
    if (!query.exec()) {
        index->failed(query.lastError());
        return {};
    }
    if (!query.next())
        return {};
    const QString name = query.value(0).toString();
    if (!urlcacheindex::isCacheFileName(name))
        return {};
    const QString path = QDir::toNativeSeparators(m_folder + u'/' + name);
    return QFileInfo(path).isFile() ? path : QString();
}

qint64 UrlCache::totalSize() const
{
    UrlCacheDatabase* index = UrlCacheDatabase::open(m_folder, UrlCacheDatabase::Access::Read);
    return index ? index->total() : 0;
}

bool UrlCache::remove(const QString& url)
{
    if (IsProtectedCacheUrl(url))
        return false;
    UrlCacheDatabase* index = UrlCacheDatabase::open(m_folder, UrlCacheDatabase::Access::Read);
    if (!index)
        return false;
    UrlCacheTransaction transaction(*index);
    if (!transaction.isOpen())
        return false;
    QSqlQuery query(index->db());
    query.prepare(u"SELECT file, size FROM entries WHERE url = ?"_s);
    query.addBindValue(url);
    if (!query.exec()) {
        index->failed(query.lastError());
        return false;
    }
    if (!query.next())
        return false;
    const QString name = query.value(0).toString();
    const qint64 size = query.value(1).toLongLong();
    query.finish();
    qint64 total = index->total();
    query.prepare(u"DELETE FROM entries WHERE url = ?"_s);
    query.addBindValue(url);
    if (!query.exec()) {
        index->failed(query.lastError());
        return false;
    }
    total = total == kMaxTotal ? index->sumOfSizes() : total - std::max<qint64>(0, size);
    if (!index->setTotal(total) || !transaction.commit())
        return false;
    if (urlcacheindex::isCacheFileName(name))
        removeFile(name);
    return true;
}

int UrlCache::clear()
{
    bool off = false;
    UrlCacheDatabase* index = UrlCacheDatabase::open(m_folder, UrlCacheDatabase::Access::Read, &off);
    if (off)
        return 0; // which entries are protected is unknown: touch nothing
    QStringList dropped;
    QSet<QString> keptNames;
    if (index) {
        UrlCacheTransaction transaction(*index);
        if (!transaction.isOpen())
            return 0;
        QSqlQuery query(index->db());
        query.setForwardOnly(true);
        bool ok = query.exec(u"SELECT file, protected FROM entries"_s);
        while (ok && query.next()) {
            const QString name = query.value(0).toString();
            if (query.value(1).toInt() != 0)
                keptNames.insert(name);
            else
                dropped.append(name);
        }
        query.finish();
        ok = ok && query.exec(u"DELETE FROM entries WHERE protected = 0"_s);
        if (!ok) {
            index->failed(query.lastError());
            return 0;
        }
        query.finish();
        if (!index->setTotal(index->sumOfSizes()) || !transaction.commit())
            return 0;
        for (const QString& name : std::as_const(dropped)) {
            if (urlcacheindex::isCacheFileName(name))
                removeFile(name);
        }
    }

    // Files no entry refers to: left by an interrupted run, or by an index that was set aside.
    const QDir root(m_folder);
    const QStringList buckets =
        root.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden | QDir::NoSymLinks);
    for (const QString& bucket : buckets) {
        if (!urlcacheindex::isBucketName(bucket))
            continue;
        const QDir dir(root.filePath(bucket));
        const QStringList files = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
        for (const QString& file : files) {
            if (!keptNames.contains(bucket + u'/' + file))
                deleteFile(dir.filePath(file));
        }
        root.rmdir(bucket);
    }
    return int(dropped.size());
}

} // namespace lintbay
