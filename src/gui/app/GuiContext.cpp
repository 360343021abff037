#include "GuiContext.h"

#include "app/WebEngineBrowser.h"
#include "app/fCover.h"
#include "download/fFileDownload.h"
#include "search/fWebSearch.h"

#include "app/AppContext.h"
#include "controls/NetworkContext.h"
#include "download/DownloadJournal.h"

#include <QApplication>
#include <QWebEngineCookieStore>
#include <QWebEngineProfile>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {
constexpr const char* kUnloadedProperty = "lintbay_unloaded";
}

GuiContext::GuiContext(AppContext& app, QWebEngineProfile* profile) : m_app(app), m_profile(profile)
{
    journalPath = DownloadJournal::defaultPath();
    if (!m_profile)
        return;
    // Sites see one client: the downloads carry the browser's user agent and its cookies.
    NetworkContext* network = &m_app.network();
    network->setUserAgent(m_profile->httpUserAgent().toUtf8());
    QWebEngineCookieStore* store = m_profile->cookieStore();
    QObject::connect(store, &QWebEngineCookieStore::cookieAdded, network, &NetworkContext::insertCookie);
    QObject::connect(store, &QWebEngineCookieStore::cookieRemoved, network, &NetworkContext::deleteCookie);
    store->loadAllCookies();
}

GuiContext::~GuiContext() = default;

NetworkContext& GuiContext::network() const
{
    return m_app.network();
}

BrowserWithView GuiContext::createBrowser(QWidget* parent) const
{
    if (browserFactory)
        return browserFactory(parent);
    auto* browser = new WebEngineBrowser(m_profile, parent, parent);
    return {browser, browser->view()};
}

void GuiContext::showCover() const
{
    if (cover)
        cover->show();
}

void GuiContext::showSearchWindow()
{
    if (cover)
        cover->hide();
    if (!search)
        new fWebSearch(*this); // takes its place in `search` at once
    search->show();
    search->raise();
    search->activateWindow();
}

fFileDownload* GuiContext::downloadWindow()
{
    if (fFileDownload* loaded = loadedDownloadWindow())
        return loaded;
    download = new fFileDownload(*this);
    download->setAttribute(Qt::WA_DeleteOnClose);
    return download;
}

fFileDownload* GuiContext::loadedDownloadWindow() const
{
    return download && IsFormLoaded(u"fFileDownload"_s) ? download.data() : nullptr;
}

void GuiContext::showDownloadWindow()
{
    fFileDownload* w = downloadWindow();
    w->show();
    w->raise();
    w->activateWindow();
}

void GuiContext::显示下载窗口(bool restore)
{
    if (!loadedDownloadWindow())
        return;
    download->UpdateCountLabel();
    if (download->isHidden())
        download->show();
    if (restore && download->isMinimized())
        download->showNormal();
}

bool IsFormLoaded(const QString& name)
{
    const auto widgets = QApplication::topLevelWidgets();
    for (QWidget* w : widgets) {
        if (w->property(kUnloadedProperty).toBool())
            continue;
        if (w->objectName().compare(name, Qt::CaseInsensitive) == 0)
            return true;
    }
    return false;
}

void MarkFormUnloaded(QWidget* window)
{
    window->setProperty(kUnloadedProperty, true);
}

} // namespace lintbay
