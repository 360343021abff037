#include "FakeWebModel.h"

#include "search/ScriptDetect.h"
#include "util/AnsiCodec.h"

#include <QRegularExpression>

#include <algorithm>
#include <array>

using namespace Qt::StringLiterals;

namespace lintbay::fakeweb {

namespace {

const std::array<QString, 5>& typeNames()
{
    static const std::array<QString, 5> names{u"PDF"_s, u"doc"_s, u"ppt"_s, u"xls"_s, u"rtf"_s};
    return names;
}

// A title part together with its Simplified form (the same text when it has no Traditional
// characters) and the rule of the extraction it trips.
struct Phrase
{
    QString text;
    QString simplified;
    FakeEntry::SiteRule rule = FakeEntry::SiteRule::Keep;
    bool traditional = false;
};

Phrase plain(const QString& text, FakeEntry::SiteRule rule = FakeEntry::SiteRule::Keep)
{
    return {text, text, rule, false};
}

const QList<Phrase>& plainPhrases()
{
    static const QList<Phrase> list{
        plain(u"研究报告"_s),           plain(u"发展现状与趋势分析"_s), plain(u"技术规范"_s),
        plain(u"课程设计说明书"_s),     plain(u"实验指导书"_s),         plain(u"行业分析报告"_s),
        plain(u"学习笔记"_s),           plain(u"年度工作总结"_s),       plain(u"应用案例集"_s),
        plain(u"期末考试试题及答案"_s), plain(u"教学大纲"_s),           plain(u"操作手册"_s),
    };
    return list;
}

const QList<Phrase>& spacedPhrases()
{
    static const QList<Phrase> list{
        plain(u" Annual Report 2019 年度报告"_s),
        plain(u" 国家标准 GB/T 7714-2015"_s),
        plain(u" 第 3 版 教程"_s),
        plain(u" User Guide 用户指南"_s),
    };
    return list;
}

const QList<Phrase>& truncatedPhrases()
{
    static const QList<Phrase> list{
        plain(u"国内外研究现状与发展趋势综合分析及对策建议..."_s),
        plain(u"在工程实践中的应用与若干问题的探讨..."_s),
        plain(u"基础知识...重点难点解析"_s),
    };
    return list;
}

const QList<Phrase>& japanesePhrases()
{
    static const QList<Phrase> list{
        plain(u"のレポート"_s),
        plain(u"についてのまとめ"_s),
        plain(u"ガイドブック"_s),
        plain(u"の基本とポイント"_s),
    };
    return list;
}

const QList<Phrase>& traditionalPhrases()
{
    static const QList<Phrase> list{
        {u"經濟發展研究報告"_s, u"经济发展研究报告"_s, FakeEntry::SiteRule::Keep, true},
        {u"資料結構課程設計"_s, u"资料结构课程设计"_s, FakeEntry::SiteRule::Keep, true},
        {u"網路安全技術標準"_s, u"网路安全技术标准"_s, FakeEntry::SiteRule::Keep, true},
        {u"電腦應用與維護"_s, u"电脑应用与维护"_s, FakeEntry::SiteRule::Keep, true},
        {u"醫學檢驗實驗報告"_s, u"医学检验实验报告"_s, FakeEntry::SiteRule::Keep, true},
        {u"環境監測數據分析"_s, u"环境监测数据分析"_s, FakeEntry::SiteRule::Keep, true},
    };
    return list;
}

// Titles of the engine's own properties and of aggregator sites, and near misses of them. The site
// entry of a page walks through this list page by page, so a query of 12 pages shows every one.
const QList<Phrase>& sitePhrases()
{
    using R = FakeEntry::SiteRule;
    static const QList<Phrase> list{
        plain(u"研究报告_百度文库"_s, R::DropAlways),
        plain(u"研究报告 - 百度文库"_s, R::DropAlways),
        plain(u"课程设计 - docin.com豆丁网"_s, R::DropAlways),
        plain(u"技术规范-豆丁网"_s, R::DropAlways),
        plain(u"_360百科"_s, R::DropAlways),
        plain(u"实验指导书-道客巴巴"_s, R::DropAlways),
        plain(u" - 搜狗百科—权威中文百科"_s, R::DropAlways),
        plain(u"课程设计 - DOCIN.COM豆丁网"_s, R::DropAlways),
        plain(u"实验指导书- 道客巴巴"_s, R::DropWhenSpacesRemoved),
        plain(u"课程设计 docin.com 豆丁网"_s, R::DropWhenSpacesRemoved),
        {u"發展報告-豆丁網"_s, u"发展报告-豆丁网"_s, R::DropWhenSimplified, true},
        plain(u"学习资料百度网盘分享"_s, R::Keep),
    };
    return list;
}

template <typename List> const auto& pick(const List& list, quint64 h)
{
    return list.at(qsizetype(h % quint64(list.size())));
}

// Keyword → page count rules that tests and the demo rely on.
std::optional<int> forcedPageCount(const QString& keyword)
{
    static const QRegularExpression pages(u"pages(\\d{1,3})"_s, QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch m = pages.match(keyword);
    if (m.hasMatch())
        return std::min(m.captured(1).toInt(), FakeWebModel::kMaxPages);
    if (keyword.trimmed().isEmpty() || keyword.contains(u"empty"_s, Qt::CaseInsensitive))
        return 0;
    return std::nullopt;
}

QString normalizedKeyword(const QString& keyword)
{
    return keyword.simplified();
}

// The file extension the server hands out for an entry of this type.
QString extensionFor(const QString& type, quint64 h)
{
    const QString ext = type.toLower();
    if (ext == u"doc"_s && h % 3 == 0)
        return u"docx"_s; // the engine labels Word 2007 files "doc" too
    return ext.isEmpty() ? u"pdf"_s : ext;
}

FakeEntry makeEntry(const QString& keyword, const QString& ft, int page, int slot, FakeEntry::Kind kind)
{
    using K = FakeEntry::Kind;
    FakeEntry e;
    e.kind = kind;
    e.number = page * FakeWebModel::kEntriesPerPage + slot;
    const QString number = QString::number(e.number);
    const quint64 h = stableHash({keyword, ft, number});
    const QString id = hex16(h);

    static const QString containers[] = {u"result c-container "_s, u"result c-container xpath-log new-pmd"_s,
                                         u"result-op c-container xpath-log"_s};
    e.containerClass = containers[e.number % 3];
    e.absoluteLink = e.number % 2 == 1;

    const QString ftType = typeNameForFt(ft);
    const QString someType = typeNames()[h % typeNames().size()];
    e.type = ftType.isEmpty() ? someType : ftType;
    if (kind == K::Plain && h % 4 == 0)
        e.type = someType; // the engine's type filter lets the odd other type through

    Phrase phrase;
    switch (kind) {
    case K::Plain:
    case K::MarkerOnly:
    case K::Untyped:
    case K::DirectLink:
    case K::WebPage:
        phrase = pick(plainPhrases(), h >> 8);
        break;
    case K::Spaced:
        phrase = pick(spacedPhrases(), h >> 8);
        break;
    case K::Truncated:
        phrase = pick(truncatedPhrases(), h >> 8);
        break;
    case K::Japanese:
        phrase = pick(japanesePhrases(), h >> 8);
        break;
    case K::Traditional:
        phrase = pick(traditionalPhrases(), h >> 8);
        break;
    case K::SiteTitle:
        phrase = pick(sitePhrases(), stableHash({keyword, ft}) + quint64(page));
        break;
    }

    e.title = keyword + phrase.text;
    e.simplifiedTitle = ToSimplified(keyword) + phrase.simplified;
    e.hasKana = kind == K::Japanese || HasKana(keyword);
    e.hasTraditional = phrase.traditional || HasTraditional(keyword);
    e.siteRule = phrase.rule;

    e.mark = FakeEntry::TypeMark::Icon;
    if (kind == K::MarkerOnly)
        e.mark = FakeEntry::TypeMark::Marker;
    if (kind == K::Untyped)
        e.mark = FakeEntry::TypeMark::None;

    const QString fileType = e.type;
    if (e.mark == FakeEntry::TypeMark::None)
        e.type.clear();

    const QString ext = extensionFor(fileType, h >> 16);
    if (kind == K::DirectLink) {
        e.direct = true;
        e.targetPath = u"/files/"_s + id + u'.' + ext;
    } else if (kind == K::WebPage) {
        e.token = u"web_"_s + id;
        e.targetPath = u"/pages/"_s + id + u".html"_s;
    } else {
        e.token = ext + u'_' + id;
        e.targetPath = u"/files/"_s + id + u'.' + ext;
    }
    return e;
}

// The page's entry kinds in the order the page shows them.
QList<FakeEntry::Kind> pageLayout(const QString& keyword, const QString& ft, int page)
{
    using K = FakeEntry::Kind;
    QList<K> kinds{K::Plain,    K::Spaced,      K::Truncated, K::MarkerOnly, K::Untyped,
                   K::Japanese, K::Traditional, K::SiteTitle, K::DirectLink, K::WebPage};
    // Fisher-Yates with a small generator seeded by the page, so the order is stable.
    quint64 state = stableHash({keyword, ft, u"layout"_s, QString::number(page)});
    for (qsizetype i = kinds.size() - 1; i > 0; --i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const qsizetype j = qsizetype((state >> 33) % quint64(i + 1));
        std::swap(kinds[i], kinds[j]);
    }
    return kinds;
}

} // namespace

// FNV-1a over the UTF-8 of the parts, then a finalising mix so that neighbouring entries differ in
// every bit. Unlike qHash it is not seeded per process: a query gives the same page in every run.
quint64 stableHash(std::initializer_list<QString> parts)
{
    quint64 h = 14695981039346656037ull;
    for (const QString& part : parts) {
        const QByteArray bytes = part.toUtf8();
        for (char c : bytes) {
            h ^= quint8(c);
            h *= 1099511628211ull;
        }
        h ^= 0x1f; // keeps ("ab", "c") apart from ("a", "bc")
        h *= 1099511628211ull;
    }
    h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9ull;
    h = (h ^ (h >> 27)) * 0x94d049bb133111ebull;
    return h ^ (h >> 31);
}

QString hex16(quint64 h)
{
    return u"%1"_s.arg(h, 16, 16, QLatin1Char('0'));
}

QString typeNameForFt(const QString& ft)
{
    const QString t = ft.trimmed().toLower();
    for (const QString& name : typeNames()) {
        if (name.toLower() == t)
            return name;
    }
    return {};
}

QString FakeEntry::link(const QString& origin) const
{
    if (direct)
        return origin + targetPath;
    return origin + u"/link?url="_s + token;
}

std::optional<QString> FakeEntry::listedTitle(const ExtractionOptions& options) const
{
    if (direct)
        return std::nullopt;
    bool accepted = options.skipUnknownType ? !type.isEmpty() : true;
    if (options.skipKana && hasKana)
        accepted = false;
    if (options.skipTraditional && hasTraditional)
        accepted = false;
    if (!accepted)
        return std::nullopt;
    switch (siteRule) {
    case SiteRule::Keep:
        break;
    case SiteRule::DropAlways:
        return std::nullopt;
    case SiteRule::DropWhenSpacesRemoved:
        if (options.removeSpaces)
            return std::nullopt;
        break;
    case SiteRule::DropWhenSimplified:
        if (options.toSimplified)
            return std::nullopt;
        break;
    }
    QString shown = options.toSimplified ? simplifiedTitle : title;
    shown.remove(u"..."_s);
    if (options.removeSpaces)
        shown.remove(u' ');
    if (shown.isEmpty())
        return std::nullopt;
    return shown;
}

int FakeWebModel::pageCount(const QString& keyword, const QString& ft)
{
    const QString k = normalizedKeyword(keyword);
    if (const std::optional<int> forced = forcedPageCount(k))
        return *forced;
    return 1 + int(stableHash({k, ft.toLower(), u"pages"_s}) % 4);
}

int FakeWebModel::entryCount(const QString& keyword, const QString& ft, int page)
{
    const int pages = pageCount(keyword, ft);
    if (page < 0 || page >= pages)
        return 0;
    if (page < pages - 1)
        return kEntriesPerPage;
    return 4 + int(stableHash({normalizedKeyword(keyword), ft.toLower(), u"last"_s}) % (kEntriesPerPage - 3));
}

QList<FakeEntry> FakeWebModel::entries(const QString& keyword, const QString& ft, int page)
{
    const QString k = normalizedKeyword(keyword);
    const QString f = ft.toLower();
    const int count = entryCount(k, f, page);
    const QList<FakeEntry::Kind> layout = pageLayout(k, f, page);
    QList<FakeEntry> result;
    for (int i = 0; i < count; ++i)
        result.append(makeEntry(k, f, page, i, layout.at(i)));
    return result;
}

QList<FakeEntry> FakeWebModel::allEntries(const QString& keyword, const QString& ft)
{
    QList<FakeEntry> result;
    const int pages = pageCount(keyword, ft);
    for (int p = 0; p < pages; ++p)
        result += entries(keyword, ft, p);
    return result;
}

QList<ExpectedRow> FakeWebModel::expectedRows(const QString& keyword, const QString& ft, int page,
                                              const ExtractionOptions& options, const QString& origin)
{
    QList<ExpectedRow> rows;
    for (const FakeEntry& e : entries(keyword, ft, page)) {
        if (const std::optional<QString> title = e.listedTitle(options))
            rows.append({*title, e.type, e.link(origin), page});
    }
    return rows;
}

QList<ExpectedRow> FakeWebModel::expectedRows(const QString& keyword, const QString& ft,
                                              const ExtractionOptions& options, const QString& origin)
{
    QList<ExpectedRow> rows;
    const int pages = pageCount(keyword, ft);
    for (int p = 0; p < pages; ++p)
        rows += expectedRows(keyword, ft, p, options, origin);
    return rows;
}

QString FakeWebModel::redirectTarget(const QString& token)
{
    static const QRegularExpression form(u"^(pdf|doc|docx|xls|ppt|rtf|web)_([0-9a-f]{16})$"_s);
    const QRegularExpressionMatch m = form.match(token);
    if (!m.hasMatch())
        return {};
    if (m.captured(1) == u"web"_s)
        return u"/pages/"_s + m.captured(2) + u".html"_s;
    return u"/files/"_s + m.captured(2) + u'.' + m.captured(1);
}

SearchQuery FakeWebModel::parseQuery(const QString& rawQuery)
{
    SearchQuery q;
    QString q1;
    QString q2;
    // The keyword arrives as GBK bytes, so the query is split and decoded by hand rather than through
    // QUrlQuery, which assumes UTF-8. A form posts spaces as "+"; the engine's own links write "+" as
    // %2B, so reading "+" as a space loses nothing.
    const QStringList items = rawQuery.split(u'&', Qt::SkipEmptyParts);
    for (const QString& item : items) {
        const qsizetype eq = item.indexOf(u'=');
        const QString key = eq < 0 ? item : item.left(eq);
        QByteArray raw = eq < 0 ? QByteArray() : item.mid(eq + 1).toUtf8();
        raw.replace('+', ' ');
        const QByteArray value = QByteArray::fromPercentEncoding(raw);
        if (key == u"q1"_s)
            q1 = fromAnsiBytes(value);
        else if (key == u"q2"_s)
            q2 = fromAnsiBytes(value);
        else if (key == u"ft"_s)
            q.ft = QString::fromLatin1(value).trimmed().toLower();
        else if (key == u"pn"_s)
            q.page = pageOfOffset(value.trimmed().toInt());
    }
    q1 = normalizedKeyword(q1);
    q2 = normalizedKeyword(q2);
    q.exactPhrase = q1.isEmpty() && !q2.isEmpty();
    q.keyword = q.exactPhrase ? q2 : q1;
    return q;
}

} // namespace lintbay::fakeweb
