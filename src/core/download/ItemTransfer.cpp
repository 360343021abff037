#include "download/ItemTransfer.h"

#include "controls/NetworkContext.h"
#include "controls/PartFile.h"
#include "controls/TransferReason.h"
#include "controls/TransferSupport.h"
#include "download/DownloadListModel.h"
#include "download/FileActions.h"
#include "download/FileNaming.h"
#include "download/ListOperations.h"
#include "download/TypeDetection.h"
#include "util/PathHelpers.h"
#include "util/TextHelpers.h"

#include <QDir>
#include <QFileInfo>
#include <QNetworkReply>
#include <QTimer>
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

// Received is shown at most this often while the body streams (and always at the end).
constexpr int kShowIntervalMs = 200;

bool exceedsLimit(qint64 bytes, double limitMB)
{
    return double(bytes) / 1024 / 1024 > limitMB;
}

} // namespace

ItemTransfer::ItemTransfer(NetworkContext& network, DownloadListModel& list, int row,
                           const Settings& settings, QObject* parent)
    : QObject(parent), m_list(list), m_rowId(list.idOf(row)), m_settings(settings),
      m_fetch(network, Fetch::Route::Proxied)
{
    m_fetch.setHeaderTimeout(qMax(0, m_settings.headerTimeoutMs));
    m_fetch.setStallTimeout(m_settings.stallTimeoutMs);
    m_fetch.setTickInterval(m_settings.tickMs);
    // Every way a body is taken stops at the limit, the fetch taken whole as well.
    m_fetch.setSizeLimit(sizeLimitBytes(m_settings.maxFileSizeMB));
    m_fetch.setEndOnBusy(m_settings.deferBusyAnswers);
    connect(&m_fetch, &Fetch::connecting, this, [this] { setState(kStateConnecting); });
    connect(&m_fetch, &Fetch::requestSent, this, [this] {
        setState(kStateSending);
        setState(kStateSent);
    });
    connect(&m_fetch, &Fetch::answered, this, &ItemTransfer::judgeHeaders);
    connect(&m_fetch, &Fetch::bodyGrew, this, &ItemTransfer::onBodyGrew);
    connect(&m_fetch, &Fetch::stillGrowing, this, [this] { updateReceived(true); });
    connect(&m_fetch, &Fetch::ended, this, &ItemTransfer::onFetchEnded);
    connect(&m_fetch, &Fetch::askedAgain, this, [this] {
        m_phase = Phase::WaitingForHeaders;
        m_received = 0;
        if (!rowGone())
            m_list.setTransferColumns(this->row(), QString(), QString(), QString());
    });
    // A row removed from the list ends its transfer at once: nothing more is written for it.
    auto rowMayBeGone = [this] {
        if (m_started && m_phase != Phase::Ended && rowGone())
            end(Outcome::RowRemoved);
    };
    connect(&m_list, &QAbstractItemModel::rowsRemoved, this, rowMayBeGone);
    connect(&m_list, &QAbstractItemModel::modelReset, this, rowMayBeGone);
}

ItemTransfer::~ItemTransfer() = default;

int ItemTransfer::row() const
{
    return m_list.rowOfId(m_rowId);
}

bool ItemTransfer::isDone() const
{
    return endsDone(m_outcome);
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
    m_givenName = item.name;
    m_givenType = item.type;
    emit statusText(u"正在下载:"_s + item.name);
    setState(kStateResolving);
    const QString page = item.referer.trimmed().isEmpty() ? UrlSiteRoot(m_url) : item.referer.trimmed();
    // Encoded as an address, so that no text of the row can add header lines.
    if (!m_fetch.start(QUrl(m_url), QUrl(page).toEncoded())) {
        QTimer::singleShot(0, this, [this] {
            if (m_phase != Phase::Ended) {
                emitErrorState(QNetworkReply::ProtocolUnknownError, u"unsupported address"_s);
                end(Outcome::NoHeaders, reason::unsupportedAddress(m_url));
            }
        });
        return;
    }
    m_phase = Phase::WaitingForHeaders;
}

void ItemTransfer::resumeFrom(std::unique_ptr<ResumePoint> point)
{
    m_fetch.resumeFrom(std::move(point));
}

