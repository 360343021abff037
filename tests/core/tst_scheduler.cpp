#include "TestData.h"
#include "TestHttpServer.h"
#include "controls/NetworkContext.h"
#include "download/DownloadCounters.h"
#include "download/DownloadListModel.h"
#include "download/ListOperations.h"
#include "download/RowFiles.h"
#include "download/Scheduler.h"
#include "download/UrlReplace.h"
#include "tools/UrlCache.h"
#include "util/PathHelpers.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace lintbay;
using namespace lintbay::test;

namespace {
QByteArray pdfBody(int size)
{
    QByteArray body("%PDF-1.4\n");
    body += QByteArray(size - body.size(), 'x');
    return body;
}
} // namespace

class TestScheduler : public QObject
{
    Q_OBJECT
private:
    TestHttpServer m_server;
    QTemporaryDir m_dir;

    void addRows(DownloadListModel& list, const QStringList& paths, const QString& folder)
    {
        int i = 0;
        for (const QString& path : paths)
            list.addItem(m_server.url(path).toString(), u"doc%1"_s.arg(i++), u"pdf"_s, folder, QString());
    }
    QString freshFolder(const QString& name)
    {
        const QString folder = m_dir.filePath(name);
        QDir().mkpath(folder);
        return folder;
    }

private slots:
    void initTestCase()
    {
        SetUrlCacheFolder(m_dir.filePath(u"cache"_s));
        m_server.routePrefix(u"/ok/"_s, [](const TestHttpRequest&) {
            return TestHttpResponse::bytes(pdfBody(4096), "application/pdf");
        });
        m_server.routePrefix(u"/slow/"_s, [](const TestHttpRequest&) {
            auto r = TestHttpResponse::bytes(pdfBody(4096), "application/pdf");
            r.delayMs = 400;
            return r;
        });
        m_server.routePrefix(u"/never/"_s, [](const TestHttpRequest&) { return TestHttpResponse::never(); });
        m_server.serve(u"/landing"_s, TestHttpResponse::html(u"<a href=\"/ok/paper.pdf\">全文</a>"_s));
        // "/held/<size>": a document of that size, trickled over about a second.
        m_server.routePrefix(u"/held/"_s, [](const TestHttpRequest& r) {
            auto response =
                TestHttpResponse::bytes(pdfBody(r.path.section(u'/', 2).toInt()), "application/pdf");
            response.pieceSize = 512;
            response.pieceIntervalMs = 100;
            return response;
        });
    }

    // One start per free slot per tick, in list order.
    void slotsTakeRowsInListOrder()
    {
        NetworkContext net;
        DownloadListModel list;
        addRows(list, {u"/slow/a"_s, u"/slow/b"_s, u"/slow/c"_s, u"/slow/d"_s, u"/slow/e"_s},
                freshFolder(u"order"_s));
        Scheduler s(list, net);
        s.options.downloadMode = DownloadMode::Parallel;
        s.options.threadCount = 3;
        s.options.perHostLimit = 0; // every row is on one host here
        QSignalSpy started(&s, &Scheduler::rowStarted);
        s.timerDownTick();
        QCOMPARE(started.size(), 3);
        QCOMPARE(started.at(0).at(0).toInt(), 0);
        QCOMPARE(started.at(2).at(0).toInt(), 2);
        QCOMPARE(list.countInState(DownloadItemState::Downloading), 3);
        QCOMPARE(s.CountTransferSlots(), 4);
        s.timerDownTick(); // no slot free yet
        QCOMPARE(started.size(), 3);
        QTRY_COMPARE_WITH_TIMEOUT(list.countInState(DownloadItemState::Done), 3, 10000);
        s.timerDownTick();
        QCOMPARE(started.size(), 5);
        QTRY_COMPARE_WITH_TIMEOUT(list.countInState(DownloadItemState::Done), 5, 10000);
        for (int row = 0; row < 5; ++row) {
            QCOMPARE(list.at(row).progress, u"100%"_s);
            QCOMPARE(QFileInfo(list.at(row).filePath()).size(), 4096);
            // What was fetched is kept in the program's URL cache too.
            const QString cached = UrlCache().localFile(list.at(row).key);
            QVERIFY2(!cached.isEmpty(), qPrintable(list.at(row).key));
            QCOMPARE(QFileInfo(cached).size(), 4096);
        }
    }

    // An address replaced while its row downloads: the body is kept in the cache under the address it
    // came from.
    void cacheKeepsTheAddressFetched_data() { stopFailsRunningRowsInBothModes_data(); }
    void cacheKeepsTheAddressFetched()
    {
        QFETCH(int, mode);
        NetworkContext net;
        DownloadListModel list;
        const QString fetched = u"/slow/cached-%1"_s.arg(mode);
        addRows(list, {fetched}, freshFolder(u"cached%1"_s.arg(mode)));
        Scheduler s(list, net);
        s.options.downloadMode = DownloadMode(mode);
        s.timerDownTick();
        QCOMPARE(list.at(0).state, DownloadItemState::Downloading);
        QCOMPARE(replaceInAddresses(list, fetched, u"/elsewhere"_s).keysChanged, 1);
        QTRY_COMPARE_WITH_TIMEOUT(list.at(0).state, DownloadItemState::Done, 10000);
        QVERIFY(!UrlCache().localFile(m_server.url(fetched).toString()).isEmpty());
        QVERIFY(UrlCache().localFile(list.at(0).key).isEmpty());
    }

