#include "FakeWeb.h"
#include "FakeWebModel.h"
#include "ReadingBrowser.h"
#include "TestHttpServer.h"
#include "app/HeadlessBrowser.h"
#include "app/ProgramSettings.h"
#include "app/SettingsStore.h"
#include "app/VerificationPage.h"
#include "search/ResultExtractor.h"
#include "search/ResultListModel.h"
#include "search/SearchSession.h"
#include "util/Wait.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace lintbay;
using namespace lintbay::test;

namespace {
// A result page with an optional pager; "next" is the text of the pager's last link.
QByteArray resultPage(int page, const QString& nextHref, const QString& nextText = u"下一页>"_s)
{
    QString html = u"<html><head><meta charset=\"utf-8\"></head><body><p>page %1</p>"_s.arg(page);
    if (!nextHref.isEmpty())
        html += u"<div id=\"page\"><a href=\"#\">1</a> <a href=\"%1\">%2</a></div>"_s.arg(nextHref, nextText.toHtmlEscaped());
    html += u"</body></html>"_s;
    return html.toUtf8();
}
// Opens a page outside a batch and waits until it is complete.
void openPage(Browser& browser, const QUrl& url)
{
    QSignalSpy complete(&browser, &Browser::documentComplete);
    browser.navigate(url);
    QVERIFY(complete.wait(5000));
}
} // namespace

class TestBatchSearch : public QObject
{
    Q_OBJECT
private:
    QNetworkAccessManager m_nam;
    QTemporaryDir m_dir;
    SettingsStore m_store{m_dir.filePath(u"Lintbay.ini"_s)};
    ProgramSettings m_settings{m_store};

    QStringList searchTargets(const TestHttpServer& server) const
    {
        QStringList targets;
        for (const TestHttpRequest& r : server.requests())
            if (r.path == u"/s"_s)
                targets << r.query;
        return targets;
    }

private slots:
    void batchOpensEveryQueryInOrder()
    {
        TestHttpServer server;
        server.routePrefix(u"/"_s, [](const TestHttpRequest&) { return TestHttpResponse::html(u"<p>x</p>"_s); });
        HeadlessBrowser browser(&m_nam);
        SearchSession session(&browser, m_settings);
        session.setPageLoadTimeout(5000);
        QSignalSpy followed(&session, &SearchSession::pageFollowingChanged);

        SearchSession::BatchRequest request;
        request.engine = server.url().toString();
        request.keywordText = u"机器学习\r\n\r\n  deep net  \r\n"_s;
        request.tickedTypes = {u"xls"_s, u"pdf"_s};
        QVERIFY(session.runBatch(request));

        QCOMPARE(searchTargets(server), (QStringList{
                                            u"q1=%BB%FA%C6%F7%D1%A7%CF%B0&q5=&tn=baiduadv&lm=0&ft=pdf"_s,
                                            u"q1=%BB%FA%C6%F7%D1%A7%CF%B0&q5=&tn=baiduadv&lm=0&ft=xls"_s,
                                            u"q1=deep%20net&q5=&tn=baiduadv&lm=0&ft=pdf"_s,
                                            u"q1=deep%20net&q5=&tn=baiduadv&lm=0&ft=xls"_s,
                                        }));
        QCOMPARE(followed.size(), 2 * 4); // each query's pages followed: started and ended
        QCOMPARE(server.requests().constLast().path, u"/"_s);
        QVERIFY(session.BatchStopFlag);
        QVERIFY(!session.insideBatch());
    }

    // Beside another run holding the browser a batch opens nothing.
    void refusedBesideAnotherRun_data()
    {
        QTest::addColumn<QString>("held");
        QTest::newRow("a following") << u"follow"_s;
        QTest::newRow("a pass") << u"pass"_s;
        QTest::newRow("an extraction") << u"extract"_s;
    }
    void refusedBesideAnotherRun()
    {
        QFETCH(QString, held);
        TestHttpServer server;
        server.routePrefix(u"/"_s,
                           [](const TestHttpRequest&) { return TestHttpResponse::html(u"<p>x</p>"_s); });
        HeadlessBrowser browser(&m_nam);
        SearchSession session(&browser, m_settings);
        const SequenceGuard running(session.sequences(), held);
        SearchSession::BatchRequest request;
        request.engine = server.url().toString();
        request.keywordText = u"机器学习"_s;
        request.tickedTypes = {u"pdf"_s};
        QVERIFY(!session.runBatch(request));
        QCOMPARE(server.requestCount(), 0);
        QVERIFY(!session.insideBatch());
    }

