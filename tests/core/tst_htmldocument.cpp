#include "app/HtmlDocument.h"

#include <QTest>
#include <QThread>

#include <memory>

using namespace Qt::StringLiterals;
using namespace lintbay;

namespace {

const QUrl kPage(u"http://www.example.com/s?wd=x"_s);

HtmlDocumentPtr body(const QString& html, const QUrl& url = kPage)
{
    return HtmlDocument::parse(u"<html><head><title>t</title></head><body>"_s + html + u"</body></html>"_s,
                               url);
}

QString idsOf(const QList<HtmlElement>& elements)
{
    QStringList ids;
    for (const HtmlElement& e : elements)
        ids << (e.id().isEmpty() ? e.tagName().toLower() : e.id());
    return ids.join(u',');
}

} // namespace

class TestHtmlDocument : public QObject
{
    Q_OBJECT
private slots:
    void tagAndClass_data();
    void tagAndClass();
    void innerText_data();
    void innerText();
    void href_data();
    void href();
    void nestedGetElementsByTagName_data();
    void nestedGetElementsByTagName();
    void locatorRoundTrip();
    void locatorOfRepeatedIdAndStaleLocators();
    void outerHTML_data();
    void outerHTML();
    void getElementById();
    void malformedMarkup_data();
    void malformedMarkup();
    void nullElementAnswersEmpty();
    void deepNesting();
};

void TestHtmlDocument::tagAndClass_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("tagName");
    QTest::addColumn<QString>("className");

    QTest::newRow("plain") << u"<div id=t class=\"result c-container\">x</div>"_s << u"DIV"_s
                           << u"result c-container"_s;
    // The class attribute comes back as written, spacing and case included.
    QTest::newRow("raw spacing") << u"<div id=t class=\"  Result  c-container \">x</div>"_s << u"DIV"_s
                                 << u"  Result  c-container "_s;
    QTest::newRow("upper-case source") << u"<SPAN ID=t CLASS=c-icon>x</SPAN>"_s << u"SPAN"_s << u"c-icon"_s;
    QTest::newRow("custom element") << u"<x-card id=t class=k>x</x-card>"_s << u"X-CARD"_s << u"k"_s;
    QTest::newRow("no class") << u"<font id=t>x</font>"_s << u"FONT"_s << QString();
    QTest::newRow("non-ASCII class") << u"<a id=t class=\"标题 t\">x</a>"_s << u"A"_s << u"标题 t"_s;
    QTest::newRow("entity in class") << u"<p id=t class=\"a&amp;b\">x</p>"_s << u"P"_s << u"a&b"_s;
}

void TestHtmlDocument::tagAndClass()
{
    QFETCH(QString, html);
    QFETCH(QString, tagName);
    QFETCH(QString, className);
    const HtmlDocumentPtr doc = body(html);
    const HtmlElement e = doc->getElementById(u"t"_s);
    QVERIFY(!e.isNull());
    QCOMPARE(e.tagName(), tagName);
    QCOMPARE(e.className(), className);
    QCOMPARE(e.attribute(u"CLASS"_s), className);
    // The element is listed under its own name whatever case the query uses.
    QCOMPARE(doc->getElementsByTagName(tagName.toLower()).size(), 1);
    QCOMPARE(doc->getElementsByTagName(tagName).size(), 1);
}

