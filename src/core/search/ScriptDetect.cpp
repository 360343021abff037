#include "search/ScriptDetect.h"

#include "search/TraditionalChars.h"

#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <opencc.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <vector>

namespace lintbay {

namespace {

constexpr char16_t kHiraganaFirst = u'ぁ'; // U+3041
constexpr char16_t kHiraganaLast = u'ん';  // U+3093
constexpr char16_t kKatakanaFirst = u'ァ'; // U+30A1
constexpr char16_t kKatakanaLast = u'ヶ';  // U+30F6

// Only code units in this range are looked up in the list. The bounds are where a UTF-16 code read
// as a signed 16-bit number exceeds 19967 in absolute value; every listed character lies inside.
constexpr char16_t kCandidateFirst = 0x4E00;
constexpr char16_t kCandidateLast = 0xB200;

bool isKana(char16_t c)
{
    return (c >= kHiraganaFirst && c <= kHiraganaLast) || (c >= kKatakanaFirst && c <= kKatakanaLast);
}

// The list is kept in its readable order in the generated source; lookups use a sorted copy.
const std::vector<char16_t>& sortedTraditionalChars()
{
    static const std::vector<char16_t> sorted = [] {
        const QStringView list = traditionalCharList();
        std::vector<char16_t> chars(list.utf16(), list.utf16() + list.size());
        std::sort(chars.begin(), chars.end());
        return chars;
    }();
    return sorted;
}

bool isListedTraditional(char16_t c)
{
    if (c < kCandidateFirst || c > kCandidateLast)
        return false;
    const std::vector<char16_t>& chars = sortedTraditionalChars();
    return std::binary_search(chars.begin(), chars.end(), c);
}

struct ConverterCloser
{
    void operator()(void* converter) const { opencc_close(converter); }
};

// Opened on first use and kept for the whole run: opening loads the phrase and character
// dictionaries. Null when the configuration or its dictionaries cannot be loaded.
opencc_t traditionalToSimplified()
{
    static const std::unique_ptr<void, ConverterCloser> converter = [] {
        opencc_t opened = opencc_open(OPENCC_DEFAULT_CONFIG_TRAD_TO_SIMP);
        if (opened == reinterpret_cast<opencc_t>(-1)) {
            qWarning("Traditional-to-Simplified conversion unavailable: %s", opencc_error());
            opened = nullptr;
        }
        return std::unique_ptr<void, ConverterCloser>(opened);
    }();
    return converter.get();
}

// `original` with OpenCC's answer put in character by character. Callers rely on positions
// staying put: an answer with another number of characters leaves the whole text as it was, and a
// character whose answer takes another number of UTF-16 units (a few rare ones map beyond U+FFFF)
// keeps its own form. Lone surrogates, which UTF-8 cannot carry, stay as they are.
QString withConverted(QStringView original, QStringView converted)
{
    const QList<uint> codes = converted.toUcs4();
    QString result = original.toString();
    qsizetype k = 0;
    for (qsizetype i = 0; i < result.size(); ++k) {
        if (k == codes.size())
            return original.toString();
        const char16_t unit = result.at(i).unicode();
        const bool pair =
            QChar::isHighSurrogate(unit) && i + 1 < result.size() && result.at(i + 1).isLowSurrogate();
        const char32_t code = codes.at(k);
        if ((pair || !QChar::isSurrogate(unit)) && QChar::requiresSurrogates(code) == pair) {
            if (pair) {
                result[i] = QChar(QChar::highSurrogate(code));
                result[i + 1] = QChar(QChar::lowSurrogate(code));
            } else {
                result[i] = QChar(char16_t(code));
            }
        }
        i += pair ? 2 : 1;
    }
    return k == codes.size() ? result : original.toString();
}

} // namespace

bool HasKana(QStringView text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return isKana(c.unicode()); });
}

bool HasTraditional(QStringView text)
{
    return std::any_of(text.begin(), text.end(), [](QChar c) { return isListedTraditional(c.unicode()); });
}

QString ToSimplified(QStringView text)
{
    // A title without a listed character is kept as it is: it may well be Simplified, and OpenCC
    // converts a few GB2312 characters when it meets them outside a phrase it knows (乾 → 干,
    // 吒 → 咤, 於 → 于). In a title that is Traditional anyway its phrases decide them (乾隆 stays,
    // 乾燥 becomes 干燥, 關於 becomes 关于).
    if (!HasTraditional(text))
        return text.toString();
    const opencc_t converter = traditionalToSimplified();
    if (!converter)
        return text.toString();

    const QByteArray utf8 = text.toUtf8();
    char* converted = opencc_convert_utf8(converter, utf8.constData(), std::size_t(utf8.size()));
    if (!converted)
        return text.toString();
    const QString simplified = QString::fromUtf8(converted);
    opencc_convert_utf8_free(converted);
    return withConverted(text, simplified);
}

} // namespace lintbay
