// The URL cache's index file of earlier versions, which anything with access to the user's cache
// folder may have damaged or rewritten, moved into the cache's database at its first use and acted
// on there: look-ups, removal, storing with eviction, clearing.
//
// Input: a control byte (bit 0: the cache folder also holds links to things outside it; bit 1:
// remove an entry; bit 2: store a new entry under a cap that evicts; bit 3: clear; bits 4-7: which
// entry), then the index file's bytes.
//
// Invariants: nothing outside the cache folder is created, removed or changed (every folder around
// it is listed, and each entry's kind, permissions, inode, size, times and link target compared with
// the start of the run); the entries read are well formed (a bucket file name, unique addresses and file
// names, sizes not negative) and survive being written and read again unchanged; every path the
// cache gives out lies in its folder; the cache is still on at the end.
//
// Each input starts from a cache folder made afresh and ends with it deleted and the cache's
// connection to its database dropped, so that no input depends on the one before it.

#include "FuzzSupport.h"

#include "tools/UrlCache.h"
#include "tools/UrlCacheDatabase.h"
#include "tools/UrlCacheIndex.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

using namespace Qt::StringLiterals;
using namespace lintbay;

// The C library's own allocator, which AddressSanitizer leaves alone.
extern "C" void* __libc_malloc(size_t size);
extern "C" void* __libc_realloc(void* block, size_t size);
extern "C" void __libc_free(void* block);

namespace {

// SQLite's memory. SQLite is not built with the sanitizers, and nothing of ours reads or writes its
// memory (Qt copies every value out), yet its allocations through the sanitizer's allocator (parsing
// the schema alone makes hundreds per input) took a third of each input's time. It gets the C
// library's allocator, with the block's size kept in front of it for SQLite to ask. Leak detection
// and -malloc_limit_mb no longer see SQLite's own blocks (a leak of ours still shows: our objects
// stay in the sanitizer's heap).
namespace sqlitememory {

constexpr size_t kHeader = 16; // keeps the block 16-byte aligned
// Blocks handed out: none after an input would mean the setting went to another copy of SQLite
// than the one Qt's driver uses.
size_t g_taken = 0;

void* withSize(void* block, int size)
{
    if (!block)
        return nullptr;
    std::memcpy(block, &size, sizeof size);
    return static_cast<char*>(block) + kHeader;
}

void* take(int size)
{
    ++g_taken;
    return withSize(__libc_malloc(size_t(size) + kHeader), size);
}

void give(void* block)
{
    if (block)
        __libc_free(static_cast<char*>(block) - kHeader);
}

void* resize(void* block, int size)
{
    return withSize(__libc_realloc(static_cast<char*>(block) - kHeader, size_t(size) + kHeader), size);
}

int sizeOf(void* block)
{
    int size = 0;
    std::memcpy(&size, static_cast<char*>(block) - kHeader, sizeof size);
    return size;
}

int roundUp(int size)
{
    return (size + 7) & ~7;
}

int start(void*)
{
    return SQLITE_OK;
}

void stop(void*) {}

// Before SQLite's first use: it takes its allocator only then.
void install()
{
    static const sqlite3_mem_methods methods{take, give, resize, sizeOf, roundUp, start, stop, nullptr};
    if (sqlite3_config(SQLITE_CONFIG_MALLOC, &methods) != SQLITE_OK ||
        sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) != SQLITE_OK)
        std::abort();
}

} // namespace sqlitememory

struct Folders
{
    QTemporaryDir root;    // holds the cache folder and things beside it
    QTemporaryDir scratch; // elsewhere: the round trip's index
    QString cache;
    QString outside;
    // The same as file system paths, for the plain calls that make and check the folders.
    std::string cachePath;
    std::string outsidePath;
};

Folders& folders()
{
    static Folders* f = [] {
        auto* folders = new Folders;
        if (!folders->root.isValid() || !folders->scratch.isValid())
            std::abort();
        folders->cache = folders->root.filePath(u"Lintbay"_s);
        folders->outside = folders->root.filePath(u"outside"_s);
        folders->cachePath = QFile::encodeName(folders->cache).toStdString();
        folders->outsidePath = QFile::encodeName(folders->outside).toStdString();
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

// The fixture is made and checked with plain system calls: through Qt's file classes, under the
// sanitizers, that took more than a quarter of each input's time.
void makeDir(const std::string& path)
{
    if (::mkdir(path.c_str(), 0755) != 0)
        std::abort();
}

void writeFile(const std::string& path, const char* bytes, size_t size)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 || ::write(fd, bytes, size) != ssize_t(size) || ::close(fd) != 0)
        std::abort();
}

void writeFile(const std::string& path, const char* text)
{
    writeFile(path, text, std::strlen(text));
}

void makeLink(const std::string& target, const std::string& path)
{
    if (::symlink(target.c_str(), path.c_str()) != 0)
        std::abort();
}

