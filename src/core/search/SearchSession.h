#pragma once

#include "search/QueryBuilder.h"

#include <QObject>
#include <QPointer>

#include <functional>

namespace lintbay {

class Browser;

// The search window's running state and its long sequences, independent of the widgets: the
// state flags (true = idle or stop requested), the page-load wait and the batch search loop.
class SearchSession : public QObject
{
    Q_OBJECT
public:
    explicit SearchSession(Browser* browser, QObject* parent = nullptr);

    Browser* browser() const { return m_browser; }

    bool BatchStopFlag = true;
    bool AddAllStopFlag = true;
    bool AnalysisStopFlag = true;
    bool PageLoadingFlag = false;

    bool allIdle() const { return BatchStopFlag && AddAllStopFlag && AnalysisStopFlag; }

    // The longest wait for one page; the program waits 30 seconds, tests inject less.
    void setPageLoadTimeout(int ms) { m_pageLoadTimeoutMs = ms; }
    int pageLoadTimeout() const { return m_pageLoadTimeoutMs; }
    // Page following: the wait for a next page (20 s) and the settle time after it (1 s).
    void setNextPageTimeouts(int loadMs, int settleMs)
    {
        m_nextPageLoadMs = loadMs;
        m_settleMs = settleMs;
    }

    // True while a batch runs; the batch counts as stopped when, in addition, BatchStopFlag is set.
    bool insideBatch() const { return m_batchRunning; }
    bool batchStopped() const { return m_batchRunning && BatchStopFlag; }

    // Extracts the page the browser shows (the window adds the rows and updates its counter).
    std::function<void()> extractPage;
    // The page delay as the user chose it, in whole seconds as text.
    std::function<QString()> delayText;

    // Page following: extracts the current page, finds the pager's "下一页>" link, clicks it,
    // waits for the page and the delay. True when a next page was opened.
    bool 下一页();
    // Waits the chosen page delay; a stop request ends it at once.
    void 提取信息限速延时();
    // The loop of "加入全部到列表": follows the pages until none is left or a stop is requested,
    // then extracts the last page once more. The caller sets AddAllStopFlag false before.
    void followAllPages();

    // Opens the address and waits until the page is complete, the wait runs out or the batch is
    // stopped. Never reports failure: the caller works on whatever the browser holds.
    void 打开百度搜索网页(const QString& url);

    struct BatchRequest
    {
        QString engine;            // the search engine setting
        QString keywordText;       // the keyword box, one query per non-empty line
        QueryOptions options;
        QSet<QString> tickedTypes; // "pdf", "doc", "ppt", "xls", "rtf"
        // Runs the page-following extraction on the query just opened; may be empty.
        std::function<void()> followPages;
    };

    // The batch search: every non-empty line, every ticked type in the fixed order, each query
    // opened and followed, a blank page between queries; the home page at the end. Returns when
    // finished or stopped (BatchStopFlag set by a click while it runs).
    void runBatch(const BatchRequest& request);

signals:
    // One query address is about to be opened by the batch.
    void queryStarted(const QString& url);

private:
    bool pageFollowingStopped() const { return AddAllStopFlag || batchStopped(); }
    void runExtractPage();

    QPointer<Browser> m_browser;
    int m_pageLoadTimeoutMs = 30000;
    int m_nextPageLoadMs = 20000;
    int m_settleMs = 1000;
    bool m_batchRunning = false;
};

} // namespace lintbay
