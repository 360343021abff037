#include "Scheduler.h"

#include "controls/Downloader.h"
#include "controls/NetworkContext.h"
#include "controls/TransferReason.h"
#include "download/DownloadCounters.h"
#include "download/DownloadListModel.h"
#include "download/FileActions.h"
#include "download/FileNaming.h"
#include "download/ItemTransfer.h"
#include "download/ListOperations.h"
#include "download/RowFiles.h"
#include "download/TransferOutcome.h"
#include "tools/UrlCache.h"
#include "util/ContentDigest.h"
#include "util/PathHelpers.h"
#include "util/RunBeside.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <optional>
#include <utility>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {
constexpr int kSoundWebPage = 101;
constexpr int kSoundAllDone = 102;
constexpr int kSoundFailed = 103;
constexpr qint64 kCacheFileLimit = 16 * 1024 * 1024;

bool isWebPage(const QString& type, bool withXml)
{
    const QString t = type.toLower();
    return t == u"htm"_s || t == u"html"_s || (withXml && t == u"xml"_s);
}
} // namespace

Scheduler::Scheduler(DownloadListModel& list, NetworkContext& network, RowFiles* files, QObject* parent)
    : QObject(parent), m_list(list), m_network(network), m_files(files ? files : new RowFiles(list, this))
{
    Timer_Down = new QTimer(this);
    Timer_Down->setObjectName(u"Timer_Down"_s);
    Timer_Down->setInterval(1000);
    Timer1 = new QTimer(this);
    Timer1->setObjectName(u"Timer1"_s);
    Timer1->setInterval(1000);
    // Comparing two large files takes a while: one at a time, and never in the way of the removals
    // and sorts on the global pool.
    m_comparePool.setMaxThreadCount(1);
    connect(Timer_Down, &QTimer::timeout, this, &Scheduler::timerDownTick);
    connect(Timer1, &QTimer::timeout, this, &Scheduler::timer1Tick);
    connect(&m_list, &QAbstractItemModel::rowsRemoved, this, &Scheduler::dropTransfersOfRemovedRows);
    connect(&m_list, &QAbstractItemModel::modelReset, this, &Scheduler::dropTransfersOfRemovedRows);
    m_sinceFinish.start();
}

Scheduler::~Scheduler()
{
    // A comparison still running ends at its next piece; the pool waits for no more than that.
    m_stopCompares->store(true);
    for (int s = 1; s <= kMaxSlots; ++s)
        unloadSlot(s);
    // The list's files may be gone already; the transfer's own body goes with it.
    if (m_single) {
        m_single->disconnect(this);
        m_single->cancel();
    }
}

int Scheduler::CountTransferSlots() const
{
    int loaded = 1; // the design-time element is always counted
    for (int s = 1; s <= kMaxSlots; ++s)
        if (m_slots[s])
            ++loaded;
    return loaded;
}

int Scheduler::slotCount() const
{
    return qBound(1, options.threadCount, kMaxSlots);
}

QList<quint64> Scheduler::runningRows() const
{
    QList<quint64> ids;
    for (int s = 1; s <= kMaxSlots; ++s)
        if (m_slots[s])
            ids.append(m_slotRowId[s]);
    if (m_single)
        ids.append(m_list.idOf(m_single->row()));
    return ids;
}

int Scheduler::slotRow(int slot) const
{
    if (slot < 1 || slot > kMaxSlots || !m_slots[slot])
        return -1;
    return m_list.rowOfId(m_slotRowId[slot]);
}

void Scheduler::dropTransfersOfRemovedRows()
{
    bool dropped = false;
    for (int s = 1; s <= kMaxSlots; ++s) {
        if (m_slots[s] && m_list.rowOfId(m_slotRowId[s]) < 0) {
            unloadSlot(s);
            dropped = true;
        }
    }
    m_retries.forgetIf([this](quint64 id) { return m_list.rowOfId(id) < 0; });
    for (auto it = m_answeredHosts.begin(); it != m_answeredHosts.end();)
        it = m_list.rowOfId(it.key()) < 0 ? m_answeredHosts.erase(it) : std::next(it);
    // The single transfer watches its own row.
    if (dropped) {
        m_sinceFinish.restart();
        transferEnded();
    }
}

