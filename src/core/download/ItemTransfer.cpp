#include "download/ItemTransfer.h"

#include "controls/NetworkContext.h"
#include "controls/PartFile.h"
#include "controls/TransferSupport.h"
#include "download/DownloadListModel.h"
#include "download/FileActions.h"
#include "download/FileNaming.h"
#include "download/TypeDetection.h"
#include "util/PathHelpers.h"
#include "util/TextHelpers.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

// Panel 3 texts of the states the network layer lets us observe.
const QString kStateResolving = u"1 正在查询所指定的主机的 IP 地址..."_s;
const QString kStateConnecting = u"3 正在与主机连接..."_s;
const QString kStateSending = u"5 正在向主机发送请求..."_s;
const QString kStateSent = u"6 发送请求已成功。"_s;
const QString kStateReceiving = u"7 正在接收主机的响应..."_s;
const QString kStateReceived = u"8 已成功地接收到主机的响应。"_s;
const QString kStateCompleted = u"12 该请求已经完成，并且所有数据均已接收到。"_s;
const QString kStateErrorPrefix = u"11 与主机通讯时出现了错误:"_s;

const QString kUnknownSize = u"未知"_s;
const QString kTooLarge = u"大文件，跳过"_s;
const QString kCannotReplace = u"无法替换"_s;
const QString kDownloadFailed = u"下载失败"_s;
const QString kDownloadCancelled = u"下载取消"_s;
const QString kFull = u"100%"_s;

// Received is shown at most this often while the body streams (and always at the end).
constexpr int kShowIntervalMs = 200;

QString percent(qint64 received, qint64 size)
{
    return QString::number(received * 100 / size) + u'%';
}

bool exceedsLimit(qint64 bytes, double limitMB)
{
    return double(bytes) / 1024 / 1024 > limitMB;
}

} // namespace

ItemTransfer::ItemTransfer(NetworkContext& network, DownloadListModel& list, int row,
                           const Settings& settings, QObject* parent)
    : QObject(parent), m_network(network), m_list(list), m_rowId(list.idOf(row)), m_settings(settings)
{
    m_headerTimer.setSingleShot(true);
    connect(&m_headerTimer, &QTimer::timeout, this, &ItemTransfer::onHeaderTimeout);
    m_tick.setInterval(qMax(1, m_settings.tickMs));
    connect(&m_tick, &QTimer::timeout, this, &ItemTransfer::onTick);
    // A row removed from the list ends its transfer at once: nothing more is written for it.
    auto rowMayBeGone = [this] {
        if (m_started && m_phase != Phase::Ended && rowGone())
            end(Outcome::RowRemoved);
    };
    connect(&m_list, &QAbstractItemModel::rowsRemoved, this, rowMayBeGone);
    connect(&m_list, &QAbstractItemModel::modelReset, this, rowMayBeGone);
}

ItemTransfer::~ItemTransfer()
{
    m_headerTimer.stop();
    m_tick.stop();
    dropReply();
    m_part.reset();
}

int ItemTransfer::row() const
{
    return m_list.rowOfId(m_rowId);
}

bool ItemTransfer::isDone() const
{
    return m_outcome == Outcome::Completed || m_outcome == Outcome::TooLarge ||
           m_outcome == Outcome::FetchedWhole;
}

void ItemTransfer::setState(const QString& text)
{
    if (text == m_lastState)
        return;
    m_lastState = text;
    emit stateText(text);
}

void ItemTransfer::emitErrorState(int code, const QString& text)
{
    setState(kStateErrorPrefix + QString::number(code) + u':' + text);
}

void ItemTransfer::start()
{
    if (m_started)
        return;
    m_started = true;
    if (rowGone()) {
        QTimer::singleShot(0, this, [this] { end(Outcome::RowRemoved); });
        return;
    }
    const DownloadItem& item = m_list.at(row());
    m_url = NormalizeDownloadUrl(选择url(item.key));
    emit statusText(u"正在下载:"_s + item.name);
    setState(kStateResolving);
    if (!isFetchableUrl(QUrl(m_url))) {
        QTimer::singleShot(0, this, [this] {
            if (m_phase != Phase::Ended) {
                emitErrorState(QNetworkReply::ProtocolUnknownError, u"unsupported address"_s);
                end(Outcome::NoHeaders);
            }
        });
        return;
    }
    sendRequest(true);
    m_headerTimer.start(qMax(0, m_settings.headerTimeoutMs));
}

