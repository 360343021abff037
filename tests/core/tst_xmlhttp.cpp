// The request control against the local server: which event each answer raises and with what text,
// what reaches the disk, and that nothing is raised without Open_ or after Abort_.
#include "controls/NetworkContext.h"
#include "controls/uXMLHTTP.h"

#include "TestHttpServer.h"

#include <QDir>
#include <QFile>
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

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                                  QDir::Name);
}

// Every event of one control, in the order raised, with what the properties said at that moment.
struct EventLog
{
    QStringList names;
    QString errText;
    bool downOkDuringPoll = false;

    explicit EventLog(uXMLHTTP& x)
    {
        QObject::connect(&x, &uXMLHTTP::OnReadyStateChange, &x, [this, &x] {
            names.append(u"change"_s);
            downOkDuringPoll = downOkDuringPoll || x.DownOK();
        });
        QObject::connect(&x, &uXMLHTTP::OnDateArrived, &x, [this] { names.append(u"arrived"_s); });
        QObject::connect(&x, &uXMLHTTP::OnDateErr, &x, [this](const QString& text) {
            names.append(u"err"_s);
            errText = text;
        });
    }
    int finals() const { return int(names.count(u"arrived"_s) + names.count(u"err"_s)); }
};

// A port on which nothing listens.
quint16 closedPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

} // namespace

class tst_XmlHttp : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void outcomes_data();
    void outcomes();
    void saveToFile_data();
    void saveToFile();
    void noEventWithoutOpen();
    void badOpenKeepsThePreviousRequest();
    void abortAndReopenRaiseNoStrayEvent();
    void requestAsSentAndHeadersAsReceived();
    void getGoesWithoutABody();
    void ownerMayDeleteTheControlInAHandler();

