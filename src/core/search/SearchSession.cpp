#include "SearchSession.h"

#include "app/Browser.h"
#include "app/ProgramSettings.h"
#include "search/ResultListModel.h"
#include "app/VerificationPage.h"
#include "util/Wait.h"

#include <QElapsedTimer>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {
const QString kBatchSequence = u"batch"_s;
const QString kFollowSequence = u"follow"_s;
// A page paused at the verification that cannot be read is read again this often, this long apart.
constexpr int kUnreadableRetries = 3;
constexpr int kUnreadableRetryMs = 1000;
} // namespace

bool isNextPageLinkText(const QString& text)
{
    QString compact;
    compact.reserve(text.size());
    for (const QChar c : text)
        if (!c.isSpace())
            compact.append(c);
    return compact.toLower() == u"下一页>"_s;
}

SearchSession::SearchSession(Browser* browser, ProgramSettings& settings, QObject* parent)
    : QObject(parent), m_browser(browser), m_settings(settings)
{
    m_results = new ResultListModel(this);
    m_sequences = new Sequences(this);
    if (m_browser)
        connect(m_browser, &Browser::documentComplete, this, [this] {
            PageLoadingFlag = false;
            m_pageArrived = true;
        });
}

bool SearchSession::pageFollowingRunning() const
{
    return m_sequences->isRunning(kFollowSequence);
}

ExtractionOptions SearchSession::extractionOptions() const
{
    ExtractionOptions o = m_extraction;
    o.engineDomain = SearchEngineDomain(m_settings.searchEngine());
    return o;
}

QString SearchSession::extractionSaveFolder() const
{
    return m_settings.promptSavePathOnExtract() == 1 ? m_settings.defaultSavePath() : QString();
}

void SearchSession::ExtractPage()
{
    if (!m_browser)
        return;
    const QPointer<SearchSession> self(this);
    const HtmlDocumentPtr doc = m_browser->document();
    if (!self)
        return;
    if (doc)
        ExtractResults(*doc, extractionOptions(), extractionSaveFolder(), *m_results);
    emit pageExtracted(m_results->count());
}

void SearchSession::打开百度搜索网页(const QString& url)
{
    if (!m_browser)
        return;
    PageLoadingFlag = true;
    m_browser->navigate(QUrl(url));
    (void)waitUntil(this, [this] { return !m_browser || !m_browser->isBusy() || !PageLoadingFlag; },
                    m_pageLoadTimeoutMs, [this] { return BatchStopFlag; });
}

bool SearchSession::runBatch(const BatchRequest& request)
{
    // Another run holding the browser (a page following, a pass, an extraction) would have the
    // batch's queries opened under it and their pages read by nobody.
    if (m_sequences->isRunning())
        return false;
    const SequenceGuard running(*m_sequences, kBatchSequence);
    if (!running)
        return false;
    const QPointer<SearchSession> self(this);
    BatchStopFlag = false;
    m_batchRunning = true;
    emit batchRunningChanged(true);
    const QString base = SearchQueryBase(request.engine);
    const QStringList lines = SplitKeywordLines(request.keywordText);
    for (const QString& rawLine : lines) {
        if (!pumpEventsFor(this))
            return false;
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
                if (!self)
                    return false;
                // Refused while a following the user started between two queries still runs: the
                // batch stops rather than open query after query with nothing read.
                if (!followAllPages() && self)
                    BatchStopFlag = true;
                if (!self || !pumpEventsFor(this))
                    return false;
                打开百度搜索网页(u"about:blank"_s);
                if (!self)
                    return false;
            }
            if (BatchStopFlag)
                break;
        }
        if (BatchStopFlag)
            break;
    }
    // The home page is opened whether the batch finished or was stopped; after a stop it is not
    // waited for, so the window may close at once. The batch runs until then: a stop pressed while
    // the home page loads ends that wait, and starts nothing.
    打开百度搜索网页(SearchHomePage(request.engine));
    if (!self)
        return false;
    m_batchRunning = false;
    BatchStopFlag = true;
    emit batchRunningChanged(false);
    return true;
}

