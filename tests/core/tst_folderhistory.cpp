#include "util/AnsiCodec.h"
#include "util/FolderHistory.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace lintbay;

namespace {

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList numbered(const QString& prefix, int from, int count)
{
    QStringList list;
    for (int i = from; i < from + count; ++i)
        list.append(prefix + QString::number(i));
    return list;
}

QByteArray crlfLines(const QStringList& lines)
{
    return lines.join(u"\r\n"_s).toUtf8() + "\r\n";
}

} // namespace

class TestFolderHistory : public QObject
{
    Q_OBJECT
    QTemporaryDir m_dir;
    int m_fileNumber = 0;

    QString newPath() { return m_dir.filePath(u"SaveList%1.dat"_s.arg(++m_fileNumber)); }

private slots:
    void initTestCase() { QVERIFY(m_dir.isValid()); }

    void load_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("expected");

        QTest::newRow("blank lines and blanks around names")
            << QByteArray("\r\n  /data/a  \r\n\r\n\t\r\n/data/b\r\n\r\n")
            << QStringList{u"/data/a"_s, u"/data/b"_s};
        QTest::newRow("LF, CR and no final line end")
            << QByteArray("/a\n/b\r/c") << QStringList{u"/a"_s, u"/b"_s, u"/c"_s};
        // Folders differing only in case are two folders here; a line repeated exactly shows once.
        QTest::newRow("repeats once; case tells folders apart")
            << QByteArray("/Data/X\r\n/data/x\r\n/other\r\n/Data/X\r\n")
            << QStringList{u"/Data/X"_s, u"/data/x"_s, u"/other"_s};
        QTest::newRow("150 distinct: first 100")
            << crlfLines(numbered(u"/f"_s, 0, 150)) << numbered(u"/f"_s, 0, 100);

        // Repeats use up the 100 lines just as distinct folders do.
        QStringList repeats(60, u"/same"_s);
        repeats += numbered(u"/f"_s, 0, 50);
        QTest::newRow("repeats count toward 100")
            << crlfLines(repeats) << QStringList{u"/same"_s} + numbered(u"/f"_s, 0, 40);

        // Blank lines do not.
        QStringList spaced;
        for (const QString& f : numbered(u"/f"_s, 0, 101))
            spaced << QString() << u"  "_s << f;
        QTest::newRow("blank lines are not counted") << crlfLines(spaced) << numbered(u"/f"_s, 0, 100);

        QTest::newRow("10,000 lines")
            << crlfLines(numbered(u"/many/"_s, 0, 10000)) << numbered(u"/many/"_s, 0, 100);
        QTest::newRow("GBK file of an older version") << toAnsiBytes(u"D:\\资料\\报告\r\nD:\\下载\r\n"_s)
                                                      << QStringList{u"D:\\资料\\报告"_s, u"D:\\下载"_s};
        QTest::newRow("UTF-8 with BOM") << QByteArray("\xEF\xBB\xBF/数据\r\n") << QStringList{u"/数据"_s};
        QTest::newRow("empty file empties the list") << QByteArray() << QStringList{};
    }
    void load()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, expected);
        const QString path = newPath();
        QVERIFY(writeBytes(path, content));
        bool existed = false;
        QCOMPARE(LoadFolderHistory(path, {u"/was/there"_s}, &existed), expected);
        QVERIFY(existed);
    }

    void missingFileKeepsList()
    {
        const QStringList current{u"/a"_s, u"/b"_s};
        bool existed = true;
        QCOMPARE(LoadFolderHistory(m_dir.filePath(u"none.dat"_s), current, &existed), current);
        QVERIFY(!existed);
    }

    void invalidBytesLoadWhatTheyCan()
    {
        const QString path = newPath();
        QVERIFY(writeBytes(path, QByteArray("/first\r\n\x80\xFF\xFE\x81/bad\x00zz\r\n/last\r\n", 28)));
        const QStringList folders = LoadFolderHistory(path, {});
        QCOMPARE(folders.size(), 3);
        QCOMPARE(folders.first(), u"/first"_s);
        QCOMPARE(folders.last(), u"/last"_s);
    }

    // Permissions do not stop root from reading, so a folder stands in for a file that cannot be read.
    void unreadableFile()
    {
        const QString path = newPath();
        QVERIFY(QDir().mkdir(path));
        bool existed = false;
        QCOMPARE(LoadFolderHistory(path, {u"/old"_s}, &existed), QStringList{u"/old"_s});
        QVERIFY(existed);
        QVERIFY(!SaveFolderHistory(path, {u"/a"_s}));
    }

    void save_data()
    {
        QTest::addColumn<QStringList>("folders");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("reloaded");
        QTest::newRow("in order, repeats written twice")
            << QStringList{u"/a/"_s, u"/b/"_s, u"/A/"_s, u"/a/"_s}
            << QByteArray("/a/\r\n/b/\r\n/A/\r\n/a/\r\n") << QStringList{u"/a/"_s, u"/b/"_s, u"/A/"_s};
        QTest::newRow("empty list: one empty line") << QStringList{} << QByteArray("\r\n") << QStringList{};
        QTest::newRow("Chinese names") << QStringList{u"/下载/报告/"_s} << u"/下载/报告/\r\n"_s.toUtf8()
                                       << QStringList{u"/下载/报告/"_s};
    }
    void save()
    {
        QFETCH(QStringList, folders);
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, reloaded);
        const QString path = newPath();
        QVERIFY(writeBytes(path, "an older, longer history that must be replaced\r\n"));
        QVERIFY(SaveFolderHistory(path, folders));
        QCOMPARE(readBytes(path), bytes);
        QCOMPARE(LoadFolderHistory(path, {u"/x"_s}), reloaded);
    }

    void saveCreatesFolder()
    {
        const QString path = m_dir.filePath(u"new/data/SaveList.dat"_s);
        QVERIFY(SaveFolderHistory(path, {u"/a"_s}));
        QCOMPARE(LoadFolderHistory(path, {}), QStringList{u"/a"_s});
    }

    // A build or a copied folder keeps the history beside the executable; an installation never
    // writes into its executable's folder, even where it could (run by root, installed in a home).
    void locationByLayout_data()
    {
        QTest::addColumn<bool>("installed");
        QTest::newRow("build folder") << false;
        QTest::newRow("installed") << true;
    }
    void locationByLayout()
    {
        QFETCH(bool, installed);
        const QString bin = m_dir.filePath(installed ? u"installed/bin"_s : u"copied/bin"_s);
        QVERIFY(QDir().mkpath(bin));
        if (installed) {
            const QString marker = QDir::cleanPath(QDir(bin).filePath(InstalledMarker()));
            QVERIFY(QDir().mkpath(QFileInfo(marker).path()));
            QVERIFY(writeBytes(marker, "[Desktop Entry]\n"));
        }
        const QString dataFolder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
        QCOMPARE(QDir::fromNativeSeparators(ProgramDataFolderFor(bin)), installed ? dataFolder : bin);
    }

    void location()
    {
        // Run from a build folder, which is writable: the history sits beside the executable.
        SetProgramDataFolder({});
        QCOMPARE(QDir::fromNativeSeparators(ProgramDataFolder()), QCoreApplication::applicationDirPath());
        SetProgramDataFolder(m_dir.path());
        QCOMPARE(QDir::fromNativeSeparators(FolderHistoryFile()), m_dir.filePath(u"SaveList.dat"_s));
        SetProgramDataFolder({});
    }
};

QTEST_GUILESS_MAIN(TestFolderHistory)
#include "tst_folderhistory.moc"