private:
    // Runs one request to its event; false when none or more than one arrived.
    bool runToEnd(uXMLHTTP& x, EventLog& log, int timeoutMs = 5000, const QByteArray& body = {});

    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<NetworkContext> m_network;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void tst_XmlHttp::init()
{
    m_server = std::make_unique<TestHttpServer>();
    QVERIFY(m_server->isListening());
    m_network = std::make_unique<NetworkContext>();
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

void tst_XmlHttp::cleanup()
{
    m_network.reset();
    m_server.reset();
    m_dir.reset();
}

bool tst_XmlHttp::runToEnd(uXMLHTTP& x, EventLog& log, int timeoutMs, const QByteArray& body)
{
    x.Send_(body);
    // Events come from the poll only, never from inside Send_.
    if (!log.names.isEmpty())
        return false;
    if (!QTest::qWaitFor([&] { return log.finals() > 0; }, timeoutMs))
        return false;
    QTest::qWait(50); // a second, wrong event would show up here
    return log.finals() == 1 && !x.tmrReader->isActive();
}

// A body given to a GET is not sent: some servers refuse a GET that carries one.
void tst_XmlHttp::getGoesWithoutABody()
{
    m_server->serve(u"/get"_s, TestHttpResponse::bytes("done", "text/plain"));
    uXMLHTTP x(*m_network);
    EventLog log(x);
    QVERIFY(x.Open_(u"GET"_s, m_server->url(u"/get"_s).toString()));
    QVERIFY(runToEnd(x, log, 5000, "x=1"));
    const TestHttpRequest sent = m_server->requestsTo(u"/get"_s).constFirst();
    QCOMPARE(sent.method, QByteArray("GET"));
    QVERIFY(sent.body.isEmpty() && !sent.hasHeader("Content-Length"));
}

// ---- which event, which text ----------------------------------------------------------------------

void tst_XmlHttp::outcomes_data()
{
    QTest::addColumn<TestHttpResponse>("response");
    QTest::addColumn<bool>("arrives");
    QTest::addColumn<QString>("errText");
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("text");

    QTest::newRow("200 text") << TestHttpResponse::bytes("1.2.3\r\n", "text/plain") << true << QString()
                              << 200 << u"1.2.3\r\n"_s;
    QTest::newRow("200 in GBK") << TestHttpResponse::bytes("\xD6\xD0\xCE\xC4", "text/plain; charset=GBK")
                                << true << QString() << 200 << u"中文"_s;
    QTest::newRow("200 empty") << TestHttpResponse::bytes({}, "text/plain") << true << QString() << 200
                               << QString();
    QTest::newRow("404") << TestHttpResponse::notFound() << false << u"没有发现文件?查询或URl"_s << 404
                         << QString::fromUtf8(TestHttpResponse::notFound().body);
    TestHttpResponse teapot = TestHttpResponse::bytes("short and stout", "text/plain");
    teapot.status = 418;
    QTest::newRow("418 has no entry") << teapot << false << QString() << 418 << u"short and stout"_s;
    TestHttpResponse server = TestHttpResponse::bytes("", "text/plain");
    server.status = 503;
    QTest::newRow("503") << server << false << u"服务器过载或暂停维修"_s << 503 << QString();
    TestHttpResponse beyond = TestHttpResponse::bytes("x", "text/plain");
    beyond.status = 799;
    QTest::newRow("above 600: empty like any code without an entry")
        << beyond << false << QString() << 799 << u"x"_s;
    TestHttpResponse cut = TestHttpResponse::bytes("9.9.9 and the rest of the answer", "text/plain");
    cut.closeAfterBytes = 5;
    QTest::newRow("200 cut off") << cut << false << QString() << 200 << u"9.9.9"_s;
    TestHttpResponse broken;
    broken.raw = "this is not HTTP\r\n\r\n";
    QTest::newRow("no HTTP answer: status 0") << broken << false << QString() << 0 << QString();
}

void tst_XmlHttp::outcomes()
{
    QFETCH(TestHttpResponse, response);
    QFETCH(bool, arrives);
    QFETCH(QString, errText);
    QFETCH(int, status);
    QFETCH(QString, text);

    m_server->serve(u"/answer"_s, response);
    uXMLHTTP x(*m_network);
    EventLog log(x);
    QVERIFY(x.Open_(u"GET"_s, m_server->url(u"/answer"_s).toString()));
    QCOMPARE(x.ReadyState(), 1);
    QVERIFY(!x.DownOK());
    QVERIFY(runToEnd(x, log));

    QCOMPARE(log.names.constLast(), arrives ? u"arrived"_s : u"err"_s);
    QCOMPARE(log.errText, errText);
    QVERIFY(!log.downOkDuringPoll);
    QVERIFY(x.DownOK());
    QCOMPARE(x.ReadyState(), 4);
    QCOMPARE(x.Status(), status);
    QCOMPARE(x.ResponseText(), text);
}

// ---- the body on disk -----------------------------------------------------------------------------

void tst_XmlHttp::saveToFile_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("before"); // at the save path beforehand; null: nothing there
    QTest::addColumn<QByteArray>("after");  // null: nothing there
    QTest::addColumn<bool>("asFileUrl");

    const QByteArray older("an older and much longer file that must not leave a tail behind");
    QTest::newRow("new file") << 200 << QByteArray("%PDF-1.4 body") << QByteArray()
                              << QByteArray("%PDF-1.4 body") << false;
    QTest::newRow("replaces an existing file completely")
        << 200 << QByteArray("new") << older << QByteArray("new") << false;
    QTest::newRow("two bytes are a body") << 200 << QByteArray("ab") << older << QByteArray("ab") << false;
    QTest::newRow("one byte saves nothing") << 200 << QByteArray("x") << older << older << false;
    QTest::newRow("one byte creates nothing")
        << 200 << QByteArray("x") << QByteArray() << QByteArray() << false;
    QTest::newRow("empty body saves nothing") << 200 << QByteArray("") << older << older << false;
    QTest::newRow("404 saves nothing")
        << 404 << QByteArray("not found page") << QByteArray() << QByteArray() << false;
    QTest::newRow("file:/// address")
        << 200 << QByteArray("via address") << older << QByteArray("via address") << true;
}

