#pragma once

#include <QByteArray>
#include <QNetworkProxy>
#include <QNetworkRequest>
#include <QObject>
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

    // A GET as the transfers send it: the user agent, the Referer when given, always from the
    // network, redirects decided by followRedirects().
    QNetworkRequest makeRequest(const QUrl& url, const QByteArray& referer = {}) const;
    // Applies the redirect policy to a reply made from makeRequest(): http and https only, at most
    // kMaxRedirects, no address visited twice; https to http is allowed (document hosts are often
    // plain HTTP). A refused redirect aborts the reply with an error.
    void followRedirects(QNetworkReply* reply) const;

    // The browser's cookies, as its profile reports them.
    void insertCookie(const QNetworkCookie& cookie);
    void deleteCookie(const QNetworkCookie& cookie);

private:
    QNetworkAccessManager* m_direct = nullptr;
    QNetworkAccessManager* m_proxied = nullptr;
    QNetworkCookieJar* m_jar = nullptr;
    QByteArray m_userAgent;
};

// Normalises an address copied from a page: "&amp;" (any case) becomes "&", blanks are trimmed.
QString NormalizeDownloadUrl(const QString& url);

} // namespace lintbay
