#include "QueryBuilder.h"

#include "app/SettingsStore.h"
#include "util/TextFile.h"
#include "util/TextHelpers.h"

#include <QUrl>

using namespace Qt::StringLiterals;

namespace lintbay {

const QStringList& DocumentTypesInOrder()
{
    static const QStringList types{u"pdf"_s, u"doc"_s, u"ppt"_s, u"xls"_s, u"rtf"_s};
    return types;
}

namespace {
bool hasScheme(const QString& engine)
{
    return engine.contains(u"://"_s);
}

QString withoutTrailingSlash(QString s)
{
    while (s.endsWith(u'/'))
        s.chop(1);
    return s;
}
} // namespace

QString SearchQueryBase(const QString& engine)
{
    const QString e = engine.trimmed();
    if (hasScheme(e))
        return withoutTrailingSlash(e) + u"/s?"_s;
    return u"https://"_s + withoutTrailingSlash(e) + u"/s?"_s;
}

QString SearchHomePage(const QString& engine)
{
    const QString e = engine.trimmed();
    if (hasScheme(e))
        return withoutTrailingSlash(e) + u'/';
    return u"http://"_s + withoutTrailingSlash(e) + u'/';
}

QString SearchEngineDomain(const QString& engine)
{
    return LinkAuthority(QUrl::fromUserInput(SearchHomePage(engine)));
}

QString LinkAuthority(QUrl url)
{
    url.setUserInfo({});
    const int schemePort = url.scheme() == u"https"_s ? 443 : url.scheme() == u"http"_s ? 80 : -1;
    if (url.port() == schemePort)
        url.setPort(-1);
    return url.authority();
}

QString BuildQueryPrefix(const QString& base, const QString& keywordLine, const QueryOptions& options)
{
    const QString k = UrlEncodeAnsi(keywordLine.trimmed());
    QString url = base;
    url += options.exactPhrase ? u"q2="_s : u"q1="_s;
    url += k;
    url += options.titleOnly ? u"&q5=1"_s : u"&q5="_s;
    url += u"&tn=baiduadv"_s;
    int days = 0;
    if (options.dayLimit && ParseRoundedInt(options.days, &days))
        url += u"&lm="_s + QString::number(days);
    else
        url += u"&lm=0"_s;
    return url;
}

QString BuildQueryUrl(const QString& prefix, const QString& type)
{
    return prefix + u"&ft="_s + type;
}

QStringList SplitKeywordLines(const QString& text)
{
    return splitLines(text);
}

QStringList BuildBatchQueries(const QString& base, const QString& keywordText, const QueryOptions& options,
                              const QSet<QString>& tickedTypes)
{
    QStringList queries;
    for (const QString& line : SplitKeywordLines(keywordText)) {
        if (line.trimmed().isEmpty())
            continue;
        const QString prefix = BuildQueryPrefix(base, line, options);
        for (const QString& type : DocumentTypesInOrder())
            if (tickedTypes.contains(type))
                queries << BuildQueryUrl(prefix, type);
    }
    return queries;
}

} // namespace lintbay