void tst_XmlHttp::saveToFile()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    QFETCH(bool, asFileUrl);

    TestHttpResponse response = TestHttpResponse::bytes(body, "application/octet-stream");
    response.status = status;
    m_server->serve(u"/file"_s, response);
    const QString target = m_dir->filePath(u"目标 file.bin"_s);
    if (!before.isNull())
        QVERIFY(writeFile(target, before));

    uXMLHTTP x(*m_network);
    EventLog log(x);
    const QString savePath = asFileUrl ? u"  "_s + QUrl::fromLocalFile(target).toString() : target;
    QVERIFY(x.Open_(u"get"_s, m_server->url(u"/file"_s).toString(), savePath));
    QVERIFY(runToEnd(x, log));
    QCOMPARE(log.names.constLast(), status == 200 ? u"arrived"_s : u"err"_s);

    if (after.isNull()) {
        QVERIFY(!QFile::exists(target));
        QVERIFY(entries(m_dir->path()).isEmpty());
    } else {
        QCOMPARE(readFile(target), after);
        QCOMPARE(entries(m_dir->path()), QStringList{u"目标 file.bin"_s}); // no temporary left behind
    }
}

// ---- no event without Open_, none after Abort_ ----------------------------------------------------

void tst_XmlHttp::noEventWithoutOpen()
{
    m_server->serve(u"/"_s, TestHttpResponse::bytes("1.0.0", "text/plain"));
    uXMLHTTP x(*m_network);
    EventLog log(x);
    x.SetRequestHeader(u"X-Early"_s, u"1"_s);
    x.Send_();
    QVERIFY(!x.tmrReader->isActive());
    QTest::qWait(50);
    QVERIFY(log.names.isEmpty());
    QCOMPARE(m_server->requestCount(), 0);
    QCOMPARE(x.ReadyState(), 0);
    QCOMPARE(x.Status(), 0);
    QCOMPARE(x.ResponseText(), QString());
    QCOMPARE(x.GetAllResponseHeaders(), QString());
}

void tst_XmlHttp::badOpenKeepsThePreviousRequest()
{
    m_server->serve(u"/ok"_s, TestHttpResponse::bytes("fine", "text/plain"));
    uXMLHTTP x(*m_network);
    EventLog log(x);
    const QString saveFile = m_dir->filePath(u"a.txt"_s);
    QVERIFY(x.Open_(u"GET"_s, m_server->url(u"/ok"_s).toString(), saveFile));
    for (const auto& [method, url] :
         {std::pair{u"GET"_s, u"not an address"_s}, std::pair{u"GET"_s, u"ftp://127.0.0.1/x"_s},
          std::pair{u"GET"_s, u"/relative/path"_s}, std::pair{u"G ET"_s, m_server->url(u"/ok"_s).toString()},
          std::pair{QString(), m_server->url(u"/ok"_s).toString()}}) {
        QVERIFY2(!x.Open_(method, url, m_dir->filePath(u"other.txt"_s)), qPrintable(method + u' ' + url));
    }
    QCOMPARE(x.saveFile(), saveFile);
    QVERIFY(runToEnd(x, log));
    QCOMPARE(log.names.constLast(), u"arrived"_s);
    QCOMPARE(readFile(saveFile), QByteArray("fine"));
    QCOMPARE(m_server->requestCount(), 1);
}

void tst_XmlHttp::abortAndReopenRaiseNoStrayEvent()
{
    m_server->serve(u"/never"_s, TestHttpResponse::never());
    m_server->serve(u"/ok"_s, TestHttpResponse::bytes("ok", "text/plain"));
    uXMLHTTP x(*m_network);
    EventLog log(x);

    // Outstanding: the poll keeps raising OnReadyStateChange and nothing else.
    QVERIFY(x.Open_(u"GET"_s, m_server->url(u"/never"_s).toString()));
    x.Send_();
    QTRY_COMPARE(m_server->requestsTo(u"/never"_s).size(), 1);
    QTRY_VERIFY(log.names.size() >= 5);
    QCOMPARE(log.finals(), 0);
    QVERIFY(x.ReadyState() < 4);

    // A fresh Open_ forgets the outstanding request: only the new one is reported.
    QVERIFY(x.Open_(u"GET"_s, m_server->url(u"/ok"_s).toString()));
    log.names.clear();
    QVERIFY(runToEnd(x, log));
    QCOMPARE(log.names.constLast(), u"arrived"_s);
    QCOMPARE(x.ResponseText(), u"ok"_s);

    // Abort_ stops polling for good.
    QVERIFY(x.Open_(u"GET"_s, m_server->url(u"/never"_s).toString()));
    x.Send_();
    QTRY_COMPARE(m_server->requestsTo(u"/never"_s).size(), 2);
    log.names.clear();
    x.Abort_();
    QVERIFY(!x.tmrReader->isActive());
    QCOMPARE(x.ReadyState(), 0);
    QCOMPARE(x.Status(), 0);
    QTRY_COMPARE(m_server->openConnections(), 0); // the connection is given up as well
    x.Send_();                                    // nothing prepared: nothing sent, nothing polled
    QVERIFY(!x.tmrReader->isActive());
    QTest::qWait(50);
    QVERIFY(log.names.isEmpty());
    QCOMPARE(m_server->requestsTo(u"/never"_s).size(), 2);
    QVERIFY(!x.DownOK());

    // A refused connection still ends, with status 0 and an empty text.
    QVERIFY(x.Open_(u"GET"_s, u"http://127.0.0.1:%1/x"_s.arg(closedPort())));
    QVERIFY(runToEnd(x, log));
    QCOMPARE(log.names.constLast(), u"err"_s);
    QCOMPARE(log.errText, QString());
    QCOMPARE(x.Status(), 0);
}

