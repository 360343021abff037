#include "LoginAssistant.h"

#include "app/Browser.h"
#include "controls/TransferSupport.h"
#include "util/Wait.h"

#include <QUrl>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {
const QStringList& accountNames()
{
    static const QStringList names{u"userid"_s, u"user"_s, u"username"_s, u"useruid"_s};
    return names;
}

// `page` is on the site of `address`: the same host and port, and no less safe (an http page is
// not the site of an https address; another port may be another service). A step up from http to
// https on the standard ports stays on the site.
bool onSiteOf(const QUrl& page, const QUrl& address)
{
    const bool stepUp = address.scheme().toLower() == u"http"_s && page.scheme().toLower() == u"https"_s &&
                        page.port() == -1 && address.port() == -1 &&
                        page.host().compare(address.host(), Qt::CaseInsensitive) == 0;
    return stepUp || sameOrigin(page, address);
}

const QStringList& passwordNames()
{
    static const QStringList names{u"pass"_s, u"password"_s, u"passwd"_s};
    return names;
}
} // namespace

LoginAssistant::LoginAssistant(Sequences& sequences, QObject* parent) : QObject(parent), m_sequences(sequences) {}

void LoginAssistant::setBrowser(Browser* browser)
{
    disconnect(m_pageDone);
    m_browser = browser;
    if (m_browser)
        m_pageDone = connect(m_browser, &Browser::documentComplete, this, [this] { PageLoadingFlag = false; });
}

bool LoginAssistant::isRunning() const
{
    return m_sequences.isRunning(kLoginSequence);
}

QString LoginAssistant::missingInput() const
{
    if (address.trimmed().isEmpty())
        return kLoginAddressMissingText;
    if (!ipLogin && (account.trimmed().isEmpty() || password.trimmed().isEmpty()))
        return kLoginAccountMissingText;
    return {};
}

WaitResult LoginAssistant::pageWait()
{
    return waitUntil(this, [this] { return !m_browser || (!m_browser->isBusy() && !PageLoadingFlag); },
                     pageWaitMs);
}

bool LoginAssistant::waitForPage()
{
    return pageWait() != WaitResult::OwnerGone;
}

std::optional<LoginAssistant::PageOpened> LoginAssistant::openAndWait()
{
    const QString target = address.trimmed();
    if (target.isEmpty() || !m_browser)
        return std::nullopt;
    const SequenceGuard running(m_sequences, kBrowseSequence);
    if (!running)
        return std::nullopt;
    int started = 0;
    const QMetaObject::Connection counting =
        connect(m_browser, &Browser::navigationStarting, this, [&started] { ++started; });
    PageLoadingFlag = true;
    m_browser->navigate(QUrl::fromUserInput(target));
    const WaitResult waited = pageWait();
    QObject::disconnect(counting); // safe when either end went away meanwhile
    return PageOpened{waited, started > 1};
}

bool LoginAssistant::OpenLoginPage()
{
    const std::optional<PageOpened> opened = openAndWait();
    return opened && opened->waited != WaitResult::OwnerGone;
}

bool LoginAssistant::LoginNow()
{
    if (!missingInput().isEmpty() || !m_browser)
        return false;
    const SequenceGuard running(m_sequences, kLoginSequence);
    if (!running)
        return false;
    m_filled = 0;
    m_submitted = false;
    const QPointer<LoginAssistant> self(this);
    // A load of the page shown before that is still going would end the wait for the login page by
    // its own end: it is let finish first.
    if (m_browser->isBusy() &&
        waitUntil(this, [this] { return !m_browser || !m_browser->isBusy(); }, pageWaitMs) == WaitResult::OwnerGone)
        return false;
    if (!m_browser)
        return false;
    const bool loadRunning = m_browser->isBusy();
    const std::optional<PageOpened> opened = openAndWait();
    if (!self)
        return false;
    HtmlDocumentPtr doc = m_browser ? m_browser->document() : nullptr;
    if (!self) // reading the page runs events too
        return false;
    // The account goes to the login page only. The page shown before it stays shown while the login
    // page is slow to come, when "浏览" is opening it already, or when the end of that page's own
    // load ended the wait: that may be any site of the results. So the page filled is on the login
    // address's site, or one the login address led to: its load ended showing a page of its own,
    // with no other load going before it and none started during the wait (a reload then shows the
    // page before again). A login address that answers with a file or with nothing leaves the page
    // before on screen.
    const bool ledTo = opened && opened->waited == WaitResult::Condition && !opened->otherNavigation &&
                       !loadRunning && m_browser && m_browser->lastLoadSucceeded();
    if (doc && !ledTo && !onSiteOf(doc->url(), QUrl::fromUserInput(address.trimmed())))
        doc.reset();
    // Each call into the browser may run events (a script answers asynchronously), and with them
    // anything that frees this object or the browser; and the page may have gone on to another
    // site by itself meanwhile.
    const auto gone = [&self, this] { return !self || !m_browser; };
    const auto stillOnPage = [this, &doc] { return onSiteOf(m_browser->url(), doc->url()); };
    if (doc && !gone()) {
        if (!ipLogin) {
            for (const HtmlElement& input : doc->getElementsByTagName(u"input"_s)) {
                const QString name = input.attribute(u"name"_s).toLower();
                if (!stillOnPage())
                    break;
                if (accountNames().contains(name)) {
                    ++m_filled;
                    m_browser->setValue(input.locator(), account.trimmed());
                    if (gone())
                        return false;
                }
                if (passwordNames().contains(name)) {
                    ++m_filled;
                    m_browser->setValue(input.locator(), password.trimmed());
                    if (gone())
                        return false;
                }
                if (input.attribute(u"type"_s).toLower() == u"submit"_s && m_filled > 1) {
                    PageLoadingFlag = true;
                    const bool clicked = m_browser->click(input.locator());
                    if (gone())
                        return false;
                    m_submitted = clicked;
                    if (!waitForPage())
                        return false;
                    break;
                }
            }
        } else {
            const HtmlElement submit = doc->getElementById(u"submitip"_s);
            if (!submit.isNull() && stillOnPage()) {
                PageLoadingFlag = true;
                const bool clicked = m_browser->click(submit.locator());
                if (gone())
                    return false;
                m_submitted = clicked;
                if (!waitForPage())
                    return false;
            }
        }
    }
    if (!self)
        return false;
    return waitUntil(this, {}, settleMs) != WaitResult::OwnerGone;
}

} // namespace lintbay
