#pragma once

#include "controls/LandingPage.h"
#include "controls/TransferSupport.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <functional>
#include <memory>

class QFutureWatcherBase;
class QNetworkReply;
class QNetworkRequest;
class QThreadPool;

namespace lintbay {

class NetworkContext;
class PartFile;

// Where a body that may be continued lies and what tells whether the server still has the same
// document, as plain values: what the download journal keeps, so that a later start of the program
// can go on with a body a crash interrupted.
struct ResumeNote
{
    QString partPath;
    QUrl url;
    QByteArray validator;
    qint64 total = -1;

    bool isNull() const { return partPath.isEmpty(); }
    bool operator==(const ResumeNote&) const = default;
};

// A body that broke off, kept for the next attempt to ask only for the rest: the part file (closed,
// on disk) and what tells whether the server still has the same document.
struct ResumePoint
{
    ResumePoint();
    ~ResumePoint(); // removes the part file
    ResumePoint(ResumePoint&&);
    ResumePoint(const ResumePoint&) = delete;
    ResumePoint& operator=(const ResumePoint&) = delete;

    std::unique_ptr<PartFile> part;
    QUrl url;             // the address that was asked
    QByteArray validator; // the answer's strong ETag, else its Last-Modified; empty: it had neither
    qint64 total = -1;    // the whole length that answer announced; -1: none

    qint64 size() const;
    QString partPath() const;
    ResumeNote note() const;
    // A body a program that ended without cleaning up left: its part file as the note names it, read
    // once for its digest. Null unless the file is a part file this program makes, a plain file (no
    // link) holding some bytes.
    static std::unique_ptr<ResumePoint> adopt(const ResumeNote& note);
};

// One document fetched over the network into one file, for both download modes: the request (user
// agent, cookies, Referer), the redirects (followed by hand, loops and endless chains refused), the
// body streamed into a part file beside the target and put in place only when complete, the stall
// watch, and the second request that takes an answer whole when its first answer cannot be judged.
//
// The owner decides what an answer is worth: once the headers of the final answer are in, answered()
// asks it to stream() the body, to fetchWhole() instead, or to abandon(). Every end is reported once
// by ended(); the file at the target has been replaced by then only when the reason is Complete.
//
// A web page that arrives whole is read as a possible landing page (LandingPage.h) before it takes
// the target's place. One that leads to a single document is followed once: the document is
// requested with the page as its Referer, under the same watches, into the same part file, and its
// answer comes to the owner through answered() again, to be judged like a first one.
// A fetch may go on with a body an earlier attempt left (resumeFrom): the request asks for the rest
// ("Range", and "If-Range" with the validator); an answer that continues the part exactly (a 206 from
// its end, the same total, no other validator) is appended to it; a 206 of any other range and a 416
// are asked again without a range; any other answer goes to the owner as a first answer, and the part
// is started over once its body is taken. Without a validator, the total length alone tells whether
// the document is the same one. A body that breaks off may be kept for the next attempt (suspend()).
// A landing page's document and a body taken whole are never kept: asked again, they may be others.
// A complete body waits until its bytes are on the disk before it takes the target's place; that
// wait runs off the window's thread, and the fetch stays active until it is over.
// The owner may delete the engine, or itself, inside any of its signals. Nothing is ever reported
// from inside a call of the owner.
class Fetch : public QObject
{
    Q_OBJECT
public:
    enum class Route
    {
        Direct,  // parallel slots
        Proxied, // the single transfer, through the proxy when one is in use
    };

    enum class End
    {
        Complete,        // the body is whole and has taken the target's place
        CutOff,          // the body ended short, or the connection broke
        Empty,           // a whole-body fetch brought fewer than two bytes
        Stalled,         // no new byte within the stall time-out
        HeaderTimeout,   // no answer within the header time-out
        NoAnswer,        // nothing came back at all (refused, reset, not resolvable)
        RedirectRefused, // a redirect loop, too many hops, or a target that is not a web address
        WriteFailed,     // the disk refused the body, or it could not be put in place
        TooLarge,        // the body grew past the size limit
        BadLength,       // the answer named two different lengths, or sent more than it named
        Busy,            // a body taken whole was a "try again later" answer (setEndOnBusy)
        NotReplaced,     // an error page, or a web page for a document's name, found a file at the
                         // target: the file stays, the body is dropped
    };

