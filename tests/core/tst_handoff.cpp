#include "download/DownloadListModel.h"
#include "search/HandOff.h"
#include "search/ResultListModel.h"

#include <QDir>
#include <QTest>
#include <QThread>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace lintbay;

class TestHandOff : public QObject
{
    Q_OBJECT
private:
    static HandOffNaming values(bool nameFromLink = false)
    {
        return {QDir::toNativeSeparators(u"/data/default"_s), nameFromLink};
    }

private slots:
    void oneRow_data()
    {
        QTest::addColumn<QString>("link");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("nameFromLink");
        QTest::addColumn<QString>("saveFolder");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("folder");
        QTest::newRow("title cleaned") << u"http://e/link?url=1"_s << u" 报告:2020/上半年?\r\n"_s << false << QString()
                                       << u"报告2020上半年"_s << u"/data/default/"_s;
        QTest::newRow("named after the link") << u"http://e/d/file.pdf"_s << u"标题"_s << true << u"/x"_s
                                              << u"file"_s << u"/x/"_s;
        QTest::newRow("dots and quotes") << u"http://e/l?u=2"_s << u"..\"a*b\"..."_s << false << u"/y/"_s
                                         << u"ab"_s << u"/y/"_s;
    }
    void oneRow()
    {
        QFETCH(QString, link);
        QFETCH(QString, title);
        QFETCH(bool, nameFromLink);
        QFETCH(QString, saveFolder);
        QFETCH(QString, name);
        QFETCH(QString, folder);
        DownloadListModel list;
        QVERIFY(加入下载列表(link, title, u"PDF"_s, saveFolder, u"http://e/s?p"_s, values(nameFromLink), list));
        QCOMPARE(list.count(), 1);
        const DownloadItem& item = list.at(0);
        QCOMPARE(item.key, link);
        QCOMPARE(item.name, name);
        QCOMPARE(item.type, u"PDF"_s);
        QCOMPARE(item.folder, QDir::toNativeSeparators(folder));
        QCOMPARE(item.referer, u"http://e/s?p"_s);
        QCOMPARE(item.state, DownloadItemState::Waiting);
    }

    void passes()
    {
        ResultListModel results;
        results.加入LV1(u"a"_s, u"k1"_s, u"p"_s, u"PDF"_s, QString());
        results.加入LV1(u"b"_s, u"k2"_s, u"p"_s, u"doc"_s, u"/own"_s);
        results.加入LV1(u"c"_s, u"k3"_s, u"p"_s, QString(), QString());
        results.setStatus(2, ResultListModel::statusFailed());
        DownloadListModel list;
        const HandOffNaming v = values();
        // The download list is reached (and the download window loaded) only for a row that qualifies.
        int asked = 0;
        const DownloadListSource target = [&] {
            ++asked;
            return &list;
        };

        // New rows once; the failed one has a status and waits for its own pass.
        QCOMPARE(HandOverRows(results, AnalysePass::New, {}, v, target, {}), 2);
        QCOMPARE(asked, 1);
        QCOMPARE(HandOverRows(results, AnalysePass::New, {}, v, target, {}), 0);
        QCOMPARE(asked, 1);
        QCOMPARE(HandOverRows(results, AnalysePass::Selected, {}, v, target, {}), 0);
        QCOMPARE(asked, 1);
        QCOMPARE(list.count(), 2);
        QCOMPARE(list.at(1).folder, u"/own/"_s);
        QCOMPARE(results.at(0).status, ResultListModel::statusDone());

        QCOMPARE(HandOverRows(results, AnalysePass::Failed, {}, v, target, {}), 1);
        QCOMPARE(results.at(2).status, ResultListModel::statusDone());
        QCOMPARE(list.count(), 3);

        // Everything again: statuses rewritten, no second row for a link.
        QCOMPARE(HandOverRows(results, AnalysePass::All, {}, v, target, {}), 3);
        QCOMPARE(list.count(), 3);
        QCOMPARE(HandOverRows(results, AnalysePass::Selected, {1}, v, target, {}), 1);

        // No list to hand to (the window could not be loaded): nothing is marked.
        results.setStatus(0, QString());
        QCOMPARE(HandOverRows(results, AnalysePass::New, {}, v, [] { return nullptr; }, {}), 0);
        QCOMPARE(results.at(0).status, QString());

        // A stop request ends the pass after the current row.
        DownloadListModel fresh;
        int stops = 0;
        QCOMPARE(HandOverRows(results, AnalysePass::All, {}, v, [&] { return &fresh; }, [&] { return ++stops >= 1; }), 1);
        QCOMPARE(fresh.count(), 1);
    }

    // The download window is closed, and its list thrown away, while a long pass lets events run:
    // the rows after that go to the list of the window loaded again, none to the closed one.
    void windowClosedDuringAPass()
    {
        ResultListModel results;
        constexpr int kRows = 50;
        for (int i = 0; i < kRows; ++i)
            results.加入LV1(u"t%1"_s.arg(i), u"http://e/%1"_s.arg(i), u"p"_s, u"PDF"_s, QString());
        DownloadListModel closed;
        DownloadListModel reloaded;
        int rowsAtClose = -1;
        QTimer::singleShot(0, [&] { rowsAtClose = closed.count(); });
        const auto source = [&] {
            // Loading the window takes a while: events run after the first row.
            if (rowsAtClose < 0 && closed.isEmpty())
                QThread::msleep(50);
            return rowsAtClose < 0 ? &closed : &reloaded;
        };
        const int handed = HandOverRows(results, AnalysePass::New, {}, values(), source, {});
        QCOMPARE(handed, kRows);
        QVERIFY(rowsAtClose > 0 && reloaded.count() > 0);
        QCOMPARE(closed.count(), rowsAtClose);
        QCOMPARE(closed.count() + reloaded.count(), kRows);
    }
};

QTEST_GUILESS_MAIN(TestHandOff)
#include "tst_handoff.moc"
