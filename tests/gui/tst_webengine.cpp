#include "TestHttpServer.h"
#include "app/AppContext.h"
#include "app/GuiContext.h"
#include "app/SettingsStore.h"
#include "app/WebEngineBrowser.h"
#include "options/IniRegistry.h"
#include "tools/CacheListing.h"
#include "tools/UrlCache.h"
#include "tools/fIEcache.h"
#include "util/Messages.h"

#include <QWebEnginePage>

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineProfile>
#include <QWidget>

using namespace Qt::StringLiterals;
using namespace lintbay;
using namespace lintbay::test;

// The embedded engine behind the Browser interface, against pages of the local server.
class TestWebEngine : public QObject
{
    Q_OBJECT
private:
    TestHttpServer m_server;
    QWebEngineProfile* m_profile = nullptr;
    QWidget* m_host = nullptr;

    bool load(WebEngineBrowser& browser, const QUrl& url)
    {
        QSignalSpy complete(&browser, &Browser::documentComplete);
        browser.navigate(url);
        return complete.wait(20000);
    }

private slots:
    void initTestCase()
    {
        m_server.serve(
            u"/first"_s,
            TestHttpResponse::html(
                u"<html><body><div class=\"result c-container\"><a href=\"/second?x=1\">第二页</a>"
                "</div><a id=\"pop%1\" href=\"/third\" target=\"_blank\">弹出</a></body></html>"_s));
        m_server.serve(u"/second"_s,
                       TestHttpResponse::html(u"<html><body><p id=\"here\">第二</p></body></html>"_s));
        m_server.serve(u"/third"_s,
                       TestHttpResponse::html(u"<html><body><p id=\"t\">三</p></body></html>"_s));
        m_server.serve(u"/alert"_s,
                       TestHttpResponse::html(
                           u"<html><body><script>alert('x'); confirm('y');</script><p id=\"after\">ok</p>"
                           "</body></html>"_s));
        m_server.serve(u"/leave"_s,
                       TestHttpResponse::html(u"<html><body style=\"height:100%\"><p>form</p><script>"
                                              "addEventListener('beforeunload', e => { e.preventDefault(); "
                                              "e.returnValue = ''; });</script></body></html>"_s));
        // Built by its script as no parser would build it: the snapshot counts one anchor more.
        m_server.serve(u"/rebuilt"_s,
                       TestHttpResponse::html(u"<html><body><div id=\"top\"></div><script>"
                                              "var a = document.createElement('a'); a.href = '/third';"
                                              "var d = document.createElement('div');"
                                              "var b = document.createElement('a'); b.href = '/third';"
                                              "b.textContent = 'inner'; d.appendChild(b); a.appendChild(d);"
                                              "document.getElementById('top').appendChild(a);</script>"
                                              "<a href=\"/second\">next</a><a href=\"/first\">after</a>"
                                              "</body></html>"_s));
        m_server.serve(u"/cached"_s, TestHttpResponse::html(u"<html><body><p>kept</p></body></html>"_s)
                                         .withHeader("Cache-Control", "max-age=3600"));
        m_profile = new QWebEngineProfile(this);
        m_host = new QWidget;
        m_host->resize(800, 600);
        m_host->show();
    }
    void cleanupTestCase() { delete m_host; }

    // "清空IE浏览器缓存" empties the engine's own HTTP cache too: a page it kept is asked for again.
    void clearingTheCachesClearsTheEngines()
    {
        QTemporaryDir dir;
        SetUrlCacheFolder(dir.filePath(u"home/.cache/Lintbay"_s));
        SetCacheLocations(
            CacheLocations::forHome(dir.filePath(u"home"_s), dir.filePath(u"home/.cache/Lintbay"_s)));
        SetMessageSink([](MessageIcon, const QString&) { return true; });
        SettingsStore store(dir.filePath(u"Lintbay.ini"_s));
        IniRegistry registry(dir.filePath(u"registry.ini"_s));
        AppContext app(store, registry);
        GuiContext gui(app, m_profile);
        const QUrl page = m_server.url(u"/cached"_s);
        const auto fetches = [&] { return m_server.requestsTo(u"/cached"_s).size(); };
        const auto open = [&] {
            WebEngineBrowser browser(m_profile, m_host);
            return load(browser, page);
        };
        QVERIFY(open());
        QVERIFY(open());
        QCOMPARE(fetches(), 1); // the second came from the engine's cache

        ClearBrowserCache(gui, nullptr, false);
        // The engine clears in the background: until it has, pages still come from the cache.
        QTRY_VERIFY_WITH_TIMEOUT((open(), fetches() > 1), 20000);
        SetMessageSink({});
        SetCacheLocations({});
        SetUrlCacheFolder({});
    }

