#pragma once

#include <QObject>
#include <QPointer>

namespace Ui {
class fFileDownload;
}

namespace lintbay {

class Browser;
class DownloadSession;
class GuiContext;
class fFileDownload;

// The download window's login panel: its browser Web1 (made when first needed, in the window's
// panel), the address and account boxes, "浏览", "测试登录", "自动登录", "自动刷新(每分钟)" and
// "关闭(隐藏)", wired to the session's login routine. The routines run as the session's sequences,
// so their buttons stay disabled and the window stays open while they run.
class LoginPanel : public QObject
{
    Q_OBJECT
public:
    LoginPanel(Ui::fFileDownload& ui, DownloadSession& session, GuiContext& context, fFileDownload& window);

    // The browser is made on first use: an embedded engine view that is never shown keeps some
    // desktops from painting the window.
    Browser* Web1();
    void LoginNow(bool showMessages);

private:
    void syncFields();
    void showRunning();

    Ui::fFileDownload& ui;
    DownloadSession& m_session;
    GuiContext& m_context;
    fFileDownload& m_window;
    QPointer<Browser> m_web1;
};

} // namespace lintbay
