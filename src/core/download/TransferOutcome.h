#pragma once

#include <QString>

namespace lintbay {

class DownloadListModel;

// How a single transfer ends, and what each ending writes into its row
// (row state; Size / Received / Progress):
//   completed            Done;   size or "未知"→received / received / "100%"
//   too large            Done;   - / - / "大文件，跳过"           nothing kept on disk
//   exists, skipped      Done;   existing length / existing length / "已存在，跳过"   nothing written
//   fetched whole        Done;   file length / real byte count / "100%"
//   no headers           Failed; columns as they were (empty)
//   cannot replace       Failed; existing length / existing length / "无法替换"
//   cannot write, stalled (also in the whole-body fetch), cut off
//                        Failed; "下载失败"                       no file left
//   cancelled            Failed; "下载取消"                       no file left
//   whole fetch brought fewer than 2 bytes or broke off
//                        Failed; all three cleared                no file left
//   retry later          Waiting; all three cleared              (the owner shows when it is picked again)
// In every failure an older file at the save path stays as it was. A body that broke off may stay
// as a hidden part file for the next attempt (ItemTransfer::takeResumePoint).
enum class TransferOutcome
{
    Running,
    Completed,
    TooLarge,
    ExistsSkipped,
    FetchedWhole,
    NoHeaders,
    CannotReplace,
    CannotWrite,
    Stalled,
    CutOff,
    Cancelled,
    WholeFetchFailed,
    RetryLater,
    RowRemoved,
};

// True for the endings that leave the row Done.
bool endsDone(TransferOutcome outcome);

// What the transfer knew when it ended.
struct TransferFigures
{
    qint64 announced = 0; // the answer's length, 0 when unknown
    qint64 received = 0;  // body bytes taken
    QString savePath;     // the file written, or the one that could not be replaced
};

// Writes the ending into the list row `row`: its state and the Size / Received / Progress words.
void writeOutcome(DownloadListModel& list, int row, TransferOutcome outcome, const TransferFigures& figures);

// The Size column while the length is not known.
QString unknownSizeText();

// The Progress column of a row that ended too large.
QString tooLargeText();

// True for the Progress of a Done row that wrote no file ("已存在，跳过", "大文件，跳过"): whatever
// lies at its path is the user's or another row's.
bool endedWithoutFile(const QString& progress);

// The Progress column of a row that waits until its server wants to be asked again.
QString retryCountdownText(int seconds);
bool isRetryCountdownText(const QString& progress);

// The Progress column during a transfer: the whole part of the percentage, never rounded up
// (99.9 % reads "99%"). `total` must be above 0.
QString percentText(qint64 received, qint64 total);

} // namespace lintbay
