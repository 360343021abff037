#include "search/ScriptDetect.h"

#include "search/TraditionalChars.h"

#include <QtGlobal>

#include <unicode/translit.h>
#include <unicode/unistr.h>

#include <algorithm>
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

// Created on first use and kept for the whole run: building it parses a large rule set.
icu::Transliterator* traditionalToSimplified()
{
    static const std::unique_ptr<icu::Transliterator> transliterator = [] {
        UErrorCode status = U_ZERO_ERROR;
        std::unique_ptr<icu::Transliterator> t(icu::Transliterator::createInstance(
            icu::UnicodeString(u"Traditional-Simplified"), UTRANS_FORWARD, status));
        if (U_FAILURE(status)) {
            qWarning("Traditional-Simplified transliterator unavailable: %s", u_errorName(status));
            t.reset();
        }
        return t;
    }();
    return transliterator.get();
}

// The one-character result of the transliterator for `code`, or `code` itself.
char32_t transliterateOne(icu::Transliterator& transliterator, char32_t code)
{
    icu::UnicodeString text(static_cast<UChar32>(code));
    transliterator.transliterate(text);
    return text.countChar32() == 1 ? static_cast<char32_t>(text.char32At(0)) : code;
}

// A replacement is taken only when it is stable, i.e. converting it again changes nothing. ICU's
// data maps a few characters in a circle (苧 → 苎 → 苧); following such a rule would turn the
// Simplified 苎 into the Traditional 苧, so those characters are kept as they are.
char32_t simplifiedForm(icu::Transliterator& transliterator, char32_t code)
{
    const char32_t once = transliterateOne(transliterator, code);
    if (once == code || transliterateOne(transliterator, once) != once)
        return code;
    return once;
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
    icu::Transliterator* transliterator = traditionalToSimplified();
    QString result = text.toString();
    if (!transliterator)
        return result;

    // Callers rely on positions staying put, so the transliterator sees one character at a time and
    // only one-character answers are taken: a phrase or multi-character rule in some ICU release
    // cannot shift the text.
    for (qsizetype i = 0; i < result.size();) {
        const char16_t unit = result.at(i).unicode();
        char32_t code = unit;
        qsizetype width = 1;
        if (QChar::isHighSurrogate(unit) && i + 1 < result.size() && result.at(i + 1).isLowSurrogate()) {
            code = QChar::surrogateToUcs4(unit, result.at(i + 1).unicode());
            width = 2;
        }
        if (code >= 0x80 && !QChar::isSurrogate(code)) {
            const char32_t simplified = simplifiedForm(*transliterator, code);
            if (simplified != code && QChar::requiresSurrogates(simplified) == (width == 2)) {
                if (width == 2) {
                    result[i] = QChar(QChar::highSurrogate(simplified));
                    result[i + 1] = QChar(QChar::lowSurrogate(simplified));
                } else {
                    result[i] = QChar(char16_t(simplified));
                }
            }
        }
        i += width;
    }
    return result;
}

} // namespace lintbay
