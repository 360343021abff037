#pragma once

// Node-level helpers over the HTML parser's tree, shared by the document model. Internal to app/.

#include <QString>

#include <gumbo.h>

namespace lintbay::htmlnodes {

bool isElement(const GumboNode* node);
QString pieceText(const GumboStringPiece& piece);
// Lower-case name, also for elements the parser does not know (custom elements, typos).
QString lowerTagName(const GumboNode* node);
QString attributeOf(const GumboNode* node, const char* name);
bool hasAttribute(const GumboNode* node, const char* name);
// The element's text as a browser's innerText gives it: hidden and script content left out, white
// space collapsed, <br> and blocks breaking lines. An element that is itself not rendered gives its
// raw text content. With a limit, rendering stops soon after the text has grown past it (the
// result then starts as the whole text would, and is longer than the limit).
QString renderText(const GumboNode* root, qsizetype limit = -1);

} // namespace lintbay::htmlnodes
