#include "app/HtmlDocument.h"
#include "search/QueryBuilder.h"
#include "search/ResultExtractor.h"
#include "search/ResultListModel.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace lintbay;

namespace {

const QString kEngine = u"http://127.0.0.1:8123"_s;
const QString kPageUrl = u"http://127.0.0.1:8123/s?q1=%BB%FA%C6%F7&tn=baiduadv&ft=pdf"_s;

enum Flag
{
    RemoveSpaces = 1,
    SkipUnknownType = 2,
    SkipKana = 4,
    SkipTraditional = 8,
    ToSimplifiedFlag = 16,
};

QString redirect(const QString& id)
{
    return kEngine + u"/link?url="_s + id;
}

// One result entry as the engine lays it out: the title link in a heading, the type icon or the
// text marker in the abstract below it.
QString entry(const QString& cls, const QString& title, const QString& icon = {}, const QString& marker = {},
              const QString& href = redirect(u"x1"_s))
{
    QString html = u"<div class=\""_s + cls + u"\"><h3 class=\"t\">"_s;
    if (!href.isNull())
        html += u"<a href=\""_s + href + u"\" target=\"_blank\">"_s + title + u"</a>"_s;
    html += u"</h3><div class=\"c-abstract\">"_s;
    if (!icon.isNull())
        html += u"<span class=\""_s + icon + u"\"></span>"_s;
    if (!marker.isNull())
        html += u"<font size=\"-1\">"_s + marker + u"</font>"_s;
    html += u"摘要文字</div></div>"_s;
    return html;
}

QString result(const QString& title, const QString& icon = {}, const QString& marker = {},
               const QString& href = redirect(u"x1"_s))
{
    return entry(u"result c-container"_s, title, icon, marker, href);
}

HtmlDocumentPtr page(const QString& body)
{
    return HtmlDocument::parse(u"<html><head><title>结果</title></head><body><div id=\"wrapper\">"_s + body +
                                   u"</div></body></html>"_s,
                               QUrl(kPageUrl));
}

ExtractionOptions optionsFor(int flags)
{
    ExtractionOptions o;
    o.removeSpaces = flags & RemoveSpaces;
    o.skipUnknownType = flags & SkipUnknownType;
    o.skipKana = flags & SkipKana;
    o.skipTraditional = flags & SkipTraditional;
    o.toSimplified = flags & ToSimplifiedFlag;
    o.engineDomain = SearchEngineDomain(kEngine);
    return o;
}

QStringList rowsOf(const ResultListModel& list)
{
    QStringList out;
    for (const SearchResult& r : list.rows())
        out << r.title + u'|' + r.type;
    return out;
}

} // namespace

class TestResultExtract : public QObject
{
    Q_OBJECT

private slots:
    void extract_data();
    void extract();
    void rowCarriesLinkPageAndFolder();
    void secondExtractionAddsNothing();
    void pageWithoutResults();
    void otherSharingSiteDomain();
};

