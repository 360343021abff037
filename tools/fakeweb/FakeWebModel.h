#pragma once

#include "search/ResultExtractor.h"

#include <QList>
#include <QString>
#include <QUrl>

#include <initializer_list>
#include <optional>

namespace lintbay::fakeweb {

// The local search engine's answers as plain data. The server renders exactly what this model says,
// so a test can predict every page, every result entry and what the extraction keeps of it without
// running the server. Everything is a pure function of the keyword, the document type (ft) and the
// page number: the same query always gives the same page.
//
// Page counts: a keyword that contains "pages<N>" (N = 0..50) has N pages; otherwise a keyword that
// contains "empty", or an empty keyword, has none; any other keyword has 1 to 4 pages, chosen by a
// stable hash of the keyword and ft. Every page but the last holds kEntriesPerPage result entries;
// the last holds 4 to kEntriesPerPage. Result entries are numbered across the query (page * 10 + i)
// and every entry has its own link, so no two entries of a query share a key.
//
// Each page mixes the entry kinds below (in an order shuffled per page), so that every extraction
// option has something to drop: a plain entry, one with spaces in its title, one whose title the
// engine cut short with "...", one typed only by a text marker, one with no type, one in Japanese,
// one in Traditional characters, one from a site the extraction excludes (or a near miss of one), one
// linking straight to its file instead of through the engine's redirect, and one whose redirect ends
// on a web page instead of a document. Besides the entries, each page carries containers that only
// look like results (an advertisement, the class words in the wrong order, a box of related searches);
// they are not part of the model because the extraction must ignore them.
//
// The keyword appears at the start of every title, as the engine would highlight it. Its own script
// counts (a keyword in Traditional characters makes every title Traditional); the site rules assume
// that the keyword names no excluded site itself.

// A hash of the parts that is the same in every run (unlike qHash), and its 16 hex digits: the ids
// in tokens and file names.
quint64 stableHash(std::initializer_list<QString> parts);
QString hex16(quint64 h);

// The document types the engine knows, as ft values and as the extraction names them.
QString typeNameForFt(const QString& ft); // "pdf" → "PDF", "doc" → "doc", …; empty when not a document type

struct FakeEntry
{
    enum class Kind
    {
        Plain,
        Spaced,
        Truncated,
        MarkerOnly,
        Untyped,
        Japanese,
        Traditional,
        SiteTitle,
        DirectLink,
        WebPage,
    };
    enum class TypeMark
    {
        Icon,   // <span class="c-icon c-icon-pdf …">
        Marker, // <font>【PDF】</font>
        None,
    };
    // Which title rule of the extraction drops the entry.
    enum class SiteRule
    {
        Keep,
        DropAlways,            // an excluded site's suffix or the engine's own property
        DropWhenSpacesRemoved, // a near miss that the excluded suffix catches once spaces are removed
        DropWhenSimplified,    // a Traditional form of an excluded suffix, caught after conversion
    };

    Kind kind = Kind::Plain;
    int number = 0;          // position in the whole query: page * 10 + position on the page
    QString containerClass;  // class of the result DIV (one of the forms the extraction accepts)
    QString title;           // the title link's text as a browser shows it (whitespace collapsed)
    QString simplifiedTitle; // the same with every Traditional character in its Simplified form
    QString type;            // what the icon or marker announces: "PDF", "doc", "xls", "ppt", "rtf"; or empty
    TypeMark mark = TypeMark::Icon;
    bool hasKana = false;
    bool hasTraditional = false;
    SiteRule siteRule = SiteRule::Keep;
    bool direct = false;       // the title links straight to the file, not through /link
    bool absoluteLink = false; // the page writes the link with scheme and host (else from "/")
    QString token;             // the redirect's url= value; empty for a direct link
    QString targetPath;        // where the link ends: "/files/<name>.<ext>" or "/pages/<name>.html"

    // The link as the extraction reads it, resolved against the engine's address
    // ("http://127.0.0.1:PORT"): "<origin>/link?url=<token>", or "<origin><targetPath>" when direct.
    QString link(const QString& origin) const;
    // The title the result list shows with these options, or nothing when the extraction drops the
    // entry. The options are assumed to name the server as the engine and to keep the default
    // document-sharing site.
    std::optional<QString> listedTitle(const ExtractionOptions& options) const;
    // Whether the link leads to a document (false: to a web page).
    bool leadsToDocument() const { return targetPath.startsWith(QStringLiteral("/files/")); }
};

// One row the extraction is expected to add to the result list.
struct ExpectedRow
{
    QString title;
    QString type;
    QString link;
    int page = 0;
    bool operator==(const ExpectedRow&) const = default;
};

// A search request as the engine reads it.
struct SearchQuery
{
    QString keyword;          // q1 or q2, decoded from GBK, runs of white space collapsed
    bool exactPhrase = false; // the keyword came as q2
    QString ft;               // lower case, as given
    int page = 0;             // pn / 10
};

class FakeWebModel
{
public:
    static constexpr int kEntriesPerPage = 10;
    static constexpr int kMaxPages = 50;

    static int pageCount(const QString& keyword, const QString& ft);
    // Entries on page `page` (0-based); none past the last page.
    static int entryCount(const QString& keyword, const QString& ft, int page);
    static QList<FakeEntry> entries(const QString& keyword, const QString& ft, int page);
    // Every entry of the query, page after page.
    static QList<FakeEntry> allEntries(const QString& keyword, const QString& ft);

    // The rows the extraction adds for one page, or for every page in order, with these options.
    static QList<ExpectedRow> expectedRows(const QString& keyword, const QString& ft, int page,
                                           const ExtractionOptions& options, const QString& origin);
    static QList<ExpectedRow> expectedRows(const QString& keyword, const QString& ft,
                                           const ExtractionOptions& options, const QString& origin);

    // The pn value of a page and the page of a pn value (negative or unreadable values give page 0).
    static int offsetOfPage(int page) { return page * kEntriesPerPage; }
    static int pageOfOffset(int pn) { return pn > 0 ? pn / kEntriesPerPage : 0; }

    // Where /link?url=<token> redirects; empty for a token the engine never handed out.
    static QString redirectTarget(const QString& token);

    // Reads the query string of a /s request (as sent, percent-encoded; the keyword in GBK).
    static SearchQuery parseQuery(const QString& rawQuery);
};

} // namespace lintbay::fakeweb
