#include "controls/Downloader.h"

#include "controls/NetworkContext.h"
#include "controls/PartFile.h"
#include "controls/TransferSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {
const QString kTimedOut = u"超时"_s;
const QString kCannotDownload = u"无法下载"_s;
const QByteArray kPlaceholder("\x01\x00", 2);
} // namespace

Downloader::Downloader(NetworkContext& network, QObject* parent) : QObject(parent), m_network(network)
{
    m_tick.setInterval(kDefaultTickMs);
    connect(&m_tick, &QTimer::timeout, this, &Downloader::onTick);
}

Downloader::~Downloader()
{
    abandon();
}

void Downloader::setTickInterval(int ms)
{
    m_tick.setInterval(qMax(1, ms));
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
    m_bytesAtLastChange = 0;
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

    m_stallClock.start();
    m_tick.start();

    if (!isFetchableUrl(QUrl(m_url)) || targetKind(saveFile) == TargetKind::Irreplaceable) {
        failLater(kCannotDownload);
        return;
    }
    m_part = std::make_unique<PartFile>(saveFile);
    if (!m_part->open()) {
        failLater(kCannotDownload);
        return;
    }
    startRequest(Phase::Reading);
}

bool Downloader::CancelAsyncRead()
{
    abandon();
    return false;
}

void Downloader::startRequest(Phase phase)
{
    m_phase = phase;
    const QUrl url(m_url);
    m_visited = {url};
    QNetworkRequest request = m_network.makeRequest(url);
    prepareFileRequest(request);
    sendRequest(request);
}

void Downloader::sendRequest(const QNetworkRequest& request)
{
    m_metaSeen = false;
    QNetworkReply* reply = m_network.manager()->get(request);
    m_reply = reply;
    limitReplyBuffer(reply);
    connect(reply, &QNetworkReply::metaDataChanged, this, &Downloader::onMetaData);
    connect(reply, &QIODevice::readyRead, this, &Downloader::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &Downloader::onFinished);
}

void Downloader::onMetaData()
{
    if (!m_reply || m_metaSeen)
        return;
    m_metaSeen = true;
    const NetworkContext::Redirect redirect = m_network.nextRedirect(m_reply, m_visited);
    if (redirect.action == NetworkContext::Redirect::Follow) {
        dropReply();
        sendRequest(redirect.request);
        return;
    }
    if (redirect.action == NetworkContext::Redirect::Refuse) {
        // As any read that brought nothing: the whole-body fetch tries once more (a redirect to the
        // same address may have set the cookie it wanted), and fails the same way if it must.
        if (m_phase == Phase::Reading)
            startFallback();
        else
            fail(kCannotDownload);
        return;
    }
    if (m_phase != Phase::Reading)
        return;
    const qint64 length = announcedLength(m_reply);
    if (length < 1) {
        // The first read could only end with a total of 0, which always means a second fetch taken
        // whole; fetching the body twice gains nothing.
        startFallback();
        return;
    }
    m_bytesTotal = length;
    reportProgress(true);
}

void Downloader::onReadyRead()
{
    if (!m_reply)
        return;
    if (!m_metaSeen) {
        const quint64 generation = m_generation;
        QPointer<Downloader> self(this);
        onMetaData();
        if (!self || generation != m_generation || !m_reply || !m_metaSeen)
            return;
    }
    if (!m_part->drain(m_reply)) {
        fail(kCannotDownload);
        return;
    }
    m_bytesRead = m_part->size();
    if (m_phase == Phase::Reading)
        reportProgress(false);
}

void Downloader::onFinished()
{
    if (!m_reply)
        return;
    QNetworkReply* reply = m_reply;
    if (!m_metaSeen) {
        const quint64 generation = m_generation;
        QPointer<Downloader> self(this);
        onMetaData();
        if (!self || generation != m_generation || m_reply != reply)
            return;
    }
    if (reply->bytesAvailable() > 0 && !m_part->drain(reply)) {
        fail(kCannotDownload);
        return;
    }
    m_bytesRead = m_part->size();

    if (m_phase == Phase::Reading) {
        if (m_bytesTotal < 1 || m_bytesRead < 1) {
            startFallback();
            return;
        }
        if (m_bytesRead != m_bytesTotal) {
            // Cut off before the announced end: a truncated document is no document.
            fail(kCannotDownload);
            return;
        }
        if (!m_part->commit()) {
            fail(kCannotDownload);
            return;
        }
        succeed(m_bytesRead, m_bytesTotal);
        return;
    }

    // The whole-body fetch: at least two bytes, and a body that ended as the server meant it to.
    if (!bodyEndedNormally(reply) || m_bytesRead < 2 || !m_part->commit()) {
        fail(kCannotDownload);
        return;
    }
    succeed(m_bytesRead, m_bytesRead);
}

void Downloader::startFallback()
{
    dropReply();
    if (!m_part->truncate()) {
        failLater(kCannotDownload);
        return;
    }
    m_bytesTotal = 0;
    m_bytesRead = 0;
    startRequest(Phase::Fallback);
}

void Downloader::onTick()
{
    if (!isRunning())
        return;
    if (m_bytesRead != m_bytesAtLastChange) {
        m_bytesAtLastChange = m_bytesRead;
        m_stallClock.restart();
        return;
    }
    if (m_stallClock.elapsed() >= m_stallTimeoutMs)
        fail(kTimedOut);
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

void Downloader::fail(const QString& message)
{
    abandon();
    const QString file = m_saveFile;
    emit DownloadError(message, file);
}

void Downloader::failLater(const QString& message)
{
    // Reported after BeginDownload has returned, so the owner never sees a signal from inside its call.
    const quint64 generation = m_generation;
    QTimer::singleShot(0, this, [this, generation, message] {
        if (generation == m_generation && isRunning())
            fail(message);
    });
}

void Downloader::abandon()
{
    dropReply();
    m_tick.stop();
    m_part.reset();
    removeOwnPlaceholder();
    m_phase = Phase::Idle;
}

void Downloader::dropReply()
{
    if (!m_reply)
        return;
    QNetworkReply* reply = m_reply;
    m_reply = nullptr;
    reply->disconnect(this);
    // The abort closes the connection; deleting the reply alone would leave it open. (On a reply that
    // carries an error status already the network layer warns that it sets a second error.)
    if (!reply->isFinished())
        reply->abort();
    reply->deleteLater();
}

void Downloader::removeOwnPlaceholder()
{
    if (!m_ownPlaceholder)
        return;
    m_ownPlaceholder = false;
    // Only the two bytes this object wrote; anything else standing there now is someone else's.
    QFile file(m_saveFile);
    const QFileInfo info(m_saveFile);
    if (info.isSymLink() || !info.isFile() || info.size() != kPlaceholder.size())
        return;
    if (!file.open(QIODevice::ReadOnly) || file.readAll() != kPlaceholder)
        return;
    file.close();
    file.remove();
}

} // namespace lintbay
