#include "TlsFront.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace lintbay::test {

namespace {

QString findTool(const QString& name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name, {u"/usr/sbin"_s, u"/sbin"_s, u"/usr/local/sbin"_s});
    return path;
}

bool run(const QString& program, const QStringList& arguments, QString* error)
{
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = program + u": "_s + QString::fromLocal8Bit(p.readAllStandardError());
        return false;
    }
    return true;
}

// The test authority and the certificate it signs for 127.0.0.1, made once per test program.
struct Certificates
{
    QTemporaryDir dir;
    QString error;
    QSslCertificate authority;
    QString certificate() const { return dir.filePath(u"server.crt"_s); }
    QString key() const { return dir.filePath(u"server.key"_s); }

    Certificates()
    {
        const QString openssl = findTool(u"openssl"_s);
        if (openssl.isEmpty()) {
            error = u"openssl is not installed"_s;
            return;
        }
        const QString caKey = dir.filePath(u"ca.key"_s);
        const QString caCert = dir.filePath(u"ca.crt"_s);
        const QString request = dir.filePath(u"server.csr"_s);
        const QString extensions = dir.filePath(u"server.ext"_s);
        QFile ext(extensions);
        if (!ext.open(QIODevice::WriteOnly) ||
            ext.write("subjectAltName=IP:127.0.0.1,DNS:localhost\nextendedKeyUsage=serverAuth\n"
                      "basicConstraints=CA:FALSE\n") < 0)
            return;
        ext.close();
        const QStringList ec{u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s, u"ec_paramgen_curve:prime256v1"_s, u"-nodes"_s};
        if (!run(openssl,
                 QStringList{u"req"_s, u"-x509"_s} + ec +
                     QStringList{u"-keyout"_s, caKey, u"-out"_s, caCert, u"-days"_s, u"2"_s, u"-subj"_s,
                                 u"/CN=Lintbay test authority"_s, u"-addext"_s,
                                 u"basicConstraints=critical,CA:TRUE"_s, u"-addext"_s,
                                 u"keyUsage=critical,keyCertSign,cRLSign"_s},
                 &error) ||
            !run(openssl,
                 QStringList{u"req"_s} + ec +
                     QStringList{u"-keyout"_s, key(), u"-out"_s, request, u"-subj"_s, u"/CN=127.0.0.1"_s},
                 &error) ||
            !run(openssl,
                 {u"x509"_s, u"-req"_s, u"-in"_s, request, u"-CA"_s, caCert, u"-CAkey"_s, caKey,
                  u"-CAcreateserial"_s, u"-out"_s, certificate(), u"-days"_s, u"2"_s, u"-extfile"_s, extensions},
                 &error))
            return;
        const auto loaded = QSslCertificate::fromPath(caCert);
        if (loaded.isEmpty())
            error = u"the test authority cannot be read"_s;
        else
            authority = loaded.constFirst();
    }
};

Certificates& certificates()
{
    static Certificates made;
    return made;
}

quint16 freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

bool accepts(quint16 port)
{
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    return socket.waitForConnected(200);
}

} // namespace

TlsFront::TlsFront(quint16 upstreamPort)
{
    // A port found free may be taken again before nginx binds it; another try gets another one.
    for (int attempt = 0; attempt < 3 && !start(upstreamPort); ++attempt) {
    }
}

TlsFront::~TlsFront()
{
    if (m_nginx.state() != QProcess::NotRunning) {
        m_nginx.terminate();
        if (!m_nginx.waitForFinished(5000))
            m_nginx.kill();
        m_nginx.waitForFinished(2000);
    }
}

