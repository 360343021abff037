// The rules that tell a page about one document (followed once by the transfers) from a page that is
// content, a choice of several documents, a login or the search engine's human check.
#include "controls/LandingPage.h"
#include "util/AnsiCodec.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace lintbay;

using Kind = LandingVerdict::Kind;

class tst_LandingPage : public QObject
{
    Q_OBJECT

private slots:
    void verdicts_data();
    void verdicts();
};

void tst_LandingPage::verdicts_data()
{
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QString>("pageUrl");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("reason");

    const QString at = u"http://docs.test/item/12.html"_s;
    const int follow = int(Kind::Follow);
    const int none = int(Kind::None);
    const QString several = u"说明页面上有 2 个文档链接，无法确定下载哪一个"_s;
    const QString login = u"登录页面，需要先登录网站"_s;
    const QString check = u"搜索引擎的安全验证页面，需要先在浏览器中通过验证"_s;

    QTest::newRow("meta refresh") << QByteArray(
                                         R"(<meta http-equiv="Refresh" content="0; url=/files/a.pdf">)")
                                  << at << follow << u"http://docs.test/files/a.pdf"_s
                                  << u"已跟随说明页面：http://docs.test/files/a.pdf"_s;
    QTest::newRow("meta refresh, quoted, relative, with a delay")
        << QByteArray(R"(<meta http-equiv="refresh" content="3;URL='b.doc?v=1'">)") << at << follow
        << u"http://docs.test/item/b.doc?v=1"_s << u"已跟随说明页面：http://docs.test/item/b.doc?v=1"_s;
    QTest::newRow("a refresh of the page itself")
        << QByteArray(R"(<meta http-equiv="refresh" content="30">)") << at << none << QString() << QString();
    QTest::newRow("script: location.href, no extension needed")
        << QByteArray(R"(<script>location.href='/get?id=7';</script><a href="x.pdf">x</a>)") << at << follow
        << u"http://docs.test/get?id=7"_s << u"已跟随说明页面：http://docs.test/get?id=7"_s;
    QTest::newRow("script: window.location, escaped slashes")
        << QByteArray(R"(<script>window.location = "http:\/\/other.test\/y.docx"</script>)") << at << follow
        << u"http://other.test/y.docx"_s << u"已跟随说明页面：http://other.test/y.docx"_s;
    QTest::newRow("script: location.replace")
        << QByteArray(R"(<script>setTimeout(function(){ location.replace("z.pptx") }, 0)</script>)") << at
        << follow << u"http://docs.test/item/z.pptx"_s << u"已跟随说明页面：http://docs.test/item/z.pptx"_s;
    QTest::newRow("script: a comparison moves nowhere")
        << QByteArray(R"(<script>if (location.href == 'a.pdf') stop();</script>)") << at << none << QString()
        << QString();
    // Text a script goes on with is only the start of an address it builds: the page's own link counts.
    QTest::newRow("script: a search box beside the document link")
        << QByteArray(
               R"(<script>function go(q){ location.href = '/search?q=' + q }</script><a href="/files/a.pdf">下载</a>)")
        << at << follow << u"http://docs.test/files/a.pdf"_s
        << u"已跟随说明页面：http://docs.test/files/a.pdf"_s;
    QTest::newRow("script: an address put together")
        << QByteArray(R"(<script>location.href = "https://" + host + "/x"</script>)") << at << none
        << QString() << QString();
    QTest::newRow("one document link among others")
        << QByteArray(R"(<a href="/">首页</a><a href="report.PDF#page=2">下载全文</a><a href="a.html">x</a>)")
        << at << follow << u"http://docs.test/item/report.PDF"_s
        << u"已跟随说明页面：http://docs.test/item/report.PDF"_s;
    QTest::newRow("the same document twice is one link")
        << QByteArray(R"(<a href="r.xlsx">表</a> <a href="/item/r.xlsx#top">表</a>)") << at << follow
        << u"http://docs.test/item/r.xlsx"_s << u"已跟随说明页面：http://docs.test/item/r.xlsx"_s;
    QTest::newRow("two document links") << QByteArray(R"(<a href="a.pdf">a</a><a href="b.doc">b</a>)") << at
                                        << int(Kind::SeveralLinks) << QString() << several;
    QTest::newRow("two places to go") << QByteArray(R"(<meta http-equiv="refresh" content="0;url=a.pdf">
                                          <script>location.assign('b.pdf')</script>)")
                                      << at << int(Kind::SeveralLinks) << QString() << several;
    QTest::newRow("no document") << QByteArray("<p>正文</p><a href=\"/about.html\">关于</a>") << at << none
                                 << QString() << QString();
    QTest::newRow("a login form")
        << QByteArray(R"(<form action="/in"><input name="u"><input type="PASSWORD" name="p"></form>
                        <a href="paper.pdf">论文</a>)")
        << at << int(Kind::Login) << QString() << login;
    QTest::newRow("verification page by its title")
        << (u"<html><head><title>百度安全验证</title></head>"_s
            u"<body><meta http-equiv=\"refresh\" content=\"0;url=a.pdf\"></body></html>"_s)
               .toUtf8()
        << at << int(Kind::Verification) << QString() << check;
    QTest::newRow("verification page in GBK")
        << toAnsiBytes(u"<html><head><meta charset=\"gbk\"><title>百度安全验证</title></head></html>"_s) << at
        << int(Kind::Verification) << QString() << check;
    QTest::newRow("verification service in a script")
        << QByteArray(R"(<script src="https://wappass.baidu.com/static/captcha/tuxing.js"></script>
                        <a href="a.pdf">a</a>)")
        << at << int(Kind::Verification) << QString() << check;
    QTest::newRow("verification service as the page's address")
        << QByteArray(R"(<a href="a.pdf">a</a>)") << u"https://wappass.baidu.com/static/captcha/x"_s
        << int(Kind::Verification) << QString() << check;
    QTest::newRow("a link to a document on another scheme")
        << QByteArray(R"(<a href="ftp://files.test/a.pdf">a</a>)") << at << int(Kind::NotWeb)
        << u"ftp://files.test/a.pdf"_s << u"说明页面指向不支持的网址：ftp://files.test/a.pdf"_s;
    QTest::newRow("a refresh to a script address")
        << QByteArray(R"x(<meta http-equiv="refresh" content="0;url=javascript:go()">)x") << at
        << int(Kind::NotWeb) << u"javascript:go()"_s << u"说明页面指向不支持的网址：javascript:go()"_s;
}

void tst_LandingPage::verdicts()
{
    QFETCH(QByteArray, page);
    QFETCH(QString, pageUrl);
    QFETCH(int, kind);
    QFETCH(QString, target);
    QFETCH(QString, reason);

    const LandingVerdict verdict = judgeLandingPage(page, QUrl(pageUrl), "text/html");
    QCOMPARE(int(verdict.kind), kind);
    QCOMPARE(verdict.target.toString(), target);
    QCOMPARE(verdict.reason, reason);
}

QTEST_GUILESS_MAIN(tst_LandingPage)
#include "tst_landingpage.moc"
