#include "controls/Fetch.h"

#include "controls/NetworkContext.h"
#include "controls/PartFile.h"
#include "controls/TransferReason.h"
#include "controls/TransferSupport.h"
#include "util/RunBeside.h"

#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QThreadPool>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

// The most of a body taken from a reply in one turn of the event loop.
constexpr qint64 kBodySlice = 1024 * 1024;
// Less than this waits up to kBatchWaitMs for more: over HTTP/2 every frame of a few kilobytes
// comes as a readyRead of its own, and taking each alone cost a write to disk and the progress
// signals per frame (a hundred thousand for six 128 MB files). Below the reply's read buffer, so
// that an HTTP/1.1 connection never waits for the window.
constexpr qint64 kBodyBatch = 256 * 1024;
constexpr int kBatchWaitMs = 20;

// "bytes first-last/total"; total -1 for "*".
struct ContentRange
{
    bool valid = false;
    qint64 first = -1;
    qint64 last = -1;
    qint64 total = -1;
};

ContentRange parseContentRange(const QByteArray& value)
{
    ContentRange range;
    const QByteArray text = value.trimmed();
    if (!text.startsWith("bytes "))
        return range;
    const QByteArray span = text.mid(6).trimmed();
    const qsizetype slash = span.indexOf('/');
    const qsizetype dash = span.indexOf('-');
    if (slash < 0 || dash < 0 || dash > slash)
        return range;
    bool firstOk = false;
    bool lastOk = false;
    range.first = span.left(dash).trimmed().toLongLong(&firstOk);
    range.last = span.mid(dash + 1, slash - dash - 1).trimmed().toLongLong(&lastOk);
    const QByteArray total = span.mid(slash + 1).trimmed();
    bool totalOk = total == "*";
    if (!totalOk)
        range.total = total.toLongLong(&totalOk);
    range.valid = firstOk && lastOk && totalOk && range.first >= 0 && range.last >= range.first &&
                  (range.total < 0 || range.last < range.total);
    return range;
}

Q_GLOBAL_STATIC(QThreadPool, diskWaits)

} // namespace

ResumePoint::ResumePoint() = default;
ResumePoint::~ResumePoint() = default;
ResumePoint::ResumePoint(ResumePoint&&) = default;

qint64 ResumePoint::size() const
{
    return part ? part->size() : 0;
}

QString ResumePoint::partPath() const
{
    return part ? part->partPath() : QString();
}

ResumeNote ResumePoint::note() const
{
    return {partPath(), url, validator, total};
}

std::unique_ptr<ResumePoint> ResumePoint::adopt(const ResumeNote& note)
{
    auto part = std::make_unique<PartFile>(QString());
    if (note.isNull() || !isFetchableUrl(note.url) || !part->adopt(note.partPath))
        return nullptr;
    auto point = std::make_unique<ResumePoint>();
    point->part = std::move(part);
    point->url = note.url;
    point->validator = note.validator;
    point->total = note.total;
    return point;
}

Fetch::Fetch(NetworkContext& network, Route route, QObject* parent)
    : QObject(parent), m_network(network), m_route(route)
{
    m_tick.setInterval(kDefaultTickMs);
    connect(&m_tick, &QTimer::timeout, this, &Fetch::onTick);
    m_headerTimer.setSingleShot(true);
    connect(&m_headerTimer, &QTimer::timeout, this, &Fetch::onHeaderTimeout);
    m_batchTimer.setSingleShot(true);
    m_batchTimer.setInterval(kBatchWaitMs);
    connect(&m_batchTimer, &QTimer::timeout, this, &Fetch::onBatchDue);
}

Fetch::~Fetch()
{
    abandon();
}

QThreadPool* Fetch::diskPool()
{
    return diskWaits();
}

void Fetch::setTickInterval(int ms)
{
    m_tick.setInterval(qMax(1, ms));
}

const QNetworkReply* Fetch::answer() const
{
    return m_answerTaken ? m_reply.data() : nullptr;
}

