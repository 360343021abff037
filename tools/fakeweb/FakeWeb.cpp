#include "FakeWeb.h"

#include "search/QueryBuilder.h"
#include "util/TextHelpers.h"

#include <QHostAddress>
#include <QRegularExpression>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace lintbay::fakeweb {

namespace {

using test::TestHttpRequest;
using test::TestHttpResponse;

QString esc(const QString& text)
{
    return text.toHtmlEscaped();
}

// Ids for the decoys, made like the model's entry ids.
QString decoyId(const SearchQuery& q, const QString& what)
{
    return hex16(stableHash({q.keyword, q.ft, QString::number(q.page), what}));
}

// The origin the client used to reach us, for links written with scheme and host.
QString originOf(const TestHttpRequest& request)
{
    static const QRegularExpression hostForm(u"^[A-Za-z0-9.\\-]+(:[0-9]{1,5})?$"_s);
    const QString host = QString::fromLatin1(request.header("Host")).trimmed();
    return u"http://"_s + (hostForm.match(host).hasMatch() ? host : u"127.0.0.1"_s);
}

// The query as sent without its pn item, so that pager links keep the keyword's encoding.
QString queryWithoutPage(const QString& rawQuery)
{
    QStringList kept;
    for (const QString& item : rawQuery.split(u'&', Qt::SkipEmptyParts)) {
        if (item != u"pn"_s && !item.startsWith(u"pn="_s))
            kept.append(item);
    }
    return kept.join(u'&');
}

QString pageHref(const QString& baseQuery, int page)
{
    return u"/s?"_s + baseQuery + u"&pn="_s + QString::number(FakeWebModel::offsetOfPage(page));
}

const QString kStyle = uR"(<style>
body{font:13px/1.5 sans-serif;margin:0;color:#222}
#head{padding:12px 24px;border-bottom:1px solid #e5e5e5;background:#f8f8f8}
#head .logo{font-size:20px;font-weight:bold;color:#2255cc;text-decoration:none;margin-right:16px}
#container{padding:8px 24px;max-width:760px}
.nums{color:#999;margin:6px 0 12px}
.c-container,.ec_tuiguang_pplink{margin-bottom:18px}
h3.t{font-size:16px;font-weight:normal;margin:0 0 4px}
h3.t a{color:#2255cc}
em{color:#c00;font-style:normal}
.c-icon{display:inline-block;width:16px;height:16px;margin-right:4px;vertical-align:text-bottom;border-radius:2px;background:#999}
.c-icon-pdf{background:#d9352c}.c-icon-doc{background:#2a65c8}.c-icon-xls{background:#1f8a43}
.c-icon-ppt{background:#d2691e}.c-icon-rtf{background:#7a4fbf}
.c-showurl{color:#008000;text-decoration:none}
.ec_tuiguang_pplink{background:#fdf6e3;padding:4px}
#page{margin:24px 0;font-size:14px}
#page a,#page strong{display:inline-block;min-width:30px;padding:4px 6px;margin-right:6px;text-align:center;border:1px solid #e1e2e3}
#page strong{border:0;font-weight:bold}
#foot{color:#999;padding:16px 24px;border-top:1px solid #e5e5e5}
</style>)"_s;

QString searchForm(const SearchQuery& q)
{
    QString types;
    for (const QString& t : DocumentTypesInOrder()) {
        types += u"<option value=\""_s + t + u'"' + (t == q.ft ? u" selected"_s : QString()) + u'>' + t +
                 u"</option>"_s;
    }
    // The engine reads its keyword in GBK, so the form sends it so.
    return u"<form action=\"/s\" method=\"get\" accept-charset=\"gbk\">"
           "<input type=\"text\" name=\"q1\" size=\"40\" value=\""_s +
           esc(q.keyword) + u"\"> <select name=\"ft\">"_s + types +
           u"</select><input type=\"hidden\" name=\"q5\" value=\"\"><input type=\"hidden\" name=\"tn\" "
           "value=\"baiduadv\"><input type=\"hidden\" name=\"lm\" value=\"0\"> "
           "<input type=\"submit\" value=\"搜索\"></form>"_s;
}

QString linkHref(const FakeEntry& e, const QString& origin)
{
    const QString path = e.direct ? e.targetPath : u"/link?url="_s + e.token;
    return e.absoluteLink ? origin + path : path;
}

QString entryHtml(const FakeEntry& e, const QString& keyword, const QString& origin)
{
    const QString href = esc(linkHref(e, origin));
    const QString phrase = e.title.mid(keyword.size());
    QString html = u"<div class=\""_s + esc(e.containerClass) + u"\" id=\""_s +
                   QString::number(e.number + 1) + u"\" tpl=\"se_com_default\">\n<h3 class=\"t\">"_s;
    if (e.mark == FakeEntry::TypeMark::Icon)
        html += u"<span class=\"c-icon c-icon-"_s + e.type.toLower() + u" c-gap-icon-right-small\"></span>"_s;
    else if (e.mark == FakeEntry::TypeMark::Marker)
        html += u"<font size=\"-1\">【"_s + e.type.toUpper() + u"】</font>"_s;
    html += u"<a href=\""_s + href + u"\" target=\"_blank\"><em>"_s + esc(keyword) + u"</em>"_s +
            esc(phrase) + u"</a></h3>\n"_s;
    const QString date = u"2019年%1月%2日"_s.arg(1 + e.number % 12).arg(1 + e.number % 28);
    html += u"<div class=\"c-abstract\"><span class=\"newTimeFactor_before_abs m\">"_s + date +
            u"&nbsp;-&nbsp;</span>本文介绍了<em>"_s + esc(keyword) +
            u"</em>的基本概念、主要方法和典型应用，并结合实例进行了分析和讨论。</div>\n"_s;
    html += u"<div class=\"f13\"><a target=\"_blank\" href=\""_s + href +
            u"\" class=\"c-showurl\">www.site"_s + QString::number(e.number % 7 + 1) + u".edu.cn/"_s +
            esc(e.targetPath.mid(1)) + u"</a> <font color=\"#666666\">- 网页快照</font></div>\n</div>\n"_s;
    return html;
}

// Containers that look like results but are not: the extraction must pass over them.
QString advertHtml(const SearchQuery& q)
{
    return u"<div id=\"ec_ads\"><div class=\"ec_tuiguang_pplink c-container\" id=\"3001\">"
           "<h3 class=\"t\"><span class=\"c-icon c-icon-pdf\"></span><a href=\"/link?url=web_"_s +
           decoyId(q, u"ad"_s) + u"\" target=\"_blank\"><em>"_s + esc(q.keyword) +
           u"</em>资料下载中心</a></h3><div class=\"c-abstract\">海量文档免费下载 "
           "<span class=\"ec_tuiguang_pplink_tag\">广告</span></div></div></div>\n"_s;
}

QString wrongOrderHtml(const SearchQuery& q)
{
    return u"<div class=\"c-container result\" id=\"5001\"><h3 class=\"t\"><span class=\"c-icon c-icon-pdf\">"
           "</span><a href=\"/link?url=pdf_"_s +
           decoyId(q, u"order"_s) + u"\" target=\"_blank\"><em>"_s + esc(q.keyword) +
           u"</em>相关文献汇编</a></h3><div class=\"c-abstract\">相关文献。</div></div>\n"_s;
}

QString relatedHtml(const SearchQuery& q)
{
    QString links;
    for (const QString& more : {u" 教程"_s, u" 论文"_s, u" 课件"_s}) {
        const QString k = q.keyword + more;
        QString encoded = UrlEncodeAnsi(k);
        encoded.replace(u' ', u"%20"_s);
        links += u"<a href=\""_s + esc(u"/s?q1="_s + encoded + u"&q5=&tn=baiduadv&lm=0&ft="_s + q.ft) +
                 u"\">"_s + esc(k) + u"</a> "_s;
    }
    return u"<div class=\"result-op xpath-log\" tpl=\"recommend_list\"><div class=\"rs-title\">相关搜索</div>"_s +
           links + u"</div>\n"_s;
}

QString pagerHtml(const SearchQuery& q, const QString& rawQuery, int pages)
{
    const QString base = queryWithoutPage(rawQuery);
    QString html = u"<div id=\"page\"><div class=\"page-inner\">"_s;
    if (q.page > 0)
        html += u"<a class=\"n\" href=\""_s + esc(pageHref(base, q.page - 1)) + u"\">&lt;上一页</a>"_s;
    const int first = std::max(0, q.page - 5);
    const int last = std::min(pages, first + 10);
    for (int p = first; p < last; ++p) {
        const QString label = u"<span class=\"pc\">"_s + QString::number(p + 1) + u"</span>"_s;
        if (p == q.page)
            html += u"<strong>"_s + label + u"</strong>"_s;
        else
            html += u"<a href=\""_s + esc(pageHref(base, p)) + u"\">"_s + label + u"</a>"_s;
    }
    if (q.page < pages - 1)
        html += u"<a class=\"n\" href=\""_s + esc(pageHref(base, q.page + 1)) + u"\">下一页 &gt;</a>"_s; // as today's pages write it
    html += u"</div></div>\n"_s;
    return html;
}

QString pageHead(const QString& title)
{
    return u"<!DOCTYPE html>\n<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; "
           u"charset=utf-8\">"
           "<title>"_s +
           esc(title) + u"</title>"_s + kStyle + u"</head>\n<body>\n"_s;
}

const QString kFoot = u"<div id=\"foot\">本地搜索 · 仅供演示和测试</div>\n</body></html>\n"_s;

} // namespace

FakeWeb::FakeWeb(QObject* parent) : QObject(parent), m_server(new test::TestHttpServer(this))
{
    installRoutes(*m_server);
}

FakeWeb::FakeWeb(test::TestHttpServer* server, QObject* parent) : QObject(parent), m_server(server)
{
    installRoutes(*m_server);
}

bool FakeWeb::listen(quint16 port)
{
    return m_server && m_server->listen(port);
}

QString FakeWeb::address() const
{
    return u"http://127.0.0.1:"_s + QString::number(m_server ? m_server->port() : 0);
}

QUrl FakeWeb::searchUrl(const QString& keyword, const QString& ft, int page) const
{
    return searchUrl(keyword, ft, page, QueryOptions{});
}

QUrl FakeWeb::searchUrl(const QString& keyword, const QString& ft, int page,
                        const QueryOptions& options) const
{
    QString url = BuildQueryUrl(BuildQueryPrefix(SearchQueryBase(address()), keyword, options), ft);
    if (page > 0)
        url += u"&pn="_s + QString::number(FakeWebModel::offsetOfPage(page));
    return QUrl(url);
}

void FakeWeb::installRoutes(test::TestHttpServer& server)
{
    for (const QString& path : {u"/"_s, u"/s"_s, u"/link"_s})
        server.route(path, &FakeWeb::respond);
    server.routePrefix(u"/files/"_s, &FakeWeb::respond);
    server.routePrefix(u"/pages/"_s, &FakeWeb::respond);
}

void FakeWeb::setVerifyAfter(int queries)
{
    m_verifyAfter = queries;
    m_queries = 0;
    m_solved = false;
    if (!m_server)
        return;
    const QPointer<FakeWeb> self(this);
    const auto handler = [self](const TestHttpRequest& request) {
        return self ? self->respondWithVerification(request) : respond(request);
    };
    m_server->route(u"/s"_s, handler);
    m_server->route(u"/verify"_s, handler);
}

TestHttpResponse FakeWeb::respondWithVerification(const TestHttpRequest& request)
{
    if (request.path == u"/verify"_s) {
        m_solved = true;
        // Only back to a page of this engine.
        const QString back = request.queryItem(u"back"_s);
        return TestHttpResponse::redirect(back.startsWith(u"/s?"_s) ? back.toUtf8() : QByteArray("/"));
    }
    if (m_verifyAfter > 0 && !m_solved && m_queries >= m_verifyAfter)
        return TestHttpResponse::html(verificationPage(request.target.isEmpty() ? u"/"_s
                                                                                 : QString::fromLatin1(request.target)));
    ++m_queries;
    return respond(request);
}

QString FakeWeb::verificationPage(const QString& back)
{
    return u"<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>百度安全验证</title></head>\n"
           "<body><div class=\"vcode-slide\" style=\"margin:80px auto;width:360px;text-align:center\">"
           "<p>网络不给力，请稍后重试</p><p>请完成下方验证后继续操作</p>"
           "<form action=\"/verify\" method=\"get\"><input type=\"hidden\" name=\"back\" value=\""_s +
           esc(back) +
           u"\"><input type=\"submit\" id=\"vcode-submit\" value=\"拖动滑块完成验证\"></form></div>"
           "</body></html>\n"_s;
}

TestHttpResponse FakeWeb::respond(const TestHttpRequest& request)
{
    if (request.path == u"/"_s)
        return TestHttpResponse::html(homePage());
    if (request.path == u"/s"_s)
        return TestHttpResponse::html(
            resultPage(FakeWebModel::parseQuery(request.query), request.query, originOf(request)));
    if (request.path == u"/link"_s) {
        const QString target = FakeWebModel::redirectTarget(request.queryItem(u"url"_s));
        if (target.isEmpty())
            return TestHttpResponse::notFound();
        return TestHttpResponse::redirect((originOf(request) + target).toLatin1());
    }
    if (const std::optional<FakeFile> file = fakeFileAt(request.path))
        return TestHttpResponse::bytes(file->body, file->contentType);
    return TestHttpResponse::notFound();
}

QString FakeWeb::homePage()
{
    return pageHead(u"本地搜索"_s) +
           u"<div id=\"head\" style=\"text-align:center;border:0;background:none;padding-top:120px\">"
           "<div class=\"logo\" style=\"font-size:36px;margin-bottom:24px\">本地搜索</div>"_s +
           searchForm(SearchQuery{}) +
           u"<p style=\"color:#999\">提示：关键词含“pages3”时结果有 3 页，"
           "含“empty”时没有结果。</p></div>\n"_s +
           kFoot;
}

QString FakeWeb::resultPage(const SearchQuery& query, const QString& rawQuery, const QString& origin)
{
    const int pages = FakeWebModel::pageCount(query.keyword, query.ft);
    const QList<FakeEntry> entries = FakeWebModel::entries(query.keyword, query.ft, query.page);

    QString html = pageHead(query.keyword + u" - 本地搜索"_s);
    html +=
        u"<div id=\"head\"><a class=\"logo\" href=\"/\">本地搜索</a>"_s + searchForm(query) + u"</div>\n"_s;
    html += u"<div id=\"wrapper_wrapper\"><div id=\"container\">\n"_s;
    if (entries.isEmpty()) {
        html += u"<div class=\"nors\"><p>很抱歉，没有找到与“<em>"_s + esc(query.keyword) +
                u"</em>”相关的文档。</p></div>\n"_s;
    } else {
        const int total = FakeWebModel::offsetOfPage(pages - 1) +
                          FakeWebModel::entryCount(query.keyword, query.ft, pages - 1);
        html += u"<div class=\"nums\">找到相关结果约%1个</div>\n<div id=\"content_left\">\n"_s.arg(total);
        html += advertHtml(query);
        for (qsizetype i = 0; i < entries.size(); ++i) {
            html += entryHtml(entries.at(i), query.keyword, origin);
            if (i == 3)
                html += wrongOrderHtml(query);
        }
        html += relatedHtml(query);
        html += u"</div>\n"_s;
        if (pages > 1)
            html += pagerHtml(query, rawQuery, pages);
    }
    html += u"</div></div>\n"_s + kFoot;
    return html;
}

} // namespace lintbay::fakeweb
