#pragma once

#include "app/ProgramSettings.h"
#include "controls/Downloader.h"
#include "download/ItemTransfer.h"
#include "download/ListOperations.h"
#include "download/RetryPlan.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QThreadPool>
#include <QTimer>

#include <array>
#include <atomic>
#include <memory>

namespace lintbay {

class DownloadListModel;
class NetworkContext;
class RowFiles;

// The download scheduler: Timer_Down starts transfers in list order (one at a time in mode 1, one
// per free slot in mode 2); Timer1 supervises (switches the scheduler off when the list is
// finished, restarts it for automatic re-downloads, stops it after too many failures, keeps the
// busy flag). Both ticks run on the window's thread; transfers report through signals.
//
// Each running transfer remembers its row by the row's id, never by its number: the list may be
// sorted, shuffled or thinned while transfers run (the supervision clears the busy flag once the
// scheduler is off, which allows sorting), and a result must land in its own row. A row that
// leaves the list ends its transfer.
//
// Between attempts of a row the scheduler keeps, in the list's RowFiles, the body a transfer left,
// which the row's next transfer goes on with (both modes), and records the digest of each finished
// file to tell a document that came twice. A "try again later" answer puts its row back to waiting
// until the server's time (its Progress counting the seconds down, on the supervision tick), and a
// host that answers with server errors is left alone for doubling times (RetryPlan); neither counts
// as a failure, and a row that waits so is not finished.
class Scheduler : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxSlots = 6;

    // `files`: the list's memory of its rows' files (the session's); null: the scheduler keeps its own.
    Scheduler(DownloadListModel& list, NetworkContext& network, RowFiles* files = nullptr,
              QObject* parent = nullptr);
    ~Scheduler() override;

    // The window's choices, read at every tick.
    struct Options
    {
        DownloadMode downloadMode = DownloadMode::Parallel;
        int threadCount = 3; // slots in mode 2, 1 to 6
        // Transfers at once to one host in mode 2 (0: no limit), for rows whose host is known: the
        // host of a direct address, or the server that answered the row before. A row behind a
        // redirect counts with its server once it is there, so a server many new rows lead to may
        // get up to the slots' number at once, as from a browser.
        int perHostLimit = 2;
        int intervalSeconds = 0; // pause after the last transfer ended
        NamePolicy policy = NamePolicy::Rename;
        double maxFileSizeMB = 10;
        bool autoRedownload = false;    // Check3
        int autoRedownloadRule = 0;     // Combo4: 0 failed rows, 1 web-page rows, 2 both
        bool autoStart = false;         // Check4
        bool stopAfterFailures = false; // Check5
        bool sound = false;             // Check6
        bool deleteDuplicates = false;  // "删除重复文件": a second copy of a finished file is removed
        // Time-outs of the transfers (the program's; tests inject shorter ones).
        int headerTimeoutMs = 30000;
        int stallTimeoutMs = 120000;
        int slotStallTimeoutMs = 300000;
        int tickMs = 1000; // how often the transfers' stall clocks are read
    };
    Options options;

    QTimer* Timer_Down = nullptr;
    QTimer* Timer1 = nullptr;

    void StartDownloads();
    void StopDownloads();

    int CountTransferSlots() const;
    bool IsDownloadBusy() const;
    bool IsDownloading() const;
    bool busyFlag() const { return m_busy; }
    bool singleTransferRunning() const { return m_single != nullptr; }
    // The rows being fetched now, by id.
    QList<quint64> runningRows() const;
    RowFiles& files() const { return *m_files; }
    // Where finished files are compared with their look-alikes (one at a time, beside the window).
    QThreadPool* comparePool() { return &m_comparePool; }
    // The waits of rows and hosts; its timing and clock are the program's unless a test sets them.
    RetryPlan& retries() { return m_retries; }

    // "重新下载" by a rule (RequeueRows). The chosen rows' files are removed on a pool thread, as a
    // long list has tens of thousands of them; no row starts until they are gone, so a new transfer
    // never loses its file to the removal of the old one. Returns the number of rows queued again.
    int requeue(RequeueRule rule, const QList<int>& selectedRows = {}, double sizeLimit = 0);
    // Files of re-queued rows are still being removed (no row starts meanwhile).
    bool removingFiles() const { return m_removals > 0; }

