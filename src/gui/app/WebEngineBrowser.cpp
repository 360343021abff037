#include "WebEngineBrowser.h"

#include "util/Wait.h"

#include <QCoreApplication>
#include <QJsonDocument>
#include <QVariant>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineSettings>
#include <QWebEngineView>

using namespace Qt::StringLiterals;

namespace lintbay {

BrowserPage::BrowserPage(QWebEngineProfile* profile, QObject* parent) : QWebEnginePage(profile, parent) {}

QWebEnginePage* BrowserPage::createWindow(WebWindowType)
{
    // A pop-up opens in this very page, so links that ask for a new window stay in the program.
    return this;
}

bool BrowserPage::acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame)
{
    if (isMainFrame)
        emit mainFrameNavigation(url, type == NavigationTypeRedirect);
    return true;
}

void BrowserPage::javaScriptAlert(const QUrl& securityOrigin, const QString& msg)
{
    if (!silent)
        QWebEnginePage::javaScriptAlert(securityOrigin, msg);
}

bool BrowserPage::javaScriptConfirm(const QUrl& securityOrigin, const QString& msg)
{
    // The engine asks whether a page that guards against being left may be left through this call,
    // with its own text. Silent, the program's navigations go on: refused, a navigation would never
    // start and every wait for its end would run out.
    static const QString leaveQuestion = QCoreApplication::translate(
        "QWebEnginePage",
        "Are you sure you want to leave this page? Changes that you made may not be saved.");
    if (silent)
        return msg == leaveQuestion;
    return QWebEnginePage::javaScriptConfirm(securityOrigin, msg);
}

bool BrowserPage::javaScriptPrompt(const QUrl& securityOrigin, const QString& msg,
                                   const QString& defaultValue, QString* result)
{
    return silent ? false : QWebEnginePage::javaScriptPrompt(securityOrigin, msg, defaultValue, result);
}

void BrowserPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int, const QString&)
{
    // Script errors of the pages are none of the user's business.
}

WebEngineBrowser::WebEngineBrowser(QWebEngineProfile* profile, QWidget* parentWidget, QObject* parent)
    : Browser(parent)
{
    m_view = new QWebEngineView(parentWidget);
    m_view->setObjectName(u"WebBrowser1"_s);
    m_page = new BrowserPage(profile, m_view);
    m_view->setPage(m_page);
    // Links that open a new window are followed in this view, also when a script clicks them.
    m_page->settings()->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, true);

    m_clickGrace.setSingleShot(true);
    m_clickGrace.setInterval(1500);
    connect(&m_clickGrace, &QTimer::timeout, this, [this] { m_busy = false; });
    connect(m_page, &BrowserPage::mainFrameNavigation, this, [this](const QUrl& url, bool redirect) {
        m_clickGrace.stop();
        m_busy = true;
        if (!redirect)
            emit navigationStarting(url);
        emit statusTextChanged(url.toString());
    });
    connect(m_page, &QWebEnginePage::loadStarted, this, [this] { m_busy = true; });
    connect(m_page, &QWebEnginePage::loadFinished, this, [this](bool ok) {
        // The end of the load navigate() superseded, which comes once at most: a later load that
        // ends at that address (going back to it, say) is a load of its own.
        const bool superseded =
            m_busy && m_previousRequest != m_lastRequest && m_page->url() == m_previousRequest;
        m_previousRequest = m_lastRequest;
        if (superseded)
            return;
        // A download or an answer without content ends the load unsuccessfully, with the page
        // before still shown.
        m_lastLoadOk = ok;
        m_busy = false;
        emit statusTextChanged(u"完成"_s);
        emit documentComplete(m_page->url());
    });
    // A page asking to close its window (windowCloseRequested) is simply not obeyed: the view stays.
    connect(m_page, &QWebEnginePage::linkHovered, this, &Browser::statusTextChanged);
}

WebEngineBrowser::~WebEngineBrowser() = default;

