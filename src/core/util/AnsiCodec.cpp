#include "AnsiCodec.h"

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <memory>

namespace lintbay {

namespace {

struct ConverterCloser
{
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

// ICU's own substitution drops unassigned default-ignorable characters (U+200B, U+FFF0, tag
// characters...) without a trace; here every character GBK cannot hold is one "?", so that a text's
// bytes are the sum of its characters' AnsiCode widths, which names are cut by.
void substituteEveryCharacter(const void*, UConverterFromUnicodeArgs* args, const UChar*, int32_t, UChar32,
                              UConverterCallbackReason reason, UErrorCode* err)
{
    if (reason > UCNV_IRREGULAR)
        return; // reset, close and clone: nothing to write
    *err = U_ZERO_ERROR;
    ucnv_cbFromUWriteSub(args, 0, err);
}

// A converter for `name` whose unrepresentable characters go to `callback`; null when ICU lacks it.
ConverterPtr openConverter(const char* name, UConverterFromUCallback callback, const char* substitute)
{
    UErrorCode status = U_ZERO_ERROR;
    ConverterPtr c(ucnv_open(name, &status));
    if (U_FAILURE(status))
        return ConverterPtr();
    if (substitute)
        ucnv_setSubstChars(c.get(), substitute, 1, &status);
    ucnv_setFromUCallBack(c.get(), callback, nullptr, nullptr, nullptr, &status);
    return U_FAILURE(status) ? ConverterPtr() : std::move(c);
}

// ICU converters are not thread-safe, and opening one per call is the costly part, so every thread
// keeps its own. Null when the ICU data lacks GBK; callers then fall back to ASCII. Unrepresentable
// characters read as "?" (63), not as a control character.
UConverter* gbk()
{
    thread_local ConverterPtr converter = openConverter("GBK", substituteEveryCharacter, "?");
    return converter.get();
}

// Nothing is substituted: a character without bytes fails the call.
UConverter* gb18030()
{
    thread_local ConverterPtr converter = openConverter("GB18030", UCNV_FROM_U_CALLBACK_STOP, nullptr);
    return converter.get();
}

QByteArray asciiFallback(QStringView text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c.isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        out.append(c.unicode() < 0x80 ? char(c.unicode()) : '?');
    }
    return out;
}

} // namespace

QByteArray toAnsiBytes(QStringView text)
{
    if (text.isEmpty())
        return {};
    UConverter* conv = gbk();
    if (!conv)
        return asciiFallback(text);
    // GBK needs at most two bytes per UTF-16 unit; one more for ICU's terminator.
    QByteArray out(text.size() * 2 + 1, Qt::Uninitialized);
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n =
        ucnv_fromUChars(conv, out.data(), int32_t(out.size()), reinterpret_cast<const UChar*>(text.utf16()),
                        int32_t(text.size()), &status);
    if (U_FAILURE(status))
        return asciiFallback(text);
    out.truncate(n);
    return out;
}

QString fromAnsiBytes(QByteArrayView bytes)
{
    if (bytes.isEmpty())
        return {};
    UConverter* conv = gbk();
    if (!conv)
        return QString::fromLatin1(bytes);
    // Every byte gives at most one UTF-16 unit.
    QString out(bytes.size() + 1, Qt::Uninitialized);
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n = ucnv_toUChars(conv, reinterpret_cast<UChar*>(out.data()), int32_t(out.size()),
                                    bytes.data(), int32_t(bytes.size()), &status);
    if (U_FAILURE(status))
        return QString::fromLatin1(bytes);
    out.truncate(n);
    return out;
}

QByteArray gb18030Bytes(char32_t codePoint)
{
    UConverter* conv = gb18030();
    if (!conv || codePoint > 0x10FFFF || QChar::isSurrogate(codePoint))
        return {};
    const char32_t units[1] = {codePoint};
    const QString text = QString::fromUcs4(units, 1);
    char b[8];
    UErrorCode status = U_ZERO_ERROR;
    ucnv_resetFromUnicode(conv);
    const int32_t n =
        ucnv_fromUChars(conv, b, int32_t(sizeof b), reinterpret_cast<const UChar*>(text.utf16()),
                        int32_t(text.size()), &status);
    if (U_FAILURE(status) || n <= 0)
        return {};
    return QByteArray(b, n);
}

int AnsiCode(char32_t codePoint)
{
    if (codePoint < 0x80)
        return int(codePoint);
    char16_t units[2];
    qsizetype len = 1;
    if (codePoint > 0xFFFF && codePoint <= 0x10FFFF) {
        units[0] = QChar::highSurrogate(codePoint);
        units[1] = QChar::lowSurrogate(codePoint);
        len = 2;
    } else if (codePoint <= 0xFFFF) {
        units[0] = char16_t(codePoint);
    } else {
        return '?';
    }
    // Names are cut character by character, so this runs once per character: no allocation.
    UConverter* conv = gbk();
    if (!conv)
        return '?';
    char b[8];
    UErrorCode status = U_ZERO_ERROR;
    const int32_t n = ucnv_fromUChars(conv, b, int32_t(sizeof b), reinterpret_cast<const UChar*>(units),
                                      int32_t(len), &status);
    if (U_FAILURE(status))
        return '?';
    if (n == 1)
        return uchar(b[0]);
    if (n == 2)
        return uchar(b[0]) * 256 + uchar(b[1]);
    return '?';
}

} // namespace lintbay
