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
    打开百度搜索网页(SearchHomePage(request.engine));
    BatchStopFlag = true;
}

} // namespace lintbay