    // What the network layer said about an end that was not Complete.
    struct Failure
    {
        int code = 0;
        QString text;
    };

    static constexpr int kDefaultTickMs = 1000;

    Fetch(NetworkContext& network, Route route, QObject* parent = nullptr);
    ~Fetch() override; // abandons

    // Time without a new byte after which the fetch ends Stalled, and how often that is checked.
    void setStallTimeout(int ms) { m_stallTimeoutMs = ms; }
    int stallTimeout() const { return m_stallTimeoutMs; }
    void setTickInterval(int ms);
    int tickInterval() const { return m_tick.interval(); }
    // From the request to the final answer's headers; negative: none, and the stall watch covers the
    // wait for them instead.
    void setHeaderTimeout(int ms) { m_headerTimeoutMs = ms; }
    // Bytes a body may have, whichever way it is taken (streamed, taken whole, continued); the fetch
    // ends TooLarge once more arrived. 0: no limit.
    void setSizeLimit(qint64 bytes) { m_sizeLimit = qMax<qint64>(0, bytes); }
    // For an owner that puts "try again later" answers (429, 503) back to wait: the answer of a body
    // taken whole, which goes to no answered(), ends Busy instead of being saved as the document.
    void setEndOnBusy(bool on) { m_endOnBusy = on; }
    // Set: a file at the target is never replaced, not even one that came while the body arrived;
    // `elsewhere` then gives another target (empty: none, and the fetch ends WriteFailed with
    // targetTaken()). Unset: the body takes the target's place when it is what the name was chosen
    // for, and ends NotReplaced otherwise.
    void setCommitBeside(std::function<QString(const QString& taken)> elsewhere)
    {
        m_elsewhere = std::move(elsewhere);
    }
    bool targetTaken() const { return m_targetTaken; }
    // After a Busy end: the wait its answer asked for (retryAfterMs()).
    qint64 busyRetryAfterMs() const { return m_busyRetryAfterMs; }

    // Before start(): the body so far of an earlier attempt at the same address. Dropped (its part
    // removed) when its file is no longer as it was left, or start() asks another address.
    void resumeFrom(std::unique_ptr<ResumePoint> point);
    // Opens the part file for `path` now, for an owner that knows its target before the answer
    // (nothing is requested when the folder cannot take it); a part to resume takes the name. False
    // when it cannot be opened.
    bool setTarget(const QString& path);
    // The bytes the owner wrote at the target to claim its name: a target that still holds them is
    // the owner's to replace, under any commit. Empty for none.
    void setOwnPlaceholder(const QByteArray& bytes) { m_ownPlaceholder = bytes; }
    // Requests `url`; false (and nothing sent) when it is not a web address.
    bool start(const QUrl& url, const QByteArray& referer = {});

    // Inside answered(): takes the body into the part file of `path` (empty: the target already set).
    // False when the part file cannot be opened; the owner ends the fetch then.
    bool stream(const QString& path = {});
    // Inside answered() or ended(), or any time after start(): drops the request and asks again with
    // every header of the first request (the Referer too: hosts that check it would answer the second
    // request with an error page), the body taken whole into the same part file, emptied (opened for
    // `path` when none is open yet).
    // False, with everything dropped, when the part file cannot be had.
    bool fetchWhole(const QString& path = {});
    // Drops the request and the part file; nothing more is reported.
    void abandon();
    // Like abandon(), but the body so far is handed over when a later attempt can go on with it: a
    // document's body, from an answer that named a validator or its length. Null otherwise.
    std::unique_ptr<ResumePoint> suspend();