void Scheduler::transferEnded()
{
    if (!m_single && CountTransferSlots() == 1)
        m_busy = false;
}

bool Scheduler::IsDownloadBusy() const
{
    return CountTransferSlots() > 1 || m_single != nullptr || Timer_Down->isActive();
}

bool Scheduler::IsDownloading() const
{
    return Timer_Down->isActive() || m_busy;
}

void Scheduler::setRunning(bool on)
{
    if (Timer_Down->isActive() == on)
        return;
    if (on)
        Timer_Down->start();
    else
        Timer_Down->stop();
    emit runningChanged(on);
}

void Scheduler::StartDownloads()
{
    setRunning(true);
}

void Scheduler::StopDownloads()
{
    emit automaticModesCleared();
    options.autoStart = false;
    options.autoRedownload = false;
    if (m_single)
        m_single->cancel();
    setRunning(false);
    m_busy = false;
    for (int s = 1; s <= kMaxSlots; ++s) {
        // What a stopped slot fetched so far stays for the row's next attempt.
        if (m_slots[s]) {
            m_slots[s]->pause();
            m_files->keepPart(m_slotRowId[s], m_slots[s]->takeResumePoint());
        }
        unloadSlot(s);
    }
    m_list.editRows([](int, DownloadItem& item) {
        if (item.state != DownloadItemState::Downloading)
            return false;
        item.state = DownloadItemState::Failed;
        item.reason = reason::cancelled();
        return true;
    });
    m_busy = false;
}

bool Scheduler::intervalPassed() const
{
    return m_sinceFinish.elapsed() >= qint64(options.intervalSeconds) * 1000;
}

QString Scheduler::hostOf(const QString& key)
{
    return QUrl(NormalizeDownloadUrl(选择url(key))).host().toLower();
}

QString Scheduler::rowHost(int row)
{
    const quint64 id = m_list.idOf(row);
    const QString& key = m_list.at(row).key;
    const auto answered = m_answeredHosts.constFind(id);
    if (answered != m_answeredHosts.cend() && answered->key == key)
        return answered->host;
    // The hosts of the addresses are kept, as the list is walked every tick; the ids of rows gone
    // are dropped all at once now and then.
    if (m_keyHosts.size() > 2 * m_list.count() + 64)
        m_keyHosts.clear();
    auto known = m_keyHosts.constFind(id);
    if (known == m_keyHosts.cend() || known->key != key)
        known = m_keyHosts.insert(id, {key, hostOf(key)});
    return known->host;
}

bool Scheduler::isBeingWritten(const DownloadItem& item) const
{
    const QString path = QDir::cleanPath(item.filePath());
    for (int s = 1; s <= kMaxSlots; ++s)
        if (m_slots[s] && QDir::cleanPath(m_slots[s]->saveFile()).compare(path, kPathCase) == 0)
            return true;
    return false;
}

QHash<QString, int> Scheduler::slotsPerHost() const
{
    QHash<QString, int> running;
    for (int s = 1; s <= kMaxSlots; ++s)
        if (m_slots[s])
            ++running[m_slots[s]->fetch().currentHost()];
    return running;
}

