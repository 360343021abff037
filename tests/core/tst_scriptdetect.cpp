#include "search/ScriptDetect.h"
#include "search/TraditionalChars.h"

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
    void listBoundsAndOrder();
    void listMatchesConversion();
};

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
    QTest::newRow("list start") << u"萬與專業"_s << u"万与专业"_s;
    QTest::newRow("traditional") << u"機器學習"_s << u"机器学习"_s;
    QTest::newRow("mixed title") << u"PDF報告：2023年經濟發展.pdf"_s << u"PDF报告：2023年经济发展.pdf"_s;
    QTest::newRow("kana kept") << u"機械学習の基礎"_s << u"机械学习の基础"_s;
    // Outside GBK: an Extension B ideograph, an emoji and hangul must survive untouched.
    QTest::newRow("supplementary ideograph") << u"𠀀書"_s << u"𠀀书"_s;
    QTest::newRow("emoji") << u"龍😀"_s << u"龙😀"_s;
    QTest::newRow("hangul") << u"한국語"_s << u"한국语"_s;
    QTest::newRow("lone surrogate") << (u"書"_s + QChar(0xD800) + u"書"_s)
                                    << (u"书"_s + QChar(0xD800) + u"书"_s);
    // Its Simplified form exists only in Extension A; it is converted, not dropped.
    QTest::newRow("mapping circle kept") << u"苎麻纺织"_s << u"苎麻纺织"_s;
    QTest::newRow("extension A target") << u"儸"_s << u"㑩"_s;
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

void TestScriptDetect::listBoundsAndOrder()
{
    const QStringView list = traditionalCharList();
    QVERIFY(list.size() > 2000);
    QVERIFY(list.startsWith(u"萬與"));
    QVERIFY(list.contains(u"專業叢東絲丟兩嚴喪個"));
    QVERIFY(list.endsWith(u"齲齷龍龔龕龜"));

    QSet<char16_t> seen;
    char16_t previousSimplified = 0;
    char16_t previousTraditional = 0;
    for (const QChar c : list) {
        const char16_t traditional = c.unicode();
        QVERIFY2(traditional >= 0x4E1F && traditional <= 0x9F9C, qPrintable(QString(c)));
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

// Every character of the list's range that the conversion turns into another basic ideograph is
// listed, so the filter and the conversion agree (a stale list after an ICU update shows here).
void TestScriptDetect::listMatchesConversion()
{
    const QStringView list = traditionalCharList();
    qsizetype converted = 0;
    for (char16_t code = 0x4E1F; code <= 0x9F9C; ++code) {
        const QString one(QChar{code});
        const QString simplified = ToSimplified(one);
        const char16_t s = simplified.at(0).unicode();
        const bool listable = s != code && s >= 0x4E00 && s <= 0x9FFF;
        if (listable)
            ++converted;
        QVERIFY2(list.contains(QChar{code}) == listable, qPrintable(one));
    }
    QCOMPARE(converted, list.size());
}

QTEST_GUILESS_MAIN(TestScriptDetect)
#include "tst_scriptdetect.moc"