    bool isActive() const { return m_phase != Phase::Idle; }
    // Where the waits for the disk before a commit run: threads of their own, so that a slow disk
    // holds up nothing else that runs beside the window.
    static QThreadPool* diskPool();
    // The part file on disk, null when there is none. With an address when a later attempt could go
    // on with its body (one being streamed, or one taken over to be continued), else without.
    ResumeNote resumeNote() const;
    // The HTTP status of the answer in hand; 0 before there is one.
    int status() const { return m_status; }
    // The answer in hand continues the body an earlier attempt left.
    bool isResumed() const { return m_resumed; }
    // The request in flight asks for the rest of a kept body, and no answer has come to it yet.
    bool isContinuing() const { return m_rangeFrom > 0; }
    // The answer in hand is a server's passing failure (5xx, 429, 408) to the request for a kept
    // body's rest: neither the rest nor the document, it ends the attempt with the body kept.
    bool refusedTheRest() const { return m_refusedRest; }
    // The whole document's length as the answer in hand tells it (for a continued body, the total of
    // its Content-Range); -1 when it does not.
    qint64 announced() const { return m_announced; }
    // SHA-256 of the file a Complete end put in place.
    QByteArray digest() const { return m_digest; }
    // Where a landing page was followed to; empty when none was.
    QUrl followedTo() const { return m_followedTo; }
    // The host asked last, after the redirects so far (in lower case): the server the transfer is
    // with, which is seldom the host of the address it started from.
    QString currentHost() const;
    // Why an end other than Complete came, in the words of the download list (TransferReason.h).
    QString endReason(End end) const;
    // What to tell of a Complete body that turns out to be a web page: the landing page's verdict,
    // an error status, or that a page came instead of a document.
    QString pageReason() const;
    bool isWhole() const { return m_phase == Phase::Whole; }
    // The final answer, for the owner to judge inside answered().
    const QNetworkReply* answer() const;
    // Bytes of the body in the part file (with those an earlier attempt left, once continued).
    qint64 received() const { return m_received; }
    Failure failure() const { return m_failure; }
    // The answer's Content-Encoding when it is not the identity: the body is kept as it came, so the
    // file holds the compressed bytes. Empty for a plain body.
    QByteArray contentEncoding() const { return m_contentEncoding; }

signals:
    void connecting();
    void requestSent();
    // The final answer's headers are in (of the first request, and of a landing page's document);
    // see stream(), fetchWhole(), abandon().
    void answered();
    // The part file grew.
    void bodyGrew(qint64 received);
    // What resumeNote() says may have changed: a body began streaming, or what the part file holds
    // can no longer be continued.
    void resumeNoteChanged();
    // The body in hand was dropped and the document asked for whole once more (a continuation that
    // sent more than the rest): what was shown of it no longer holds, and answered() comes again.
    void askedAgain();
    // The stall watch saw the body grow since its last look (at most once a tick).
    void stillGrowing(qint64 received);
    void ended(lintbay::Fetch::End reason);

private:
    enum class Phase
    {
        Idle,
        Waiting,   // for the first request's final answer
        Streaming, // its body
        Whole,     // the whole-body fetch, its redirects included
        Syncing,   // the complete body's bytes on their way to the disk, before the commit
    };