    void intervalGatesTheNextStart()
    {
        NetworkContext net;
        DownloadListModel list;
        addRows(list, {u"/ok/a"_s, u"/ok/b"_s}, freshFolder(u"interval"_s));
        Scheduler s(list, net);
        s.options.threadCount = 1;
        s.options.intervalSeconds = 1;
        QSignalSpy started(&s, &Scheduler::rowStarted);
        s.timerDownTick(); // under a second since the scheduler was made
        QCOMPARE(started.size(), 0);
        QTest::qWait(1100);
        s.timerDownTick();
        QCOMPARE(started.size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(list.at(0).state, DownloadItemState::Done, 10000);
        s.timerDownTick(); // the transfer just ended
        QCOMPARE(started.size(), 1);
        QTest::qWait(1100);
        s.timerDownTick();
        QCOMPARE(started.size(), 2);
    }

    // Re-queued rows' files go on a pool thread; the first start waits until they are gone, so the
    // new transfer's file is never removed as the old one.
    void requeuedFilesGoBeforeAnyStart()
    {
        NetworkContext net;
        DownloadListModel list;
        const QString folder = freshFolder(u"requeue"_s);
        addRows(list, {u"/ok/a"_s, u"/ok/b"_s}, folder);
        for (int row = 0; row < 2; ++row) {
            list.setState(row, DownloadItemState::Done);
            list.setTransferColumns(row, u"3"_s, u"3"_s, u"100%"_s);
            QFile file(list.at(row).filePath());
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write("old") == 3);
        }
        Scheduler s(list, net);
        s.options.threadCount = 2;
        QSignalSpy started(&s, &Scheduler::rowStarted);
        QCOMPARE(s.requeue(RequeueRule::Selected, {0, 1}), 2);
        QCOMPARE(list.countInState(DownloadItemState::Waiting), 2);
        QVERIFY(s.removingFiles());
        s.timerDownTick();
        QCOMPARE(started.size(), 0);
        QTRY_VERIFY(!s.removingFiles());
        QVERIFY(QDir(folder).entryList(QDir::Files).isEmpty());
        s.timerDownTick();
        QCOMPARE(started.size(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(list.countInState(DownloadItemState::Done), 2, 10000);
        for (int row = 0; row < 2; ++row)
            QCOMPARE(QFileInfo(list.at(row).filePath()).size(), 4096);
    }

    void skipPolicyFinishesRowsWithoutASlot()
    {
        NetworkContext net;
        DownloadListModel list;
        const QString folder = freshFolder(u"skip"_s);
        addRows(list, {u"/ok/a"_s, u"/ok/b"_s, u"/ok/c"_s}, folder);
        for (int row : {0, 1}) {
            QFile existing(list.at(row).filePath());
            QVERIFY(existing.open(QIODevice::WriteOnly));
            existing.write("old");
        }
        Scheduler s(list, net);
        s.options.threadCount = 1;
        s.options.policy = NamePolicy::Skip;
        QSignalSpy started(&s, &Scheduler::rowStarted);
        s.timerDownTick();
        QCOMPARE(started.size(), 1);
        QCOMPARE(started.at(0).at(0).toInt(), 2);
        QCOMPARE(list.at(0).state, DownloadItemState::Done);
        QCOMPARE(list.at(0).progress, u"已存在，跳过"_s);
        QCOMPARE(list.at(1).progress, u"已存在，跳过"_s);
        QTRY_COMPARE_WITH_TIMEOUT(list.at(2).state, DownloadItemState::Done, 10000);
    }

    void singleModeOneAtATime()
    {
        NetworkContext net;
        DownloadListModel list;
        addRows(list, {u"/slow/a"_s, u"/slow/b"_s}, freshFolder(u"single"_s));
        Scheduler s(list, net);
        s.options.downloadMode = DownloadMode::Single;
        QSignalSpy started(&s, &Scheduler::rowStarted);
        s.timerDownTick();
        QCOMPARE(started.size(), 1);
        QVERIFY(s.busyFlag());
        s.timerDownTick(); // busy: nothing more
        QCOMPARE(started.size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(list.at(0).state, DownloadItemState::Done, 10000);
        QVERIFY(!s.busyFlag());
        s.timerDownTick();
        QCOMPARE(started.size(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(list.at(1).state, DownloadItemState::Done, 10000);
    }

    void stopFailsRunningRowsInBothModes_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("single transfer") << 1;
        QTest::newRow("parallel slots") << 2;
    }
    void stopFailsRunningRowsInBothModes()
    {
        QFETCH(int, mode);
        NetworkContext net;
        DownloadListModel list;
        const QString folder = freshFolder(u"stop%1"_s.arg(mode));
        addRows(list, {u"/never/a"_s, u"/never/b"_s}, folder);
        Scheduler s(list, net);
        s.options.downloadMode = DownloadMode(mode);
        s.options.threadCount = 2;
        s.options.autoStart = s.options.autoRedownload = true;
        QSignalSpy cleared(&s, &Scheduler::automaticModesCleared);
        s.StartDownloads();
        s.timerDownTick();
        QVERIFY(list.countInState(DownloadItemState::Downloading) >= 1);
        QTest::qWait(100);
        s.StopDownloads();
        QCOMPARE(list.countInState(DownloadItemState::Downloading), 0);
        QCOMPARE(list.countInState(DownloadItemState::Failed), mode == 1 ? 1 : 2);
        for (int row : list.rowsInState(DownloadItemState::Failed))
            QCOMPARE(list.at(row).reason, u"下载已取消"_s);
        QVERIFY(!s.Timer_Down->isActive());
        QVERIFY(!s.busyFlag());
        QCOMPARE(s.CountTransferSlots(), 1);
        QCOMPARE(cleared.size(), 1);
        QVERIFY(!s.options.autoStart && !s.options.autoRedownload);
        QTest::qWait(100);
        // No partial file keeps a final name.
        const QStringList left = QDir(folder).entryList(QDir::Files);
        for (const QString& name : left)
            QVERIFY2(QFileInfo(QDir(folder).filePath(name)).size() <= 2, qPrintable(name));
    }

    // Each ending leaves its reason in its own row, in both modes, and a row that ends well keeps none
    // (not even one from an earlier attempt): a document behind a landing page, an error page, a host
    // that refuses.
    void reasonsInBothModes_data() { stopFailsRunningRowsInBothModes_data(); }
    void reasonsInBothModes()
    {
        QFETCH(int, mode);
        NetworkContext net;
        DownloadListModel list;
        const QString folder = freshFolder(u"reasons%1"_s.arg(mode));
        addRows(list, {u"/landing"_s, u"/missing"_s}, folder);
        list.addItem(u"http://127.0.0.1:1/refused"_s, u"doc2"_s, u"pdf"_s, folder, {});
        for (int row = 0; row < list.count(); ++row)
            list.setReason(row, u"an earlier attempt"_s);
        Scheduler s(list, net);
        s.options.downloadMode = DownloadMode(mode);
        s.options.threadCount = 3;
        for (int i = 0; i < 3 && list.countInState(DownloadItemState::Waiting) > 0; ++i) {
            s.timerDownTick();
            QTRY_VERIFY_WITH_TIMEOUT(!s.busyFlag() && s.CountTransferSlots() == 1, 10000);
        }
        QCOMPARE(list.at(0).state, DownloadItemState::Done);
        QCOMPARE(list.at(0).type, u"pdf"_s);
        QCOMPARE(list.at(0).reason, QString());
        QCOMPARE(list.at(1).state, DownloadItemState::Done);
        QCOMPARE(list.at(1).reason, u"HTTP 404（未找到）"_s);
        QCOMPARE(list.at(2).state, DownloadItemState::Failed);
        QCOMPARE(list.at(2).reason, u"无法连接服务器：服务器拒绝连接"_s);
    }

    // With "stop after five failures or web pages" the scheduler goes off while slots still run,
    // and the next supervision tick lowers the busy flag, which lets the list be reordered. Every
    // result must still land in its own row, and a row that leaves the list ends its transfer.
    void resultsLandInTheirOwnRows_data()
    {
        QTest::addColumn<QString>("operation");
        for (const char* operation :
             {"sort", "shuffle", "remove another row", "requeue", "remove a running row"})
            QTest::newRow(operation) << QString::fromLatin1(operation);
    }
    void resultsLandInTheirOwnRows()
    {
        QFETCH(QString, operation);
        NetworkContext net;
        DownloadListModel list;
        const QString folder = freshFolder(u"own-rows-"_s + operation);
        for (int i = 0; i < 5; ++i)
            list.addItem(u"http://x/page%1"_s.arg(i), u"a-page%1"_s.arg(i), u"htm"_s, folder, {},
                         DownloadItemState::Done);
        const QString keyA = m_server.url(u"/held/3000"_s).toString();
        const QString keyB = m_server.url(u"/held/5000"_s).toString();
        list.addItem(keyA, u"z-first"_s, u"pdf"_s, folder, {});
        list.addItem(keyB, u"y-second"_s, u"pdf"_s, folder, {});
        Scheduler s(list, net);
        s.options.threadCount = 2;
        s.options.stopAfterFailures = true;
        s.StartDownloads();
        s.timerDownTick();
        QCOMPARE(s.CountTransferSlots(), 3);
        s.timer1Tick(); // five web pages: the scheduler goes off, the slots go on
        s.timer1Tick(); // and the busy flag goes down
        QVERIFY(!s.Timer_Down->isActive());
        QVERIFY(!s.IsDownloading());

        if (operation == u"sort"_s) {
            const DownloadActivity activity{s.IsDownloadBusy(), s.IsDownloading(), s.busyFlag()};
            QVERIFY(!SortByColumn(list, DownloadListModel::NameColumn, activity).refused());
            QCOMPARE(list.at(0).name, u"z-first"_s); // the first click sorts descending
        } else if (operation == u"shuffle"_s) {
            QRandomGenerator generator(7);
            list.shuffle(generator);
        } else if (operation == u"remove another row"_s) {
            list.removeRowsAt({list.rowOfKey(u"http://x/page0"_s), list.rowOfKey(u"http://x/page3"_s)});
        } else if (operation == u"requeue"_s) {
            QCOMPARE(RequeueRows(list, RequeueRule::WebPages), 5);
        } else {
            list.removeRowsAt({list.rowOfKey(keyA)});
            QCOMPARE(s.CountTransferSlots(), 2);
        }
        QTRY_COMPARE_WITH_TIMEOUT(s.CountTransferSlots(), 1, 15000);

        const bool aRemoved = operation == u"remove a running row"_s;
        QCOMPARE(list.rowOfKey(keyA) >= 0, !aRemoved);
        for (const DownloadItem& item : list.rows()) {
            const qint64 size = item.key == keyA ? 3000 : item.key == keyB ? 5000 : 0;
            if (size == 0) {
                // Not one of the transfers: nothing was written into it.
                QVERIFY2(item.size.isEmpty() && item.progress.isEmpty(), qPrintable(item.key));
                continue;
            }
            QCOMPARE(item.state, DownloadItemState::Done);
            QCOMPARE(item.size, QString::number(size));
            QCOMPARE(item.progress, u"100%"_s);
            QCOMPARE(QFileInfo(item.filePath()).size(), size);
        }
        // The removed row's transfer left nothing behind.
        if (aRemoved)
            QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{u"y-second.pdf"_s});
    }

    // A save folder that is not a full path would put files wherever the program was started, and one
    // with a folder name that cleans away to nothing into a folder above the one chosen: the row
    // fails, in both modes, and nothing is made anywhere.
    void unusableFolderFailsAndMakesNothing_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("folder"); // under the working folder when it starts with "/"
        QTest::addColumn<QString>("reason"); // empty: any
        for (int mode : {1, 2}) {
            const QByteArray name = mode == 1 ? "single transfer" : "parallel slots";
            QTest::newRow(name + ", relative") << mode << u"docs/sub"_s << QString();
            QTest::newRow(name + ", unusable name")
                << mode << u"/docs/<>/sub"_s << kFolderNameErrorText.toString();
        }
    }
    void unusableFolderFailsAndMakesNothing()
    {
        QFETCH(int, mode);
        QFETCH(QString, folder);
        QFETCH(QString, reason);
        const QString workingFolder = freshFolder(u"working%1"_s.arg(mode));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(workingFolder));
        NetworkContext net;
        DownloadListModel list;
        if (folder.startsWith(u'/'))
            folder = workingFolder + folder;
        list.addItem(m_server.url(u"/ok/rel"_s).toString(), u"rel"_s, u"pdf"_s, folder, QString());
        Scheduler s(list, net);
        s.options.downloadMode = DownloadMode(mode);
        QSignalSpy started(&s, &Scheduler::rowStarted);
        s.timerDownTick();
        QDir::setCurrent(before);
        QCOMPARE(started.size(), 0);
        QCOMPARE(list.at(0).state, DownloadItemState::Failed);
        QVERIFY(!list.at(0).reason.isEmpty());
        if (!reason.isEmpty())
            QCOMPARE(list.at(0).reason, reason);
        QVERIFY(QDir(workingFolder).isEmpty());
    }

    // A host with its fill of transfers is passed over for the next row of another host, in list
    // order otherwise; its next row starts once one of its transfers has ended.
    void politeToEachHost()
    {
        NetworkContext net;
        DownloadListModel list;
        const QString folder = freshFolder(u"hosts"_s);
        const QString other = u"http://localhost:%1"_s.arg(m_server.port()); // the same server, another host
        list.addItem(m_server.url(u"/held/1000"_s).toString(), u"a1"_s, u"pdf"_s, folder, {});
        list.addItem(m_server.url(u"/held/1001"_s).toString(), u"a2"_s, u"pdf"_s, folder, {});
        list.addItem(other + u"/held/1002"_s, u"b1"_s, u"pdf"_s, folder, {});
        list.addItem(m_server.url(u"/ok/a3"_s).toString(), u"a3"_s, u"pdf"_s, folder, {});
        Scheduler s(list, net);
        s.options.threadCount = 3;
        s.options.perHostLimit = 1;
        QSignalSpy started(&s, &Scheduler::rowStarted);
        s.timerDownTick();
        QCOMPARE(started.size(), 2);
        QCOMPARE(started.at(0).at(0).toInt(), 0);
        QCOMPARE(started.at(1).at(0).toInt(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(list.at(0).state, DownloadItemState::Done, 10000);
        s.timerDownTick();
        QCOMPARE(started.size(), 3);
        QCOMPARE(started.at(2).at(0).toInt(), 1); // a2 before a3: list order
    }

    // A switch of the way while a transfer runs applies to the next pick: it waits for the transfer
    // and then starts at once.
    void modeSwitchDuringATransfer_data()
    {
        QTest::addColumn<DownloadMode>("from");
        QTest::newRow("slots to single") << DownloadMode::Parallel;
        QTest::newRow("single to slots") << DownloadMode::Single;
    }
    void modeSwitchDuringATransfer()
    {
        QFETCH(DownloadMode, from);
        NetworkContext net;
        DownloadListModel list;
        addRows(list, {u"/held/2000"_s, u"/ok/b"_s}, freshFolder(u"switch%1"_s.arg(int(from))));
        Scheduler s(list, net);
        s.options.threadCount = 1;
        s.options.downloadMode = from;
        QSignalSpy started(&s, &Scheduler::rowStarted);
        s.StartDownloads();
        s.timerDownTick();
        QCOMPARE(started.size(), 1);
        s.options.downloadMode = from == DownloadMode::Single ? DownloadMode::Parallel : DownloadMode::Single;
        s.timer1Tick();
        s.timerDownTick(); // the slot still runs
        QCOMPARE(started.size(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(list.at(0).state, DownloadItemState::Done, 10000);
        s.timer1Tick();
        s.timerDownTick();
        QCOMPARE(started.size(), 2);
        QTRY_COMPARE_WITH_TIMEOUT(list.at(1).state, DownloadItemState::Done, 10000);
    }

    // A server that asks for time gets it: the row waits again, not as a failure and not finished,
    // its Progress counting down on the supervision tick until it is plain waiting and picked again.
    // One that keeps asking is put off only so often; then its answer is taken as it comes.
    void busyServerIsAskedAgainLater_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("retryAfter"); // "{date+90}": a date 90 s after the answer's Date
        QTest::addColumn<int>("seconds");           // the wait shown
        // The first answer has no length, so the body is asked for again to be taken whole: the
        // busy answer comes to that second request (mode 1 fetches whole after an answer that is
        // not 200, mode 2 after any).
        QTest::addColumn<bool>("wholeFirst");
        for (int mode : {1, 2}) {
            QTest::addRow("mode %d: 503, seconds", mode) << mode << 503 << QByteArray("30") << 30 << false;
            QTest::addRow("mode %d: 503, a date", mode)
                << mode << 503 << QByteArray("{date+90}") << 90 << false;
            QTest::addRow("mode %d: 429, capped at an hour", mode)
                << mode << 429 << QByteArray("7200") << 3600 << false;
            QTest::addRow("mode %d: 503 naming no time: the host's back-off", mode)
                << mode << 503 << QByteArray() << 5 << false;
            QTest::addRow("mode %d: 503 to the body asked for whole", mode)
                << mode << 503 << QByteArray("30") << 30 << true;
        }
    }
    void busyServerIsAskedAgainLater()
    {
        QFETCH(int, mode);
        QFETCH(int, status);
        QFETCH(QByteArray, retryAfter);
        QFETCH(int, seconds);
        QFETCH(bool, wholeFirst);
        const QString path = u"/busy/%1-%2-%3-%4"_s.arg(mode).arg(status).arg(seconds).arg(wholeFirst);
        int asked = 0;
        m_server.route(path, [&](const TestHttpRequest&) {
            if (wholeFirst && ++asked == 1) {
                auto first = TestHttpResponse::html(QByteArray("<html><body><h1>Oops</h1></body></html>"));
                first.status = mode == 1 ? 500 : 200;
                first.framing = TestHttpResponse::Framing::Chunked;
                return first;
            }
            auto busy = TestHttpResponse::html(QByteArray("<html><body><h1>Busy</h1></body></html>"));
            busy.status = status;
            const QDateTime now = QDateTime::currentDateTimeUtc().addDays(-3); // the server's clock is off
            const QString format = u"ddd, dd MMM yyyy hh:mm:ss 'GMT'"_s;
            busy.withHeader("Date", QLocale::c().toString(now, format).toLatin1());
            if (retryAfter == "{date+90}")
                busy.withHeader("Retry-After", QLocale::c().toString(now.addSecs(90), format).toLatin1());
            else if (!retryAfter.isEmpty())
                busy.withHeader("Retry-After", retryAfter);
            return busy;
        });
        NetworkContext net;
        DownloadListModel list;
        list.addItem(m_server.url(path).toString(), u"busy"_s, u"pdf"_s, freshFolder(path.mid(1)), {});
        Scheduler s(list, net);
        s.options.downloadMode = DownloadMode(mode);
        s.options.threadCount = 1;
        qint64 now = 1000000;
        s.retries().setClock([&now] { return now; });
        s.retries().timing.maxDeferrals = 1;
        const auto requests = [&] { return m_server.requestsTo(path).size() - int(wholeFirst); };

        s.timerDownTick();
        QTRY_COMPARE_WITH_TIMEOUT(list.at(0).progress, u"%1秒后重试"_s.arg(seconds), 10000);
        QCOMPARE(list.at(0).state, DownloadItemState::Waiting);
        QCOMPARE(QDir(list.at(0).folder).entryList(QDir::Files | QDir::Hidden), QStringList());
        QCOMPARE(list.at(0).name + u'.' + list.at(0).type, u"busy.pdf"_s); // as given, whatever came first
        QVERIFY(list.at(0).reason.endsWith(u"，稍后重试"_s));
        QVERIFY(!检测是否下载列表完毕(list));
        QCOMPARE(CountFailedAndPageRows(list), 0);
        QTRY_COMPARE(s.CountTransferSlots() + int(s.singleTransferRunning()), 1);
        s.timerDownTick(); // not before its time
        QCOMPARE(requests(), 1);
        now += 2000;
        s.timer1Tick();
        QCOMPARE(list.at(0).progress, u"%1秒后重试"_s.arg(seconds - 2));
        now += qint64(seconds - 2) * 1000;
        s.timerDownTick();
        QCOMPARE(requests(), 1);
        s.timer1Tick();
        QCOMPARE(list.at(0).progress, QString()); // plain waiting
        s.timerDownTick();
        // Asked again, it answers the same: this time the page is what came.
        QTRY_COMPARE_WITH_TIMEOUT(list.at(0).state, DownloadItemState::Done, 10000);
        QCOMPARE(requests(), 2);
        QVERIFY(isPageType(list.at(0).type));
        QVERIFY2(list.at(0).reason.startsWith(u"HTTP %1"_s.arg(status)), qPrintable(list.at(0).reason));
    }

    // A row the user cancels while it waits for its server takes no wait along when put back.
    void cancelledRowForgetsItsWait()
    {
        const QString path = u"/busy/cancelled"_s;
        m_server.route(path, [](const TestHttpRequest&) {
            auto busy = TestHttpResponse::html(QByteArray("<html><body><h1>Busy</h1></body></html>"));
            busy.status = 429;
            busy.withHeader("Retry-After", "7200");
            return busy;
        });
        NetworkContext net;
        DownloadListModel list;
        list.addItem(m_server.url(path).toString(), u"busy"_s, u"pdf"_s, freshFolder(u"cancelled"_s), {});
        Scheduler s(list, net);
        s.options.downloadMode = DownloadMode::Parallel;
        s.options.threadCount = 1;
        qint64 now = 1000000;
        s.retries().setClock([&now] { return now; });
        s.timerDownTick();
        QTRY_COMPARE_WITH_TIMEOUT(list.at(0).progress, u"3600秒后重试"_s, 10000);
        QCOMPARE(cancelSelectedRows(list, {0}, {}).rows, 1);
        s.timer1Tick();
        QCOMPARE(list.at(0).progress, QString());
        QCOMPARE(s.requeue(RequeueRule::Failed), 1);
        now += 60000; // past the host's own back-off
        s.timerDownTick();
        QTRY_COMPARE_WITH_TIMEOUT(m_server.requestsTo(path).size(), 2, 10000);
    }

    // A host that answers with server errors is left alone for doubling times, its rows passed over
    // for those of other hosts, until it answers well again.
    void hostAnsweringServerErrorsIsLeftAlone_data() { stopFailsRunningRowsInBothModes_data(); }
    void hostAnsweringServerErrorsIsLeftAlone()
    {
        QFETCH(int, mode);
        int answered = 0;
        m_server.routePrefix(u"/flaky/"_s, [&](const TestHttpRequest&) {
            if (++answered > 2)
                return TestHttpResponse::bytes(pdfBody(2048), "application/pdf");
            auto error = TestHttpResponse::html(QByteArray("<html><body><h1>Oops</h1></body></html>"));
            error.status = answered == 1 ? 500 : 502;
            return error;
        });
        NetworkContext net;
        DownloadListModel list;
        const QString folder = freshFolder(u"flaky%1"_s.arg(mode));
        for (const QString& name : {u"a1"_s, u"a2"_s, u"a3"_s, u"a4"_s})
            list.addItem(m_server.url(u"/flaky/"_s + name).toString(), name, u"pdf"_s, folder, {});
        list.addItem(u"http://localhost:%1/ok/b1"_s.arg(m_server.port()), u"b1"_s, u"pdf"_s, folder, {});
        Scheduler s(list, net);
        s.options.downloadMode = DownloadMode(mode);
        s.options.threadCount = 1;
        qint64 now = 0;
        s.retries().setClock([&now] { return now; });
        QStringList started;
        connect(&s, &Scheduler::rowStarted, this, [&](int row) { started << list.at(row).name; });
        const auto step = [&](qint64 at) {
            now = at;
            s.timerDownTick();
            QTRY_VERIFY_WITH_TIMEOUT(!s.busyFlag() && s.CountTransferSlots() == 1, 10000);
        };
        step(0);     // a1: 500, the host waits 5 s
        step(0);     // b1 of another host goes first
        step(4999);  // a2 waits
        step(5000);  // a2: 502, the host waits 10 s
        step(14999); // a3 waits
        step(15000); // a3: fine, which ends the wait
        step(15000); // a4 at once
        QCOMPARE(started, QStringList({u"a1"_s, u"b1"_s, u"a2"_s, u"a3"_s, u"a4"_s}));
        QCOMPARE(list.at(3).state, DownloadItemState::Done);
        QCOMPARE(list.at(3).type, u"pdf"_s);
    }

    // Result addresses all lead through the engine's redirect host: the rules for hosts go by the
    // server that answers. The redirect host neither caps the slots nor pays for a document server's
    // errors; a row that server failed waits with it when fetched again.
    void hostsAreTheServersThatAnswer()
    {
        const QString other = u"http://localhost:%1/"_s.arg(m_server.port());
        m_server.routePrefix(u"/go/"_s, [other](const TestHttpRequest& r) {
            return TestHttpResponse::redirect((other + r.path.section(u'/', 2)).toUtf8());
        });
        m_server.routePrefix(u"/down/"_s, [](const TestHttpRequest&) {
            auto error = TestHttpResponse::html(QByteArray("<html><body><h1>Oops</h1></body></html>"));
            error.status = 500;
            return error;
        });
        NetworkContext net;
        DownloadListModel list;
        addRows(list, {u"/go/held/6000"_s, u"/go/held/6001"_s, u"/go/held/6002"_s}, freshFolder(u"via"_s));
        Scheduler s(list, net);
        s.options.downloadMode = DownloadMode::Parallel;
        s.options.threadCount = 3;
        s.options.perHostLimit = 2;
        QSignalSpy started(&s, &Scheduler::rowStarted);
        s.timerDownTick(); // two on the redirect host
        QCOMPARE(started.size(), 2);
        // Once both are with the document server, the third may start.
        QTRY_VERIFY((s.timerDownTick(), started.size() == 3));
        QTRY_COMPARE_WITH_TIMEOUT(list.countInState(DownloadItemState::Done), 3, 10000);

        DownloadListModel second;
        const QString folder = freshFolder(u"via2"_s);
        addRows(second, {u"/go/down/a"_s, u"/ok/b"_s}, folder);
        Scheduler t(second, net);
        t.options.threadCount = 1;
        qint64 now = 0;
        t.retries().setClock([&now] { return now; });
        QStringList startedNames;
        connect(&t, &Scheduler::rowStarted, this, [&](int row) { startedNames << second.at(row).name; });
        const auto step = [&](qint64 at) {
            now = at;
            t.timerDownTick();
            QTRY_VERIFY_WITH_TIMEOUT(!t.busyFlag() && t.CountTransferSlots() == 1, 10000);
        };
        step(0); // a: 500 from the document server
        step(0); // b, on the redirect host, at once
        QCOMPARE(startedNames, QStringList({u"doc0"_s, u"doc1"_s}));
        second.setState(0, DownloadItemState::Waiting);
        step(4999); // a waits with its server
        QCOMPARE(startedNames.size(), 2);
        step(5000);
        QCOMPARE(startedNames.size(), 3);
    }

    // Under 跳过, a row named as a running slot's file waits for it and is judged by the document,
    // not by the placeholder that claims the name meanwhile; so does the single transfer the user
    // switches to while a stop lets the slot finish.
    void sameNameWaitsForTheRunningSlot_data()
    {
        QTest::addColumn<bool>("switchToSingle");
        QTest::newRow("another slot") << false;
        QTest::newRow("the single transfer") << true;
    }
    void sameNameWaitsForTheRunningSlot()
    {
        QFETCH(bool, switchToSingle);
        NetworkContext net;
        DownloadListModel list;
        const QString folder = freshFolder(u"samename%1"_s.arg(switchToSingle));
        for (int i = 0; i < 2; ++i)
            list.addItem(m_server.url(u"/held/3000?%1"_s.arg(i)).toString(), u"same"_s, u"pdf"_s, folder, {});
        Scheduler s(list, net);
        s.options.downloadMode = DownloadMode::Parallel;
        s.options.threadCount = switchToSingle ? 1 : 2;
        s.options.policy = NamePolicy::Skip;
        s.timerDownTick();
        if (switchToSingle) {
            // Five failures stop the downloads; the running slot goes on.
            for (int i = 0; i < 5; ++i) {
                QVERIFY(
                    list.addItem(u"http://failed.test/%1"_s.arg(i), u"f%1"_s.arg(i), u"pdf"_s, folder, {}));
                list.setState(list.count() - 1, DownloadItemState::Failed);
            }
            s.options.stopAfterFailures = true;
            s.timer1Tick();
            s.timer1Tick();
            QCOMPARE(s.CountTransferSlots(), 2);
            s.options.stopAfterFailures = false;
            s.options.downloadMode = DownloadMode::Single;
            s.StartDownloads();
            s.timerDownTick();
        }
        QCOMPARE(list.at(1).state, DownloadItemState::Waiting);
        QTRY_COMPARE_WITH_TIMEOUT(list.at(0).state, DownloadItemState::Done, 10000);
        s.timerDownTick();
        QCOMPARE(list.at(1).state, DownloadItemState::Done);
        QCOMPARE(list.at(1).size, u"3000"_s);
    }

    // A file the user saves over a slot's placeholder while the body comes is replaced only under 覆盖;
    // otherwise the body takes the next free name.
    void fileSavedOverThePlaceholder_data()
    {
        QTest::addColumn<int>("policy");
        QTest::addColumn<bool>("replaced");
        QTest::newRow("重命名") << int(NamePolicy::Rename) << false;
        QTest::newRow("跳过") << int(NamePolicy::Skip) << false;
        QTest::newRow("覆盖") << int(NamePolicy::Overwrite) << true;
    }
    void fileSavedOverThePlaceholder()
    {
        QFETCH(int, policy);
        QFETCH(bool, replaced);
        NetworkContext net;
        DownloadListModel list;
        list.addItem(m_server.url(u"/held/3000"_s).toString(), u"mine"_s, u"pdf"_s,
                     freshFolder(u"saved-over%1"_s.arg(policy)), {});
        Scheduler s(list, net);
        s.options.downloadMode = DownloadMode::Parallel;
        s.options.threadCount = 1;
        s.options.policy = NamePolicy(policy);
        s.timerDownTick();
        const QString claimed = list.at(0).filePath();
        QTRY_COMPARE(QFileInfo(claimed).size(), 2);
        QVERIFY(QFile::remove(claimed));
        QVERIFY(writeFile(claimed, "the user's own"));
        QTRY_COMPARE_WITH_TIMEOUT(list.at(0).state, DownloadItemState::Done, 10000);
        QCOMPARE(readFile(claimed), replaced ? pdfBody(3000) : QByteArray("the user's own"));
        QCOMPARE(readFile(list.at(0).filePath()), pdfBody(3000));
    }

    // The same document under two titles: the later row says which row it repeats, or its file goes
    // when asked (the row stays finished). A row that leaves the list takes its digest along.
    void sameDocumentTwice_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("deleteDuplicates");
        for (int mode : {1, 2}) {
            QTest::addRow("mode %d: told", mode) << mode << false;
            QTest::addRow("mode %d: removed", mode) << mode << true;
        }
    }
    void sameDocumentTwice()
    {
        QFETCH(int, mode);
        QFETCH(bool, deleteDuplicates);
        m_server.routePrefix(u"/copy/"_s, [](const TestHttpRequest& r) {
            const int size = r.path.endsWith(u"other"_s) ? 3000 : 5000;
            return TestHttpResponse::bytes(pdfBody(size), "application/pdf");
        });
        NetworkContext net;
        DownloadListModel list;
        addRows(list, {u"/copy/first"_s, u"/copy/other"_s, u"/copy/again"_s},
                freshFolder(u"copies%1%2"_s.arg(mode).arg(deleteDuplicates)));
        Scheduler s(list, net);
        s.options.downloadMode = DownloadMode(mode);
        s.options.threadCount = 1;
        s.options.deleteDuplicates = deleteDuplicates;
        for (int i = 0; i < 3; ++i) {
            s.timerDownTick();
            QTRY_VERIFY_WITH_TIMEOUT(!s.busyFlag() && s.CountTransferSlots() == 1, 10000);
        }
        QCOMPARE(list.countInState(DownloadItemState::Done), 3);
        QCOMPARE(list.at(0).reason, QString());
        QCOMPARE(list.at(1).reason, QString());
        // The files are compared beside the scheduler.
        QTRY_COMPARE(list.at(2).reason,
                     deleteDuplicates ? u"与「doc0」是同一个文件，已删除"_s : u"与「doc0」是同一个文件"_s);
        QVERIFY(QFileInfo::exists(list.at(0).filePath()));
        QCOMPARE(QFileInfo::exists(list.at(2).filePath()), !deleteDuplicates);
        // A file that goes is no longer the row's: a later one may take its name. The row is not
        // one to download.
        QCOMPARE(ownsFileAtPath(list.at(2)), !deleteDuplicates);
        QCOMPARE(统计未下载项数目(list), 0);

        const quint64 first = list.idOf(0);
        QVERIFY(!s.files().digestOf(first).isEmpty());
        list.removeRowsAt({0});
        QVERIFY(s.files().digestOf(first).isEmpty());
    }

    // The comparison runs beside the scheduler; a row that changed before its verdict came takes
    // none, and with removal asked for no file goes for a row whose look-alike is gone.
    void duplicateVerdictAfterChanges_data()
    {
        QTest::addColumn<QString>("meanwhile");
        QTest::addColumn<bool>("told");
        QTest::newRow("nothing") << u"nothing"_s << true;
        QTest::newRow("first row removed") << u"remove"_s << false;
        QTest::newRow("first row's file deleted") << u"delete"_s << false;
        QTest::newRow("first row waiting again") << u"requeue"_s << false;
    }
    void duplicateVerdictAfterChanges()
    {
        QFETCH(QString, meanwhile);
        QFETCH(bool, told);
        m_server.routePrefix(u"/twin/"_s, [](const TestHttpRequest&) {
            return TestHttpResponse::bytes(pdfBody(4000), "application/pdf");
        });
        NetworkContext net;
        DownloadListModel list;
        addRows(list, {u"/twin/a"_s, u"/twin/b"_s}, freshFolder(u"twins-"_s + meanwhile));
        Scheduler s(list, net);
        s.options.threadCount = 1;
        s.options.deleteDuplicates = true;
        s.timerDownTick();
        QTRY_VERIFY_WITH_TIMEOUT(!s.busyFlag() && s.CountTransferSlots() == 1, 10000);
        // The comparison is held until the second row has ended, then runs; its verdict waits for
        // this thread, and the list changes before it comes.
        QSemaphore release;
        s.comparePool()->start([&release] { release.acquire(); });
        s.timerDownTick();
        QTRY_VERIFY_WITH_TIMEOUT(!s.busyFlag() && s.CountTransferSlots() == 1, 10000);
        QCOMPARE(list.countInState(DownloadItemState::Done), 2);
        const QString firstFile = list.at(0).filePath();
        const QString secondFile = list.at(1).filePath();
        release.release();
        QVERIFY(s.comparePool()->waitForDone(10000));
        if (meanwhile == u"remove"_s)
            list.removeRowsAt({0});
        else if (meanwhile == u"delete"_s)
            QVERIFY(QFile::remove(firstFile));
        else if (meanwhile == u"requeue"_s)
            list.editRows({0}, [](int, DownloadItem& row) {
                row.state = DownloadItemState::Waiting;
                return true;
            });
        QTest::qWait(100); // the verdict's turn on this thread
        const int second = list.count() - 1;
        QCOMPARE(list.at(second).reason, told ? u"与「doc0」是同一个文件，已删除"_s : QString());
        QCOMPARE(QFileInfo::exists(secondFile), !told);
    }

    void supervisionStopsAfterFiveWebPagesOrFailures()
    {
        NetworkContext net;
        DownloadListModel list;
        for (int i = 0; i < 6; ++i)
            list.addItem(u"http://x/%1"_s.arg(i), u"n%1"_s.arg(i), i < 5 ? u"htm"_s : u"pdf"_s, m_dir.path(),
                         {});
        Scheduler s(list, net);
        s.options.stopAfterFailures = true;
        s.options.sound = true;
        QSignalSpy sounds(&s, &Scheduler::playSound);
        s.StartDownloads();
        s.timer1Tick();
        QVERIFY(!s.Timer_Down->isActive());
        QCOMPARE(sounds.size(), 1);
        QCOMPARE(sounds.at(0).at(0).toInt(), 102);
    }

    void finishedListSwitchesTheSchedulerOff()
    {
        NetworkContext net;
        DownloadListModel list;
        list.addItem(u"http://x/1"_s, u"n"_s, u"pdf"_s, m_dir.path(), {}, DownloadItemState::Done);
        list.setTransferColumns(0, u"10"_s, u"10"_s, u"100%"_s);
        Scheduler s(list, net);
        s.StartDownloads();
        s.timer1Tick();
        QVERIFY(!s.Timer_Down->isActive());
        // Automatic start needs a row never started: not one that failed before its first answer,
        // whose columns are as empty.
        list.addItem(u"http://x/3"_s, u"f"_s, u"pdf"_s, m_dir.path(), {}, DownloadItemState::Failed);
        s.options.autoStart = true;
        s.timer1Tick();
        QVERIFY(!s.Timer_Down->isActive());
        // Nor does a re-download rule that finds nothing to queue again (web pages only).
        s.options.autoRedownload = true;
        s.options.autoRedownloadRule = 1;
        s.timer1Tick();
        QVERIFY(!s.Timer_Down->isActive());
        list.addItem(u"http://x/2"_s, u"m"_s, u"pdf"_s, m_dir.path(), {});
        s.timer1Tick();
        QVERIFY(s.Timer_Down->isActive());
    }
};

QTEST_GUILESS_MAIN(TestScheduler)
#include "tst_scheduler.moc"
