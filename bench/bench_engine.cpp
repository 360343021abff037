// Drives the download engine without a window: the URLs of a list file become waiting rows, the
// scheduler runs on its real one-second ticks until the list is finished. Prints one line:
//   wall_s cpu_s peak_rss_mb done failed first_start_to_last_end_s
// Usage: bench_engine <url list> <out folder> <mode 1|2> <slots> [interval s]
#include "BenchSupport.h"
#include "controls/NetworkContext.h"
#include "download/DownloadCounters.h"
#include "download/DownloadListModel.h"
#include "download/Scheduler.h"
#include "util/MemoryTuning.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

using namespace Qt::StringLiterals;
using namespace lintbay;

int main(int argc, char* argv[])
{
    lintbay::keepFreedMemoryForReuse();
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 5) {
        std::fprintf(stderr, "usage: bench_engine <url list> <out folder> <mode> <slots> [interval]\n");
        return 2;
    }
    const QString folder = args.at(2);
    QDir().mkpath(folder);
    DownloadListModel list;
    if (!bench::addUrlRows(list, args.at(1), folder))
        return 2;

    NetworkContext network;
    if (args.size() > 6 && !bench::trustAuthorityFile(network, args.at(6)))
        return 2;
    Scheduler scheduler(list, network);
    scheduler.options.downloadMode = args.at(3).toInt() == 1 ? DownloadMode::Single : DownloadMode::Parallel;
    scheduler.options.threadCount = args.at(4).toInt();
    scheduler.options.intervalSeconds = args.size() > 5 ? args.at(5).toInt() : 0;
    scheduler.options.maxFileSizeMB = 1e9;
    scheduler.options.policy = NamePolicy::Overwrite;
    scheduler.options.perHostLimit = 0; // one host (nginx on 127.0.0.1) serves every file here

    QElapsedTimer wall;
    qint64 firstStart = -1;
    qint64 lastEnd = 0;
    QObject::connect(&scheduler, &Scheduler::rowStarted, [&](int) {
        if (firstStart < 0)
            firstStart = wall.elapsed();
    });
    QObject::connect(&list, &QAbstractItemModel::dataChanged, [&] { lastEnd = wall.elapsed(); });
    QTimer finish;
    finish.setInterval(50);
    QObject::connect(&finish, &QTimer::timeout, [&] {
        if (检测是否下载列表完毕(list) && scheduler.CountTransferSlots() == 1)
            app.quit();
    });
    const double cpuBefore = bench::processCpuSeconds();
    wall.start();
    scheduler.Timer1->start();
    scheduler.StartDownloads();
    finish.start();
    app.exec();

    const double transferCpu = bench::processCpuSeconds() - cpuBefore;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    std::printf("%.3f %.3f %.1f %d %d %.3f %.3f\n", wall.elapsed() / 1000.0, bench::processCpuSeconds(), usage.ru_maxrss / 1024.0,
                list.countInState(DownloadItemState::Done), list.countInState(DownloadItemState::Failed),
                (lastEnd - qMax<qint64>(firstStart, 0)) / 1000.0, transferCpu);
    return 0;
}
