// A download that broke off goes on where it stopped, in both modes, through the scheduler: what the
// next attempt asks for, which answers continue the kept body and which start it over, and that the
// kept body leaves with its row.
#include "app/ProgramSettings.h"
#include "app/SettingsStore.h"
#include "controls/NetworkContext.h"
#include "download/DownloadListModel.h"
#include "download/DownloadSession.h"
#include "download/FileActions.h"
#include "download/ListOperations.h"
#include "download/RowFiles.h"
#include "download/Scheduler.h"
#include "tools/UrlCache.h"
#include "util/ContentDigest.h"

#include "TestData.h"
#include "TestHttpServer.h"
#include "TlsFront.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace lintbay;
using namespace lintbay::test;

namespace {

constexpr int kLength = 40000;
constexpr int kCut = 15000;
const QByteArray kModified = "Wed, 21 Oct 2015 07:28:00 GMT";

QByteArray pdf(int size, char version = '4')
{
    return QByteArray("%PDF-1.") + version + '\n' + payload(size - 9);
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

TestHttpResponse document(const QByteArray& body, const QByteArray& etag, const QByteArray& modified)
{
    TestHttpResponse r = TestHttpResponse::bytes(body, "application/pdf");
    if (!etag.isEmpty())
        r.withHeader("ETag", etag);
    if (!modified.isEmpty())
        r.withHeader("Last-Modified", modified);
    return r;
}

TestHttpResponse range(TestHttpResponse whole, qint64 from)
{
    const qint64 total = whole.body.size();
    whole.status = 206;
    whole.body = whole.body.mid(from);
    const QByteArray span = QByteArray::number(from) + '-' + QByteArray::number(total - 1);
    return whole.withHeader("Content-Range", "bytes " + span + '/' + QByteArray::number(total));
}

} // namespace

class tst_Resume : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { SetUrlCacheFolder(m_home.filePath(u"cache"_s)); }
    void initTestCase_data() { TransferWorld::addRows(); }
    void init();
    void cleanup();

    void answersToARequestForTheRest_data();
    void answersToARequestForTheRest();
    void keptBodyLeavesWithItsRow_data();
    void keptBodyLeavesWithItsRow();

private:
    void startSession(int mode);
    QString folder() const { return m_dir->filePath(u"docs"_s); }

    QTemporaryDir m_home;
    std::unique_ptr<TestHttpServer> m_server;
    TransferWorld m_world;
    std::unique_ptr<NetworkContext> m_network;
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SettingsStore> m_store;
    std::unique_ptr<ProgramSettings> m_settings;
    std::unique_ptr<DownloadSession> m_session;
};

void tst_Resume::init()
{
    m_server = std::make_unique<TestHttpServer>();
    m_network = std::make_unique<NetworkContext>();
    QString world;
    QVERIFY2(m_world.enter(*m_server, *m_network, &world), qPrintable(world));
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(QDir().mkpath(folder()));
    m_store = std::make_unique<SettingsStore>(m_dir->filePath(u"Lintbay.ini"_s));
    m_settings = std::make_unique<ProgramSettings>(*m_store);
}

void tst_Resume::cleanup()
{
    m_session.reset();
    m_world.leave();
    m_network.reset();
    m_server.reset();
    m_settings.reset();
    m_store.reset();
    m_dir.reset();
}

void tst_Resume::startSession(int mode)
{
    m_settings->setDownloadMode(DownloadMode(mode));
    m_session = std::make_unique<DownloadSession>(*m_settings, *m_network);
    Scheduler::Options& o = m_session->options();
    o.threadCount = 1;
    o.stallTimeoutMs = o.slotStallTimeoutMs = 3000;
    m_session->list().addItem(m_world.url(u"/doc"_s).toString(), u"报告"_s, u"pdf"_s, folder(), {});
}

