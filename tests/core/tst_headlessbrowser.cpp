#include "app/HeadlessBrowser.h"
#include "app/PageDecoding.h"
#include "util/Wait.h"

#include "TestHttpServer.h"

#include <QNetworkAccessManager>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTest>

#include <unicode/ucnv.h>

#include <memory>
#include <vector>

using namespace Qt::StringLiterals;
using namespace lintbay;
using namespace lintbay::test;

namespace {

// Test pages in the engine's legacy code page.
QByteArray toGbk(const QString& text)
{
    UErrorCode err = U_ZERO_ERROR;
    UConverter* conv = ucnv_open("GBK", &err);
    std::vector<char> out(size_t(text.size()) * 4 + 16);
    const int32_t n =
        ucnv_fromUChars(conv, out.data(), int32_t(out.size()), reinterpret_cast<const UChar*>(text.utf16()),
                        int32_t(text.size()), &err);
    ucnv_close(conv);
    return U_SUCCESS(err) ? QByteArray(out.data(), n) : QByteArray();
}

QString bodyText(const HtmlDocumentPtr& doc)
{
    return doc ? doc->getElementsByTagName(u"body"_s).value(0).innerText() : QString();
}

QString pagerPage(int page, bool hasNext)
{
    QString html = u"<html><body><div class=\"result c-container\">第%1页</div><div id=\"page\">"_s.arg(page);
    html += u"<a href=\"/s?pn=1\">1</a><a href=\"/s?pn=2\">2</a>"_s;
    if (hasNext)
        html += u"<a class=\"n\" href=\"/s?pn=%1\"><span>下一页&gt;</span></a>"_s.arg(page + 1);
    return html + u"</div></body></html>"_s;
}

} // namespace

class TestHeadlessBrowser : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void loadsPageAfterNavigateReturns();
    void busyClearedBeforeDocumentComplete();
    void followsRedirects();
    void endlessRedirectsEnd();
    void failuresNeverHang_data();
    void failuresNeverHang();
    void decodesGbkPage();
    void decodePage_data();
    void decodePage();
    void newNavigateAbortsPrevious();
    void stalledServerKeepsBusyUntilReplaced();
    void clickFollowsPagerLink();
    void clickOutsideLinks();
    void backAndForward();
    void aboutBlank();
    void requestDocumentBeforeFirstLoad();
    void formSendsWhatABrowserSends_data();
    void formSendsWhatABrowserSends();

private:
    bool load(const QUrl& url, int timeoutMs = 5000);

    std::unique_ptr<QNetworkAccessManager> m_nam;
    std::unique_ptr<TestHttpServer> m_server;
    std::unique_ptr<HeadlessBrowser> m_browser;
};

void TestHeadlessBrowser::init()
{
    m_nam = std::make_unique<QNetworkAccessManager>();
    m_server = std::make_unique<TestHttpServer>();
    QVERIFY(m_server->isListening());
    m_browser = std::make_unique<HeadlessBrowser>(m_nam.get());
}

void TestHeadlessBrowser::cleanup()
{
    m_browser.reset();
    m_server.reset();
    m_nam.reset();
}

bool TestHeadlessBrowser::load(const QUrl& url, int timeoutMs)
{
    QSignalSpy done(m_browser.get(), &Browser::documentComplete);
    m_browser->navigate(url);
    return done.wait(timeoutMs) && !m_browser->isBusy();
}

void TestHeadlessBrowser::loadsPageAfterNavigateReturns()
{
    m_server->serve(u"/page"_s,
                    TestHttpResponse::html(u"<html><body><div id=x>你好 世界</div></body></html>"_s));
    QSignalSpy starting(m_browser.get(), &Browser::navigationStarting);
    QSignalSpy done(m_browser.get(), &Browser::documentComplete);
    m_browser->navigate(m_server->url(u"/page"_s));
    QVERIFY(m_browser->isBusy());
    QCOMPARE(done.size(), 0);
    QCOMPARE(starting.size(), 1);
    QVERIFY(done.wait(5000));
    QVERIFY(!m_browser->isBusy());
    QCOMPARE(done.at(0).at(0).toUrl(), m_server->url(u"/page"_s));
    QCOMPARE(m_browser->url(), m_server->url(u"/page"_s));
    const HtmlDocumentPtr doc = m_browser->document();
    QVERIFY(doc);
    QCOMPARE(doc->getElementById(u"x"_s).innerText(), u"你好 世界"_s);
    QCOMPARE(doc->URL(), m_server->url(u"/page"_s).toString());
    QCOMPARE(m_browser->lastHttpStatus(), 200);
    QCOMPARE(m_server->requestsTo(u"/page"_s).size(), 1);
}

