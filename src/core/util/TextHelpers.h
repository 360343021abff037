#pragma once

#include <QString>
#include <QStringView>

namespace lintbay {

// True for a non-empty text of the digits 0-9 only (no sign, no other script's digits).
bool isAsciiDigits(QStringView text);

// Removes spaces (U+0020 only, no other white space) at both ends.
QString trimSpaces(QStringView text);

// For a file name taken from a response header: drops CR, LF, NUL and TAB, then trims spaces.
QString StripControlChars(const QString& text);

// The longest start of `text` that takes at most `n` bytes in GBK. A double-byte character the cut
// would split is dropped whole. Characters GBK cannot hold count as one byte (their "?") but are
// kept as they are, since file names here are Unicode.
QString LeftAnsiBytes(const QString& text, int n);

// Removes CR, LF and NUL characters; does not trim.
QString RemoveLineBreaks(const QString& text);

// The last segment after "/" or "\" of a path or URL (trimmed), optionally without the text from
// its last "." on. Text without a separator comes back as it is.
QString FileNameFromPath(const QString& text, bool withoutExtension = false);

// "scheme://host" of a URL (or "host" of "host/path"); the whole text when it has no path.
QString UrlSiteRoot(const QString& url);

// Percent-encodes a search keyword in GBK: every double-byte character as "%XX%YY", and "%", "#",
// "^", "&", "+". Everything else, spaces included, passes unchanged.
QString UrlEncodeAnsi(const QString& text);

} // namespace lintbay
