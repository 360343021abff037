#pragma once

#include <QByteArray>
#include <QProcess>
#include <QSslCertificate>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

#include <memory>

namespace lintbay::test {

// An HTTPS host speaking HTTP/2 in front of a local test server: nginx from the system terminates
// TLS, with a certificate of a test authority made at first use, and passes every request on to the
// server over HTTP/1.1 without buffering either way, so that what the server does on purpose (late
// answers, trickles, stalls, cuts, odd framing) reaches the client the way a real HTTP/2 host shows
// it. Clients must trust authority() to connect; nothing outside the tests ever does.
class TlsFront
{
public:
    explicit TlsFront(quint16 upstreamPort);
    ~TlsFront();
    TlsFront(const TlsFront&) = delete;
    TlsFront& operator=(const TlsFront&) = delete;

    bool isRunning() const;
    // Why it is not running (nginx or openssl missing, nginx refused its configuration).
    QString error() const { return m_error; }
    quint16 port() const { return m_port; }
    // "https://127.0.0.1:port" + pathAndQuery (which starts with "/").
    QUrl url(const QString& pathAndQuery = QStringLiteral("/")) const;

    // The authority that signed the front's certificate; a null certificate when it could not be made.
    static QSslCertificate authority();

private:
    bool start(quint16 upstreamPort);

    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess m_nginx;
    quint16 m_port = 0;
    QString m_error;
};

} // namespace lintbay::test

namespace lintbay {
class NetworkContext;
}

namespace lintbay::test {

class TestHttpServer;

// The two worlds a transfer suite runs in: straight to the local server over HTTP/1.1, and through
// an HTTPS host speaking HTTP/2 in front of it. A suite adds the worlds as its global data
// (initTestCase_data), so every test runs in both, enters the current one in init() and reaches
// its addresses through url().
class TransferWorld
{
public:
    static void addRows(); // the global column "world"

    // False, with the reason, when the world cannot be had.
    bool enter(TestHttpServer& server, NetworkContext& network, QString* error);
    void leave();
    bool overTls() const { return m_front != nullptr; }
    QUrl url(const QString& pathAndQuery) const;

private:
    TestHttpServer* m_server = nullptr;
    std::unique_ptr<TlsFront> m_front;
};

// Rows of the transfer suites' outcome tables whose answer the front cannot pass on as the server
// sent it: a chunked body cut off behind it reaches an HTTP/2 client as a normal end of stream, and
// it answers a header with control characters in it with its own error page.
bool frontAltersTheAnswer(const char* rowTag);

} // namespace lintbay::test
