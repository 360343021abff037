// The local server stands in for the web in every network suite; a fault in it would show up as a
// fault of whatever it serves, so its own behaviour is pinned down here.
#include "TestHttpServer.h"
#include "TlsFront.h"
#include "controls/NetworkContext.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace lintbay::test;

namespace {

struct Fetched
{
    bool finished = false;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    int status = 0;
    QByteArray body;
    QByteArray contentLength;
};

Fetched fetch(QNetworkAccessManager& nam, const QUrl& url, const QByteArray& method = "GET",
              int timeoutMs = 5000)
{
    QNetworkRequest request(url);
    QNetworkReply* reply = method == "HEAD" ? nam.head(request) : nam.sendCustomRequest(request, method);
    QByteArray body;
    QObject::connect(reply, &QIODevice::readyRead, reply, [&] { body += reply->readAll(); });
    QSignalSpy done(reply, &QNetworkReply::finished);
    Fetched f;
    f.finished = done.wait(timeoutMs);
    if (!f.finished)
        reply->abort();
    body += reply->readAll();
    f.error = reply->error();
    f.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    f.body = body;
    f.contentLength = reply->rawHeader("Content-Length");
    reply->deleteLater();
    return f;
}

// Reads from a raw socket until the peer closes it. The server lives on this thread, so the wait
// has to run events rather than block.
QByteArray readAnswer(QTcpSocket& socket)
{
    QByteArray all;
    [[maybe_unused]] const bool closed = QTest::qWaitFor(
        [&] {
            all += socket.readAll();
            return socket.state() != QAbstractSocket::ConnectedState;
        },
        5000);
    return all + socket.readAll();
}

} // namespace

class TestTestHttpServer : public QObject
{
    Q_OBJECT
private slots:
    void bodyFraming_data();
    void bodyFraming();
    void stallsAfterSomeBytes();
    void routesAndLog();
    void requestArrivingInPieces();
    void keepAliveAnswersInTurn();
    void proxyFormTarget();
    void tlsFrontSpeaksHttp2ToThoseWhoTrustIt();
};

void TestTestHttpServer::bodyFraming_data()
{
    QTest::addColumn<int>("framing");
    QTest::addColumn<int>("pieceSize");
    QTest::addColumn<QByteArray>("method");
    QTest::addColumn<QByteArray>("expectedBody");
    QTest::addColumn<QByteArray>("expectedLength");

    const QByteArray body = QByteArray("0123456789").repeated(50);
    const int length = int(TestHttpResponse::Framing::ContentLength);
    const int chunked = int(TestHttpResponse::Framing::Chunked);
    const int close = int(TestHttpResponse::Framing::CloseDelimited);
    QTest::newRow("content length") << length << 0 << QByteArray("GET") << body << QByteArray("500");
    QTest::newRow("content length trickled")
        << length << 64 << QByteArray("GET") << body << QByteArray("500");
    QTest::newRow("chunked") << chunked << 0 << QByteArray("GET") << body << QByteArray();
    QTest::newRow("chunked pieces") << chunked << 7 << QByteArray("GET") << body << QByteArray();
    QTest::newRow("close delimited") << close << 100 << QByteArray("GET") << body << QByteArray();
    QTest::newRow("head") << length << 0 << QByteArray("HEAD") << QByteArray() << QByteArray("500");
}

void TestTestHttpServer::bodyFraming()
{
    QFETCH(int, framing);
    QFETCH(int, pieceSize);
    QFETCH(QByteArray, method);
    QFETCH(QByteArray, expectedBody);
    QFETCH(QByteArray, expectedLength);

    TestHttpServer server;
    TestHttpResponse r = TestHttpResponse::bytes(QByteArray("0123456789").repeated(50), "application/pdf");
    r.framing = TestHttpResponse::Framing(framing);
    r.pieceSize = pieceSize;
    r.pieceIntervalMs = pieceSize > 0 ? 2 : 0;
    server.serve(u"/f.pdf"_s, r);
    QNetworkAccessManager nam;
    const Fetched f = fetch(nam, server.url(u"/f.pdf"_s), method);
    QVERIFY(f.finished);
    QCOMPARE(f.error, QNetworkReply::NoError);
    QCOMPARE(f.status, 200);
    QCOMPARE(f.body, expectedBody);
    QCOMPARE(f.contentLength, expectedLength);
    QCOMPARE(server.requestsTo(u"/f.pdf"_s).constFirst().method, method);
}