int Scheduler::pickRow(bool createFolders)
{
    const bool hostsWait = m_retries.anyHostWaits();
    const bool slotsPerHost = createFolders && options.perHostLimit > 0;
    // The slots' hosts, counted once for the walk (no slot starts during it).
    const QHash<QString, int> running = slotsPerHost ? this->slotsPerHost() : QHash<QString, int>();
    for (int row = 0; row < m_list.count(); ++row) {
        if (m_list.at(row).state != DownloadItemState::Waiting)
            continue;
        const QString host = hostsWait || slotsPerHost ? rowHost(row) : QString();
        // A row whose server asked for time, or whose host is left alone for a while, waits.
        if (!m_retries.mayStart(m_list.idOf(row), hostsWait ? host : QString()))
            continue;
        // Polite to the hosts: a row whose host has its fill of transfers waits for a later tick,
        // and the next waiting row goes first.
        if (slotsPerHost && running.value(host) >= options.perHostLimit)
            continue;
        m_list.setName(row, SanitizeFileName(m_list.at(row).name));
        QString folder = m_list.at(row).folder;
        if (folder.isEmpty() || QDir::isRelativePath(folder)) {
            // A relative folder would put the file wherever the program happened to start: such a
            // row fails, and no folder is made for it anywhere.
            m_list.setSize(row, u"下载失败"_s);
            m_list.setReason(row, reason::folderNotAbsolute(folder));
            m_list.setState(row, DownloadItemState::Failed);
            continue;
        }
        if (HasUnusableFolderName(folder)) {
            // Saved into the part of the folder that could be made, the file would land somewhere
            // the user never chose; the row fails and says why, in both modes.
            m_list.setSize(row, u"下载失败"_s);
            m_list.setReason(row, kFolderNameErrorText.toString());
            m_list.setState(row, DownloadItemState::Failed);
            continue;
        }
        if (createFolders) {
            const QString created = CreateFolderPath(folder);
            if (!created.isEmpty())
                folder = created;
        }
        m_list.setFolder(row, folderWithSeparator(folder));
        // Under 跳过 and 覆盖 a row named as a running transfer's file waits for it: what stands there
        // now is that transfer's placeholder, not a document to skip or to write over.
        if (createFolders && options.policy != NamePolicy::Rename && isBeingWritten(m_list.at(row)))
            continue;
        if (确定是需要下载(m_list, row, namePolicyText(options.policy)))
            return row;
    }
    return -1;
}

int Scheduler::requeue(RequeueRule rule, const QList<int>& selectedRows, double sizeLimit)
{
    QStringList files;
    const int queued = RequeueRows(m_list, rule, selectedRows, sizeLimit, &files);
    if (files.isEmpty())
        return queued;
    ++m_removals;
    runBeside(
        this,
        [files = std::move(files)] {
            for (const QString& path : files)
                RemoveRowFile(path);
        },
        [this] { --m_removals; });
    return queued;
}

void Scheduler::timerDownTick()
{
    if (m_list.isEmpty()) {
        setRunning(false);
        return;
    }
    // Files still being removed or parts still being taken back would meet a row's new transfer.
    if (m_removals > 0 || m_files->isAdopting())
        return;
    if (!intervalPassed())
        return;
    if (options.downloadMode == DownloadMode::Single) {
        // Likewise a switch to the single transfer waits for the slots still writing (a stop lets
        // them finish): their names are only claimed by placeholders, which the single transfer
        // would take for files.
        if (m_busy || CountTransferSlots() > 1)
            return;
        const int row = pickRow(false);
        if (row < 0)
            return;
        markStarted(row);
        startSingle(row);
        return;
    }
    // A switch to the slots while the single transfer runs waits for it: its name is not claimed on
    // disk until it ends, so a slot could take the same one.
    if (m_single)
        return;
    const int slotLimit = slotCount();
    for (int s = 1; s <= slotLimit; ++s) {
        if (m_slots[s])
            continue;
        const int row = pickRow(true);
        // A walk that found nothing would find nothing for the next slot either.
        if (row < 0)
            break;
        markStarted(row);
        const DownloadItem& item = m_list.at(row);
        const SavePathChoice choice =
            重命名保存路径(item.folder, item.name, item.type, namePolicyText(options.policy), 2);
        if (choice.name != item.name)
            m_list.setName(row, choice.name);
        emit nameAboutToBeClaimed(row);
        startSlot(s, row, 选择url(m_list.at(row).key), choice.path);
    }
}

void Scheduler::markStarted(int row)
{
    m_list.setState(row, DownloadItemState::Downloading);
    emit rowStarted(row);
    // Nothing of an earlier attempt stays on the row.
    m_list.setTransferColumns(row, QString(), QString(), QString());
    m_list.setReason(row, QString());
}