void tst_Resume::answersToARequestForTheRest_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QByteArray>("etag");     // of the first answer, which breaks off
    QTest::addColumn<QByteArray>("modified"); // its Last-Modified
    // How the server answers a request for the rest: "rest" (206 from where asked, of the document it
    // has then), "from zero" (206 of all of it), "beyond the end" (206 whose range ends past the total),
    // "whole behind the range" (206 naming the rest but sending all of it), "whole" (200: no ranges),
    // "if-range" (the rest only while If-Range matches), "rest of an unknown whole" (206 from where
    // asked, of a whole named "*"), "part of an unknown whole" (the first answer chunked; then the
    // same with only 1000 bytes), "gateway error, then the rest" (a 502 page, then the rest). A request
    // without a range gets the whole document.
    QTest::addColumn<QString>("later");
    // What the server has after the first answer (another one: ETag "v2" where the first had one).
    QTest::addColumn<QByteArray>("current");
    QTest::addColumn<int>("requests");
    QTest::addColumn<QByteArray>("ifRange"); // sent with the request for the rest
    QTest::addColumn<bool>("continued");     // the rest was appended to the kept body

    const QByteArray v1 = "\"v1\"";
    const QByteArray same = pdf(kLength);
    const QByteArray changed = pdf(kLength, '7');
    const QByteArray longer = pdf(kLength + 500);
    for (int mode : {1, 2}) {
        const auto row = [mode](const char* name) -> QTestData& {
            return QTest::addRow("mode %d: %s", mode, name) << mode;
        };
        row("206 from the end, ETag") << v1 << QByteArray() << u"rest"_s << same << 2 << v1 << true;
        row("206 from the end, Last-Modified (a weak ETag tells nothing)")
            << QByteArray("W/\"v1\"") << kModified << u"rest"_s << same << 2 << kModified << true;
        row("206 from the end, no validator, the same total")
            << QByteArray() << QByteArray() << u"rest"_s << same << 2 << QByteArray() << true;
        row("206 of another range") << v1 << QByteArray() << u"from zero"_s << same << 3 << v1 << false;
        row("206 of a range past the end")
            << v1 << QByteArray() << u"beyond the end"_s << same << 3 << v1 << false;
        row("206 naming the rest, with the whole document's length and bytes")
            << v1 << QByteArray() << u"whole behind the range"_s << same << 3 << v1 << false;
        row("the same without a length: more than the rest arrives")
            << v1 << QByteArray() << u"whole behind the range, chunked"_s << same << 3 << v1 << false;
        row("server without ranges: 200") << v1 << QByteArray() << u"whole"_s << same << 2 << v1 << false;
        row("document changed, If-Range answered with 200")
            << v1 << QByteArray() << u"if-range"_s << changed << 2 << v1 << false;
        row("document changed, a 206 with another ETag")
            << v1 << QByteArray() << u"rest"_s << changed << 3 << v1 << false;
        row("no validator, a 206 with another total")
            << QByteArray() << QByteArray() << u"rest"_s << longer << 3 << QByteArray() << false;
        row("a gateway's error page, then the rest")
            << v1 << QByteArray() << u"gateway error, then the rest"_s << same << 3 << v1 << true;
        row("206 from the end of a known whole, named \"*\"")
            << v1 << QByteArray() << u"rest of an unknown whole"_s << same << 2 << v1 << true;
        if (mode == 1) // the other mode keeps no body that came without its length
            row("chunked, then a 206 of an unknown whole")
                << v1 << QByteArray() << u"part of an unknown whole"_s << same << 3 << v1 << false;
    }
}