void TestHtmlDocument::innerText_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("text");

    QTest::newRow("collapse runs") << u"<div id=t>  a \n\t  b  </div>"_s << u"a b"_s;
    QTest::newRow("across inline tags") << u"<a id=t><b>下一页</b> <i>&gt;</i></a>"_s << u"下一页 >"_s;
    QTest::newRow("pager link") << u"<a id=t href=\"/s?pn=10\"><span class=pc>下一页&gt;</span></a>"_s
                                << u"下一页>"_s;
    QTest::newRow("br") << u"<p id=t>a<br>b<br/> c</p>"_s << u"a\nb\nc"_s;
    QTest::newRow("blocks") << u"<div id=t><div> a </div>\n <div> b </div></div>"_s << u"a\nb"_s;
    QTest::newRow("paragraphs") << u"<div id=t><p>a</p><p>b</p></div>"_s << u"a\n\nb"_s;
    QTest::newRow("list") << u"<ul id=t><li>one<li>two</ul>"_s << u"one\ntwo"_s;
    QTest::newRow("table cells") << u"<table id=t><tr><td>1</td><td>2</td></tr><tr><td>3</td></tr></table>"_s
                                 << u"1\t2\n3"_s;
    QTest::newRow("skips script and style")
        << u"<div id=t>x<script>var a = '<b>';</script><style>.a{}</style>y</div>"_s << u"xy"_s;
    QTest::newRow("skips hidden")
        << u"<div id=t>a<span hidden>b</span><span style=\"DISPLAY: none\">c</span>d</div>"_s << u"ad"_s;
    QTest::newRow("comment") << u"<div id=t>a<!-- b -->c</div>"_s << u"ac"_s;
    QTest::newRow("entities") << u"<font id=t>【PDF】&amp;&lt;</font>"_s << u"【PDF】&<"_s;
    QTest::newRow("nbsp kept") << u"<span id=t>a&nbsp;&nbsp;b</span>"_s << u"a\u00a0\u00a0b"_s;
    QTest::newRow("pre keeps spacing") << u"<pre id=t>a  b\n  c</pre>"_s << u"a  b\n  c"_s;
    QTest::newRow("script itself") << u"<script id=t>if (a < b) go();</script>"_s << u"if (a < b) go();"_s;
    QTest::newRow("ellipsis title") << u"<h3 id=t><a><em>机器</em>学习...</a></h3>"_s << u"机器学习..."_s;
    QTest::newRow("empty") << u"<div id=t> \n </div>"_s << QString();
}

void TestHtmlDocument::innerText()
{
    QFETCH(QString, html);
    QFETCH(QString, text);
    const HtmlElement e = body(html)->getElementById(u"t"_s);
    QVERIFY(!e.isNull());
    QCOMPARE(e.innerText(), text);
    // A bounded rendering: the whole text while it is short, else a longer start of it.
    for (const qsizetype limit : {0, 2, 5, 1000}) {
        const QString start = e.innerTextStart(limit);
        QVERIFY(text.startsWith(start));
        QVERIFY(start == text || start.size() > limit);
    }
}

void TestHtmlDocument::href_data()
{
    QTest::addColumn<QString>("pageUrl");
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("expected");

    const QString page = kPage.toString();
    QTest::newRow("absolute path") << page << u"<a id=t href=\"/link?url=abc\">x</a>"_s
                                   << u"http://www.example.com/link?url=abc"_s;
    QTest::newRow("relative query") << page << u"<a id=t href=\"s?wd=y&amp;pn=10\">x</a>"_s
                                    << u"http://www.example.com/s?wd=y&pn=10"_s;
    QTest::newRow("dot segments") << u"http://h.org/a/b/c.html"_s << u"<a id=t href=\"../up\">x</a>"_s
                                  << u"http://h.org/a/up"_s;
    QTest::newRow("scheme relative") << page << u"<a id=t href=\"//cdn.example.org/f.pdf\">x</a>"_s
                                     << u"http://cdn.example.org/f.pdf"_s;
    QTest::newRow("spaces and breaks")
        << page << u"<a id=t href=\"  http://o.org/a b\n/c  \">x</a>"_s << u"http://o.org/a%20b/c"_s;
    QTest::newRow("non-ASCII encoded") << page << u"<a id=t href=\"/s?wd=中文\">x</a>"_s
                                       << u"http://www.example.com/s?wd=%E4%B8%AD%E6%96%87"_s;
    QTest::newRow("fragment") << page << u"<a id=t href=\"#top\">x</a>"_s << page + u"#top"_s;
    QTest::newRow("empty is the page") << page << u"<a id=t href=\"\">x</a>"_s << page;
    QTest::newRow("no href") << page << u"<a id=t name=n>x</a>"_s << QString();
    QTest::newRow("script") << page << u"<a id=t href=\"javascript:void(0)\">x</a>"_s
                            << u"javascript:void(0)"_s;
    QTest::newRow("base element") << page
                                  << u"<base href=\"http://b.net/dir/\"><a id=t href=\"f.doc\">x</a>"_s
                                  << u"http://b.net/dir/f.doc"_s;
    QTest::newRow("unknown page url") << QString() << u"<a id=t href=\"/x\">x</a>"_s << u"/x"_s;
}