    void emptyKeywordsOpenOnlyTheHomePage()
    {
        TestHttpServer server;
        server.routePrefix(u"/"_s, [](const TestHttpRequest&) { return TestHttpResponse::html(u"<p>x</p>"_s); });
        HeadlessBrowser browser(&m_nam);
        SearchSession session(&browser, m_settings);
        SearchSession::BatchRequest request;
        request.engine = server.url().toString();
        request.keywordText = u"\r\n   \r\n"_s;
        request.tickedTypes = {u"pdf"_s};
        session.runBatch(request);
        QCOMPARE(server.requestCount(), 1);
        QCOMPARE(server.requests().constFirst().path, u"/"_s);
    }

    // A stop ends the page wait at once, and the wait for the home page after it. The batch still
    // runs while its closing home page loads: the window's button stops it then, rather than
    // starting another.
    void stopEndsTheBatchAtOnce_data()
    {
        QTest::addColumn<QString>("keywords");
        QTest::addColumn<QString>("stopAt"); // the page loading when the user presses "停止批量搜索"
        QTest::addColumn<int>("queries");
        QTest::newRow("a result page") << u"a\r\nb"_s << u"/s"_s << 1;
        QTest::newRow("the closing home page") << QString() << u"/"_s << 0;
    }
    void stopEndsTheBatchAtOnce()
    {
        QFETCH(QString, keywords);
        QFETCH(QString, stopAt);
        QFETCH(int, queries);
        TestHttpServer server;
        server.serve(u"/s"_s, TestHttpResponse::never());
        auto slowHome = TestHttpResponse::html(u"<p>home</p>"_s);
        slowHome.delayMs = 5000;
        server.serve(u"/"_s, slowHome);
        HeadlessBrowser browser(&m_nam);
        SearchSession session(&browser, m_settings);
        session.setPageLoadTimeout(20000);
        bool stoppedInside = false;
        connect(&server, &TestHttpServer::requestReceived, &session, [&](const TestHttpRequest& r) {
            if (r.path != stopAt)
                return;
            stoppedInside = session.insideBatch();
            session.stopBatch();
        });
        QSignalSpy followed(&session, &SearchSession::pageFollowingChanged);
        SearchSession::BatchRequest request;
        request.engine = server.url().toString();
        request.keywordText = keywords;
        request.tickedTypes = {u"pdf"_s, u"doc"_s};

        QElapsedTimer clock;
        clock.start();
        QVERIFY(session.runBatch(request));
        QVERIFY(stoppedInside);
        QVERIFY2(clock.elapsed() < 4000, "the stop must end the page waits at once");
        QVERIFY(!session.insideBatch());
        QCOMPARE(searchTargets(server).size(), queries);
        QCOMPARE(followed.size(), 2 * queries); // the page reached so far is followed once
        QTRY_COMPARE(server.requests().constLast().path, u"/"_s); // asked for all the same
    }

    void pageThatNeverLoadsIsGivenUp()
    {
        TestHttpServer server;
        server.serve(u"/s"_s, TestHttpResponse::never());
        server.serve(u"/"_s, TestHttpResponse::html(u"<p>home</p>"_s));
        HeadlessBrowser browser(&m_nam);
        SearchSession session(&browser, m_settings);
        session.setPageLoadTimeout(300);
        SearchSession::BatchRequest request;
        request.engine = server.url().toString();
        request.keywordText = u"a"_s;
        request.tickedTypes = {u"pdf"_s, u"doc"_s};
        session.runBatch(request);
        QCOMPARE(searchTargets(server).size(), 2);
    }