void tst_Resume::answersToARequestForTheRest()
{
    QFETCH(int, mode);
    QFETCH(QByteArray, etag);
    QFETCH(QByteArray, modified);
    QFETCH(QString, later);
    QFETCH(QByteArray, current);
    QFETCH(int, requests);
    QFETCH(QByteArray, ifRange);
    QFETCH(bool, continued);

    const QByteArray first = pdf(kLength);
    const QByteArray currentEtag = current == first || etag.isEmpty() ? etag : QByteArray("\"v2\"");
    int asked = 0;
    m_server->route(u"/doc"_s, [&](const TestHttpRequest& r) {
        if (++asked == 1) {
            TestHttpResponse cut = document(first, etag, modified);
            cut.closeAfterBytes = kCut;
            if (later == u"part of an unknown whole"_s)
                cut.framing = TestHttpResponse::Framing::Chunked;
            return cut;
        }
        const TestHttpResponse whole = document(current, currentEtag, modified);
        const QByteArray wanted = r.header("Range");
        if (asked == 2 && later.startsWith(u"gateway error"_s)) {
            TestHttpResponse error =
                TestHttpResponse::html(QByteArray("<html><body>Bad Gateway</body></html>"));
            error.status = 502;
            return error;
        }
        if (wanted.isEmpty() || later == u"whole"_s)
            return whole;
        const qint64 from = wanted.mid(6, wanted.indexOf('-') - 6).toLongLong();
        if (later == u"from zero"_s)
            return range(whole, 0);
        if (later == u"beyond the end"_s) {
            TestHttpResponse bogus = range(whole, from);
            bogus.headers.removeIf([](const auto& h) { return h.first == "Content-Range"; });
            return bogus.withHeader("Content-Range", "bytes " + QByteArray::number(from) +
                                                         "-9223372036854775807/" +
                                                         QByteArray::number(kLength));
        }
        if (later.endsWith(u"unknown whole"_s)) {
            TestHttpResponse part = range(whole, from);
            if (later.startsWith(u"part"_s))
                part.body.truncate(1000);
            part.headers.removeIf([](const auto& h) { return h.first == "Content-Range"; });
            return part.withHeader("Content-Range", "bytes " + QByteArray::number(from) + '-' +
                                                        QByteArray::number(from + part.body.size() - 1) +
                                                        "/*");
        }
        if (later.startsWith(u"whole behind the range"_s)) {
            TestHttpResponse rest = range(whole, from);
            rest.body = whole.body;
            if (later.endsWith(u"chunked"_s))
                rest.framing = TestHttpResponse::Framing::Chunked;
            return rest;
        }
        if (later == u"if-range"_s && r.header("If-Range") != currentEtag)
            return whole;
        return range(whole, from);
    });
    startSession(mode);
    DownloadListModel& list = m_session->list();
    Scheduler& s = m_session->scheduler();
    const quint64 id = list.idOf(0);

    s.timerDownTick();
    QTRY_COMPARE_WITH_TIMEOUT(list.at(0).state, DownloadItemState::Failed, 10000);
    // What came stays, hidden beside where the document goes.
    const QString part = m_session->files().partPath(id);
    const QByteArray kept = readFile(part);
    QVERIFY(!kept.isEmpty() && first.startsWith(kept));
    QCOMPARE(entries(folder()), QStringList{QFileInfo(part).fileName()});

    QStringList receivedShown;
    connect(&list, &QAbstractItemModel::dataChanged, this, [&] {
        if (!list.at(0).received.isEmpty())
            receivedShown << list.at(0).received;
    });
    // An error page in answer to the request for the rest fails the attempt; the body stays for the next.
    const int refusals = later.startsWith(u"gateway error"_s) ? 1 : 0;
    s.retries().timing.backoffBaseMs = 0; // the host that failed is not left alone
    for (int attempt = 0; attempt <= refusals; ++attempt) {
        QCOMPARE(RequeueRows(list, RequeueRule::Failed), 1);
        s.timerDownTick();
        QTRY_COMPARE_WITH_TIMEOUT(list.at(0).state,
                                  attempt < refusals ? DownloadItemState::Failed : DownloadItemState::Done,
                                  10000);
    }

    const QList<TestHttpRequest> seen = m_server->requestsTo(u"/doc"_s);
    QCOMPARE(seen.size(), requests);
    QVERIFY(!seen.at(0).hasHeader("Range"));
    for (int asked = 1; asked <= 1 + refusals; ++asked) {
        QCOMPARE(seen.at(asked).header("Range"), "bytes=" + QByteArray::number(kept.size()) + '-');
        QCOMPARE(seen.at(asked).header("If-Range"), ifRange);
    }
    if (requests > 2 && refusals == 0)
        QVERIFY(!seen.at(2).hasHeader("Range")); // asked again for the whole document
    // The same bytes as a download in one piece, and the columns count all of them.
    const DownloadItem& item = list.at(0);
    QCOMPARE(readFile(item.filePath()), current);
    QCOMPARE(item.size, QString::number(current.size()));
    QCOMPARE(item.received, QString::number(current.size()));
    QCOMPARE(item.progress, u"100%"_s);
    QCOMPARE(entries(folder()), QStringList{u"报告.pdf"_s});
    QVERIFY(m_session->files().partPath(id).isEmpty());
    // The digest covers the kept bytes too.
    QCOMPARE(m_session->files().digestOf(id), ContentDigest::of(current));
    for (const QString& shown : std::as_const(receivedShown)) // never more than the document
        QVERIFY2(shown.toLongLong() <= current.size(), qPrintable(shown));
    if (continued) {
        QVERIFY(!receivedShown.isEmpty());
        for (const QString& shown : std::as_const(receivedShown))
            QVERIFY2(shown.toLongLong() >= kept.size(), qPrintable(shown));
    }
}

