#include "PageDecoding.h"

#include <QByteArrayView>
#include <QRegularExpression>

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>
#include <unicode/ucnv_err.h>

#include <algorithm>
#include <iterator>
#include <vector>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

constexpr qsizetype kMetaScanBytes = 2048;

QByteArray normalizedLabel(QByteArray label)
{
    label = label.trimmed().toLower();
    while (!label.isEmpty() && (label.startsWith('"') || label.startsWith('\'')))
        label.remove(0, 1);
    while (!label.isEmpty() && (label.endsWith('"') || label.endsWith('\'')))
        label.chop(1);
    return label.trimmed();
}

bool isUtf8Label(const QByteArray& label)
{
    return label == "utf-8" || label == "utf8" || label == "unicode-1-1-utf-8" || label == "unicode11utf8" ||
           label == "unicode20utf8" || label == "x-unicode20utf8";
}

// The web's names of UTF-16: all but two mean little-endian.
bool isUtf16Label(const QByteArray& label)
{
    static const char* const names[] = {"utf-16",    "utf-16le",        "utf-16be",    "unicode",    "ucs-2",
                                        "csunicode", "iso-10646-ucs-2", "unicodefeff", "unicodefffe"};
    return std::any_of(std::begin(names), std::end(names),
                       [&label](const char* name) { return label == name; });
}

// Web labels name encodings more loosely than ICU does. In particular pages labelled gb2312 are
// written in GBK in practice, so every label of that family decodes with GB18030 (a superset).
QByteArray icuNameFor(const QByteArray& label)
{
    static const char* const gbFamily[] = {
        "gbk",       "gb2312", "gb_2312", "gb_2312-80", "chinese", "csgb2312", "csiso58gb231280",
        "iso-ir-58", "x-gbk",  "gb18030", "euc-cn",     "cp936",   "ms936",    "windows-936"};
    for (const char* name : gbFamily) {
        if (label == name)
            return "GB18030";
    }
    static const char* const latin[] = {"iso-8859-1",   "iso8859-1", "iso_8859-1", "latin1",
                                        "l1",           "ascii",     "us-ascii",   "cp1252",
                                        "windows-1252", "x-cp1252",  "cp819",      "ibm819"};
    for (const char* name : latin) {
        if (label == name)
            return "windows-1252";
    }
    if (label == "big5" || label == "big5-hkscs" || label == "cn-big5" || label == "csbig5" ||
        label == "x-x-big5")
        return "Big5-HKSCS";
    if (isUtf16Label(label))
        return label == "utf-16be" || label == "unicodefffe" ? "UTF-16BE" : "UTF-16LE";
    return label;
}

// The web's GBK and GB18030 take a lone byte 0x80 for the euro sign, as Windows' code page 936 does
// and as the browsers show such a page; ICU's GB18030 finds it illegal. Anything else undecodable
// becomes U+FFFD, as ever.
void euroForLone80(const void* context, UConverterToUnicodeArgs* args, const char* codeUnits, int32_t length,
                   UConverterCallbackReason reason, UErrorCode* err)
{
    if ((reason == UCNV_ILLEGAL || reason == UCNV_UNASSIGNED) && length == 1 &&
        static_cast<unsigned char>(codeUnits[0]) == 0x80) {
        const UChar euro = 0x20AC;
        *err = U_ZERO_ERROR;
        ucnv_cbToUWriteUChars(args, &euro, 1, 0, err);
        return;
    }
    UCNV_TO_U_CALLBACK_SUBSTITUTE(context, args, codeUnits, length, reason, err);
}

