#include "util/AnsiCodec.h"
#include "util/TextHelpers.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace lintbay;

class TestTextHelpers : public QObject
{
    Q_OBJECT
private slots:
    void ansiCode_data()
    {
        QTest::addColumn<uint>("codePoint");
        QTest::addColumn<int>("code");
        QTest::newRow("ascii") << uint('A') << 65;
        QTest::newRow("hanzi") << uint(0x4E2D) << 0xD6D0; // 中
        QTest::newRow("euro, single byte in GBK") << uint(0x20AC) << 0x80;
        QTest::newRow("hangul") << uint(0xAC00) << 63;
        QTest::newRow("half-width katakana") << uint(0xFF76) << 63;
        QTest::newRow("outside the BMP") << uint(0x1F600) << 63;
        QTest::newRow("lone surrogate") << uint(0xD800) << 63;
    }
    void ansiCode()
    {
        QFETCH(uint, codePoint);
        QFETCH(int, code);
        QCOMPARE(AnsiCode(char32_t(codePoint)), code);
    }

    void ansiBytes()
    {
        const QString text = u"中文abc"_s;
        const QByteArray bytes = toAnsiBytes(text);
        QCOMPARE(bytes, QByteArray("\xD6\xD0\xCE\xC4"
                                   "abc"));
        QCOMPARE(fromAnsiBytes(bytes), text);
        // A character of two UTF-16 units is one "?".
        QCOMPARE(toAnsiBytes(u"a\U0001F600b"), QByteArray("a?b"));
        // Characters meant to be invisible count like any other GBK cannot hold, as AnsiCode has it.
        QCOMPARE(toAnsiBytes(u"a\u200Bb\uFFF3c\U000E0041d"), QByteArray("a?b?c?d"));
        QCOMPARE(LeftAnsiBytes(u"\uFFF3\uFFF3\uFFF3"_s, 2), u"\uFFF3\uFFF3"_s);
        QCOMPARE(toAnsiBytes(LeftAnsiBytes(u"\uFFF3\uFFF3\uFFF3"_s, 2)).size(), 2);
        // A lead byte without its trail must not swallow anything or vanish silently.
        QCOMPARE(fromAnsiBytes("\xD6\xD0\xD6"), u"中\uFFFD"_s);
    }

