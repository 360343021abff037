#pragma once

#include <QByteArray>
#include <QString>

namespace lintbay {

// The charset parameter of a Content-Type value ("text/html; charset=GBK" -> "gbk"), lower case;
// empty when there is none.
QByteArray charsetFromContentType(const QByteArray& contentType);

// The charset a page declares in a <meta charset> or <meta http-equiv="Content-Type"> within its
// first 2 KB, lower case; empty when there is none.
QByteArray charsetFromMeta(const QByteArray& body);

// Decodes bytes in the named charset (web labels such as "gb2312" or "latin1" are understood).
// Returns false in *ok when the charset is unknown.
QString decodeCharset(const QByteArray& bytes, const QByteArray& charset, bool* ok = nullptr);

// Decodes a page body as a browser would: a byte order mark, else the Content-Type charset, else
// the page's meta declaration, else UTF-8 when the bytes are valid UTF-8, else GBK.
// *used receives the charset that was applied.
QString decodePage(const QByteArray& body, const QByteArray& contentType, QByteArray* used = nullptr);

} // namespace lintbay
