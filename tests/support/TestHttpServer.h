#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>
#include <QUrl>
#include <QUrlQuery>

#include <functional>
#include <utility>

class QTcpServer;
class QTcpSocket;

namespace lintbay::test {

using HeaderList = QList<std::pair<QByteArray, QByteArray>>;

// One request as the server received it.
struct TestHttpRequest
{
    QByteArray method;
    QByteArray target;  // as sent: "/path?query", or an absolute URL when sent to a proxy
    QString path;       // percent-encoded, as sent
    QString query;      // without "?", percent-encoded
    HeaderList headers; // in the order received
    QByteArray body;

    QByteArray header(QByteArrayView name) const; // first match, case-insensitive; empty when absent
    bool hasHeader(QByteArrayView name) const;
    QUrlQuery queryItems() const { return QUrlQuery(query); }
    QString queryItem(const QString& key) const; // decoded value
};

// What the server sends back. Besides plain answers it can misbehave on purpose: answer late,
// never answer, trickle the body, stop in the middle, frame the body in different ways or send
// raw bytes.
struct TestHttpResponse
{
    enum class Framing
    {
        ContentLength,  // Content-Length header
        Chunked,        // Transfer-Encoding: chunked, one chunk per piece
        CloseDelimited, // no length at all; closing the connection ends the body
    };

    int status = 200;
    QByteArray reason; // empty: the usual phrase for the status
    HeaderList headers;
    QByteArray body;
    Framing framing = Framing::ContentLength;
    qint64 declaredLength = -1; // Content-Length to announce instead of the body's size

    int delayMs = 0;             // wait before answering
    bool stall = false;          // never answer; the connection stays open
    int pieceSize = 0;           // send the body in pieces of this many bytes (0: at once)
    int pieceIntervalMs = 0;     // pause between pieces
    qint64 stallAfterBytes = -1; // send this many body bytes, then hold the connection open
    qint64 closeAfterBytes = -1; // send this many body bytes, then close the connection
    qint64 resetAfterBytes = -1; // send this many body bytes, then reset the connection (RST)
    bool endless = false;        // send the body over and over for as long as the client reads
    QByteArray raw;              // when not empty, sent verbatim instead of a built response

    TestHttpResponse& withHeader(const QByteArray& name, const QByteArray& value);

    static TestHttpResponse html(const QByteArray& body, const QByteArray& charset = "utf-8");
    static TestHttpResponse html(const QString& body); // UTF-8
    static TestHttpResponse bytes(const QByteArray& body, const QByteArray& contentType);
    static TestHttpResponse redirect(const QByteArray& location, int status = 302);
    static TestHttpResponse notFound();
    static TestHttpResponse never(); // stalls
};

using TestHttpHandler = std::function<TestHttpResponse(const TestHttpRequest&)>;

// A small HTTP/1.1 server on 127.0.0.1 and a free port, on the thread that creates it. Connections
// stay open for further requests unless the client asks to close, or the answer can only end by
// closing (no length, a wrong length, raw bytes).
class TestHttpServer : public QObject
{
    Q_OBJECT
public:
    explicit TestHttpServer(QObject* parent = nullptr);
    ~TestHttpServer() override;

    bool isListening() const;
    // Moves the server to the given port (0: any free one); false when that port is taken.
    bool listen(quint16 port);
    quint16 port() const;
    // "http://127.0.0.1:port" + pathAndQuery (which starts with "/").
    QUrl url(const QString& pathAndQuery = QStringLiteral("/")) const;

    // Handlers for an exact path; a later registration for the same path replaces the earlier.
    void route(const QString& path, TestHttpHandler handler);
    // The same answer for every request to the path.
    void serve(const QString& path, const TestHttpResponse& response);
    // Handlers for every path that starts with the prefix; the longest prefix wins, exact paths first.
    void routePrefix(const QString& prefix, TestHttpHandler handler);
    // Used when nothing matches; the default answers 404.
    void setFallback(TestHttpHandler handler);
    void clearRoutes();

    QList<TestHttpRequest> requests() const { return m_log; }
    // Requests whose path equals `path`.
    QList<TestHttpRequest> requestsTo(const QString& path) const;
    int requestCount() const { return int(m_log.size()); }
    void clearLog() { m_log.clear(); }
    // Connections accepted and not yet closed (stalled answers keep theirs open).
    int openConnections() const { return m_openConnections; }
    // Bytes read from all connections so far (lets a test wait until the server has seen a write).
    qint64 bytesReceived() const { return m_bytesReceived; }

signals:
    void requestReceived(const lintbay::test::TestHttpRequest& request);

private:
    class Connection;
    friend class Connection;

    void onNewConnection();
    TestHttpResponse respond(const TestHttpRequest& request);

    QTcpServer* m_server = nullptr;
    QHash<QString, TestHttpHandler> m_exact;
    QList<std::pair<QString, TestHttpHandler>> m_prefixes;
    TestHttpHandler m_fallback;
    QList<TestHttpRequest> m_log;
    int m_openConnections = 0;
    qint64 m_bytesReceived = 0;
};

} // namespace lintbay::test
