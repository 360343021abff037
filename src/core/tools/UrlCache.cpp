#include "UrlCache.h"

#include "util/PathHelpers.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QSaveFile>
#include <QSet>
#include <QUrl>

#include <algorithm>
#include <limits>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

QString g_folderOverride;

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

struct UrlCache::Index
{
    QList<UrlCacheEntry> entries;
};

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
    return u"index.dat"_s;
}

UrlCache::UrlCache(const QString& folder, qint64 maxBytes)
    : m_folder(QDir::cleanPath(QDir::fromNativeSeparators(folder))), m_maxBytes(maxBytes)
{
}

QString UrlCache::indexPath() const
{
    return QDir::toNativeSeparators(m_folder + u'/' + indexFileName());
}

bool UrlCache::loadIndex(Index& index) const
{
    return urlcacheindex::read(indexPath(), index.entries);
}

bool UrlCache::saveIndex(const QList<UrlCacheEntry>& entries) const
{
    return QDir().mkpath(m_folder) && urlcacheindex::write(indexPath(), entries);
}

QString UrlCache::newFileName(const QString& url, const Index& index) const
{
    const QString bucket =
        QString::fromLatin1(QCryptographicHash::hash(url.toUtf8(), QCryptographicHash::Sha1).toHex().left(2));
    QString name = SanitizeFileName(lastUrlSegment(url));
    if (name.isEmpty())
        name = u"index"_s;
    QString base;
    const QString type = SplitFileName(name, &base);
    if (base.isEmpty())
        base = name;
    const QString typeTail = type.isEmpty() ? QString() : u'.' + type;

    QSet<QString> used;
    for (const UrlCacheEntry& entry : index.entries)
        used.insert(entry.fileName);
    // An entry whose file went missing still owns its name.
    QString candidate = bucket + u'/' + name;
    for (int n = 1; used.contains(candidate) || QFileInfo::exists(m_folder + u'/' + candidate) ||
                    QFileInfo(m_folder + u'/' + candidate).isSymLink();
         ++n)
        candidate = bucket + u'/' + base + u'[' + QString::number(n) + u']' + typeTail;
    return candidate;
}

void UrlCache::removeFile(const QString& fileName) const
{
    if (isLinkedBucket(m_folder, fileName))
        return;
    deleteFile(m_folder + u'/' + fileName);
    const qsizetype slash = fileName.indexOf(u'/');
    if (slash > 0)
        QDir(m_folder).rmdir(fileName.left(slash)); // only when it is empty
}

bool UrlCache::storeWith(const QString& url, qint64 knownSize, const std::function<qint64(QIODevice&)>& write)
{
    if (url.trimmed().isEmpty() || knownSize > m_maxBytes)
        return false;
    Index index;
    if (!loadIndex(index))
        return false;

    const QString name = newFileName(url, index);
    const QString path = m_folder + u'/' + name;
    if (isLinkedBucket(m_folder, name) || !QDir().mkpath(QFileInfo(path).path()))
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    const qint64 size = write(file);
    if (size < 0 || size > m_maxBytes) {
        file.cancelWriting();
        QDir(m_folder).rmdir(name.left(2));
        return false;
    }
    if (!file.commit()) {
        QDir(m_folder).rmdir(name.left(2));
        return false;
    }

    QStringList dropped;
    QList<UrlCacheEntry> entries;
    entries.reserve(index.entries.size() + 1);
    for (const UrlCacheEntry& entry : std::as_const(index.entries)) {
        if (entry.url == url)
            dropped.append(entry.fileName);
        else
            entries.append(entry);
    }
    entries.append({url, name, size, QDateTime::currentDateTimeUtc()});

    qint64 total = 0;
    for (const UrlCacheEntry& entry : std::as_const(entries))
        total = addSize(total, entry.size);
    if (total > m_maxBytes) {
        // Oldest first; the new entry itself is never evicted (it fits the cap on its own).
        QList<qsizetype> order;
        for (qsizetype i = 0; i + 1 < entries.size(); ++i)
            order.append(i);
        std::stable_sort(order.begin(), order.end(), [&entries](qsizetype a, qsizetype b) {
            return entries[a].stored < entries[b].stored;
        });
        QSet<qsizetype> evicted;
        for (qsizetype i : std::as_const(order)) {
            if (total <= m_maxBytes)
                break;
            if (IsProtectedCacheUrl(entries[i].url))
                continue;
            total -= entries[i].size;
            evicted.insert(i);
            dropped.append(entries[i].fileName);
        }
        QList<UrlCacheEntry> kept;
        for (qsizetype i = 0; i < entries.size(); ++i) {
            if (!evicted.contains(i))
                kept.append(entries[i]);
        }
        entries = kept;
    }

    if (!saveIndex(entries)) {
        removeFile(name);
        return false;
    }
    for (const QString& old : std::as_const(dropped))
        removeFile(old);
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
    Index index;
    const bool ok = loadIndex(index);
    if (readable)
        *readable = ok;
    return index.entries;
}

QString UrlCache::filePath(const UrlCacheEntry& entry) const
{
    return QDir::toNativeSeparators(m_folder + u'/' + entry.fileName);
}

QString UrlCache::localFile(const QString& url) const
{
    Index index;
    loadIndex(index);
    for (const UrlCacheEntry& entry : std::as_const(index.entries)) {
        if (entry.url == url) {
            const QString path = filePath(entry);
            return QFileInfo(path).isFile() ? path : QString();
        }
    }
    return {};
}

qint64 UrlCache::totalSize() const
{
    Index index;
    loadIndex(index);
    qint64 total = 0;
    for (const UrlCacheEntry& entry : std::as_const(index.entries))
        total = addSize(total, entry.size);
    return total;
}

bool UrlCache::remove(const QString& url)
{
    if (IsProtectedCacheUrl(url))
        return false;
    Index index;
    if (!loadIndex(index))
        return false;
    const auto it = std::find_if(index.entries.cbegin(), index.entries.cend(),
                                 [&url](const UrlCacheEntry& entry) { return entry.url == url; });
    if (it == index.entries.cend())
        return false;
    const QString name = it->fileName;
    index.entries.erase(it);
    if (!saveIndex(index.entries))
        return false;
    removeFile(name);
    return true;
}

int UrlCache::clear()
{
    Index index;
    if (!loadIndex(index))
        return 0; // which entries are protected is unknown: touch nothing
    QList<UrlCacheEntry> kept;
    QStringList dropped;
    for (const UrlCacheEntry& entry : std::as_const(index.entries)) {
        if (IsProtectedCacheUrl(entry.url))
            kept.append(entry);
        else
            dropped.append(entry.fileName);
    }
    if (!dropped.isEmpty() && !saveIndex(kept))
        return 0;
    for (const QString& name : std::as_const(dropped))
        removeFile(name);

    QSet<QString> keptNames;
    for (const UrlCacheEntry& entry : std::as_const(kept))
        keptNames.insert(entry.fileName);
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