bool Fetch::openPart(const QString& path)
{
    m_part = std::make_unique<PartFile>(path);
    if (m_part->open()) {
        // There is a file on disk now that a crash could leave behind.
        emit resumeNoteChanged();
        return true;
    }
    m_fileError = m_part->errorString();
    m_part.reset();
    return false;
}

bool Fetch::partFor(const QString& path)
{
    if (m_part && m_part->isOpen()) {
        if (!path.isEmpty())
            m_part->setFinalPath(path);
        return true;
    }
    return !path.isEmpty() && openPart(path);
}

bool Fetch::setTarget(const QString& path)
{
    return partFor(path);
}

void Fetch::resumeFrom(std::unique_ptr<ResumePoint> point)
{
    if (!point || !point->part || point->size() <= 0 || !point->part->reopen())
        return;
    m_part = std::move(point->part);
    m_resumable = true;
    m_resumeUrl = point->url;
    m_validator = point->validator;
    m_total = point->total;
}

bool Fetch::start(const QUrl& url, const QByteArray& referer)
{
    stopRequest();
    if (!isFetchableUrl(url))
        return false;
    m_url = url;
    m_referer = referer;
    m_landing = {};
    m_followedTo.clear();
    m_resumed = false;
    m_digest.clear();
    // A part left by another address is of another document; the file may still take this one.
    if (m_resumable && m_resumeUrl != url) {
        m_resumable = false;
        m_part->truncate();
    }
    m_rangeFrom = m_resumable && m_part ? m_part->size() : 0;
    begin();
    return true;
}

void Fetch::begin()
{
    m_received = 0;
    m_status = 0;
    m_refusedRest = false;
    m_announced = -1;
    m_contentEncoding.clear();
    m_failure = {};
    m_targetTaken = false;
    m_stallClock.invalidate();
    m_phase = Phase::Waiting;
    send(m_referer);
    // The header time-out, when there is one, is the only watch until the answer is in.
    if (m_headerTimeoutMs >= 0)
        m_headerTimer.start(m_headerTimeoutMs);
    else
        beginWatch();
}

void Fetch::send(const QByteArray& referer)
{
    m_visited = {m_url};
    QNetworkRequest request = m_network.makeRequest(m_url, referer);
    prepareFileRequest(request);
    if (m_rangeFrom > 0) {
        request.setRawHeader("Range", "bytes=" + QByteArray::number(m_rangeFrom) + '-');
        // The rest only if the document is still the one the part began; else the whole of it.
        if (!m_validator.isEmpty())
            request.setRawHeader("If-Range", m_validator);
    }
    sendRequest(request);
}

void Fetch::sendRequest(const QNetworkRequest& request)
{
    // The address's own port is used as given: "https://host:8443/" connects to 8443.
    QNetworkAccessManager* manager =
        m_route == Route::Proxied ? m_network.proxiedManager() : m_network.manager();
    QNetworkReply* reply = manager->get(request);
    limitReplyBuffer(reply);
    m_reply = reply;
    m_answerTaken = false;
    m_connectionBroke = false;
    connect(reply, &QNetworkReply::socketStartedConnecting, this, &Fetch::connecting);
    connect(reply, &QNetworkReply::requestSent, this, &Fetch::requestSent);
    connect(reply, &QNetworkReply::metaDataChanged, this, &Fetch::onMetaData);
    connect(reply, &QIODevice::readyRead, this, &Fetch::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &Fetch::onFinished);
    connect(reply, &QNetworkReply::errorOccurred, this,
            [this](QNetworkReply::NetworkError code) { onError(code); });
}

void Fetch::onError(int code)
{
    // Remembered apart from the reply's own end. Qt 6.4's HTTP/1 layer can finish a reply whose
    // connection the server closed or reset in the middle of a chunked body as if the body had ended
    // (it takes a closed socket in the reading state for the end of a body without a length, chunked
    // or not); in a bare loop of requests that happens in about 1 of 20 cut bodies on a fresh
    // connection manager and 1 of 4 on a reused one. Where it reports the break at all, be it before
    // the end, the body is not complete.
    if (code != QNetworkReply::OperationCanceledError && !isHttpStatusError(m_reply, code))
        m_connectionBroke = true;
}