void ItemTransfer::judgeHeaders()
{
    if (rowGone()) {
        end(Outcome::RowRemoved);
        return;
    }
    const QNetworkReply* reply = m_fetch.answer();
    setState(kStateReceiving);
    if (headerBlock(reply).isEmpty()) {
        end(Outcome::NoHeaders, reason::emptyAnswer(0));
        return;
    }
    const int status = m_fetch.status();
    if (m_settings.deferBusyAnswers && (status == 429 || status == 503)) {
        m_retryAfterMs = lintbay::retryAfterMs(reply);
        end(Outcome::RetryLater, reason::retryLater(status));
        return;
    }
    if (m_fetch.refusedTheRest()) {
        end(Outcome::CutOff, reason::httpStatus(status));
        return;
    }
    // A continued body: the whole document's length, of which the part holds the start.
    m_size = qMax<qint64>(0, m_fetch.announced());
    if (exceedsLimit(m_size, m_settings.maxFileSizeMB)) {
        end(Outcome::TooLarge, reason::tooLarge(m_size, m_settings.maxFileSizeMB, true));
        return;
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

    // The status code decides, not the status line's words: HTTP/2 answers carry no reason phrase,
    // and a good answer without a length would otherwise be fetched a second time.
    const bool statusOk = status == 200 || m_fetch.isResumed();

    // Naming: the folder is made (a folder that cannot be made keeps its text, and writing fails
    // below rather than landing somewhere else), the type follows the answer. The document behind a
    // landing page is named from the row as it was given, not from the page.
    const int r = row();
    m_list.setName(r, SanitizeFileName(m_givenName));
    m_list.setType(r, extension.isEmpty() ? m_givenType : extension);
    const QString folder = m_list.at(r).folder;
    if (folder.isEmpty() || QDir::isRelativePath(folder)) {
        // Never the program's working folder, and nothing is made there first.
        end(Outcome::CannotWrite, reason::folderNotAbsolute(folder));
        return;
    }
    const QString created = CreateFolderPath(folder);
    m_list.setFolder(r, folderWithSeparator(created.isEmpty() ? folder : created));
    m_folderMissing = created.isEmpty();
    const DownloadItem item = m_list.at(r); // a copy: the name changes below
    const SavePathChoice choice = 重命名保存路径(item.folder, item.name, item.type, m_settings.policy, 1);
    m_list.setName(r, choice.name);
    m_savePath = choice.path;
    // Under 重命名 and 跳过 no file is replaced, not even one saved at the name while the body came:
    // the body then takes the next free name, or the row ends skipped.
    const QString policy = m_settings.policy.trimmed();
    if (policy == kPolicyRename) {
        m_fetch.setCommitBeside(
            [this, folder = item.folder, name = item.name, type = item.type](const QString&) {
                const SavePathChoice next = 重命名保存路径(folder, name, type, kPolicyRename, 1);
                m_savePath = next.path;
                if (!rowGone())
                    m_list.setName(row(), next.name);
                return next.path;
            });
    } else if (policy == kPolicySkip) {
        m_fetch.setCommitBeside([](const QString&) { return QString(); });
    }

    // The answer may have named another type than the row had when it was picked: under the skip
    // policy a file already at the path it makes is skipped as one found before the request would
    // have been, never written over.
    if (m_settings.policy.trimmed() == kPolicySkip && QFileInfo(m_savePath).isFile()) {
        end(Outcome::ExistsSkipped);
        return;
    }

    // What stands at the path is replaced only when the new file is complete; a folder (or anything
    // else that is not a file) cannot be.
    if (targetKind(m_savePath) == TargetKind::Irreplaceable) {
        end(Outcome::CannotReplace, reason::cannotReplace(m_savePath));
        return;
    }

    if (m_size == 0 && !statusOk) {
        startWholeFetch();
        return;
    }
    // A continued body counts what was there already.
    m_received = m_fetch.isResumed() ? m_fetch.received() : 0;
    m_list.setTransferColumns(r, m_size > 0 ? QString::number(m_size) : unknownSizeText(),
                              QString::number(m_received),
                              m_size > 0 && m_received > 0 ? percentText(m_received, m_size) : QString());
    if (!m_fetch.stream(m_savePath)) {
        endCannotWrite();
        return;
    }
    m_phase = Phase::Streaming;
}

void ItemTransfer::startWholeFetch()
{
    // The answer said neither how long it is nor that it is fine: fetched again and taken whole,
    // under the same stall watch as a streamed body.
    m_list.setSize(row(), unknownSizeText());
    m_phase = Phase::WholeFetch;
    m_received = 0;
    if (!m_fetch.fetchWhole(m_savePath))
        endCannotWrite();
}

void ItemTransfer::endCannotWrite()
{
    // A file the new one cannot be written beside (a read-only folder) cannot be replaced either:
    // told as such, with its length, and left as it is.
    if (!m_folderMissing && targetKind(m_savePath) == TargetKind::Replaceable)
        end(Outcome::CannotReplace, reason::cannotReplace(m_savePath));
    else
        end(m_phase == Phase::WholeFetch ? Outcome::WholeFetchFailed : Outcome::CannotWrite,
            cannotWriteReason());
}

QString ItemTransfer::cannotWriteReason() const
{
    if (m_folderMissing)
        return reason::folderNotCreated(m_list.at(row()).folder);
    return m_fetch.endReason(Fetch::End::WriteFailed);
}

void ItemTransfer::onBodyGrew(qint64 received)
{
    m_received = received;
    updateReceived(false);
}

void ItemTransfer::updateReceived(bool force)
{
    if (m_phase != Phase::Streaming || rowGone())
        return;
    if (!force && m_shownClock.isValid() && m_shownClock.elapsed() < kShowIntervalMs)
        return;
    // More than the document's length: a body about to be dropped, not progress.
    if (m_size > 0 && m_received > m_size)
        return;
    m_shownClock.start();
    const int r = row();
    m_list.setReceived(r, QString::number(m_received));
    if (m_size > 0)
        m_list.setProgress(r, percentText(m_received, m_size));
}

void ItemTransfer::onFetchEnded(Fetch::End reason)
{
    m_received = m_fetch.received();
    const bool whole = m_phase == Phase::WholeFetch;
    switch (reason) {
    case Fetch::End::Complete:
        setState(kStateReceived);
        end(whole ? Outcome::FetchedWhole : Outcome::Completed);
        return;
    case Fetch::End::WriteFailed:
        if (m_fetch.targetTaken() && targetKind(m_savePath) == TargetKind::Irreplaceable)
            end(Outcome::CannotReplace, reason::cannotReplace(m_savePath)); // a folder came there
        else if (m_fetch.targetTaken())
            end(Outcome::ExistsSkipped);
        else
            end(Outcome::CannotWrite, m_fetch.endReason(reason));
        return;
    case Fetch::End::NotReplaced:
        end(Outcome::CannotReplace, m_fetch.endReason(reason));
        return;
    case Fetch::End::Empty:
        end(Outcome::WholeFetchFailed, m_fetch.endReason(reason));
        return;
    case Fetch::End::TooLarge:
        end(Outcome::TooLarge, reason::tooLarge(m_received, m_settings.maxFileSizeMB, false));
        return;
    case Fetch::End::BadLength:
        emitErrorState(m_fetch.failure().code, m_fetch.failure().text);
        end(Outcome::CutOff, m_fetch.endReason(reason));
        return;
    case Fetch::End::Busy: // the answer of the body taken whole
        m_retryAfterMs = m_fetch.busyRetryAfterMs();
        end(Outcome::RetryLater, m_fetch.endReason(reason));
        return;
    case Fetch::End::Stalled:
    case Fetch::End::HeaderTimeout:
    case Fetch::End::NoAnswer:
    case Fetch::End::CutOff:
    case Fetch::End::RedirectRefused:
        break;
    }
    const Fetch::Failure failure = m_fetch.failure();
    emitErrorState(failure.code, failure.text);
    const QString why = m_fetch.endReason(reason);
    // A landing page's document may fail before its answer came, whatever became of the page.
    const bool documentUnanswered = !m_fetch.followedTo().isEmpty() && m_fetch.status() == 0;
    if (reason == Fetch::End::Stalled)
        end(Outcome::Stalled, why);
    else if (documentUnanswered)
        end(Outcome::NoHeaders, why);
    else if (whole)
        end(Outcome::WholeFetchFailed, why);
    else
        end(m_phase == Phase::Streaming ? Outcome::CutOff : Outcome::NoHeaders, why);
}

void ItemTransfer::cancel()
{
    if (m_phase == Phase::Ended)
        return;
    if (!m_started) {
        m_started = true;
        m_phase = Phase::WaitingForHeaders;
    }
    end(Outcome::Cancelled, reason::cancelled());
}

void ItemTransfer::end(Outcome outcome, const QString& why)
{
    if (m_phase == Phase::Ended)
        return;
    m_phase = Phase::Ended;
    m_outcome = outcome;
    m_digest = m_fetch.digest();
    m_contentEncoding = m_fetch.contentEncoding();
    // A committed file is in place already. A body that did not end well is kept when a later attempt
    // can go on with it (not one the row is done with, nor one of a row that is gone); anything else
    // written goes, under any name.
    const bool mayResume = !endsDone(outcome) && outcome != Outcome::RowRemoved && !rowGone();
    if (mayResume)
        m_kept = m_fetch.suspend();
    m_fetch.abandon();

    if (rowGone()) {
        m_outcome = Outcome::RowRemoved;
        emit finished(false);
        return;
    }
    const int r = row();
    // A row put back to wait is asked for as it was given, however an answer before the busy one
    // (of a body then asked for whole) had it named.
    if (outcome == Outcome::RetryLater && !m_givenName.isNull()) {
        m_list.setName(r, m_givenName);
        m_list.setType(r, m_givenType);
    }
    writeOutcome(m_list, r, outcome, {m_size, m_received, m_savePath});
    m_list.setReason(r, why);
    if (outcome == Outcome::Completed || outcome == Outcome::FetchedWhole) {
        setState(kStateCompleted);
        // The file's content decides its type, as after every transfer.
        CorrectOneRow(m_list, r);
        m_savePath = m_list.at(r).filePath();
        if (isPageOrXmlType(m_list.at(r).type))
            m_list.setReason(r, m_fetch.pageReason());
        else if (!m_contentEncoding.isEmpty())
            m_list.setReason(r, reason::compressedBody(m_contentEncoding));
    }
    emit statusText(u"完成下载:"_s + m_list.at(r).name);
    emit finished(isDone());
}

} // namespace lintbay