void TestHeadlessBrowser::busyClearedBeforeDocumentComplete()
{
    // The search loops clear their loading flag on completion and then read Busy and the document.
    m_server->serve(u"/a"_s, TestHttpResponse::html(QByteArray("<p id=p>A</p>")));
    QStringList statuses;
    connect(m_browser.get(), &Browser::statusTextChanged, this, [&](const QString& s) { statuses << s; });
    bool busyAtComplete = true;
    QString textAtComplete;
    connect(m_browser.get(), &Browser::documentComplete, this, [&] {
        busyAtComplete = m_browser->isBusy();
        m_browser->requestDocument([&](HtmlDocumentPtr doc) {
            textAtComplete = doc ? doc->getElementById(u"p"_s).innerText() : QString();
        });
    });
    QVERIFY(load(m_server->url(u"/a"_s)));
    QVERIFY(!busyAtComplete);
    QCOMPARE(textAtComplete, u"A"_s);
    QCOMPARE(statuses, QStringList({m_server->url(u"/a"_s).toString(), u"完成"_s}));
}

void TestHeadlessBrowser::followsRedirects()
{
    m_server->serve(u"/link"_s, TestHttpResponse::redirect("/hop", 302));
    m_server->serve(u"/hop"_s, TestHttpResponse::redirect(m_server->url(u"/final?x=1"_s).toEncoded(), 301));
    m_server->serve(u"/final"_s, TestHttpResponse::html(QByteArray("<a id=a href=\"next\">n</a>")));
    QVERIFY(load(m_server->url(u"/link?url=abc"_s)));
    const QUrl final = m_server->url(u"/final?x=1"_s);
    QCOMPARE(m_browser->url(), final);
    // Relative links resolve against where the redirects ended, not where they began.
    QCOMPARE(m_browser->document()->getElementById(u"a"_s).href(), m_server->url(u"/next"_s).toString());
    // The network layer now and then sends a redirected request twice, so only the set is exact.
    for (const QString& path : {u"/link"_s, u"/hop"_s, u"/final"_s})
        QVERIFY(!m_server->requestsTo(path).isEmpty());
    QCOMPARE(m_server->requestsTo(u"/final"_s).constLast().query, u"x=1"_s);
    QCOMPARE(m_browser->history(), QList<QUrl>{final});
}

void TestHeadlessBrowser::endlessRedirectsEnd()
{
    m_server->serve(u"/loop"_s, TestHttpResponse::redirect("/loop"));
    QVERIFY(load(m_server->url(u"/loop"_s)));
    QCOMPARE(m_browser->lastError(), QNetworkReply::TooManyRedirectsError);
    // Twenty redirects are followed, not the network layer's default of fifty (which would take at
    // least 51 requests; the layer's occasional repeat of a redirected request stays well below).
    QVERIFY(m_server->requestCount() >= 21);
    QVERIFY(m_server->requestCount() <= 42);
}

void TestHeadlessBrowser::failuresNeverHang_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("expectedText");
    QTest::addColumn<int>("status");

    QTest::newRow("404 keeps its page") << u"404"_s << u"404 Not Found"_s << 404;
    QTest::newRow("500 keeps its page") << u"500"_s << u"服务器错误"_s << 500;
    QTest::newRow("connection refused") << u"refused"_s << QString() << 0;
    QTest::newRow("closed without answer") << u"drop"_s << QString() << 0;
    QTest::newRow("body cut short") << u"short"_s << u"partial"_s << 200;
    QTest::newRow("nothing received in time") << u"timeout"_s << QString() << 0;
}

