// The URL cache at 100,000 entries: moving an index.dat of that size into the database, storing one
// more entry (plain, and with an eviction each time the cap is reached), and listing the cache in
// the viewer window's own list ("查看我的缓存", offscreen), column fitting included.
//
// Usage: bench_urlcache [entries] [stores] [cache folder]   (run with QT_QPA_PLATFORM=offscreen)
// Without a folder the cache lies in a temporary folder, on the disk that holds the temporary folder.
#include "Median.h"
#include "TestProgram.h"

#include "tools/CacheListing.h"
#include "tools/CacheViewer.h"
#include "tools/UrlCache.h"
#include "tools/UrlCacheDatabase.h"
#include "tools/fIEcache.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>

#include <cstdio>

using namespace Qt::StringLiterals;
using namespace lintbay;

namespace {

QString bucketOf(const QString& url)
{
    return QString::fromLatin1(QCryptographicHash::hash(url.toUtf8(), QCryptographicHash::Sha1).toHex().left(2));
}

QString urlOf(int i)
{
    return u"http://files%1.example.cn/论文/第%2份/report-%2.pdf?download=1"_s.arg(i % 97).arg(i);
}

// A cache as an earlier version left it: files in their buckets and an index.dat naming them.
void makeOldCache(const QString& folder, int entries)
{
    QByteArray index = "LintbayUrlCache\t1\n";
    const QByteArray body(1024, 'x');
    const qint64 start = 1700000000000;
    for (int i = 0; i < entries; ++i) {
        const QString url = urlOf(i);
        const QString name = bucketOf(url) + u"/report-"_s + QString::number(i) + u".pdf"_s;
        QDir().mkpath(folder + u'/' + name.left(2));
        QFile file(folder + u'/' + name);
        if (!file.open(QIODevice::WriteOnly) || file.write(body) != body.size())
            qFatal("cannot write %s", qPrintable(file.fileName()));
        index += name.toUtf8() + '\t' + QByteArray::number(body.size()) + '\t' + QByteArray::number(start + i) +
                 '\t' + url.toUtf8() + '\n';
    }
    QFile file(folder + u'/' + UrlCache::legacyIndexFileName());
    if (!file.open(QIODevice::WriteOnly) || file.write(index) != index.size())
        qFatal("cannot write the index");
}

struct Timings
{
    QList<double> ms;
    void print(const char* what) const
    {
        QList<double> sorted = ms;
        std::sort(sorted.begin(), sorted.end());
        const double p99 = sorted.isEmpty() ? 0 : sorted.at(qsizetype(sorted.size() * 0.99));
        std::printf("| %s | %d | %.3f | %.3f | %.3f |\n", what, int(ms.size()), median(ms), p99,
                    sorted.isEmpty() ? 0 : sorted.last());
    }
};

Timings storeMany(UrlCache& cache, int first, int count)
{
    Timings t;
    const QByteArray body(1024, 'n');
    for (int i = first; i < first + count; ++i) {
        QElapsedTimer clock;
        clock.start();
        const bool stored = cache.store(urlOf(i), body);
        t.ms.append(clock.nsecsElapsed() / 1e6);
        if (!stored)
            qFatal("store %d failed", i);
    }
    return t;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int entries = args.size() > 1 ? args.at(1).toInt() : 100000;
    const int stores = args.size() > 2 ? args.at(2).toInt() : 1000;

    test::TestProgram program;
    QTemporaryDir temporary;
    const QString folder = args.size() > 3 ? args.at(3) : temporary.filePath(u"cache"_s);
    if (QFileInfo::exists(folder + u'/' + UrlCache::indexFileName()))
        qFatal("%s already holds a cache", qPrintable(folder));
    SetUrlCacheFolder(folder);
    SetCacheLocations(CacheLocations::forHome(temporary.path(), folder));

    std::printf("entries: %d, stores: %d, folder: %s\n\n", entries, stores, qPrintable(folder));
    makeOldCache(folder, entries);

    UrlCache cache(folder);
    QElapsedTimer clock;
    clock.start();
    const qint64 total = cache.totalSize(); // the first use moves index.dat over
    const double moveMs = clock.nsecsElapsed() / 1e6;
    if (total != qint64(entries) * 1024 || QFileInfo::exists(cache.legacyIndexPath()))
        qFatal("index.dat was not moved over");
    std::printf("index.dat of %d entries moved into the database: %.1f ms\n\n", entries, moveMs);

    std::printf("| operation | count | median ms | 99th percentile ms | max ms |\n|---|---:|---:|---:|---:|\n");
    storeMany(cache, entries, stores).print("store 1 KB, new address");
    // A cap at the current size: every store evicts the oldest entry.
    cache.setMaxBytes(cache.totalSize());
    storeMany(cache, entries + stores, stores).print("store 1 KB at the cap (one eviction each)");

    // Its parts: the rows from the database, the rows with their files looked up, the viewer's model.
    Timings reading, rowsWithFiles, viewerModel;
    for (int run = 0; run < 5; ++run) {
        clock.start();
        const qsizetype n = cache.entries().size();
        reading.ms.append(clock.nsecsElapsed() / 1e6);
        clock.start();
        const qsizetype m = MyCacheRows(cache).size();
        rowsWithFiles.ms.append(clock.nsecsElapsed() / 1e6);
        CacheViewer viewer;
        clock.start();
        viewer.showMyCache();
        viewerModel.ms.append(clock.nsecsElapsed() / 1e6);
        if (n != m || viewer.list()->count() != n)
            qFatal("listings differ");
    }
    reading.print("read every entry from the database");
    rowsWithFiles.print("rows with their files' sizes (MyCacheRows)");
    viewerModel.print("viewer model filled (no window)");

    // The viewer window lists the cache, as a click on "查看我的缓存" does, and paints.
    fIEcache window(program.gui);
    window.resize(1000, 700);
    window.show();
    auto* button = window.findChild<QPushButton*>(u"Command1"_s);
    auto* list = window.findChild<QTableView*>(u"ListView1"_s);
    Timings listing;
    for (int run = 0; run < 5; ++run) {
        clock.start();
        button->click();
        QApplication::processEvents();
        listing.ms.append(clock.nsecsElapsed() / 1e6);
    }
    if (list->model()->rowCount() < entries)
        qFatal("the viewer lists %d rows", list->model()->rowCount());
    listing.print("viewer: list every entry (查看我的缓存)");
    std::printf("\n%s\n", qPrintable(window.findChild<QLabel*>(u"Label1"_s)->text()));

    window.close();
    UrlCacheDatabase::closeAll();
    SetCacheLocations({});
    SetUrlCacheFolder({});
    return 0;
}
