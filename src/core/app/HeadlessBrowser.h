#pragma once

#include "Browser.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QNetworkReply>
#include <QPointer>
#include <QUrl>

class QNetworkAccessManager;

namespace lintbay {

// A browser without an engine: pages are fetched with the given network manager and parsed, scripts
// never run, and a click on a link loads the link's address. Serves tests and work without a display.
class HeadlessBrowser : public Browser
{
    Q_OBJECT
public:
    explicit HeadlessBrowser(QNetworkAccessManager* nam, QObject* parent = nullptr);
    ~HeadlessBrowser() override;

    void navigate(const QUrl& url) override;
    bool isBusy() const override { return m_busy; }
    void goBack() override;
    void goForward() override;
    void setSilent(bool silent) override { m_silent = silent; }
    bool isSilent() const override { return m_silent; }
    QUrl url() const override { return m_url; }
    bool click(const ElementLocator& locator) override;
    bool setValue(const ElementLocator& locator, const QString& value) override;
    void reload() override;
    bool lastLoadSucceeded() const override { return m_lastLoadOk; }
    void requestDocument(std::function<void(HtmlDocumentPtr)> callback) override;

    // Abandons a running navigation; the current document stays and no completion follows.
    void stop();
    bool canGoBack() const { return m_historyIndex > 0; }
    bool canGoForward() const { return m_historyIndex + 1 < m_history.size(); }
    QList<QUrl> history() const { return m_history; }
    HtmlDocumentPtr currentDocument() const { return m_document; }

    // Sent with every request when not empty (sites should see the same client as the downloads).
    void setUserAgent(const QByteArray& userAgent) { m_userAgent = userAgent; }
    // A load that receives nothing for this long ends as a failure (0: never).
    void setTransferTimeout(int ms) { m_transferTimeoutMs = ms; }

    // Outcome of the last completed load: the network error and the HTTP status (0 without one).
    QNetworkReply::NetworkError lastError() const { return m_lastError; }
    int lastHttpStatus() const { return m_lastStatus; }
    // The charset the last page was decoded with.
    QByteArray lastCharset() const { return m_lastCharset; }

private:
    static constexpr int kNewEntry = -1;

    void start(const QUrl& url, int historyTarget, const QUrl& referer, const QByteArray& postBody = {});
    // A click on a submit control sends its form (GET or POST, urlencoded) with the values set.
    bool submitForm(const HtmlElement& control);
    void abortCurrent();
    void onReplyFinished(QNetworkReply* reply, quint64 navigation);
    void commit(const QUrl& url, HtmlDocumentPtr document, int historyTarget);
    // The end of a load, whether or not it replaced the page.
    void loadEnded(bool succeeded);

    QPointer<QNetworkAccessManager> m_nam;
    QPointer<QNetworkReply> m_reply;
    quint64 m_navigation = 0; // identifies the navigation whose completion still counts
    int m_pendingHistoryTarget = kNewEntry;
    bool m_busy = false;
    bool m_lastLoadOk = false;
    bool m_silent = false;
    QUrl m_url;
    HtmlDocumentPtr m_document;
    QList<QUrl> m_history;
    int m_historyIndex = -1;
    QByteArray m_userAgent;
    QHash<QString, QString> m_fieldValues; // values set on fields of the current page, by locator
    int m_transferTimeoutMs = 120000;
    QNetworkReply::NetworkError m_lastError = QNetworkReply::NoError;
    int m_lastStatus = 0;
    QByteArray m_lastCharset;
};

} // namespace lintbay