    // Requests m_url afresh, under the header time-out or the stall watch.
    void begin();
    void send(const QByteArray& referer);
    void sendRequest(const QNetworkRequest& request);
    // Follows or refuses a redirect, or hands the answer to the owner, once per reply; true when the
    // body of this reply is to be taken.
    bool takeAnswer();
    // Moves what arrived into the part file; false when the fetch ended or changed meanwhile.
    bool takeBody(QNetworkReply* reply);
    // Reads the whole page that came as a landing page; true when its document is being fetched now.
    bool followLandingPage(const QNetworkReply* reply);
    // A good answer, and no web page (by its Content-Type or by its first bytes) where a document's
    // name waits for it; a body that starts as a document is one, whatever its Content-Type, and a
    // .doc, .xls or .ppt an office program saved as a web page one sent as a document.
    bool isTheNamedDocument(const QNetworkReply* reply) const;
    // pageReason() without the landing page it followed.
    QString pageReasonText() const;
    void onMetaData();
    void onReadyRead();
    // Takes what the reply holds, however little (the batch's wait is over).
    void onBatchDue();
    void readBody(bool evenIfLittle);
    void onFinished();
    // Has the complete body's bytes waited onto the disk beside the window, then commitSynced().
    void commitWhenOnDisk();
    // Puts the body in place of the target; `syncError`: why its bytes did not reach the disk.
    void commitSynced(const QString& syncError);
    // Runs `step` once more after the events waiting now (one queued at a time).
    void queueMore(void (Fetch::*step)());
    void onError(int code);
    void onTick();
    void onHeaderTimeout();
    void beginWatch();
    bool openPart(const QString& path);
    // The open part, named for `path` (empty: as it is); a new one when none is open.
    bool partFor(const QString& path);
    // An answer to a request for the rest of a part: true when it continues the part; false when it
    // was asked again without a range (it cannot be continued, nor taken as it is).
    enum class Continuation
    {
        Continues,
        AskedAgain,
        Other, // an answer in its own right
    };
    Continuation judgeContinuation(const QNetworkReply* reply);
    // The answer being streamed is the start of a body a later attempt may go on with.
    void noteResumable(const QNetworkReply* reply);
    // The header time-out, the stall watch and the wait for more of a body.
    void stopWatches();
    void stopRequest();
    void fail(End reason, int code, const QString& text);
    void finish(End reason);

    NetworkContext& m_network;
    const Route m_route;
    QTimer m_tick;
    QTimer m_headerTimer;
    QTimer m_batchTimer; // small pieces of a body wait here for more
    QElapsedTimer m_stallClock;
    int m_stallTimeoutMs = 120000;
    int m_headerTimeoutMs = -1;
    qint64 m_sizeLimit = 0;
    bool m_endOnBusy = false;
    std::function<QString(const QString&)> m_elsewhere;
    bool m_targetTaken = false;
    qint64 m_busyRetryAfterMs = -1;

    Phase m_phase = Phase::Idle;
    QUrl m_url;
    QByteArray m_referer;
    QPointer<QNetworkReply> m_reply;
    QList<QUrl> m_visited; // addresses of this request and its redirects
    bool m_answerTaken = false;
    // The connection broke while the answer in hand came (the reply may still end "without error").
    bool m_connectionBroke = false;
    QByteArray m_contentEncoding;
    std::unique_ptr<PartFile> m_part;
    QPointer<QFutureWatcherBase> m_diskWait; // of the body's bytes, while the phase is Syncing
    // The body is not the document its name was chosen for: it takes only a free target.
    bool m_onlyWhereFree = false;
    // What the part holds, when a later attempt may go on with it (see ResumePoint).
    bool m_resumable = false;
    QUrl m_resumeUrl;
    QByteArray m_validator;
    qint64 m_total = -1;
    qint64 m_rangeFrom = 0; // the request in flight asks for the part's rest from here
    bool m_resumed = false;
    bool m_refusedRest = false;
    QByteArray m_digest;
    QByteArray m_ownPlaceholder;
    bool m_moreQueued = false; // a queued onReadyRead or onFinished is pending
    qint64 m_received = 0;
    qint64 m_receivedAtLastLook = 0;
    Failure m_failure;
    // What the reasons are made of.
    int m_status = 0;
    qint64 m_announced = -1;
    RedirectFault m_redirectFault = RedirectFault::NotWeb;
    QUrl m_redirectTarget;
    QString m_fileError;
    LandingVerdict m_landing; // of the last page read
    QUrl m_followedTo;
};

} // namespace lintbay