    void loadsReadsAndClicks()
    {
        WebEngineBrowser browser(m_profile, m_host);
        QVERIFY(load(browser, m_server.url(u"/first"_s)));
        QVERIFY(!browser.isBusy());
        HtmlDocumentPtr doc = browser.document();
        QVERIFY(doc);
        QCOMPARE(doc->url(), m_server.url(u"/first"_s));
        const QList<HtmlElement> divs = doc->getElementsByTagName(u"div"_s);
        QCOMPARE(divs.size(), 1);
        const HtmlElement link = divs.constFirst().firstByTagName(u"a"_s);
        QCOMPARE(link.innerText(), u"第二页"_s);
        QCOMPARE(link.href(), m_server.url(u"/second?x=1"_s).toString());

        QSignalSpy complete(&browser, &Browser::documentComplete);
        QVERIFY(browser.click(link.locator()));
        QVERIFY(complete.wait(20000));
        QCOMPARE(browser.url(), m_server.url(u"/second?x=1"_s));
        QVERIFY(!browser.document()->getElementById(u"here"_s).isNull());

        // Back and forward walk the history. (The engine skips, on the way back, pages that
        // navigated on by script without a user's gesture, so the history is made by navigations.)
        QVERIFY(load(browser, m_server.url(u"/third"_s)));
        browser.goBack();
        QTRY_COMPARE_WITH_TIMEOUT(browser.url(), m_server.url(u"/second?x=1"_s), 20000);
        browser.goForward();
        QTRY_COMPARE_WITH_TIMEOUT(browser.url(), m_server.url(u"/third"_s), 20000);

        // Back to the address navigated to before the last: a load of its own, reported as such.
        QVERIFY(load(browser, m_server.url(u"/first"_s)));
        QVERIFY(load(browser, m_server.url(u"/third"_s)));
        QSignalSpy back(&browser, &Browser::documentComplete);
        browser.goBack();
        QVERIFY(back.wait(20000));
        QCOMPARE(back.last().at(0).toUrl(), m_server.url(u"/first"_s));
        QVERIFY(!browser.isBusy());
    }

    void popUpsStayInTheSameView()
    {
        WebEngineBrowser browser(m_profile, m_host);
        QVERIFY(load(browser, m_server.url(u"/first"_s)));
        const HtmlDocumentPtr doc = browser.document();
        QVERIFY(doc);
        QSignalSpy complete(&browser, &Browser::documentComplete);
        // An id with a "%1" in it, as a script template could take for its own.
        QVERIFY(browser.click(doc->getElementById(u"pop%1"_s).locator()));
        QVERIFY(complete.wait(20000));
        QCOMPARE(browser.url(), m_server.url(u"/third"_s));
    }

    void silentPagesDoNotBlock()
    {
        WebEngineBrowser browser(m_profile, m_host);
        browser.setSilent(true);
        QVERIFY(load(browser, m_server.url(u"/alert"_s)));
        const HtmlDocumentPtr doc = browser.document();
        QVERIFY(doc);
        QVERIFY(!doc->getElementById(u"after"_s).isNull());
    }

    // A link of the snapshot is clicked in the live page, also where the two count their links
    // otherwise.
    void clicksTheSnapshotsLinkInARebuiltPage()
    {
        WebEngineBrowser browser(m_profile, m_host);
        QVERIFY(load(browser, m_server.url(u"/rebuilt"_s)));
        const HtmlDocumentPtr doc = browser.document();
        QVERIFY(doc);
        HtmlElement next;
        for (const HtmlElement& a : doc->getElementsByTagName(u"a"_s)) {
            if (a.innerText() == u"next"_s)
                next = a;
        }
        QVERIFY(!next.isNull());
        QSignalSpy complete(&browser, &Browser::documentComplete);
        QVERIFY(browser.click(next.locator()));
        QVERIFY(complete.wait(20000));
        QCOMPARE(browser.url(), m_server.url(u"/second"_s));
    }

    // A page that asks before it is left (once the user has used it) does not keep the program's
    // own navigation from going on while the browser is silent.
    void silentBrowserLeavesGuardedPages()
    {
        WebEngineBrowser browser(m_profile, m_host);
        browser.view()->resize(400, 300);
        browser.view()->show();
        browser.setSilent(true);
        QVERIFY(load(browser, m_server.url(u"/leave"_s)));
        // The page knows it was used, or it would not ask: clicked until it does.
        QTRY_VERIFY(browser.view()->focusProxy());
        bool used = false;
        for (int i = 0; i < 50 && !used; ++i) {
            QTest::mouseClick(browser.view()->focusProxy(), Qt::LeftButton, {}, QPoint(20, 20));
            const auto answer = std::make_shared<QVariant>();
            browser.view()->page()->runJavaScript(u"navigator.userActivation.hasBeenActive"_s,
                                                  [answer](const QVariant& v) { *answer = v; });
            QTRY_VERIFY(answer->isValid());
            used = answer->toBool();
        }
        QVERIFY(used);
        QVERIFY(load(browser, m_server.url(u"/second"_s)));
        QCOMPARE(browser.url(), m_server.url(u"/second"_s));
        QVERIFY(!browser.isBusy());
    }
};

QTEST_MAIN(TestWebEngine)
#include "tst_webengine.moc"