bool Fetch::stream(const QString& path)
{
    if (m_phase != Phase::Waiting || !m_answerTaken || !partFor(path))
        return false;
    if (!m_resumed) {
        // A body of its own: what an earlier attempt left goes.
        if (m_part->size() > 0 && !m_part->truncate()) {
            m_fileError = m_part->errorString();
            return false;
        }
        noteResumable(m_reply);
    }
    m_phase = Phase::Streaming;
    emit resumeNoteChanged();
    return true;
}

ResumeNote Fetch::resumeNote() const
{
    // Every part file is told, so that a start after a crash finds each one: a body a later attempt
    // could go on with with its address, any other (no answer yet, nothing to check it by) without,
    // which has it removed rather than continued.
    if (!m_part || m_part->partPath().isEmpty())
        return {};
    const bool continuable = m_resumable && (m_phase == Phase::Waiting || m_phase == Phase::Streaming ||
                                             m_phase == Phase::Syncing);
    if (!continuable)
        return {m_part->partPath(), QUrl(), {}, -1};
    return {m_part->partPath(), m_resumeUrl, m_validator, m_total};
}

void Fetch::noteResumable(const QNetworkReply* reply)
{
    // A weak ETag cannot tell that the bytes are the same.
    const QByteArray etag = reply->rawHeader("ETag").trimmed();
    m_validator = etag.startsWith('"') ? etag : reply->rawHeader("Last-Modified").trimmed();
    m_total = m_announced > 0 ? m_announced : -1;
    m_resumeUrl = m_url;
    m_resumable = m_status == 200 && m_followedTo.isEmpty() && (!m_validator.isEmpty() || m_total > 0);
}

Fetch::Continuation Fetch::judgeContinuation(const QNetworkReply* reply)
{
    const qint64 from = m_rangeFrom;
    m_rangeFrom = 0;
    if (m_status != 206 && m_status != 416) {
        m_refusedRest = m_status >= 500 || m_status == 429 || m_status == 408;
        return Continuation::Other;
    }
    const ContentRange range = parseContentRange(reply->rawHeader("Content-Range"));
    const auto unchanged = [&](const QByteArray& header) {
        const QByteArray now = reply->rawHeader(header).trimmed();
        return now.isEmpty() || now == m_validator;
    };
    const bool sameDocument = m_validator.isEmpty()
                                  ? m_total > 0 && range.total == m_total
                                  : unchanged(m_validator.startsWith('"') ? "ETag" : "Last-Modified") &&
                                        (m_total < 0 || range.total < 0 || range.total == m_total);
    // Without the whole's length in the answer, the rest reaches the end only if it ends where the
    // whole is known to end: a range of an unknown whole might stop anywhere short of it.
    const bool toTheEnd = range.valid && range.last + 1 == (range.total < 0 ? m_total : range.total);
    // The body's own length, when named, is the range's: any other is not the rest.
    const bool rangeLength = m_announced < 0 || (range.valid && m_announced - 1 == range.last - range.first);
    if (m_status == 206 && range.valid && range.first == from && toTheEnd && sameDocument && rangeLength) {
        m_resumed = true;
        m_received = m_part->size();
        if (range.total > 0)
            m_total = range.total;
        m_announced = m_total;
        return Continuation::Continues;
    }
    // Neither the rest nor a whole document: asked again for all of it.
    dropReply(m_reply, this);
    m_resumable = false;
    emit resumeNoteChanged();
    if (!m_part->truncate()) {
        m_fileError = m_part->errorString();
        finish(End::WriteFailed);
        return Continuation::AskedAgain;
    }
    begin();
    return Continuation::AskedAgain;
}

bool Fetch::fetchWhole(const QString& path)
{
    if (m_url.isEmpty())
        return false;
    stopRequest();
    // A body taken whole is not continued later: it was an answer that could not be judged.
    m_rangeFrom = 0;
    m_resumed = false;
    m_resumable = false;
    emit resumeNoteChanged();
    if (!partFor(path) || !m_part->truncate()) {
        abandon();
        return false;
    }
    m_phase = Phase::Whole;
    m_received = 0;
    m_receivedAtLastLook = 0;
    m_status = 0;
    m_announced = -1;
    m_contentEncoding.clear();
    m_failure = {};
    // The silence before this request counts: it follows the first one at once.
    if (!m_stallClock.isValid())
        m_stallClock.start();
    m_tick.start();
    send(m_referer);
    return true;
}