void ItemTransfer::sendRequest(bool withReferer)
{
    QByteArray referer;
    if (withReferer) {
        const DownloadItem& item = m_list.at(row());
        const QString page = item.referer.trimmed().isEmpty() ? UrlSiteRoot(m_url) : item.referer.trimmed();
        // Encoded as an address, so that no text of the row can add header lines.
        referer = QUrl(page).toEncoded();
    }
    const QUrl url(m_url);
    m_visited = {url};
    QNetworkRequest request = m_network.makeRequest(url, referer);
    prepareFileRequest(request);
    m_phase = withReferer ? Phase::WaitingForHeaders : Phase::WholeFetch;
    send(request);
}

void ItemTransfer::send(const QNetworkRequest& request)
{
    // The address's own port is used as given: "https://host:8443/" connects to 8443.
    QNetworkReply* reply = m_network.proxiedManager()->get(request);
    limitReplyBuffer(reply);
    m_reply = reply;
    m_answerTaken = false;
    connect(reply, &QNetworkReply::socketStartedConnecting, this, [this] { setState(kStateConnecting); });
    connect(reply, &QNetworkReply::requestSent, this, [this] {
        setState(kStateSending);
        setState(kStateSent);
    });
    connect(reply, &QNetworkReply::metaDataChanged, this, &ItemTransfer::onMetaData);
    connect(reply, &QIODevice::readyRead, this, &ItemTransfer::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &ItemTransfer::onFinished);
}

void ItemTransfer::onMetaData()
{
    if (m_reply)
        takeAnswer();
}

bool ItemTransfer::takeAnswer()
{
    if (m_answerTaken)
        return true;
    m_answerTaken = true;
    const NetworkContext::Redirect redirect = m_network.nextRedirect(m_reply, m_visited);
    if (redirect.action == NetworkContext::Redirect::Follow) {
        dropReply();
        send(redirect.request);
        return false;
    }
    if (redirect.action == NetworkContext::Redirect::Refuse) {
        emitErrorState(QNetworkReply::TooManyRedirectsError, u"redirect refused"_s);
        end(m_phase == Phase::WholeFetch ? Outcome::WholeFetchFailed : Outcome::NoHeaders);
        return false;
    }
    if (m_phase == Phase::WaitingForHeaders)
        return judgeHeaders();
    return true;
}

bool ItemTransfer::judgeHeaders()
{
    m_headerTimer.stop();
    if (rowGone()) {
        end(Outcome::RowRemoved);
        return false;
    }
    QNetworkReply* reply = m_reply;
    setState(kStateReceiving);
    if (headerBlock(reply).isEmpty()) {
        end(Outcome::NoHeaders);
        return false;
    }
    m_size = qMax<qint64>(0, announcedLength(reply));
    if (exceedsLimit(m_size, m_settings.maxFileSizeMB)) {
        end(Outcome::TooLarge);
        return false;
    }

    // The type the answer announces: the MIME type, then the Content-Disposition name's extension,
    // then "htm" for any text with a charset.
    const QStringList contentType = headerValueText(reply->rawHeader("Content-Type")).trimmed().split(u';');
    const QString mime = contentType.value(0).trimmed();
    QString charset;
    if (contentType.size() > 1) {
        const QString parameter = contentType.at(1).trimmed();
        if (parameter.startsWith(u"charset="_s, Qt::CaseInsensitive))
            charset = parameter.mid(8);
    }
    QString extension = MimeToExtension(mime);
    const QString dispositionExtension = 从下载头信息ContentDisposition获取文件名(
        从网络文件Header获取ContentDisposition(reply->rawHeaderPairs()));
    if (extension.isEmpty() && !dispositionExtension.isEmpty())
        extension = dispositionExtension;
    if (extension.isEmpty() && !charset.isEmpty())
        extension = u"htm"_s;

    const QString status = statusLine(reply);
    const bool statusOk = status.contains(u"200"_s) && status.contains(u"ok"_s, Qt::CaseInsensitive);

    // Naming: the folder is made (a folder that cannot be made keeps its text, and writing fails
    // below rather than landing somewhere else), the type follows the answer.
    const int r = row();
    m_list.setName(r, SanitizeFileName(m_list.at(r).name));
    const QString folder = m_list.at(r).folder;
    const QString created = CreateFolderPath(folder);
    m_list.setFolder(r, folderWithSeparator(created.isEmpty() ? folder : created));
    if (!extension.isEmpty())
        m_list.setType(r, extension);
    const DownloadItem& item = m_list.at(r);
    if (item.folder.isEmpty() || QDir::isRelativePath(item.folder)) {
        // Never the program's working folder.
        end(Outcome::CannotWrite);
        return false;
    }
    const SavePathChoice choice = 重命名保存路径(item.folder, item.name, item.type, m_settings.policy, 1);
    m_list.setName(r, choice.name);
    m_savePath = choice.path;

    // What stands at the path is replaced only when the new file is complete; a folder (or anything
    // else that is not a file) cannot be.
    if (targetKind(m_savePath) == TargetKind::Irreplaceable) {
        end(Outcome::CannotReplace);
        return false;
    }

    if (m_size == 0 && !statusOk) {
        startWholeFetch();
        return false;
    }
    m_list.setTransferColumns(r, m_size > 0 ? QString::number(m_size) : kUnknownSize, u"0"_s, QString());
    m_part = std::make_unique<PartFile>(m_savePath);
    if (!m_part->open()) {
        end(Outcome::CannotWrite);
        return false;
    }
    m_phase = Phase::Streaming;
    m_received = 0;
    m_receivedAtLastChange = 0;
    m_stallClock.start();
    m_tick.start();
    return true;
}

