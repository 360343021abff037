// The download window as a user has it: shown (offscreen), with its real list view, a list of many
// rows handed over from the search window, and every list command run from its menu. For each step:
// how long the command took, and the longest the window's event loop went without turning (a probe
// timer ticks every 10 ms; the gap between two ticks, from the command's start until the window has
// painted the result). Also the memory the rows cost with the view.
//
//   bench_window [rows]      (default 100000; run with QT_QPA_PLATFORM=offscreen)
#include "LoopProbe.h"
#include "TestProgram.h"
#include "app/GuiContext.h"
#include "download/DownloadListModel.h"
#include "download/fFileDownload.h"
#include "search/ResultListModel.h"
#include "search/fWebSearch.h"
#include "util/FileDialogs.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace Qt::StringLiterals;
using namespace lintbay;
using namespace lintbay::test;

namespace {

// Resident memory of this process in kB.
qint64 residentKb()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

struct Step
{
    QString name;
    qint64 ms = 0;
    qint64 gapMs = 0;
};

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    const int rows = argc > 1 ? QByteArray(argv[1]).toInt() : 100000;

    TestProgram program({{u"搜索引擎网址"_s, u"http://127.0.0.1:9"_s}});
    program.start();
    fWebSearch* search = program.openSearch();
    if (!search) {
        std::fprintf(stderr, "the search window did not open\n");
        return 1;
    }
    ResultListModel* results = search->results();
    for (int i = 0; i < rows; ++i) {
        // Titles that need cleaning, as the engine gives them.
        results->加入LV1(u"关于%1年度报告的_分析 - 第%2部分"_s.arg(2000 + i % 25).arg(i),
                         u"http://127.0.0.1:9/link?url=%1"_s.arg(i), u"http://127.0.0.1:9/s"_s,
                         i % 7 == 0 ? u"DOC"_s : u"PDF"_s, QString());
    }

    LoopProbe probe;
    QList<Step> steps;
    const auto settle = [] {
        // The window paints what changed, and anything queued runs.
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 150)
            QApplication::processEvents(QEventLoop::AllEvents, 10);
    };
    const auto measure = [&](const QString& name, const std::function<void()>& command) {
        settle();
        probe.reset();
        QElapsedTimer clock;
        clock.start();
        command();
        // A long list is ordered beside the window: the step ends when the rows have their order.
        const fFileDownload* shown = program.gui.loadedDownloadWindow();
        while (shown && shown->list()->isSorting())
            QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
        const qint64 ms = clock.elapsed();
        settle();
        steps.append({name, ms, probe.longest()});
    };

    const qint64 before = residentKb();
    measure(u"hand-off (分析全部)"_s, [&] { search->findChild<QAction*>(u"menu分析全部"_s)->trigger(); });
    fFileDownload* window = program.gui.loadedDownloadWindow();
    if (!window || window->list()->count() != rows) {
        std::fprintf(stderr, "the hand-off did not fill the list\n");
        return 1;
    }
    window->show();
    window->resize(1000, 700);
    settle();
    const qint64 after = residentKb();

    DownloadListModel* list = window->list();
    auto* view = window->findChild<QTableView*>(u"ListView3"_s);
    // States, sizes and types as a long run leaves them.
    for (int row = 0; row < list->count(); ++row) {
        if (row % 4 == 1)
            list->setState(row, DownloadItemState::Done);
        else if (row % 4 == 2)
            list->setState(row, DownloadItemState::Failed);
        if (row % 4 != 0)
            list->setTransferColumns(row, QString::number(row * 37 % 9000000), QString::number(row % 5000),
                                     QString::number(row % 101) + u'%');
        if (row % 9 == 0)
            list->setType(row, u"htm"_s);
    }
    settle();

    const auto action = [&](const char* name) {
        return [&, name] { window->findChild<QAction*>(QString::fromUtf8(name))->trigger(); };
    };
    measure(u"select all"_s, action("menu全选专利列表"));
    measure(u"scroll to the end"_s, [&] { view->scrollToBottom(); });
    measure(u"select none"_s, action("menu全不选"));
    measure(u"fit the columns (自动列宽)"_s, action("menu自动列宽"));
    const QStringList columns{u"名称"_s, u"类型"_s, u"文件大小"_s, u"已下载数"_s, u"百分比"_s, u"保存路径"_s};
    for (int column = 0; column < columns.size(); ++column) {
        for (const char* order : {"up", "down"}) {
            measure(u"sort by %1, %2"_s.arg(columns.at(column), QString::fromLatin1(order)),
                    [&] { emit view->horizontalHeader()->sectionClicked(column); });
        }
    }
    measure(u"shuffle"_s, action("menu随机排序列表"));
    const QString exported = program.dir.filePath(u"names.txt"_s);
    SetFileNamePicker([exported](const QString&) { return exported; });
    measure(u"export all names"_s, action("menu导出全部名称"));
    measure(u"export unfinished names"_s, action("menu导出未完成项名称"));
    SetInputPicker([](const QString&) { return u"1000000"_s; });
    measure(u"re-download size < 1,000,000"_s, action("menu重新下载文件大小小于指定数字的项"));
    measure(u"re-download web pages"_s, action("menu重新下载文件类型为HTM和HTML项"));
    measure(u"re-download failed and web pages"_s, action("menu重新下载出错项和网页项"));
    measure(u"re-download failed"_s, action("menu重新下载出错项"));
    for (int row = 0; row < list->count(); row += 3)
        list->setState(row, row % 2 ? DownloadItemState::Done : DownloadItemState::Failed);
    settle();
    measure(u"remove failed rows"_s, action("menu清除全部出错项"));
    measure(u"remove done rows"_s, action("menu清除完成项"));
    measure(u"select all, re-download selected"_s, [&] {
        window->findChild<QAction*>(u"menu全选专利列表"_s)->trigger();
        window->findChild<QAction*>(u"menu重新下载选中项"_s)->trigger();
    });
    measure(u"remove selected rows"_s, action("menu清除选中项"));
    SetFileNamePicker({});
    SetInputPicker({});

    std::printf("rows: %d\n", rows);
    std::printf("memory: %lld kB before the hand-off, %lld kB with the list shown: %.0f bytes per row\n",
                before, after, (after - before) * 1024.0 / rows);
    std::printf("| step | ms | longest loop gap ms |\n|---|---:|---:|\n");
    for (const Step& step : steps)
        std::printf("| %s | %lld | %lld |\n", qPrintable(step.name), step.ms, step.gapMs);
    std::fflush(stdout);
    window->list()->clear();
    return 0;
}