    // The ticks, callable directly (tests drive the scheduler without waiting a second).
    void timerDownTick();
    void timer1Tick();

signals:
    void playSound(int id);
    // Status bar panels 2 and 3.
    void statusText(int panel, const QString& text);
    // A row was picked and is being fetched (the window may scroll to it). The number is valid
    // while the signal is handled.
    void rowStarted(int row);
    // A slot is about to claim the row's name on disk (its placeholder), under the name it has now,
    // which the pick may just have changed. The number is valid while the signal is handled.
    void nameAboutToBeClaimed(int row);
    // A transfer brought a web page instead of a document (automatic login may follow).
    void webPageArrived(quint64 rowId);
    // Scheduler switched on or off (indicator, menu entry).
    void runningChanged(bool running);
    // StopDownloads unticks automatic start and automatic re-download.
    void automaticModesCleared();

private:
    // The row is being fetched now: its state, its columns and reason cleared.
    void markStarted(int row);
    void startSingle(int row);
    void startSlot(int slot, int row, const QString& url, const QString& savePath);
    void unloadSlot(int slot);
    int slotOf(const QObject* downloader) const;
    QString slotReason(int slot) const;
    // The row a slot fetches now, or -1 when it has none or its row left the list.
    int slotRow(int slot) const;
    void onSlotProgress(int slot, qint64 read, qint64 total);
    void onSlotComplete(int slot, qint64 read, qint64 total);
    void onSlotError(int slot);
    void onSlotDeferred(int slot, qint64 retryAfterMs);
    void onSlotTooLarge(int slot, qint64 read);
    // The row ends Done as "大文件，跳过" and the slot is freed.
    void endSlotTooLarge(int slot, int row, const QString& why);
    // `pageReason`: a slot's reason, for a file that turns out to be a web page; `digest`: the file's.
    // `fetchedUrl`: the address the transfer was started with.
    void afterTransfer(int row, bool singleMode, const QString& pageReason, const QByteArray& digest,
                       const QString& fetchedUrl);
    // A finished file with the bytes of an earlier row's file is told, or removed.
    void noteDuplicate(int row, const QByteArray& digest);
    // How a transfer of the row `id` to `host` ended, for what comes after: the host's back-off, the
    // row's wait when it was put off, the body kept for the row's next attempt.
    struct TransferEnd
    {
        int status = 0;
        bool deferred = false;
        qint64 retryAfterMs = -1;
        std::unique_ptr<ResumePoint> part;
    };
    void settle(quint64 id, const QString& host, TransferEnd end);
    // Progress of the rows that wait for their server's time: the seconds left, then nothing.
    void showRetryCountdowns();
    // Ends the transfers whose rows left the list.
    void dropTransfersOfRemovedRows();
    // The busy flag goes down when the last transfer has ended, whichever mode started it: a mode
    // switch during a transfer applies to the next pick and must not leave the flag up for ever.
    void transferEnded();
    int slotCount() const;
    // The first waiting row that is to be fetched, in list order; in mode 2 (`createFolders`) one
    // whose host is not full and whose file no slot is writing (under 跳过 and 覆盖).
    int pickRow(bool createFolders);
    static QString hostOf(const QString& key);
    // The host the row's transfer goes to, as far as is known: the server that answered its last
    // attempt, else the host of its address.
    QString rowHost(int row);
    // Running slots by the host each is with now.
    QHash<QString, int> slotsPerHost() const;
    // A slot is writing the file the row would be saved as.
    bool isBeingWritten(const DownloadItem& item) const;
    void setRunning(bool on);
    bool intervalPassed() const;

    DownloadListModel& m_list;
    NetworkContext& m_network;
    RowFiles* m_files = nullptr;
    QThreadPool m_comparePool;
    std::shared_ptr<std::atomic_bool> m_stopCompares = std::make_shared<std::atomic_bool>(false);
    RetryPlan m_retries;
    QSet<quint64> m_countdowns; // rows whose Progress counts down
    struct RowHost
    {
        QString key; // the address the host was learnt for
        QString host;
    };
    QHash<quint64, RowHost> m_answeredHosts; // rows to be fetched again: who answered them last
    QHash<quint64, RowHost> m_keyHosts;      // the hosts of the rows' addresses
    bool m_busy = false;
    int m_removals = 0; // removals of re-queued rows' files still running
    QElapsedTimer m_sinceFinish;
    std::array<quint64, kMaxSlots + 1> m_slotRowId{}; // index 0 unused, as the slots count from 1
    std::array<QPointer<Downloader>, kMaxSlots + 1> m_slots{};
    QPointer<ItemTransfer> m_single;
};

} // namespace lintbay