void WebEngineBrowser::navigate(const QUrl& url)
{
    m_previousRequest = m_lastRequest;
    m_lastRequest = url;
    m_clickGrace.stop(); // a click that led nowhere must not end this load's wait
    m_busy = true;
    m_page->load(url);
}

void WebEngineBrowser::goBack()
{
    m_page->triggerAction(QWebEnginePage::Back);
}

void WebEngineBrowser::goForward()
{
    m_page->triggerAction(QWebEnginePage::Forward);
}

void WebEngineBrowser::setSilent(bool silent)
{
    m_page->silent = silent;
}

bool WebEngineBrowser::isSilent() const
{
    return m_page->silent;
}

QUrl WebEngineBrowser::url() const
{
    return m_page->url();
}

bool WebEngineBrowser::runOnElement(const ElementLocator& locator, const QString& body)
{
    if (!locator.isValid())
        return false;
    const auto json = [](const QString& text) {
        return QString::fromUtf8(
            QJsonDocument::fromVariant(QVariantList{text}).toJson(QJsonDocument::Compact));
    };
    // One arg() for them all: a "%1" in the id would otherwise be filled by a later one.
    const QString script = uR"((function(){
  var id = %1[0], tag = %2[0], index = %3, href = %4[0], name = %5[0];
  var fits = function (e) {
    return !!e && (!href || e.getAttribute('href') === href) && (!name || e.getAttribute('name') === name);
  };
  var el = id ? document.getElementById(id) : null;
  if (!el && tag && index >= 0) {
    var all = document.getElementsByTagName(tag);
    el = fits(all[index]) ? all[index] : null;
    for (var i = 0; !el && i < all.length; ++i)
      if (fits(all[i])) el = all[i];
    if (!el) el = all[index]; // none carries them (a script changed them since): the position
  }
  if (!el) return false;
  %6
  return true;
})())"_s.arg(json(locator.id), json(locator.tag), QString::number(locator.index), json(locator.href),
             json(locator.name), body);

    auto state = std::make_shared<std::pair<bool, bool>>(false, false);
    m_page->runJavaScript(script, QWebEngineScript::ApplicationWorld, [state](const QVariant& v) {
        state->first = true;
        state->second = v.toBool();
    });
    (void)waitUntil(
        this, [&] { return state->first; }, m_scriptTimeoutMs);
    return state->second;
}

bool WebEngineBrowser::click(const ElementLocator& locator)
{
    // Clicked after this script has answered: a click that navigates ends the script's context.
    const QPointer<WebEngineBrowser> self(this);
    const bool clicked = runOnElement(locator, u"setTimeout(function () { el.click(); }, 0);"_s);
    if (!self) // closed with its window while the script ran
        return clicked;
    if (clicked && !m_busy) {
        m_busy = true;
        m_clickGrace.start();
    }
    return clicked;
}

bool WebEngineBrowser::setValue(const ElementLocator& locator, const QString& value)
{
    const QString literal =
        QString::fromUtf8(QJsonDocument::fromVariant(QVariantList{value}).toJson(QJsonDocument::Compact));
    return runOnElement(locator, u"el.value = %1[0];"_s.arg(literal));
}

void WebEngineBrowser::reload()
{
    m_clickGrace.stop();
    m_busy = true;
    m_page->triggerAction(QWebEnginePage::Reload);
}

void WebEngineBrowser::requestDocument(std::function<void(HtmlDocumentPtr)> callback)
{
    const QString script =
        u"[document.URL, document.documentElement ? document.documentElement.outerHTML : '']"_s;
    m_page->runJavaScript(
        script, QWebEngineScript::ApplicationWorld, [callback = std::move(callback)](const QVariant& v) {
            const QVariantList parts = v.toList();
            if (parts.size() != 2) {
                callback(nullptr);
                return;
            }
            callback(HtmlDocument::parse(parts.at(1).toString(), QUrl(parts.at(0).toString())));
        });
}

} // namespace lintbay