void TestTestHttpServer::stallsAfterSomeBytes()
{
    TestHttpServer server;
    TestHttpResponse r = TestHttpResponse::bytes(QByteArray(1000, 'x'), "application/octet-stream");
    r.stallAfterBytes = 100;
    server.serve(u"/big"_s, r);
    QNetworkAccessManager nam;
    QNetworkReply* reply = nam.get(QNetworkRequest(server.url(u"/big"_s)));
    QTRY_COMPARE(reply->bytesAvailable(), 100);
    QCOMPARE(reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(), 1000);
    QVERIFY(!reply->isFinished());
    QCOMPARE(server.openConnections(), 1);
    reply->abort();
    delete reply;

    // A wrong length ends with the connection, leaving the body short.
    TestHttpResponse cut = TestHttpResponse::bytes("abc", "text/plain");
    cut.declaredLength = 10;
    server.serve(u"/cut"_s, cut);
    const Fetched f = fetch(nam, server.url(u"/cut"_s));
    QVERIFY(f.finished);
    QCOMPARE(f.body, QByteArray("abc"));
    QVERIFY(f.error != QNetworkReply::NoError);
}

void TestTestHttpServer::routesAndLog()
{
    TestHttpServer server;
    server.routePrefix(u"/d/"_s,
                       [](const TestHttpRequest&) { return TestHttpResponse::bytes("short", "text/plain"); });
    server.routePrefix(u"/d/deep/"_s,
                       [](const TestHttpRequest&) { return TestHttpResponse::bytes("long", "text/plain"); });
    server.serve(u"/d/deep/exact"_s, TestHttpResponse::bytes("exact", "text/plain"));
    server.serve(u"/moved"_s, TestHttpResponse::redirect("/d/x"));
    QSignalSpy seen(&server, &TestHttpServer::requestReceived);
    QNetworkAccessManager nam;
    QCOMPARE(fetch(nam, server.url(u"/d/a"_s)).body, QByteArray("short"));
    QCOMPARE(fetch(nam, server.url(u"/d/deep/a"_s)).body, QByteArray("long"));
    QCOMPARE(fetch(nam, server.url(u"/d/deep/exact"_s)).body, QByteArray("exact"));
    QCOMPARE(fetch(nam, server.url(u"/moved"_s)).body, QByteArray("short"));
    const Fetched missing = fetch(nam, server.url(u"/nothing?q=%E4%B8%AD"_s));
    QCOMPARE(missing.status, 404);

    QVERIFY(seen.size() >= 6);
    const TestHttpRequest last = server.requests().constLast();
    QCOMPARE(last.path, u"/nothing"_s);
    QCOMPARE(last.query, u"q=%E4%B8%AD"_s);
    QCOMPARE(last.queryItem(u"q"_s), u"中"_s);
    QCOMPARE(last.target, QByteArray("/nothing?q=%E4%B8%AD"));
    QVERIFY(last.header("host").startsWith("127.0.0.1:"));
    server.clearLog();
    QCOMPARE(server.requestCount(), 0);
}

