// The parallel-slot transfer against the local server: every way a download can end, what is left
// on disk afterwards, and the faults a real server produces.
#include "controls/Downloader.h"
#include "controls/NetworkContext.h"

#include "TestData.h"
#include "TestHttpServer.h"
#include "TlsFront.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace lintbay;
using namespace lintbay::test;

Q_DECLARE_METATYPE(lintbay::test::TestHttpResponse)

namespace {

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

const QByteArray kPlaceholder("\x01\x00", 2);

} // namespace

class tst_Downloader : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase_data() { TransferWorld::addRows(); }
    void init();
    void cleanup();

    void outcomes_data();
    void outcomes();
    void redirectLimit_data();
    void redirectLimit();
    void timeouts_data();
    void timeouts();
    void placeholderWhileRunning();
    void olderFileSurvivesFailureAndIsReplacedOnSuccess();
    void unwritableTargets_data();
    void unwritableTargets();
    void cancelMidTransfer();
    void ownerMayFreeTheSlotInsideASignal();
    void resumeNoteFollowsTheLandingPage();
    void browserCookiesReachTheirHost_data();
    void browserCookiesReachTheirHost();
    void cookiesStayWithTheirSite_data();
    void cookiesStayWithTheirSite();
    void entitiesInAddressAndNoRefererNoProxy();
    void keptBodyOutlivesAFailedRequestForTheRest();

