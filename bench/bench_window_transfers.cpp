// Transfers as a user watches them: the download window shown (offscreen) with its real list view,
// its status bar and its one-second counters, fetching the URLs of a list file in mode 2 with six
// slots. Measures the window's event loop (the longest gap between two ticks of a 10 ms probe timer,
// from the start until the last row has ended), how often each row was repainted (paint events of
// the view that cover the row, the most in any 100 ms and the shortest time between two) and the CPU
// time of the whole process (every thread) from the start to the last end. Prints one line:
//   span_s cpu_s longest_gap_ms most_paints_per_row_per_100ms shortest_repaint_ms done failed
//
//   bench_window_transfers <url list> <out folder> [authority.pem]
//
// The authority is trusted for HTTPS addresses (a test server's own certificate).
#include "BenchSupport.h"
#include "LoopProbe.h"
#include "PaintLog.h"
#include "TestProgram.h"
#include "app/GuiContext.h"
#include "app/ProgramSettings.h"
#include "controls/NetworkContext.h"
#include "download/DownloadCounters.h"
#include "download/DownloadListModel.h"
#include "download/Scheduler.h"
#include "download/fFileDownload.h"
#include "util/MemoryTuning.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QRadioButton>
#include <QTableView>
#include <QTimer>

#include <cstdio>

using namespace Qt::StringLiterals;
using namespace lintbay;
using namespace lintbay::test;

int main(int argc, char* argv[])
{
    lintbay::keepFreedMemoryForReuse();
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: bench_window_transfers <url list> <out folder> [authority.pem]\n");
        return 2;
    }
    TestProgram program({{keys::kDownloadMode, u"2"_s},
                         {keys::kMaxFileSize, u"100000"_s},
                         {keys::kPerHostLimit, u"6"_s},
                         {keys::kSearchEngine, u"http://127.0.0.1:9"_s}});
    if (args.size() > 3 && !bench::trustAuthorityFile(program.gui.network(), args.at(3))) {
        std::fprintf(stderr, "no certificate in %s\n", qPrintable(args.at(3)));
        return 2;
    }
    fFileDownload* window = program.gui.downloadWindow();
    window->show();
    window->resize(1000, 700);
    window->findChild<QComboBox*>(u"Combo1"_s)->setCurrentText(u"6"_s);
    window->findChild<QComboBox*>(u"Combo2"_s)->setCurrentText(u"0"_s);
    window->findChild<QRadioButton*>(u"Option2"_s)->setChecked(true); // 覆盖: runs may repeat

    DownloadListModel* list = window->list();
    if (!bench::addUrlRows(*list, args.at(1), args.at(2)))
        return 2;

    QElapsedTimer clock;
    auto* view = window->findChild<QTableView*>(u"ListView3"_s);
    PaintLog paints(view, &clock);
    // Shown and painted before the clock starts.
    for (QElapsedTimer settle; !settle.isValid() || settle.elapsed() < 300;) {
        if (!settle.isValid())
            settle.start();
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    LoopProbe probe;
    qint64 firstStart = -1;
    qint64 lastEnd = 0;
    QObject::connect(window->scheduler(), &Scheduler::rowStarted, [&](int) {
        if (firstStart < 0)
            firstStart = clock.elapsed();
    });
    QObject::connect(list, &QAbstractItemModel::dataChanged, [&] { lastEnd = clock.elapsed(); });
    const double cpuBefore = bench::processCpuSeconds();
    clock.start();
    probe.reset();
    window->findChild<QAction*>(u"menu下载全部"_s)->trigger();
    // Waits in an event loop of its own, as the window does: a polling loop would spin.
    QEventLoop loop;
    QTimer finish;
    finish.setInterval(50);
    QObject::connect(&finish, &QTimer::timeout, [&] {
        if (firstStart >= 0 && 检测是否下载列表完毕(*list) && window->scheduler()->CountTransferSlots() == 1)
            loop.quit();
    });
    finish.start();
    loop.exec();
    const double cpu = bench::processCpuSeconds() - cpuBefore;
    const qint64 gap = probe.longest();
    const auto [most, shortest] = paints.worst();
    if (qEnvironmentVariableIsSet("LINTBAY_BENCH_TRACE"))
        std::fprintf(stderr, "first start %lld ms, longest gap %lld ms ending at %lld ms\n", firstStart, gap,
                     probe.longestEnd());

    std::printf("%.3f %.3f %lld %d %lld %d %d\n", (lastEnd - firstStart) / 1000.0, cpu, gap, most, shortest,
                list->countInState(DownloadItemState::Done), list->countInState(DownloadItemState::Failed));
    std::fflush(stdout);
    return 0;
}
