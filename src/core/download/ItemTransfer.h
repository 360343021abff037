#pragma once

#include "controls/Fetch.h"
#include "download/TransferOutcome.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

namespace lintbay {

class DownloadListModel;
class NetworkContext;

// Inet下载文件: fetches one row of the download list in the single-transfer mode, through the proxy,
// with a Referer, and writes the outcome into the row (TransferOutcome.h lists what each outcome
// writes). The response's headers are judged before any byte is kept: the size limit, the type
// (Content-Type, its charset, Content-Disposition), the status line. The save path is chosen after
// that, the body streams into a temporary file in the target folder and takes the final name only
// when complete. After a completion the file's content has decided the row's Type (and the file's
// name) already.
// A row removed from the list while its transfer runs ends the transfer; the list is not touched.
//
// Given the body an earlier attempt left (resumeFrom), the transfer asks only for the rest, and the
// row's columns count the bytes already there. One that does not end well keeps its body for the
// next attempt when that can go on with it (takeResumePoint). With deferBusyAnswers, a "try again
// later" answer (429, 503) puts the row back to waiting (Outcome RetryLater) before anything of it
// is written; the owner decides when it is picked again.
class ItemTransfer : public QObject
{
    Q_OBJECT
public:
    struct Settings
    {
        double maxFileSizeMB = 10;
        QString policy = QStringLiteral("重命名"); // the "同名文件：" choice
        int headerTimeoutMs = 30000;               // from the request to the response headers
        int stallTimeoutMs = 120000;               // without a new body byte
        int tickMs = 1000;                         // how often the stall clock is read
        bool deferBusyAnswers = false;             // 429 and 503 end as RetryLater
    };

    using Outcome = TransferOutcome;

    ItemTransfer(NetworkContext& network, DownloadListModel& list, int row, const Settings& settings,
                 QObject* parent = nullptr);
    ~ItemTransfer() override; // abandons a running transfer without touching the row

    // Sends the request. Every outcome is reported by finished(), after start() has returned.
    void start();
    // "停止下载": the row ends Failed with "下载取消"; the body so far is kept for a later attempt when
    // that can go on with it, else removed.
    void cancel();

    // Before start(): the body an earlier attempt at the row's address left.
    void resumeFrom(std::unique_ptr<ResumePoint> point);
    // After finished(): the body to go on with, or null.
    std::unique_ptr<ResumePoint> takeResumePoint() { return std::move(m_kept); }
    // The fetch in progress (for its resumeNoteChanged()).
    const Fetch& fetch() const { return m_fetch; }
    // The HTTP status of the last answer; 0 when none came.
    int httpStatus() const { return m_fetch.status(); }
    // The address it was started with (the row's may change while it runs).
    QString url() const { return m_url; }
    // After RetryLater: the answer's Retry-After, -1 when it named none.
    qint64 retryAfterMs() const { return m_retryAfterMs; }
    // After a completion: the file's SHA-256.
    QByteArray digest() const { return m_digest; }

    bool isRunning() const { return m_outcome == Outcome::Running && m_started; }
    Outcome outcome() const { return m_outcome; }
    // True when the row ended Done.
    bool isDone() const;
    // The row's index now (rows may be sorted meanwhile), or -1 when it is gone.
    int row() const;
    // The file the transfer writes or wrote; empty until the headers fixed it.
    QString savePath() const { return m_savePath; }
    qint64 bytesReceived() const { return m_received; }

signals:
    // Status bar panel 3: the transfer's state as far as the network layer shows it.
    void stateText(const QString& text);
    // Status bar panel 2: "正在下载:" & Name at the start, "完成下载:" & Name at the end.
    void statusText(const QString& text);
    // The row's final state, Type and file are in place when this is emitted.
    void finished(bool done);

private:
    enum class Phase
    {
        Idle,
        WaitingForHeaders,
        Streaming,
        WholeFetch,
        Ended,
    };

    // Steps from the headers to the start of the body.
    void judgeHeaders();
    void startWholeFetch();
    // Why the part file could not be had: the folder was not made, or what the system said.
    QString cannotWriteReason() const;
    // The body cannot be written at the save path: "无法替换" when a file stands there, else a write failure.
    void endCannotWrite();
    void onBodyGrew(qint64 received);
    void onFetchEnded(Fetch::End reason);
    void updateReceived(bool force);
    // Ends the transfer with an outcome and why it did not end well: fills the row, cleans up, runs
    // the end steps. A completion finds its reason itself, should the file be a web page.
    void end(Outcome outcome, const QString& why = {});
    void emitErrorState(int code, const QString& text);
    void setState(const QString& text);
    bool rowGone() const { return row() < 0; }

    DownloadListModel& m_list;
    quint64 m_rowId = 0; // the row is followed by its id: sorting, shuffling or removals never mislead it
    Settings m_settings;
    Fetch m_fetch;

    Phase m_phase = Phase::Idle;
    Outcome m_outcome = Outcome::Running;
    bool m_started = false;
    QString m_url;
    QString m_givenName; // the row's name and type before any answer was judged
    QString m_givenType;
    QString m_savePath;
    bool m_folderMissing = false; // the save folder could not be made
    QElapsedTimer m_shownClock;
    QString m_lastState;
    qint64 m_size = 0; // announced length, 0 when unknown
    qint64 m_received = 0;
    qint64 m_retryAfterMs = -1;
    QByteArray m_digest;
    QByteArray m_contentEncoding; // of a completed body that came compressed
    std::unique_ptr<ResumePoint> m_kept;
};

} // namespace lintbay