void TestTestHttpServer::requestArrivingInPieces()
{
    TestHttpServer server;
    server.route(u"/post"_s, [](const TestHttpRequest& r) {
        return TestHttpResponse::bytes("got " + r.body, "text/plain");
    });
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, server.port());
    QVERIFY(socket.waitForConnected(3000));
    const QByteArray request =
        "POST /post HTTP/1.1\r\nHost: x\r\nContent-Length: 11\r\nConnection: close\r\n\r\nhello world";
    // Split inside the request line, inside the header end and inside the body.
    qint64 sent = 0;
    for (const QByteArray& part :
         {request.left(7), request.mid(7, 62), request.mid(69, 4), request.mid(73)}) {
        socket.write(part);
        QVERIFY(socket.waitForBytesWritten(3000));
        sent += part.size();
        QTRY_COMPARE(server.bytesReceived(), sent); // the server reads this piece on its own
    }
    const QByteArray answer = readAnswer(socket);
    QVERIFY2(answer.startsWith("HTTP/1.1 200 OK\r\n"), answer.constData());
    QVERIFY(answer.endsWith("\r\n\r\ngot hello world"));
    QCOMPARE(server.requestCount(), 1);
    QCOMPARE(server.requests().constFirst().body, QByteArray("hello world"));
}

void TestTestHttpServer::keepAliveAnswersInTurn()
{
    TestHttpServer server;
    server.routePrefix(u"/"_s, [](const TestHttpRequest& r) {
        return TestHttpResponse::bytes(r.path.toUtf8(), "text/plain");
    });
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, server.port());
    QVERIFY(socket.waitForConnected(3000));
    // Two requests in one write: the second waits for the first answer.
    socket.write(
        "GET /one HTTP/1.1\r\nHost: x\r\n\r\nGET /two HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n");
    const QByteArray answer = readAnswer(socket);
    QCOMPARE(answer.count("HTTP/1.1 200 OK"), 2);
    QVERIFY(answer.indexOf("/one") < answer.indexOf("/two"));
    QVERIFY(answer.endsWith("/two"));
    QCOMPARE(server.requestCount(), 2);
}

void TestTestHttpServer::proxyFormTarget()
{
    TestHttpServer server;
    server.serve(u"/file.doc"_s, TestHttpResponse::bytes("doc", "application/msword"));
    QNetworkAccessManager nam;
    nam.setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, u"127.0.0.1"_s, server.port()));
    const Fetched f = fetch(nam, QUrl(u"http://files.example.org/file.doc?a=1"_s));
    QCOMPARE(f.body, QByteArray("doc"));
    const TestHttpRequest r = server.requests().constFirst();
    QCOMPARE(r.target, QByteArray("http://files.example.org/file.doc?a=1"));
    QCOMPARE(r.path, u"/file.doc"_s);
    QCOMPARE(r.query, u"a=1"_s);
}

// The HTTPS front is a real HTTP/2 host for the network context that trusts the test authority, and
// an untrusted one for everybody else.
void TestTestHttpServer::tlsFrontSpeaksHttp2ToThoseWhoTrustIt()
{
    TestHttpServer server;
    auto trickled = TestHttpResponse::bytes(QByteArray(5000, 'x'), "application/pdf");
    trickled.framing = TestHttpResponse::Framing::Chunked;
    trickled.pieceSize = 1000;
    server.serve(u"/doc"_s, trickled);
    TlsFront front(server.port());
    QVERIFY2(front.isRunning(), qPrintable(front.error()));
    for (const bool trusted : {false, true}) {
        lintbay::NetworkContext network;
        if (trusted)
            network.trustAuthority(TlsFront::authority());
        QNetworkReply* reply = network.manager()->get(network.makeRequest(front.url(u"/doc"_s), "http://page/"));
        QSignalSpy done(reply, &QNetworkReply::finished);
        QVERIFY(done.wait(10000));
        if (!trusted) {
            QCOMPARE(reply->error(), QNetworkReply::SslHandshakeFailedError);
        } else {
            QCOMPARE(reply->error(), QNetworkReply::NoError);
            QVERIFY(reply->attribute(QNetworkRequest::Http2WasUsedAttribute).toBool());
            QVERIFY(!reply->hasRawHeader("Content-Length"));
            QCOMPARE(reply->readAll(), QByteArray(5000, 'x'));
            QCOMPARE(server.requests().constLast().header("Referer"), QByteArray("http://page/"));
        }
        delete reply;
    }
}

QTEST_GUILESS_MAIN(TestTestHttpServer)
#include "tst_testhttpserver.moc"