void TestHeadlessBrowser::failuresNeverHang()
{
    QFETCH(QString, kind);
    QFETCH(QString, expectedText);
    QFETCH(int, status);

    TestHttpResponse error = TestHttpResponse::html(u"<h1>服务器错误</h1>"_s);
    error.status = 500;
    m_server->serve(u"/500"_s, error);
    TestHttpResponse drop;
    drop.raw = "\r\n";
    m_server->serve(u"/drop"_s, drop);
    TestHttpResponse cut = TestHttpResponse::html(QByteArray("<p>partial"));
    cut.declaredLength = 5000;
    m_server->serve(u"/short"_s, cut);
    m_server->serve(u"/timeout"_s, TestHttpResponse::never());
    m_browser->setTransferTimeout(300);

    QUrl url = m_server->url(u"/"_s + kind);
    if (kind == u"refused") {
        QTcpServer closed;
        QVERIFY(closed.listen(QHostAddress::LocalHost, 0));
        url = QUrl(u"http://127.0.0.1:%1/"_s.arg(closed.serverPort()));
        closed.close();
    }
    QVERIFY(load(url));
    QVERIFY(m_browser->document());
    QCOMPARE(m_browser->document()->URL(), url.toString());
    QCOMPARE(bodyText(m_browser->document()), expectedText);
    QCOMPARE(m_browser->lastHttpStatus(), status);
    QVERIFY(m_browser->lastError() != QNetworkReply::NoError);
}

void TestHeadlessBrowser::decodesGbkPage()
{
    const QString text = u"下一页 镕 機器學習"_s; // 镕 is in GBK but not in GB2312
    const QByteArray page =
        "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=gb2312\">"
        "</head><body><p id=t>" +
        toGbk(text) + "</p></body></html>";
    m_server->serve(u"/gbk"_s, TestHttpResponse::bytes(page, "text/html"));
    QVERIFY(load(m_server->url(u"/gbk"_s)));
    QCOMPARE(m_browser->document()->getElementById(u"t"_s).innerText(), text);
    QCOMPARE(m_browser->lastCharset(), QByteArray("gb2312"));
}

