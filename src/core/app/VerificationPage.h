#pragma once

#include <QStringList>
#include <QUrl>

namespace lintbay {

class HtmlDocument;

// What gives the engine's security verification page away. The engine changes its page now and
// then, so the signs are data in one place, not scattered tests: any one of them is enough.
struct VerificationSigns
{
    QStringList titles;        // the page title, trimmed, exactly
    QStringList addressParts;  // found in the page's address without its query (the verification service)
    QStringList scriptParts;   // found in the src or the text of one of its scripts
    QStringList markupParts;   // found in an element's id or class (the challenge's widgets)
};
const VerificationSigns& verificationSigns();

// True when the page is the verification page rather than a page of results (or of a document):
// the batch pauses at it, and a download that brings it does not take it for a landing page.
bool IsVerificationPage(const HtmlDocument& document);

} // namespace lintbay
