#include "NetworkContext.h"

#include "controls/TransferSupport.h"

#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QSslConfiguration>

#include <algorithm>

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

// The page a request was made from, kept with it: each redirect hop's Referer is worked out from
// the page again, not from what the hop before it was sent.
constexpr auto kPageAttribute = static_cast<QNetworkRequest::Attribute>(QNetworkRequest::User + 1);

} // namespace

NetworkContext::NetworkContext(QObject* parent) : QObject(parent)
{
    m_jar = new SharedCookieJar(this);
    m_direct = new QNetworkAccessManager(this);
    m_proxied = new QNetworkAccessManager(this);
    for (QNetworkAccessManager* nam : {m_direct, m_proxied}) {
        nam->setCookieJar(m_jar);
        m_jar->setParent(this); // shared by both managers, owned here
        // Requests not made by makeRequest() (side requests) are followed by the network layer,
        // never from https to http; makeRequest() takes redirects into its own hands.
        nam->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
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
    const QUrl page = referer.isEmpty() ? QUrl() : QUrl::fromEncoded(referer);
    if (isFetchableUrl(page)) {
        request.setAttribute(kPageAttribute, page);
        if (const QByteArray sent = refererFor(page, url); !sent.isEmpty())
            request.setRawHeader("Referer", sent);
    }
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (!m_extraAuthorities.isEmpty()) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.addCaCertificates(m_extraAuthorities);
        request.setSslConfiguration(tls);
    }
    return request;
}

NetworkContext::Redirect NetworkContext::nextRedirect(const QNetworkReply* reply, QList<QUrl>& visited) const
{
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool redirectStatus =
        status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
    if (!redirectStatus || !reply->hasRawHeader("Location"))
        return {};
    Redirect step;
    step.action = Redirect::Refuse;
    const QUrl location = QUrl::fromEncoded(reply->rawHeader("Location").trimmed());
    const QUrl target = reply->url().resolved(location);
    step.target = target;
    if (!location.isValid() || !isFetchableUrl(target))
        return step;
    const QUrl key = target.adjusted(QUrl::RemoveFragment | QUrl::NormalizePathSegments);
    // A server may send the client back to an address once, having set a cookie (a session, a check
    // passed): the next answer may differ. A third visit, or a second without a cookie, is a loop.
    step.fault = RedirectFault::Loop;
    const auto visits = std::count_if(visited.cbegin(), visited.cend(), [&key](const QUrl& seen) {
        return seen.adjusted(QUrl::RemoveFragment | QUrl::NormalizePathSegments) == key;
    });
    if (visits >= (reply->hasRawHeader("Set-Cookie") ? 2 : 1))
        return step;
    step.fault = RedirectFault::TooMany;
    if (visited.size() > kMaxRedirects)
        return step;
    visited.append(target);
    step.action = Redirect::Follow;
    // Same headers (Referer, user agent) at the new address. The cookies are the jar's for the new
    // address (those the redirect set are in it already): the request as sent still carries the
    // first site's, which the network layer would pass on to another site, secure ones over http.
    step.request = reply->request();
    step.request.setUrl(target.adjusted(QUrl::RemoveFragment));
    step.request.setHeader(QNetworkRequest::CookieHeader, QVariant());
    // The Referer as the new address may have it from the page: a hop to another site, or from https
    // to http, gets less of the page's address or none; one back to the page's site its whole address.
    const QUrl page = step.request.attribute(kPageAttribute).toUrl();
    if (!page.isEmpty())
        step.request.setRawHeader("Referer", refererFor(page, target)); // a null value removes it
    return step;
}

void NetworkContext::trustAuthority(const QSslCertificate& authority)
{
    if (!authority.isNull() && !m_extraAuthorities.contains(authority))
        m_extraAuthorities.append(authority);
}

namespace {

// The browser tells an international domain in its ASCII form ("xn--..."); the jar compares it with
// QUrl::host(), which gives the form the address shows. A cookie is kept in that form.
QNetworkCookie withHostForm(QNetworkCookie cookie)
{
    const QString domain = cookie.domain();
    const bool dot = domain.startsWith(u'.');
    const QString bare = dot ? domain.mid(1) : domain;
    if (!bare.contains(u"xn--"_s, Qt::CaseInsensitive))
        return cookie;
    const QString shown = QUrl::fromAce(bare.toLatin1());
    if (!shown.isEmpty())
        cookie.setDomain(dot ? u'.' + shown : shown);
    return cookie;
}

} // namespace

void NetworkContext::insertCookie(const QNetworkCookie& cookie)
{
    static_cast<SharedCookieJar*>(m_jar)->put(withHostForm(cookie));
}

void NetworkContext::deleteCookie(const QNetworkCookie& cookie)
{
    static_cast<SharedCookieJar*>(m_jar)->remove(withHostForm(cookie));
}

QString NormalizeDownloadUrl(const QString& url)
{
    QString u = url;
    u.replace(u"&amp;"_s, u"&"_s, Qt::CaseInsensitive);
    return u.trimmed();
}

} // namespace lintbay