void TestHtmlDocument::href()
{
    QFETCH(QString, pageUrl);
    QFETCH(QString, html);
    QFETCH(QString, expected);
    const HtmlElement e = body(html, QUrl(pageUrl))->getElementById(u"t"_s);
    QVERIFY(!e.isNull());
    QCOMPARE(e.href(), expected);
}

void TestHtmlDocument::nestedGetElementsByTagName_data()
{
    QTest::addColumn<QString>("container");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<QString>("expected");

    QTest::newRow("outer") << u"d1"_s << u"A"_s << u"a1,a2,a3,a4"_s;
    QTest::newRow("inner") << u"d2"_s << u"a"_s << u"a2,a3"_s;
    QTest::newRow("empty container") << u"d3"_s << u"a"_s << QString();
    QTest::newRow("document") << QString() << u"a"_s << u"a1,a2,a3,a4,a5"_s;
    QTest::newRow("all below inner") << u"d2"_s << u"*"_s << u"a2,s1,a3"_s;
    QTest::newRow("divs below outer") << u"d1"_s << u"div"_s << u"d2"_s;
    QTest::newRow("absent tag") << u"d1"_s << u"font"_s << QString();
    QTest::newRow("template content hidden") << QString() << u"i"_s << QString();
    QTest::newRow("noscript content hidden") << QString() << u"em"_s << QString();
}

void TestHtmlDocument::nestedGetElementsByTagName()
{
    QFETCH(QString, container);
    QFETCH(QString, tag);
    QFETCH(QString, expected);
    const HtmlDocumentPtr doc =
        body(u"<div id=d1><a id=a1></a><div id=d2><a id=a2></a><span id=s1><a id=a3></a></span></div>"
             "<a id=a4></a></div><a id=a5></a><div id=d3><b>x</b></div>"
             "<template><i>t</i></template><noscript><em>n</em></noscript>"_s);
    QList<HtmlElement> found;
    HtmlElement first;
    if (container.isEmpty()) {
        found = doc->getElementsByTagName(tag);
        first = found.value(0);
    } else {
        const HtmlElement c = doc->getElementById(container);
        QVERIFY(!c.isNull());
        found = c.getElementsByTagName(tag);
        first = c.firstByTagName(tag);
    }
    QCOMPARE(idsOf(found), expected);
    QCOMPARE(first.isNull(), found.isEmpty());
    if (!found.isEmpty())
        QCOMPARE(first.locator().index, found.first().locator().index);
}

void TestHtmlDocument::locatorRoundTrip()
{
    const HtmlDocumentPtr doc =
        body(u"<div id=page><a href=/1>1</a><a href=/2 id=n>下一页&gt;</a></div><div class=c><p>x<p>y</div>"
             "<table><tr><td>1<td>2</table><x-y>z</x-y>"_s);
    const QList<HtmlElement> all = doc->getElementsByTagName(u"*"_s);
    QVERIFY(all.size() > 10);
    for (const HtmlElement& e : all) {
        const ElementLocator loc = e.locator();
        QVERIFY(loc.isValid());
        QCOMPARE(loc.tag, e.tagName().toLower());
        // The index is the element's place in the document's list for its tag.
        QCOMPARE(doc->getElementsByTagName(loc.tag).at(loc.index).outerHTML(), e.outerHTML());
        const HtmlElement back = doc->find(loc);
        QVERIFY(!back.isNull());
        QCOMPARE(back.locator().tag, loc.tag);
        QCOMPARE(back.locator().index, loc.index);
        QCOMPARE(back.locator().id, loc.id);
    }
    QCOMPARE(doc->getElementById(u"n"_s).locator().id, u"n"_s);
    // A locator also works on a new snapshot of the same page.
    const HtmlDocumentPtr again = HtmlDocument::parse(doc->source(), doc->url());
    const ElementLocator next = doc->getElementById(u"page"_s).getElementsByTagName(u"a"_s).at(1).locator();
    QCOMPARE(again->find(next).innerText(), u"下一页>"_s);
}

