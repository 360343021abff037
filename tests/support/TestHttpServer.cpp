#include "TestHttpServer.h"

#include <QHostAddress>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>

#include <sys/socket.h>

using namespace Qt::StringLiterals;

namespace lintbay::test {

namespace {

constexpr qsizetype kMaxHeaderBytes = 64 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 201:
        return "Created";
    case 204:
        return "No Content";
    case 206:
        return "Partial Content";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 303:
        return "See Other";
    case 304:
        return "Not Modified";
    case 307:
        return "Temporary Redirect";
    case 308:
        return "Permanent Redirect";
    case 400:
        return "Bad Request";
    case 401:
        return "Unauthorized";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 416:
        return "Range Not Satisfiable";
    case 431:
        return "Request Header Fields Too Large";
    case 500:
        return "Internal Server Error";
    case 502:
        return "Bad Gateway";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

bool hasHeaderIn(const HeaderList& headers, QByteArrayView name)
{
    return std::any_of(headers.cbegin(), headers.cend(),
                       [&](const auto& h) { return h.first.compare(name, Qt::CaseInsensitive) == 0; });
}

} // namespace

// ---- request and response -----------------------------------------------------------------------

QByteArray TestHttpRequest::header(QByteArrayView name) const
{
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0)
            return value;
    }
    return {};
}

bool TestHttpRequest::hasHeader(QByteArrayView name) const
{
    return hasHeaderIn(headers, name);
}

QString TestHttpRequest::queryItem(const QString& key) const
{
    return queryItems().queryItemValue(key, QUrl::FullyDecoded);
}

TestHttpResponse& TestHttpResponse::withHeader(const QByteArray& name, const QByteArray& value)
{
    headers.append({name, value});
    return *this;
}

TestHttpResponse TestHttpResponse::html(const QByteArray& body, const QByteArray& charset)
{
    TestHttpResponse r;
    r.body = body;
    r.headers.append(
        {"Content-Type", charset.isEmpty() ? QByteArray("text/html") : "text/html; charset=" + charset});
    return r;
}

TestHttpResponse TestHttpResponse::html(const QString& body)
{
    return html(body.toUtf8(), "utf-8");
}

TestHttpResponse TestHttpResponse::bytes(const QByteArray& body, const QByteArray& contentType)
{
    TestHttpResponse r;
    r.body = body;
    if (!contentType.isEmpty())
        r.headers.append({"Content-Type", contentType});
    return r;
}

TestHttpResponse TestHttpResponse::redirect(const QByteArray& location, int status)
{
    TestHttpResponse r;
    r.status = status;
    r.headers.append({"Location", location});
    return r;
}

TestHttpResponse TestHttpResponse::notFound()
{
    TestHttpResponse r = html(QByteArray("<html><body><h1>404 Not Found</h1></body></html>"));
    r.status = 404;
    return r;
}

TestHttpResponse TestHttpResponse::never()
{
    TestHttpResponse r;
    r.stall = true;
    return r;
}

// ---- one connection -----------------------------------------------------------------------------

class TestHttpServer::Connection : public QObject
{
public:
    Connection(TestHttpServer* server, QTcpSocket* socket)
        : QObject(server), m_server(server), m_socket(socket)
    {
        ++m_server->m_openConnections;
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, &Connection::onReadyRead);
        connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
        // Data may already be waiting when the connection is picked up.
        QTimer::singleShot(0, this, &Connection::onReadyRead);
    }
    ~Connection() override { --m_server->m_openConnections; }