void Fetch::abandon()
{
    stopRequest();
    m_stallClock.invalidate();
    m_part.reset();
    m_resumable = false;
    m_rangeFrom = 0;
    m_phase = Phase::Idle;
}

std::unique_ptr<ResumePoint> Fetch::suspend()
{
    stopRequest();
    std::unique_ptr<ResumePoint> point;
    if (m_resumable && m_part && m_part->size() > 0 && m_part->suspend()) {
        point = std::make_unique<ResumePoint>();
        point->part = std::move(m_part);
        point->url = m_resumeUrl;
        point->validator = m_validator;
        point->total = m_total;
    }
    abandon();
    return point;
}

void Fetch::stopWatches()
{
    m_headerTimer.stop();
    m_batchTimer.stop();
    m_tick.stop();
}

void Fetch::stopRequest()
{
    stopWatches();
    dropReply(m_reply, this);
    // A wait for the disk still running ends without a word: the part it was for is the caller's now.
#ifdef Q_OS_WIN
    // There a file with a handle open cannot be removed, and the caller may be about to remove it.
    if (m_diskWait)
        m_diskWait->waitForFinished();
#endif
    delete m_diskWait;
}

void Fetch::beginWatch()
{
    m_receivedAtLastLook = m_received;
    m_stallClock.start();
    m_tick.start();
}

QString Fetch::currentHost() const
{
    return (m_visited.isEmpty() ? m_url : m_visited.last()).host().toLower();
}

void Fetch::onMetaData()
{
    if (m_reply)
        takeAnswer();
}

bool Fetch::takeAnswer()
{
    if (m_answerTaken)
        return true;
    m_answerTaken = true;
    QNetworkReply* reply = m_reply;
    const NetworkContext::Redirect redirect = m_network.nextRedirect(reply, m_visited);
    if (redirect.action == NetworkContext::Redirect::Follow) {
        // The watches run on: they cover the whole chain.
        dropReply(m_reply, this);
        sendRequest(redirect.request);
        return false;
    }
    if (redirect.action == NetworkContext::Redirect::Refuse) {
        m_redirectFault = redirect.fault;
        m_redirectTarget = redirect.target;
        fail(End::RedirectRefused, QNetworkReply::TooManyRedirectsError, u"redirect refused"_s);
        return false;
    }
    m_status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    m_announced = announcedLength(reply);
    m_contentEncoding = reply->rawHeader("Content-Encoding").trimmed().toLower();
    if (m_contentEncoding == "identity")
        m_contentEncoding.clear();
    // Two lengths that differ leave no way to tell where the document ends (RFC 9112, 6.3).
    if (lengthsConflict(reply)) {
        fail(End::BadLength, QNetworkReply::ProtocolFailure, u"conflicting Content-Length"_s);
        return false;
    }
    // A part of the document although none was asked for: from its start, with the whole's length
    // named, it is a body that ends short of the whole; any other part is nothing to write.
    if (m_status == 206 && m_rangeFrom == 0) {
        const ContentRange range = parseContentRange(reply->rawHeader("Content-Range"));
        if (!range.valid || range.first != 0 || range.total <= 0) {
            fail(End::BadLength, QNetworkReply::ProtocolFailure, u"a part that was not asked for"_s);
            return false;
        }
        m_announced = range.total;
    }
    if (m_phase == Phase::Whole && m_endOnBusy && (m_status == 429 || m_status == 503)) {
        m_busyRetryAfterMs = retryAfterMs(reply);
        finish(End::Busy);
        return false;
    }
    if (m_phase != Phase::Waiting)
        return true;
    if (m_rangeFrom > 0 && judgeContinuation(reply) == Continuation::AskedAgain)
        return false;

    m_headerTimer.stop();
    if (!m_tick.isActive())
        beginWatch();
    const QPointer<Fetch> self(this);
    emit answered();
    if (!self || m_reply != reply)
        return false;
    if (m_phase == Phase::Waiting) {
        // The owner took neither the body nor a second request.
        abandon();
        return false;
    }
    return true;
}