void Scheduler::startSingle(int row)
{
    if (m_single || m_busy) {
        m_list.setState(row, DownloadItemState::Waiting);
        m_list.setSize(row, u"等待重新下载"_s);
        return;
    }
    m_busy = true;
    const quint64 id = m_list.idOf(row);
    ItemTransfer::Settings settings;
    settings.maxFileSizeMB = options.maxFileSizeMB;
    settings.policy = namePolicyText(options.policy);
    settings.headerTimeoutMs = options.headerTimeoutMs;
    settings.stallTimeoutMs = options.stallTimeoutMs;
    settings.tickMs = options.tickMs;
    settings.deferBusyAnswers = m_retries.mayDefer(id);
    auto* transfer = new ItemTransfer(m_network, m_list, row, settings, this);
    transfer->resumeFrom(m_files->takePart(id, m_list.at(row).folder));
    connect(&transfer->fetch(), &Fetch::resumeNoteChanged, this,
            [this, transfer, id] { m_files->noteRunning(id, transfer->fetch().resumeNote()); });
    m_single = transfer;
    connect(transfer, &ItemTransfer::stateText, this, [this](const QString& t) { emit statusText(3, t); });
    connect(transfer, &ItemTransfer::statusText, this, [this](const QString& t) { emit statusText(2, t); });
    connect(transfer, &ItemTransfer::finished, this, [this, transfer, id](bool) {
        if (m_single == transfer)
            m_single = nullptr;
        // The row may have moved while the transfer ran; the transfer follows it.
        const int row = transfer->row();
        transfer->deleteLater();
        m_sinceFinish.restart();
        transferEnded();
        const bool deferred = transfer->outcome() == ItemTransfer::Outcome::RetryLater;
        settle(id, transfer->fetch().currentHost(),
               {transfer->httpStatus(), deferred, transfer->retryAfterMs(), transfer->takeResumePoint()});
        if (!deferred)
            afterTransfer(row, true, {}, transfer->digest(), transfer->url());
    });
    transfer->start();
}

void Scheduler::startSlot(int slot, int row, const QString& url, const QString& savePath)
{
    auto* d = new Downloader(m_network, this);
    d->setStallTimeout(options.slotStallTimeoutMs);
    d->setTickInterval(options.tickMs);
    // The progress reports catch an announced length above the limit; this catches a body that keeps
    // coming without one.
    d->setSizeLimit(sizeLimitBytes(options.maxFileSizeMB));
    const quint64 id = m_list.idOf(row);
    d->setDeferBusyAnswers(m_retries.mayDefer(id));
    d->resumeWith(m_files->takePart(id, m_list.at(row).folder));
    connect(&d->fetch(), &Fetch::resumeNoteChanged, this,
            [this, d, id] { m_files->noteRunning(id, d->fetch().resumeNote()); });
    // The placeholder keeps the name only as long as nobody touches it: under 重命名 and 跳过 a file
    // saved over it (or at it, once it was deleted) is never replaced, the body takes the next free
    // name instead.
    if (options.policy != NamePolicy::Overwrite) {
        d->setCommitBeside([this, id, policy = namePolicyText(options.policy)](const QString&) {
            const int row = m_list.rowOfId(id);
            if (row < 0)
                return QString();
            const DownloadItem& item = m_list.at(row);
            const SavePathChoice next = 重命名保存路径(item.folder, item.name, item.type, policy, 2);
            m_list.setName(row, next.name);
            return next.path;
        });
    }
    m_slots[slot] = d;
    m_slotRowId[slot] = id;
    m_busy = true;
    connect(d, &Downloader::DownloadProgress, this,
            [this, d](qint64 read, qint64 total, const QString&) { onSlotProgress(slotOf(d), read, total); });
    connect(d, &Downloader::DownloadComplete, this,
            [this, d](qint64 read, qint64 total, const QString&) { onSlotComplete(slotOf(d), read, total); });
    connect(d, &Downloader::DownloadError, this,
            [this, d](const QString&, const QString&) { onSlotError(slotOf(d)); });
    connect(d, &Downloader::DownloadDeferred, this,
            [this, d](qint64 retryAfterMs, const QString&) { onSlotDeferred(slotOf(d), retryAfterMs); });
    connect(d, &Downloader::DownloadTooLarge, this,
            [this, d](qint64 read, const QString&) { onSlotTooLarge(slotOf(d), read); });
    d->BeginDownload(url, savePath, m_list.at(row).referer);
}

QString Scheduler::slotReason(int slot) const
{
    return slot >= 1 && slot <= kMaxSlots && m_slots[slot] ? m_slots[slot]->reason() : QString();
}

int Scheduler::slotOf(const QObject* downloader) const
{
    for (int s = 1; s <= kMaxSlots; ++s)
        if (m_slots[s] == downloader)
            return s;
    return -1;
}

