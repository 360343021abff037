#pragma once

#include <QPointer>
#include <QWidget>

#include <functional>

class QWebEngineProfile;

namespace lintbay {

class AppContext;
class Browser;
class NetworkContext;
class fCover;
class fFileDownload;
class fWebSearch;

// A browser together with the widget that shows it (null for a browser without a view).
struct BrowserWithView
{
    Browser* browser = nullptr;
    QWidget* view = nullptr;
};

// What the windows share: the program-wide values, the browser profile, how browsers are made,
// and the main windows that are loaded.
class GuiContext
{
public:
    GuiContext(AppContext& app, QWebEngineProfile* profile);
    ~GuiContext();

    AppContext& app() const { return m_app; }
    QWebEngineProfile* profile() const { return m_profile; }
    // The downloads' network access (the program context's); its cookies follow the browser profile's.
    NetworkContext& network() const;

    // Makes the browser of a window; the embedded engine unless replaced (automated runs may use
    // a browser without a view).
    std::function<BrowserWithView(QWidget* parent)> browserFactory;
    BrowserWithView createBrowser(QWidget* parent) const;

    // The page-load waits of the search window: a query page (30 s), a next result page (20 s) and
    // the settle time after it (1 s); shorter in automated runs.
    int pageLoadTimeoutMs = 30000;
    int nextPageLoadTimeoutMs = 20000;
    int pageSettleMs = 1000;

    // Where the download window keeps the journal of its list (the user's data folder).
    QString journalPath;

    QPointer<fCover> cover;
    QPointer<fWebSearch> search;
    QPointer<fFileDownload> download;

    // Shows the start-up window again (after the last main window closed).
    void showCover() const;
    // Hides the start-up window and shows the search window, creating it when needed.
    void showSearchWindow();
    // The download window, loaded (not shown) when it is not loaded yet. Loading it opens the
    // download session.
    fFileDownload* downloadWindow();
    // The loaded download window, or null.
    fFileDownload* loadedDownloadWindow() const;
    // Shows the download window modeless, loading it when needed.
    void showDownloadWindow();
    // Only when the download window is loaded: refreshes it, shows it when hidden, and with
    // `restore` brings it back from the minimised state.
    void 显示下载窗口(bool restore);

private:
    AppContext& m_app;
    QWebEngineProfile* m_profile;
};

// Whether a window whose objectName equals the name, ignoring case, is loaded (created and not
// closed for good).
bool IsFormLoaded(const QString& name);
// Marks a window as unloaded at the moment its close is accepted (its deletion follows later).
void MarkFormUnloaded(QWidget* window);

} // namespace lintbay
