// Times the download list's operations on 100,000 rows. Run a release build:
//   bench_downloadlist [rows] [runs]
// Prints the median of the runs per operation, as a Markdown table.

#include "download/DownloadCounters.h"
#include "download/DownloadListModel.h"
#include "download/ListOperations.h"
#include "download/UrlReplace.h"
#include "util/TextFile.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <functional>
#include <vector>

using namespace Qt::StringLiterals;
using namespace lintbay;

namespace {

const QStringList kTypes{u"pdf"_s, u"doc"_s,  u"PDF"_s, u"xls"_s, u"ppt"_s,
                         u"htm"_s, u"html"_s, u"rtf"_s, u"xml"_s};
const QStringList kWords{u"未知"_s, u"下载失败"_s, u"下载取消"_s};
const QStringList kProgressWords{u"大文件，跳过"_s, u"已存在，跳过"_s, u"无法替换"_s};
const QString kSyllables = u"年度报告研究分析中国经济发展技术标准会议论文市场调查数据统计管理系统设计"_s;

// Rows as a list holds them after a while of downloading: every state, numbers and status words.
QList<DownloadItem> makeRows(int n, const QString& folder)
{
    QRandomGenerator rng(20240601);
    QList<DownloadItem> rows;
    rows.reserve(n);
    for (int i = 0; i < n; ++i) {
        DownloadItem it;
        it.key = u"http://www.example.com/link?url=%1"_s.arg(i);
        if (i % 10 == 0)
            it.key += u"|http://mirror.example.com/f/%1.pdf"_s.arg(i);
        it.referer = u"http://www.example.com/s?wd=%1&pn=%2"_s.arg(i % 97).arg(i % 760);
        QString name;
        const int len = 4 + int(rng.bounded(16));
        for (int c = 0; c < len; ++c)
            name += kSyllables.at(rng.bounded(int(kSyllables.size())));
        if (i % 5 == 0)
            name += u" Report %1"_s.arg(i);
        it.name = name;
        it.type = kTypes.at(rng.bounded(int(kTypes.size())));
        it.folder = folder;
        it.state = DownloadItemState(1 + rng.bounded(4));
        const qint64 size = 1000 + rng.bounded(20'000'000);
        switch (it.state) {
        case DownloadItemState::Waiting:
            break;
        case DownloadItemState::Downloading: {
            const qint64 got = rng.bounded(size);
            it.size = QString::number(size);
            it.received = QString::number(got);
            it.progress = QString::number(got * 100 / size) + u'%';
            break;
        }
        case DownloadItemState::Done:
            it.size = QString::number(size);
            it.received = it.size;
            it.progress = (i % 13 == 0) ? kProgressWords.at(i % 3) : u"100%"_s;
            break;
        case DownloadItemState::Failed:
            it.size = kWords.at(rng.bounded(int(kWords.size())));
            break;
        }
        rows.append(it);
    }
    return rows;
}

struct Timing
{
    QString name;
    double medianMs = 0;
    double maxMs = 0;
};

// Runs `setup` (not timed) and `work` (timed) `runs` times.
Timing measure(const QString& name, int runs, const std::function<void()>& setup,
               const std::function<void()>& work)
{
    std::vector<double> ms;
    for (int r = 0; r < runs; ++r) {
        setup();
        QElapsedTimer t;
        t.start();
        work();
        ms.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(ms.begin(), ms.end());
    return {name, ms[ms.size() / 2], ms.back()};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int n = args.size() > 1 ? args.at(1).toInt() : 100'000;
    const int runs = args.size() > 2 ? args.at(2).toInt() : 5;

    QTemporaryDir tmp; // the rows' folder: empty, so file deletions look up files that are not there
    const QString folder = folderWithSeparator(tmp.path());
    const QList<DownloadItem> rows = makeRows(n, folder);
    const auto noSetup = [] {};
    QList<Timing> results;

    DownloadListModel list;
    auto refill = [&] {
        list.clear();
        list.addItems(rows);
    };

    results << measure(
        u"add rows one by one (hand-off)"_s, runs, [&] { list.clear(); },
        [&] {
            for (const DownloadItem& it : rows)
                list.addItem(it.key, it.name, it.type, it.folder, it.referer, it.state);
        });
    results << measure(
        u"add rows as one batch"_s, runs, [&] { list.clear(); }, [&] { list.addItems(rows); });

    refill();
    QString text;
    results << measure(u"counters text (kept counts)"_s, runs, noSetup, [&] { text = countersText(list); });
    results << measure(u"counters text (walk over the rows)"_s, runs, noSetup,
                       [&] { text = countersText(countStates(list.rows())); });
    results << measure(u"list finished / not started / failed+pages"_s, runs, noSetup, [&] {
        volatile bool done = 检测是否下载列表完毕(list);
        volatile int a = 统计未下载项数目(list);
        volatile int b = CountFailedAndPageRows(list);
        (void)done, (void)a, (void)b;
    });

    const QStringList columnNames{u"名称"_s,     u"类型"_s,   u"文件大小"_s,
                                  u"已下载数"_s, u"百分比"_s, u"保存路径"_s};
    for (int col = 0; col < DownloadListModel::ColumnCount; ++col) {
        results << measure(
            u"sort by %1"_s.arg(columnNames.at(col)), runs, [&] { list.shuffle(); },
            [&] { list.sort(col, col % 2 ? Qt::AscendingOrder : Qt::DescendingOrder); });
    }
    results << measure(u"shuffle"_s, runs, noSetup, [&] { ShuffleList(list, {}); });
    results << measure(
        u"key lookup after a reorder (index rebuilt)"_s, runs, [&] { list.shuffle(); },
        [&] { (void)list.rowOfKey(rows.at(n / 2).key); });

    results << measure(u"remove failed rows"_s, runs, refill, [&] { removeFailedRows(list, {}); });
    results << measure(u"remove done rows"_s, runs, refill, [&] { removeDoneRows(list, {}); });
    QList<int> everyThird;
    for (int i = 0; i < n; i += 3)
        everyThird << i;
    results << measure(u"remove selected rows (every third)"_s, runs, refill,
                       [&] { removeSelectedRows(list, everyThird, {}); });
    results << measure(u"clear"_s, runs, refill, [&] { clearList(list, {}); });

    results << measure(u"re-download failed rows"_s, runs, refill,
                       [&] { RequeueRows(list, RequeueRule::Failed); });
    results << measure(u"re-download web-page rows"_s, runs, refill,
                       [&] { RequeueRows(list, RequeueRule::WebPages); });
    results << measure(u"re-download failed and web-page rows"_s, runs, refill,
                       [&] { RequeueRows(list, RequeueRule::FailedAndWebPages); });
    results << measure(u"re-download size < 10,000,000"_s, runs, refill,
                       [&] { RequeueRows(list, RequeueRule::SmallerThan, {}, 10'000'000); });
    results << measure(u"cancel selected (every third)"_s, runs, refill,
                       [&] { cancelSelectedRows(list, everyThird, {}); });
    results << measure(u"delete files of failed rows"_s, runs, refill, [&] { deleteFailedFiles(list); });

    const QString exportPath = tmp.filePath(u"names.txt"_s);
    refill();
    results << measure(u"export all names (lines + file)"_s, runs, noSetup,
                       [&] { writeTextFile(exportPath, exportNameLines(list, false)); });
    results << measure(u"export unfinished names (lines + file)"_s, runs, noSetup,
                       [&] { writeTextFile(exportPath, exportNameLines(list, true)); });
    results << measure(u"batch URL replace (every row)"_s, runs, refill,
                       [&] { replaceInAddresses(list, u"www.EXAMPLE.com"_s, u"www.example.org"_s); });

    QTextStream out(stdout);
    out << "Rows: " << n << ", runs per operation: " << runs << "\n\n";
    out << "| operation | median ms | max ms |\n|---|---:|---:|\n";
    for (const Timing& t : results)
        out << "| " << t.name << " | " << QString::number(t.medianMs, 'f', 1) << " | "
            << QString::number(t.maxMs, 'f', 1) << " |\n";
    out.flush();
    return 0;
}