void ItemTransfer::startWholeFetch()
{
    // The answer said neither how long it is nor that it is fine: fetched again without a Referer and
    // taken whole, under the same stall watch as a streamed body.
    dropReply();
    m_list.setSize(row(), kUnknownSize);
    m_part = std::make_unique<PartFile>(m_savePath);
    if (!m_part->open()) {
        end(Outcome::WholeFetchFailed);
        return;
    }
    m_received = 0;
    m_receivedAtLastChange = 0;
    m_stallClock.start();
    m_tick.start();
    sendRequest(false);
}

void ItemTransfer::onReadyRead()
{
    if (!m_reply || !takeAnswer())
        return;
    if (m_phase != Phase::Streaming && m_phase != Phase::WholeFetch)
        return;
    if (!m_part->drain(m_reply)) {
        end(Outcome::CannotWrite);
        return;
    }
    m_received = m_part->size();
    if (m_phase == Phase::Streaming && m_size == 0 && exceedsLimit(m_received, m_settings.maxFileSizeMB)) {
        end(Outcome::TooLarge);
        return;
    }
    updateReceived(false);
}

void ItemTransfer::updateReceived(bool force)
{
    if (m_phase != Phase::Streaming || rowGone())
        return;
    if (!force && m_shownClock.isValid() && m_shownClock.elapsed() < kShowIntervalMs)
        return;
    m_shownClock.start();
    const int r = row();
    m_list.setReceived(r, QString::number(m_received));
    if (m_size > 0)
        m_list.setProgress(r, percent(m_received, m_size));
}

void ItemTransfer::onFinished()
{
    QNetworkReply* reply = m_reply;
    if (!reply)
        return;
    if (!m_answerTaken) {
        // Nothing came back at all (refused, reset, not resolvable): there are no headers to judge.
        if (m_phase == Phase::WaitingForHeaders &&
            !reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) {
            emitErrorState(reply->error(), reply->errorString());
            end(Outcome::NoHeaders);
            return;
        }
        if (!takeAnswer())
            return;
    }
    if (m_phase == Phase::Streaming)
        finishStreaming(reply);
    else if (m_phase == Phase::WholeFetch)
        finishWholeFetch(reply);
}

void ItemTransfer::finishStreaming(QNetworkReply* reply)
{
    if (reply->bytesAvailable() > 0 && !m_part->drain(reply)) {
        end(Outcome::CannotWrite);
        return;
    }
    m_received = m_part->size();
    if (m_size == 0 && exceedsLimit(m_received, m_settings.maxFileSizeMB)) {
        end(Outcome::TooLarge);
        return;
    }
    // With a length the body is complete when it is all there; without one, when the server ended
    // it properly (a chunked body cut off is not complete).
    const bool complete = m_size > 0 ? m_received >= m_size : bodyEndedNormally(reply);
    if (!complete) {
        emitErrorState(reply->error(), reply->errorString());
        end(Outcome::CutOff);
        return;
    }
    setState(kStateReceived);
    if (!m_part->commit()) {
        end(Outcome::CannotWrite);
        return;
    }
    end(Outcome::Completed);
}

