// Parses and extracts a large result page, as every page of a batch is read: the median time per
// page of HtmlDocument::parse + ExtractResults. Usage: bench_extract [page KB] [runs]
#include "Median.h"
#include "app/HtmlDocument.h"
#include "search/ResultExtractor.h"
#include "search/ResultListModel.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QStringList>

#include <cstdio>

using namespace Qt::StringLiterals;
using namespace lintbay;

namespace {
// One result entry in the engine's markup, with the surrounding noise a real page carries
// (scripts, styles, nested spans, abstracts).
QString entry(int i)
{
    static const QStringList types{u"pdf"_s, u"doc"_s, u"xls"_s, u"ppt"_s, u"rtf"_s};
    const QString type = types.at(i % types.size());
    return uR"(<div class="result c-container xpath-log new-pmd" id="%1" srcid="1599" tpl="se_com_default">
<h3 class="t c-title-en"><a href="http://127.0.0.1:8123/link?url=tok%1abcdefghijklmnop" target="_blank"
data-click="{'F':'778317EA','T':'%1'}"><span class="c-icon c-icon-%2"></span>第%1份 机器学习与数据挖掘研究报告（%2 版）...</a></h3>
<div class="c-row c-gap-top-small"><div class="general_image_pic c-span3"><img src="/img/%1.png"></div>
<div class="c-span9 c-span-last"><span class=" newTimeFactor_before_abs c-color-gray2 m">2024年3月%3日&nbsp;</span>
<span class="content-right_8Zs40">本报告系统梳理了机器学习在工业领域的应用现状，分析了数据挖掘技术的发展趋势，
并对未来五年的研究方向进行了展望。关键词：<em>机器学习</em>、<em>数据挖掘</em>、深度学习、特征工程。</span>
<div class="f13 c-gap-top-xsmall se_st_footer"><a target="_blank" href="http://127.0.0.1:8123/link?url=tok%1snap"
class="c-showurl c-color-gray" style="text-decoration:none;position:relative;">www.example%1.com/docs/report-%1.%2</a>
<div class="c-tools c-gap-left" id="tools_%1"><i class="c-icon f13"></i></div><span class="c-icons-outer">
<span class="c-icons-inner"></span></span><a data-click="{'rsv_snapshot':'1'}" href="/cache?id=%1" target="_blank"
class="m c-gap-left kuaizhao">百度快照</a></div></div></div></div>
<script>window.__entry%1 = {"id": %1, "tpl": "se_com_default", "extra": "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx"};</script>
)"_s.arg(i).arg(type).arg(i % 28 + 1);
}

QString buildPage(int targetBytes)
{
    QString page = u"<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>机器学习_百度搜索</title>"
                   "<style>.c-container{width:538px;font-size:13px}.t{font-weight:normal}</style></head><body>"
                   "<div id=\"wrapper\"><div id=\"head\"><form id=\"form\"><input id=\"kw\" value=\"机器学习\"></form></div>"
                   "<div id=\"content_left\">"_s;
    int i = 0;
    while (page.toUtf8().size() < targetBytes)
        page += entry(i++);
    page += u"</div><div id=\"page\"><a href=\"/s?pn=0\">1</a><a href=\"/s?pn=10\">2</a>"
            "<a href=\"/s?pn=10\" class=\"n\">下一页&gt;</a></div></div></body></html>"_s;
    return page;
}
// Result containers nested inside a FONT of their parent, `depth` deep: the text marker test must
// not render the rest of the page at every level.
QString nestedPage(int depth)
{
    QString page = u"<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>"_s;
    for (int i = 0; i < depth; ++i)
        page += u"<div class=\"result c-container\"><h3 class=\"t\"><a href=\"http://127.0.0.1:8123/link?url=t%1\">"
                "标题%1</a></h3><font size=\"-1\">"_s.arg(i);
    for (int i = 0; i < depth; ++i)
        page += u"</font></div>"_s;
    return page + u"</body></html>"_s;
}

// Result containers nested `depth` deep whose only link, innermost, holds a title of `titleChars`
// characters (below 0: as many line breaks, each in a block of its own): every level finds that
// same link as its first.
QString sharedLinkPage(int depth, int titleChars)
{
    QString page = u"<!DOCTYPE html><html><head><meta charset=\"utf-8\"></head><body>"_s;
    for (int i = 0; i < depth; ++i)
        page += u"<div class=\"result c-container\">"_s;
    const QString title = titleChars > 0 ? QString(titleChars, u'题') : u"<div><br></div>"_s.repeated(-titleChars);
    page += u"<a href=\"http://127.0.0.1:8123/link?url=t\">题"_s + title + u"</a>"_s;
    for (int i = 0; i < depth; ++i)
        page += u"</div>"_s;
    return page + u"</body></html>"_s;
}

int nestedCase(int depth, int runs, int titleChars)
{
    const QString page = titleChars != 0 ? sharedLinkPage(depth, titleChars) : nestedPage(depth);
    const QUrl url(u"http://127.0.0.1:8123/s?q1=x&ft=pdf"_s);
    ExtractionOptions options;
    options.engineDomain = u"127.0.0.1:8123"_s;
    const auto doc = HtmlDocument::parse(page, url);
    QList<double> extractMs;
    int rows = 0;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer t;
        t.start();
        ResultListModel list;
        ExtractResults(*doc, options, QString(), list);
        extractMs << t.nsecsElapsed() / 1e6;
        rows = list.count();
    }
    std::printf("| nested containers, depth %d%s (%lld KB), %d rows | %.1f |\n", depth,
                titleChars > 0   ? qPrintable(u", one link of %1 characters"_s.arg(titleChars))
                : titleChars < 0 ? qPrintable(u", one link of %1 line breaks"_s.arg(-titleChars))
                                 : "",
                static_cast<long long>(page.toUtf8().size() / 1024), rows, median(extractMs));
    return 0;
}
} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() > 2 && args.at(1) == u"nested"_s)
        return nestedCase(args.at(2).toInt(), args.size() > 3 ? args.at(3).toInt() : 5,
                          args.size() > 4 ? args.at(4).toInt() : 0);
    const int kb = args.size() > 1 ? args.at(1).toInt() : 500;
    const int runs = args.size() > 2 ? args.at(2).toInt() : 21;
    const QString page = buildPage(kb * 1024);
    const QUrl url(u"http://127.0.0.1:8123/s?q1=x&ft=pdf"_s);
    ExtractionOptions options;
    options.removeSpaces = options.skipUnknownType = options.skipKana = options.toSimplified = true;
    options.engineDomain = u"127.0.0.1:8123"_s;

    QList<double> parseMs, extractMs, totalMs;
    int rows = 0;
    for (int r = 0; r < runs; ++r) {
        QElapsedTimer t;
        t.start();
        const auto doc = HtmlDocument::parse(page, url);
        const double parsed = t.nsecsElapsed() / 1e6;
        ResultListModel list;
        ExtractResults(*doc, options, QString(), list);
        const double total = t.nsecsElapsed() / 1e6;
        rows = list.count();
        parseMs << parsed;
        extractMs << total - parsed;
        totalMs << total;
    }
    std::printf("page: %lld bytes (UTF-8), %d result entries kept, %d runs\n",
                static_cast<long long>(page.toUtf8().size()), rows, runs);
    std::printf("| step | median ms |\n|---|---:|\n");
    std::printf("| parse (HtmlDocument::parse) | %.1f |\n", median(parseMs));
    std::printf("| extract (ExtractResults) | %.1f |\n", median(extractMs));
    std::printf("| per page, parse + extract | %.1f |\n", median(totalMs));
    return 0;
}