QString icuDecode(const QByteArray& bytes, const char* name, bool* ok)
{
    UErrorCode err = U_ZERO_ERROR;
    UConverter* conv = ucnv_open(name, &err);
    if (U_FAILURE(err) || !conv) {
        *ok = false;
        return {};
    }
    *ok = true;
    if (QByteArrayView(name) == "GB18030")
        ucnv_setToUCallBack(conv, euroForLone80, nullptr, nullptr, nullptr, &err);
    if (bytes.isEmpty()) {
        ucnv_close(conv);
        return {};
    }
    // Every encoding here yields at most two UTF-16 units per input byte.
    std::vector<UChar> buffer(size_t(bytes.size()) * 2 + 16);
    err = U_ZERO_ERROR;
    int32_t length = ucnv_toUChars(conv, buffer.data(), int32_t(buffer.size()), bytes.constData(),
                                   int32_t(bytes.size()), &err);
    if (err == U_BUFFER_OVERFLOW_ERROR) {
        buffer.resize(size_t(length) + 1);
        err = U_ZERO_ERROR;
        length = ucnv_toUChars(conv, buffer.data(), int32_t(buffer.size()), bytes.constData(),
                               int32_t(bytes.size()), &err);
    }
    ucnv_close(conv);
    if (U_FAILURE(err) && err != U_STRING_NOT_TERMINATED_WARNING)
        return {};
    // Some converters (CESU-8, UTF-7, SCSU …) pass a half of a surrogate pair through as it came:
    // such a unit is no character and becomes U+FFFD, as any other undecodable input does.
    for (int32_t i = 0; i < length; ++i) {
        if (U16_IS_LEAD(buffer[i]) && i + 1 < length && U16_IS_TRAIL(buffer[i + 1]))
            ++i;
        else if (U16_IS_SURROGATE(buffer[i]))
            buffer[i] = 0xFFFD;
    }
    return QString(reinterpret_cast<const QChar*>(buffer.data()), length);
}

} // namespace

QByteArray charsetFromContentType(const QByteArray& contentType)
{
    const QList<QByteArray> parts = contentType.split(';');
    for (qsizetype i = 1; i < parts.size(); ++i) {
        const QByteArray param = parts.at(i).trimmed();
        const qsizetype eq = param.indexOf('=');
        if (eq < 0)
            continue;
        if (param.left(eq).trimmed().toLower() == "charset")
            return normalizedLabel(param.mid(eq + 1));
    }
    return {};
}

QByteArray charsetFromMeta(const QByteArray& body)
{
    QString head = QString::fromLatin1(body.left(kMetaScanBytes));
    static const QRegularExpression comment(u"<!--.*?(-->|$)"_s,
                                            QRegularExpression::DotMatchesEverythingOption);
    head.remove(comment);
    static const QRegularExpression meta(u"<meta[\\s/][^>]*>"_s, QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression charset(u"charset\\s*=\\s*[\"']?\\s*([^\\s\"'>;/]+)"_s,
                                            QRegularExpression::CaseInsensitiveOption);
    auto tags = meta.globalMatch(head);
    while (tags.hasNext()) {
        const QRegularExpressionMatch tag = tags.next();
        const QRegularExpressionMatch found = charset.match(tag.captured(0));
        if (!found.hasMatch())
            continue;
        QByteArray label = normalizedLabel(found.captured(1).toLatin1());
        // A page cannot be read far enough to find this tag in UTF-16; browsers take it as UTF-8.
        if (isUtf16Label(label))
            label = "utf-8";
        return label;
    }
    return {};
}

QString decodeCharset(const QByteArray& bytes, const QByteArray& charset, bool* ok)
{
    bool dummy = false;
    bool& success = ok ? *ok : dummy;
    const QByteArray label = normalizedLabel(charset);
    if (label.isEmpty()) {
        success = false;
        return {};
    }
    if (isUtf8Label(label)) {
        success = true;
        return QString::fromUtf8(bytes);
    }
    const QByteArray name = icuNameFor(label);
    QString text = icuDecode(bytes, name.constData(), &success);
    if (!success && name == "Big5-HKSCS")
        text = icuDecode(bytes, "windows-950", &success);
    return text;
}

QString decodePage(const QByteArray& body, const QByteArray& contentType, QByteArray* used)
{
    QByteArray dummy;
    QByteArray& applied = used ? *used : dummy;
    if (body.startsWith("\xEF\xBB\xBF")) {
        applied = "utf-8";
        return QString::fromUtf8(body.mid(3));
    }
    if (body.startsWith("\xFE\xFF")) {
        applied = "utf-16be";
        return decodeCharset(body.mid(2), applied);
    }
    if (body.startsWith("\xFF\xFE")) {
        applied = "utf-16le";
        return decodeCharset(body.mid(2), applied);
    }
    for (const QByteArray& label : {charsetFromContentType(contentType), charsetFromMeta(body)}) {
        if (label.isEmpty())
            continue;
        bool ok = false;
        QString text = decodeCharset(body, label, &ok);
        if (ok) {
            applied = label;
            return text;
        }
    }
    if (QByteArrayView(body).isValidUtf8()) {
        applied = "utf-8";
        return QString::fromUtf8(body);
    }
    applied = "gbk";
    return decodeCharset(body, applied);
}

} // namespace lintbay
