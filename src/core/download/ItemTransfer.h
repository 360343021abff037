#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QUrl>

#include <memory>

class QNetworkReply;
class QNetworkRequest;

namespace lintbay {

class DownloadListModel;
class NetworkContext;
class PartFile;

// Inet下载文件: fetches one row of the download list in the single-transfer mode, through the proxy,
// with a Referer, and writes the outcome into the row. The response's headers are judged before any
// byte is kept: the size limit, the type (Content-Type, its charset, Content-Disposition), the status
// line. The save path is chosen after that, the body streams into a temporary file in the target
// folder and takes the final name only when complete.
//
// Outcomes (row state; Size / Received / Progress):
//   completed            Done;   size or "未知"→received / received / "100%"
//   too large            Done;   - / - / "大文件，跳过"           nothing kept on disk
//   fetched whole        Done;   file length / real byte count / "100%"
//   no headers           Failed; columns as they were (empty)
//   cannot replace       Failed; existing length / existing length / "无法替换"
//   cannot write, stalled (also in the whole-body fetch), cut off
//                        Failed; "下载失败"                       no file left
//   cancelled            Failed; "下载取消"                       no file left
//   whole fetch brought fewer than 2 bytes or broke off
//                        Failed; all three cleared                no file left
// In every failure an older file at the save path stays as it was. After a completion the file's
// content has decided the row's Type (and the file's name) already.
// A row removed from the list while its transfer runs ends the transfer; the list is not touched.
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
    };

    enum class Outcome
    {
        Running,
        Completed,
        TooLarge,
        FetchedWhole,
        NoHeaders,
        CannotReplace,
        CannotWrite,
        Stalled,
        CutOff,
        Cancelled,
        WholeFetchFailed,
        RowRemoved,
    };

    ItemTransfer(NetworkContext& network, DownloadListModel& list, int row, const Settings& settings,
                 QObject* parent = nullptr);
    ~ItemTransfer() override; // abandons a running transfer without touching the row

    // Sends the request. Every outcome is reported by finished(), after start() has returned.
    void start();
    // "停止下载": the row ends Failed with "下载取消" and the partial file is removed.
    void cancel();

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

    // The first request of the transfer or of the whole-body fetch.
    void sendRequest(bool withReferer);
    void send(const QNetworkRequest& request);
    // Follows or refuses a redirect, or judges the headers of the answer, once per reply; false when
    // the reply was replaced or the transfer ended.
    bool takeAnswer();
    void onMetaData();
    void onReadyRead();
    void onFinished();
    void onHeaderTimeout();
    void onTick();
    // Steps from the headers to the start of the body; false when the transfer already ended.
    bool judgeHeaders();
    void startWholeFetch();
    void finishStreaming(QNetworkReply* reply);
    void finishWholeFetch(QNetworkReply* reply);
    void updateReceived(bool force);
    // Ends the transfer with an outcome: fills the row, cleans up, runs the end steps.
    void end(Outcome outcome);
    void emitErrorState(int code, const QString& text);
    void setState(const QString& text);
    void dropReply();
    bool rowGone() const { return row() < 0; }

    NetworkContext& m_network;
    DownloadListModel& m_list;
    quint64 m_rowId = 0; // the row is followed by its id: sorting, shuffling or removals never mislead it
    Settings m_settings;

    Phase m_phase = Phase::Idle;
    Outcome m_outcome = Outcome::Running;
    bool m_started = false;
    QString m_url;
    QString m_savePath;
    QPointer<QNetworkReply> m_reply;
    QList<QUrl> m_visited; // addresses of this request and its redirects
    bool m_answerTaken = false;
    std::unique_ptr<PartFile> m_part;
    QTimer m_headerTimer;
    QTimer m_tick;
    QElapsedTimer m_stallClock;
    QElapsedTimer m_shownClock;
    QString m_lastState;
    qint64 m_size = 0; // announced length, 0 when unknown
    qint64 m_received = 0;
    qint64 m_receivedAtLastChange = 0;
};

} // namespace lintbay