private:
    struct Result
    {
        bool completed = false;
        bool failed = false;
        qint64 read = -1;
        qint64 total = -1;
        QString message;
        QString file;
        QList<QList<QVariant>> progress;
        QByteArray kept; // the body kept for a later attempt, which the run lets go of
    };
    Result run(Downloader& d, const QString& url, const QString& saveFile, int timeoutMs = 5000);

    std::unique_ptr<TestHttpServer> m_server;
    TransferWorld m_world;
    std::unique_ptr<NetworkContext> m_network;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_Downloader::init()
{
    m_server = std::make_unique<TestHttpServer>();
    QVERIFY(m_server->isListening());
    m_network = std::make_unique<NetworkContext>();
    QString world;
    QVERIFY2(m_world.enter(*m_server, *m_network, &world), qPrintable(world));
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_Downloader::cleanup()
{
    m_world.leave();
    m_network.reset();
    m_server.reset();
    m_dir.reset();
}

tst_Downloader::Result tst_Downloader::run(Downloader& d, const QString& url, const QString& saveFile,
                                           int timeoutMs)
{
    QSignalSpy progress(&d, &Downloader::DownloadProgress);
    QSignalSpy complete(&d, &Downloader::DownloadComplete);
    QSignalSpy error(&d, &Downloader::DownloadError);
    d.BeginDownload(url, saveFile, u"tag"_s);
    Result r;
    // Nothing is reported from inside BeginDownload.
    if (complete.count() + error.count() != 0)
        return r;
    if (!QTest::qWaitFor([&] { return complete.count() + error.count() > 0; }, timeoutMs))
        return r;
    QTest::qWait(50); // a second, wrong report would show up here
    if (complete.count() + error.count() != 1)
        return r;
    r.progress = progress;
    if (!complete.isEmpty()) {
        r.completed = true;
        r.read = complete.at(0).at(0).toLongLong();
        r.total = complete.at(0).at(1).toLongLong();
        r.file = complete.at(0).at(2).toString();
    } else {
        r.failed = true;
        r.message = error.at(0).at(0).toString();
        r.file = error.at(0).at(1).toString();
    }
    if (const std::unique_ptr<ResumePoint> point = d.takeResumePoint()) {
        const QFileInfo part(point->partPath());
        // Hidden beside the document.
        r.kept = part.fileName().startsWith(u'.') && part.absolutePath() == QFileInfo(saveFile).absolutePath()
                     ? readFile(part.filePath())
                     : QByteArray("misplaced");
    }
    return r;
}

// ---- every outcome of a normal or odd answer ------------------------------------------------------

void tst_Downloader::outcomes_data()
{
    QTest::addColumn<TestHttpResponse>("response");
    QTest::addColumn<bool>("completes");
    QTest::addColumn<QByteArray>("expectedFile"); // when complete
    QTest::addColumn<int>("requests");
    QTest::addColumn<bool>("progressExpected");
    // After a failure, why; after a web page, what its row is told; empty: a document, nothing told.
    // "*" stands for any figure.
    QTest::addColumn<QString>("reason");
    // A body that ended short of its announced length: a completion below its total, nothing in place.
    QTest::addColumn<bool>("endsShort");

    const QByteArray body = payload(300001);
    TestHttpResponse withLength = TestHttpResponse::bytes(body, "application/pdf");
    withLength.pieceSize = 65536;
    withLength.pieceIntervalMs = 5;
    QTest::newRow("length announced") << withLength << true << body << 1 << true << QString() << false;

    TestHttpResponse chunked = TestHttpResponse::bytes(body, "application/pdf");
    chunked.framing = TestHttpResponse::Framing::Chunked;
    chunked.pieceSize = 40000;
    QTest::newRow("chunked: fetched again whole, odd count kept")
        << chunked << true << body << 2 << false << QString() << false;

    TestHttpResponse closeDelimited = TestHttpResponse::bytes(payload(12345), "application/msword");
    closeDelimited.framing = TestHttpResponse::Framing::CloseDelimited;
    QTest::newRow("close-delimited") << closeDelimited << true << payload(12345) << 2 << false << QString()
                                     << false;

    TestHttpResponse page404 = TestHttpResponse::notFound();
    QTest::newRow("404 page with a length is what arrived")
        << page404 << true << page404.body << 1 << true << u"HTTP 404（未找到）"_s << false;

    TestHttpResponse page500 = TestHttpResponse::html(QByteArray("<html><body>oops</body></html>"));
    page500.status = 500;
    page500.framing = TestHttpResponse::Framing::Chunked;
    QTest::newRow("500 page without length")
        << page500 << true << page500.body << 2 << false << u"HTTP 500（服务器内部错误）"_s << false;

    TestHttpResponse empty = TestHttpResponse::bytes(QByteArray(), "application/pdf");
    QTest::newRow("empty body") << empty << false << QByteArray() << 2 << false << u"服务器没有返回内容"_s
                                << false;

    TestHttpResponse oneByte = TestHttpResponse::bytes(QByteArray("x"), "application/pdf");
    oneByte.framing = TestHttpResponse::Framing::CloseDelimited;
    QTest::newRow("a single byte counts as nothing")
        << oneByte << false << QByteArray() << 2 << false << u"服务器没有返回内容"_s << false;

    TestHttpResponse short_ = TestHttpResponse::bytes(payload(5000), "application/pdf");
    short_.declaredLength = 9000;
    QTest::newRow("closes before the announced end")
        << short_ << false << QByteArray() << 1 << true
        << u"连接中断，文件不完整：收到 * 字节，应为 9000 字节"_s << true;

    TestHttpResponse longer = TestHttpResponse::bytes(payload(900), "application/pdf");
    longer.declaredLength = 600;
    QTest::newRow("more bytes than announced")
        << longer << true << payload(600) << 1 << true << QString() << false;

    TestHttpResponse chunkedCut = TestHttpResponse::bytes(payload(5000), "application/pdf");
    chunkedCut.framing = TestHttpResponse::Framing::Chunked;
    chunkedCut.raw = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n400\r\n" + payload(1024) +
                     "\r\n400\r\n" + payload(100);
    // "/file" is a document.
    QTest::newRow("landing page refreshes to the document")
        << TestHttpResponse::html(u"<meta http-equiv=\"refresh\" content=\"0; url=/file\">"_s) << true
        << payload(2000) << 1 << true << QString() << false;

    QTest::newRow("chunked body cut off") << chunkedCut << false << QByteArray() << 2 << false
                                          << u"连接中断，文件不完整：收到 * 字节"_s << false;
}

void tst_Downloader::outcomes()
{
    if (m_world.overTls() && frontAltersTheAnswer(QTest::currentDataTag()))
        QSKIP("the HTTPS front cannot pass this answer on as the server sent it");
    QFETCH(TestHttpResponse, response);
    QFETCH(bool, completes);
    QFETCH(QByteArray, expectedFile);
    QFETCH(int, requests);
    QFETCH(bool, progressExpected);
    QFETCH(QString, reason);
    QFETCH(bool, endsShort);

    m_server->serve(u"/doc"_s, response);
    m_server->serve(u"/file"_s, TestHttpResponse::bytes(payload(2000), "application/pdf"));
    const QString neighbour = m_dir->filePath(u"neighbour.pdf"_s);
    QVERIFY(writeFile(neighbour, "keep me"));
    const QString target = m_dir->filePath(u"doc.pdf"_s);

    Downloader d(*m_network);
    // With a user and password in the address, which no Referer carries on.
    QUrl address = m_world.url(u"/doc"_s);
    address.setUserInfo(u"user:secret"_s);
    const Result r = run(d, address.toString(), target);
    QVERIFY2(r.completed || r.failed, "exactly one end report");
    // Only a failure keeps a body, and only what the server sent.
    QVERIFY(r.kept.isEmpty() || ((r.failed || endsShort) && response.body.startsWith(r.kept)));
    QCOMPARE(r.file, target);
    QCOMPARE(m_server->requestsTo(u"/doc"_s).size(), requests);
    QCOMPARE(!r.progress.isEmpty(), progressExpected);
    for (const auto& p : r.progress) {
        QVERIFY(p.at(1).toLongLong() >= 1);
        QVERIFY(p.at(0).toLongLong() <= p.at(1).toLongLong());
    }
    QCOMPARE(readFile(neighbour), QByteArray("keep me"));
    QVERIFY(!d.isRunning());
    if (!reason.isEmpty() || r.failed)
        QVERIFY2(matchesPattern(d.reason(), reason), qPrintable(d.reason()));
    if (endsShort) {
        QVERIFY(r.completed);
        QVERIFY2(r.read >= 1 && r.read < r.total, qPrintable(u"%1 of %2"_s.arg(r.read).arg(r.total)));
        QVERIFY(!r.kept.isEmpty());
        QCOMPARE(entries(m_dir->path()), QStringList({u"neighbour.pdf"_s}));
        return;
    }
    // A landing page is the Referer of its document; the slot sends none of its own.
    QVERIFY(!m_server->requestsTo(u"/doc"_s).value(0).hasHeader("Referer"));
    for (const TestHttpRequest& request : m_server->requestsTo(u"/file"_s))
        QCOMPARE(request.header("Referer"), m_world.url(u"/doc"_s).toEncoded());
    if (completes) {
        QVERIFY2(r.completed, qPrintable(r.message));
        QCOMPARE(readFile(target), expectedFile);
        // The real count, for both read and total.
        QCOMPARE(r.read, qint64(expectedFile.size()));
        QCOMPARE(r.total, qint64(expectedFile.size()));
        QCOMPARE(entries(m_dir->path()), QStringList({u"doc.pdf"_s, u"neighbour.pdf"_s}));
    } else {
        QVERIFY(r.failed);
        QCOMPARE(r.message, u"无法下载"_s);
        QCOMPARE(entries(m_dir->path()), QStringList({u"neighbour.pdf"_s}));
    }
}

// What the fetch last told of its body is what it holds whenever it asks for something: a page it
// left for its document leaves no note behind.
void tst_Downloader::resumeNoteFollowsTheLandingPage()
{
    m_server->serve(u"/doc"_s,
                    TestHttpResponse::html(u"<meta http-equiv=\"refresh\" content=\"0; url=/file\">"_s));
    m_server->serve(u"/file"_s, TestHttpResponse::bytes(payload(2000), "application/pdf"));
    Downloader d(*m_network);
    ResumeNote told;
    connect(&d.fetch(), &Fetch::resumeNoteChanged, this, [&] { told = d.fetch().resumeNote(); });
    QList<bool> agreed;
    connect(m_server.get(), &TestHttpServer::requestReceived, this,
            [&](const TestHttpRequest&) { agreed << (told == d.fetch().resumeNote()); });
    const Result r = run(d, m_world.url(u"/doc"_s).toString(), m_dir->filePath(u"doc.pdf"_s));
    QVERIFY(r.completed);
    QCOMPARE(agreed, (QList<bool>{true, true}));
}

// Cookies as the browser tells them reach the addresses of their host, an international one too,
// and go when the browser drops them.
void tst_Downloader::browserCookiesReachTheirHost_data()
{
    QTest::addColumn<QString>("domain");
    QTest::addColumn<QString>("address");
    QTest::newRow("host") << u".files.example"_s << u"http://www.files.example/a.pdf"_s;
    QTest::newRow("international") << u".xn--fsqu00a.xn--fiqs8s"_s << u"http://www.例子.中国/a.pdf"_s;
    QTest::newRow("international, host only") << u"xn--fsqu00a.xn--fiqs8s"_s << u"http://例子.中国/a.pdf"_s;
}

void tst_Downloader::browserCookiesReachTheirHost()
{
    QFETCH(QString, domain);
    QFETCH(QString, address);
    QNetworkCookie cookie("session", "s3cret");
    cookie.setDomain(domain);
    cookie.setPath(u"/"_s);
    m_network->insertCookie(cookie);
    QCOMPARE(m_network->cookieJar()->cookiesForUrl(QUrl(address)).size(), 1);
    m_network->deleteCookie(cookie);
    QVERIFY(m_network->cookieJar()->cookiesForUrl(QUrl(address)).isEmpty());
}

// A redirect to another site takes the cookies the jar has for that site, not the first one's (a
// login's session, secure ones included).
void tst_Downloader::cookiesStayWithTheirSite_data()
{
    QTest::addColumn<bool>("otherSite");
    QTest::newRow("same site") << false;
    QTest::newRow("another site") << true;
}

void tst_Downloader::cookiesStayWithTheirSite()
{
    if (m_world.overTls())
        QSKIP("two host names need the plain server");
    QFETCH(bool, otherSite);
    QNetworkCookie session("session", "s3cret");
    session.setDomain(u"localhost"_s);
    session.setPath(u"/"_s);
    m_network->insertCookie(session);
    QUrl start = m_server->url(u"/go"_s);
    start.setHost(u"localhost"_s);
    m_server->serve(u"/go"_s,
                    TestHttpResponse::redirect(otherSite ? m_server->url(u"/doc"_s).toEncoded() : "/doc"));
    m_server->serve(u"/doc"_s, TestHttpResponse::bytes(payload(100), "application/pdf"));
    Downloader d(*m_network);
    const Result r = run(d, start.toString(), m_dir->filePath(u"doc.pdf"_s));
    QVERIFY2(r.completed, qPrintable(r.message));
    QCOMPARE(m_server->requestsTo(u"/go"_s).value(0).header("Cookie"), QByteArray("session=s3cret"));
    QCOMPARE(m_server->requestsTo(u"/doc"_s).size(), 1);
    QCOMPARE(m_server->requestsTo(u"/doc"_s).value(0).hasHeader("Cookie"), !otherSite);
}

// ---- redirects ------------------------------------------------------------------------------------

void tst_Downloader::redirectLimit_data()
{
    QTest::addColumn<int>("hops");
    QTest::addColumn<bool>("loop");
    QTest::addColumn<bool>("completes");
    QTest::addColumn<QString>("reason"); // on failure
    QTest::newRow("3 hops") << 3 << false << true << QString();
    QTest::newRow("20 hops") << 20 << false << true << QString();
    QTest::newRow("21 hops") << 21 << false << false << u"重定向次数过多（超过 20 次）"_s;
    QTest::newRow("loop") << 2 << true << false << u"重定向形成循环"_s;
}

void tst_Downloader::redirectLimit()
{
    QFETCH(int, hops);
    QFETCH(bool, loop);
    QFETCH(bool, completes);
    QFETCH(QString, reason);

    const QByteArray body = payload(777);
    m_server->routePrefix(u"/hop/"_s, [&](const TestHttpRequest& request) {
        const int n = request.path.mid(5).toInt();
        if (n >= hops)
            return loop ? TestHttpResponse::redirect("/hop/0")
                        : TestHttpResponse::bytes(body, "application/pdf");
        return TestHttpResponse::redirect("/hop/" + QByteArray::number(n + 1));
    });
    const QString target = m_dir->filePath(u"r.pdf"_s);
    Downloader d(*m_network);
    const Result r = run(d, m_world.url(u"/hop/0"_s).toString(), target);
    QCOMPARE(r.completed, completes);
    QCOMPARE(r.failed, !completes);
    if (completes) {
        QCOMPARE(readFile(target), body);
    } else {
        QCOMPARE(r.message, u"无法下载"_s);
        QCOMPARE(d.reason(), reason);
        QVERIFY(entries(m_dir->path()).isEmpty());
    }
}

// ---- time-outs ------------------------------------------------------------------------------------

void tst_Downloader::timeouts_data()
{
    QTest::addColumn<TestHttpResponse>("response");
    QTest::addColumn<bool>("completes");
    QTest::addColumn<QString>("reason"); // on failure
    QTest::addColumn<int>("kept");       // bytes kept for a later attempt to go on with

    const QString stalled = u"超时：0.6 秒内没有收到新的数据（已收到 * 字节）"_s;
    QTest::newRow("no answer at all")
        << TestHttpResponse::never() << false << u"超时：0.6 秒内服务器没有回应"_s << 0;

    TestHttpResponse midBody = TestHttpResponse::bytes(payload(4000), "application/pdf");
    midBody.stallAfterBytes = 1500;
    QTest::newRow("stops in the middle") << midBody << false << stalled << 1500;

    TestHttpResponse noLengthStall = TestHttpResponse::bytes(payload(4000), "application/pdf");
    noLengthStall.framing = TestHttpResponse::Framing::Chunked;
    noLengthStall.stallAfterBytes = 100;
    QTest::newRow("stops in the middle of the whole-body fetch") << noLengthStall << false << stalled << 0;

    TestHttpResponse errorPageStops = TestHttpResponse::html(QByteArray(3000, 'x'));
    errorPageStops.status = 500;
    errorPageStops.stallAfterBytes = 100;
    QTest::newRow("error page that stops") << errorPageStops << false << stalled << 0;

    // Each byte comes well within the limit, the whole body takes far longer than it.
    TestHttpResponse drip = TestHttpResponse::bytes(payload(12), "application/pdf");
    drip.pieceSize = 1;
    drip.pieceIntervalMs = 120;
    QTest::newRow("drips a byte at a time") << drip << true << QString() << 0;

    TestHttpResponse dripNoLength = drip;
    dripNoLength.framing = TestHttpResponse::Framing::CloseDelimited;
    QTest::newRow("drips without a length") << dripNoLength << true << QString() << 0;
}

void tst_Downloader::timeouts()
{
    QFETCH(TestHttpResponse, response);
    QFETCH(bool, completes);
    QFETCH(QString, reason);
    QFETCH(int, kept);

    m_server->serve(u"/slow"_s, response);
    const QString target = m_dir->filePath(u"slow.pdf"_s);
    Downloader d(*m_network);
    d.setStallTimeout(600);
    d.setTickInterval(30);
    QElapsedTimer clock;
    clock.start();
    const Result r = run(d, m_world.url(u"/slow"_s).toString(), target, 8000);
    QCOMPARE(r.completed, completes);
    QCOMPARE(r.kept, response.body.left(kept));
    if (completes) {
        QCOMPARE(readFile(target), response.body);
        QVERIFY(clock.elapsed() > 600); // it outlived the time-out by delivering
    } else {
        QCOMPARE(r.message, u"超时"_s);
        QVERIFY2(matchesPattern(d.reason(), reason), qPrintable(d.reason()));
        QVERIFY(clock.elapsed() >= 600);
        QVERIFY(entries(m_dir->path()).isEmpty());
        // The request was given up.
        QTRY_COMPARE(m_server->openConnections(), 0);
    }
}

// ---- the file at the save path --------------------------------------------------------------------

void tst_Downloader::placeholderWhileRunning()
{
    TestHttpResponse slow = TestHttpResponse::bytes(payload(3000), "application/pdf");
    slow.stallAfterBytes = 1000;
    m_server->serve(u"/p"_s, slow);
    const QString target = m_dir->filePath(u"p.pdf"_s);
    Downloader d(*m_network);
    QSignalSpy progress(&d, &Downloader::DownloadProgress);
    QSignalSpy error(&d, &Downloader::DownloadError);
    d.setStallTimeout(400);
    d.setTickInterval(20);
    d.BeginDownload(m_world.url(u"/p"_s).toString(), target, QString());
    QCOMPARE(readFile(target), kPlaceholder); // at once, before any answer
    QTRY_VERIFY(!progress.isEmpty());
    QTRY_COMPARE(d.bytesRead(), qint64(1000));
    // The body so far is not under the final name.
    QCOMPARE(readFile(target), kPlaceholder);
    QCOMPARE(progress.last().at(1).toLongLong(), qint64(3000));
    QTRY_COMPARE(error.count(), 1);
    QVERIFY(!QFileInfo::exists(target));
}

void tst_Downloader::olderFileSurvivesFailureAndIsReplacedOnSuccess()
{
    const QString target = m_dir->filePath(u"old.pdf"_s);
    QVERIFY(writeFile(target, "an older document"));

    m_server->serve(u"/fail"_s, TestHttpResponse::never());
    Downloader d(*m_network);
    d.setStallTimeout(200);
    d.setTickInterval(20);
    QSignalSpy error(&d, &Downloader::DownloadError);
    d.BeginDownload(m_world.url(u"/fail"_s).toString(), target, QString());
    QCOMPARE(readFile(target), QByteArray("an older document")); // no placeholder over it
    QTRY_COMPARE(error.count(), 1);
    QCOMPARE(readFile(target), QByteArray("an older document"));
    QCOMPARE(entries(m_dir->path()), QStringList{u"old.pdf"_s});

    const QByteArray body = payload(5001);
    m_server->serve(u"/ok"_s, TestHttpResponse::bytes(body, "application/pdf"));
    const Result r = run(d, m_world.url(u"/ok"_s).toString(), target);
    QVERIFY(r.completed);
    QCOMPARE(readFile(target), body);
    QCOMPARE(entries(m_dir->path()), QStringList{u"old.pdf"_s});
}

void tst_Downloader::unwritableTargets_data()
{
    QTest::addColumn<QString>("relativeTarget");
    QTest::addColumn<bool>("targetIsFolder");
    QTest::addColumn<QString>("reason");
    // A folder below a plain file can be neither created nor written, whoever runs the test.
    QTest::newRow("folder cannot exist") << u"plain.txt/sub/x.pdf"_s << false << u"写入文件失败：*"_s;
    QTest::newRow("a folder at the path")
        << u"taken.pdf"_s << true << u"无法替换保存位置上已有的项目：*/taken.pdf"_s;
}

void tst_Downloader::unwritableTargets()
{
    QFETCH(QString, relativeTarget);
    QFETCH(bool, targetIsFolder);
    QFETCH(QString, reason);

    QVERIFY(writeFile(m_dir->filePath(u"plain.txt"_s), "plain"));
    if (targetIsFolder) {
        QVERIFY(QDir(m_dir->path()).mkpath(relativeTarget + u"/inner"_s));
    }
    m_server->serve(u"/doc"_s, TestHttpResponse::bytes(payload(100), "application/pdf"));
    const QString target = m_dir->filePath(relativeTarget);
    Downloader d(*m_network);
    const Result r = run(d, m_world.url(u"/doc"_s).toString(), target);
    QVERIFY(r.failed);
    QCOMPARE(r.message, u"无法下载"_s);
    QVERIFY2(matchesPattern(d.reason(), reason), qPrintable(d.reason()));
    QCOMPARE(m_server->requestCount(), 0); // nothing worth fetching when it cannot be kept
    QCOMPARE(readFile(m_dir->filePath(u"plain.txt"_s)), QByteArray("plain"));
    if (targetIsFolder)
        QVERIFY(QFileInfo(m_dir->filePath(relativeTarget + u"/inner"_s)).isDir());
    QStringList expected{u"plain.txt"_s};
    if (targetIsFolder)
        expected.append(relativeTarget);
    expected.sort();
    QCOMPARE(entries(m_dir->path()), expected);
}

void tst_Downloader::cancelMidTransfer()
{
    TestHttpResponse slow = TestHttpResponse::bytes(payload(100000), "application/pdf");
    slow.pieceSize = 1000;
    slow.pieceIntervalMs = 20;
    m_server->serve(u"/big"_s, slow);
    const QString target = m_dir->filePath(u"big.pdf"_s);
    Downloader d(*m_network);
    QSignalSpy complete(&d, &Downloader::DownloadComplete);
    QSignalSpy error(&d, &Downloader::DownloadError);
    d.BeginDownload(m_world.url(u"/big"_s).toString(), target, QString());
    QTRY_VERIFY(d.bytesRead() >= 3000);
    QCOMPARE(d.CancelAsyncRead(), false);
    QVERIFY(!d.isRunning());
    QVERIFY(entries(m_dir->path()).isEmpty());
    QTRY_COMPARE(m_server->openConnections(), 0);
    QTest::qWait(100);
    QCOMPARE(complete.count() + error.count(), 0);
}

void tst_Downloader::ownerMayFreeTheSlotInsideASignal()
{
    // The owner frees the slot from the first progress report (a file above the size limit).
    m_server->serve(u"/huge"_s, TestHttpResponse::bytes(payload(200000), "application/pdf"));
    const QString target = m_dir->filePath(u"huge.pdf"_s);
    QPointer<Downloader> d = new Downloader(*m_network);
    int reports = 0;
    qint64 firstRead = -1;
    connect(d, &Downloader::DownloadProgress, d, [&](qint64 read, qint64 total, const QString&) {
        ++reports;
        firstRead = read;
        QCOMPARE(total, qint64(200000));
        d->CancelAsyncRead();
        delete d.data();
    });
    d->BeginDownload(m_world.url(u"/huge"_s).toString(), target, QString());
    QTRY_VERIFY(d.isNull());
    QTest::qWait(100);
    QCOMPARE(reports, 1);
    QCOMPARE(firstRead, qint64(0)); // judged on the headers, before any byte was kept
    QVERIFY(entries(m_dir->path()).isEmpty());

    // Freed from the completion report, as every owner does.
    m_server->serve(u"/small"_s, TestHttpResponse::bytes(payload(10), "application/pdf"));
    d = new Downloader(*m_network);
    connect(d, &Downloader::DownloadComplete, d, [&] { delete d.data(); });
    d->BeginDownload(m_world.url(u"/small"_s).toString(), target, QString());
    QTRY_VERIFY(d.isNull());
    QCOMPARE(readFile(target), payload(10));
}

void tst_Downloader::entitiesInAddressAndNoRefererNoProxy()
{
    // A proxy set for the single-transfer mode is not used by the slots.
    TestHttpServer proxy;
    m_network->setProxy(true, u"127.0.0.1"_s, QString::number(proxy.port()));
    m_server->serve(u"/q"_s, TestHttpResponse::bytes(payload(64), "application/pdf"));
    const QString target = m_dir->filePath(u"q.pdf"_s);
    Downloader d(*m_network);
    const QString url = u"  "_s + m_world.url(u"/q"_s).toString() + u"?a=1&AMP;b=2&amp;c=3 "_s;
    const Result r = run(d, url, target);
    QVERIFY(r.completed);
    QCOMPARE(proxy.requestCount(), 0);
    const QList<TestHttpRequest> seen = m_server->requestsTo(u"/q"_s);
    QCOMPARE(seen.size(), 1);
    QCOMPARE(seen.at(0).query, u"a=1&b=2&c=3"_s);
    QVERIFY(!seen.at(0).hasHeader("Referer"));

    // Only web addresses are fetched.
    const QString local = m_dir->filePath(u"secret.txt"_s);
    QVERIFY(writeFile(local, "local"));
    const Result f = run(d, QUrl::fromLocalFile(local).toString(), m_dir->filePath(u"copy.pdf"_s));
    QVERIFY(f.failed);
    QVERIFY(!QFileInfo::exists(m_dir->filePath(u"copy.pdf"_s)));
}

// A request for the rest of a kept body that brings no document (here a redirect back to itself)
// ends the attempt with the body kept; the next attempt still asks for the rest.
void tst_Downloader::keptBodyOutlivesAFailedRequestForTheRest()
{
    const QByteArray body = "%PDF-1.4\n" + payload(39991);
    int asked = 0;
    m_server->route(u"/doc"_s, [&](const TestHttpRequest& r) {
        TestHttpResponse whole =
            TestHttpResponse::bytes(body, "application/pdf").withHeader("ETag", "\"v1\"");
        switch (++asked) {
        case 1:
            whole.closeAfterBytes = 15000;
            return whole;
        case 2:
            return TestHttpResponse::redirect("/doc");
        default: {
            const qint64 from = r.header("Range").mid(6).chopped(1).toLongLong();
            whole.status = 206;
            whole.body = body.mid(from);
            return whole.withHeader("Content-Range", "bytes " + QByteArray::number(from) + "-39999/40000");
        }
        }
    });
    const QString target = m_dir->filePath(u"doc.pdf"_s);
    std::unique_ptr<ResumePoint> kept;
    for (int attempt = 1; attempt <= 3; ++attempt) {
        Downloader d(*m_network);
        d.resumeWith(std::move(kept));
        QSignalSpy complete(&d, &Downloader::DownloadComplete);
        QSignalSpy error(&d, &Downloader::DownloadError);
        d.BeginDownload(m_world.url(u"/doc"_s).toString(), target, u"tag"_s);
        QVERIFY(QTest::qWaitFor([&] { return complete.count() + error.count() > 0; }, 5000));
        kept = d.takeResumePoint();
        if (attempt == 3)
            QCOMPARE(complete.value(0).value(0).toLongLong(), 40000);
        if (attempt < 3)
            QVERIFY2(kept && kept->size() == 15000, qPrintable(u"attempt %1"_s.arg(attempt)));
    }
    const QList<TestHttpRequest> seen = m_server->requestsTo(u"/doc"_s);
    QCOMPARE(seen.size(), 3);
    QCOMPARE(seen.at(2).header("Range"), QByteArray("bytes=15000-"));
    QCOMPARE(readFile(target), body);
}

QTEST_GUILESS_MAIN(tst_Downloader)
#include "tst_downloader.moc"
