// The URL cache's index file of earlier versions, which anything with access to the user's cache
// folder may have damaged or rewritten, moved into the cache's database at its first use and acted
// on there: look-ups, removal, storing with eviction, clearing.
//
// Input: a control byte (bit 0: the cache folder also holds links to things outside it; bit 1:
// remove an entry; bit 2: store a new entry under a cap that evicts; bit 3: clear; bits 4-7: which
// entry), then the index file's bytes.
//
// Invariants: nothing outside the cache folder is created, removed or changed (the folder around it
// is listed before and after); the entries read are well formed (a bucket file name, unique
// addresses and file names, sizes not negative) and survive being written and read again unchanged;
// every path the cache gives out lies in its folder.

#include "FuzzSupport.h"

#include "tools/UrlCache.h"
#include "tools/UrlCacheIndex.h"

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QSet>
#include <QTemporaryDir>

#include <cstdlib>

using namespace Qt::StringLiterals;
using namespace lintbay;

namespace {

struct Folders
{
    QTemporaryDir root;    // holds the cache folder and things beside it
    QTemporaryDir scratch; // elsewhere: the round trip's index
    QString cache;
    QString outside;
};

Folders& folders()
{
    static Folders* f = [] {
        auto* folders = new Folders;
        if (!folders->root.isValid() || !folders->scratch.isValid())
            std::abort();
        folders->cache = folders->root.filePath(u"Lintbay"_s);
        folders->outside = folders->root.filePath(u"outside"_s);
        // Beside the cache: a folder that looks like a bucket and a read-only file.
        QDir().mkpath(folders->outside + u"/3f"_s);
        for (const QString& name : {u"/3f/a.pdf"_s, u"/victim.pdf"_s, u"/Lintbay.pdf"_s}) {
            QFile file(folders->outside + name);
            if (!file.open(QIODevice::WriteOnly) || file.write("outside") != 7)
                std::abort();
        }
        QFile::setPermissions(folders->outside + u"/victim.pdf"_s, QFileDevice::ReadOwner);
        return folders;
    }();
    return *f;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        std::abort();
}

// The cache folder as a run left it: files in buckets, a folder that is no bucket and, when asked,
// a link in a bucket to a file outside and a bucket that links to a folder outside.
void makeCacheFolder(bool withLinks, const QByteArray& index)
{
    const Folders& f = folders();
    // Links first, so that removing the folder never walks through one.
    QDirIterator links(f.cache, QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                       QDirIterator::Subdirectories);
    while (links.hasNext()) {
        const QFileInfo info = links.nextFileInfo();
        if (info.isSymLink())
            QFile::remove(info.filePath());
    }
    QDir(f.cache).removeRecursively();

    writeFile(f.cache + u"/3f/a.pdf"_s, "%PDF-1.4");
    writeFile(f.cache + u"/3f/b.html"_s, "<html></html>");
    writeFile(f.cache + u"/07/index[1].htm"_s, "<p>");
    writeFile(f.cache + u"/notes/keep.txt"_s, "not a bucket");
    if (withLinks) {
        QDir().mkpath(f.cache + u"/ab"_s);
        QFile::link(f.outside + u"/victim.pdf"_s, f.cache + u"/ab/link.pdf"_s);
        QFile::link(f.outside + u"/3f"_s, f.cache + u"/cd"_s);
    }
    writeFile(f.cache + u"/index.dat"_s, index);
}

// Everything under the root but the cache folder: kind, size, permissions, time and link target.
QMap<QString, QString> outsideState()
{
    const Folders& f = folders();
    QMap<QString, QString> state;
    QDirIterator it(f.root.path(), QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    const QString cachePrefix = f.cache + u'/';
    while (it.hasNext()) {
        const QFileInfo info = it.nextFileInfo();
        const QString path = info.filePath();
        if (path == f.cache || path.startsWith(cachePrefix))
            continue;
        state.insert(path, QString::number(info.isSymLink()) + QString::number(info.isDir()) + u' ' +
                               QString::number(info.size()) + u' ' + QString::number(int(info.permissions())) +
                               u' ' + QString::number(info.lastModified().toMSecsSinceEpoch()) + u' ' +
                               info.symLinkTarget());
    }
    return state;
}

bool insideCache(const QString& path)
{
    const QString prefix = QDir::toNativeSeparators(folders().cache + u'/');
    return path.startsWith(prefix) && QDir::cleanPath(path).startsWith(folders().cache + u'/');
}

void checkEntries(const QList<UrlCacheEntry>& entries, const UrlCache& cache)
{
    QSet<QString> urls;
    QSet<QString> names;
    for (const UrlCacheEntry& entry : entries) {
        FUZZ_CHECK(urlcacheindex::isCacheFileName(entry.fileName));
        FUZZ_CHECK(!entry.url.isEmpty() && entry.size >= 0 && entry.stored.isValid());
        FUZZ_CHECK(!urls.contains(entry.url) && !names.contains(entry.fileName));
        urls.insert(entry.url);
        names.insert(entry.fileName);
        FUZZ_CHECK(insideCache(cache.filePath(entry)));
    }
}

bool sameEntries(const QList<UrlCacheEntry>& a, const QList<UrlCacheEntry>& b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].url != b[i].url || a[i].fileName != b[i].fileName || a[i].size != b[i].size ||
            a[i].stored != b[i].stored)
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    folders();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const uint8_t control = fuzz::takeByte(data, size);
    const Folders& f = folders();
    makeCacheFolder(control & 1, fuzz::bytesOf(data, size));
    const QMap<QString, QString> before = outsideState();

    UrlCache cache(f.cache);
    bool readable = false;
    const QList<UrlCacheEntry> entries = cache.entries(&readable);
    FUZZ_CHECK(readable);
    checkEntries(entries, cache);

    // What is written is read back the same.
    const QString copy = f.scratch.filePath(u"index.dat"_s);
    FUZZ_CHECK(urlcacheindex::write(copy, entries));
    QList<UrlCacheEntry> reread;
    FUZZ_CHECK(urlcacheindex::read(copy, reread));
    FUZZ_CHECK(sameEntries(entries, reread));

    cache.totalSize();
    const UrlCacheEntry chosen = entries.isEmpty() ? UrlCacheEntry{} : entries[(control >> 4) % entries.size()];
    if (!chosen.url.isEmpty()) {
        const QString local = cache.localFile(chosen.url);
        FUZZ_CHECK(local.isEmpty() || insideCache(local));
    }
    if ((control & 2) && !chosen.url.isEmpty())
        cache.remove(chosen.url);
    if (control & 4) {
        // A cap below what the index claims evicts the oldest entries, with their files.
        cache.setMaxBytes(16);
        cache.store(chosen.url.isEmpty() ? u"http://files.test/new.pdf"_s : chosen.url + u"/new"_s, "%PDF-new");
        checkEntries(cache.entries(), cache);
    }
    if (control & 8)
        cache.clear();

    const QMap<QString, QString> after = outsideState();
    if (after != before) {
        for (auto it = before.cbegin(); it != before.cend(); ++it) {
            if (after.value(it.key()) != it.value())
                std::fprintf(stderr, "changed outside the cache: %s (%s -> %s)\n", qPrintable(it.key()),
                             qPrintable(it.value()), qPrintable(after.value(it.key(), u"gone"_s)));
        }
        for (auto it = after.cbegin(); it != after.cend(); ++it) {
            if (!before.contains(it.key()))
                std::fprintf(stderr, "made outside the cache: %s\n", qPrintable(it.key()));
        }
    }
    FUZZ_CHECK(after == before);
    return 0;
}
