#include "search/ResultExtractor.h"

#include "app/HtmlDocument.h"
#include "search/QueryBuilder.h"
#include "search/ResultListModel.h"
#include "search/ScriptDetect.h"

#include <QUrl>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

bool isResultContainer(const HtmlElement& div)
{
    const QString cls = div.className().trimmed().toLower();
    return cls.contains(u"result c-container"_s) || cls.contains(u"result-op c-container"_s);
}

// The engine marks the type with an icon class; when several are present the later test wins.
QString typeFromIcon(const HtmlElement& div)
{
    const HtmlElement span = div.firstByTagName(u"span"_s);
    if (span.isNull())
        return {};
    static const std::pair<QString, QString> icons[] = {
        {u"c-icon c-icon-pdf"_s, u"PDF"_s}, {u"c-icon c-icon-doc"_s, u"doc"_s},
        {u"c-icon c-icon-xls"_s, u"xls"_s}, {u"c-icon c-icon-ppt"_s, u"ppt"_s},
        {u"c-icon c-icon-rtf"_s, u"rtf"_s},
    };
    const QString cls = span.className().trimmed().toLower();
    QString type;
    for (const auto& [iconClass, iconType] : icons) {
        if (cls.contains(iconClass))
            type = iconType;
    }
    return type;
}

// Entries without an icon may carry a text marker such as "【PDF】" instead.
QString typeFromMarker(const HtmlElement& div)
{
    const HtmlElement font = div.firstByTagName(u"font"_s);
    if (font.isNull())
        return {};
    static const std::pair<QString, QString> markers[] = {
        {u"【pdf】"_s, u"PDF"_s}, {u"【doc】"_s, u"doc"_s}, {u"【xls】"_s, u"xls"_s},
        {u"【ppt】"_s, u"ppt"_s}, {u"【rtf】"_s, u"rtf"_s},
    };
    // A marker is a few characters with some white space around them; a font that holds more (in a
    // page of nested results, everything below it) is no marker, and is never rendered whole.
    constexpr qsizetype kLongestMarkerText = 64;
    const QString text = font.innerTextStart(kLongestMarkerText).trimmed().toLower();
    for (const auto& [marker, markerType] : markers) {
        if (text == marker)
            return markerType;
    }
    return {};
}

QString withoutSpaces(QString s)
{
    return s.remove(u' ');
}

// Titles of the engine's own properties and of aggregator sites: their pages are not documents.
bool isSiteTitle(const QString& title, const QString& sharingSuffix)
{
    const QString compact = withoutSpaces(title);
    if (compact.contains(u"_百度"_s) || compact.contains(u"-百度"_s))
        return true;
    if (title.right(sharingSuffix.size()).toLower() == sharingSuffix)
        return true;
    if (title.endsWith(u"-豆丁网"_s) || title.endsWith(u"_360百科"_s) || title.endsWith(u"-道客巴巴"_s))
        return true;
    return compact.contains(u"-搜狗百科—"_s);
}

// A link through the engine's own redirect: the engine's host and port, the path "/link" and an
// address in "url=". The mark anywhere else in a link (in another host's query, say) is not one.
bool isEngineRedirect(const QString& link, const QString& engineDomain)
{
    const QUrl url(link);
    if (engineDomain.isEmpty() || (url.scheme() != u"http"_s && url.scheme() != u"https"_s))
        return false;
    return LinkAuthority(url).compare(engineDomain, Qt::CaseInsensitive) == 0 &&
           url.path().compare(u"/link"_s, Qt::CaseInsensitive) == 0 &&
           url.query().startsWith(u"url="_s, Qt::CaseInsensitive);
}

} // namespace

int ExtractResults(const HtmlDocument& document, const ExtractionOptions& options, const QString& saveFolder,
                   ResultListModel& list)
{
    const QString sharingSuffix = (options.sharingSiteDomain + u"豆丁网"_s).toLower();
    const QString pageUrl = document.URL();

    int offered = 0;
    // Containers nested in one another find the same first link: its text is rendered once.
    HtmlElement lastAnchor;
    QString lastTitle;
    const QList<HtmlElement> divs = document.getElementsByTagName(u"div"_s);
    for (const HtmlElement& div : divs) {
        if (!isResultContainer(div))
            continue;

        QString link;
        QString title;
        const HtmlElement anchor = div.firstByTagName(u"a"_s);
        if (!anchor.isNull()) {
            link = anchor.href().trimmed();
            if (lastAnchor.isNull() || !(anchor == lastAnchor)) {
                lastAnchor = anchor;
                lastTitle = anchor.innerText().trimmed();
                lastTitle.remove(u"..."_s);
            }
            title = lastTitle;
        }
        if (options.removeSpaces)
            title.remove(u' ');

        QString type = typeFromIcon(div);
        if (type.isEmpty())
            type = typeFromMarker(div);

        bool accepted = options.skipUnknownType ? !type.isEmpty() : true;
        if (options.skipKana && HasKana(title))
            accepted = false;
        if (options.skipTraditional && HasTraditional(title))
            accepted = false;
        if (!accepted)
            continue;
        if (!isEngineRedirect(link, options.engineDomain))
            continue;
        if (options.toSimplified)
            title = ToSimplified(title);
        if (isSiteTitle(title, sharingSuffix))
            continue;
        if (title.isEmpty() || link.isEmpty())
            continue;

        list.加入LV1(title, link, pageUrl, type, saveFolder);
        ++offered;
    }
    return offered;
}

} // namespace lintbay