bool TlsFront::start(quint16 upstreamPort)
{
    const Certificates& certs = certificates();
    if (certs.authority.isNull()) {
        m_error = certs.error.isEmpty() ? u"no test certificates"_s : certs.error;
        return true; // nothing a retry would change
    }
    const QString nginx = findTool(u"nginx"_s);
    if (nginx.isEmpty()) {
        m_error = u"nginx is not installed"_s;
        return true;
    }
    m_dir = std::make_unique<QTemporaryDir>();
    m_port = freePort();
    const QString dir = m_dir->path();
    // Workers of a master started as root would drop to a user who cannot enter the private folder.
    const QString user = ::geteuid() == 0 ? u"user root;\n"_s : QString();
    const QString config =
        user + u"daemon off;\nworker_processes 1;\nerror_log %1/error.log;\npid %1/nginx.pid;\n"
               "events { worker_connections 256; }\n"
               "http {\n access_log off;\n"
               " client_body_temp_path %1/body; proxy_temp_path %1/proxy; fastcgi_temp_path %1/fcgi;\n"
               " uwsgi_temp_path %1/uwsgi; scgi_temp_path %1/scgi;\n"
               " server {\n  listen 127.0.0.1:%2 ssl http2;\n"
               "  ssl_certificate %3; ssl_certificate_key %4;\n"
               "  location / {\n   proxy_pass http://127.0.0.1:%5;\n   proxy_http_version 1.1;\n"
               "   proxy_set_header Connection \"\";\n   proxy_buffering off; proxy_request_buffering off;\n"
               "   proxy_read_timeout 600s; proxy_send_timeout 600s;\n  }\n }\n}\n"_s.arg(dir)
                   .arg(m_port)
                   .arg(certs.certificate(), certs.key())
                   .arg(upstreamPort);
    QFile file(m_dir->filePath(u"nginx.conf"_s));
    if (!file.open(QIODevice::WriteOnly) || file.write(config.toUtf8()) < 0) {
        m_error = u"cannot write the nginx configuration"_s;
        return true;
    }
    file.close();
    m_nginx.setProcessChannelMode(QProcess::MergedChannels);
    m_nginx.start(nginx, {u"-p"_s, dir, u"-c"_s, file.fileName(), u"-e"_s, dir + u"/error.log"_s});
    m_nginx.waitForStarted(5000);
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (m_nginx.state() == QProcess::NotRunning)
            break;
        if (accepts(m_port)) {
            m_error.clear();
            return true;
        }
        QThread::msleep(20);
    }
    QFile log(dir + u"/error.log"_s);
    m_error = u"nginx did not start: "_s + QString::fromLocal8Bit(m_nginx.readAll()) +
              (log.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(log.readAll()) : QString());
    m_nginx.kill();
    m_nginx.waitForFinished(2000);
    return false;
}

bool TlsFront::isRunning() const
{
    return m_error.isEmpty() && m_nginx.state() == QProcess::Running;
}

QUrl TlsFront::url(const QString& pathAndQuery) const
{
    return QUrl(u"https://127.0.0.1:"_s + QString::number(m_port) + pathAndQuery);
}

QSslCertificate TlsFront::authority()
{
    return certificates().authority;
}

} // namespace lintbay::test

#include "TestHttpServer.h"
#include "controls/NetworkContext.h"

#include <QTest>

namespace lintbay::test {

void TransferWorld::addRows()
{
    QTest::addColumn<bool>("tls");
    QTest::newRow("http/1.1") << false;
    QTest::newRow("https/2") << true;
}

bool TransferWorld::enter(TestHttpServer& server, NetworkContext& network, QString* error)
{
    QFETCH_GLOBAL(bool, tls);
    m_server = &server;
    m_front.reset();
    if (!tls)
        return true;
    m_front = std::make_unique<TlsFront>(server.port());
    if (!m_front->isRunning()) {
        *error = m_front->error();
        return false;
    }
    network.trustAuthority(TlsFront::authority());
    return true;
}

void TransferWorld::leave()
{
    m_front.reset();
    m_server = nullptr;
}

QUrl TransferWorld::url(const QString& pathAndQuery) const
{
    return m_front ? m_front->url(pathAndQuery) : m_server->url(pathAndQuery);
}

bool frontAltersTheAnswer(const char* rowTag)
{
    const QByteArrayView tag(rowTag);
    return tag == "chunked body cut off" || tag.startsWith("hostile Content-Disposition");
}

} // namespace lintbay::test
