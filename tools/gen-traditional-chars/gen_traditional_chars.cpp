// Writes the Traditional character table of the script detector as a C++ source file.
//
// A character of the detector's candidate range U+4E00..U+B200 is listed when OpenCC's t2s
// conversion, applied to that character alone, yields one different, stable character of the basic
// block U+4E00..U+9FFF, and the character is not one of the 6,763 hanzi of GB2312.
//
// GB2312 is the repertoire Simplified titles are written in, and it holds a few characters that
// OpenCC also converts (乾 → 干, 於 → 于, 後 → 后: in Simplified text they are names and
// literary words such as 乾隆). A title made only of GB2312 hanzi may therefore be Simplified, and
// nothing in it may count as Traditional; ToSimplified leaves exactly those titles untouched.
//
// Also left out: the few characters outside GB2312 that today's Simplified writing keeps in names and
// brands (昇 as in 昇腾, 陞 in given names, which OpenCC would turn into 升; 甦 and 蒐, into 苏 and
// 搜), the variant forms that the standard character list of 2013 took back into Simplified use.
//
// Left out as well: characters whose result OpenCC would change again (薴 → 苧 → 苎; listing them
// would leave a converted title still "Traditional") and the rare ones whose Simplified form lies
// outside the basic block (in Extension A, or beyond U+FFFF where one UTF-16 unit would become
// two). The table is ordered by the code of the Simplified form, ties by the Traditional code, so
// related forms sit side by side when a reader scans it.
//
// Usage: gen_traditional_chars <generator script path> <OpenCC version> > TraditionalChars.cpp
// (run through generate.sh, which compiles this file and records the versions).

#include <opencc.h>
#include <unicode/ucnv.h>
#include <unicode/unistr.h>
#include <unicode/uversion.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr UChar32 kCandidateFirst = 0x4E00;
constexpr UChar32 kCandidateLast = 0xB200;
constexpr UChar32 kBasicFirst = 0x4E00;
constexpr UChar32 kBasicLast = 0x9FFF;
constexpr std::size_t kGb2312Hanzi = 6763;
constexpr int kPerLine = 16;
// Simplified in use, though outside GB2312 (see the header).
constexpr UChar32 kKeptSimplified[] = {0x6607 /* 昇 */, 0x965E /* 陞 */, 0x7526 /* 甦 */, 0x8490 /* 蒐 */};
constexpr int kShownFirst = 16;

// For comparison in the output: the original table, and the one ICU's transliterator gave before
// GB2312 characters were kept out.
constexpr const char* kFormerFigures = "the original table: 2,170 characters, beginning "
                                       "萬與專業叢東絲丟兩嚴喪個臨為麗舉; the ICU-made one: 2,798";

std::string utf8(UChar32 c)
{
    std::string out;
    icu::UnicodeString(c).toUTF8String(out);
    return out;
}

// The hanzi of GB2312: rows 0xB0..0xF7 of the double-byte area, decoded by ICU. The five codes
// D7FA..D7FE are unassigned; ICU hands them out as private-use characters, which the range test
// drops.
std::set<UChar32> gb2312Hanzi()
{
    std::set<UChar32> hanzi;
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open("GB2312", &status);
    if (U_FAILURE(status))
        return hanzi;
    ucnv_setToUCallBack(converter, UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    for (int lead = 0xB0; lead <= 0xF7; ++lead) {
        for (int trail = 0xA1; trail <= 0xFE; ++trail) {
            const char bytes[2] = {char(lead), char(trail)};
            UChar out[2];
            status = U_ZERO_ERROR;
            ucnv_reset(converter);
            const int32_t n = ucnv_toUChars(converter, out, 2, bytes, 2, &status);
            if (U_SUCCESS(status) && n == 1 && out[0] >= kBasicFirst && out[0] <= kBasicLast)
                hanzi.insert(out[0]);
        }
    }
    ucnv_close(converter);
    return hanzi;
}

// OpenCC's answer for one character when it is one character, else `c`.
UChar32 convertOne(opencc_t converter, UChar32 c)
{
    const std::string in = utf8(c);
    char* out = opencc_convert_utf8(converter, in.c_str(), in.size());
    if (!out)
        return c;
    const icu::UnicodeString result = icu::UnicodeString::fromUTF8(out);
    opencc_convert_utf8_free(out);
    return result.countChar32() == 1 ? result.char32At(0) : c;
}

} // namespace

