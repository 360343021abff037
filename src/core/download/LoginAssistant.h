#pragma once

#include "app/Browser.h"
#include "util/Wait.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <optional>

namespace lintbay {

class Sequences;

// Logs in on a site's login page in the login panel's browser: fills the account and password
// fields found by their names and clicks the page's submit control, or, for an IP login, clicks
// its "submitip" control. Every wait is bounded; the result of the login is not judged. Nothing is
// filled or clicked on a page other than the login page or one of its site's.
// Both routines are sequences of `sequences` ("login", "browse"): neither starts while it runs, and
// the owner of `sequences` does not close meanwhile. A wait that outlives this object (or its
// browser) ends the routine at once.
class LoginAssistant : public QObject
{
    Q_OBJECT
public:
    LoginAssistant(Sequences& sequences, QObject* parent = nullptr);

    // The login panel's browser, made by the window when it is first needed.
    void setBrowser(Browser* browser);
    Browser* browser() const { return m_browser; }

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
    bool isRunning() const;

    // "浏览": opens the login page and waits for it. False when it did not run (no address, no
    // browser, a page is being opened already) or this object went away during the wait.
    bool OpenLoginPage();
    // The login; returns false without doing anything when input is missing or a login runs.
    bool LoginNow();

    // Fields filled and whether the page was submitted, by the last login.
    int filledFields() const { return m_filled; }
    bool submitted() const { return m_submitted; }

private:
    // False when this object went away during the wait.
    bool waitForPage();
    WaitResult pageWait();
    struct PageOpened
    {
        WaitResult waited;
        // Another navigation (a reload, a click, the panel's own buttons) started during the wait:
        // the page shown at its end may then be any page.
        bool otherNavigation = false;
    };
    // Opens the login page and waits for it; nothing when it did not open it.
    std::optional<PageOpened> openAndWait();

    Sequences& m_sequences;
    QPointer<Browser> m_browser;
    QMetaObject::Connection m_pageDone;
    int m_filled = 0;
    bool m_submitted = false;
};

// The routines' names among the session's sequences.
inline const QString kLoginSequence = QStringLiteral("login");
inline const QString kBrowseSequence = QStringLiteral("browse");

inline const QString kLoginAddressMissingText = QStringLiteral("必须先设置登录网址！");
inline const QString kLoginAccountMissingText = QStringLiteral("帐号登录,必须先设置登录帐号和登录密码！");

} // namespace lintbay
