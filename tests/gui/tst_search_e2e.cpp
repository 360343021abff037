#include "FakeWeb.h"
#include "FakeWebModel.h"
#include "TestHttpServer.h"
#include "app/GuiContext.h"
#include "app/AppContext.h"
#include "app/SettingsStore.h"
#include "app/fCover.h"
#include "options/IniRegistry.h"
#include "app/Browser.h"
#include "search/ResultListModel.h"
#include "search/SearchSession.h"
#include "search/fWebSearch.h"
#include "util/Messages.h"

#include <QCheckBox>
#include <QLabel>
#include <QTimer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineProfile>

using namespace Qt::StringLiterals;
using namespace lintbay;
using namespace lintbay::fakeweb;

// The whole search pipeline in the embedded engine: a batch against the local search engine.
class TestSearchEndToEnd : public QObject
{
    Q_OBJECT
private slots:
    // With and without the engine's verification page on the second line's second page: the batch
    // pauses there, the challenge is solved in the embedded browser, and the batch goes on from that
    // page, ending with the same list.
    void batchFillsTheListInPageOrder_data()
    {
        QTest::addColumn<bool>("verification");
        QTest::newRow("plain") << false;
        QTest::newRow("verification page on the way") << true;
    }
    void batchFillsTheListInPageOrder()
    {
        QFETCH(bool, verification);
        FakeWeb web;
        if (verification)
            web.setVerifyAfter(5);
        QTemporaryDir dir;
        SettingsStore settings(dir.filePath(u"Lintbay.ini"_s));
        IniRegistry registry(dir.filePath(u"registry.ini"_s));
        settings.set(keys::kSettings, keys::kSearchEngine, web.address());
        settings.set(u"fWebSearch"_s, u"Text1"_s, u"pages2 alpha\r\n\r\npages2 beta"_s);
        settings.set(u"fWebSearch"_s, u"combo1"_s, 0); // no page delay
        settings.set(keys::kSettings, keys::kPromptSavePath, u"0"_s); // no folder question
        AppContext app(settings, registry);
        auto* profile = new QWebEngineProfile(this);
        GuiContext gui(app, profile);
        gui.pageSettleMs = 100;
        QStringList messages;
        SetMessageSink([&](MessageIcon, const QString& text) {
            messages << text;
            return true;
        });

        auto* cover = new fCover(gui);
        gui.cover = cover;
        cover->endProgram = [] {};
        cover->load();
        auto* open = cover->findChild<QPushButton*>(u"Command1"_s);
        QTRY_VERIFY(open->isEnabled());
        open->click();
        fWebSearch* search = gui.search;
        QVERIFY(search);
        for (const QString& name : {u"Check8"_s, u"Check9"_s, u"Check11"_s})
            search->findChild<QCheckBox*>(name)->setChecked(false); // pdf and xls stay

        QStringList pauseTexts;
        connect(search->session(), &SearchSession::verificationPaused, search, [&](bool paused) {
            if (!paused)
                return;
            pauseTexts << search->findChild<QLabel*>(u"StatusPanel3"_s)->text();
            // The user solves the challenge in the search window's own browser.
            QTimer::singleShot(200, search, [search] {
                if (const HtmlDocumentPtr doc = search->browser()->document())
                    search->browser()->click(doc->getElementById(u"vcode-submit"_s).locator());
            });
        });
        auto* batch = search->findChild<QPushButton*>(u"Command1"_s);
        batch->click(); // returns when the batch has walked every query
        QCOMPARE(pauseTexts.size(), verification ? 1 : 0);
        if (verification) {
            QVERIFY(pauseTexts.at(0).contains(u"安全验证"_s));
            QVERIFY(web.verificationSolved());
        }
        QCOMPARE(batch->text(), u"开始批量搜索提取"_s);
        QVERIFY(batch->isEnabled());

        QList<ExpectedRow> expected;
        QSet<QString> links;
        const ExtractionOptions options = search->extractionOptions();
        for (const QString& keyword : {u"pages2 alpha"_s, u"pages2 beta"_s})
            for (const QString& ft : {u"pdf"_s, u"xls"_s})
                for (const ExpectedRow& row : FakeWebModel::expectedRows(keyword, ft, options, web.address()))
                    if (!links.contains(row.link)) {
                        links.insert(row.link);
                        expected << row;
                    }
        QVERIFY(expected.size() > 20);

        const ResultListModel* list = search->results();
        QCOMPARE(list->count(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            QCOMPARE(list->at(i).title, expected.at(i).title);
            QCOMPARE(list->at(i).type, expected.at(i).type);
            QCOMPARE(QUrl(list->at(i).key), QUrl(expected.at(i).link));
        }
        QVERIFY(messages.isEmpty());

        // Every result page of every query was requested, in order.
        QStringList pages;
        for (const auto& r : web.server()->requestsTo(u"/s"_s))
            pages << r.queryItem(u"ft"_s) + r.queryItem(u"pn"_s);
        QStringList expectedPages{u"pdf"_s, u"pdf10"_s, u"xls"_s, u"xls10"_s, u"pdf"_s, u"pdf10"_s, u"xls"_s,
                                  u"xls10"_s};
        if (verification)
            expectedPages.insert(5, u"pdf10"_s); // answered with the challenge, then again with results
        QCOMPARE(pages, expectedPages);

        QVERIFY(search->close());
        delete cover;
        SetMessageSink({});
    }
};

QTEST_MAIN(TestSearchEndToEnd)
#include "tst_search_e2e.moc"
