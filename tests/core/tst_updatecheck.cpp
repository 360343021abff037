// The update check: how an answer compares with the running version, which answers are ignored, and
// that without a server address nothing is asked at all.
#include "app/AppContext.h"
#include "app/SettingsStore.h"
#include "controls/NetworkContext.h"
#include "controls/uXMLHTTP.h"
#include "update/UpdateCheck.h"

#include "TestHttpServer.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace lintbay;
using namespace lintbay::test;

Q_DECLARE_METATYPE(lintbay::test::TestHttpResponse)

namespace {
enum Outcome
{
    Ignored,  // not a version answer
    NotNewer, // read, and not newer than the running version
    Newer,
};

qint64 score(qint64 a, qint64 b, qint64 c)
{
    return VersionScore(a, b, c).value();
}
} // namespace
Q_DECLARE_METATYPE(Outcome)

class tst_UpdateCheck : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void versionComparison_data();
    void versionComparison();
    void serverAddress_data();
    void serverAddress();
    void check_data();
    void check();
    void noServerSendsNothing_data();
    void noServerSendsNothing();
    void silentServerIsGivenUp();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    std::unique_ptr<SettingsStore> m_settings;
    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<NetworkContext> m_network;
};

void tst_UpdateCheck::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    m_settings = std::make_unique<SettingsStore>(m_dir->filePath(u"Lintbay.ini"_s));
    m_server = std::make_unique<TestHttpServer>();
    QVERIFY(m_server->isListening());
    m_network = std::make_unique<NetworkContext>();
}

void tst_UpdateCheck::cleanup()
{
    m_network.reset();
    m_server.reset();
    m_settings.reset();
    m_dir.reset();
}

// ---- the comparison, as one table -----------------------------------------------------------------

void tst_UpdateCheck::versionComparison_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<qint64>("running");
    QTest::addColumn<Outcome>("outcome");

    const qint64 v123 = score(1, 2, 3);
    const qint64 v1235 = score(1, 2, 35);
    QTest::newRow("same version") << QByteArray("1.2.3") << v123 << NotNewer;
    QTest::newRow("newer minor beats larger revision") << QByteArray("1.3.0") << v1235 << Newer;
    QTest::newRow("newer revision") << QByteArray("1.2.36") << v1235 << Newer;
    QTest::newRow("older") << QByteArray("1.2.2") << v123 << NotNewer;
    QTest::newRow("older major, huge minor") << QByteArray("0.999.9999") << v123 << NotNewer;
    QTest::newRow("newer major") << QByteArray("2.0.0") << score(1, 999, 9999) << Newer;
    QTest::newRow("scores equal: 1.0.10000 is 1.1.0")
        << QByteArray("1.0.10000") << score(1, 1, 0) << NotNewer;
    QTest::newRow("leading zeros") << QByteArray("01.003.000") << v1235 << Newer;
    QTest::newRow("blanks and line end around it") << QByteArray("  1.3.0 \r\n") << v1235 << Newer;
    QTest::newRow("byte order mark") << QByteArray("\xEF\xBB\xBF"
                                                   "1.3.0\r\n")
                                     << v1235 << Newer;
    QTest::newRow("20 characters") << QByteArray("1.3.0000000000000000") << v1235 << Newer;

    QTest::newRow("two parts") << QByteArray("1.2") << v123 << Ignored;
    QTest::newRow("four parts") << QByteArray("1.3.0.0") << v123 << Ignored;
    QTest::newRow("x for a part") << QByteArray("1.2.x") << v123 << Ignored;
    QTest::newRow("empty part") << QByteArray("1..3") << v123 << Ignored;
    QTest::newRow("25 characters") << QByteArray("1.3.000000000000000000000") << v123 << Ignored;
    QTest::newRow("21 characters") << QByteArray("1.3.00000000000000000") << v123 << Ignored;
    QTest::newRow("empty") << QByteArray("") << v123 << Ignored;
    QTest::newRow("blanks only") << QByteArray(" \r\n\t ") << v123 << Ignored;
    QTest::newRow("negative part") << QByteArray("1.-3.0") << v123 << Ignored;
    QTest::newRow("sign") << QByteArray("+2.0.0") << v123 << Ignored;
    QTest::newRow("blank inside a part") << QByteArray("1. 3.0") << v123 << Ignored;
    QTest::newRow("prefix v") << QByteArray("v1.3.0") << v123 << Ignored;
    QTest::newRow("full-width digits") << QByteArray("\xEF\xBC\x92.0.0") << v123 << Ignored;
    QTest::newRow("exponent") << QByteArray("1e3.0.0") << v123 << Ignored;
    QTest::newRow("too large to score") << QByteArray("999999999999999.0.0") << v123 << Ignored;
    QTest::newRow("not UTF-8 text") << QByteArray("2.0.0\xFF") << v123 << Ignored;
    QTest::newRow("binary with NUL") << QByteArray("2.0.0\0", 6) << v123 << Ignored;
    QTest::newRow("an HTML page") << QByteArray("<html>2.0.0</html>") << v123 << Ignored;
    QTest::newRow("a large body") << QByteArray("2.0.0") + QByteArray(5000, ' ') << v123 << Ignored;
}