void TestResultExtract::extract_data()
{
    QTest::addColumn<QString>("body");
    QTest::addColumn<int>("flags");
    QTest::addColumn<QStringList>("expected"); // "title|type" per row, in page order

    const QString pdf = u"c-icon c-icon-pdf"_s;

    // Which containers count.
    QTest::newRow("result c-container")
        << result(u"机器学习综述"_s, pdf) << 0 << QStringList{u"机器学习综述|PDF"_s};
    QTest::newRow("classes in the other order")
        << entry(u"c-container result"_s, u"机器学习综述"_s, pdf) << 0 << QStringList{};
    QTest::newRow("extra class after") << entry(u"result c-container xpath-log"_s, u"机器学习综述"_s, pdf)
                                       << 0 << QStringList{u"机器学习综述|PDF"_s};
    QTest::newRow("result-op") << entry(u"result-op c-container"_s, u"机器学习综述"_s, pdf) << 0
                               << QStringList{u"机器学习综述|PDF"_s};
    QTest::newRow("case and blanks") << entry(u"  Result C-Container  "_s, u"机器学习综述"_s, pdf) << 0
                                     << QStringList{u"机器学习综述|PDF"_s};
    QTest::newRow("container alone") << entry(u"c-container"_s, u"机器学习综述"_s, pdf) << 0 << QStringList{};

    // Type from the icon of the first SPAN.
    QTest::newRow("icon doc") << result(u"报告"_s, u"c-icon c-icon-doc"_s) << 0 << QStringList{u"报告|doc"_s};
    QTest::newRow("icon xls") << result(u"报告"_s, u"c-icon c-icon-xls"_s) << 0 << QStringList{u"报告|xls"_s};
    QTest::newRow("icon ppt") << result(u"报告"_s, u"c-icon c-icon-ppt"_s) << 0 << QStringList{u"报告|ppt"_s};
    QTest::newRow("icon rtf") << result(u"报告"_s, u"C-Icon C-Icon-RTF"_s) << 0 << QStringList{u"报告|rtf"_s};
    QTest::newRow("later icon test wins")
        << result(u"报告"_s, u"c-icon c-icon-rtf c-icon c-icon-pdf"_s) << 0 << QStringList{u"报告|rtf"_s};
    QTest::newRow("only the first span")
        << result(u"报告"_s, u"c-showurl"_s) // the icon of a second span is not looked at
               .replace(u"</span>"_s, u"</span><span class=\"c-icon c-icon-pdf\"></span>"_s)
        << 0 << QStringList{u"报告|"_s};
    QTest::newRow("icon without the c-icon prefix")
        << result(u"报告"_s, u"c-icon-pdf"_s) << 0 << QStringList{u"报告|"_s};

    // Type from the FONT marker, only when no icon gave one.
    QTest::newRow("marker PPT") << result(u"报告"_s, {}, u"【PPT】"_s) << 0 << QStringList{u"报告|ppt"_s};
    QTest::newRow("marker pdf") << result(u"报告"_s, {}, u" 【pdf】 "_s) << 0 << QStringList{u"报告|PDF"_s};
    QTest::newRow("marker rtf") << result(u"报告"_s, {}, u"【RTF】"_s) << 0 << QStringList{u"报告|rtf"_s};
    QTest::newRow("marker with more text")
        << result(u"报告"_s, {}, u"【PPT】幻灯片"_s) << 0 << QStringList{u"报告|"_s};
    QTest::newRow("icon beats marker")
        << result(u"报告"_s, pdf, u"【DOC】"_s) << 0 << QStringList{u"报告|PDF"_s};
    QTest::newRow("marker after plain span")
        << result(u"报告"_s, u"c-showurl"_s, u"【XLS】"_s) << 0 << QStringList{u"报告|xls"_s};

    // Unknown types.
    QTest::newRow("unknown type kept") << result(u"报告"_s) << 0 << QStringList{u"报告|"_s};
    QTest::newRow("unknown type dropped") << result(u"报告"_s) << int(SkipUnknownType) << QStringList{};
    QTest::newRow("known type with Check2")
        << result(u"报告"_s, pdf) << int(SkipUnknownType) << QStringList{u"报告|PDF"_s};

    // Title clean-up.
    QTest::newRow("ellipsis removed")
        << result(u"机器学习...综述..."_s, pdf) << 0 << QStringList{u"机器学习综述|PDF"_s};
    QTest::newRow("markup inside the title")
        << result(u"<em>机器</em>学习 综述"_s, pdf) << 0 << QStringList{u"机器学习 综述|PDF"_s};
    QTest::newRow("spaces kept") << result(u" Deep learning notes "_s, pdf) << 0
                                 << QStringList{u"Deep learning notes|PDF"_s};
    QTest::newRow("spaces removed") << result(u"Deep learning notes"_s, pdf) << int(RemoveSpaces)
                                    << QStringList{u"Deeplearningnotes|PDF"_s};

    // Scripts.
    QTest::newRow("kana kept") << result(u"機械学習の基礎"_s, pdf) << 0
                               << QStringList{u"機械学習の基礎|PDF"_s};
    QTest::newRow("kana dropped") << result(u"機械学習の基礎"_s, pdf) << int(SkipKana) << QStringList{};
    QTest::newRow("kana filter keeps chinese")
        << result(u"机器学习基础"_s, pdf) << int(SkipKana) << QStringList{u"机器学习基础|PDF"_s};
    QTest::newRow("traditional dropped")
        << result(u"機器學習"_s, pdf) << int(SkipTraditional) << QStringList{};
    QTest::newRow("traditional converted")
        << result(u"機器學習報告"_s, pdf) << int(ToSimplifiedFlag) << QStringList{u"机器学习报告|PDF"_s};
    QTest::newRow("filter looks before conversion")
        << result(u"機器學習"_s, pdf) << int(SkipTraditional | ToSimplifiedFlag) << QStringList{};
    QTest::newRow("site title made by conversion")
        << result(u"機器學習-豆丁網"_s, pdf) << int(ToSimplifiedFlag) << QStringList{};
    QTest::newRow("site title not yet converted")
        << result(u"機器學習-豆丁網"_s, pdf) << 0 << QStringList{u"機器學習-豆丁網|PDF"_s};

    // Site titles.
    QTest::newRow("_百度") << result(u"机器学习_百度文库"_s, pdf) << 0 << QStringList{};
    QTest::newRow("-百度") << result(u"机器学习-百度百科"_s, pdf) << 0 << QStringList{};
    QTest::newRow("_百度 with an inner space") << result(u"机器学习 文库_ 百度"_s, pdf) << 0 << QStringList{};
    QTest::newRow("百度 alone") << result(u"百度 机器学习"_s, pdf) << 0
                                << QStringList{u"百度 机器学习|PDF"_s};
    QTest::newRow("sharing site suffix")
        << result(u"机器学习 - DocIn.com豆丁网"_s, pdf) << 0 << QStringList{};
    QTest::newRow("sharing site suffix, other domain") << result(u"机器学习 - doc88.com豆丁网"_s, pdf) << 0
                                                       << QStringList{u"机器学习 - doc88.com豆丁网|PDF"_s};
    QTest::newRow("-豆丁网") << result(u"机器学习-豆丁网"_s, pdf) << 0 << QStringList{};
    QTest::newRow("_360百科") << result(u"机器学习_360百科"_s, pdf) << 0 << QStringList{};
    QTest::newRow("-道客巴巴") << result(u"机器学习-道客巴巴"_s, pdf) << 0 << QStringList{};
    QTest::newRow("道客巴巴 after a space")
        << result(u"机器学习- 道客巴巴"_s, pdf) << 0 << QStringList{u"机器学习- 道客巴巴|PDF"_s};
    QTest::newRow("道客巴巴 inside") << result(u"机器学习-道客巴巴文档"_s, pdf) << 0
                                     << QStringList{u"机器学习-道客巴巴文档|PDF"_s};
    QTest::newRow("搜狗百科 with em dash")
        << result(u"机器学习 - 搜狗百科—知识"_s, pdf) << 0 << QStringList{};
    QTest::newRow("搜狗百科 without em dash")
        << result(u"机器学习-搜狗百科"_s, pdf) << 0 << QStringList{u"机器学习-搜狗百科|PDF"_s};

    // Links.
    QTest::newRow("direct link") << result(u"报告"_s, pdf, {}, u"http://files.example/a.pdf"_s) << 0
                                 << QStringList{};
    QTest::newRow("redirect of another host")
        << result(u"报告"_s, pdf, {}, u"http://other.example/link?url=abc"_s) << 0 << QStringList{};
    QTest::newRow("redirect on another port")
        << result(u"报告"_s, pdf, {}, u"http://127.0.0.1:8124/link?url=abc"_s) << 0 << QStringList{};
    QTest::newRow("redirect mark in another host's address")
        << result(u"报告"_s, pdf, {}, u"http://other.example/x?127.0.0.1:8123/link?url=abc"_s) << 0
        << QStringList{};
    QTest::newRow("redirect in capitals")
        << result(u"报告"_s, pdf, {}, u"http://127.0.0.1:8123/LINK?URL=abc"_s) << 0
        << QStringList{u"报告|PDF"_s};
    QTest::newRow("relative redirect")
        << result(u"报告"_s, pdf, {}, u"/link?url=abc"_s) << 0 << QStringList{u"报告|PDF"_s};

    // Empty parts.
    QTest::newRow("empty title") << result(QString(), pdf) << 0 << QStringList{};
    QTest::newRow("title only dots") << result(u"......"_s, pdf) << 0 << QStringList{};
    QTest::newRow("no anchor") << result(u"报告"_s, pdf, {}, QString()) << 0 << QStringList{};

    // Several entries: page order, duplicates once, non-containers in between ignored.
    QTest::newRow("several entries") << result(u"甲"_s, pdf, {}, redirect(u"a"_s)) +
                                            entry(u"c-container"_s, u"乙"_s, pdf, {}, redirect(u"b"_s)) +
                                            result(u"丙"_s, {}, u"【DOC】"_s, redirect(u"c"_s)) +
                                            result(u"丁"_s, pdf, {}, redirect(u"a"_s)) +
                                            result(u"戊"_s, u"c-icon c-icon-xls"_s, {}, redirect(u"e"_s))
                                     << 0 << QStringList{u"甲|PDF"_s, u"丙|doc"_s, u"戊|xls"_s};
}