    void followsEveryPage_data()
    {
        QTest::addColumn<int>("pages");
        QTest::newRow("single page") << 1;
        QTest::newRow("two pages") << 2;
        QTest::newRow("four pages") << 4;
    }
    void followsEveryPage()
    {
        QFETCH(int, pages);
        TestHttpServer server;
        server.route(u"/s"_s, [pages](const TestHttpRequest& r) {
            const int page = r.queryItem(u"pn"_s).toInt() / 10 + 1;
            const QString next = page < pages ? u"/s?wd=x&pn=%1"_s.arg(page * 10) : QString();
            return TestHttpResponse::html(resultPage(page, next));
        });
        HeadlessBrowser browser(&m_nam);
        SearchSession session(&browser, m_settings);
        session.setNextPageTimeouts(5000, 0);
        session.setPageDelayText(u"0"_s);
        QStringList extracted;
        connect(&session, &SearchSession::pageExtracted, this, [&] { extracted << browser.url().query(); });

        openPage(browser, server.url(u"/s?wd=x&pn=0"_s));
        session.AddAllStopFlag = false;
        session.followAllPages();

        QCOMPARE(searchTargets(server).size(), pages);
        QCOMPARE(extracted.size(), 2 * pages);
        QVERIFY(extracted.constLast().endsWith(u"pn=%1"_s.arg((pages - 1) * 10)));
    }

    // Following the local engine's pages collects exactly its entries, page after page; a
    // single-page query is extracted without any click.
    void followsTheLocalEngine_data()
    {
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<int>("pages");
        QTest::newRow("one page") << u"pages1 报告"_s << 1;
        QTest::newRow("three pages") << u"pages3 report"_s << 3;
    }
    void followsTheLocalEngine()
    {
        QFETCH(QString, keyword);
        QFETCH(int, pages);
        fakeweb::FakeWeb web;
        m_store.set(keys::kSettings, keys::kSearchEngine, web.address());
        m_settings.setPromptSavePathOnExtract(0);
        HeadlessBrowser browser(&m_nam);
        SearchSession session(&browser, m_settings);
        session.setNextPageTimeouts(5000, 0);
        session.setPageDelayText(u"0"_s);
        ExtractionOptions options;
        options.removeSpaces = options.skipUnknownType = options.skipKana = options.toSimplified = true;
        session.setExtractionOptions(options);
        options.engineDomain = SearchEngineDomain(web.address());
        const ResultListModel& list = session.results();
        openPage(browser, web.searchUrl(keyword, u"pdf"_s));
        session.AddAllStopFlag = false;
        session.followAllPages();

        QCOMPARE(web.server()->requestsTo(u"/s"_s).size(), pages);
        const auto expected = fakeweb::FakeWebModel::expectedRows(keyword, u"pdf"_s, options, web.address());
        QCOMPARE(list.count(), expected.size());
        for (int i = 0; i < expected.size(); ++i) {
            QCOMPARE(list.at(i).title, expected.at(i).title);
            QCOMPARE(QUrl(list.at(i).key), QUrl(expected.at(i).link));
        }
    }

    // Any one sign gives the verification page away; a page of results has none of them.
    void recognisesTheVerificationPage_data()
    {
        QTest::addColumn<QString>("html");
        QTest::addColumn<QString>("address");
        QTest::addColumn<bool>("verification");
        const QString results = u"http://127.0.0.1/s?q1=x"_s;
        QTest::newRow("title") << u"<title> 百度安全验证 </title><p>x</p>"_s << results << true;
        QTest::newRow("address") << u"<p>x</p>"_s << u"https://wappass.baidu.com/static/captcha/tuxing.html"_s << true;
        QTest::newRow("script") << u"<script src=\"https://wappass.baidu.com/static/machine/js/api.js\"></script>"_s
                                << results << true;
        QTest::newRow("challenge markup") << u"<div class=\"box vcode-spin-img\"></div>"_s << results << true;
        QTest::newRow("the local engine's page") << fakeweb::FakeWeb::verificationPage(u"/s?q1=x"_s) << results << true;
        QTest::newRow("results") << fakeweb::FakeWeb::resultPage(fakeweb::FakeWebModel::parseQuery(u"q1=a&ft=pdf"_s),
                                                                 u"q1=a&ft=pdf"_s, u"http://127.0.0.1"_s)
                                 << results << false;
        QTest::newRow("a title that only mentions it") << u"<title>百度安全验证怎么过</title>"_s << results << false;
        QTest::newRow("a search for its address")
            << u"<p>x</p>"_s << u"http://127.0.0.1/s?q1=wappass.baidu.com/static/captcha/"_s << false;
    }
    void recognisesTheVerificationPage()
    {
        QFETCH(QString, html);
        QFETCH(QString, address);
        QFETCH(bool, verification);
        QCOMPARE(IsVerificationPage(*HtmlDocument::parse(html, QUrl(address))), verification);
    }

