#include "controls/Downloader.h"

#include "controls/NetworkContext.h"
#include "controls/PartFile.h"
#include "controls/TransferReason.h"
#include "controls/TransferSupport.h"

#include <QFile>
#include <QPointer>
#include <QTimer>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {
const QString kTimedOut = u"超时"_s;
const QString kCannotDownload = u"无法下载"_s;
const QByteArray kPlaceholder("\x01\x00", 2);
} // namespace

Downloader::Downloader(NetworkContext& network, QObject* parent)
    : QObject(parent), m_fetch(network, Fetch::Route::Direct)
{
    m_fetch.setStallTimeout(kDefaultStallTimeoutMs);
    m_fetch.setTickInterval(kDefaultTickMs);
    connect(&m_fetch, &Fetch::answered, this, &Downloader::onAnswered);
    connect(&m_fetch, &Fetch::bodyGrew, this, &Downloader::onBodyGrew);
    connect(&m_fetch, &Fetch::ended, this, &Downloader::onFetchEnded);
}

Downloader::~Downloader()
{
    abandon();
}

void Downloader::BeginDownload(const QString& url, const QString& saveFile, const QString& tag)
{
    Q_UNUSED(tag)
    if (isRunning())
        abandon();
    ++m_generation;
    m_saveFile = saveFile;
    m_url = NormalizeDownloadUrl(url);
    m_bytesTotal = 0;
    m_bytesRead = 0;
    m_reason.clear();
    m_status = 0;
    m_digest.clear();
    m_contentEncoding.clear();
    m_kept.reset();
    m_progressClock.invalidate();
    m_phase = Phase::Reading;

    // The placeholder only claims a free name; NewOnly also refuses to follow a link.
    if (targetKind(saveFile) == TargetKind::Missing) {
        QFile placeholder(saveFile);
        if (placeholder.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            m_ownPlaceholder = placeholder.write(kPlaceholder) == kPlaceholder.size();
            placeholder.close();
            if (!m_ownPlaceholder)
                placeholder.remove();
        }
    }

    // Nothing is requested that could not be kept.
    const QUrl address(m_url);
    std::unique_ptr<ResumePoint> offer = std::move(m_offer);
    if (targetKind(saveFile) == TargetKind::Irreplaceable) {
        failLater(reason::cannotReplace(saveFile));
        return;
    }
    if (isFetchableUrl(address)) {
        m_fetch.resumeFrom(std::move(offer));
        if (!m_fetch.setTarget(saveFile)) {
            failLater(m_fetch.endReason(Fetch::End::WriteFailed));
            return;
        }
    }
    m_fetch.setOwnPlaceholder(m_ownPlaceholder ? kPlaceholder : QByteArray());
    if (!m_fetch.start(address))
        failLater(reason::unsupportedAddress(m_url));
}

bool Downloader::CancelAsyncRead()
{
    abandon();
    return false;
}

void Downloader::pause()
{
    m_kept = m_fetch.suspend();
    abandon();
}

void Downloader::onAnswered()
{
    // Also the answer of a landing page's document, after the page itself was read.
    m_phase = Phase::Reading;
    m_status = m_fetch.status();
    if (m_deferBusy && (m_status == 429 || m_status == 503)) {
        defer(retryAfterMs(m_fetch.answer()));
        return;
    }
    if (m_fetch.refusedTheRest()) {
        fail(kCannotDownload, reason::httpStatus(m_status));
        return;
    }
    // A continued body counts what an earlier attempt left.
    m_bytesRead = m_fetch.received();
    const qint64 length = m_fetch.announced();
    if (length < 1) {
        // The first read could only end with a total of 0, which always means a second fetch taken
        // whole; fetching the body twice gains nothing.
        startFallback();
        return;
    }
    m_bytesTotal = length;
    if (!m_fetch.stream()) {
        fail(kCannotDownload, m_fetch.endReason(Fetch::End::WriteFailed));
        return;
    }
    reportProgress(true);
}

void Downloader::onBodyGrew(qint64 received)
{
    m_bytesRead = received;
    if (m_phase == Phase::Reading)
        reportProgress(false);
}