bool Fetch::takeBody(QNetworkReply* reply)
{
    // A slice at a time: a reply may hold tens of megabytes when the window was busy (HTTP/2 does
    // not keep to the read buffer's size), and writing and hashing them at once would hold it up.
    if (!m_part->drain(reply, kBodySlice)) {
        m_fileError = m_part->errorString();
        finish(End::WriteFailed);
        return false;
    }
    if (m_part->size() == m_received)
        return true;
    m_received = m_part->size();
    if (m_sizeLimit > 0 && m_received > m_sizeLimit) {
        finish(End::TooLarge);
        return false;
    }
    const QPointer<Fetch> self(this);
    emit bodyGrew(m_received);
    return self && m_reply == reply;
}

void Fetch::onReadyRead()
{
    m_moreQueued = false;
    readBody(false);
}

void Fetch::onBatchDue()
{
    readBody(true);
}

void Fetch::readBody(bool evenIfLittle)
{
    QNetworkReply* reply = m_reply;
    if (!reply || !takeAnswer())
        return;
    if (!evenIfLittle && reply->bytesAvailable() < kBodyBatch && !reply->isFinished()) {
        if (!m_batchTimer.isActive())
            m_batchTimer.start();
        return;
    }
    m_batchTimer.stop();
    if (takeBody(reply) && m_reply == reply && reply->bytesAvailable() > 0 && !reply->isFinished())
        queueMore(&Fetch::onReadyRead);
}

void Fetch::queueMore(void (Fetch::*step)())
{
    if (m_moreQueued)
        return;
    m_moreQueued = true;
    // For the reply of now only: by its turn the body may have been asked for again, and the new
    // reply, without its answer yet, would be taken as answered with nothing.
    QMetaObject::invokeMethod(
        this,
        [this, step, reply = QPointer<QNetworkReply>(m_reply)] {
            if (reply && reply == m_reply)
                (this->*step)();
            else
                m_moreQueued = false;
        },
        Qt::QueuedConnection);
}

void Fetch::onFinished()
{
    m_moreQueued = false;
    QNetworkReply* reply = m_reply;
    if (!reply || !reply->isFinished() || m_phase == Phase::Syncing)
        return;
    if (!m_answerTaken && !reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) {
        fail(End::NoAnswer, reply->error(), reply->errorString());
        return;
    }
    if (!takeAnswer() || !takeBody(reply))
        return;
    if (reply->bytesAvailable() > 0) {
        // The rest of the body after the window has had its turn.
        if (m_reply == reply)
            queueMore(&Fetch::onFinished);
        return;
    }
    // More than the answer named: the length or the body is wrong, and nothing tells which bytes are
    // the document's. A continuation that did so (the whole document behind the rest's range, say)
    // is asked for whole once more; a first answer fails, and its bytes are never continued.
    if (m_announced > 0 && m_received > m_announced) {
        const bool continued = m_resumed;
        stopRequest();
        m_resumable = false;
        m_resumed = false;
        emit resumeNoteChanged();
        if (!continued) {
            fail(End::BadLength, QNetworkReply::ProtocolFailure,
                 u"a body longer than its announced length"_s);
        } else if (!m_part->truncate()) {
            m_fileError = m_part->errorString();
            finish(End::WriteFailed);
        } else {
            begin();
            emit askedAgain();
        }
        return;
    }
    if (m_phase == Phase::Streaming) {
        // With a length the body is complete when it is all there; without one, when the server
        // ended it properly and the connection never broke on the way (a chunked body cut off is
        // not complete, whatever the reply's end says).
        const qint64 length = m_announced;
        if (length > 0 ? m_received < length : m_connectionBroke || !bodyEndedNormally(reply)) {
            fail(End::CutOff, reply->error(), reply->errorString());
            return;
        }
    } else {
        if (m_connectionBroke || !bodyEndedNormally(reply)) {
            fail(End::CutOff, reply->error(), reply->errorString());
            return;
        }
        // A part of a document taken whole is short of it.
        if (m_status == 206 && m_announced > 0 && m_received < m_announced) {
            fail(End::CutOff, QNetworkReply::RemoteHostClosedError, u"a part of the document"_s);
            return;
        }
    }
    // A single byte counts as nothing, streamed or taken whole: an empty answer never takes the
    // document's name (under "overwrite" it would replace the user's file with nothing).
    if (m_received < 2) {
        m_resumable = false; // nor is the byte kept for a later attempt to go on from
        emit resumeNoteChanged();
        finish(End::Empty);
        return;
    }
    // Without a length, the document's own end is the last word: the transport may take a
    // connection cut inside a chunked body for its end (seen with Qt 6.4 about once in twenty cuts).
    if (m_announced <= 0 && !documentLooksWhole(m_part->head(16), m_part->tail(kDocumentTailBytes))) {
        fail(End::CutOff, QNetworkReply::RemoteHostClosedError, u"document ends before its end mark"_s);
        return;
    }
    if (followLandingPage(reply))
        return;
    // An answer that is not the document the name was chosen for (an error page, or a web page where
    // a document was expected, as the engine's human check) is saved only where nothing stands: under
    // "overwrite" it would replace the user's document, and the type correction would then move it
    // away from the document's name.
    m_onlyWhereFree = !m_elsewhere && !isTheNamedDocument(reply);
    commitWhenOnDisk();
}