    // The engine's verification page comes in the middle of a query's pages: the run pauses, goes on
    // from the same page once the challenge is solved in the browser, and ends with the rows a run
    // without it finds; left unsolved for longer than the limit, it ends the run as a stop would.
    void verificationPausesTheRun_data()
    {
        QTest::addColumn<bool>("solve");
        // A page arrives meanwhile that cannot be read: still waiting.
        QTest::addColumn<bool>("unreadable");
        QTest::newRow("solved") << true << false;
        QTest::newRow("left too long") << false << false;
        QTest::newRow("unreadable a moment, then solved") << true << true;
    }
    void verificationPausesTheRun()
    {
        QFETCH(bool, solve);
        QFETCH(bool, unreadable);
        const QString keyword = u"pages3 report"_s;
        fakeweb::FakeWeb web;
        web.setVerifyAfter(1); // the query's second page
        m_store.set(keys::kSettings, keys::kSearchEngine, web.address());
        ReadingBrowser browser(&m_nam);
        SearchSession session(&browser, m_settings);
        session.setNextPageTimeouts(5000, 0);
        session.setPageDelayText(u"0"_s);
        session.setVerificationLimit(solve ? 20000 : 300);
        ExtractionOptions options;
        options.removeSpaces = options.skipUnknownType = options.skipKana = options.toSimplified = true;
        session.setExtractionOptions(options);
        options.engineDomain = SearchEngineDomain(web.address());
        QSignalSpy paused(&session, &SearchSession::verificationPaused);
        QSignalSpy timedOut(&session, &SearchSession::verificationTimedOut);
        connect(&session, &SearchSession::verificationPaused, this, [&](bool on) {
            if (on && unreadable) {
                QTimer::singleShot(10, &browser, [&] {
                    browser.unreadable = true;
                    emit browser.documentComplete(browser.url());
                });
            }
            if (on && solve)
                QTimer::singleShot(unreadable ? 200 : 50, &browser, [&] {
                    if (const HtmlDocumentPtr doc = browser.document())
                        browser.click(doc->getElementById(u"vcode-submit"_s).locator());
                });
        });
        openPage(browser, web.searchUrl(keyword, u"pdf"_s));
        QVERIFY(session.followAllPages());

        QCOMPARE(paused.size(), 2);
        QCOMPARE(timedOut.size(), solve ? 0 : 1); // said, as nobody stopped it
        QVERIFY(!session.pausedForVerification());
        QCOMPARE(web.verificationSolved(), solve);
        const auto expected = fakeweb::FakeWebModel::expectedRows(keyword, u"pdf"_s, options, web.address());
        const int firstPage =
            int(fakeweb::FakeWebModel::expectedRows(keyword, u"pdf"_s, 0, options, web.address()).size());
        QCOMPARE(session.results().count(), solve ? int(expected.size()) : firstPage);
        if (!solve)
            QVERIFY(session.AddAllStopFlag);
        for (int i = 0; i < session.results().count(); ++i)
            QCOMPARE(session.results().at(i).title, expected.at(i).title);
    }

