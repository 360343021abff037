#include "TextHelpers.h"

#include "AnsiCodec.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

// Reads the code point at `i` and advances `i` past it. A lone surrogate is returned as itself.
char32_t nextCodePoint(QStringView text, qsizetype& i)
{
    const QChar c = text[i++];
    if (c.isHighSurrogate() && i < text.size() && text[i].isLowSurrogate())
        return QChar::surrogateToUcs4(c, text[i++]);
    return c.unicode();
}

QString upperHex(int byte)
{
    return QString::number(byte, 16).toUpper();
}

} // namespace

bool isAsciiDigits(QStringView text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
    }
    return true;
}

QString trimSpaces(QStringView text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text[begin] == u' ')
        ++begin;
    while (end > begin && text[end - 1] == u' ')
        --end;
    return text.sliced(begin, end - begin).toString();
}

QString StripControlChars(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (c != u'\r' && c != u'\n' && c != u'\0' && c != u'\t')
            out.append(c);
    }
    return trimSpaces(out);
}

QString LeftAnsiBytes(const QString& text, int n)
{
    if (n <= 0)
        return {};
    int used = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        qsizetype next = i;
        const int width = ansiByteWidth(nextCodePoint(text, next));
        if (used + width > n)
            break;
        used += width;
        i = next;
    }
    return text.left(i);
}

QString RemoveLineBreaks(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (QChar c : text) {
        if (c != u'\r' && c != u'\n' && c != u'\0')
            out.append(c);
    }
    return out;
}

QString FileNameFromPath(const QString& text, bool withoutExtension)
{
    // URLs and paths from either system arrive here, so both separators count.
    const qsizetype sep = std::max(text.lastIndexOf(u'/'), text.lastIndexOf(u'\\'));
    QString name = sep >= 0 ? trimSpaces(QStringView(text).sliced(sep + 1)) : text;
    if (withoutExtension) {
        const qsizetype dot = name.lastIndexOf(u'.');
        if (dot >= 0)
            name = trimSpaces(QStringView(name).left(dot));
    }
    return name;
}

QString UrlSiteRoot(const QString& url)
{
    const qsizetype scheme = url.indexOf(u"://");
    if (scheme >= 0) {
        const qsizetype hostStart = scheme + 3;
        const qsizetype slash = url.indexOf(u'/', hostStart);
        if (slash > hostStart)
            return url.left(slash);
        return url;
    }
    // Without a scheme only a host of a few characters counts ("a/b" is not a site).
    const qsizetype slash = url.indexOf(u'/');
    if (slash >= 3)
        return url.left(slash);
    return url;
}

QString UrlEncodeAnsi(const QString& text)
{
    // "%" first and the four symbols last, so the escapes written here are never encoded again.
    const QString source = QString(text).replace(u'%', u"%25"_s);
    QString out;
    out.reserve(source.size() * 3);
    qsizetype i = 0;
    while (i < source.size()) {
        const qsizetype start = i;
        const char32_t c = nextCodePoint(source, i);
        const int code = AnsiCode(c);
        if (code > 0xFF) {
            out += u'%' + upperHex(code >> 8) + u'%' + upperHex(code & 0xFF);
        } else if (code >= 0x80) {
            // A single byte above ASCII ("€" is 0x80): left as it is, the address would carry it in
            // UTF-8, which the server reads as other characters.
            out += u'%' + upperHex(code);
        } else if (c < 0x80) {
            out += QStringView(source).sliced(start, i - start);
        } else if (QChar::isSpace(c)) {
            // What GBK cannot hold: a space of another kind (a non-breaking one, copied from a page)
            // is a space, and invisible joiners and byte order marks go, or the engine would search
            // them as characters; any other goes in its four GB18030 bytes, which a server reading
            // GBK decodes with. Left as it is, it would go out in UTF-8 amid GBK, read as other text.
            out += u' ';
        } else if (c == 0x200B || c == 0x200C || c == 0x200D || c == 0x2060 || c == 0xFEFF) {
            continue;
        } else if (const QByteArray wide = gb18030Bytes(c); !wide.isEmpty()) {
            for (const char byte : wide)
                out += u'%' + upperHex(uchar(byte));
        } else {
            // Half a surrogate pair, which no encoding holds: "?", as GBK writes it. Left bare, two
            // halves around a dropped mark would join into another character.
            out += u"%3F"_s;
        }
    }
    out.replace(u'#', u"%23"_s);
    out.replace(u'^', u"%5E"_s);
    out.replace(u'&', u"%26"_s);
    out.replace(u'+', u"%2B"_s);
    return out;
}

} // namespace lintbay