void Downloader::onFetchEnded(Fetch::End reason)
{
    m_bytesRead = m_fetch.received();
    switch (reason) {
    case Fetch::End::Complete:
        m_reason = m_fetch.pageReason();
        m_digest = m_fetch.digest();
        m_contentEncoding = m_fetch.contentEncoding();
        if (m_phase == Phase::Reading)
            succeed(m_bytesRead, m_bytesTotal);
        else
            succeed(m_bytesRead, m_bytesRead);
        return;
    case Fetch::End::Stalled:
        // What arrived before the silence is shown, however soon after the last report it came.
        if (m_phase == Phase::Reading) {
            const QPointer<Downloader> self(this);
            reportProgress(true);
            if (!self || !isRunning())
                return;
        }
        fail(kTimedOut, m_fetch.endReason(reason));
        return;
    case Fetch::End::TooLarge:
        tooLarge();
        return;
    case Fetch::End::Busy: // the second request, for the body taken whole
        m_status = m_fetch.status();
        defer(m_fetch.busyRetryAfterMs());
        return;
    case Fetch::End::NoAnswer:
    case Fetch::End::RedirectRefused:
    case Fetch::End::CutOff:
        // A read that brought nothing is tried once more, taken whole (a refused redirect may have
        // set the cookie it wanted); one cut off on its way is a truncated document, no document. A
        // request for the rest of a kept body is not: taken whole, the kept bytes would be lost.
        if (m_phase == Phase::Reading && m_bytesRead < 1 && !m_fetch.isContinuing()) {
            startFallback();
            return;
        }
        if (reason == Fetch::End::CutOff && m_phase == Phase::Reading && m_bytesTotal > 0) {
            endShort();
            return;
        }
        break;
    case Fetch::End::Empty:
    case Fetch::End::HeaderTimeout:
    case Fetch::End::WriteFailed:
    case Fetch::End::BadLength:
    case Fetch::End::NotReplaced:
        break;
    }
    fail(kCannotDownload, m_fetch.endReason(reason));
}

void Downloader::startFallback()
{
    m_phase = Phase::Fallback;
    m_bytesTotal = 0;
    m_bytesRead = 0;
    if (!m_fetch.fetchWhole())
        fail(kCannotDownload, m_fetch.endReason(Fetch::End::WriteFailed));
}

void Downloader::reportProgress(bool force)
{
    if (m_bytesTotal < 1)
        return;
    if (!force && m_progressClock.isValid() && m_progressClock.elapsed() < kProgressIntervalMs)
        return;
    m_progressClock.start();
    emit DownloadProgress(m_bytesRead, m_bytesTotal, m_saveFile);
}

void Downloader::succeed(qint64 bytesRead, qint64 bytesTotal)
{
    // The committed file has taken the placeholder's place.
    m_ownPlaceholder = false;
    abandon();
    const QString file = m_saveFile;
    emit DownloadComplete(bytesRead, bytesTotal, file);
}

void Downloader::endShort()
{
    m_reason = m_fetch.endReason(Fetch::End::CutOff);
    m_kept = m_fetch.suspend();
    abandon();
    const QString file = m_saveFile;
    emit DownloadComplete(m_bytesRead, m_bytesTotal, file);
}

void Downloader::tooLarge()
{
    m_reason = m_fetch.endReason(Fetch::End::TooLarge);
    abandon();
    const QString file = m_saveFile;
    emit DownloadTooLarge(m_bytesRead, file);
}

void Downloader::fail(const QString& message, const QString& why)
{
    m_reason = why;
    m_kept = m_fetch.suspend();
    abandon();
    const QString file = m_saveFile;
    emit DownloadError(message, file);
}

void Downloader::defer(qint64 retryAfter)
{
    m_reason = reason::retryLater(m_status);
    m_kept = m_fetch.suspend();
    abandon();
    const QString file = m_saveFile;
    emit DownloadDeferred(retryAfter, file);
}

void Downloader::failLater(const QString& why)
{
    // Reported after BeginDownload has returned, so the owner never sees a signal from inside its call.
    const quint64 generation = m_generation;
    QTimer::singleShot(0, this, [this, generation, why] {
        if (generation == m_generation && isRunning())
            fail(kCannotDownload, why);
    });
}

void Downloader::abandon()
{
    m_fetch.abandon();
    removeOwnPlaceholder();
    m_phase = Phase::Idle;
}

void Downloader::removeOwnPlaceholder()
{
    if (!m_ownPlaceholder)
        return;
    m_ownPlaceholder = false;
    removePlaceholderAt(m_saveFile);
}

void Downloader::removePlaceholderAt(const QString& path)
{
    // Only the two bytes a transfer writes; anything else standing there is someone else's.
    removeIfHolding(path, kPlaceholder);
}

} // namespace lintbay