void TestHeadlessBrowser::decodePage_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("contentType");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("charset");

    const QString cn = u"中文标题"_s;
    const QByteArray gbk = toGbk(cn);
    const QByteArray utf8 = cn.toUtf8();
    QTest::newRow("header charset") << gbk << QByteArray("text/html; charset=GBK") << cn << QByteArray("gbk");
    QTest::newRow("euro sign in GBK") << QByteArray("\x80" + gbk) << QByteArray("text/html; charset=gbk")
                                      << u"€"_s + cn << QByteArray("gbk");
    QTest::newRow("0x80 as a second byte") << toGbk(u"亐皜"_s) << QByteArray("text/html; charset=gbk")
                                           << u"亐皜"_s << QByteArray("gbk");
    QTest::newRow("quoted header charset")
        << gbk << QByteArray("text/html;charset=\"gb2312\"") << cn << QByteArray("gb2312");
    QTest::newRow("header beats meta")
        << QByteArray("<meta charset=utf-8>" + gbk) << QByteArray("text/html; charset=gbk")
        << u"<meta charset=utf-8>"_s + cn << QByteArray("gbk");
    QTest::newRow("meta charset") << QByteArray("<META CHARSET='GBK'>" + gbk) << QByteArray("text/html")
                                  << u"<META CHARSET='GBK'>"_s + cn << QByteArray("gbk");
    QTest::newRow("meta in comment ignored")
        << QByteArray("<!-- <meta charset=big5> -->" + utf8) << QByteArray()
        << u"<!-- <meta charset=big5> -->"_s + cn << QByteArray("utf-8");
    QTest::newRow("meta beyond 2 KB ignored")
        << QByteArray(QByteArray(2100, ' ') + "<meta charset=big5>" + utf8) << QByteArray()
        << QString(2100, u' ') + u"<meta charset=big5>"_s + cn << QByteArray("utf-8");
    QTest::newRow("valid UTF-8") << utf8 << QByteArray("text/html") << cn << QByteArray("utf-8");
    QTest::newRow("undeclared GBK") << gbk << QByteArray() << cn << QByteArray("gbk");
    QTest::newRow("BOM wins") << QByteArray("\xEF\xBB\xBF" + utf8) << QByteArray("text/html; charset=gbk")
                              << cn << QByteArray("utf-8");
    QTest::newRow("unknown label falls back")
        << utf8 << QByteArray("text/html; charset=x-nonsense") << cn << QByteArray("utf-8");
    QTest::newRow("latin1 label") << QByteArray("caf\xE9 \x93q\x94")
                                  << QByteArray("text/html; charset=ISO-8859-1") << u"café \u201Cq\u201D"_s
                                  << QByteArray("iso-8859-1");
    QTest::newRow("empty") << QByteArray() << QByteArray() << QString() << QByteArray("utf-8");
    // The web's other names of UTF-16, which is little-endian without a BOM.
    const QString page = u"<p>"_s + cn;
    QTest::newRow("UTF-16 named ucs-2")
        << QByteArray(reinterpret_cast<const char*>(page.utf16()), page.size() * 2)
        << QByteArray("text/html; charset=ucs-2") << page << QByteArray("ucs-2");
    QTest::newRow("meta naming UTF-16 unicode") << QByteArray("<meta charset=unicode>" + utf8) << QByteArray()
                                                << u"<meta charset=unicode>"_s + cn << QByteArray("utf-8");
    // A converter that lets half a surrogate pair through: no such unit reaches the page text.
    QTest::newRow("lone surrogate from CESU-8")
        << QByteArray("\xED\xBB\xBFi\xED\xA0\x81\xED\xB0\x80") << QByteArray("text/html; charset=cesu-8")
        << u"\uFFFDi\U00010400"_s << QByteArray("cesu-8");
}

void TestHeadlessBrowser::decodePage()
{
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, contentType);
    QFETCH(QString, text);
    QFETCH(QByteArray, charset);
    QByteArray used;
    QCOMPARE(lintbay::decodePage(body, contentType, &used), text);
    QCOMPARE(used, charset);
}

void TestHeadlessBrowser::newNavigateAbortsPrevious()
{
    TestHttpResponse slow = TestHttpResponse::html(QByteArray("<p>slow</p>"));
    slow.delayMs = 300;
    m_server->serve(u"/slow"_s, slow);
    m_server->serve(u"/fast"_s, TestHttpResponse::html(QByteArray("<p>fast</p>")));
    TestHttpResponse later = TestHttpResponse::html(QByteArray("<p>later</p>"));
    later.delayMs = 600; // answers well after the abandoned page would have
    m_server->serve(u"/later"_s, later);

    QSignalSpy done(m_browser.get(), &Browser::documentComplete);
    m_browser->navigate(m_server->url(u"/slow"_s));
    QTRY_COMPARE(m_server->requestsTo(u"/slow"_s).size(), 1);
    m_browser->navigate(m_server->url(u"/fast"_s));
    QTRY_COMPARE(done.size(), 1);
    QCOMPARE(bodyText(m_browser->document()), u"fast"_s);
    m_browser->navigate(m_server->url(u"/later"_s));
    QTRY_COMPARE(done.size(), 2);
    QCOMPARE(done.at(0).at(0).toUrl(), m_server->url(u"/fast"_s));
    QCOMPARE(done.at(1).at(0).toUrl(), m_server->url(u"/later"_s));
    QCOMPARE(bodyText(m_browser->document()), u"later"_s);
    QCOMPARE(m_browser->history(), QList<QUrl>({m_server->url(u"/fast"_s), m_server->url(u"/later"_s)}));
}