int main(int argc, char** argv)
{
    const char* generator = argc > 1 ? argv[1] : "tools/gen-traditional-chars/generate.sh";
    const char* openccVersion = argc > 2 ? argv[2] : "unknown";

    const std::set<UChar32> gb2312 = gb2312Hanzi();
    if (gb2312.size() != kGb2312Hanzi) {
        std::fprintf(stderr, "ICU's GB2312 converter gave %zu hanzi instead of %zu\n", gb2312.size(),
                     kGb2312Hanzi);
        return 1;
    }

    const opencc_t converter = opencc_open(OPENCC_DEFAULT_CONFIG_TRAD_TO_SIMP);
    if (converter == reinterpret_cast<opencc_t>(-1)) {
        std::fprintf(stderr, "cannot open %s: %s\n", OPENCC_DEFAULT_CONFIG_TRAD_TO_SIMP, opencc_error());
        return 1;
    }

    // (simplified, traditional)
    std::vector<std::pair<UChar32, UChar32>> pairs;
    for (UChar32 c = kCandidateFirst; c <= kCandidateLast; ++c) {
        if (gb2312.count(c) ||
            std::find(std::begin(kKeptSimplified), std::end(kKeptSimplified), c) != std::end(kKeptSimplified))
            continue;
        const UChar32 simplified = convertOne(converter, c);
        if (simplified != c && simplified >= kBasicFirst && simplified <= kBasicLast &&
            convertOne(converter, simplified) == simplified)
            pairs.emplace_back(simplified, c);
    }
    opencc_close(converter);
    std::sort(pairs.begin(), pairs.end());

    std::string first;
    for (std::size_t i = 0; i < pairs.size() && i < kShownFirst; ++i)
        first += utf8(pairs[i].second);
    const std::string figures = std::to_string(pairs.size()) + " characters, beginning " + first;

    std::printf("// Generated by %s (OpenCC %s, t2s; ICU %s for GB2312).\n"
                "// Do not edit; run the script again instead.\n",
                generator, openccVersion, U_ICU_VERSION);
    std::printf(
        "//\n"
        "// Characters of U+%04X..U+%04X outside GB2312 (but for 昇, 陞, 甦 and 蒐, which Simplified\n"
        "// names keep) that OpenCC's t2s conversion maps\n"
        "// to one different, stable character of U+%04X..U+%04X, ordered by the code of\n"
        "// the Simplified form (ties by the Traditional code).\n"
        "// %s\n"
        "// (%s).\n\n",
        unsigned(kCandidateFirst), unsigned(kCandidateLast), unsigned(kBasicFirst), unsigned(kBasicLast),
        figures.c_str(), kFormerFigures);
    std::printf("#include \"search/TraditionalChars.h\"\n\n#include <iterator>\n\n");
    std::printf("namespace lintbay {\n\nnamespace {\n\n");
    std::printf("constexpr char16_t kTraditionalChars[] =\n");
    for (std::size_t i = 0; i < pairs.size(); i += kPerLine) {
        std::string line;
        for (std::size_t j = i; j < pairs.size() && j < i + kPerLine; ++j)
            line += utf8(pairs[j].second);
        std::printf("    u\"%s\"%s\n", line.c_str(), i + kPerLine >= pairs.size() ? ";" : "");
    }
    std::printf("\n} // namespace\n\n");
    std::printf("QStringView traditionalCharList()\n{\n"
                "    return QStringView(kTraditionalChars, std::size(kTraditionalChars) - 1);\n}\n\n");
    std::printf("} // namespace lintbay\n");
    std::fprintf(stderr, "%s (%s)\n", figures.c_str(), kFormerFigures);
    return 0;
}
