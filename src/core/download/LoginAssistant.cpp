#include "LoginAssistant.h"

#include "app/Browser.h"
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

const QStringList& passwordNames()
{
    static const QStringList names{u"pass"_s, u"password"_s, u"passwd"_s};
    return names;
}
} // namespace

LoginAssistant::LoginAssistant(Browser* browser, QObject* parent) : QObject(parent), m_browser(browser)
{
    if (m_browser)
        connect(m_browser, &Browser::documentComplete, this, [this] { PageLoadingFlag = false; });
}

QString LoginAssistant::missingInput() const
{
    if (address.trimmed().isEmpty())
        return kLoginAddressMissingText;
    if (!ipLogin && (account.trimmed().isEmpty() || password.trimmed().isEmpty()))
        return kLoginAccountMissingText;
    return {};
}

void LoginAssistant::waitForPage()
{
    waitUntil([this] { return !m_browser || (!m_browser->isBusy() && !PageLoadingFlag); }, pageWaitMs);
}

void LoginAssistant::OpenLoginPage()
{
    const QString target = address.trimmed();
    if (target.isEmpty() || !m_browser)
        return;
    PageLoadingFlag = true;
    m_browser->navigate(QUrl::fromUserInput(target));
    waitForPage();
}

bool LoginAssistant::LoginNow()
{
    if (!missingInput().isEmpty() || m_running || !m_browser)
        return false;
    m_running = true;
    m_filled = 0;
    m_submitted = false;
    OpenLoginPage();
    const HtmlDocumentPtr doc = m_browser ? m_browser->document() : nullptr;
    if (doc && m_browser) {
        if (!ipLogin) {
            for (const HtmlElement& input : doc->getElementsByTagName(u"input"_s)) {
                if (!m_browser)
                    break;
                const QString name = input.attribute(u"name"_s).toLower();
                if (accountNames().contains(name)) {
                    ++m_filled;
                    m_browser->setValue(input.locator(), account.trimmed());
                }
                if (passwordNames().contains(name)) {
                    ++m_filled;
                    m_browser->setValue(input.locator(), password.trimmed());
                }
                if (input.attribute(u"type"_s).toLower() == u"submit"_s && m_filled > 1) {
                    PageLoadingFlag = true;
                    m_submitted = m_browser->click(input.locator());
                    waitForPage();
                    break;
                }
            }
        } else {
            const HtmlElement submit = doc->getElementById(u"submitip"_s);
            if (!submit.isNull()) {
                PageLoadingFlag = true;
                m_submitted = m_browser->click(submit.locator());
                waitForPage();
            }
        }
    }
    waitUntil({}, settleMs);
    m_running = false;
    return true;
}

} // namespace lintbay
