#include "app/VerificationPage.h"

#include "app/HtmlDocument.h"

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {
bool containsAny(const QString& text, const QStringList& parts)
{
    for (const QString& part : parts)
        if (text.contains(part, Qt::CaseInsensitive))
            return true;
    return false;
}
} // namespace

const VerificationSigns& verificationSigns()
{
    static const VerificationSigns signs{
        {u"百度安全验证"_s},
        {u"wappass.baidu.com"_s, u"/static/captcha/"_s},
        {u"wappass.baidu.com"_s, u"/static/captcha/"_s},
        {u"vcode-spin"_s, u"vcode-slide"_s, u"passMod_"_s},
    };
    return signs;
}

bool IsVerificationPage(const HtmlDocument& document)
{
    const VerificationSigns& signs = verificationSigns();
    if (signs.titles.contains(document.documentElement().firstByTagName(u"title"_s).innerText().trimmed()))
        return true;
    // The address without its query: a search for the challenge's own address is a page of results.
    if (containsAny(document.url().adjusted(QUrl::RemoveQuery | QUrl::RemoveFragment).toString(), signs.addressParts))
        return true;
    for (const HtmlElement& script : document.getElementsByTagName(u"script"_s))
        if (containsAny(script.attribute(u"src"_s), signs.scriptParts) || containsAny(script.innerText(), signs.scriptParts))
            return true;
    for (const HtmlElement& element : document.getElementsByTagName(u"*"_s))
        if (containsAny(element.id(), signs.markupParts) || containsAny(element.className(), signs.markupParts))
            return true;
    return false;
}

} // namespace lintbay