void TestHeadlessBrowser::stalledServerKeepsBusyUntilReplaced()
{
    m_server->serve(u"/stall"_s, TestHttpResponse::never());
    m_server->serve(u"/ok"_s, TestHttpResponse::html(QByteArray("<p>ok</p>")));
    m_browser->navigate(m_server->url(u"/stall"_s));
    QCOMPARE(waitUntil(m_browser.get(), [&] { return !m_browser->isBusy(); }, 300), WaitResult::TimedOut);
    QVERIFY(m_browser->isBusy());
    QVERIFY(!m_browser->document());
    QVERIFY(load(m_server->url(u"/ok"_s)));
    QCOMPARE(bodyText(m_browser->document()), u"ok"_s);

    m_browser->navigate(m_server->url(u"/stall"_s));
    QVERIFY(m_browser->isBusy());
    m_browser->stop();
    QVERIFY(!m_browser->isBusy());
    QCOMPARE(m_browser->url(), m_server->url(u"/ok"_s));
}

void TestHeadlessBrowser::clickFollowsPagerLink()
{
    m_server->route(u"/s"_s, [](const TestHttpRequest& r) {
        const int page = r.queryItem(u"pn"_s).toInt();
        return TestHttpResponse::html(pagerPage(page, page < 3));
    });
    QVERIFY(load(m_server->url(u"/s?pn=1"_s)));
    // Follow the pages the way the search loop does: find the pager's next link by its text.
    for (int page = 1;; ++page) {
        const HtmlDocumentPtr doc = m_browser->document();
        QVERIFY(doc);
        QCOMPARE(doc->getElementsByTagName(u"div"_s).at(0).innerText(), u"第%1页"_s.arg(page));
        HtmlElement next;
        for (const HtmlElement& a : doc->getElementById(u"page"_s).getElementsByTagName(u"A"_s)) {
            if (a.innerText().trimmed().toLower() == u"下一页>")
                next = a;
        }
        if (next.isNull()) {
            QCOMPARE(page, 3);
            break;
        }
        QSignalSpy done(m_browser.get(), &Browser::documentComplete);
        // The span inside the link is what a user hits; the click still follows the link.
        QVERIFY(m_browser->click(next.firstByTagName(u"span"_s).locator()));
        QVERIFY(m_browser->isBusy());
        QVERIFY(done.wait(5000));
        QCOMPARE(m_server->requests().last().header("Referer"), doc->URL().toUtf8());
    }
    QCOMPARE(m_browser->history().size(), 3);
}

void TestHeadlessBrowser::clickOutsideLinks()
{
    m_server->serve(u"/p"_s, TestHttpResponse::html(
                                 QByteArray("<div id=d>text</div><a id=js href=\"javascript:go()\">js</a>"
                                            "<a id=frag href=\"#sec\">f</a><a id=none>no href</a>")));
    QVERIFY(!m_browser->click(ElementLocator{u"d"_s, u"div"_s, 0})); // nothing loaded yet
    QVERIFY(load(m_server->url(u"/p"_s)));
    const int before = m_server->requestCount();
    for (const QString& id : {u"d"_s, u"js"_s, u"frag"_s, u"none"_s}) {
        const ElementLocator loc = m_browser->document()->getElementById(id).locator();
        QVERIFY2(m_browser->click(loc), qPrintable(id));
        QVERIFY2(!m_browser->isBusy(), qPrintable(id));
    }
    QVERIFY(!m_browser->click(ElementLocator{u"missing"_s, {}, -1}));
    QVERIFY(!m_browser->click(ElementLocator{{}, u"table"_s, 0}));
    QVERIFY(!m_browser->click(ElementLocator{{}, u"a"_s, 99}));
    QCOMPARE(m_server->requestCount(), before);
}

