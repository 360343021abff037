#include "search/ScriptDetect.h"
#include "search/TraditionalChars.h"
#include "util/AnsiCodec.h"

#include <QSet>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace lintbay;

class TestScriptDetect : public QObject
{
    Q_OBJECT

private slots:
    void hasKana_data();
    void hasKana();
    void hasTraditional_data();
    void hasTraditional();
    void toSimplified_data();
    void toSimplified();
    void gb2312Untouched();
    void listBoundsAndOrder();
    void listMatchesConversion();
};

namespace {

// The 6,763 hanzi of GB2312: rows B0..F7 of GBK's double-byte area, less five unassigned codes.
QSet<char16_t> gb2312Hanzi()
{
    QSet<char16_t> hanzi;
    for (int lead = 0xB0; lead <= 0xF7; ++lead) {
        for (int trail = 0xA1; trail <= 0xFE; ++trail) {
            const char bytes[2] = {char(lead), char(trail)};
            const QString c = fromAnsiBytes(QByteArrayView(bytes, 2));
            if (c.size() == 1 && c.at(0).unicode() >= 0x4E00 && c.at(0).unicode() <= 0x9FFF)
                hanzi.insert(c.at(0).unicode());
        }
    }
    return hanzi;
}

} // namespace

void TestScriptDetect::hasKana_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");

    QTest::newRow("empty") << QString() << false;
    QTest::newRow("hiragana first") << u"ぁ"_s << true;
    QTest::newRow("hiragana last") << u"ん"_s << true;
    QTest::newRow("katakana first") << u"ァ"_s << true;
    QTest::newRow("katakana last") << u"ヶ"_s << true;
    QTest::newRow("before hiragana") << QString(QChar(0x3040)) << false;
    QTest::newRow("after hiragana") << u"ゔ"_s << false;  // U+3094
    QTest::newRow("before katakana") << u"゠"_s << false; // U+30A0
    QTest::newRow("after katakana") << u"ヷ"_s << false;  // U+30F7
    QTest::newRow("middle dot") << u"・"_s << false;
    QTest::newRow("prolonged sound mark") << u"ー"_s << false;
    QTest::newRow("half-width katakana") << u"ｱｲｳｴｵｰ"_s << false;
    QTest::newRow("chinese and latin") << u"机器学习 Deep Learning 2023"_s << false;
    QTest::newRow("kana at the end") << u"機械学習の基礎"_s << true;
    QTest::newRow("katakana in a mixed title") << u"PDF版データ集"_s << true;
}

void TestScriptDetect::hasKana()
{
    QFETCH(QString, text);
    QFETCH(bool, expected);
    QCOMPARE(HasKana(text), expected);
}

void TestScriptDetect::hasTraditional_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("expected");

    QTest::newRow("empty") << QString() << false;
    QTest::newRow("simplified") << u"机器学习"_s << false;
    QTest::newRow("traditional") << u"機器學習"_s << true;
    QTest::newRow("one traditional among simplified") << u"机器学習"_s << true;
    QTest::newRow("latin and digits") << u"Annual Report 2023.pdf"_s << false;
    QTest::newRow("first listed") << u"萬"_s << true;
    QTest::newRow("last listed") << u"龜"_s << true;
    QTest::newRow("shared by both scripts") << u"中国人民大学"_s << false;
    QTest::newRow("kana only") << u"ひらがなカタカナ"_s << false;
    QTest::newRow("hangul") << u"한국어"_s << false;
    // ICU maps 苧 and 苎 onto each other; the Simplified 苎 must not count as Traditional.
    QTest::newRow("simplified in a mapping circle") << u"苎麻"_s << false;
    QTest::newRow("simplified names with 昇 陞 甦 蒐") << u"华为昇腾AI处理器 陞职 李甦 蒐集"_s << false;
}

void TestScriptDetect::hasTraditional()
{
    QFETCH(QString, text);
    QFETCH(bool, expected);
    QCOMPARE(HasTraditional(text), expected);
}