void Fetch::commitWhenOnDisk()
{
    // The wait grows with the file and the disk (a second and more for a large file on a slow one),
    // and six slots may finish one after the other: it is not the window's.
    const int handle = m_part->handleToSync();
    if (handle < 0) {
        m_fileError = m_part->errorString();
        finish(End::WriteFailed);
        return;
    }
    // The body is all there: no watch runs on while its bytes go out.
    stopWatches();
    m_phase = Phase::Syncing;
    m_diskWait = runBeside(
        this, diskPool(), [handle] { return PartFile::syncAndClose(handle); },
        [this](const QString& error) {
            m_diskWait = nullptr; // it goes by itself
            commitSynced(error);
        });
}

void Fetch::commitSynced(const QString& syncError)
{
    if (!syncError.isEmpty()) {
        m_fileError = syncError;
        finish(End::WriteFailed);
        return;
    }
    m_part->markSynced();
    if ((m_elsewhere || m_onlyWhereFree) && !m_ownPlaceholder.isEmpty())
        removeIfHolding(m_part->finalPath(), m_ownPlaceholder);
    const bool committed =
        m_elsewhere || m_onlyWhereFree ? m_part->commitBeside(m_elsewhere) : m_part->commit(m_ownPlaceholder);
    if (committed) {
        m_digest = m_part->digest();
        finish(End::Complete);
        return;
    }
    m_targetTaken = m_part->takenAtCommit();
    m_fileError = m_part->errorString();
    finish(m_onlyWhereFree && m_targetTaken ? End::NotReplaced : End::WriteFailed);
}

bool Fetch::isTheNamedDocument(const QNetworkReply* reply) const
{
    if (m_status < 200 || m_status > 299)
        return false;
    const QString type = QFileInfo(m_part->finalPath()).suffix().toLower();
    if (!documentExtensions().contains(type))
        return true;
    const QByteArray head = m_part->head(kPageStartBytes);
    if (startsLikeADocument(head))
        return true; // whatever its server called it
    // A page by its headers, or by its bytes where a download script sends its error page as a file;
    // an office program's own web page format counts as its document, sent as one.
    if (isPageContentType(reply->rawHeader("Content-Type")))
        return false;
    static const QStringList officeWebTypes{u"doc"_s, u"xls"_s, u"ppt"_s};
    return !startsAsWebPage(head) || (officeWebTypes.contains(type) && isOfficeWebDocument(head));
}