void Scheduler::unloadSlot(int slot)
{
    if (slot < 1 || slot > kMaxSlots || !m_slots[slot])
        return;
    Downloader* d = m_slots[slot];
    m_slots[slot] = nullptr;
    m_slotRowId[slot] = 0;
    d->disconnect(this);
    d->CancelAsyncRead();
    d->deleteLater();
}

void Scheduler::onSlotProgress(int slot, qint64 read, qint64 total)
{
    const int row = slotRow(slot);
    if (row < 0)
        return;
    if (total > 0 && total >= read)
        m_list.setTransferColumns(row, QString::number(total), QString::number(read),
                                  percentText(read, total));
    if (double(total) / 1024 / 1024 > options.maxFileSizeMB)
        endSlotTooLarge(slot, row, reason::tooLarge(total, options.maxFileSizeMB, true));
}

void Scheduler::onSlotTooLarge(int slot, qint64 read)
{
    const int row = slotRow(slot);
    if (row < 0) {
        onSlotError(slot);
        return;
    }
    m_list.setReceived(row, QString::number(read));
    endSlotTooLarge(slot, row, reason::tooLarge(read, options.maxFileSizeMB, false));
}

void Scheduler::endSlotTooLarge(int slot, int row, const QString& why)
{
    m_list.setState(row, DownloadItemState::Done);
    m_list.setProgress(row, tooLargeText());
    m_list.setReason(row, why);
    m_sinceFinish.restart();
    const quint64 id = m_slotRowId[slot];
    const QString host = m_slots[slot]->fetch().currentHost();
    const int status = m_slots[slot]->httpStatus();
    unloadSlot(slot);
    transferEnded();
    settle(id, host, {status, false, -1, nullptr});
}

void Scheduler::onSlotComplete(int slot, qint64 read, qint64 total)
{
    const int row = slotRow(slot);
    const QString pageReason = slotReason(slot);
    const quint64 id = m_slotRowId[slot];
    const QString host = m_slots[slot]->fetch().currentHost();
    const int status = m_slots[slot]->httpStatus();
    const QByteArray digest = m_slots[slot]->digest();
    const QByteArray encoding = m_slots[slot]->contentEncoding();
    const QString fetchedUrl = m_slots[slot]->url();
    // A body that ended short stays for the next attempt when that can go on with it.
    TransferEnd end{status, false, -1, m_slots[slot]->takeResumePoint()};
    unloadSlot(slot);
    m_sinceFinish.restart();
    transferEnded();
    if (row >= 0 && total > 0 && total >= read)
        m_list.setTransferColumns(row, QString::number(total), QString::number(read),
                                  percentText(read, total));
    const bool whole = row >= 0 && m_list.at(row).progress == u"100%"_s;
    if (row >= 0)
        m_list.setState(row, whole ? DownloadItemState::Done : DownloadItemState::Failed);
    settle(id, host, std::move(end));
    if (row < 0)
        return;
    if (!whole)
        m_list.setReason(row, reason::incomplete(read, total));
    else if (!encoding.isEmpty())
        m_list.setReason(row, reason::compressedBody(encoding));
    afterTransfer(row, false, pageReason, digest, fetchedUrl);
}

void Scheduler::onSlotError(int slot)
{
    const int row = slotRow(slot);
    const QString why = slotReason(slot);
    const quint64 id = m_slotRowId[slot];
    const QString host = m_slots[slot]->fetch().currentHost();
    TransferEnd end{m_slots[slot]->httpStatus(), false, -1, m_slots[slot]->takeResumePoint()};
    unloadSlot(slot);
    if (row >= 0) {
        m_list.setState(row, DownloadItemState::Failed);
        m_list.setReason(row, why);
    }
    m_sinceFinish.restart();
    transferEnded();
    settle(id, host, std::move(end));
}