void TestScriptDetect::toSimplified_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("expected");

    QTest::newRow("empty") << QString() << QString();
    QTest::newRow("latin and digits") << u"Deep Learning 2023 (v1.2)"_s << u"Deep Learning 2023 (v1.2)"_s;
    QTest::newRow("simplified") << u"机器学习"_s << u"机器学习"_s;
    // Simplified words with the GB2312 characters that conversions are prone to rewrite; out of
    // context OpenCC itself turns 夥 麽 於 摺 菸 後 into 伙 么 于 折 烟 后.
    QTest::newRow("simplified 著 俱") << u"著作权法与俱乐部章程"_s << u"著作权法与俱乐部章程"_s;
    QTest::newRow("simplified 乾 阪 姊") << u"乾隆年间大阪姊妹城市"_s << u"乾隆年间大阪姊妹城市"_s;
    QTest::newRow("simplified 藉 吒 跤") << u"慰藉 哪吒闹海 摔跤教程"_s << u"慰藉 哪吒闹海 摔跤教程"_s;
    QTest::newRow("simplified 夥 麽 箝") << u"获益甚夥 幺麽小丑 箝制"_s << u"获益甚夥 幺麽小丑 箝制"_s;
    QTest::newRow("simplified 於 徵 摺 菸 後")
        << u"於梨华 宫商角徵羽 奏摺 菸叶 後藤新平"_s << u"於梨华 宫商角徵羽 奏摺 菸叶 後藤新平"_s;
    QTest::newRow("simplified 昇") << u"华为昇腾AI处理器架构与编程"_s << u"华为昇腾AI处理器架构与编程"_s;
    QTest::newRow("simplified 甦 in a name") << u"李甦的论文"_s << u"李甦的论文"_s;
    QTest::newRow("list start") << u"萬與專業"_s << u"万与专业"_s;
    QTest::newRow("traditional") << u"機器學習"_s << u"机器学习"_s;
    // In a Traditional title the phrases decide the characters both scripts share.
    QTest::newRow("traditional 於 後") << u"關於以後的發展"_s << u"关于以后的发展"_s;
    QTest::newRow("traditional 乾 as dry") << u"乾燥設備"_s << u"干燥设备"_s;
    QTest::newRow("traditional 乾 in a name") << u"乾隆年間"_s << u"乾隆年间"_s;
    QTest::newRow("mixed 著") << u"著作權法"_s << u"著作权法"_s;
    QTest::newRow("mixed 吒 藉") << u"哪吒傳奇 慰藉與狼藉"_s << u"哪吒传奇 慰藉与狼藉"_s;
    QTest::newRow("mixed title") << u"PDF報告：2023年經濟發展.pdf"_s << u"PDF报告：2023年经济发展.pdf"_s;
    QTest::newRow("kana kept") << u"機械学習の基礎"_s << u"机械学习の基础"_s;
    // Outside GBK: an Extension B ideograph, an emoji and hangul must survive untouched.
    QTest::newRow("supplementary ideograph") << u"𠀀書"_s << u"𠀀书"_s;
    QTest::newRow("emoji") << u"龍😀"_s << u"龙😀"_s;
    QTest::newRow("hangul") << u"한국語"_s << u"한국语"_s;
    QTest::newRow("lone surrogate") << (u"書"_s + QChar(0xD800) + u"書"_s)
                                    << (u"书"_s + QChar(0xD800) + u"书"_s);
    QTest::newRow("mapping circle kept") << u"苎麻纺织"_s << u"苎麻纺织"_s;
    QTest::newRow("mapping circle converted") << u"苧麻紡織"_s << u"苎麻纺织"_s;
    QTest::newRow("extension A target") << u"儸書"_s << u"㑩书"_s;
    // 鰊's Simplified form lies beyond U+FFFF; taking it would shift every later position.
    QTest::newRow("wider target kept") << u"鰊魚"_s << u"鰊鱼"_s;
}

void TestScriptDetect::toSimplified()
{
    QFETCH(QString, text);
    QFETCH(QString, expected);
    const QString result = ToSimplified(text);
    QCOMPARE(result, expected);
    QCOMPARE(result.size(), text.size());
    // A converted title has nothing left to convert.
    QCOMPARE(ToSimplified(result), result);
}

// No character of the Simplified repertoire counts as Traditional or is changed on its own.
void TestScriptDetect::gb2312Untouched()
{
    const QSet<char16_t> hanzi = gb2312Hanzi();
    QCOMPARE(hanzi.size(), 6763);
    for (const char16_t code : hanzi) {
        const QString one(QChar{code});
        QVERIFY2(!HasTraditional(one), qPrintable(one));
        QCOMPARE(ToSimplified(one), one);
    }
}

void TestScriptDetect::listBoundsAndOrder()
{
    const QStringView list = traditionalCharList();
    QVERIFY(list.size() > 2000);
    QVERIFY(list.startsWith(u"萬與"));
    QVERIFY(list.contains(u"專業叢東絲丟兩嚴喪個"));
    QVERIFY(list.contains(u"齲齷龍龔龕龜"));

    QSet<char16_t> seen;
    char16_t previousSimplified = 0;
    char16_t previousTraditional = 0;
    for (const QChar c : list) {
        const char16_t traditional = c.unicode();
        QVERIFY2(traditional >= 0x4E00 && traditional <= 0x9FFF, qPrintable(QString(c)));
        QVERIFY2(!seen.contains(traditional), qPrintable(QString(c)));
        seen.insert(traditional);

        const QString simplified = ToSimplified(QString(c));
        QCOMPARE(simplified.size(), 1);
        QVERIFY2(simplified.at(0) != c, qPrintable(QString(c)));
        const char16_t s = simplified.at(0).unicode();
        QVERIFY2(s > previousSimplified || (s == previousSimplified && traditional > previousTraditional),
                 qPrintable(QString(c)));
        previousSimplified = s;
        previousTraditional = traditional;

        QVERIFY2(HasTraditional(QString(c)), qPrintable(QString(c)));
        QVERIFY2(!HasTraditional(simplified), qPrintable(simplified));
    }
}

// A character is listed exactly when it lies outside GB2312 (but for 昇, 陞, 甦 and 蒐, kept in Simplified
// names) and, in a title that is converted
// anyway, becomes another stable basic ideograph, so the filter and the conversion agree (a stale
// list after an OpenCC update shows here).
void TestScriptDetect::listMatchesConversion()
{
    const QSet<char16_t> gb2312 = gb2312Hanzi();
    const auto converted = [](char16_t code) { return ToSimplified(QChar{code} + u" 書"_s).at(0).unicode(); };
    const QStringView list = traditionalCharList();
    qsizetype listable = 0;
    for (char16_t code = 0x4E00; code <= 0x9FFF; ++code) {
        const char16_t s = converted(code);
        const bool expected = s != code && s >= 0x4E00 && s <= 0x9FFF && converted(s) == s &&
                              !gb2312.contains(code) && code != u'昇' && code != u'陞' && code != u'甦' &&
                              code != u'蒐';
        if (expected)
            ++listable;
        QVERIFY2(list.contains(QChar{code}) == expected, qPrintable(QString(QChar{code})));
    }
    QCOMPARE(listable, list.size());
}

QTEST_GUILESS_MAIN(TestScriptDetect)
#include "tst_scriptdetect.moc"
