#pragma once

#include "controls/TransferSupport.h"

#include <QString>
#include <QUrl>

// Why a download did not end well, in the plain words the download list shows in its "原因" column
// and as the row's tooltip. A row that ends well carries none. The texts never hold line breaks.
namespace lintbay::reason {

// "HTTP 404（未找到）": the code and what it means.
QString httpStatus(int status);
// Nothing came back: what the network layer said, in words (unknown errors keep its own text).
QString noAnswer(int networkError, const QString& systemText);
QString headerTimeout(int ms);
// No new byte within `ms`; `received` < 0: not even an answer had come.
QString stalled(int ms, qint64 received);
// The body ended short; `announced` < 0: no length was announced.
QString cutOff(qint64 received, qint64 announced);
// The answer named two different lengths.
QString conflictingLengths();
// The body came compressed (Content-Encoding) although a plain one was asked for; kept as it came.
QString compressedBody(const QByteArray& encoding);
QString redirectRefused(RedirectFault fault, const QUrl& target);
// An answer brought (almost) nothing; `status` 0: not even a status line.
QString emptyAnswer(int status);
QString writeFailed(const QString& systemMessage);
QString folderNotCreated(const QString& folder);
QString folderNotAbsolute(const QString& folder);
QString unsupportedAddress(const QString& url);
// Above the size limit: by the announced length, or by what arrived when none was announced.
QString tooLarge(qint64 bytes, double limitMB, bool announced);
QString cannotReplace(const QString& path);
// An answer that was not the document (`answer`: what it was) and left the file at `path` alone.
QString notReplaced(const QString& answer, const QString& path);
// Cancelled or stopped by the user.
QString cancelled();
// The server asked to be asked again later (429, 503); the row waits for that.
QString retryLater(int status);
// The finished file holds the same bytes as the file of the row named `other`; and that it was
// removed for that.
QString duplicateOf(const QString& other);
QString duplicateRemoved(const QString& other);
// A slot's completion short of its total.
QString incomplete(qint64 read, qint64 total);
// A web page came instead of a document: an error page shows its status, anything else says so.
QString webPage(int status, bool afterLanding);
// Landing pages (LandingPage.h): followed to `target`, and why one was not.
QString followed(const QUrl& target);
QString severalDocuments(int count);
QString loginPage();
QString verificationPage();
QString notWebTarget(const QUrl& target);
// What happened after a landing page was followed to `target`.
QString afterLanding(const QUrl& target, const QString& reason);

// A reason as one field of a line of text: tabs and line breaks become spaces.
QString asField(const QString& reason);

} // namespace lintbay::reason