bool Fetch::followLandingPage(const QNetworkReply* reply)
{
    m_landing = {};
    const QByteArray contentType = reply->rawHeader("Content-Type");
    if (!isPageContentType(contentType) || m_received > kLandingPageLimit)
        return false;
    const QUrl page = reply->url().adjusted(QUrl::RemoveFragment);
    m_landing = judgeLandingPage(m_part->head(kLandingPageLimit), page, contentType);
    // Only a good answer leads on, and only once: the document's own page is what it is.
    const bool good = m_status >= 200 && m_status <= 299;
    if (m_landing.kind != LandingVerdict::Kind::Follow || !good || !m_followedTo.isEmpty())
        return false;
    stopRequest();
    m_resumable = false;
    m_resumed = false;
    // The page's note must not outlive it: a start after a crash would ask for the rest of the page
    // and put it behind the document's first bytes.
    emit resumeNoteChanged();
    if (!m_part->truncate()) {
        m_fileError = m_part->errorString();
        finish(End::WriteFailed);
        return true;
    }
    m_followedTo = m_landing.target;
    m_url = m_landing.target;
    m_referer = page.toEncoded(); // the request leaves out its user, password and fragment
    begin();
    return true;
}

QString Fetch::endReason(End end) const
{
    QString text;
    switch (end) {
    case End::Complete:
        return {};
    case End::CutOff:
        text = reason::cutOff(m_received, m_announced);
        break;
    case End::Empty:
        text = reason::emptyAnswer(m_status);
        break;
    case End::Stalled:
        text = reason::stalled(m_stallTimeoutMs, m_status == 0 ? -1 : m_received);
        break;
    case End::HeaderTimeout:
        text = reason::headerTimeout(m_headerTimeoutMs);
        break;
    case End::NoAnswer:
        text = reason::noAnswer(m_failure.code, m_failure.text);
        break;
    case End::RedirectRefused:
        text = reason::redirectRefused(m_redirectFault, m_redirectTarget);
        break;
    case End::WriteFailed:
        text = reason::writeFailed(m_fileError);
        break;
    case End::TooLarge:
        text = reason::tooLarge(m_received, double(m_sizeLimit) / 1024 / 1024, false);
        break;
    case End::BadLength:
        text = reason::conflictingLengths();
        break;
    case End::Busy:
        text = reason::retryLater(m_status);
        break;
    case End::NotReplaced:
        text = reason::notReplaced(pageReasonText(), m_part ? m_part->finalPath() : QString());
        break;
    }
    return m_followedTo.isEmpty() ? text : reason::afterLanding(m_followedTo, text);
}

QString Fetch::pageReason() const
{
    const QString text = pageReasonText();
    return m_followedTo.isEmpty() ? text : reason::afterLanding(m_followedTo, text);
}

QString Fetch::pageReasonText() const
{
    const bool plainPage =
        m_landing.kind == LandingVerdict::Kind::None || m_landing.kind == LandingVerdict::Kind::Follow;
    return plainPage ? reason::webPage(m_status, !m_followedTo.isEmpty()) : m_landing.reason;
}

void Fetch::onTick()
{
    if (m_phase == Phase::Idle)
        return;
    if (m_received != m_receivedAtLastLook) {
        m_receivedAtLastLook = m_received;
        m_stallClock.restart();
        emit stillGrowing(m_received);
        return;
    }
    if (m_stallClock.elapsed() >= m_stallTimeoutMs)
        fail(End::Stalled, QNetworkReply::TimeoutError, u"no data"_s);
}

void Fetch::onHeaderTimeout()
{
    if (m_phase == Phase::Waiting)
        fail(End::HeaderTimeout, QNetworkReply::TimeoutError, u"no response"_s);
}

void Fetch::fail(End reason, int code, const QString& text)
{
    m_failure = {code, text};
    finish(reason);
}

void Fetch::finish(End reason)
{
    stopRequest();
    m_phase = Phase::Idle;
    const QPointer<Fetch> self(this);
    emit ended(reason);
    // Unless the owner asked again, what was written goes (a committed file is in place already).
    if (self && m_phase == Phase::Idle)
        m_part.reset();
}

} // namespace lintbay
