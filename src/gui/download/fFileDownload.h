#pragma once

#include "download/ListOperations.h"

#include <QMainWindow>
#include <QPointer>
#include <QTimer>

#include <memory>

class QLabel;

namespace Ui {
class fFileDownload;
}

namespace lintbay {

class Browser;
class DownloadListCommands;
class DownloadListModel;
class DownloadSession;
class GuiContext;
class LoginAssistant;
class LoginPanel;
class Scheduler;
class Sequences;
class StateIconProxy;

// The download window: it opens the download session when it loads and closes it when it unloads,
// shows the session's list, wires its controls to the session, the scheduler and the settings, and
// keeps its own choices (slot count, interval, automatic modes) in its controls.
class fFileDownload : public QMainWindow
{
    Q_OBJECT
public:
    explicit fFileDownload(GuiContext& context, QWidget* parent = nullptr);
    ~fFileDownload() override;

    DownloadSession& session() const;
    DownloadListModel* list() const;
    // The window asks whether it may close: its list may be gone when the answer comes.
    bool isClosing() const { return m_closing; }
    Scheduler* scheduler() const;
    // The login panel's browser (made when first needed) and the login.
    Browser* Web1();
    LoginAssistant* login() const;
    // The login; with messages for "测试登录", silent otherwise.
    void LoginNow(bool showMessages);

    // Window-level values.
    int DownloadMode() const;
    int threadCount() const;
    QString DuplicateNamePolicy() const;
    int intervalSeconds() const;

    QTimer* Timer1 = nullptr;     // supervision and counters, every second while loaded (the scheduler's)
    QTimer* Timer_Down = nullptr; // starts transfers while downloading is on (the scheduler's)
    QTimer* Timer2 = nullptr;     // reloads the login page every minute

    int CountTransferSlots() const;
    bool IsDownloadBusy() const;
    bool IsDownloading() const;
    DownloadActivity activity() const;

    void UpdateCountLabel();
    void UpdateCounters();
    void SwitchDownloadMode();
    void setStatusPanel(int panel, const QString& text);
    QString statusPanel(int panel) const;

    // Selected rows of the list, ascending, and the current row (-1 when none).
    QList<int> selectedRows() const;
    int currentRow() const;
    // The sequences started from this window (file walks, the login panel's); it does not close
    // while one runs.
    Sequences& sequences() const { return *m_sequences; }

protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void load();
    void restoreJournal();
    void wireScheduler();
    void syncOptions();
    void showDownloadMode();
    void onTimer1();

    GuiContext& m_context;
    std::unique_ptr<Ui::fFileDownload> ui;
    QPointer<DownloadSession> m_session;
    StateIconProxy* m_proxy = nullptr;
    QLabel* m_statusPanels[4] = {};
    Sequences* m_sequences = nullptr;
    LoginPanel* m_loginPanel = nullptr;
    DownloadListCommands* m_commands = nullptr;
    bool m_unloaded = false;
    bool m_closing = false;
};

} // namespace lintbay