void tst_UpdateCheck::versionComparison()
{
    QFETCH(QByteArray, answer);
    QFETCH(qint64, running);
    QFETCH(Outcome, outcome);

    const std::optional<UpdateAnswer> parsed = ParseUpdateAnswer(answer);
    QCOMPARE(parsed.has_value(), outcome != Ignored);
    if (parsed)
        QCOMPARE(IsNewerVersion(*parsed, running), outcome == Newer);
}

void tst_UpdateCheck::serverAddress_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("versionFile"); // empty: no usable address
    QTest::addColumn<QString>("page");

    QTest::newRow("folder") << u"http://maker.example/lintbay"_s
                            << u"http://maker.example/lintbay/newver.txt"_s
                            << u"http://maker.example/lintbay/"_s;
    QTest::newRow("folder with slash")
        << u" https://maker.example/soft/lintbay/ "_s << u"https://maker.example/soft/lintbay/newver.txt"_s
        << u"https://maker.example/soft/lintbay/"_s;
    QTest::newRow("host only, no scheme")
        << u"maker.example"_s << u"http://maker.example/newver.txt"_s << u"http://maker.example/"_s;
    QTest::newRow("query dropped") << u"http://maker.example/p?x=1#top"_s
                                   << u"http://maker.example/p/newver.txt"_s << u"http://maker.example/p/"_s;
    QTest::newRow("empty") << QString() << QString() << QString();
    QTest::newRow("blank") << u"   "_s << QString() << QString();
    QTest::newRow("other scheme") << u"ftp://maker.example/lintbay"_s << QString() << QString();
    QTest::newRow("mail address") << u"mailto:maker@example.org"_s << QString() << QString();
    QTest::newRow("host and port") << u"localhost:8080/soft"_s << u"http://localhost:8080/soft/newver.txt"_s
                                   << u"http://localhost:8080/soft/"_s;
    QTest::newRow("no host") << u"http:///lintbay"_s << QString() << QString();
}

void tst_UpdateCheck::serverAddress()
{
    QFETCH(QString, setting);
    QFETCH(QString, versionFile);
    QFETCH(QString, page);

    const QUrl base = UpdateBaseUrl(setting);
    QCOMPARE(base.isValid(), !versionFile.isEmpty());
    QCOMPARE(VersionFileUrl(base).toString(), versionFile);
    QCOMPARE(ProgramPageUrl(base).toString(), page);
    m_settings->set(keys::kSettings, keys::kUpdateAddress, setting);
    QCOMPARE(ProgramPageUrl(*m_settings).toString(), page);
}

// ---- the check through the request control --------------------------------------------------------

void tst_UpdateCheck::check_data()
{
    QTest::addColumn<TestHttpResponse>("response");
    QTest::addColumn<bool>("newer");
    QTest::addColumn<bool>("networkError");

    QTest::newRow("newer") << TestHttpResponse::bytes("1.3.0\r\n", "text/plain") << true << false;
    QTest::newRow("same") << TestHttpResponse::bytes("1.2.35", "text/plain") << false << false;
    QTest::newRow("malformed answer is silent")
        << TestHttpResponse::bytes("1.3", "text/plain") << false << false;
    QTest::newRow("binary answer is silent")
        << TestHttpResponse::bytes(QByteArray("\x89PNG\r\n\x1a\n\0\0", 10), "image/png") << false << false;
    QTest::newRow("empty answer is silent") << TestHttpResponse::bytes({}, "text/plain") << false << false;
    QTest::newRow("404") << TestHttpResponse::notFound() << false << true;
    // Megabytes trickled for ten seconds: given up after its first kilobyte, silently.
    TestHttpResponse endless = TestHttpResponse::bytes(QByteArray(8 << 20, '1'), "text/plain");
    endless.pieceSize = 16 << 10;
    endless.pieceIntervalMs = 20;
    QTest::newRow("endless answer") << endless << false << false;
    TestHttpResponse broken;
    broken.raw = "garbage\r\n\r\n";
    QTest::newRow("no HTTP answer") << broken << false << true;
}

