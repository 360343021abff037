#include "controls/LandingPage.h"

#include "app/HtmlDocument.h"
#include "app/PageDecoding.h"
#include "app/VerificationPage.h"
#include "controls/TransferReason.h"
#include "controls/TransferSupport.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace lintbay {

const QStringList& documentExtensions()
{
    static const QStringList extensions{u"pdf"_s,  u"doc"_s, u"docx"_s, u"xls"_s, u"xlsx"_s, u"ppt"_s,
                                        u"pptx"_s, u"rtf"_s, u"wps"_s,  u"odt"_s, u"ods"_s,  u"odp"_s};
    return extensions;
}

bool isPageContentType(const QByteArray& contentType)
{
    const QByteArray mime = contentType.split(';').value(0).trimmed().toLower();
    return mime == "text/html" || mime == "application/xhtml+xml";
}

namespace {

bool asksForPassword(const HtmlDocument& doc)
{
    for (const HtmlElement& form : doc.getElementsByTagName(u"form"_s)) {
        for (const HtmlElement& input : form.getElementsByTagName(u"input"_s)) {
            if (input.attribute(u"type"_s).trimmed().compare(u"password"_s, Qt::CaseInsensitive) == 0)
                return true;
        }
    }
    return false;
}

// Distinct addresses, in the order found; the fragment does not make another document.
class Targets
{
public:
    explicit Targets(const QUrl& page) : m_page(page.adjusted(QUrl::RemoveFragment)) {}
    void add(const QUrl& url)
    {
        if (!url.isValid() || url.isEmpty())
            return;
        const QUrl plain = url.adjusted(QUrl::RemoveFragment);
        if (plain != m_page && !m_list.contains(plain))
            m_list.append(plain);
    }
    const QList<QUrl>& list() const { return m_list; }

private:
    QUrl m_page;
    QList<QUrl> m_list;
};

// An address written in the page's text (not an attribute the parser resolved): relative to the page,
// "\/" as scripts escape it.
QUrl addressInText(QString text, const QUrl& pageUrl)
{
    text = text.trimmed();
    text.replace(u"\\/"_s, u"/"_s);
    text.remove(u'\t').remove(u'\n').remove(u'\r');
    if (text.isEmpty())
        return {};
    return pageUrl.resolved(QUrl(text));
}

// "5; url='x.pdf'" -> "x.pdf"; a bare delay refreshes the page itself.
QString refreshAddress(const QString& content)
{
    static const QRegularExpression pattern(uR"(^\s*[\d.]*\s*[;,]\s*(?:url\s*=\s*)?(.*)$)"_s,
                                            QRegularExpression::CaseInsensitiveOption |
                                                QRegularExpression::DotMatchesEverythingOption);
    const QRegularExpressionMatch match = pattern.match(content);
    if (!match.hasMatch())
        return {};
    QString address = match.captured(1).trimmed();
    if (address.size() >= 2 && (address.front() == u'\'' || address.front() == u'"') &&
        address.back() == address.front())
        address = address.mid(1, address.size() - 2);
    return address;
}

void collectRedirects(const HtmlDocument& doc, const QUrl& pageUrl, Targets& targets)
{
    for (const HtmlElement& meta : doc.getElementsByTagName(u"meta"_s)) {
        if (meta.attribute(u"http-equiv"_s).trimmed().compare(u"refresh"_s, Qt::CaseInsensitive) == 0)
            targets.add(addressInText(refreshAddress(meta.attribute(u"content"_s)), pageUrl));
    }
    // location = '…', location.href = '…' (window., document., top., self. before it or not), and
    // location.replace('…') / location.assign('…'). A comparison (==) is not an assignment, and a
    // text the script goes on with ('/search?q=' + words) is only the start of an address.
    static const QRegularExpression assignment(
        uR"re(\blocation(?:\s*\.\s*href)?\s*=(?!=)\s*(?:"([^"]*)"|'([^']*)')(?!\s*\+))re"_s);
    static const QRegularExpression call(
        uR"re(\blocation\s*\.\s*(?:replace|assign)\s*\(\s*(?:"([^"]*)"|'([^']*)')\s*\))re"_s);
    for (const HtmlElement& script : doc.getElementsByTagName(u"script"_s)) {
        if (!script.attribute(u"src"_s).isEmpty())
            continue;
        const QString code = script.innerText();
        for (const QRegularExpression* pattern : {&assignment, &call}) {
            auto matches = pattern->globalMatch(code);
            while (matches.hasNext()) {
                const QRegularExpressionMatch match = matches.next();
                targets.add(addressInText(match.captured(1) + match.captured(2), pageUrl)); // one is empty
            }
        }
    }
}

void collectDocumentLinks(const HtmlDocument& doc, Targets& targets)
{
    for (const HtmlElement& anchor : doc.getElementsByTagName(u"a"_s)) {
        const QUrl url(anchor.href());
        const QString name = url.path().section(u'/', -1);
        const qsizetype dot = name.lastIndexOf(u'.');
        if (dot > 0 && documentExtensions().contains(name.mid(dot + 1).toLower()))
            targets.add(url);
    }
}

LandingVerdict verdictFor(const QList<QUrl>& targets)
{
    if (targets.isEmpty())
        return {};
    if (targets.size() > 1) {
        return {LandingVerdict::Kind::SeveralLinks, {}, reason::severalDocuments(int(targets.size()))};
    }
    const QUrl& target = targets.first();
    if (!isFetchableUrl(target))
        return {LandingVerdict::Kind::NotWeb, target, reason::notWebTarget(target)};
    return {LandingVerdict::Kind::Follow, target, reason::followed(target)};
}

} // namespace

LandingVerdict judgeLandingPage(const QByteArray& page, const QUrl& pageUrl, const QByteArray& contentType)
{
    const auto doc = HtmlDocument::parse(decodePage(page.left(kLandingPageLimit), contentType), pageUrl);
    if (IsVerificationPage(*doc))
        return {LandingVerdict::Kind::Verification, {}, reason::verificationPage()};
    if (asksForPassword(*doc))
        return {LandingVerdict::Kind::Login, {}, reason::loginPage()};
    Targets redirects(pageUrl);
    collectRedirects(*doc, pageUrl, redirects);
    if (!redirects.list().isEmpty())
        return verdictFor(redirects.list());
    Targets links(pageUrl);
    collectDocumentLinks(*doc, links);
    return verdictFor(links.list());
}

} // namespace lintbay
