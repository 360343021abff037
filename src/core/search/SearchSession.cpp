#include "SearchSession.h"

#include "app/Browser.h"
#include "util/Wait.h"

using namespace Qt::StringLiterals;

namespace lintbay {

SearchSession::SearchSession(Browser* browser, QObject* parent)
    : QObject(parent), m_browser(browser)
{
    if (m_browser)
        connect(m_browser, &Browser::documentComplete, this, [this] { PageLoadingFlag = false; });
}

void SearchSession::打开百度搜索网页(const QString& url)
{
    if (!m_browser)
        return;
    PageLoadingFlag = true;
    m_browser->navigate(QUrl(url));
    waitUntil([this] { return !m_browser || !m_browser->isBusy() || !PageLoadingFlag; }, m_pageLoadTimeoutMs,
              [this] { return BatchStopFlag; });
}

void SearchSession::runBatch(const BatchRequest& request)
{
    BatchStopFlag = false;
    m_batchRunning = true;
    const QString base = SearchQueryBase(request.engine);
    const QStringList lines = SplitKeywordLines(request.keywordText);
    for (const QString& rawLine : lines) {
        pumpEvents();
        if (BatchStopFlag)
            break;
        const QString line = rawLine.trimmed();
        if (line.isEmpty())
            continue;
        const QString prefix = BuildQueryPrefix(base, line, request.options);
        for (const QString& type : DocumentTypesInOrder()) {
            if (request.tickedTypes.contains(type)) {
                const QString url = BuildQueryUrl(prefix, type);
                emit queryStarted(url);
                打开百度搜索网页(url);
                if (request.followPages)
                    request.followPages();
                pumpEvents();
                打开百度搜索网页(u"about:blank"_s);
            }
            if (BatchStopFlag)
                break;
        }
        if (BatchStopFlag)
            break;
    }
    // The home page is opened whether the batch finished or was stopped; the stop must not cut this
    // wait short, so the flag is set only afterwards.
    BatchStopFlag = false;
    m_batchRunning = false;
    打开百度搜索网页(SearchHomePage(request.engine));
    BatchStopFlag = true;
}

void SearchSession::runExtractPage()
{
    if (extractPage)
        extractPage();
}

bool SearchSession::下一页()
{
    runExtractPage();
    if (!m_browser)
        return false;
    const HtmlDocumentPtr doc = m_browser->document();
    if (!doc)
        return false;
    const HtmlElement pager = doc->getElementById(u"page"_s);
    if (pager.isNull())
        return false;
    const QList<HtmlElement> links = pager.getElementsByTagName(u"a"_s);
    for (const HtmlElement& link : links) {
        pumpEvents();
        if (pageFollowingStopped() || !m_browser)
            return false;
        if (link.innerText().trimmed().toLower() != u"下一页>"_s)
            continue;
        PageLoadingFlag = true;
        if (!m_browser->click(link.locator())) {
            PageLoadingFlag = false;
            return false;
        }
        pumpEvents();
        const auto stop = [this] { return pageFollowingStopped() || !m_browser; };
        waitUntil([this] { return !m_browser || !m_browser->isBusy() || !PageLoadingFlag; }, m_nextPageLoadMs,
                  stop);
        // Let the new page settle (scripts, late content) before it is read.
        waitUntil({}, m_settleMs, stop);
        提取信息限速延时();
        return true;
    }
    return false;
}

void SearchSession::提取信息限速延时()
{
    const QString text = delayText ? delayText().trimmed() : QString();
    bool ok = false;
    const double seconds = text.toDouble(&ok);
    if (!ok || seconds <= 0)
        return;
    const int wholeSeconds = static_cast<int>(seconds);
    waitUntil({}, wholeSeconds * 1000, [this] { return AddAllStopFlag; });
}

void SearchSession::followAllPages()
{
    for (;;) {
        pumpEvents();
        if (AddAllStopFlag || batchStopped())
            break;
        if (!下一页())
            break;
        runExtractPage();
        pumpEvents();
    }
    runExtractPage();
}

} // namespace lintbay