bool SearchSession::下一页()
{
    const QPointer<SearchSession> self(this);
    ExtractPage();
    if (!self || !m_browser)
        return false;
    const HtmlDocumentPtr doc = m_browser->document();
    if (!self || !doc)
        return false;
    const HtmlElement pager = doc->getElementById(u"page"_s);
    if (pager.isNull())
        return false;
    const QList<HtmlElement> links = pager.getElementsByTagName(u"a"_s);
    for (const HtmlElement& link : links) {
        if (!pumpEventsFor(this) || pageFollowingStopped() || !m_browser)
            return false;
        if (!isNextPageLinkText(link.innerText()))
            continue;
        const QUrl shown = m_browser->url().adjusted(QUrl::RemoveFragment);
        PageLoadingFlag = true;
        const bool clicked = m_browser->click(link.locator());
        if (!self)
            return false;
        if (!clicked) {
            PageLoadingFlag = false;
            return false;
        }
        if (!pumpEventsFor(this))
            return false;
        const auto stop = [this] { return pageFollowingStopped() || !m_browser; };
        if (waitUntil(this, [this] { return !m_browser || !m_browser->isBusy() || !PageLoadingFlag; },
                      m_nextPageLoadMs, stop) == WaitResult::OwnerGone)
            return false;
        // A next link that opened nothing (a "#", a script that failed) leaves the page as it was:
        // read and clicked again, it would hold the run on one page for good.
        if (m_browser && !m_browser->isBusy() && m_browser->url().adjusted(QUrl::RemoveFragment) == shown)
            return false;
        // Let the new page settle (scripts, late content) before it is read.
        if (waitUntil(this, {}, m_settleMs, stop) == WaitResult::OwnerGone)
            return false;
        提取信息限速延时();
        return !self.isNull();
    }
    return false;
}

std::optional<bool> SearchSession::showsVerificationPage()
{
    const HtmlDocumentPtr doc = m_browser ? m_browser->document() : nullptr;
    if (!doc)
        return std::nullopt;
    return IsVerificationPage(*doc);
}

bool SearchSession::passVerification()
{
    const QPointer<SearchSession> self(this);
    // Cleared before each look at the page: a page that arrives while it is looked at is waited
    // for no longer.
    m_pageArrived = false;
    if (!showsVerificationPage().value_or(false))
        return !self.isNull();
    if (!self)
        return false;
    m_pausedForVerification = true;
    emit verificationPaused(true);
    QElapsedTimer paused;
    paused.start();
    bool passed = false;
    bool timedOut = false;
    for (;;) {
        const qint64 left = m_verificationLimitMs - paused.elapsed();
        const WaitResult r = left <= 0 ? WaitResult::TimedOut
                                       : waitUntil(this, [this] { return m_pageArrived || !m_browser; }, int(left),
                                                   [this] { return pageFollowingStopped(); });
        if (r == WaitResult::OwnerGone)
            return false;
        if (r == WaitResult::TimedOut) {
            // As a stop: the batch ends too, not only this query.
            AddAllStopFlag = true;
            if (m_batchRunning)
                BatchStopFlag = true;
            timedOut = true;
            break;
        }
        if (r == WaitResult::Stopped || !m_browser)
            break;
        m_pageArrived = false;
        // A page that cannot be read is no sign the challenge is past. One that went on will end
        // its load; one that was slow to answer is read again, a few times.
        std::optional<bool> shown = showsVerificationPage();
        for (int tries = 0; self && !shown && tries < kUnreadableRetries && m_browser && !m_browser->isBusy();
             ++tries) {
            if (waitUntil(
                    this, [this] { return m_pageArrived; }, kUnreadableRetryMs,
                    [this] { return pageFollowingStopped(); }) != WaitResult::TimedOut)
                break;
            shown = showsVerificationPage();
        }
        if (!self)
            return false;
        const bool stillThere = shown.value_or(true);
        if (!stillThere) {
            passed = true;
            break;
        }
    }
    m_pausedForVerification = false;
    emit verificationPaused(false);
    if (timedOut && self)
        emit verificationTimedOut();
    return passed;
}

void SearchSession::提取信息限速延时()
{
    bool ok = false;
    const double seconds = m_delayText.trimmed().toDouble(&ok);
    if (!ok || seconds <= 0)
        return;
    const int wholeSeconds = static_cast<int>(seconds);
    (void)waitUntil(this, {}, wholeSeconds * 1000, [this] { return pageFollowingStopped(); });
}

bool SearchSession::followAllPages()
{
    const SequenceGuard running(*m_sequences, kFollowSequence);
    if (!running)
        return false;
    const QPointer<SearchSession> self(this);
    AddAllStopFlag = false;
    emit pageFollowingChanged(true);
    for (;;) {
        if (!pumpEventsFor(this))
            return false;
        if (AddAllStopFlag || batchStopped())
            break;
        // The page shown (the query's first, or the one a click opened) may be the verification page.
        if (!passVerification() || !self)
            break;
        if (!下一页() || !self)
            break;
        ExtractPage();
        if (!self || !pumpEventsFor(this))
            return false;
    }
    if (!self)
        return false;
    ExtractPage();
    if (!self)
        return false;
    AddAllStopFlag = true;
    emit pageFollowingChanged(false);
    return true;
}

} // namespace lintbay