void tst_Resume::keptBodyLeavesWithItsRow_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("then");
    for (int mode : {1, 2}) {
        for (const char* then : {"row removed", "list cleared", "its files deleted", "session ends",
                                 "double-click", "another address"})
            QTest::addRow("mode %d: %s", mode, then) << mode << QString::fromLatin1(then);
    }
}

// A body the user stopped is kept too; it goes with its row, with the list, with the row's files and
// with the session.
// A failed row queued again by a double-click goes on with it; one whose other address is asked next
// starts afresh.
void tst_Resume::keptBodyLeavesWithItsRow()
{
    QFETCH(int, mode);
    QFETCH(QString, then);

    TestHttpResponse slow = document(pdf(kLength), "\"v1\"", QByteArray());
    slow.pieceSize = 1000;
    slow.pieceIntervalMs = 20;
    m_server->route(u"/doc"_s, [&](const TestHttpRequest& r) {
        const QByteArray asked = r.header("Range");
        return asked.isEmpty() ? slow : range(slow, asked.mid(6, asked.indexOf('-') - 6).toLongLong());
    });
    m_server->serve(u"/mirror"_s, slow);
    startSession(mode);
    DownloadListModel& list = m_session->list();
    Scheduler& s = m_session->scheduler();
    QVERIFY(list.setKey(0, list.at(0).key + u'|' + m_world.url(u"/mirror"_s).toString()));
    const quint64 id = list.idOf(0);
    s.StartDownloads();
    s.timerDownTick();
    QTRY_VERIFY(list.at(0).received.toLongLong() >= 3000);
    s.StopDownloads();
    QCOMPARE(list.at(0).state, DownloadItemState::Failed);
    const QString part = m_session->files().partPath(id);
    QVERIFY(readFile(part).size() >= 3000);

    if (then == u"double-click"_s) {
        QCOMPARE(OpenOrRetry(list, 0).kind, FileActionKind::Requeued);
        s.timerDownTick();
        QTRY_COMPARE_WITH_TIMEOUT(list.at(0).state, DownloadItemState::Done, 10000);
        QVERIFY(m_server->requestsTo(u"/doc"_s).at(1).hasHeader("Range"));
        QCOMPARE(readFile(list.at(0).filePath()), slow.body);
    } else if (then == u"another address"_s) {
        QCOMPARE(RequeueRows(list, RequeueRule::Failed), 1);
        s.timerDownTick();
        QTRY_COMPARE_WITH_TIMEOUT(list.at(0).state, DownloadItemState::Done, 10000);
        QCOMPARE(m_server->requestsTo(u"/mirror"_s).size(), 1);
        QVERIFY(!m_server->requestsTo(u"/mirror"_s).at(0).hasHeader("Range"));
        QCOMPARE(readFile(list.at(0).filePath()), slow.body);
    } else if (then == u"row removed"_s) {
        QCOMPARE(removeFailedRows(list, m_session->activity()).rows, 1);
    } else if (then == u"list cleared"_s) {
        QCOMPARE(clearList(list, m_session->activity()).rows, 1);
    } else if (then == u"its files deleted"_s) {
        QCOMPARE(deleteFailedFiles(list, &m_session->files()), 1);
    } else {
        m_session->shutdown();
    }
    QVERIFY(!QFileInfo::exists(part));
    QVERIFY(m_session->files().partPath(id).isEmpty());
}

QTEST_GUILESS_MAIN(tst_Resume)
#include "tst_resume.moc"