void Scheduler::onSlotDeferred(int slot, qint64 retryAfterMs)
{
    const int row = slotRow(slot);
    const QString why = slotReason(slot);
    const quint64 id = m_slotRowId[slot];
    const QString host = m_slots[slot]->fetch().currentHost();
    TransferEnd end{m_slots[slot]->httpStatus(), true, retryAfterMs, m_slots[slot]->takeResumePoint()};
    unloadSlot(slot);
    if (row >= 0) {
        m_list.setState(row, DownloadItemState::Waiting);
        m_list.setTransferColumns(row, QString(), QString(), QString());
        m_list.setReason(row, why);
    }
    m_sinceFinish.restart();
    transferEnded();
    settle(id, host, std::move(end));
}

void Scheduler::settle(quint64 id, const QString& host, TransferEnd end)
{
    m_retries.noteAnswer(host, end.status);
    const int row = m_list.rowOfId(id);
    // The server that answered is the host of the row's next attempt (the address of a result is
    // mostly the engine's redirect, which every row shares), for a row that is to be fetched again or
    // whose server's error page ended it.
    const bool again = row >= 0 && (m_list.at(row).state != DownloadItemState::Done || end.status >= 500 ||
                                    end.status == 429);
    if (again && end.status != 0 && !host.isEmpty())
        m_answeredHosts.insert(id, {m_list.at(row).key, host});
    else
        m_answeredHosts.remove(id);
    // A body is kept only for a row that is to be fetched again, or may be.
    if (row < 0 || m_list.at(row).state == DownloadItemState::Done)
        m_files->dropPart(id);
    else
        m_files->keepPart(id, std::move(end.part));
    if (!end.deferred || row < 0) {
        m_retries.forget(id);
        return;
    }
    m_retries.defer(id, host, end.retryAfterMs);
    m_countdowns.insert(id);
    showRetryCountdowns();
}

void Scheduler::showRetryCountdowns()
{
    for (auto it = m_countdowns.begin(); it != m_countdowns.end();) {
        const int row = m_list.rowOfId(*it);
        const int left =
            row >= 0 && m_list.at(row).state == DownloadItemState::Waiting ? m_retries.secondsLeft(*it) : -1;
        if (left > 0) {
            m_list.setProgress(row, retryCountdownText(left));
            ++it;
            continue;
        }
        // The time has come: plain waiting. (A row picked or gone meanwhile is left as it is.)
        if (left == 0)
            m_list.setProgress(row, QString());
        // Ended by the user while it waited (cancelled): the wait goes with it, or the row put back
        // to wait later would sit out the rest of it without a word.
        if (row >= 0 && left < 0 && m_list.at(row).state != DownloadItemState::Downloading) {
            m_retries.forget(*it);
            if (isRetryCountdownText(m_list.at(row).progress))
                m_list.setProgress(row, QString());
        }
        it = m_countdowns.erase(it);
    }
}

void Scheduler::noteDuplicate(int row, const QByteArray& digest)
{
    const DownloadItem& item = m_list.at(row);
    // Pages that came instead of documents are told as pages.
    if (item.state != DownloadItemState::Done || isPageOrXmlType(item.type))
        return;
    const QList<quint64> sameDigest = m_files->noteFinished(item.id, digest);
    if (sameDigest.isEmpty())
        return;
    // The digest only says which files to compare; they are read beside the window. What the
    // comparison finds counts only while both rows still hold the files it read: still finished,
    // under the same path, with the same digest (a row finished again with other bytes has another;
    // one whose file went as a duplicate has none).
    const quint64 id = item.id;
    const QString path = item.filePath();
    QList<std::pair<quint64, QString>> candidates;
    for (quint64 other : sameDigest)
        candidates.append({other, m_list.at(m_list.rowOfId(other)).filePath()});
    const auto stillHolds = [this, digest](quint64 rowId, const QString& file) {
        const int at = m_list.rowOfId(rowId);
        return at >= 0 && m_list.at(at).state == DownloadItemState::Done &&
               m_list.at(at).filePath() == file && m_files->digestOf(rowId) == digest &&
               QFileInfo(file).isFile();
    };
    // The work answers which candidate holds the same bytes (none: no answer).
    runBeside(
        this, &m_comparePool,
        [path, candidates, stop = m_stopCompares] {
            for (qsizetype i = 0; i < candidates.size(); ++i) {
                if (sameFileContent(path, candidates[i].second, stop.get()))
                    return std::optional<qsizetype>(i);
            }
            return std::optional<qsizetype>();
        },
        [this, id, path, candidates, stillHolds](std::optional<qsizetype> same) {
            if (!same)
                return;
            const auto& [otherId, otherPath] = candidates[*same];
            if (!stillHolds(id, path) || !stillHolds(otherId, otherPath))
                return;
            const int at = m_list.rowOfId(id);
            const QString other = m_list.at(m_list.rowOfId(otherId)).name;
            if (options.deleteDuplicates && DeleteItemFile(m_list.at(at))) {
                m_files->forgetDigest(id);
                // The row's path is no longer its own (the row still counts as downloaded).
                m_list.setProgress(at, kFileMissingWord.toString());
                m_list.setReason(at, reason::duplicateRemoved(other));
            } else {
                m_list.setReason(at, reason::duplicateOf(other));
            }
        });
}