    void asciiDigits_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("digits");
        QTest::newRow("all ten") << u"0123456789"_s << true;
        QTest::newRow("empty") << QString() << false;
        QTest::newRow("sign") << u"-1"_s << false;
        QTest::newRow("blank") << u"1 "_s << false;
        QTest::newRow("before 0") << u"/"_s << false;
        QTest::newRow("after 9") << u":"_s << false;
        QTest::newRow("full-width") << u"\uFF11\uFF12"_s << false;
        QTest::newRow("arabic-indic") << u"\u0663"_s << false;
    }
    void asciiDigits()
    {
        QFETCH(QString, text);
        QFETCH(bool, digits);
        QCOMPARE(isAsciiDigits(text), digits);
    }

    void stripControlChars_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("header tail") << u" \tname.pdf\r\n"_s << u"name.pdf"_s;
        QTest::newRow("inner controls") << u"a\r\nb\rc\nd\te"_s + QChar(0) + u"f"_s << u"abcdef"_s;
        QTest::newRow("spaces inside stay") << u"  a b  "_s << u"a b"_s;
        QTest::newRow("spaces exposed by removal") << u"\t a \t"_s << u"a"_s;
        QTest::newRow("only controls") << u"\r\n\t"_s << QString();
    }
    void stripControlChars()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(StripControlChars(input), expected);
    }

    void leftAnsiBytes_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<int>("n");
        QTest::addColumn<QString>("expected");
        QTest::newRow("whole characters") << u"中国abc"_s << 4 << u"中国"_s;
        QTest::newRow("split character dropped") << u"中国abc"_s << 3 << u"中"_s;
        QTest::newRow("ascii then split") << u"a中"_s << 2 << u"a"_s;
        QTest::newRow("mixed") << u"ab中c"_s << 5 << u"ab中c"_s;
        QTest::newRow("unrepresentable kept, one byte each") << u"가나다"_s << 2 << u"가나"_s;
        QTest::newRow("surrogate pair never split")
            << u"\U0001F600\U0001F600x"_s << 2 << u"\U0001F600\U0001F600"_s;
        QTest::newRow("longer than text") << u"中a"_s << 200 << u"中a"_s;
        QTest::newRow("zero") << u"abc"_s << 0 << QString();
        QTest::newRow("negative") << u"abc"_s << -1 << QString();
    }
    void leftAnsiBytes()
    {
        QFETCH(QString, input);
        QFETCH(int, n);
        QFETCH(QString, expected);
        QCOMPARE(LeftAnsiBytes(input, n), expected);
    }

    void removeLineBreaks()
    {
        QCOMPARE(RemoveLineBreaks(u" a\r\n\r\nb\rc\nd"_s + QChar(0) + u"e\t "_s), u" abcde\t "_s);
    }

    void fileNameFromPath_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<bool>("withoutExtension");
        QTest::addColumn<QString>("expected");
        QTest::newRow("url, no ext") << u"x://srv/d/Name.part.pdf"_s << true << u"Name.part"_s;
        QTest::newRow("url") << u"x://srv/d/Name.part.pdf"_s << false << u"Name.part.pdf"_s;
        QTest::newRow("backslashes") << u"C:\\a\\b.txt"_s << true << u"b"_s;
        QTest::newRow("mixed separators") << u"a\\b/c\\d.doc"_s << false << u"d.doc"_s;
        QTest::newRow("trimmed after separator") << u"/a/ b .pdf "_s << true << u"b"_s;
        QTest::newRow("no separator unchanged") << u" name.pdf "_s << false << u" name.pdf "_s;
        QTest::newRow("dot only in folder") << u"/a.b/c"_s << true << u"c"_s;
        QTest::newRow("trailing separator") << u"http://h/dir/"_s << false << QString();
    }
    void fileNameFromPath()
    {
        QFETCH(QString, input);
        QFETCH(bool, withoutExtension);
        QFETCH(QString, expected);
        QCOMPARE(FileNameFromPath(input, withoutExtension), expected);
    }

    void urlSiteRoot_data()
    {
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("expected");
        QTest::newRow("path") << u"x://srv/a/b.pdf"_s << u"x://srv"_s;
        QTest::newRow("no path") << u"x://srv"_s << u"x://srv"_s;
        QTest::newRow("query") << u"https://h.example:8080/s?q=1/2"_s << u"https://h.example:8080"_s;
        QTest::newRow("empty host") << u"file:///x/y"_s << u"file:///x/y"_s;
        QTest::newRow("no scheme") << u"www.a.com/x/y"_s << u"www.a.com"_s;
        QTest::newRow("no scheme, slash at 4th") << u"abc/d"_s << u"abc"_s;
        QTest::newRow("no scheme, short head") << u"ab/c"_s << u"ab/c"_s;
        QTest::newRow("no slash") << u"host"_s << u"host"_s;
    }
    void urlSiteRoot()
    {
        QFETCH(QString, url);
        QFETCH(QString, expected);
        QCOMPARE(UrlSiteRoot(url), expected);
    }

    void urlEncodeAnsi_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plus, space, hash") << u"C++ 中国#1"_s << u"C%2B%2B %D6%D0%B9%FA%231"_s;
        QTest::newRow("percent") << u"100%"_s << u"100%25"_s;
        QTest::newRow("amp, caret") << u"a&b^c"_s << u"a%26b%5Ec"_s;
        QTest::newRow("chinese") << u"机器学习"_s << u"%BB%FA%C6%F7%D1%A7%CF%B0"_s;
        QTest::newRow("own escapes not re-encoded") << u"%23#"_s << u"%2523%23"_s;
        QTest::newRow("other ascii passes") << u"a b=c?d/e\"f"_s << u"a b=c?d/e\"f"_s;
        // What GBK lacks goes out in GB18030, never raw (the address would carry it in UTF-8).
        QTest::newRow("outside GBK") << u"Schrödinger가\U0001F600"_s
                                     << u"Schr%81%30%8B%32dinger%82%37%CF%35%94%39%FC%36"_s;
        QTest::newRow("halves of surrogate pairs, a mark between")
            << (QString(QChar(0xD83D)) + u"\u200C"_s + QChar(0xDE00)) << u"%3F%3F"_s;
        QTest::newRow("other spaces, invisible marks")
            << u"\uFEFF机器\u00A0学\u200B习\u3000x"_s << u"%BB%FA%C6%F7 %D1%A7%CF%B0%A1%A1x"_s;
        QTest::newRow("single-byte euro") << u"€"_s << u"%80"_s;
    }
    void urlEncodeAnsi()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(UrlEncodeAnsi(input), expected);
    }
};

QTEST_GUILESS_MAIN(TestTextHelpers)
#include "tst_texthelpers.moc"
