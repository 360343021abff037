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
#include <QHash>
#include <QPaintEvent>
#include <QRadioButton>
#include <QTableView>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace Qt::StringLiterals;
using namespace lintbay;
using namespace lintbay::test;

namespace {

// Records, for every row of the view, when a paint event of the viewport covered it.
class PaintLog : public QObject
{
public:
    PaintLog(QTableView* view, const QElapsedTimer* clock) : m_view(view), m_clock(clock)
    {
        view->viewport()->installEventFilter(this);
    }

    // The most paints of one row inside any 100 ms, and the shortest time between two paints of a row.
    std::pair<int, qint64> worst() const
    {
        int most = 0;
        qint64 shortest = -1;
        for (const QList<qint64>& times : m_times) {
            for (qsizetype i = 0, j = 0; i < times.size(); ++i) {
                while (times.at(i) - times.at(j) >= 100)
                    ++j;
                most = std::max(most, int(i - j + 1));
                if (i > 0 && (shortest < 0 || times.at(i) - times.at(i - 1) < shortest))
                    shortest = times.at(i) - times.at(i - 1);
            }
        }
        return {most, shortest};
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && m_clock->isValid()) {
            const qint64 now = m_clock->elapsed();
            for (const QRect& rect : static_cast<QPaintEvent*>(event)->region()) {
                const int first = m_view->rowAt(rect.top());
                int last = m_view->rowAt(rect.bottom());
                if (first < 0)
                    continue;
                if (last < 0)
                    last = m_view->model()->rowCount() - 1;
                if (m_trace)
                    std::fprintf(stderr, "%lld paint rows %d-%d %dx%d\n", now, first, last, rect.width(), rect.height());
                for (int row = first; row <= last; ++row) {
                    // A row counts as painted when most of it is; a grid line of a neighbour is not.
                    const int top = m_view->rowViewportPosition(row);
                    const int covered = std::min(rect.bottom() + 1, top + m_view->rowHeight(row)) - std::max(rect.top(), top);
                    if (covered * 2 < m_view->rowHeight(row))
                        continue;
                    QList<qint64>& times = m_times[row];
                    if (times.isEmpty() || times.constLast() != now)
                        times.append(now);
                }
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QTableView* m_view;
    const QElapsedTimer* m_clock;
    QHash<int, QList<qint64>> m_times;
    const bool m_trace = qEnvironmentVariableIsSet("LINTBAY_BENCH_TRACE");
};

} // namespace

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