void TestResultExtract::extract()
{
    QFETCH(QString, body);
    QFETCH(int, flags);
    QFETCH(QStringList, expected);

    const HtmlDocumentPtr doc = page(body);
    ResultListModel list;
    ExtractResults(*doc, optionsFor(flags), QString(), list);
    QCOMPARE(rowsOf(list), expected);
}

void TestResultExtract::rowCarriesLinkPageAndFolder()
{
    const HtmlDocumentPtr doc = page(result(u"报告"_s, u"c-icon c-icon-pdf"_s, {}, u" /link?url=abc "_s));
    ResultListModel list;
    QCOMPARE(ExtractResults(*doc, optionsFor(0), u"/home/user/12345"_s, list), 1);
    QCOMPARE(list.count(), 1);
    const SearchResult& r = list.at(0);
    QCOMPARE(r.key, redirect(u"abc"_s));
    QCOMPARE(r.tag, kPageUrl);
    QCOMPARE(r.saveFolder, u"/home/user/12345"_s);
    QVERIFY(r.status.isEmpty());
}

void TestResultExtract::secondExtractionAddsNothing()
{
    const HtmlDocumentPtr doc =
        page(result(u"甲"_s, {}, {}, redirect(u"a"_s)) + result(u"乙"_s, {}, {}, redirect(u"b"_s)) +
             result(u"乙again"_s, {}, {}, redirect(u"b"_s)));
    ResultListModel list;
    // The count is of entries offered, duplicates included; the list keeps each link once.
    QCOMPARE(ExtractResults(*doc, optionsFor(0), QString(), list), 3);
    QCOMPARE(rowsOf(list), (QStringList{u"甲|"_s, u"乙|"_s}));
    QCOMPARE(ExtractResults(*doc, optionsFor(0), u"/elsewhere"_s, list), 3);
    QCOMPARE(rowsOf(list), (QStringList{u"甲|"_s, u"乙|"_s}));
    QVERIFY(list.at(0).saveFolder.isEmpty());
}

