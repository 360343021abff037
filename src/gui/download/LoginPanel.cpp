#include "LoginPanel.h"
#include "ui_fFileDownload.h"

#include "app/Browser.h"
#include "app/GuiContext.h"
#include "download/DownloadListModel.h"
#include "download/DownloadSession.h"
#include "download/LoginAssistant.h"
#include "download/fFileDownload.h"
#include "util/Messages.h"
#include "util/Wait.h"

#include <QWebEngineView>

using namespace Qt::StringLiterals;

namespace lintbay {

LoginPanel::LoginPanel(Ui::fFileDownload& ui, DownloadSession& session, GuiContext& context, fFileDownload& window)
    : QObject(&window), ui(ui), m_session(session), m_context(context), m_window(window)
{
    ui.Combo3->addItem(u"下载到网页文件(htm/html/asp)文件"_s);
    ui.listStack->setCurrentWidget(ui.picLVbg);

    connect(ui.Command1, &QPushButton::clicked, this, [this] {
        Browser* web = Web1();
        this->ui.listStack->setCurrentWidget(this->ui.PicWebBK);
        const int row = m_window.currentRow();
        if (!this->ui.Check1->isChecked() && !this->ui.Check2->isChecked() && row >= 0)
            web->navigate(QUrl::fromUserInput(选择url(m_session.list().at(row).key)));
    });
    connect(ui.Command3, &QPushButton::clicked, this, [this] {
        this->ui.listStack->setCurrentWidget(this->ui.picLVbg);
        if (!this->ui.Check1->isChecked() && m_web1)
            m_web1->navigate(QUrl(u"about:blank"_s));
    });
    connect(ui.Check1, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            m_window.Timer2->start();
        else
            m_window.Timer2->stop();
    });
    connect(m_window.Timer2, &QTimer::timeout, this, [this] { Web1()->reload(); });
    connect(ui.Check2, &QCheckBox::clicked, this, [this](bool on) {
        if (on) {
            syncFields();
            const QString missing = m_session.login().missingInput();
            if (!missing.isEmpty()) {
                ShowError(&m_window, missing);
                this->ui.Check2->setChecked(false);
            }
        }
        m_session.setAutoLogin(this->ui.Check2->isChecked());
    });
    connect(&m_session, &DownloadSession::autoLoginCancelled, this, [this] { this->ui.Check2->setChecked(false); });
    connect(ui.Command2, &QPushButton::clicked, this, [this] {
        syncFields();
        Web1();
        m_session.login().OpenLoginPage();
    });
    connect(ui.Command5, &QPushButton::clicked, this, [this] { LoginNow(true); });
    // The automatic login reads the boxes as they are when a page arrives.
    for (QLineEdit* box : {ui.Text1, ui.Text2, ui.Text3})
        connect(box, &QLineEdit::textChanged, this, &LoginPanel::syncFields);
    connect(ui.Option5, &QRadioButton::toggled, this, &LoginPanel::syncFields);
    connect(&m_session.sequences(), &Sequences::changed, this, &LoginPanel::showRunning);
}

Browser* LoginPanel::Web1()
{
    if (m_web1)
        return m_web1;
    const BrowserWithView made = m_context.createBrowser(ui.webHost);
    m_web1 = made.browser;
    m_web1->setObjectName(u"Web1"_s);
    if (made.view) {
        made.view->setObjectName(u"Web1"_s);
        ui.webHostLayout->addWidget(made.view);
        // The page title goes to panel 3, unless the page is blank.
        if (auto* view = qobject_cast<QWebEngineView*>(made.view))
            connect(view, &QWebEngineView::titleChanged, this, [this](const QString& title) {
                if (title.trimmed().toLower() != u"about:blank"_s)
                    m_window.setStatusPanel(3, title);
            });
    }
    m_web1->setSilent(true);
    m_web1->navigate(QUrl(u"about:blank"_s));
    m_session.login().setBrowser(m_web1);
    return m_web1;
}

void LoginPanel::syncFields()
{
    LoginAssistant& login = m_session.login();
    login.address = ui.Text1->text();
    login.account = ui.Text2->text();
    login.password = ui.Text3->text();
    login.ipLogin = ui.Option5->isChecked();
}

void LoginPanel::showRunning()
{
    // "测试登录" stays disabled while a login runs, "浏览" while a page is being opened.
    const Sequences& running = m_session.sequences();
    ui.Command5->setEnabled(!running.isRunning(kLoginSequence));
    ui.Command2->setEnabled(!running.isRunning(kBrowseSequence));
}

void LoginPanel::LoginNow(bool showMessages)
{
    syncFields();
    const QString missing = m_session.login().missingInput();
    if (!missing.isEmpty()) {
        if (showMessages)
            ShowError(&m_window, missing);
        ui.Check2->setChecked(false);
        m_session.setAutoLogin(false);
        return;
    }
    Web1();
    m_session.login().LoginNow();
}

} // namespace lintbay
