#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <QStringView>

namespace lintbay {

// The double-byte code page the program's names, lengths and query encoding are defined in (GBK),
// whatever the system's own encoding is.

// Text to GBK bytes; a character GBK cannot hold becomes one "?" byte (a surrogate pair is one
// character here).
QByteArray toAnsiBytes(QStringView text);

// GBK bytes to text; a byte sequence that is not GBK becomes U+FFFD.
QString fromAnsiBytes(QByteArrayView bytes);

// The ANSI code of one character: 0-255 for a single-byte character, lead * 256 + trail for a
// double-byte one, 63 ("?") when GBK cannot hold it.
int AnsiCode(char32_t codePoint);

// The character's bytes in GB18030, the superset of GBK that holds every character (what GBK holds
// it writes the same, except "€"); empty when there is none (a lone surrogate).
QByteArray gb18030Bytes(char32_t codePoint);

// Bytes the character takes in GBK (2 for a double-byte character, else 1).
inline int ansiByteWidth(char32_t codePoint)
{
    return AnsiCode(codePoint) > 0xFF ? 2 : 1;
}

} // namespace lintbay
