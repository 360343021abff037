#include "tools/CacheListModel.h"
#include "tools/CacheListing.h"
#include "tools/CacheViewer.h"
#include "tools/UrlCache.h"
#include "tools/UrlCacheDatabase.h"

#include <QAbstractItemModelTester>
#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

using namespace Qt::StringLiterals;
using namespace lintbay;

namespace {

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList urlsOf(const QList<UrlCacheEntry>& entries)
{
    QStringList urls;
    for (const UrlCacheEntry& e : entries)
        urls.append(e.url);
    return urls;
}

QStringList column(const CacheListModel& model, int col)
{
    QStringList values;
    for (int r = 0; r < model.rowCount(); ++r)
        values.append(model.index(r, col).data().toString());
    return values;
}

QString native(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

// Home folders under one root: "me" with the program's cache, "other" with a cache folder found
// on disk, "third" without one.
struct Homes
{
    QTemporaryDir dir;
    QString root = dir.filePath(u"homes"_s);
    QString myCache = root + u"/me/.cache/Lintbay"_s;
    QString otherCache = root + u"/other/.cache/Lintbay"_s;
    CacheLocations locations = CacheLocations::forHome(root + u"/me"_s, myCache);

    Homes()
    {
        QDir().mkpath(root + u"/third/.cache"_s);
        writeFile(otherCache + u"/a.pdf"_s, "pdf-a");
        writeFile(otherCache + u"/it's cookie.txt"_s, "name=value");
        writeFile(otherCache + u"/x1/b.doc"_s, "doc-b-long");
        writeFile(otherCache + u"/x1/deep/c.PDF"_s, "c");
        writeFile(otherCache + u"/keep/note.TXT"_s, "note");
        QDir().mkpath(otherCache + u"/empty/inner"_s);
    }
    QString other(const QString& relative) const { return native(otherCache + u'/' + relative); }
};

} // namespace

class TestUrlCache : public QObject
{
    Q_OBJECT
private slots:
    void storeKeepsContentUnderItsAddress()
    {
        QTemporaryDir dir;
        UrlCache cache(dir.path());
        QVERIFY(cache.store(u"http://h/doc/report.pdf?x=1"_s, QByteArray("%PDF-1")));
        QBuffer buffer;
        buffer.setData("page text");
        QVERIFY(buffer.open(QIODevice::ReadOnly));
        QVERIFY(cache.store(u"http://h/"_s, &buffer));
        const QString source = dir.filePath(u"source.doc"_s);
        QVERIFY(writeFile(source, "doc bytes"));
        QVERIFY(cache.storeFile(u"http://h/a b/%E6%96%87.doc"_s, source));
        QVERIFY(QFile::exists(source)); // copied, not moved

        const QList<UrlCacheEntry> entries = cache.entries();
        QCOMPARE(urlsOf(entries), (QStringList{u"http://h/doc/report.pdf?x=1"_s, u"http://h/"_s,
                                               u"http://h/a b/%E6%96%87.doc"_s}));
        QCOMPARE(entries[0].size, 6);
        QVERIFY(entries[0].fileName.endsWith(u"/report.pdf"_s));
        QVERIFY(entries[2].fileName.endsWith(u"/文.doc"_s));
        QCOMPARE(readFile(cache.localFile(u"http://h/"_s)), QByteArray("page text"));
        QCOMPARE(readFile(cache.localFile(u"http://h/a b/%E6%96%87.doc"_s)), QByteArray("doc bytes"));
        QCOMPARE(cache.totalSize(), 6 + 9 + 9);

        // A second object on the same folder sees the same cache.
        QCOMPARE(urlsOf(UrlCache(dir.path()).entries()), urlsOf(entries));
    }

    // Also when the old entry's file went meanwhile (deleted by hand, a cleaner): its name is free
    // again and may be taken by the new one, which stays.
    void storingAgainReplacesTheEntry_data()
    {
        QTest::addColumn<bool>("oldFileGone");
        QTest::newRow("old file there") << false;
        QTest::newRow("old file gone") << true;
    }
    void storingAgainReplacesTheEntry()
    {
        QFETCH(bool, oldFileGone);
        QTemporaryDir dir;
        UrlCache cache(dir.path());
        const QString url = u"http://h/r.pdf"_s;
        QVERIFY(cache.store(url, QByteArray("old")));
        const QString oldFile = cache.localFile(url);
        if (oldFileGone)
            QVERIFY(QFile::remove(oldFile));
        QVERIFY(cache.store(url, QByteArray("newer")));
        QCOMPARE(cache.entries().size(), 1);
        QCOMPARE(readFile(cache.localFile(url)), QByteArray("newer"));
        if (!oldFileGone) {
            QVERIFY(cache.localFile(url) != oldFile);
            QVERIFY(!QFile::exists(oldFile));
        }
    }

    // Two addresses with the same last segment never share a file.
    void sameNameDifferentAddresses()
    {
        QTemporaryDir dir;
        UrlCache cache(dir.path());
        QStringList files;
        for (int i = 0; i < 40; ++i) {
            const QString url = u"http://h%1/index.html"_s.arg(i);
            QVERIFY(cache.store(url, QByteArray::number(i)));
            files.append(cache.localFile(url));
        }
        files.removeDuplicates();
        QCOMPARE(files.size(), 40);
        QCOMPARE(readFile(cache.localFile(u"http://h7/index.html"_s)), QByteArray("7"));
    }

