#include "download/TransferOutcome.h"

#include "download/DownloadListModel.h"
#include "download/FileNaming.h"

#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {
const QString kTooLarge = u"大文件，跳过"_s;
const QString kCannotReplace = u"无法替换"_s;
const QString kDownloadFailed = u"下载失败"_s;
const QString kDownloadCancelled = u"下载取消"_s;
const QString kFull = u"100%"_s;
} // namespace

QString unknownSizeText()
{
    return u"未知"_s;
}

QString tooLargeText()
{
    return kTooLarge;
}

bool endedWithoutFile(const QString& progress)
{
    return progress == kTooLarge || progress == kAlreadyExistsSkippedText;
}

bool endsDone(TransferOutcome outcome)
{
    return outcome == TransferOutcome::Completed || outcome == TransferOutcome::TooLarge ||
           outcome == TransferOutcome::ExistsSkipped || outcome == TransferOutcome::FetchedWhole;
}

void writeOutcome(DownloadListModel& list, int row, TransferOutcome outcome, const TransferFigures& figures)
{
    switch (outcome) {
    case TransferOutcome::Completed:
        list.setTransferColumns(row,
                                QString::number(figures.announced > 0 ? figures.announced : figures.received),
                                QString::number(figures.received), kFull);
        break;
    case TransferOutcome::FetchedWhole:
        // The real count; the file's length is what is on disk.
        list.setTransferColumns(row, QString::number(QFileInfo(figures.savePath).size()),
                                QString::number(figures.received), kFull);
        break;
    case TransferOutcome::TooLarge:
        list.setProgress(row, kTooLarge);
        break;
    case TransferOutcome::CannotReplace:
    case TransferOutcome::ExistsSkipped: {
        const QString length = QString::number(QFileInfo(figures.savePath).size());
        list.setTransferColumns(row, length, length,
                                outcome == TransferOutcome::ExistsSkipped ? kAlreadyExistsSkippedText.toString()
                                                                          : kCannotReplace);
        break;
    }
    case TransferOutcome::CannotWrite:
    case TransferOutcome::Stalled:
    case TransferOutcome::CutOff:
        list.setSize(row, kDownloadFailed);
        break;
    case TransferOutcome::Cancelled:
        list.setSize(row, kDownloadCancelled);
        break;
    case TransferOutcome::WholeFetchFailed:
    case TransferOutcome::RetryLater:
        list.setTransferColumns(row, QString(), QString(), QString());
        break;
    case TransferOutcome::NoHeaders:
    case TransferOutcome::RowRemoved:
    case TransferOutcome::Running:
        break;
    }
    if (outcome == TransferOutcome::RetryLater)
        list.setState(row, DownloadItemState::Waiting);
    else
        list.setState(row, endsDone(outcome) ? DownloadItemState::Done : DownloadItemState::Failed);
}

QString retryCountdownText(int seconds)
{
    return u"%1秒后重试"_s.arg(seconds);
}

bool isRetryCountdownText(const QString& progress)
{
    static const QString suffix = retryCountdownText(0).sliced(1);
    return progress.endsWith(suffix);
}

QString percentText(qint64 received, qint64 total)
{
    return QString::number(received * 100 / total) + u'%';
}

} // namespace lintbay