void ItemTransfer::finishWholeFetch(QNetworkReply* reply)
{
    if (reply->bytesAvailable() > 0 && !m_part->drain(reply)) {
        end(Outcome::WholeFetchFailed);
        return;
    }
    m_received = m_part->size();
    // A single byte counts as nothing.
    if (!bodyEndedNormally(reply) || m_received < 2) {
        if (!bodyEndedNormally(reply))
            emitErrorState(reply->error(), reply->errorString());
        end(Outcome::WholeFetchFailed);
        return;
    }
    setState(kStateReceived);
    if (!m_part->commit()) {
        end(Outcome::WholeFetchFailed);
        return;
    }
    end(Outcome::FetchedWhole);
}

void ItemTransfer::onHeaderTimeout()
{
    if (m_phase != Phase::WaitingForHeaders)
        return;
    emitErrorState(QNetworkReply::TimeoutError, u"no response"_s);
    end(Outcome::NoHeaders);
}

void ItemTransfer::onTick()
{
    if (m_phase != Phase::Streaming && m_phase != Phase::WholeFetch)
        return;
    if (m_received != m_receivedAtLastChange) {
        m_receivedAtLastChange = m_received;
        m_stallClock.restart();
        updateReceived(true);
        return;
    }
    if (m_stallClock.elapsed() > m_settings.stallTimeoutMs) {
        emitErrorState(QNetworkReply::TimeoutError, u"no data"_s);
        end(Outcome::Stalled);
    }
}

void ItemTransfer::cancel()
{
    if (m_phase == Phase::Ended)
        return;
    if (!m_started) {
        m_started = true;
        m_phase = Phase::WaitingForHeaders;
    }
    end(Outcome::Cancelled);
}

void ItemTransfer::dropReply()
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

void ItemTransfer::end(Outcome outcome)
{
    if (m_phase == Phase::Ended)
        return;
    m_phase = Phase::Ended;
    m_outcome = outcome;
    m_headerTimer.stop();
    m_tick.stop();
    dropReply();
    // A committed file is in place already; anything else written goes, under any name.
    m_part.reset();

    if (rowGone()) {
        m_outcome = Outcome::RowRemoved;
        emit finished(false);
        return;
    }
    const int r = row();
    switch (outcome) {
    case Outcome::Completed:
        m_list.setTransferColumns(r, QString::number(m_size > 0 ? m_size : m_received),
                                  QString::number(m_received), kFull);
        m_list.setState(r, DownloadItemState::Done);
        break;
    case Outcome::FetchedWhole:
        // The real count; the file's length is what is on disk.
        m_list.setTransferColumns(r, QString::number(QFileInfo(m_savePath).size()),
                                  QString::number(m_received), kFull);
        m_list.setState(r, DownloadItemState::Done);
        break;
    case Outcome::TooLarge:
        m_list.setProgress(r, kTooLarge);
        m_list.setState(r, DownloadItemState::Done);
        break;
    case Outcome::CannotReplace: {
        const QString length = QString::number(QFileInfo(m_savePath).size());
        m_list.setTransferColumns(r, length, length, kCannotReplace);
        m_list.setState(r, DownloadItemState::Failed);
        break;
    }
    case Outcome::CannotWrite:
    case Outcome::Stalled:
    case Outcome::CutOff:
        m_list.setSize(r, kDownloadFailed);
        m_list.setState(r, DownloadItemState::Failed);
        break;
    case Outcome::Cancelled:
        m_list.setSize(r, kDownloadCancelled);
        m_list.setState(r, DownloadItemState::Failed);
        break;
    case Outcome::WholeFetchFailed:
        m_list.setTransferColumns(r, QString(), QString(), QString());
        m_list.setState(r, DownloadItemState::Failed);
        break;
    case Outcome::NoHeaders:
    case Outcome::RowRemoved:
    case Outcome::Running:
        m_list.setState(r, DownloadItemState::Failed);
        break;
    }
    if (outcome == Outcome::Completed || outcome == Outcome::FetchedWhole) {
        setState(kStateCompleted);
        // The file's content decides its type, as after every transfer.
        CorrectOneRow(m_list, r);
        m_savePath = m_list.at(r).filePath();
    }
    emit statusText(u"完成下载:"_s + m_list.at(r).name);
    emit finished(isDone());
}

} // namespace lintbay