private:
    void onReadyRead()
    {
        const QByteArray data = m_socket->readAll();
        m_server->m_bytesReceived += data.size();
        m_buffer += data;
        processBuffer();
    }

    // Requests on one connection are answered in turn; the next one waits in the buffer.
    void processBuffer()
    {
        if (m_handled)
            return;
        if (!m_headerParsed && !parseHeader())
            return;
        if (m_buffer.size() < m_expectedBody)
            return; // the body arrives in more reads
        m_request.body = m_buffer.left(m_expectedBody);
        m_buffer.remove(0, m_expectedBody);
        m_handled = true;
        const TestHttpResponse response = m_server->respond(m_request);
        if (response.stall)
            return;
        if (response.delayMs > 0)
            QTimer::singleShot(response.delayMs, this, [this, response] { send(response); });
        else
            send(response);
    }

    // False while the header is incomplete.
    bool parseHeader()
    {
        qsizetype end = m_buffer.indexOf("\r\n\r\n");
        if (end < 0) {
            if (m_buffer.size() > kMaxHeaderBytes) {
                m_handled = true;
                TestHttpResponse tooLarge;
                tooLarge.status = 431;
                tooLarge.withHeader("Connection", "close");
                send(tooLarge);
            }
            return false;
        }
        const QList<QByteArray> lines = m_buffer.left(end).split('\n');
        m_buffer.remove(0, end + 4);
        m_headerParsed = true;

        const QList<QByteArray> parts = lines.value(0).trimmed().split(' ');
        m_request.method = parts.value(0);
        m_request.target = parts.value(1);
        const QByteArray version = parts.value(2);
        QByteArray pathAndQuery = m_request.target;
        if (pathAndQuery.startsWith("http://") || pathAndQuery.startsWith("https://")) {
            // Absolute form, as a client sends it to a proxy.
            const QUrl absolute = QUrl::fromEncoded(pathAndQuery);
            pathAndQuery = absolute.path(QUrl::FullyEncoded).toUtf8();
            if (absolute.hasQuery())
                pathAndQuery += '?' + absolute.query(QUrl::FullyEncoded).toUtf8();
        }
        const qsizetype q = pathAndQuery.indexOf('?');
        m_request.path = QString::fromUtf8(q < 0 ? pathAndQuery : pathAndQuery.left(q));
        m_request.query = q < 0 ? QString() : QString::fromUtf8(pathAndQuery.mid(q + 1));
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray line = lines.at(i).trimmed();
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            m_request.headers.append({line.left(colon).trimmed(), line.mid(colon + 1).trimmed()});
        }
        m_expectedBody = std::max<qint64>(0, m_request.header("Content-Length").toLongLong());
        const QByteArray connection = m_request.header("Connection").toLower();
        m_clientWantsClose =
            connection.contains("close") || (version == "HTTP/1.0" && !connection.contains("keep-alive"));
        return true;
    }

    void send(const TestHttpResponse& response)
    {
        if (!response.raw.isEmpty()) {
            m_socket->write(response.raw);
            m_socket->disconnectFromHost();
            return;
        }
        const bool head = m_request.method == "HEAD";
        const bool noBody = head || response.status == 204 || response.status == 304;
        QByteArray reply = "HTTP/1.1 " + QByteArray::number(response.status) + ' ' +
                           (response.reason.isEmpty() ? reasonPhrase(response.status) : response.reason) +
                           "\r\n";
        for (const auto& [name, value] : response.headers)
            reply += name + ": " + value + "\r\n";
        if (response.framing == TestHttpResponse::Framing::ContentLength &&
            !hasHeaderIn(response.headers, "Content-Length")) {
            const qint64 length =
                response.declaredLength >= 0 ? response.declaredLength : response.body.size();
            reply += "Content-Length: " + QByteArray::number(length) + "\r\n";
        }
        if (response.framing == TestHttpResponse::Framing::Chunked)
            reply += "Transfer-Encoding: chunked\r\n";
        // The connection stays open for more requests unless the answer or the client ends it. The
        // server never closes an idle connection first: a client may already be sending on it.
        const bool cut = response.closeAfterBytes >= 0 || response.resetAfterBytes >= 0;
        m_reset = response.resetAfterBytes >= 0;
        m_closeAfter = m_clientWantsClose || cut ||
                       response.framing == TestHttpResponse::Framing::CloseDelimited ||
                       response.declaredLength >= 0 || hasHeaderIn(response.headers, "Content-Length") ||
                       std::any_of(response.headers.cbegin(), response.headers.cend(), [](const auto& h) {
                           return h.first.compare("Connection", Qt::CaseInsensitive) == 0 &&
                                  h.second.toLower().contains("close");
                       });
        if (m_closeAfter && !hasHeaderIn(response.headers, "Connection"))
            reply += "Connection: close\r\n";
        reply += "\r\n";
        m_socket->write(reply);

        m_holdOpen = response.stallAfterBytes >= 0;
        if (!noBody) {
            const QByteArray body = m_holdOpen ? response.body.left(response.stallAfterBytes)
                                    : m_reset  ? response.body.left(response.resetAfterBytes)
                                    : cut      ? response.body.left(response.closeAfterBytes)
                                               : response.body;
            const qsizetype size =
                response.pieceSize > 0 ? response.pieceSize : std::max<qsizetype>(1, body.size());
            const bool chunked = response.framing == TestHttpResponse::Framing::Chunked;
            for (qsizetype at = 0; at < body.size(); at += size) {
                const QByteArray piece = body.mid(at, size);
                m_pieces.append(chunked ? QByteArray::number(piece.size(), 16) + "\r\n" + piece + "\r\n"
                                        : piece);
            }
            if (chunked && !m_holdOpen && !cut && !response.endless)
                m_pieces.append("0\r\n\r\n");
            if (response.endless && !m_pieces.isEmpty()) {
                m_endless = m_pieces;
                connect(m_socket, &QTcpSocket::bytesWritten, this, &Connection::sendPieces);
            }
        }
        m_interval = response.pieceIntervalMs;
        sendPieces();
    }

    void sendPieces()
    {
        if (!m_endless.isEmpty()) {
            // Only as fast as the client takes it: the rest follows each write.
            while (m_socket->state() == QAbstractSocket::ConnectedState &&
                   m_socket->bytesToWrite() < 256 * 1024) {
                if (m_pieces.isEmpty())
                    m_pieces = m_endless;
                if (m_socket->write(m_pieces.takeFirst()) < 0)
                    break;
            }
            return;
        }
        while (!m_pieces.isEmpty()) {
            m_socket->write(m_pieces.takeFirst());
            if (m_interval > 0 && !m_pieces.isEmpty()) {
                QTimer::singleShot(m_interval, this, &Connection::sendPieces);
                return;
            }
        }
        if (m_holdOpen)
            return;
        if (m_reset) {
            // Everything written first, then a reset instead of an orderly close.
            if (m_socket->bytesToWrite() > 0) {
                connect(m_socket, &QTcpSocket::bytesWritten, this, &Connection::sendPieces,
                        Qt::UniqueConnection);
                return;
            }
            const struct linger hard = {1, 0};
            ::setsockopt(int(m_socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
            m_socket->abort();
            return;
        }
        if (m_closeAfter) {
            m_socket->disconnectFromHost();
            return;
        }
        m_request = TestHttpRequest();
        m_expectedBody = 0;
        m_headerParsed = false;
        m_handled = false;
        m_clientWantsClose = false;
        processBuffer();
    }

    TestHttpServer* m_server;
    QTcpSocket* m_socket;
    QByteArray m_buffer;
    TestHttpRequest m_request;
    qint64 m_expectedBody = 0;
    bool m_headerParsed = false;
    bool m_handled = false;
    bool m_clientWantsClose = false;
    bool m_closeAfter = false;
    bool m_holdOpen = false;
    bool m_reset = false;
    int m_interval = 0;
    QList<QByteArray> m_pieces;
    QList<QByteArray> m_endless; // the pieces sent over and over
};

// ---- the server ---------------------------------------------------------------------------------

TestHttpServer::TestHttpServer(QObject* parent) : QObject(parent), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &TestHttpServer::onNewConnection);
    m_server->listen(QHostAddress::LocalHost, 0);
}

