#pragma once

#include "controls/Downloader.h"
#include "download/ItemTransfer.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <array>

namespace lintbay {

class DownloadListModel;
class NetworkContext;

// The download scheduler: Timer_Down starts transfers in list order (one at a time in mode 1, one
// per free slot in mode 2); Timer1 supervises (switches the scheduler off when the list is
// finished, restarts it for automatic re-downloads, stops it after too many failures, keeps the
// busy flag). Both ticks run on the window's thread; transfers report through signals.
class Scheduler : public QObject
{
    Q_OBJECT
public:
    static constexpr int kMaxSlots = 6;

    Scheduler(DownloadListModel& list, NetworkContext& network, QObject* parent = nullptr);
    ~Scheduler() override;

    // The window's choices, read at every tick.
    struct Options
    {
        int downloadMode = 2;     // 1: one transfer at a time (proxy, headers); 2: parallel slots
        int threadCount = 3;      // slots in mode 2, 1 to 6
        int intervalSeconds = 0;  // pause after the last transfer ended
        QString policy = QStringLiteral("重命名"); // "跳过", "覆盖" or "重命名"
        double maxFileSizeMB = 10;
        bool autoRedownload = false;  // Check3
        int autoRedownloadRule = 0;   // Combo4: 0 failed rows, 1 web-page rows, 2 both
        bool autoStart = false;       // Check4
        bool stopAfterFailures = false; // Check5
        bool sound = false;           // Check6
        // Time-outs of the transfers (the program's; tests inject shorter ones).
        int headerTimeoutMs = 30000;
        int stallTimeoutMs = 120000;
        int slotStallTimeoutMs = 300000;
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

    // The ticks, callable directly (tests drive the scheduler without waiting a second).
    void timerDownTick();
    void timer1Tick();

signals:
    void playSound(int id);
    // Status bar panels 2 and 3.
    void statusText(int panel, const QString& text);
    // A row was picked and is being fetched (the window may scroll to it).
    void rowStarted(int row);
    // A transfer brought a web page instead of a document (automatic login may follow).
    void webPageArrived(int row);
    // Scheduler switched on or off (indicator, menu entry).
    void runningChanged(bool running);
    // StopDownloads unticks automatic start and automatic re-download.
    void automaticModesCleared();

private:
    void startSingle(int row);
    void startSlot(int slot, int row, const QString& url, const QString& savePath);
    void unloadSlot(int slot);
    int slotOf(const QObject* downloader) const;
    void onSlotProgress(int slot, qint64 read, qint64 total);
    void onSlotComplete(int slot, qint64 read, qint64 total);
    void onSlotError(int slot);
    void afterTransfer(int row, bool singleMode);
    int pickRow(bool createFolders);
    void setRunning(bool on);
    bool intervalPassed() const;

    DownloadListModel& m_list;
    NetworkContext& m_network;
    bool m_busy = false;
    QElapsedTimer m_sinceFinish;
    std::array<int, 12> m_slotRow{};
    std::array<QPointer<Downloader>, 12> m_slots{};
    QPointer<ItemTransfer> m_single;
    int m_singleRow = -1;
};

} // namespace lintbay
