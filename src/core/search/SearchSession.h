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
    QPointer<Browser> m_browser;
    int m_pageLoadTimeoutMs = 30000;
};

} // namespace lintbay