void tst_UpdateCheck::check()
{
    QFETCH(TestHttpResponse, response);
    QFETCH(bool, newer);
    QFETCH(bool, networkError);

    m_server->serve(u"/soft/lintbay/newver.txt"_s, response);
    m_settings->set(keys::kSettings, keys::kUpdateAddress, m_server->url(u"/soft/lintbay"_s).toString());
    uXMLHTTP request(*m_network);
    UpdateCheck check(request, *m_settings);
    check.setRunningScore(score(1, 2, 35));
    QSignalSpy found(&check, &UpdateCheck::newerVersionFound);
    QSignalSpy failed(&check, &UpdateCheck::networkError);
    QSignalSpy finished(&check, &UpdateCheck::finished);

    QVERIFY(check.start());
    QVERIFY(check.isRunning());
    QVERIFY(!check.start()); // one check at a time
    QVERIFY(finished.wait(5000));
    QTest::qWait(30);
    QCOMPARE(finished.count(), 1);
    QVERIFY(!check.isRunning());
    // The network layer may retry a connection that brought no HTTP answer; one check is still one event.
    QVERIFY(!m_server->requestsTo(u"/soft/lintbay/newver.txt"_s).isEmpty());
    QCOMPARE(m_server->requestsTo(u"/soft/lintbay/newver.txt"_s).constFirst().method, QByteArray("GET"));
    QCOMPARE(found.count(), newer ? 1 : 0);
    if (newer) {
        QCOMPARE(found.at(0).at(0).toString(), u"1.3.0"_s);
        QCOMPARE(NewVersionLabelText(found.at(0).at(0).toString()), u"有最新版本：V1.3.0可以下载升级"_s);
    }
    QCOMPARE(failed.count(), networkError ? 1 : 0);
    QCOMPARE(check.programPage(), m_server->url(u"/soft/lintbay/"_s));

    // Another owner's answer on the same control is not taken for the check's.
    request.Open_(u"GET"_s, m_server->url(u"/soft/lintbay/newver.txt"_s).toString());
    request.Send_();
    QTRY_VERIFY(request.DownOK());
    QTest::qWait(30);
    QCOMPARE(found.count() + failed.count() + finished.count(), (newer || networkError ? 1 : 0) + 1);
}

void tst_UpdateCheck::noServerSendsNothing_data()
{
    QTest::addColumn<QString>("setting"); // null: the key is absent

    QTest::newRow("absent") << QString();
    QTest::newRow("empty") << u""_s;
    QTest::newRow("blank") << u"  "_s;
    QTest::newRow("mail address") << u"mailto:maker@example.org"_s;
    QTest::newRow("a file path") << u"/tmp/lintbay"_s;
}

void tst_UpdateCheck::noServerSendsNothing()
{
    QFETCH(QString, setting);
    // Requests anywhere on the local server would be counted, whatever address they were meant for.
    m_server->setFallback(
        [](const TestHttpRequest&) { return TestHttpResponse::bytes("9.9.9", "text/plain"); });
    if (!setting.isNull())
        m_settings->set(keys::kSettings, keys::kUpdateAddress, setting);

    uXMLHTTP request(*m_network);
    UpdateCheck check(request, *m_settings);
    QSignalSpy found(&check, &UpdateCheck::newerVersionFound);
    QSignalSpy failed(&check, &UpdateCheck::networkError);
    QSignalSpy poll(&request, &uXMLHTTP::OnReadyStateChange);

    QVERIFY(!check.start());
    QVERIFY(!check.isRunning());
    QCOMPARE(request.ReadyState(), 0);
    QVERIFY(!request.tmrReader->isActive());
    QTest::qWait(50);
    QCOMPARE(m_server->requestCount(), 0);
    QCOMPARE(poll.count(), 0);
    QCOMPARE(found.count() + failed.count(), 0);
    QVERIFY(!check.programPage().isValid());
}

void tst_UpdateCheck::silentServerIsGivenUp()
{
    m_server->serve(u"/newver.txt"_s, TestHttpResponse::never());
    m_settings->set(keys::kSettings, keys::kUpdateAddress, m_server->url().toString());
    uXMLHTTP request(*m_network);
    UpdateCheck check(request, *m_settings);
    check.setTimeout(200);
    QSignalSpy failed(&check, &UpdateCheck::networkError);
    QSignalSpy finished(&check, &UpdateCheck::finished);

    QVERIFY(check.start());
    QVERIFY(finished.wait(5000));
    QCOMPARE(failed.count(), 0);
    QVERIFY(!request.tmrReader->isActive()); // no poll left running for the rest of the program
    QTRY_COMPARE(m_server->openConnections(), 0);
}

QTEST_GUILESS_MAIN(tst_UpdateCheck)
#include "tst_updatecheck.moc"
