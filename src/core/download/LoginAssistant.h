#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

namespace lintbay {

class Browser;

// Logs in on a site's login page in the login panel's browser: fills the account and password
// fields found by their names and clicks the page's submit control, or, for an IP login, clicks
// its "submitip" control. Every wait is bounded; the result of the login is not judged.
class LoginAssistant : public QObject
{
    Q_OBJECT
public:
    explicit LoginAssistant(Browser* browser, QObject* parent = nullptr);

    QString address;  // the login page
    QString account;
    QString password;
    bool ipLogin = false;

    bool PageLoadingFlag = false;

    // Waits: for a page (10 s) and the pause after a login (5 s); tests inject shorter ones.
    int pageWaitMs = 10000;
    int settleMs = 5000;

    // Why a login cannot start, or empty when it can.
    QString missingInput() const;
    bool isRunning() const { return m_running; }

    // "浏览": opens the login page and waits for it.
    void OpenLoginPage();
    // The login; returns false without doing anything when input is missing or a login runs.
    bool LoginNow();

    // Fields filled and whether the page was submitted, by the last login.
    int filledFields() const { return m_filled; }
    bool submitted() const { return m_submitted; }

private:
    void waitForPage();

    QPointer<Browser> m_browser;
    bool m_running = false;
    int m_filled = 0;
    bool m_submitted = false;
};

inline const QString kLoginAddressMissingText = QStringLiteral("必须先设置登录网址！");
inline const QString kLoginAccountMissingText = QStringLiteral("帐号登录,必须先设置登录帐号和登录密码！");

} // namespace lintbay
