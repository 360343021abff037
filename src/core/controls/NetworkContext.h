#pragma once

#include "controls/TransferSupport.h"

#include <QByteArray>
#include <QList>
#include <QNetworkProxy>
#include <QNetworkRequest>
#include <QObject>
#include <QSslCertificate>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkCookie;
class QNetworkCookieJar;
class QNetworkReply;

namespace lintbay {

// The program's own network access for downloads and side requests: one cookie jar (mirrored from
// the embedded browser, so a login there serves the downloads), the browser's user agent, the
// proxy of the single-transfer mode, TLS verification on, and one redirect policy.
class NetworkContext : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxRedirects = 20;

    explicit NetworkContext(QObject* parent = nullptr);
    ~NetworkContext() override;

    // Requests without a proxy (parallel slots, update check, cache viewer).
    QNetworkAccessManager* manager() const { return m_direct; }
    // Requests of the single-transfer mode: through the proxy when one is set and in use.
    QNetworkAccessManager* proxiedManager() const { return m_proxied; }
    QNetworkCookieJar* cookieJar() const { return m_jar; }

    void setUserAgent(const QByteArray& userAgent) { m_userAgent = userAgent; }
    QByteArray userAgent() const { return m_userAgent; }

    // The proxy of the single-transfer mode ("代理服务器网址", "代理服务器端口", "代理服务器有效").
    // An unusable host or port leaves the connection direct.
    void setProxy(bool enabled, const QString& host, const QString& port);
    QNetworkProxy proxy() const;

    // A GET as the transfers send it: the user agent, the Referer when given (as refererFor() has
    // it), always from the network. Redirects come back as answers of their own and are decided by
    // nextRedirect(): the network layer's own following of user-verified redirects loses requests
    // after two hops.
    QNetworkRequest makeRequest(const QUrl& url, const QByteArray& referer = {}) const;

    // What to do with the answer to a request made from makeRequest().
    struct Redirect
    {
        enum Action
        {
            None,   // not a redirect: this is the answer
            Follow, // request `request` (the same request, at the new address) instead
            Refuse  // not http or https, an address visited before (once more is allowed when the
                    // answer set a cookie), or more than kMaxRedirects hops
        };
        Action action = None;
        QNetworkRequest request;
        RedirectFault fault = RedirectFault::NotWeb; // when refused
        QUrl target;                                 // the address it led to
    };
    // `visited` holds the addresses requested so far, the first one included; a followed address is
    // added. https to http is followed (document hosts are often plain HTTP).
    Redirect nextRedirect(const QNetworkReply* reply, QList<QUrl>& visited) const;

    // Adds a certificate authority to those the transfers trust, besides the system's. Only test
    // worlds with their own authority call this; the program trusts the system's alone.
    void trustAuthority(const QSslCertificate& authority);

    // The browser's cookies, as its profile reports them.
    void insertCookie(const QNetworkCookie& cookie);
    void deleteCookie(const QNetworkCookie& cookie);

private:
    QNetworkAccessManager* m_direct = nullptr;
    QNetworkAccessManager* m_proxied = nullptr;
    QNetworkCookieJar* m_jar = nullptr;
    QByteArray m_userAgent;
    QList<QSslCertificate> m_extraAuthorities;
};

// Normalises an address copied from a page: "&amp;" (any case) becomes "&", blanks are trimmed.
QString NormalizeDownloadUrl(const QString& url);

} // namespace lintbay
