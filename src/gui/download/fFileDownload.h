#pragma once

#include "download/ListOperations.h"

#include <QMainWindow>
#include <QTimer>

#include <functional>
#include <memory>

class QLabel;

namespace Ui {
class fFileDownload;
}

namespace lintbay {

class Browser;
class DownloadListModel;
class GuiContext;
class LoginAssistant;
class Scheduler;
class StateIconProxy;

// The download window: the download list, its settings, menus, counters and status bar.
class fFileDownload : public QMainWindow
{
    Q_OBJECT
public:
    explicit fFileDownload(GuiContext& context, QWidget* parent = nullptr);
    ~fFileDownload() override;

    DownloadListModel* list() const { return m_list; }
    // The login panel's browser and its login routine. The browser is made when first needed: an
    // embedded engine view that is never shown keeps some desktops from painting the window.
    Browser* Web1();
    LoginAssistant* login();
    // The login; with messages for "测试登录", silent after a web-page download.
    void LoginNow(bool showMessages);

    // Window-level values.
    int DownloadMode() const { return m_downloadMode; }
    int threadCount() const;
    QString DuplicateNamePolicy() const;
    int intervalSeconds() const;

    Scheduler* scheduler() const { return m_scheduler; }
    QTimer* Timer1 = nullptr;     // supervision and counters, every second while loaded (the scheduler's)
    QTimer* Timer_Down = nullptr; // starts transfers while downloading is on (the scheduler's)
    QTimer* Timer2 = nullptr;     // reloads the login page every minute

    // How far the transfers are: the scheduler's timer, its busy flag and the slots loaded.
    int CountTransferSlots() const;
    bool IsDownloadBusy() const;
    bool IsDownloading() const;
    DownloadActivity activity() const;

    void UpdateCountLabel();
    void UpdateCounters();
    void SwitchDownloadMode();
    // Takes the download way chosen in the options dialog: way 1 disables the slot count, way 2
    // enables it at one slot; the transfers then pick up the program-wide values again.
    void applyDownloadMode(int mode);
    // Shows the current row's path or transfer in panel 2.
    void setStatusPanel(int panel, const QString& text);
    QString statusPanel(int panel) const;

    // Selected rows of the list, ascending.
    QList<int> selectedRows() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void load();
    void wireMenus();
    void showListMenu(const QPoint& pos);
    bool refuse(QStringView refusal, bool errorIcon = false);
    void runHidden(const std::function<void()>& work);
    void removeRows(const std::function<ListOpResult()>& remove);
    void requeue(RequeueRule rule);
    void exportNames(bool unfinishedOnly);
    void sortByHeader(int column);
    void syncOptions();
    void setupLoginPanel();
    void syncLoginFields();
    void perform(const struct FileAction& action);
    int currentRow() const;
    void onTimer1();

    GuiContext& m_context;
    std::unique_ptr<Ui::fFileDownload> ui;
    DownloadListModel* m_list = nullptr;
    StateIconProxy* m_proxy = nullptr;
    QLabel* m_statusPanels[4] = {};
    Scheduler* m_scheduler = nullptr;
    Browser* m_web1 = nullptr;
    LoginAssistant* m_login = nullptr;
    int m_downloadMode = 2;
    bool m_unloaded = false;
};

} // namespace lintbay