void TestHtmlDocument::locatorOfRepeatedIdAndStaleLocators()
{
    const HtmlDocumentPtr doc = body(u"<span id=d>first</span><span id=d>second</span>"_s);
    const QList<HtmlElement> spans = doc->getElementsByTagName(u"span"_s);
    QCOMPARE(spans.size(), 2);
    // Looking the second one up by its id would land on the first.
    const ElementLocator second = spans.at(1).locator();
    QVERIFY(second.id.isEmpty());
    QCOMPARE(doc->find(second).innerText(), u"second"_s);
    QCOMPARE(doc->find(spans.at(0).locator()).innerText(), u"first"_s);

    QVERIFY(doc->find(ElementLocator{{}, u"span"_s, 2}).isNull());
    QVERIFY(doc->find(ElementLocator{{}, u"blink"_s, 0}).isNull());
    QVERIFY(doc->find(ElementLocator{}).isNull());
    // An id that is gone falls back to the position.
    QCOMPARE(doc->find(ElementLocator{u"gone"_s, u"span"_s, 1}).innerText(), u"second"_s);
}

void TestHtmlDocument::outerHTML_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QString>("expected");

    QTest::newRow("element") << u"<body><div id=t class=\"a\">x<b>y</b></div><p>z</p>"_s
                             << u"<div id=t class=\"a\">x<b>y</b></div>"_s;
    QTest::newRow("closed by sibling") << u"<ul><li id=t>one<li>two</ul>"_s << u"<li id=t>one"_s;
    QTest::newRow("closed by ancestor end tag") << u"<table><tr><td id=t>1</table>"_s << u"<td id=t>1"_s;
    QTest::newRow("void element") << u"<p>a<img id=t src=\"x.png\">b</p>"_s << u"<img id=t src=\"x.png\">"_s;
    QTest::newRow("after multibyte text")
        << u"<p>中文标题😀</p><div id=t>汉字</div>"_s << u"<div id=t>汉字</div>"_s;
    QTest::newRow("end tag case kept") << u"<DIV id=t>x</Div>"_s << u"<DIV id=t>x</Div>"_s;
    QTest::newRow("unclosed at end") << u"<div><span id=t>x"_s << u"<span id=t>x"_s;
}

void TestHtmlDocument::outerHTML()
{
    QFETCH(QString, source);
    QFETCH(QString, expected);
    const HtmlDocumentPtr doc = HtmlDocument::parse(source, kPage);
    QCOMPARE(doc->getElementById(u"t"_s).outerHTML(), expected);
}

void TestHtmlDocument::getElementById()
{
    const HtmlDocumentPtr doc = body(u"<div id=page>p1</div><div id=page>p2</div><div id=\"下一页\">cn</div>"
                                     "<template><b id=tpl>t</b></template>"_s);
    QCOMPARE(doc->getElementById(u"page"_s).innerText(), u"p1"_s);
    QCOMPARE(doc->getElementById(u"下一页"_s).innerText(), u"cn"_s);
    QVERIFY(doc->getElementById(u"Page"_s).isNull());
    QVERIFY(doc->getElementById(u"missing"_s).isNull());
    QVERIFY(doc->getElementById(QString()).isNull());
    QVERIFY(doc->getElementById(u"tpl"_s).isNull());

    // The root: cut from the source when both of its tags are there, else the whole source.
    const QString full = u"<!DOCTYPE html><html lang=zh><body>x</body></html>"_s;
    QCOMPARE(HtmlDocument::parse(full, kPage)->documentElement().outerHTML(),
             u"<html lang=zh><body>x</body></html>"_s);
    QCOMPARE(HtmlDocument::parse(u"x<b>y</b>"_s, kPage)->documentElement().outerHTML(), u"x<b>y</b>"_s);
    QCOMPARE(HtmlDocument::parse(u"x"_s, kPage)->documentElement().tagName(), u"HTML"_s);
    QCOMPARE(HtmlDocument::parse(u"x"_s, kPage)->URL(), kPage.toString());
}

