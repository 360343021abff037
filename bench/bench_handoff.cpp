// Hands 100,000 result rows over to the download list, as "分析全部" does: the median time of
// HandOverRows over a fresh download list. Usage: bench_handoff [rows] [runs]
#include "download/DownloadListModel.h"
#include "search/HandOff.h"
#include "search/ResultListModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>

using namespace Qt::StringLiterals;
using namespace lintbay;

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int rows = args.size() > 1 ? args.at(1).toInt() : 100000;
    const int runs = args.size() > 2 ? args.at(2).toInt() : 5;

    ResultListModel results;
    QList<SearchResult> batch;
    for (int i = 0; i < rows; ++i)
        batch.append({u"第%1份 机器学习研究报告：2024/上半年?"_s.arg(i), u"PDF"_s, QString(), QString(),
                      u"http://127.0.0.1:8123/link?url=token%1"_s.arg(i), u"http://127.0.0.1:8123/s?q1=x"_s});
    results.addResults(batch);
    const HandOffNaming naming{u"/home/user/12345"_s, false};

    QList<double> ms;
    for (int r = 0; r < runs; ++r) {
        DownloadListModel list;
        QElapsedTimer t;
        t.start();
        const int handed = HandOverRows(results, AnalysePass::All, {}, naming, [&list] { return &list; }, {});
        ms << t.nsecsElapsed() / 1e6;
        if (handed != rows || list.count() != rows)
            return 1;
    }
    std::sort(ms.begin(), ms.end());
    std::printf("| hand-off of %d result rows (分析全部) | %.1f | %.1f |\n", rows, ms.at(ms.size() / 2), ms.last());
    return 0;
}
