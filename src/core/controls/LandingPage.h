#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUrl>

namespace lintbay {

// Many result links lead to a page about a document rather than to the document: a page that sends
// the browser on (a refresh, a script that sets the location) or that offers the file as its one
// link. Such a page is worth following once; a page that offers several files, asks for a password
// or is the search engine's human check is not.

// The most of a page that is read to judge it: landing pages are small, a larger page is content.
inline constexpr qint64 kLandingPageLimit = 512 * 1024;

// Extensions (lower case, no dot) of the files a landing page may offer.
const QStringList& documentExtensions();

// True for the Content-Type of a web page (text/html, application/xhtml+xml), parameters aside.
bool isPageContentType(const QByteArray& contentType);

struct LandingVerdict
{
    enum class Kind
    {
        None,         // not a page about one document
        Follow,       // it leads to one document: `target`
        SeveralLinks, // it offers several documents; which one is meant cannot be told
        Login,        // it asks for a password
        Verification, // the search engine's human check
        NotWeb,       // it leads to `target`, which is not a web address
    };
    Kind kind = Kind::None;
    QUrl target;
    // Why it is or is not followed, in the words the download list shows; empty for None.
    QString reason;
};

// Judges a page (its bytes, at most kLandingPageLimit of them, and the address it came from; the
// Content-Type helps to decode it). A refresh or a script that sets the location counts before the
// page's links; the page itself is never its own target.
LandingVerdict judgeLandingPage(const QByteArray& page, const QUrl& pageUrl,
                                const QByteArray& contentType = {});

} // namespace lintbay