void TestHtmlDocument::malformedMarkup_data()
{
    QTest::addColumn<QString>("html");
    QTest::addColumn<QString>("tag");
    QTest::addColumn<int>("count");
    QTest::addColumn<QString>("firstText");

    QTest::newRow("unclosed container")
        << u"<div class=\"result c-container\"><h3><a href=/l>标题"_s << u"a"_s << 1 << u"标题"_s;
    QTest::newRow("misnested inline") << u"<b><p id=q>x</b>y</p>"_s << u"p"_s << 1 << u"xy"_s;
    QTest::newRow("stray end tags") << u"</div></span></a><div>ok</div></div>"_s << u"div"_s << 1 << u"ok"_s;
    QTest::newRow("block inside link") << u"<a href=/x><div>block</div></a>"_s << u"a"_s << 1 << u"block"_s;
    QTest::newRow("nested links split") << u"<a href=/1>one<a href=/2>two</a>"_s << u"a"_s << 2 << u"one"_s;
    QTest::newRow("angle brackets") << u"<<<>>> <div>>d<</div>"_s << u"div"_s << 1 << u">d<"_s;
    QTest::newRow("unterminated attribute")
        << u"<div class=\"a>text</div><p>z</p>"_s << u"p"_s << 0 << QString();
    QTest::newRow("NUL characters") << u"<div>a\u0000b</div>"_s << u"div"_s << 1 << u"ab"_s;
    QTest::newRow("only text") << u"just text"_s << u"div"_s << 0 << QString();
    QTest::newRow("empty") << QString() << u"body"_s << 1 << QString();
}

void TestHtmlDocument::malformedMarkup()
{
    QFETCH(QString, html);
    QFETCH(QString, tag);
    QFETCH(int, count);
    QFETCH(QString, firstText);
    const HtmlDocumentPtr doc = HtmlDocument::parse(html, kPage);
    const QList<HtmlElement> found = doc->getElementsByTagName(tag);
    QCOMPARE(found.size(), count);
    QCOMPARE(found.value(0).innerText(), firstText);
    QVERIFY(!doc->documentElement().isNull());
    // Every element answers every query without harm.
    for (const HtmlElement& e : doc->getElementsByTagName(u"*"_s)) {
        e.outerHTML();
        e.innerText();
        e.href();
        QVERIFY(doc->find(e.locator()).tagName() == e.tagName());
    }
}

void TestHtmlDocument::nullElementAnswersEmpty()
{
    const HtmlElement none = body(u"<div>x</div>"_s)->getElementById(u"nope"_s);
    QVERIFY(none.isNull());
    QVERIFY(none.tagName().isEmpty());
    QVERIFY(none.className().isEmpty());
    QVERIFY(none.innerText().isEmpty());
    QVERIFY(none.href().isEmpty());
    QVERIFY(none.outerHTML().isEmpty());
    QVERIFY(none.getElementsByTagName(u"a"_s).isEmpty());
    QVERIFY(none.firstByTagName(u"a"_s).isNull());
    QVERIFY(none.parentElement().isNull());
    QVERIFY(!none.locator().isValid());
    QVERIFY(HtmlElement().firstByTagName(u"a"_s).firstByTagName(u"span"_s).className().isEmpty());
}

void TestHtmlDocument::deepNesting()
{
    // Deeper than a recursive walk could go on a small stack: parsed, read and freed on one.
    const int depth = 20000;
    QString html = u"<body>"_s;
    for (int i = 0; i < depth; ++i)
        html += u"<span>"_s;
    html += u"<a href=\"/deep\">deep</a>"_s;
    qsizetype spans = 0;
    qsizetype inner = 0;
    QString text;
    QString href;
    std::unique_ptr<QThread> worker(QThread::create([&] {
        const HtmlDocumentPtr doc = HtmlDocument::parse(html, kPage);
        spans = doc->getElementsByTagName(u"span"_s).size();
        const HtmlElement outer = doc->getElementsByTagName(u"span"_s).first();
        text = outer.innerText();
        href = outer.firstByTagName(u"a"_s).href();
        inner = outer.getElementsByTagName(u"span"_s).size();
    }));
    worker->setStackSize(512 * 1024);
    worker->start();
    QVERIFY(worker->wait(60000));
    QCOMPARE(spans, depth);
    QCOMPARE(text, u"deep"_s);
    QCOMPARE(href, u"http://www.example.com/deep"_s);
    QCOMPARE(inner, depth - 1);
}

QTEST_GUILESS_MAIN(TestHtmlDocument)
#include "tst_htmldocument.moc"
