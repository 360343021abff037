#include "app/ProgramValues.h"
#include "download/DownloadListModel.h"
#include "search/HandOff.h"
#include "search/ResultListModel.h"

#include <QDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace lintbay;

class TestHandOff : public QObject
{
    Q_OBJECT
private:
    static ProgramValues values(bool nameFromLink = false)
    {
        ProgramValues v;
        v.DefaultSavePath = QDir::toNativeSeparators(u"/data/default"_s);
        v.NameFromLink = nameFromLink;
        return v;
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
        const ProgramValues v = values();

        // New rows once; the failed one has a status and waits for its own pass.
        QCOMPARE(HandOverRows(results, AnalysePass::New, {}, v, list, {}), 2);
        QCOMPARE(HandOverRows(results, AnalysePass::New, {}, v, list, {}), 0);
        QCOMPARE(list.count(), 2);
        QCOMPARE(list.at(1).folder, u"/own/"_s);
        QCOMPARE(results.at(0).status, ResultListModel::statusDone());

        QCOMPARE(HandOverRows(results, AnalysePass::Failed, {}, v, list, {}), 1);
        QCOMPARE(results.at(2).status, ResultListModel::statusDone());
        QCOMPARE(list.count(), 3);

        // Everything again: statuses rewritten, no second row for a link.
        QCOMPARE(HandOverRows(results, AnalysePass::All, {}, v, list, {}), 3);
        QCOMPARE(list.count(), 3);
        QCOMPARE(HandOverRows(results, AnalysePass::Selected, {1}, v, list, {}), 1);

        // A stop request ends the pass after the current row.
        DownloadListModel fresh;
        int asked = 0;
        QCOMPARE(HandOverRows(results, AnalysePass::All, {}, v, fresh, [&] { return ++asked >= 1; }), 1);
        QCOMPARE(fresh.count(), 1);
    }
};

QTEST_GUILESS_MAIN(TestHandOff)
#include "tst_handoff.moc"
