#include "util/AnsiCodec.h"
#include "util/ContentDigest.h"
#include "util/PathHelpers.h"
#include "util/TextFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

using namespace Qt::StringLiterals;
using namespace lintbay;

namespace {

bool touch(const QString& path, const QByteArray& content = "x")
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestPathHelpers : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;

    QString at(const QString& name) const { return m_dir.filePath(name); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void sanitizeFileName_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("forbidden and dots") << u"..a/b:c*?.pdf.."_s << u"abc.pdf"_s;
        QTest::newRow("windows set") << u"a\\b|c\"d<e>f"_s << u"abcdef"_s;
        QTest::newRow("line breaks, tab, nul") << u"a\r\nb\tc"_s + QChar(0) + u"d"_s << u"abcd"_s;
        QTest::newRow("dots only") << u"..."_s << QString();
        QTest::newRow("inner dots and spaces stay") << u" a..b "_s << u" a..b "_s;
        QTest::newRow("dot exposed by removal") << u"?.a.?"_s << u"a"_s;
        QTest::newRow("a device's name") << u"Con"_s << u"Con_"_s;
        QTest::newRow("a device's name with a type") << u"lpt1 .tar.gz"_s << u"lpt1_ .tar.gz"_s;
        QTest::newRow("a device's name inside a word") << u"console.pdf"_s << u"console.pdf"_s;
    }
    void sanitizeFileName()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QCOMPARE(SanitizeFileName(input), expected);
    }

    // Names must fit 200 GBK bytes and leave room for "[0001]" and a type within 255 bytes on disk.
    void sanitizeFileNameLength_data()
    {
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("ascii at 200 bytes") << QString(250, u'a') << QString(200, u'a');
        QTest::newRow("chinese at the utf-8 limit") << QString(150, u'中') << QString(81, u'中');
        QTest::newRow("mixed, double byte not split")
            << u"a"_s + QString(120, u'中') << u"a"_s + QString(80, u'中');
        QString emoji;
        for (int i = 0; i < 100; ++i)
            emoji += u"\U0001F600"_s;
        QTest::newRow("four-byte characters whole") << emoji << emoji.left(120);
        QTest::newRow("cut ending on a dot") << QString(199, u'a') + u".b"_s << QString(199, u'a');
    }
    void sanitizeFileNameLength()
    {
        QFETCH(QString, input);
        QFETCH(QString, expected);
        const QString name = SanitizeFileName(input);
        QCOMPARE(name, expected);
        QVERIFY(toAnsiBytes(name).size() <= 200);
        const QString longest = name + u"[0001].xxxxx"_s;
        QVERIFY(QFile::encodeName(longest).size() <= 255);
        QVERIFY2(touch(at(longest)), qPrintable(longest));
        QVERIFY(QFile::remove(at(longest)));
    }

    void fileExists()
    {
        const QString file = at(u"some file#1.pdf"_s);
        QVERIFY(touch(file));
        QVERIFY(FileExists(file));
        QVERIFY(FileExists(u"  "_s + file + u" "_s));
        QVERIFY(FileExists(QUrl::fromLocalFile(file).toString())); // percent-encoded
        QVERIFY(FileExists(u"FILE://"_s + file));                  // put together by hand
        QVERIFY(!FileExists(u"file://"_s + at(u"missing.pdf"_s)));
        QVERIFY(!FileExists(m_dir.path())); // a folder is not a file
        QVERIFY(!FileExists(at(u"missing.pdf"_s)));
        QVERIFY(!FileExists(u"  "_s));

        QVERIFY(FolderExists(m_dir.path()));
        QVERIFY(!FolderExists(file));
        QVERIFY(!FolderExists(u" "_s));
        QVERIFY(!FolderExists(at(u"nothere"_s)));
    }

    void createFolderPath_data()
    {
        QTest::addColumn<QString>("relative"); // appended to the temp folder
        QTest::addColumn<QString>("expected"); // relative to the temp folder
        QTest::addColumn<bool>("nameError");
        QTest::addColumn<QString>("notCreated"); // relative; empty when not checked
        QTest::newRow("nested, trailing separator")
            << u"/docs/new/"_s << u"/docs/new"_s << false << QString();
        QTest::newRow("bad name stops the walk") << u"/docs2/<>/x"_s << u"/docs2"_s << true << u"/docs2/x"_s;
        QTest::newRow("names cleaned") << u"/a:b/c*d"_s << u"/ab/cd"_s << false << u"/a:b"_s;
        QTest::newRow("doubled separator ends the walk") << u"/p//q"_s << u"/p"_s << false << u"/p/q"_s;
        QTest::newRow("existing hidden folder kept")
            << u"/.hidden/sub"_s << u"/.hidden/sub"_s << false << u"/hidden"_s;
        QTest::newRow("new hidden folder cleaned") << u"/.fresh"_s << u"/fresh"_s << false << u"/.fresh"_s;
    }
    void createFolderPath()
    {
        QFETCH(QString, relative);
        QFETCH(QString, expected);
        QFETCH(bool, nameError);
        QFETCH(QString, notCreated);
        QVERIFY(QDir().mkpath(at(u".hidden"_s)));
        bool error = !nameError;
        QCOMPARE(CreateFolderPath(m_dir.path() + relative, &error), m_dir.path() + expected);
        QCOMPARE(error, nameError);
        QVERIFY(QFileInfo(m_dir.path() + expected).isDir());
        if (!notCreated.isEmpty())
            QVERIFY(!QFileInfo::exists(m_dir.path() + notCreated));
    }

    void createFolderPathSpecial()
    {
        bool error = true;
        QCOMPARE(CreateFolderPath(u"/"_s, &error), u"/"_s);
        QVERIFY(!error);
        QCOMPARE(CreateFolderPath(u"/"_s + m_dir.path() + u"/lead"_s), m_dir.path() + u"/lead"_s);
        // A relative path creates its first element too.
        const QString old = QDir::currentPath();
        QVERIFY(QDir::setCurrent(m_dir.path()));
        const QString rel = CreateFolderPath(u"rel/sub"_s);
        QVERIFY(QDir::setCurrent(old));
        QCOMPARE(rel, u"rel/sub"_s);
        QVERIFY(QFileInfo(at(u"rel/sub"_s)).isDir());
        // A file in the way cannot become a folder.
        QVERIFY(touch(at(u"plain"_s)));
        QCOMPARE(CreateFolderPath(at(u"plain/x"_s), &error), QString());
        QVERIFY(!error);
        QCOMPARE(CreateFolderPath(QString(), &error), QString());
    }

    void uniqueFileName_data()
    {
        QTest::addColumn<QStringList>("existing"); // names in a fresh folder; "dir:" makes a folder
        QTest::addColumn<QString>("input");
        QTest::addColumn<QString>("expected");
        QTest::newRow("free name unchanged") << QStringList() << u"report.pdf"_s << u"report.pdf"_s;
        QTest::newRow("old counter dropped")
            << QStringList{u"report[0002].pdf"_s} << u"report[0002].pdf"_s << u"report.pdf"_s;
        QTest::newRow("first free counter")
            << QStringList{u"report.pdf"_s, u"report[0001].pdf"_s, u"report[0002].pdf"_s} << u"report.pdf"_s
            << u"report[0003].pdf"_s;
        QTest::newRow("gap is used") << QStringList{u"r.pdf"_s, u"r[0002].pdf"_s} << u"r[0002].pdf"_s
                                     << u"r[0001].pdf"_s;
        QTest::newRow("no type") << QStringList{u"notes"_s} << u"notes"_s << u"notes[0001]"_s;
        QTest::newRow("folder blocks a name")
            << QStringList{u"x.pdf"_s, u"dir:x[0001].pdf"_s} << u"x.pdf"_s << u"x[0002].pdf"_s;
        QTest::newRow("text in brackets kept")
            << QStringList{u"r[ab].pdf"_s} << u"r[ab].pdf"_s << u"r[ab][0001].pdf"_s;
        QTest::newRow("counter-only base kept")
            << QStringList{u"[0002].pdf"_s} << u"[0002].pdf"_s << u"[0002][0001].pdf"_s;
        QTest::newRow("base over 100 characters")
            << QStringList{QString(120, u'a') + u".pdf"_s} << QString(120, u'a') + u".pdf"_s
            << QString(100, u'a') + u".pdf"_s;
        // 249 + 4 bytes exist; a counter would pass 255 bytes, so the base gives way.
        QTest::newRow("counter fits the byte limit")
            << QStringList{QString(83, u'中') + u".pdf"_s} << QString(83, u'中') + u".pdf"_s
            << QString(81, u'中') + u"[0001].pdf"_s;
    }
    void uniqueFileName()
    {
        QFETCH(QStringList, existing);
        QFETCH(QString, input);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        for (const QString& name : existing) {
            if (name.startsWith(u"dir:"))
                QVERIFY(QDir(dir.path()).mkdir(name.mid(4)));
            else
                QVERIFY(touch(dir.filePath(name)));
        }
        const QString result = UniqueFileName(dir.filePath(input));
        QCOMPARE(result, dir.filePath(expected));
        if (!existing.isEmpty()) {
            QVERIFY(!QFileInfo::exists(result));
            QVERIFY(touch(result)); // the file system takes the name
        }
    }

    void splitNames_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("fileBase"); // SplitFileName
        QTest::addColumn<QString>("fileExt");
        QTest::addColumn<QString>("pathBase"); // SplitPath
        QTest::addColumn<QString>("pathExt");
        QTest::newRow("plain") << u"/a/b/c.pdf"_s << u"/a/b/"_s << u"c"_s << u"pdf"_s << u"c"_s << u"pdf"_s;
        QTest::newRow("type of 7 characters")
            << u"/a/archive.tar.gzipped"_s << u"/a/"_s << u"archive.tar.gzipped"_s << QString()
            << u"archive.tar.gzipped"_s << QString();
        QTest::newRow("type of 6 characters")
            << u"/a/x.abcdef"_s << u"/a/"_s << u"x"_s << u"abcdef"_s << u"x"_s << u"abcdef"_s;
        QTest::newRow("trimmed") << u" /a/ b .pdf "_s << u"/a/"_s << u"b"_s << u"pdf"_s << u"b"_s << u"pdf"_s;
        QTest::newRow("dot file") << u"/a/.bashrc"_s << u"/a/"_s << QString() << u"bashrc"_s << u".bashrc"_s
                                  << QString();
        QTest::newRow("no folder") << u"c.doc"_s << QString() << u"c"_s << u"doc"_s << u"c"_s << u"doc"_s;
        QTest::newRow("dot in folder only")
            << u"/a.b/c"_s << u"/a.b/"_s << u"c"_s << QString() << u"c"_s << QString();
    }
    void splitNames()
    {
        QFETCH(QString, path);
        QFETCH(QString, folder);
        QFETCH(QString, fileBase);
        QFETCH(QString, fileExt);
        QFETCH(QString, pathBase);
        QFETCH(QString, pathExt);
        QString base;
        QCOMPARE(SplitFileName(path, &base), fileExt);
        QCOMPARE(base, fileBase);
        QString ext;
        QCOMPARE(SplitPath(path, &ext, &base), folder);
        QCOMPARE(ext, pathExt);
        QCOMPARE(base, pathBase);
    }

    void splitCounterSuffix_data()
    {
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("counter");
        QTest::addColumn<QString>("stripped");
        QTest::newRow("counter") << u"report[0002]"_s << u"0002"_s << u"report"_s;
        QTest::newRow("spaces inside") << u"report [ 12 ]"_s << u"12"_s << u"report "_s;
        QTest::newRow("not a number") << u"report[ab]"_s << QString() << u"report[ab]"_s;
        QTest::newRow("empty brackets") << u"report[]"_s << QString() << u"report[]"_s;
        QTest::newRow("only the counter") << u"[12]"_s << QString() << u"[12]"_s;
        QTest::newRow("not at the end") << u"a[1]b"_s << QString() << u"a[1]b"_s;
        QTest::newRow("last bracket counts") << u"a[x[3]"_s << u"3"_s << u"a[x"_s;
        QTest::newRow("no opening bracket") << u"a1]"_s << QString() << u"a1]"_s;
    }
    void splitCounterSuffix()
    {
        QFETCH(QString, base);
        QFETCH(QString, counter);
        QFETCH(QString, stripped);
        QString rest;
        QCOMPARE(SplitCounterSuffix(base, &rest), counter);
        QCOMPARE(rest, stripped);
    }

    // Two files are one document only when every byte agrees; anything unreadable is no match.
    void sameFileContent_data()
    {
        QTest::addColumn<QByteArray>("a");
        QTest::addColumn<QByteArray>("b");
        QTest::addColumn<bool>("same");
        // Longer than one piece read at a time, so that the last piece is compared too.
        const QByteArray big(600 * 1024, 'x');
        QByteArray lastDiffers = big;
        lastDiffers.back() = 'y';
        QTest::newRow("same, several pieces") << big << big << true;
        QTest::newRow("last byte differs") << big << lastDiffers << false;
        QTest::newRow("one is a prefix") << big << big.left(256 * 1024) << false;
        QTest::newRow("both empty") << QByteArray() << QByteArray() << true;
        QTest::newRow("second missing") << big << QByteArray("<missing>") << false;
        QTest::newRow("second a folder") << big << QByteArray("<folder>") << false;
    }
    void sameFileContent()
    {
        QFETCH(QByteArray, a);
        QFETCH(QByteArray, b);
        QFETCH(bool, same);
        const QString first = at(u"same-a"_s);
        const QString second = at(u"same-b"_s);
        QFile::remove(second);
        QDir(second).removeRecursively();
        QVERIFY(touch(first, a));
        if (b == "<folder>")
            QVERIFY(QDir().mkdir(second));
        else if (b != "<missing>")
            QVERIFY(touch(second, b));
        QCOMPARE(lintbay::sameFileContent(first, second), same);
        QCOMPARE(lintbay::sameFileContent(second, first), same);
        // The digest tells what the comparison tells for these.
        if (b != "<missing>" && b != "<folder>")
            QCOMPARE(ContentDigest::of(a) == ContentDigest::of(b), same);
    }

    void textFileRoundTrip()
    {
        const QString path = at(u"list.txt"_s);
        const QStringList lines{u"/home/用户/下载"_s, QString(), u"second line "_s};
        QVERIFY(writeTextFile(path, lines));
        QCOMPARE(readAll(path), QByteArray("/home/\xE7\x94\xA8\xE6\x88\xB7/\xE4\xB8\x8B\xE8\xBD\xBD\r\n"
                                           "\r\nsecond line \r\n"));
        bool ok = false;
        QCOMPARE(readTextLines(path, &ok), lines);
        QVERIFY(ok);
        // Rewriting replaces the whole file, and leaves no temporary file behind.
        QVERIFY(writeTextFile(path, {u"x"_s}));
        QCOMPARE(readAll(path), QByteArray("x\r\n"));
        QCOMPARE(QDir(m_dir.path()).entryList({u"list.txt*"_s}, QDir::Files | QDir::Hidden).size(), 1);
    }

    void textFileRead_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines");
        QTest::newRow("gbk") << QByteArray("\xD6\xD0\xCE\xC4\r\n\xB5\xDA\xB6\xFE")
                             << QStringList{u"中文"_s, u"第二"_s};
        QTest::newRow("utf-8 with bom")
            << QByteArray("\xEF\xBB\xBF\xE4\xB8\xAD\nb\n") << QStringList{u"中"_s, u"b"_s};
        QTest::newRow("utf-16 with bom") << QByteArray("\xFF\xFE\x2D\x4E\r\0\n\0", 8) << QStringList{u"中"_s};
        QTest::newRow("mixed line ends") << QByteArray("a\nb\rc\r\nd\n\ne")
                                         << QStringList{u"a"_s, u"b"_s, u"c"_s, u"d"_s, QString(), u"e"_s};
        QTest::newRow("empty") << QByteArray() << QStringList();
    }
    void textFileRead()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);
        const QString path = at(u"read.txt"_s);
        QVERIFY(touch(path, bytes));
        bool ok = false;
        QCOMPARE(readTextLines(path, &ok), lines);
        QVERIFY(ok);
    }

    void textFileFailures()
    {
        bool ok = true;
        QVERIFY(readTextLines(at(u"absent.txt"_s), &ok).isEmpty());
        QVERIFY(!ok);
        QVERIFY(!writeTextFile(at(u"no/such/folder/x.txt"_s), {u"a"_s}));
        QVERIFY(!writeTextFile(m_dir.path(), {u"a"_s})); // a folder is in the way
        QVERIFY(QFileInfo(m_dir.path()).isDir());
    }
};

QTEST_GUILESS_MAIN(TestPathHelpers)
#include "tst_pathhelpers.moc"