void TestHeadlessBrowser::backAndForward()
{
    m_server->routePrefix(u"/h/"_s, [](const TestHttpRequest& r) {
        return TestHttpResponse::html(u"<p>"_s + r.path.mid(3) + u"</p>"_s);
    });
    auto at = [&](const QString& name) { return m_server->url(u"/h/"_s + name); };
    m_browser->goBack(); // nothing to go back to
    QVERIFY(!m_browser->isBusy());
    for (const QString& name : {u"a"_s, u"b"_s, u"c"_s})
        QVERIFY(load(at(name)));
    QVERIFY(!m_browser->canGoForward());

    auto step = [&](bool back, const QString& expected) {
        QSignalSpy done(m_browser.get(), &Browser::documentComplete);
        back ? m_browser->goBack() : m_browser->goForward();
        return done.wait(5000) && bodyText(m_browser->document()) == expected &&
               m_browser->url() == at(expected);
    };
    QVERIFY(step(true, u"b"_s));
    QVERIFY(step(true, u"a"_s));
    QVERIFY(!m_browser->canGoBack());
    QVERIFY(step(false, u"b"_s));
    QVERIFY(m_browser->canGoForward());
    // A new page after going back drops the pages ahead.
    QVERIFY(load(at(u"d"_s)));
    QVERIFY(!m_browser->canGoForward());
    QCOMPARE(m_browser->history(), QList<QUrl>({at(u"a"_s), at(u"b"_s), at(u"d"_s)}));
    QVERIFY(step(true, u"b"_s));
}

void TestHeadlessBrowser::aboutBlank()
{
    QSignalSpy done(m_browser.get(), &Browser::documentComplete);
    m_browser->navigate(QUrl(u"about:blank"_s));
    QVERIFY(m_browser->isBusy());
    QCOMPARE(done.size(), 0);
    QVERIFY(done.wait(2000));
    QVERIFY(!m_browser->isBusy());
    const HtmlDocumentPtr doc = m_browser->document();
    QVERIFY(doc);
    QCOMPARE(doc->URL(), u"about:blank"_s);
    QCOMPARE(doc->getElementsByTagName(u"body"_s).size(), 1);
    QVERIFY(doc->getElementsByTagName(u"div"_s).isEmpty());
    QCOMPARE(m_server->requestCount(), 0);
}

void TestHeadlessBrowser::requestDocumentBeforeFirstLoad()
{
    bool called = false;
    HtmlDocumentPtr doc = HtmlDocument::parse(u"x"_s, QUrl());
    m_browser->requestDocument([&](HtmlDocumentPtr d) {
        called = true;
        doc = d;
    });
    QVERIFY(called);
    QVERIFY(!doc);
    QVERIFY(m_browser->url().isEmpty());
}

void TestHeadlessBrowser::formSendsWhatABrowserSends_data()
{
    QTest::addColumn<QString>("clicked");
    QTest::addColumn<QByteArray>("body");
    // The button is the first among buttons as the submit input is among inputs: only the one clicked
    // is sent.
    QTest::newRow("a named button") << u"go"_s << QByteArray("user=a%2Bb%26c%3D&go=yes");
    QTest::newRow("a submit input") << u"send"_s << QByteArray("s=one&user=a%2Bb%26c%3D");
}

void TestHeadlessBrowser::formSendsWhatABrowserSends()
{
    QFETCH(QString, clicked);
    QFETCH(QByteArray, body);
    m_server->route(u"/form"_s, [](const TestHttpRequest&) {
        return TestHttpResponse::html(u"<form method=post action=/sent>"
                                      "<input id=send type=submit name=s value=one><input name=user value=x>"
                                      "<button id=go name=go value=yes>go</button></form>"_s);
    });
    m_server->route(u"/sent"_s,
                    [](const TestHttpRequest&) { return TestHttpResponse::html(u"<p>ok</p>"_s); });
    QVERIFY(load(m_server->url(u"/form"_s)));
    const HtmlDocumentPtr page = m_browser->document();
    QVERIFY(m_browser->setValue(page->getElementsByTagName(u"input"_s).value(1).locator(), u"a+b&c="_s));
    QSignalSpy done(m_browser.get(), &Browser::documentComplete);
    QVERIFY(m_browser->click(page->getElementById(clicked).locator()));
    QVERIFY(done.wait(5000));
    QCOMPARE(m_server->requests().constLast().path, u"/sent"_s);
    QCOMPARE(m_server->requests().constLast().body, body);
}

QTEST_GUILESS_MAIN(TestHeadlessBrowser)
#include "tst_headlessbrowser.moc"