bool TestHttpServer::listen(quint16 port)
{
    if (m_server->isListening() && (port == 0 || m_server->serverPort() == port))
        return true;
    m_server->close();
    return m_server->listen(QHostAddress::LocalHost, port);
}

TestHttpServer::~TestHttpServer()
{
    m_server->close();
    // Connections are children, but they go here, while the count each takes itself off is still
    // there (QObject would delete them after this object is gone). Stalled clients see the
    // connection close.
    const QObjectList children = this->children();
    for (QObject* child : children)
        delete dynamic_cast<Connection*>(child);
}

bool TestHttpServer::isListening() const
{
    return m_server->isListening();
}

quint16 TestHttpServer::port() const
{
    return m_server->serverPort();
}

QUrl TestHttpServer::url(const QString& pathAndQuery) const
{
    return QUrl(u"http://127.0.0.1:%1%2"_s.arg(port()).arg(pathAndQuery));
}

void TestHttpServer::route(const QString& path, TestHttpHandler handler)
{
    m_exact.insert(path, std::move(handler));
}

void TestHttpServer::serve(const QString& path, const TestHttpResponse& response)
{
    route(path, [response](const TestHttpRequest&) { return response; });
}

void TestHttpServer::routePrefix(const QString& prefix, TestHttpHandler handler)
{
    for (auto& entry : m_prefixes) {
        if (entry.first == prefix) {
            entry.second = std::move(handler);
            return;
        }
    }
    m_prefixes.append({prefix, std::move(handler)});
}

void TestHttpServer::setFallback(TestHttpHandler handler)
{
    m_fallback = std::move(handler);
}

void TestHttpServer::clearRoutes()
{
    m_exact.clear();
    m_prefixes.clear();
    m_fallback = nullptr;
}

QList<TestHttpRequest> TestHttpServer::requestsTo(const QString& path) const
{
    QList<TestHttpRequest> result;
    for (const TestHttpRequest& r : m_log) {
        if (r.path == path)
            result.append(r);
    }
    return result;
}

void TestHttpServer::onNewConnection()
{
    while (QTcpSocket* socket = m_server->nextPendingConnection())
        new Connection(this, socket);
}

TestHttpResponse TestHttpServer::respond(const TestHttpRequest& request)
{
    m_log.append(request);
    emit requestReceived(request);
    if (const auto it = m_exact.constFind(request.path); it != m_exact.cend() && *it)
        return (*it)(request);
    const std::pair<QString, TestHttpHandler>* best = nullptr;
    for (const auto& entry : m_prefixes) {
        if (request.path.startsWith(entry.first) && (!best || entry.first.size() > best->first.size()))
            best = &entry;
    }
    if (best && best->second)
        return best->second(request);
    if (m_fallback)
        return m_fallback(request);
    return TestHttpResponse::notFound();
}

} // namespace lintbay::test