// ---- what is sent, what can be read ---------------------------------------------------------------

void tst_XmlHttp::requestAsSentAndHeadersAsReceived()
{
    m_server->route(u"/post"_s, [](const TestHttpRequest&) {
        return TestHttpResponse::bytes("done", "text/plain").withHeader("X-Answer", "forty-two");
    });
    m_server->serve(u"/moved"_s, TestHttpResponse::redirect("/post", 302));
    m_network->setUserAgent("LintbayTest/1");
    uXMLHTTP x(*m_network);
    EventLog log(x);
    QVERIFY(x.Open_(u" post "_s, m_server->url(u"/post"_s).toString()));
    x.SetRequestHeader(u"X-Asked"_s, u"yes"_s);
    x.SetRequestHeader(u"X-Bad"_s, u"a\r\nInjected: 1"_s); // would forge a header: dropped
    QVERIFY(runToEnd(x, log));
    x.SetRequestHeader(u"X-Late"_s, u"1"_s); // after Send_: ignored

    const TestHttpRequest sent = m_server->requestsTo(u"/post"_s).constFirst();
    QCOMPARE(sent.method, QByteArray("POST"));
    QCOMPARE(sent.header("X-Asked"), QByteArray("yes"));
    QVERIFY(!sent.hasHeader("X-Bad"));
    QVERIFY(!sent.hasHeader("Injected"));
    QCOMPARE(sent.header("User-Agent"), QByteArray("LintbayTest/1"));

    QCOMPARE(x.StatusText(), u"OK"_s);
    QCOMPARE(x.GetResponseHeader(u"x-answer"_s), u"forty-two"_s);
    QCOMPARE(x.GetResponseHeader(u"X-Missing"_s), QString());
    QVERIFY(x.GetAllResponseHeaders().contains(u"X-Answer: forty-two\r\n"_s));
    QCOMPARE(x.ResponseBody(), QByteArray("done"));

    // A redirect is followed; the event is about the final answer and carries its body only.
    EventLog second(x);
    QVERIFY(x.Open_(u"GET"_s, m_server->url(u"/moved"_s).toString()));
    QVERIFY(runToEnd(x, second));
    QCOMPARE(second.names.constLast(), u"arrived"_s);
    QCOMPARE(x.Status(), 200);
    QCOMPARE(x.ResponseBody(), QByteArray("done"));
}

void tst_XmlHttp::ownerMayDeleteTheControlInAHandler()
{
    m_server->serve(u"/ok"_s, TestHttpResponse::bytes("ok", "text/plain"));
    for (const bool inPoll : {true, false}) {
        QPointer<uXMLHTTP> x = new uXMLHTTP(*m_network);
        int arrived = 0;
        if (inPoll)
            connect(x, &uXMLHTTP::OnReadyStateChange, this, [&] {
                if (x->ReadyState() == 4)
                    delete x.data();
            });
        connect(x, &uXMLHTTP::OnDateArrived, this, [&] {
            ++arrived;
            delete x.data();
        });
        QVERIFY(x->Open_(u"GET"_s, m_server->url(u"/ok"_s).toString()));
        x->Send_();
        QTRY_VERIFY(x.isNull());
        QCOMPARE(arrived, inPoll ? 0 : 1);
    }
}

QTEST_GUILESS_MAIN(tst_XmlHttp)
#include "tst_xmlhttp.moc"