    // The pager's link then and now is followed; nothing else that looks like it is.
    // A next link that opens nothing ends the pages rather than holding the run on one for good.
    void nextPageLinkText_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("href");
        QTest::addColumn<bool>("followed");
        const QString next = u"/s?pn=10"_s;
        QTest::newRow("until 2019") << u"下一页>"_s << next << true;
        QTest::newRow("since 2020") << u"下一页 >"_s << next << true;
        QTest::newRow("padded, full-width space") << u"\u3000下一页\n >  "_s << next << true;
        QTest::newRow("previous page") << u"<上一页"_s << next << false;
        QTest::newRow("a page number") << u"2"_s << next << false;
        QTest::newRow("without the arrow") << u"下一页"_s << next << false;
        QTest::newRow("inside other text") << u"去下一页>看看"_s << next << false;
        QTest::newRow("full-width arrow") << u"下一页＞"_s << next << false;
        QTest::newRow("to an anchor") << u"下一页>"_s << u"#"_s << false;
        QTest::newRow("to a script") << u"下一页>"_s << u"javascript:void(0)"_s << false;
    }
    void nextPageLinkText()
    {
        QFETCH(QString, text);
        QFETCH(QString, href);
        QFETCH(bool, followed);
        TestHttpServer server;
        server.serve(u"/s"_s, TestHttpResponse::html(resultPage(1, href, text)));
        HeadlessBrowser browser(&m_nam);
        SearchSession session(&browser, m_settings);
        session.setNextPageTimeouts(5000, 0);
        session.setPageDelayText(u"0"_s);
        openPage(browser, server.url(u"/s?pn=0"_s));
        session.AddAllStopFlag = false;
        QCOMPARE(session.下一页(), followed);
        QCOMPARE(server.requestCount(), followed ? 2 : 1);
    }

    // "停止加入全部" and "停止批量搜索" both end the delay between pages at once.
    void stopDuringTheDelayEndsTheRun_data()
    {
        QTest::addColumn<bool>("batch");
        QTest::newRow("following pages") << false;
        QTest::newRow("batch") << true;
    }
    void stopDuringTheDelayEndsTheRun()
    {
        QFETCH(bool, batch);
        TestHttpServer server;
        server.route(u"/s"_s, [](const TestHttpRequest& r) {
            const int page = r.queryItem(u"pn"_s).toInt() / 10 + 1;
            return TestHttpResponse::html(resultPage(page, u"/s?pn=%1"_s.arg(page * 10)));
        });
        HeadlessBrowser browser(&m_nam);
        SearchSession session(&browser, m_settings);
        session.setNextPageTimeouts(5000, 0);
        session.setPageDelayText(u"30"_s);
        QSignalSpy extractions(&session, &SearchSession::pageExtracted);
        if (!batch)
            openPage(browser, server.url(u"/s?pn=0"_s));
        // The user presses the stop button once the second page is shown.
        int shown = batch ? 0 : 1;
        connect(&browser, &Browser::documentComplete, &session, [&] {
            if (++shown == 2)
                QTimer::singleShot(50, &session, [&] {
                    if (batch)
                        session.stopBatch();
                    else
                        session.AddAllStopFlag = true;
                });
        });
        QElapsedTimer clock;
        clock.start();
        if (batch) {
            SearchSession::BatchRequest request;
            request.engine = server.url().toString();
            request.keywordText = u"a"_s;
            request.tickedTypes = {u"pdf"_s};
            session.runBatch(request);
        } else {
            session.AddAllStopFlag = false;
            session.followAllPages();
        }
        QVERIFY2(clock.elapsed() < 10000, "the stop must end the delay at once");
        QCOMPARE(searchTargets(server).size(), 2);
        QCOMPARE(extractions.size(), 3); // page 1 before the click, page 2 after the loop, and once more at the end
    }

    void delayTextIsRespected_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");
        QTest::newRow("not a number") << u"abc"_s << 0 << 500;
        QTest::newRow("zero") << u"0"_s << 0 << 500;
        QTest::newRow("one second") << u"1"_s << 900 << 5000;
        QTest::newRow("whole seconds only") << u"1.9"_s << 900 << 1900;
    }
    void delayTextIsRespected()
    {
        QFETCH(QString, text);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        SearchSession session(nullptr, m_settings);
        session.setPageDelayText(text);
        session.AddAllStopFlag = false;
        QElapsedTimer clock;
        clock.start();
        session.提取信息限速延时();
        QVERIFY(clock.elapsed() >= minMs);
        QVERIFY(clock.elapsed() < maxMs);
    }
};

QTEST_GUILESS_MAIN(TestBatchSearch)
#include "tst_batchsearch.moc"
