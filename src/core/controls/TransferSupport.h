#pragma once

#include <QByteArray>
#include <QPointer>
#include <QString>

class QDateTime;
class QNetworkReply;
class QNetworkRequest;
class QUrl;

namespace lintbay {

// Why a redirect was not followed.
enum class RedirectFault
{
    NotWeb,  // the new address is not http or https
    Loop,    // it leads back to an address of the chain
    TooMany, // more hops than the network context allows
};

// Only web addresses are fetched: a "file:" or "data:" key must not copy local files into the
// download folder.
bool isFetchableUrl(const QUrl& url);

// The same scheme, host and port (a missing port read as the scheme's standard one).
bool sameOrigin(const QUrl& a, const QUrl& b);

// The Referer a browser sends by default from `page` to `target`: the page's whole address to its
// own site (scheme, host and port), only "scheme://host[:port]/" to another, which need not learn
// the page's path and query (a search's words), and nothing from an https page to an http address.
// Never the page's user, password or fragment. Empty for no Referer.
QByteArray refererFor(const QUrl& page, const QUrl& target);

// A GET for a file: the bytes exactly as the server stores them (no transfer compression that Qt
// would undo, so counts match the announced length).
void prepareFileRequest(QNetworkRequest& request);

// Caps what a reply holds before it is written to disk, so that a window busy elsewhere makes the
// connection wait instead of memory grow. Large enough not to slow a fast transfer down.
void limitReplyBuffer(QNetworkReply* reply);

// Lets go of the reply, if any, for good: no more signals to `receiver`, the connection closed, the
// object deleted once control is back in the event loop (it may be inside one of its own signals
// now). `reply` is null afterwards.
void dropReply(QPointer<QNetworkReply>& reply, const QObject* receiver);

// The announced Content-Length (trimmed, read as a number; the same number repeated counts once);
// -1 when missing, not a number, or given as different numbers.
qint64 announcedLength(const QNetworkReply* reply);
// True when the answer names more than one length and they differ, or one that is not a number
// beside one that is.
bool lengthsConflict(const QNetworkReply* reply);

// The size limit in megabytes as bytes for Fetch::setSizeLimit: 0 (none) for a limit beyond what a
// file can hold; a limit of nothing, or not a number, lets no byte through.
qint64 sizeLimitBytes(double megabytes);

// True for the network errors of `reply` that only stand for an HTTP error status (4xx, 5xx), whose
// page still comes whole.
bool isHttpStatusError(const QNetworkReply* reply, int networkError);

// True when the body ended as the server meant it to: no error, or an HTTP error status whose page
// arrived whole. A broken connection, a time-out or a refused redirect is not a normal end.
bool bodyEndedNormally(const QNetworkReply* reply);

// A date as HTTP writes it ("Sun, 06 Nov 1994 08:49:37 GMT", and the two older forms); an invalid
// date when it is none of them.
QDateTime parseHttpDate(const QByteArray& text);

// How long the server asked to be left alone (Retry-After: seconds, or a date, taken against the
// answer's own Date so that a client clock that is off does not matter); -1 when it did not say.
qint64 retryAfterMs(const QNetworkReply* reply);

// The response's status line as the server would have sent it ("HTTP/1.1 200 OK").
QString statusLine(const QNetworkReply* reply);
// Status line and header lines joined by CR LF, the way a header block reads.
QString headerBlock(const QNetworkReply* reply);

// How much of a body's end documentLooksWhole() needs: a ZIP package's end record with the longest
// comment it may carry.
inline constexpr qint64 kDocumentTailBytes = 22 + 65535;
// A body whose format ends with a mark of its own (PDF "%%EOF", a ZIP package's end record, RTF's
// closing brace) has that mark in `tail`, its last kDocumentTailBytes bytes. A body without a length
// that lacks it was cut off on the way, even where the connection's end looked like a normal one.
// Bodies of other formats are taken as they are.
bool documentLooksWhole(QByteArrayView head, QByteArrayView tail);
// The first bytes of a PDF, an Office file (the old compound file or the new package) or an RTF
// file, whatever the answer's headers said it is.
bool startsLikeADocument(QByteArrayView head);

// How much of a body's start startsAsWebPage() and isOfficeWebDocument() read.
inline constexpr qsizetype kPageStartBytes = 8 * 1024;
// The markup of an HTML page in lower-case text: its html element and one of its parts.
bool hasPageMarkup(const QByteArray& lowerText);
// A web page of any size, whatever its name or headers say: it opens with markup, after a byte order
// mark and white space, and its first few KB hold the page markup. Text that only mentions markup
// somewhere further on does not count.
bool startsAsWebPage(const QByteArray& head);
// A document an office program saved as a web page (a .doc or .xls that is HTML): its html start
// tag declares the office namespaces.
bool isOfficeWebDocument(const QByteArray& head);

} // namespace lintbay