// The cache folder as a run left it: files in buckets, a folder that is no bucket and, when asked,
// a link in a bucket to a file outside and a bucket that links to a folder outside.
void makeCacheFolder(bool withLinks, const uint8_t* index, size_t size)
{
    const Folders& f = folders();
    const std::string& cache = f.cachePath;
    makeDir(cache);
    makeDir(cache + "/3f");
    makeDir(cache + "/07");
    makeDir(cache + "/notes");
    writeFile(cache + "/3f/a.pdf", "%PDF-1.4");
    writeFile(cache + "/3f/b.html", "<html></html>");
    writeFile(cache + "/07/index[1].htm", "<p>");
    writeFile(cache + "/notes/keep.txt", "not a bucket");
    if (withLinks) {
        makeDir(cache + "/ab");
        makeLink(f.outsidePath + "/victim.pdf", cache + "/ab/link.pdf");
        makeLink(f.outsidePath + "/3f", cache + "/cd");
    }
    writeFile(cache + "/index.dat", reinterpret_cast<const char*>(index), size);
}

// Deletes the cache folder with whatever the input left in it (links go as links, nothing is walked
// through them), then lets the cache notice, as in a run whose cache folder is deleted under it: its
// connection to the database whose file is gone is dropped, so that no input depends on the one
// before it. A cache the input turned off would have stayed off for every later input.
void removeCacheFolder()
{
    std::error_code error;
    std::filesystem::remove_all(folders().cachePath, error);
    struct stat st;
    if (error || ::lstat(folders().cachePath.c_str(), &st) == 0) {
        std::fprintf(stderr, "cannot remove the cache folder: %s\n", error.message().c_str());
        std::abort();
    }
    bool off = false;
    FUZZ_CHECK(!UrlCacheDatabase::open(folders().cache, UrlCacheDatabase::Access::Read, &off));
    FUZZ_CHECK(!off);
}

// The folders under the root but outside the cache folder, as the fixture made them: nothing is
// ever made in them, so anything made outside the cache is an entry of one of them.
const std::vector<std::string>& outsideFolders()
{
    static const std::vector<std::string> list = [] {
        const Folders& f = folders();
        std::vector<std::string> dirs{QFile::encodeName(f.root.path()).toStdString()};
        QDirIterator it(f.root.path(), QDir::Dirs | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo info = it.nextFileInfo();
            const bool inCache = info.filePath() == f.cache || info.filePath().startsWith(f.cache + u'/');
            if (!inCache && !info.isSymLink())
                dirs.push_back(QFile::encodeName(info.filePath()).toStdString());
        }
        return dirs;
    }();
    return list;
}

std::string describe(const std::string& path)
{
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0)
        return "gone";
    std::string text = std::to_string(st.st_mode) + ' ' + std::to_string(st.st_ino) + ' ' +
                       std::to_string(st.st_size) + ' ' + std::to_string(st.st_mtim.tv_sec) + '.' +
                       std::to_string(st.st_mtim.tv_nsec) + ' ' + std::to_string(st.st_ctim.tv_sec) + '.' +
                       std::to_string(st.st_ctim.tv_nsec);
    if (S_ISLNK(st.st_mode)) {
        char target[4096];
        const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
        text += " -> " + std::string(target, n > 0 ? size_t(n) : 0);
    }
    return text;
}

// Everything under the root but the cache folder: kind, permissions, inode, size, times and link
// target.
std::map<std::string, std::string> outsideState()
{
    const std::string& cache = folders().cachePath;
    std::map<std::string, std::string> state;
    for (const std::string& dir : outsideFolders()) {
        // A folder that went is missing from the listing of the one around it.
        DIR* listing = ::opendir(dir.c_str());
        if (!listing)
            continue;
        while (const dirent* entry = ::readdir(listing)) {
            const std::string name = entry->d_name;
            const std::string path = dir + '/' + name;
            if (name != "." && name != ".." && path != cache)
                state.emplace(path, describe(path));
        }
        ::closedir(listing);
    }
    return state;
}

// The state outside as the fixture made it: an input that changes it stops the run.
const std::map<std::string, std::string>& outsideAtStart()
{
    static const std::map<std::string, std::string> state = outsideState();
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

void checkOutside()
{
    const std::map<std::string, std::string>& before = outsideAtStart();
    const std::map<std::string, std::string> after = outsideState();
    if (after == before)
        return;
    for (const auto& [path, state] : before) {
        const auto now = after.find(path);
        if (now == after.end() || now->second != state)
            std::fprintf(stderr, "changed outside the cache: %s (%s -> %s)\n", path.c_str(), state.c_str(),
                         now == after.end() ? "gone" : now->second.c_str());
    }
    for (const auto& [path, state] : after) {
        if (!before.contains(path))
            std::fprintf(stderr, "made outside the cache: %s\n", path.c_str());
    }
    FUZZ_CHECK(after == before);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    sqlitememory::install();
    outsideAtStart();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const uint8_t control = fuzz::takeByte(data, size);
    const Folders& f = folders();
    makeCacheFolder(control & 1, data, size);

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

    removeCacheFolder();
    checkOutside();
    FUZZ_CHECK(sqlitememory::g_taken > 0);
    return 0;
}