    void sizeCapEvictsOldestCookiesLast()
    {
        QTemporaryDir dir;
        UrlCache cache(dir.path(), 100);
        QVERIFY(cache.store(u"http://h/Cookie:user@h/"_s, QByteArray(30, 'c')));
        QVERIFY(cache.store(u"http://h/a"_s, QByteArray(30, 'a')));
        QVERIFY(cache.store(u"http://h/b"_s, QByteArray(30, 'b')));
        const QString aFile = cache.localFile(u"http://h/a"_s);
        QVERIFY(cache.store(u"http://h/c"_s, QByteArray(30, 'c')));
        QCOMPARE(urlsOf(cache.entries()),
                 (QStringList{u"http://h/Cookie:user@h/"_s, u"http://h/b"_s, u"http://h/c"_s}));
        QVERIFY(!QFile::exists(aFile));
        QCOMPARE(cache.totalSize(), 90);

        // Larger than the cap on its own: refused, and nothing else is lost for it.
        QVERIFY(!cache.store(u"http://h/huge"_s, QByteArray(101, 'h')));
        QBuffer big;
        big.setData(QByteArray(101, 'h'));
        QVERIFY(big.open(QIODevice::ReadOnly));
        QVERIFY(!cache.store(u"http://h/huge"_s, &big));
        QCOMPARE(cache.entries().size(), 3);
        QVERIFY(!cache.store(QString(), QByteArray("x")));

        // Only protected entries left to take: the oldest of them goes, the cap holds.
        for (const QString& name : {u"d"_s, u"e"_s, u"f"_s})
            QVERIFY(cache.store(u"http://h/cookie-"_s + name, QByteArray(30, 'k')));
        QCOMPARE(urlsOf(cache.entries()),
                 (QStringList{u"http://h/cookie-d"_s, u"http://h/cookie-e"_s, u"http://h/cookie-f"_s}));
        QCOMPARE(cache.totalSize(), 90);
    }

    void damagedIndexLinesAreSkipped_data()
    {
        QTest::addColumn<QByteArray>("index");
        QTest::addColumn<QStringList>("urls");
        const QByteArray good = "0a/a.pdf\t3\t1700000000000\thttp://h/a.pdf\n";
        QTest::newRow("good line") << good << QStringList{u"http://h/a.pdf"_s};
        QTest::newRow("no header, CR LF")
            << QByteArray("0a/a.pdf\t3\t1\thttp://h/a.pdf\r\n") << QStringList{u"http://h/a.pdf"_s};
        QTest::newRow("binary garbage")
            << QByteArray("\x00\xff\x13garbage\tmore\x00\n\xfe", 18) << QStringList{};
        QTest::newRow("empty file") << QByteArray() << QStringList{};
        QTest::newRow("too few fields")
            << QByteArray("0a/a.pdf\t3\thttp://h/a.pdf\n") + good << QStringList{u"http://h/a.pdf"_s};
        QTest::newRow("size not a number") << QByteArray("0b/b.pdf\tbig\t1\thttp://h/b\n") << QStringList{};
        QTest::newRow("negative size") << QByteArray("0b/b.pdf\t-5\t1\thttp://h/b\n") << QStringList{};
        QTest::newRow("path outside") << QByteArray("../../etc/passwd\t3\t1\thttp://h/p\n"
                                                    "0a/../../x\t3\t1\thttp://h/q\n"
                                                    "/etc/passwd\t3\t1\thttp://h/r\n"
                                                    "0a/sub/x\t3\t1\thttp://h/s\n"
                                                    "zz/x\t3\t1\thttp://h/t\n"
                                                    "0a/..\t3\t1\thttp://h/u\n")
                                      << QStringList{};
        QTest::newRow("the index itself") << QByteArray("index.dat\t3\t1\thttp://h/i\n") << QStringList{};
        QTest::newRow("same address twice: the later one")
            << QByteArray("0a/one\t1\t1\thttp://h/x\n0b/two\t2\t2\thttp://h/x\n")
            << QStringList{u"http://h/x"_s};
        QTest::newRow("same file twice: the first claim")
            << QByteArray("0a/one\t1\t1\thttp://h/x\n0a/one\t2\t2\thttp://h/y\n")
            << QStringList{u"http://h/x"_s};
        QTest::newRow("overlong line")
            << QByteArray(2 * 1024 * 1024, 'z') + "\n" + good << QStringList{u"http://h/a.pdf"_s};
        // Characters the database gives back as U+FFFD: the two would be one address.
        QTest::newRow("a noncharacter beside a broken byte")
            << QByteArray("0a/one\t1\t1\t%E4\n0b/two\t1\t1\t%EF%BF%BF\n0c/\xef\xbf\xbe\t1\t1\thttp://h/z\n")
            << QStringList{u"\uFFFD"_s};
        QTest::newRow("escaped address")
            << QByteArray("0a/a\t1\t1\thttp://h/%25x%09y\n") << QStringList{u"http://h/%x\ty"_s};
    }
    void damagedIndexLinesAreSkipped()
    {
        QFETCH(QByteArray, index);
        QFETCH(QStringList, urls);
        QTemporaryDir dir;
        UrlCache cache(dir.path());
        QVERIFY(writeFile(cache.legacyIndexPath(), index));
        bool readable = false;
        QCOMPARE(urlsOf(cache.entries(&readable)), urls);
        QVERIFY(readable);

        // The cache goes on working, keeping what could be read.
        QVERIFY(cache.store(u"http://h/new"_s, QByteArray("n")));
        QCOMPARE(urlsOf(cache.entries()), urls + QStringList{u"http://h/new"_s});
    }

