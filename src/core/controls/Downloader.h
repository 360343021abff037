#pragma once

#include "controls/Fetch.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

namespace lintbay {

class NetworkContext;

// One download slot: fetches one address into one file without blocking the window, and reports
// progress, completion or failure. Direct connection (no proxy), no Referer.
//
// The file at the save path: while the transfer runs, a placeholder of the two bytes 01 00 stands
// there so that name choices for other slots see the name as taken; it is written only when nothing
// is at the path yet, so an older file is never clobbered by a transfer that then fails. The body
// goes to a temporary file in the same folder and replaces whatever is at the path only once it is
// complete. A transfer that fails or is abandoned removes its own placeholder and leaves any older
// file as it was.
//
// An answer without a usable length (none announced, or nothing delivered) is fetched a second time
// and taken whole, whatever its length: completion then reports the real byte count as both read and
// total. A body that ends short of its announced length is reported as a completion below its
// total (which the owner takes as a failure): the file at the save path is not replaced, and the body
// so far is kept for a later attempt when that can go on with it. A landing page is followed once to
// its document (Fetch.h), and progress starts again from the document.
//
// The size limit (setSizeLimit) holds for every body, the one taken whole too: past it the transfer
// ends with DownloadTooLarge and nothing is kept.
//
// A transfer given the body an earlier one left (resumeWith) asks only for the rest, and counts the
// bytes already there in its progress. One that breaks off or times out, or is paused, keeps its body
// for the next attempt when that can go on with it (takeResumePoint).
//
// An owner that handles "try again later" answers (429, 503) asks for them (setDeferBusyAnswers):
// such an answer ends the transfer with DownloadDeferred instead of being taken as a document.
//
// The owner may delete the object in any of its signal handlers.
class Downloader : public QObject
{
    Q_OBJECT
public:
    static constexpr int kDefaultStallTimeoutMs = 300000;
    static constexpr int kDefaultTickMs = Fetch::kDefaultTickMs;
    // Progress is reported at most this often (and once as soon as the total is known).
    static constexpr int kProgressIntervalMs = 200;

    explicit Downloader(NetworkContext& network, QObject* parent = nullptr);
    ~Downloader() override; // abandons a running transfer

    // Starts fetching `url` ("&amp;" read as "&", blanks trimmed) into `saveFile`. `tag` is accepted
    // for the callers' sake and not used. A transfer still running is abandoned first. Every outcome
    // is reported by a signal after this call has returned.
    void BeginDownload(const QString& url, const QString& saveFile, const QString& tag);
    // Abandons the transfer without a signal (what the owner does when it frees the slot): the
    // request is cancelled, the temporary file and the own placeholder removed. Always false.
    bool CancelAsyncRead();
    // Like CancelAsyncRead, but the body so far is kept for a later attempt (takeResumePoint).
    void pause();

    // For the next BeginDownload: the body an earlier attempt at the same address left.
    void resumeWith(std::unique_ptr<ResumePoint> point) { m_offer = std::move(point); }
    // After an end other than completion: the body to go on with, or null.
    std::unique_ptr<ResumePoint> takeResumePoint() { return std::move(m_kept); }
    // Removes the name-claiming placeholder a transfer left at `path` (one a program that ended
    // without cleaning up left); a file with anything else in it stays.
    static void removePlaceholderAt(const QString& path);
    // The fetch in progress (for its resumeNoteChanged()).
    const Fetch& fetch() const { return m_fetch; }
    void setDeferBusyAnswers(bool on)
    {
        m_deferBusy = on;
        m_fetch.setEndOnBusy(on);
    }
    // Bytes a body may have; 0: no limit.
    void setSizeLimit(qint64 bytes) { m_fetch.setSizeLimit(bytes); }
    // Set: a file at the save path that is not this transfer's placeholder is never replaced; the
    // body goes where `elsewhere` says (Fetch::setCommitBeside).
    void setCommitBeside(std::function<QString(const QString& taken)> elsewhere)
    {
        m_fetch.setCommitBeside(std::move(elsewhere));
    }

    // Time without a new byte after which the transfer ends with "超时", and how often that is checked.
    void setStallTimeout(int ms) { m_fetch.setStallTimeout(ms); }
    int stallTimeout() const { return m_fetch.stallTimeout(); }
    void setTickInterval(int ms) { m_fetch.setTickInterval(ms); }
    int tickInterval() const { return m_fetch.tickInterval(); }

    bool isRunning() const { return m_phase != Phase::Idle; }
    QString url() const { return m_url; }
    QString saveFile() const { return m_saveFile; }
    qint64 bytesRead() const { return m_bytesRead; }
    qint64 bytesTotal() const { return m_bytesTotal; }
    // In the words of the download list (TransferReason.h): after DownloadError, why; after
    // DownloadComplete, what to tell should the file be a web page rather than a document.
    QString reason() const { return m_reason; }
    // The HTTP status of the last answer; 0 when none came.
    int httpStatus() const { return m_status; }
    // After DownloadComplete: the file's SHA-256.
    QByteArray digest() const { return m_digest; }
    // After DownloadComplete: the answer's Content-Encoding when the body came compressed (Fetch.h).
    QByteArray contentEncoding() const { return m_contentEncoding; }

signals:
    // Only while the total is known (at least 1).
    void DownloadProgress(qint64 bytesRead, qint64 bytesTotal, const QString& saveFile);
    // The file is complete at the save path.
    void DownloadComplete(qint64 bytesRead, qint64 bytesTotal, const QString& saveFile);
    // "超时" (no new byte within the stall time-out) or "无法下载" (nothing usable arrived, or the
    // file could not be written). Nothing is left at the save path but what was there before.
    void DownloadError(const QString& message, const QString& saveFile);
    // The server asked to be asked again later (429 or 503); `retryAfterMs` is its Retry-After, -1
    // when it named none. Nothing is left at the save path but what was there before.
    void DownloadDeferred(qint64 retryAfterMs, const QString& saveFile);
    // The body grew past the size limit (`bytesRead` so far). Nothing is left at the save path but
    // what was there before.
    void DownloadTooLarge(qint64 bytesRead, const QString& saveFile);

private:
    enum class Phase
    {
        Idle,
        Reading,  // the first request
        Fallback, // the second request, taken whole
    };

    void onAnswered();
    void onBodyGrew(qint64 received);
    void onFetchEnded(Fetch::End reason);
    void startFallback();
    void succeed(qint64 bytesRead, qint64 bytesTotal);
    // A body that ended short: a completion below its total, the target untouched.
    void endShort();
    void tooLarge();
    void fail(const QString& message, const QString& why);
    void defer(qint64 retryAfterMs);
    // "无法下载", once BeginDownload has returned.
    void failLater(const QString& why);
    // Stops the request and the clock, discards the temporary file and the own placeholder.
    void abandon();
    void removeOwnPlaceholder();
    void reportProgress(bool force);

    Fetch m_fetch;
    QElapsedTimer m_progressClock;

    Phase m_phase = Phase::Idle;
    quint64 m_generation = 0; // tells a queued report of an earlier transfer from the current one
    QString m_url;
    QString m_saveFile;
    bool m_ownPlaceholder = false;
    qint64 m_bytesTotal = 0;
    qint64 m_bytesRead = 0;
    QString m_reason;
    int m_status = 0;
    QByteArray m_digest;
    QByteArray m_contentEncoding;
    bool m_deferBusy = false;
    std::unique_ptr<ResumePoint> m_offer;
    std::unique_ptr<ResumePoint> m_kept;
};

} // namespace lintbay
