#pragma once

#include "app/Browser.h"
#include "search/QueryBuilder.h"
#include "search/ResultExtractor.h"

#include <QObject>
#include <QPointer>
#include <QSet>

#include <optional>

namespace lintbay {

class ProgramSettings;
class ResultListModel;
class Sequences;

// The pager's next-page link, as the engine has written it over the years: "下一页>" and, on
// today's pages, "下一页 >". Compared without any white space and ignoring case; no other link
// (the page numbers, "<上一页", other text around "下一页") is ever taken for it.
bool isNextPageLinkText(const QString& text);

// The search window's work, independent of the widgets: the result list, the state flags (true =
// idle or stop requested), the page extraction, the page following of "加入全部到列表" and the batch
// search. It reports by signals; the window wires its buttons, captions and colours to them and
// hands in the choices of its controls. Each long run is a sequence ("batch", "follow") that
// refuses to start twice and keeps the window open while it runs.
class SearchSession : public QObject
{
    Q_OBJECT
public:
    SearchSession(Browser* browser, ProgramSettings& settings, QObject* parent = nullptr);

    Browser* browser() const { return m_browser; }
    ResultListModel& results() const { return *m_results; }
    Sequences& sequences() const { return *m_sequences; }

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

    // The longest pause at the engine's verification page; a longer one ends the run as a stop
    // would. The program takes it from the settings (minutes), tests inject less.
    void setVerificationLimit(int ms) { m_verificationLimitMs = ms; }
    bool pausedForVerification() const { return m_pausedForVerification; }

    // The window's check boxes and its page delay box (whole seconds, as text).
    void setExtractionOptions(const ExtractionOptions& options) { m_extraction = options; }
    ExtractionOptions extractionOptions() const;
    void setPageDelayText(const QString& text) { m_delayText = text; }

    // True while a batch runs; the batch counts as stopped when, in addition, BatchStopFlag is set.
    bool insideBatch() const { return m_batchRunning; }
    bool batchStopped() const { return m_batchRunning && BatchStopFlag; }
    bool pageFollowingRunning() const;

    // The folder recorded in extracted rows: the default save folder when it is asked for at
    // extraction, else none (it is asked for at hand-over).
    QString extractionSaveFolder() const;
    // Extracts the page the browser shows into the result list (pageExtracted follows).
    void ExtractPage();

    // Page following: extracts the current page, finds the pager's "下一页>" link, clicks it,
    // waits for the page and the delay. True when a next page was opened.
    bool 下一页();
    // Waits the chosen page delay; a stop request ends it at once.
    void 提取信息限速延时();
    // "加入全部到列表": follows the pages until none is left or a stop is requested, then extracts
    // the last page once more. False when a page following runs already. Where the engine shows
    // its verification page instead of results (at a query's first page or after a click), the
    // run pauses until the browser shows results again, which the user brings about by solving the
    // challenge in it, and goes on from that page.
    bool followAllPages();
    // "停止加入全部": the running page following ends after its current step.
    void stopPageFollowing() { AddAllStopFlag = true; }

    // Opens the address and waits until the page is complete, the wait runs out or the batch is
    // stopped. Never reports failure: the caller works on whatever the browser holds.
    void 打开百度搜索网页(const QString& url);

    struct BatchRequest
    {
        QString engine;            // the search engine setting
        QString keywordText;       // the keyword box, one query per non-empty line
        QueryOptions options;
        QSet<QString> tickedTypes; // "pdf", "doc", "ppt", "xls", "rtf"
    };

    // The batch search: every non-empty line, every ticked type in the fixed order, each query
    // opened and its pages followed, a blank page between queries; the home page at the end.
    // Returns when finished or stopped (stopBatch()); false, opening nothing, when a batch or any
    // other run of the session is already under way.
    bool runBatch(const BatchRequest& request);
    void stopBatch() { BatchStopFlag = true; }

signals:
    void batchRunningChanged(bool running);
    // One query address is about to be opened by the batch.
    void queryStarted(const QString& url);
    void pageFollowingChanged(bool running);
    // The engine asks for its verification; the run waits for the user (true), or goes on (false).
    void verificationPaused(bool paused);
    // Nobody passed the verification in the time allowed: the run stopped as a stop would have
    // stopped it, though nobody asked for that.
    void verificationTimedOut();
    // A page was extracted; the list holds `rows` rows now.
    void pageExtracted(int rows);

private:
    bool pageFollowingStopped() const { return AddAllStopFlag || batchStopped(); }
    // When the browser shows the verification page: waits until it shows another page that is not
    // one. False when the run is to end instead (stopped, paused for too long, or gone).
    bool passVerification();
    // Whether the browser shows the verification page; nothing when its page cannot be read.
    std::optional<bool> showsVerificationPage();

    QPointer<Browser> m_browser;
    ProgramSettings& m_settings;
    ResultListModel* m_results = nullptr;
    Sequences* m_sequences = nullptr;
    ExtractionOptions m_extraction;
    QString m_delayText;
    int m_pageLoadTimeoutMs = 30000;
    int m_nextPageLoadMs = 20000;
    int m_settleMs = 1000;
    int m_verificationLimitMs = 10 * 60 * 1000;
    bool m_batchRunning = false;
    bool m_pausedForVerification = false;
    bool m_pageArrived = false;
};

} // namespace lintbay