    // A damaged index may claim any size: sums of them stay well defined, and storing still works.
    void absurdSizesInTheIndex()
    {
        QTemporaryDir dir;
        UrlCache cache(dir.path());
        const QByteArray huge = QByteArray::number(std::numeric_limits<qint64>::max());
        QVERIFY(writeFile(cache.legacyIndexPath(),
                          "0a/a\t" + huge + "\t1\thttp://h/a\n0b/b\t" + huge + "\t2\thttp://h/b\n"));
        QCOMPARE(cache.totalSize(), std::numeric_limits<qint64>::max());

        cache.setMaxBytes(16);
        QVERIFY(cache.store(u"http://h/new"_s, QByteArray("new")));
        const QStringList urls = urlsOf(cache.entries());
        QVERIFY2(!urls.contains(u"http://h/a"_s), "the oldest entry is evicted first");
        QVERIFY(urls.contains(u"http://h/new"_s));
        QVERIFY(cache.totalSize() >= 3);

        // A size rewritten below zero counts as none when its entry goes: the sum never grows by it.
        QTemporaryDir other;
        UrlCache small(other.path(), 100);
        for (const QString& name : {u"a"_s, u"b"_s})
            QVERIFY(small.store(u"http://h/"_s + name, QByteArray(30, 'x')));
        UrlCacheDatabase::closeAll();
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"negative"_s);
            db.setDatabaseName(small.indexPath());
            QVERIFY(db.open());
            QVERIFY(
                QSqlQuery(db).exec(u"UPDATE entries SET size = -1000000000000 WHERE url = 'http://h/a'"_s));
        }
        QSqlDatabase::removeDatabase(u"negative"_s);
        for (const QString& name : {u"c"_s, u"d"_s})
            QVERIFY(small.store(u"http://h/"_s + name, QByteArray(30, 'x')));
        QCOMPARE(urlsOf(small.entries()), (QStringList{u"http://h/c"_s, u"http://h/d"_s}));
    }

    void addressesSurviveTheIndex()
    {
        QTemporaryDir dir;
        UrlCache cache(dir.path());
        const QString odd = u"http://h/a\tb\nc%41\r 文件?q=1#frag"_s;
        QVERIFY(cache.store(odd, QByteArray("x")));
        QCOMPARE(urlsOf(UrlCache(dir.path()).entries()), QStringList{odd});
    }

    // An index that exists but cannot be read is never overwritten by a store.
    void unreadableIndexIsLeftAlone()
    {
        QTemporaryDir dir;
        UrlCache cache(dir.path());
        QVERIFY(QDir().mkpath(cache.legacyIndexPath())); // a folder where the file should be
        bool readable = true;
        QVERIFY(cache.entries(&readable).isEmpty());
        QVERIFY(!readable);
        QVERIFY(!cache.store(u"http://h/a"_s, QByteArray("a")));
        QVERIFY(!cache.remove(u"http://h/a"_s));
        QCOMPARE(cache.clear(), 0);
        QVERIFY(QFileInfo(cache.legacyIndexPath()).isDir());
        // Nothing was left behind for the refused store.
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                 QStringList{UrlCache::legacyIndexFileName()});

        CacheViewer viewer(CacheLocations::forHome(dir.path(), dir.path()));
        viewer.showMyCache();
        QCOMPARE(viewer.countText(), u"出错!!!共有0 个文件"_s);
    }

    void removeAndClear()
    {
        QTemporaryDir dir;
        UrlCache cache(dir.path());
        const QString cookie = u"Cookie:me@h/"_s;
        QVERIFY(cache.store(cookie, QByteArray("c")));
        QVERIFY(cache.store(u"http://h/ACOOKIEjar"_s, QByteArray("j")));
        QVERIFY(cache.store(u"http://h/a"_s, QByteArray("a")));
        QVERIFY(cache.store(u"http://h/b"_s, QByteArray("b")));
        QVERIFY(cache.store(u"http://h/c"_s, QByteArray("c")));
        const QString aFile = cache.localFile(u"http://h/a"_s);

        QVERIFY(!cache.remove(cookie));
        QVERIFY(!cache.remove(u"http://h/ACOOKIEjar"_s));
        QVERIFY(!cache.remove(u"http://h/unknown"_s));
        QVERIFY(cache.remove(u"http://h/a"_s));
        QVERIFY(!QFile::exists(aFile));
        QVERIFY(!QFileInfo::exists(QFileInfo(aFile).path())); // its emptied bucket went too

        // A file left by an interrupted run, in a bucket folder.
        const QString orphan = dir.filePath(u"3c/left.pdf.Ab12Cd"_s);
        QVERIFY(writeFile(orphan, "partial"));
        const QString foreign = dir.filePath(u"notabucket/keep.me"_s);
        QVERIFY(writeFile(foreign, "x"));

        QCOMPARE(cache.clear(), 2);
        QCOMPARE(urlsOf(cache.entries()), (QStringList{cookie, u"http://h/ACOOKIEjar"_s}));
        QCOMPARE(readFile(cache.localFile(cookie)), QByteArray("c"));
        QVERIFY(!QFile::exists(orphan));
        QVERIFY(!QFileInfo::exists(dir.filePath(u"3c"_s)));
        QVERIFY(QFile::exists(foreign));
    }

    // A rewritten index whose entries name files outside the cache folder: storing over such an
    // entry and evicting one remove nothing there.
    void namesLeadingOutAreNeverRemoved()
    {
        QTemporaryDir dir;
        const QString victim = dir.filePath(u"victim.pdf"_s);
        QVERIFY(writeFile(victim, "victim"));
        UrlCache cache(dir.filePath(u"cache"_s));
        QVERIFY(cache.store(u"http://h/replaced"_s, QByteArray("r")));
        QVERIFY(cache.store(u"http://h/evicted"_s, QByteArray("e")));
        UrlCacheDatabase::closeAll();
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"rewrite"_s);
            db.setDatabaseName(cache.indexPath());
            QVERIFY(db.open());
            QSqlQuery rewrite(db);
            QVERIFY(
                rewrite.exec(u"UPDATE entries SET file = '../victim.pdf' WHERE url = 'http://h/replaced'"_s));
            QVERIFY(rewrite.exec(
                u"UPDATE entries SET file = './../victim.pdf' WHERE url = 'http://h/evicted'"_s));
        }
        QSqlDatabase::removeDatabase(u"rewrite"_s);
        QVERIFY(cache.store(u"http://h/replaced"_s, QByteArray("new")));
        cache.setMaxBytes(3);
        QVERIFY(cache.store(u"http://h/third"_s, QByteArray("3rd")));
        QCOMPARE(readFile(victim), QByteArray("victim"));
    }

    // Links in the cache folder (left by someone else; the cache never makes one) lead out of it:
    // removing, evicting, clearing and storing never change anything at their far end.
    void linksLeadingOutAreNeverFollowed()
    {
        QTemporaryDir dir;
        const QString outside = dir.filePath(u"outside"_s);
        const QString victim = outside + u"/victim.pdf"_s;
        const QString beside = outside + u"/a.pdf"_s;
        QVERIFY(writeFile(victim, "victim"));
        QVERIFY(writeFile(beside, "beside"));
        QVERIFY(QFile::setPermissions(victim, QFileDevice::ReadOwner));
        const QFileDevice::Permissions victimPermissions = QFileInfo(victim).permissions();

        UrlCache cache(dir.filePath(u"cache"_s));
        const QString newUrl = u"http://h/new.pdf"_s;
        const QString newBucket = QString::fromLatin1(
            QCryptographicHash::hash(newUrl.toUtf8(), QCryptographicHash::Sha1).toHex().left(2));
        const QString linkedBucket = newBucket == u"cd"_s ? u"ce"_s : u"cd"_s;
        QVERIFY(QDir().mkpath(cache.folder() + u"/ab"_s));
        QVERIFY(QFile::link(victim, cache.folder() + u"/ab/link.pdf"_s));
        QVERIFY(QFile::link(outside, cache.folder() + u'/' + linkedBucket));
        QVERIFY(QFile::link(outside, cache.folder() + u'/' + newBucket));
        QVERIFY(writeFile(cache.legacyIndexPath(), "ab/link.pdf\t6\t1\thttp://h/link\n" +
                                                       linkedBucket.toLatin1() +
                                                       "/a.pdf\t6\t2\thttp://h/a\n"));

        QVERIFY(cache.remove(u"http://h/a"_s));
        QCOMPARE(readFile(beside), QByteArray("beside"));
        QVERIFY(!cache.store(newUrl, QByteArray("new")));
        QCOMPARE(QDir(outside).entryList(QDir::Files), (QStringList{u"a.pdf"_s, u"victim.pdf"_s}));
        QCOMPARE(cache.clear(), 1);
        QVERIFY(!QFileInfo(cache.folder() + u"/ab/link.pdf"_s).isSymLink());
        QCOMPARE(QFileInfo(victim).permissions(), victimPermissions);
        QCOMPARE(readFile(victim), QByteArray("victim"));
        QCOMPARE(readFile(beside), QByteArray("beside"));
    }

    // The index of an earlier version is moved into the database once, keeping order, sizes and
    // times; an index.dat that turns up afterwards is not read again.
    void oldIndexIsMovedOverOnce()
    {
        QTemporaryDir dir;
        UrlCache cache(dir.path());
        QVERIFY(writeFile(dir.filePath(u"0a/a.pdf"_s), "aaa"));
        QVERIFY(writeFile(cache.legacyIndexPath(),
                          "LintbayUrlCache\t1\n0b/b.doc\t2\t1700000000001\thttp://h/b\n"
                          "0a/a.pdf\t3\t1700000000000\thttp://h/a.pdf\n"));
        const QList<UrlCacheEntry> moved = cache.entries();
        QCOMPARE(urlsOf(moved), (QStringList{u"http://h/b"_s, u"http://h/a.pdf"_s}));
        QCOMPARE(moved[1].stored.toMSecsSinceEpoch(), 1700000000000);
        QCOMPARE(cache.totalSize(), 5);
        QVERIFY(!QFileInfo::exists(cache.legacyIndexPath()));
        QCOMPARE(readFile(cache.localFile(u"http://h/a.pdf"_s)), QByteArray("aaa"));

        QVERIFY(writeFile(cache.legacyIndexPath(), "0c/c\t1\t1\thttp://h/c\n"));
        UrlCacheDatabase::closeAll(); // the next run
        QCOMPARE(urlsOf(UrlCache(dir.path()).entries()), urlsOf(moved));
    }

    // A damaged database is set aside (kept) and made anew; the cache goes on working.
    void damagedDatabaseIsSetAside_data()
    {
        QTest::addColumn<bool>("fromRealDatabase");
        QTest::newRow("not a database") << false;
        QTest::newRow("pages overwritten") << true;
    }
    void damagedDatabaseIsSetAside()
    {
        QFETCH(bool, fromRealDatabase);
        QTemporaryDir dir;
        UrlCache cache(dir.path());
        if (fromRealDatabase) {
            for (int i = 0; i < 300; ++i)
                QVERIFY(cache.store(u"http://h/%1/a-rather-long-address-to-fill-pages"_s.arg(i), "x"));
            UrlCacheDatabase::closeAll();
            QFile file(cache.indexPath());
            QVERIFY(file.open(QIODevice::ReadWrite));
            QVERIFY(file.size() > 3 * 4096);
            for (qint64 at = 4096; at + 4096 < file.size(); at += 4096 * 2) {
                file.seek(at + 8);
                file.write(QByteArray(2000, '\xA5'));
            }
        } else {
            QVERIFY(writeFile(cache.indexPath(), QByteArray(5000, 'z')));
            UrlCacheDatabase::closeAll();
        }
        const QByteArray damaged = readFile(cache.indexPath());

        QVERIFY(cache.store(u"http://h/new"_s, QByteArray("n")));
        QCOMPARE(urlsOf(cache.entries()), QStringList{u"http://h/new"_s});
        const QStringList aside =
            QDir(dir.path()).entryList({UrlCache::indexFileName() + u".corrupt-*"_s}, QDir::Files);
        QCOMPARE(aside.size(), 1);
        QCOMPARE(readFile(dir.filePath(aside[0])), damaged);
    }

    // A database another program holds locked turns the cache off for the run: nothing is stored,
    // the listing says it is incomplete, and nothing waits long or fails loudly.
    void lockedDatabaseTurnsTheCacheOff()
    {
        QTemporaryDir dir;
        UrlCache cache(dir.path());
        QVERIFY(cache.store(u"http://h/kept"_s, QByteArray("k")));
        UrlCacheDatabase::closeAll();
        UrlCacheDatabase::setBusyTimeout(20);
        {
            QSqlDatabase other = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"other"_s);
            other.setDatabaseName(cache.indexPath());
            QVERIFY(other.open());
            QSqlQuery lock(other);
            QVERIFY(lock.exec(u"PRAGMA locking_mode=EXCLUSIVE"_s));
            QVERIFY(lock.exec(u"BEGIN EXCLUSIVE"_s));
            QVERIFY(lock.exec(u"DELETE FROM meta WHERE key = 'none'"_s));

            QVERIFY(!cache.store(u"http://h/new"_s, QByteArray("n")));
            QVERIFY(cache.isOff());
            bool readable = true;
            QVERIFY(cache.entries(&readable).isEmpty());
            QVERIFY(!readable);
            QCOMPARE(cache.clear(), 0);
            CacheViewer viewer(CacheLocations::forHome(dir.path(), dir.path()));
            viewer.showMyCache();
            QCOMPARE(viewer.countText(), u"出错!!!共有0 个文件"_s);
            // The cache folder is also walked as the user's own among all users' caches.
            QCOMPARE(ClearAllCaches(CacheLocations::forHome(dir.path(), dir.path())), 0);

            lock.exec(u"ROLLBACK"_s);
            lock.finish();
            other.close();
        }
        QSqlDatabase::removeDatabase(u"other"_s);
        QVERIFY2(!cache.store(u"http://h/new"_s, QByteArray("n")), "off for the rest of the run");
        UrlCacheDatabase::setBusyTimeout(250);
        UrlCacheDatabase::closeAll();
        QCOMPARE(urlsOf(cache.entries()), QStringList{u"http://h/kept"_s});
        QCOMPARE(readFile(cache.localFile(u"http://h/kept"_s)), QByteArray("k"));
    }

    // The running sum of sizes outlives the run, and eviction keeps to the cap after a restart and
    // when the cache folder was emptied under the running program.
    void evictionAcrossRuns()
    {
        QTemporaryDir dir;
        UrlCache cache(dir.path(), 100);
        for (const char* name : {"a", "b", "c"})
            QVERIFY(cache.store(u"http://h/"_s + QLatin1StringView(name), QByteArray(30, *name)));
        UrlCacheDatabase::closeAll();
        QCOMPARE(cache.totalSize(), 90);
        QVERIFY(cache.store(u"http://h/d"_s, QByteArray(30, 'd')));
        QCOMPARE(urlsOf(cache.entries()), (QStringList{u"http://h/b"_s, u"http://h/c"_s, u"http://h/d"_s}));
        QVERIFY(cache.store(u"http://h/b"_s, QByteArray(41, 'B'))); // replaced: its old size goes
        QCOMPARE(urlsOf(cache.entries()), (QStringList{u"http://h/d"_s, u"http://h/b"_s}));
        QCOMPARE(cache.totalSize(), 71);

        QVERIFY(QDir(dir.path()).removeRecursively());
        QVERIFY(cache.store(u"http://h/e"_s, QByteArray("e")));
        QCOMPARE(urlsOf(cache.entries()), QStringList{u"http://h/e"_s});
        QCOMPARE(cache.totalSize(), 1);
    }

    void urlFileType_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("type");
        QTest::newRow("plain") << u"http://h/dir/report.pdf"_s << u"pdf"_s;
        QTest::newRow("query cut") << u"http://h/get.php?file=a.doc"_s << u"php"_s;
        QTest::newRow("fragment cut") << u"http://h/a.htm#x.pdf"_s << u"htm"_s;
        QTest::newRow("no dot") << u"http://h/download"_s << QString();
        QTest::newRow("host only") << u"http://h.example.com/"_s << QString();
        QTest::newRow("seven characters") << u"http://h/a.gzipped"_s << QString();
        QTest::newRow("six characters") << u"http://h/a.tar.gzippe"_s << u"gzippe"_s;
        QTest::newRow("nested address") << u"http://h/r.jsp://x/y.doc"_s << u"jsp"_s;
        QTest::newRow("cookie entry") << u"Cookie:user@www.h.com/"_s << QString();
        QTest::newRow("colon cut") << u"a.b:c.pdf"_s << u"b"_s;
        QTest::newRow("linux path") << u"/home/u/.cache/Lintbay/0a/b.PDF"_s << u"PDF"_s;
        QTest::newRow("windows path") << u"C:\\x\\y\\c.xls"_s << u"xls"_s;
        QTest::newRow("equals") << u"http://h/a=b.pdf"_s << QString();
        QTest::newRow("blanks trimmed") << u"http://h/a. pdf "_s << u"pdf"_s;
        QTest::newRow("empty") << QString() << QString();
    }
    void urlFileType()
    {
        QFETCH(QString, text);
        QFETCH(QString, type);
        QCOMPARE(UrlFileType(text), type);
    }

    // The current folder is listed before any subfolder is entered; links are never followed.
    void folderWalk()
    {
        QTemporaryDir dir;
        const QString root = dir.filePath(u"c"_s);
        QVERIFY(writeFile(root + u"/b/z.txt"_s, "z"));
        QVERIFY(writeFile(root + u"/b/x/y.pdf"_s, "y"));
        QVERIFY(writeFile(root + u"/a/.hidden"_s, "h"));
        QVERIFY(writeFile(root + u"/top.doc"_s, "t"));
        QVERIFY(writeFile(root + u"/pagefile.sys"_s, "p"));
        QVERIFY(writeFile(root + u"/RECYCLER/gone.doc"_s, "r"));
        QVERIFY(writeFile(dir.filePath(u"outside/secret.pdf"_s), "s"));
        QVERIFY(QFile::link(dir.filePath(u"outside"_s), root + u"/link"_s));
        QVERIFY(QFile::link(dir.filePath(u"outside/secret.pdf"_s), root + u"/filelink.pdf"_s));

        QStringList folders;
        ListSubfolders(root, folders, false);
        QCOMPARE(folders, (QStringList{native(root + u"/a"_s), native(root + u"/b"_s)}));
        folders.clear();
        ListSubfolders(root, folders, true);
        QCOMPARE(folders,
                 (QStringList{native(root + u"/a"_s), native(root + u"/b"_s), native(root + u"/b/x"_s)}));
        QStringList files;
        ListFilesUnder(root, files, true);
        QCOMPARE(files, (QStringList{native(root + u"/top.doc"_s), native(root + u"/a/.hidden"_s),
                                     native(root + u"/b/z.txt"_s), native(root + u"/b/x/y.pdf"_s)}));
        files.clear();
        ListFilesUnder(dir.filePath(u"missing"_s), files, true);
        QVERIFY(files.isEmpty());
    }

    void locations_data()
    {
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("cache");
        QTest::addColumn<QString>("root");
        QTest::addColumn<QString>("relative");
        QTest::newRow("cache in home")
            << u"/home/ann"_s << u"/home/ann/.cache/Lintbay"_s << u"/home"_s << u".cache/Lintbay"_s;
        QTest::newRow("trailing separators")
            << u"/home/ann/"_s << u"/home/ann/.cache/Lintbay/"_s << u"/home"_s << u".cache/Lintbay"_s;
        QTest::newRow("root's home") << u"/root"_s << u"/root/.cache/Lintbay"_s << u"/"_s
                                     << u".cache/Lintbay"_s;
        QTest::newRow("cache elsewhere") << u"/home/ann"_s << u"/var/cache/x"_s << QString() << QString();
        QTest::newRow("a name sharing the home's start")
            << u"/home/ann"_s << u"/home/anna/.cache"_s << QString() << QString();
    }
    void locations()
    {
        QFETCH(QString, home);
        QFETCH(QString, cache);
        QFETCH(QString, root);
        QFETCH(QString, relative);
        const CacheLocations loc = CacheLocations::forHome(home, cache);
        QCOMPARE(loc.homesRoot, native(root));
        QCOMPARE(loc.relativeCachePath, native(relative));
        QCOMPARE(loc.myCacheFolder, native(QDir::cleanPath(cache)));
    }

    void allUsersListing()
    {
        Homes h;
        UrlCache mine(h.myCache);
        QVERIFY(mine.store(u"http://h/mine.pdf"_s, QByteArray("m")));

        const UserCacheFolders folders = ListUserCacheFolders(h.locations);
        QCOMPARE(folders.profiles.size(), 2);
        QCOMPARE(folders.profiles[0].profile, u"me"_s);
        QCOMPARE(folders.profiles[0].folder, native(h.myCache));
        QCOMPARE(folders.profiles[1].profile, u"other"_s);
        QCOMPARE(folders.profiles[1].folder, native(h.otherCache));
        QVERIFY(folders.subfolders.contains(h.other(u"x1/deep"_s)));
        QVERIFY(folders.subfolders.contains(h.other(u"empty/inner"_s)));

        CacheViewer viewer(h.locations);
        QAbstractItemModelTester tester(viewer.list());
        viewer.showAllUsersCache();
        QCOMPARE(viewer.mode(), u"所有缓存"_s);
        QCOMPARE(viewer.countText(), u"共有6 个文件"_s);
        QCOMPARE(viewer.profiles()->rows().size(), 2);
        QCOMPARE(viewer.subfolders()->rowCount(), int(folders.subfolders.size()));
        const CacheListModel& list = *viewer.list();
        // The program's index (database, log, shared memory) is bookkeeping, not a cached file.
        QVERIFY(QFileInfo::exists(mine.indexPath()));
        for (const QString& path : column(list, CacheListModel::FilePathColumn))
            QVERIFY2(!QFileInfo(path).fileName().startsWith(u"index."_s), qPrintable(path));
        QCOMPARE(list.at(0).text, u"用户:me"_s);
        QCOMPARE(list.at(0).filePath, mine.localFile(u"http://h/mine.pdf"_s));
        const int b = int(column(list, CacheListModel::FilePathColumn).indexOf(h.other(u"x1/b.doc"_s)));
        QVERIFY(b > 0);
        QCOMPARE(list.at(b).text, u"用户:other"_s);
        QCOMPARE(list.at(b).type, u"doc"_s);
        QCOMPARE(list.index(b, CacheListModel::SizeColumn).data().toString(), u"10"_s);

        // Without a place for other homes, only the user's own folder is listed.
        CacheLocations alone = CacheLocations::forHome(h.dir.filePath(u"elsewhere"_s), h.myCache);
        const UserCacheFolders own = ListUserCacheFolders(alone);
        QCOMPARE(own.profiles.size(), 1);
        QCOMPARE(own.profiles[0].folder, native(h.myCache));
    }

    // A cache folder reached through a link in another user's home is not that user's: clearing
    // every user's cache leaves what it leads to alone. The user's own stays wherever it lies.
    void cacheFolderBehindALink()
    {
        Homes h;
        const QString victim = h.dir.filePath(u"victim"_s);
        QVERIFY(writeFile(victim + u"/Lintbay/settings.ini"_s, "mine"));
        QDir().mkpath(h.root + u"/evil"_s);
        QVERIFY(QFile::link(victim, h.root + u"/evil/.cache"_s));
        const QString realCache = h.dir.filePath(u"elsewhere/cache"_s);
        QDir().mkpath(realCache);
        QDir().mkpath(h.root + u"/me2"_s);
        QVERIFY(QFile::link(realCache, h.root + u"/me2/.cache"_s));
        const QString myCache = h.root + u"/me2/.cache/Lintbay"_s;
        UrlCache mine(myCache);
        QVERIFY(mine.store(u"http://h/mine.pdf"_s, QByteArray("m")));

        const CacheLocations locations = CacheLocations::forHome(h.root + u"/me2"_s, myCache);
        QStringList profiles;
        for (const ProfileCache& profile : ListUserCacheFolders(locations).profiles)
            profiles.append(profile.profile);
        QCOMPARE(profiles, (QStringList{u"me2"_s, u"other"_s}));
        QVERIFY(ClearAllCaches(locations) > 0);
        QVERIFY(QFile::exists(victim + u"/Lintbay/settings.ini"_s));
        QVERIFY(!QFile::exists(h.otherCache + u"/a.pdf"_s));
    }

    // A cache folder swapped for a link after the listing: deleting the listed rows leaves what the
    // link leads to alone.
    void cacheFolderSwappedForALinkAfterListing()
    {
        Homes h;
        const QString victim = h.dir.filePath(u"victim"_s);
        QVERIFY(writeFile(victim + u"/a.pdf"_s, "mine"));
        QVERIFY(writeFile(victim + u"/x1/b.doc"_s, "mine too"));
        CacheViewer viewer(h.locations);
        viewer.showAllUsersCache();
        QVERIFY(QDir(h.otherCache).removeRecursively());
        QVERIFY(QFile::link(victim, h.otherCache));
        viewer.deleteAll();
        QVERIFY(QFile::exists(victim + u"/a.pdf"_s));
        QVERIFY(QFile::exists(victim + u"/x1/b.doc"_s));
    }

    void myCacheListing()
    {
        Homes h;
        UrlCache mine(h.myCache);
        QVERIFY(mine.store(u"http://h/a.pdf"_s, QByteArray("12345")));
        QVERIFY(mine.store(u"http://h/gone.doc"_s, QByteArray("x")));
        QVERIFY(QFile::remove(mine.localFile(u"http://h/gone.doc"_s)));

        CacheViewer viewer(h.locations);
        viewer.showMyCache();
        QCOMPARE(viewer.mode(), u"我的缓存"_s);
        QCOMPARE(viewer.countText(), u"共有2 个文件"_s);
        const CacheListModel& list = *viewer.list();
        QCOMPARE(column(list, CacheListModel::UrlColumn),
                 (QStringList{u"http://h/a.pdf"_s, u"http://h/gone.doc"_s}));
        QCOMPARE(column(list, CacheListModel::TypeColumn), (QStringList{u"pdf"_s, u"doc"_s}));
        // A missing cache file leaves the row without size and path.
        QCOMPARE(column(list, CacheListModel::SizeColumn), (QStringList{u"5"_s, QString()}));
        QCOMPARE(list.at(1).filePath, QString());
        QVERIFY(list.at(0).filePath.endsWith(native(u"/a.pdf"_s)));
        QVERIFY(!(list.flags(list.index(0, 0)) & Qt::ItemIsEditable));
    }

    void sorting_data()
    {
        QTest::addColumn<QList<int>>("clicks");
        QTest::addColumn<int>("sortedColumn");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("size: first click descending, as numbers")
            << QList<int>{2} << 2 << QStringList{u"100"_s, u"20"_s, u"9"_s, u"0"_s, QString()};
        QTest::newRow("size: second click ascending")
            << QList<int>{2, 2} << 2 << QStringList{QString(), u"0"_s, u"9"_s, u"20"_s, u"100"_s};
        QTest::newRow("text ignoring case, descending")
            << QList<int>{1} << 1 << QStringList{u"PDF"_s, u"pdf"_s, u"Doc"_s, u"bin"_s, QString()};
        QTest::newRow("the order flips across columns")
            << QList<int>{2, 1} << 1 << QStringList{QString(), u"bin"_s, u"Doc"_s, u"PDF"_s, u"pdf"_s};
    }
    void sorting()
    {
        QFETCH(QList<int>, clicks);
        QFETCH(int, sortedColumn);
        QFETCH(QStringList, expected);
        CacheListModel model;
        QAbstractItemModelTester tester(&model);
        model.setRows({{u"u1"_s, u"PDF"_s, 9, u"/a"_s, {}},
                       {u"u2"_s, u"bin"_s, 100, u"/b"_s, {}},
                       {u"u3"_s, u"Doc"_s, 20, u"/c"_s, {}},
                       {u"u4"_s, QString(), -1, QString(), {}},
                       {u"u5"_s, u"pdf"_s, 0, u"/e"_s, {}}});
        const QPersistentModelIndex tracked = model.index(1, 0); // "u2"
        for (int c : std::as_const(clicks))
            model.sortByColumn(c);
        QCOMPARE(model.sortColumn(), sortedColumn);
        QCOMPARE(column(model, sortedColumn), expected);
        QCOMPARE(tracked.data().toString(), u"u2"_s);
        QCOMPARE(model.headerData(2, Qt::Horizontal).toString(), u"SIZE(Byte)"_s);
    }

    void deletion_data()
    {
        QTest::addColumn<bool>("allUsers");
        QTest::addColumn<bool>("all");
        QTest::addColumn<QStringList>("selectedText");   // rows chosen by their URL or file name
        QTest::addColumn<QStringList>("remainingUrls");  // my cache entries that still have their file
        QTest::addColumn<QStringList>("remainingOther"); // the other profile's files afterwards
        QTest::addColumn<bool>("emptyFolderGone");

        const QStringList allMine{u"Cookie:ann@h/"_s, u"http://h/a.pdf"_s, u"http://h/x.txt"_s,
                                  u"http://h/c.doc"_s};
        const QStringList allOther{u"a.pdf"_s, u"it's cookie.txt"_s, u"keep/note.TXT"_s, u"x1/b.doc"_s,
                                   u"x1/deep/c.PDF"_s};
        QTest::newRow("mine: all but the cookie")
            << false << true << QStringList{} << QStringList{u"Cookie:ann@h/"_s} << allOther << false;
        QTest::newRow("mine: selected")
            << false << false << QStringList{u"http://h/c.doc"_s, u"Cookie:ann@h/"_s}
            << QStringList{u"Cookie:ann@h/"_s, u"http://h/a.pdf"_s, u"http://h/x.txt"_s} << allOther << false;
        QTest::newRow("mine: nothing selected")
            << false << false << QStringList{} << allMine << allOther << false;
        // My own folder is a profile's folder too: its files go by the same rule, through my cache's
        // index, which keeps the cookie's file.
        QTest::newRow("all users: all but .txt files")
            << true << true << QStringList{} << QStringList{u"Cookie:ann@h/"_s, u"http://h/x.txt"_s}
            << QStringList{u"it's cookie.txt"_s, u"keep/note.TXT"_s} << true;
        QTest::newRow("all users: selected")
            << true << false << QStringList{u"x1/deep/c.PDF"_s, u"it's cookie.txt"_s} << allMine
            << QStringList{u"a.pdf"_s, u"it's cookie.txt"_s, u"keep/note.TXT"_s, u"x1/b.doc"_s} << true;
        QTest::newRow("all users: nothing selected still removes empty folders")
            << true << false << QStringList{} << allMine << allOther << true;
    }
    void deletion()
    {
        QFETCH(bool, allUsers);
        QFETCH(bool, all);
        QFETCH(QStringList, selectedText);
        QFETCH(QStringList, remainingUrls);
        QFETCH(QStringList, remainingOther);
        QFETCH(bool, emptyFolderGone);

        Homes h;
        UrlCache mine(h.myCache);
        QVERIFY(mine.store(u"Cookie:ann@h/"_s, QByteArray("c")));
        QVERIFY(mine.store(u"http://h/a.pdf"_s, QByteArray("a")));
        QVERIFY(mine.store(u"http://h/x.txt"_s, QByteArray("x")));
        QVERIFY(mine.store(u"http://h/c.doc"_s, QByteArray("d")));

        CacheViewer viewer(h.locations);
        if (allUsers)
            viewer.showAllUsersCache();
        else
            viewer.showMyCache();
        if (all)
            viewer.deleteAll();
        if (!all) {
            QList<int> rows;
            for (int r = viewer.list()->count() - 1; r >= 0; --r) {
                const CacheRow& row = viewer.list()->at(r);
                for (const QString& s : std::as_const(selectedText)) {
                    if (row.text == s || (row.isUserRow() && row.filePath == h.other(s)))
                        rows.append(r);
                }
            }
            viewer.deleteRows(rows);
        }

        QStringList kept;
        for (const UrlCacheEntry& e : mine.entries()) {
            if (!mine.localFile(e.url).isEmpty())
                kept.append(e.url);
        }
        QCOMPARE(kept, remainingUrls);
        QCOMPARE(urlsOf(mine.entries()), remainingUrls); // no entry is left without its file
        QStringList other;
        ListFilesUnder(h.otherCache, other, true);
        QStringList expectedOther;
        for (const QString& f : std::as_const(remainingOther))
            expectedOther.append(h.other(f));
        other.sort();
        expectedOther.sort();
        QCOMPARE(other, expectedOther);
        QCOMPARE(!QFileInfo::exists(h.other(u"empty"_s)), emptyFolderGone);
        QVERIFY(QFileInfo::exists(h.other(u"keep"_s))); // still holds a file
        // The view was listed again.
        QCOMPARE(viewer.mode(), allUsers ? u"所有缓存"_s : u"我的缓存"_s);
        if (!allUsers)
            QCOMPARE(column(*viewer.list(), CacheListModel::UrlColumn), remainingUrls);
    }

    void clearAllCaches()
    {
        Homes h;
        UrlCache mine(h.myCache);
        QVERIFY(mine.store(u"Cookie:ann@h/"_s, QByteArray("c")));
        QVERIFY(mine.store(u"http://h/a.pdf"_s, QByteArray("a")));
        QVERIFY(mine.store(u"http://h/robots.txt"_s, QByteArray("r")));
        QVERIFY(ClearAllCaches(h.locations) > 0);
        QCOMPARE(urlsOf(mine.entries()), QStringList{u"Cookie:ann@h/"_s});
        QStringList other;
        ListFilesUnder(h.otherCache, other, true);
        other.sort();
        QCOMPARE(other, (QStringList{h.other(u"it's cookie.txt"_s), h.other(u"keep/note.TXT"_s)}));
        QVERIFY(!QFileInfo::exists(h.other(u"x1"_s)));
        QVERIFY(!QFileInfo::exists(h.other(u"empty"_s)));
    }

    void forceDeleteReadOnly()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(u"ro.pdf"_s);
        QVERIFY(writeFile(path, "x"));
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner));
        QVERIFY(强制删除(path));
        QVERIFY(!QFile::exists(path));
        QVERIFY(!强制删除(dir.path())); // never a folder
        QVERIFY(QFileInfo(dir.path()).isDir());
    }
};

QTEST_GUILESS_MAIN(TestUrlCache)
#include "tst_urlcache.moc"
