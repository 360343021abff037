#pragma once

#include <QSet>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace lintbay {

// The query options of the search window.
struct QueryOptions
{
    bool exactPhrase = false; // q2 instead of q1
    bool titleOnly = false;   // q5=1
    bool dayLimit = false;    // lm=<days>
    QString days;             // the day count as typed
};

// Document types in the order a batch queries them.
const QStringList& DocumentTypesInOrder();

// Address of the engine's advanced search ("…/s?") and of its home page. A bare host is queried
// over HTTPS and its home page opened over HTTP; an address that carries a scheme is used as it stands.
QString SearchQueryBase(const QString& engine);
QString SearchHomePage(const QString& engine);
// Host (and port) of the engine, as its redirect links carry it.
QString SearchEngineDomain(const QString& engine);
// Host and port of an address as links write them: without user and password, a scheme's own port
// left out, an IPv6 host in brackets.
QString LinkAuthority(QUrl url);

// Base, keyword key, title scope, "tn" and time range: everything but the document type.
QString BuildQueryPrefix(const QString& base, const QString& keywordLine, const QueryOptions& options);
QString BuildQueryUrl(const QString& prefix, const QString& type);

// Every query of a batch in the order the batch opens them: line by line, and within a line the
// ticked types in the fixed order. Empty lines are skipped.
QStringList BuildBatchQueries(const QString& base, const QString& keywordText, const QueryOptions& options,
                              const QSet<QString>& tickedTypes);

// The keyword box split into lines at CR LF (LF and CR alone too).
QStringList SplitKeywordLines(const QString& text);

} // namespace lintbay
