#include "NetworkContext.h"

#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QSet>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {
// The jar accepts cookies given from outside exactly as they are.
class SharedCookieJar : public QNetworkCookieJar
{
public:
    using QNetworkCookieJar::QNetworkCookieJar;
    bool put(const QNetworkCookie& cookie) { return insertCookie(cookie) || updateCookie(cookie); }
    bool remove(const QNetworkCookie& cookie) { return deleteCookie(cookie); }
};

constexpr const char* kVisitedProperty = "lintbay_visited";
} // namespace

NetworkContext::NetworkContext(QObject* parent) : QObject(parent)
{
    m_jar = new SharedCookieJar(this);
    m_direct = new QNetworkAccessManager(this);
    m_proxied = new QNetworkAccessManager(this);
    for (QNetworkAccessManager* nam : {m_direct, m_proxied}) {
        nam->setCookieJar(m_jar);
        m_jar->setParent(this); // shared by both managers, owned here
        nam->setRedirectPolicy(QNetworkRequest::UserVerifiedRedirectPolicy);
    }
    m_direct->setProxy(QNetworkProxy::NoProxy);
    m_proxied->setProxy(QNetworkProxy::NoProxy);
}

NetworkContext::~NetworkContext() = default;

void NetworkContext::setProxy(bool enabled, const QString& host, const QString& port)
{
    bool ok = false;
    const uint p = port.trimmed().toUInt(&ok);
    if (enabled && !host.trimmed().isEmpty() && ok && p > 0 && p <= 65535)
        m_proxied->setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, host.trimmed(), quint16(p)));
    else
        m_proxied->setProxy(QNetworkProxy::NoProxy);
}

QNetworkProxy NetworkContext::proxy() const
{
    return m_proxied->proxy();
}

QNetworkRequest NetworkContext::makeRequest(const QUrl& url, const QByteArray& referer) const
{
    QNetworkRequest request(url);
    if (!m_userAgent.isEmpty())
        request.setHeader(QNetworkRequest::UserAgentHeader, m_userAgent);
    if (!referer.isEmpty())
        request.setRawHeader("Referer", referer);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::UserVerifiedRedirectPolicy);
    request.setMaximumRedirectsAllowed(kMaxRedirects);
    return request;
}

void NetworkContext::followRedirects(QNetworkReply* reply) const
{
    reply->setProperty(kVisitedProperty, QStringList{reply->url().toString()});
    connect(reply, &QNetworkReply::redirected, reply, [reply](const QUrl& target) {
        const QString scheme = target.scheme().toLower();
        QStringList visited = reply->property(kVisitedProperty).toStringList();
        const QString address = target.toString();
        if ((scheme != u"http"_s && scheme != u"https"_s) || visited.contains(address) ||
            visited.size() > kMaxRedirects) {
            reply->abort();
            return;
        }
        visited << address;
        reply->setProperty(kVisitedProperty, visited);
        emit reply->redirectAllowed();
    });
}

void NetworkContext::insertCookie(const QNetworkCookie& cookie)
{
    static_cast<SharedCookieJar*>(m_jar)->put(cookie);
}

void NetworkContext::deleteCookie(const QNetworkCookie& cookie)
{
    static_cast<SharedCookieJar*>(m_jar)->remove(cookie);
}

QString NormalizeDownloadUrl(const QString& url)
{
    QString u = url;
    u.replace(u"&amp;"_s, u"&"_s, Qt::CaseInsensitive);
    return u.trimmed();
}

} // namespace lintbay