void TestResultExtract::pageWithoutResults()
{
    ResultListModel list;
    const HtmlDocumentPtr empty = HtmlDocument::parse(QString(), QUrl(u"about:blank"_s));
    QCOMPARE(ExtractResults(*empty, optionsFor(0), QString(), list), 0);
    const HtmlDocumentPtr noDivs =
        HtmlDocument::parse(u"<p><a href=\"/link?url=a\">报告</a></p>"_s, QUrl(kPageUrl));
    QCOMPARE(ExtractResults(*noDivs, optionsFor(0), QString(), list), 0);

    // Without an engine domain no link can be told to be the engine's own.
    ExtractionOptions noDomain = optionsFor(0);
    noDomain.engineDomain.clear();
    QCOMPARE(ExtractResults(*page(result(u"报告"_s)), noDomain, QString(), list), 0);
    QCOMPARE(list.count(), 0);
}

void TestResultExtract::otherSharingSiteDomain()
{
    ExtractionOptions o = optionsFor(0);
    o.sharingSiteDomain = u"Docs.example.org"_s;
    ResultListModel list;
    ExtractResults(*page(result(u"报告 docs.EXAMPLE.org豆丁网"_s, {}, {}, redirect(u"a"_s)) +
                         result(u"报告 docin.com豆丁网"_s, {}, {}, redirect(u"b"_s))),
                   o, QString(), list);
    QCOMPARE(rowsOf(list), QStringList{u"报告 docin.com豆丁网|"_s});
}

QTEST_GUILESS_MAIN(TestResultExtract)
#include "tst_resultextract.moc"
