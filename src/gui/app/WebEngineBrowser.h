#pragma once

#include "app/Browser.h"

#include <QPointer>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

class QWebEngineProfile;
class QWidget;

namespace lintbay {

// The page of the embedded browser: pop-ups stay in the same view, script dialogs and errors are
// kept quiet while the browser is silent.
class BrowserPage : public QWebEnginePage
{
    Q_OBJECT
public:
    BrowserPage(QWebEngineProfile* profile, QObject* parent);
    bool silent = true;

signals:
    // `redirect`: a server's redirect, or the page's own refresh or script, carries on the navigation.
    void mainFrameNavigation(const QUrl& url, bool redirect);

protected:
    QWebEnginePage* createWindow(WebWindowType type) override;
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override;
    void javaScriptAlert(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptConfirm(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptPrompt(const QUrl& securityOrigin, const QString& msg, const QString& defaultValue,
                          QString* result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int lineNumber,
                                  const QString& sourceID) override;
};

// The embedded browser engine behind the Browser interface. The page is read by snapshot: the
// document's outerHTML and URL are fetched by script and parsed into an HtmlDocument.
class WebEngineBrowser : public Browser
{
    Q_OBJECT
public:
    WebEngineBrowser(QWebEngineProfile* profile, QWidget* parentWidget, QObject* parent = nullptr);
    ~WebEngineBrowser() override;

    QWebEngineView* view() const { return m_view; }

    void navigate(const QUrl& url) override;
    bool isBusy() const override { return m_busy; }
    void goBack() override;
    void goForward() override;
    void setSilent(bool silent) override;
    bool isSilent() const override;
    QUrl url() const override;
    bool click(const ElementLocator& locator) override;
    bool setValue(const ElementLocator& locator, const QString& value) override;
    void reload() override;
    bool lastLoadSucceeded() const override { return m_lastLoadOk; }
    void requestDocument(std::function<void(HtmlDocumentPtr)> callback) override;

    // Longest wait for the page to answer a click (default 3 s).
    void setScriptTimeout(int ms) { m_scriptTimeoutMs = ms; }

private:
    // Runs a script on the element found by the locator (`el` in the script) and waits for its answer.
    bool runOnElement(const ElementLocator& locator, const QString& body);

    QPointer<QWebEngineView> m_view;
    BrowserPage* m_page = nullptr;
    bool m_busy = false;
    bool m_lastLoadOk = false;
    int m_scriptTimeoutMs = 3000;
    // The addresses of the last two navigate() calls: a page that finishes loading after a newer
    // navigation was asked for is not the page the caller waits for.
    QUrl m_previousRequest;
    QUrl m_lastRequest;
    // After a click the page is busy until its navigation starts; a click that starts none (a
    // script-only control) releases the busy state after this grace time.
    QTimer m_clickGrace;
};

} // namespace lintbay