void Scheduler::afterTransfer(int row, bool singleMode, const QString& pageReason, const QByteArray& digest,
                              const QString& fetchedUrl)
{
    if (row < 0 || row >= m_list.count())
        return;
    // The single transfer corrects the type, gives its reasons and reports its end itself.
    if (!singleMode) {
        CorrectOneRow(m_list, row);
        const DownloadItem& corrected = m_list.at(row);
        if (corrected.state == DownloadItemState::Done && isPageOrXmlType(corrected.type))
            m_list.setReason(row, pageReason);
        emit statusText(2, u"完成下载:"_s + corrected.name);
    }
    const DownloadItem& item = m_list.at(row);
    // What the program fetched is kept in its URL cache, as the platform's transfer did (a row that
    // ended without writing, skipped or too large, has no digest); files beyond the cache's reach
    // are left out so that the window never waits on a long copy. The body is kept under the address
    // it came from: an address replaced while it ran is the row's, not the body's.
    if (item.state == DownloadItemState::Done && !digest.isEmpty() &&
        QFileInfo(item.filePath()).size() <= kCacheFileLimit) {
        const QString address = 选择url(item.key);
        UrlCache().storeFile(NormalizeDownloadUrl(address) == fetchedUrl ? address : fetchedUrl,
                             item.filePath());
    }
    noteDuplicate(row, digest);
    const bool webPage = isWebPage(item.type, singleMode);
    const quint64 id = item.id;
    if (options.sound) {
        if (webPage)
            emit playSound(kSoundWebPage);
        if (item.state == DownloadItemState::Failed)
            emit playSound(kSoundFailed);
    }
    if (webPage)
        emit webPageArrived(id);
}

void Scheduler::timer1Tick()
{
    showRetryCountdowns();
    if (检测是否下载列表完毕(m_list)) {
        if (Timer_Down->isActive()) {
            setRunning(false);
            if (options.sound)
                emit playSound(kSoundAllDone);
        }
    }
    // Busy flag upkeep.
    if (options.downloadMode == DownloadMode::Single) {
        if (!m_single && !Timer_Down->isActive())
            m_busy = false;
    } else {
        const int slotLimit = slotCount();
        for (int s = 1; s <= slotLimit; ++s)
            if (m_slots[s])
                m_busy = true;
        if (!Timer_Down->isActive())
            m_busy = false;
    }
    // Rows with empty columns include ones that failed before an answer or whose files were
    // deleted: with nothing left to fetch, starting would only stop again on the next tick (and
    // ring the "all done" sound) once a second.
    if (options.autoStart && !检测是否下载列表完毕(m_list) && 统计未下载项数目(m_list) >= 1)
        setRunning(true);
    if (options.autoRedownload && !Timer_Down->isActive()) {
        switch (options.autoRedownloadRule) {
        case 0:
            requeue(RequeueRule::Failed);
            break;
        case 1:
            requeue(RequeueRule::WebPages);
            break;
        default:
            requeue(RequeueRule::Failed);
            requeue(RequeueRule::WebPages);
            break;
        }
        // Only with something to fetch again: else it would stop on the next tick, once a second.
        if (!检测是否下载列表完毕(m_list))
            setRunning(true);
    }
    if (options.stopAfterFailures && CountFailedAndPageRows(m_list) >= 5 && Timer_Down->isActive()) {
        setRunning(false);
        if (options.sound)
            emit playSound(kSoundAllDone);
    }
}

} // namespace lintbay
