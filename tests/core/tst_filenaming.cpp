#include "download/DownloadListModel.h"
#include "download/FileNaming.h"
#include "util/AnsiCodec.h"
#include "util/PathHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace lintbay;

namespace {

bool touch(const QString& path, const QByteArray& content = "x")
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

// Creates the entries of a test folder: a name ending in "/" is a folder, anything else a file.
void populate(const QString& dir, const QStringList& entries)
{
    for (const QString& entry : entries) {
        if (entry.endsWith(u'/'))
            QVERIFY(QDir(dir).mkpath(entry));
        else
            QVERIFY(touch(dir + u'/' + entry));
    }
}

QString withType(const QString& name, const QString& type)
{
    return type.isEmpty() ? name : name + u'.' + type;
}

} // namespace

class TestFileNaming : public QObject
{
    Q_OBJECT

private slots:
    // ---- the needs-download test ----

    void needsDownload_data()
    {
        QTest::addColumn<QString>("policy");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<bool>("needed");

        QTest::newRow("skip, file present") << u"跳过"_s << u"pdf"_s << QStringList{u"x.pdf"_s} << false;
        QTest::newRow("skip, nothing there") << u"跳过"_s << u"pdf"_s << QStringList{} << true;
        QTest::newRow("skip, other type present") << u"跳过"_s << u"pdf"_s << QStringList{u"x.doc"_s} << true;
        QTest::newRow("skip, folder in the way") << u"跳过"_s << u"pdf"_s << QStringList{u"x.pdf/"_s} << true;
        QTest::newRow("skip, no type, bare name present")
            << u"跳过"_s << QString() << QStringList{u"x"_s} << false;
        QTest::newRow("overwrite, file present") << u"覆盖"_s << u"pdf"_s << QStringList{u"x.pdf"_s} << true;
        QTest::newRow("rename, file present") << u"重命名"_s << u"pdf"_s << QStringList{u"x.pdf"_s} << true;
    }
    void needsDownload()
    {
        QFETCH(QString, policy);
        QFETCH(QString, type);
        QFETCH(QStringList, entries);
        QFETCH(bool, needed);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        populate(dir.path(), entries);
        if (entries.size() == 1 && !entries[0].endsWith(u'/'))
            QVERIFY(touch(dir.filePath(entries[0]), QByteArray(1234, 'a')));

        DownloadListModel list;
        // The folder without its separator: the test adds one.
        QVERIFY(list.addItem(u"http://h/x"_s, u"x"_s, type, dir.path(), QString()));
        QCOMPARE(确定是需要下载(list, 0, policy), needed);

        const DownloadItem& item = list.at(0);
        if (needed) {
            QCOMPARE(item.state, DownloadItemState::Waiting);
            QVERIFY(item.size.isEmpty() && item.received.isEmpty() && item.progress.isEmpty());
        } else {
            QCOMPARE(item.state, DownloadItemState::Done);
            QCOMPARE(item.size, u"1234"_s);
            QCOMPARE(item.received, u"1234"_s);
            QCOMPARE(item.progress, u"已存在，跳过"_s);
        }
    }

    void needsDownloadOutOfRange()
    {
        DownloadListModel list;
        QVERIFY(!确定是需要下载(list, 0, u"跳过"));
        QVERIFY(!确定是需要下载(list, -1, u"重命名"));
    }

    // ---- how each policy acts in each mode on a row whose file is already there ----

    void policyTable_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("policy");
        // The file appears only after the pick (another slot's placeholder, a mode-1 wait).
        QTest::addColumn<bool>("appearsLater");
        QTest::addColumn<bool>("needed");
        QTest::addColumn<QString>("savedAs"); // when needed

        QTest::newRow("mode 1, skip") << 1 << u"跳过"_s << false << false << QString();
        QTest::newRow("mode 1, overwrite") << 1 << u"覆盖"_s << false << true << u"x"_s;
        QTest::newRow("mode 1, rename") << 1 << u"重命名"_s << false << true << u"x[001]"_s;
        QTest::newRow("mode 2, skip") << 2 << u"跳过"_s << false << false << QString();
        QTest::newRow("mode 2, overwrite") << 2 << u"覆盖"_s << false << true << u"x"_s;
        QTest::newRow("mode 2, rename") << 2 << u"重命名"_s << false << true << u"x[001]"_s;
        QTest::newRow("mode 1, skip, appears later") << 1 << u"跳过"_s << true << true << u"x"_s;
        QTest::newRow("mode 2, skip, appears later") << 2 << u"跳过"_s << true << true << u"x[001]"_s;
        QTest::newRow("mode 2, overwrite, appears later") << 2 << u"覆盖"_s << true << true << u"x"_s;
        QTest::newRow("mode 2, unknown policy acts as rename") << 2 << u"?"_s << false << true << u"x[001]"_s;
    }
    void policyTable()
    {
        QFETCH(int, mode);
        QFETCH(QString, policy);
        QFETCH(bool, appearsLater);
        QFETCH(bool, needed);
        QFETCH(QString, savedAs);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString plain = dir.filePath(u"x.pdf"_s);
        if (!appearsLater)
            QVERIFY(touch(plain));
        DownloadListModel list;
        QVERIFY(list.addItem(u"http://h/x.pdf"_s, u"x"_s, u"pdf"_s, dir.path(), QString()));

        QCOMPARE(确定是需要下载(list, 0, policy), needed);
        if (!needed)
            return;
        if (appearsLater)
            QVERIFY(touch(plain));
        const DownloadItem& item = list.at(0);
        const SavePathChoice choice = 重命名保存路径(item.folder, item.name, item.type, policy, mode);
        QCOMPARE(choice.name, savedAs);
        QCOMPARE(choice.path, dir.filePath(savedAs + u".pdf"_s));
    }

    // ---- counters and brackets ----

    void counters_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("expected");

        QTest::newRow("no clash") << u"report"_s << u"pdf"_s << QStringList{u"report.doc"_s} << u"report"_s;
        QTest::newRow("first clash") << u"report"_s << u"pdf"_s << QStringList{u"report.pdf"_s}
                                     << u"report[001]"_s;
        QTest::newRow("next free number")
            << u"x"_s << u"pdf"_s << QStringList{u"x.pdf"_s, u"x[001].pdf"_s, u"x[002].pdf"_s} << u"x[003]"_s;
        QTest::newRow("gap is used") << u"x"_s << u"pdf"_s << QStringList{u"x.pdf"_s, u"x[002].pdf"_s}
                                     << u"x[001]"_s;
        QTest::newRow("counts on from the name's counter")
            << u"report[007]"_s << u"pdf"_s << QStringList{u"report[007].pdf"_s} << u"report[008]"_s;
        QTest::newRow("counts on past taken numbers")
            << u"report[007]"_s << u"pdf"_s << QStringList{u"report[007].pdf"_s, u"report[008].pdf"_s}
            << u"report[009]"_s;
        QTest::newRow("counter with spaces inside")
            << u"r[ 7 ]"_s << u"pdf"_s << QStringList{u"r[ 7 ].pdf"_s} << u"r[007]"_s;
        QTest::newRow("space before the counter stays")
            << u"r [7]"_s << u"pdf"_s << QStringList{u"r [7].pdf"_s, u"r [007].pdf"_s} << u"r [008]"_s;
        QTest::newRow("four digits") << u"x[999]"_s << u"pdf"_s << QStringList{u"x[999].pdf"_s}
                                     << u"x[1000]"_s;
        QTest::newRow("counter zero falls back to the bare name")
            << u"x[000]"_s << u"pdf"_s << QStringList{u"x[000].pdf"_s} << u"x"_s;
        QTest::newRow("brackets that are no counter")
            << u"x[abc]"_s << u"pdf"_s << QStringList{u"x[abc].pdf"_s} << u"x『abc』"_s;
        QTest::newRow("brackets that are no counter, taken too")
            << u"x[abc]"_s << u"pdf"_s << QStringList{u"x[abc].pdf"_s, u"x『abc』.pdf"_s}
            << u"x『abc』[001]"_s;
        QTest::newRow("inner brackets")
            << u"a[b]c"_s << u"pdf"_s << QStringList{u"a[b]c.pdf"_s} << u"a『b』c"_s;
        QTest::newRow("a number inside the name is no counter")
            << u"a[3]b"_s << u"pdf"_s << QStringList{u"a[3]b.pdf"_s} << u"a『3』b"_s;
        QTest::newRow("earlier brackets with a counter")
            << u"[2019]x[2]"_s << u"pdf"_s << QStringList{u"[2019]x[2].pdf"_s} << u"『2019』x[002]"_s;
        QTest::newRow("brackets kept without a clash") << u"a[b]"_s << u"pdf"_s << QStringList{} << u"a[b]"_s;
        QTest::newRow("negative is no counter")
            << u"x[-1]"_s << u"pdf"_s << QStringList{u"x[-1].pdf"_s} << u"x『-1』"_s;
        QTest::newRow("the largest counter is no counter")
            << u"x[9223372036854775807]"_s << u"pdf"_s << QStringList{u"x[9223372036854775807].pdf"_s}
            << u"x『9223372036854775807』"_s;
        QTest::newRow("folder in the way") << u"x"_s << u"pdf"_s << QStringList{u"x.pdf/"_s} << u"x[001]"_s;
        QTest::newRow("no type") << u"x"_s << QString() << QStringList{u"x"_s} << u"x[001]"_s;
        QTest::newRow("no type, typed file no clash")
            << u"x"_s << QString() << QStringList{u"x.pdf"_s} << u"x"_s;
        QTest::newRow("chinese") << u"报告"_s << u"doc"_s << QStringList{u"报告.doc"_s} << u"报告[001]"_s;
    }
    void counters()
    {
        QFETCH(QString, name);
        QFETCH(QString, type);
        QFETCH(QStringList, entries);
        QFETCH(QString, expected);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        populate(dir.path(), entries);
        const SavePathChoice choice = 重命名保存路径(dir.path(), name, type, u"重命名", 2);
        QCOMPARE(choice.name, expected);
        QCOMPARE(choice.path, dir.filePath(withType(expected, type)));
        // Overwrite never numbers, whatever is there.
        const SavePathChoice plain = 重命名保存路径(dir.path() + u'/', name, type, u"覆盖", 2);
        QCOMPARE(plain.name, name);
        QCOMPARE(plain.path, dir.filePath(withType(name, type)));
    }

    // Whatever the name and type, the file lands in the folder under a name the file system takes.
    void legalNames_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("type");

        QTest::newRow("parent path") << u"../../evil"_s << u"pdf"_s;
        QTest::newRow("dots only") << u".."_s << u"pdf"_s;
        QTest::newRow("separators") << u"a/b\\c:d"_s << u"pdf"_s;
        QTest::newRow("type with a path") << u"x"_s << u"../../y"_s;
        QTest::newRow("absolute type") << u"x"_s << u"/etc"_s;
        QTest::newRow("control characters") << u"a\r\nb\tc"_s << u"pdf"_s;
        QTest::newRow("very long") << QString(400, u'中') << u"pdf"_s;
        QTest::newRow("longest name, long type") << QString(81, u'中') << u"abcdefg"_s;
        QTest::newRow("long with brackets") << u"["_s + QString(79, u'中') + u"][x]"_s << u"pdf"_s;
        QTest::newRow("long ascii with counter") << QString(239, u'a') + u"[12]"_s << u"docx"_s;
        // A type at its longest in bytes (characters GBK counts as one) leaves no room for a long
        // counter of the name's own.
        QTest::newRow("long counter, longest type") << u"[8000000020000]"_s << QString(300, QChar(0xFF));
    }
    void legalNames()
    {
        QFETCH(QString, name);
        QFETCH(QString, type);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString folder = QFileInfo(dir.path()).canonicalFilePath();
        QString previous;
        for (int round = 0; round < 3; ++round) {
            const SavePathChoice choice = 重命名保存路径(dir.path(), name, type, u"重命名", 2);
            const QFileInfo info(choice.path);
            QCOMPARE(info.absolutePath(), dir.path());
            QVERIFY2(fileNameLength(info.fileName()) <= kMaxFileNameBytes, qPrintable(info.fileName()));
            QVERIFY(!choice.name.contains(u'/'));
            QVERIFY(choice.path.startsWith(dir.path() + u'/' + choice.name));
            QVERIFY2(choice.path != previous, "a taken name was given again");
            // The file system accepts it, and it is in the folder.
            QVERIFY2(touch(choice.path), qPrintable(choice.path));
            QCOMPARE(QFileInfo(choice.path).canonicalPath(), folder);
            previous = choice.path;
        }
        QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(),
                 3);
    }

    // A name of nothing but forbidden characters and no type: the path is still a file in the folder,
    // never the folder itself, under every policy and mode.
    void nameThatCleansAway_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("policy");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QStringList>("present");
        QTest::addColumn<QString>("savedAs"); // the name, without the type

        for (int mode : {1, 2}) {
            for (const QString& policy : {u"跳过"_s, u"覆盖"_s, u"重命名"_s}) {
                // With a type too: never a hidden ".pdf" without a name.
                for (const QString& type : {QString(), u"pdf"_s}) {
                    const QByteArray row = "mode " + QByteArray::number(mode) + ", " + policy.toUtf8() +
                                           ", " + (type.isEmpty() ? "no type" : type.toUtf8());
                    const QString tail = type.isEmpty() ? QString() : u'.' + type;
                    QTest::newRow(row.constData()) << mode << policy << type << QStringList{} << u"[001]"_s;
                    const bool counts = policy != u"覆盖"_s && (mode == 2 || policy == u"重命名"_s);
                    QTest::newRow((row + ", taken").constData())
                        << mode << policy << type << QStringList{u"[001]"_s + tail}
                        << (counts ? u"[002]"_s : u"[001]"_s);
                }
            }
        }
    }
    void nameThatCleansAway()
    {
        QFETCH(int, mode);
        QFETCH(QString, policy);
        QFETCH(QString, type);
        QFETCH(QStringList, present);
        QFETCH(QString, savedAs);

        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        populate(dir.path(), present);
        const SavePathChoice choice = 重命名保存路径(dir.path(), u"???"_s, type, policy, mode);
        QCOMPARE(choice.name, savedAs);
        QCOMPARE(choice.path, dir.filePath(type.isEmpty() ? savedAs : savedAs + u'.' + type));
        // The skip policy looks where the file goes.
        DownloadListModel list;
        QVERIFY(list.addItem(u"http://h/1"_s, u"???"_s, type, dir.path(), QString()));
        QCOMPARE(确定是需要下载(list, 0, policy), present.isEmpty() || policy != u"跳过"_s);
    }

    // A device's name is no harm after the dot: the type stays as it is.
    void deviceNameOnlyBeforeTheType()
    {
        QCOMPARE(重命名保存路径(u"/d"_s, u"con"_s, u"aux"_s, u"覆盖", 1).path, u"/d/con_.aux"_s);
    }

    // ---- Content-Disposition ----

    void dispositionFromBlock_data()
    {
        QTest::addColumn<QString>("block");
        QTest::addColumn<QString>("expected");

        QTest::newRow("among other headers")
            << u"HTTP/1.1 200 OK\r\nContent-Type: application/pdf\r\n"
               "Content-Disposition: attachment; filename=\"a.pdf\"\r\nContent-Length: 3\r\n\r\n"_s
            << u"attachment; filename=\"a.pdf\""_s;
        QTest::newRow("case and spaces")
            << u"HTTP/1.1 200 OK\r\nCONTENT-DISPOSITION:   inline  \r\n"_s << u"inline"_s;
        QTest::newRow("indented line") << u"X: 1\r\n   content-disposition: a\r\n"_s << u"a"_s;
        QTest::newRow("first line wins")
            << u"Content-Disposition: first\r\nContent-Disposition: second\r\n"_s << u"first"_s;
        QTest::newRow("bare line feeds") << u"A: b\nContent-Disposition: x\nC: d"_s << u"x"_s;
        QTest::newRow("none") << u"HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n"_s << QString();
        QTest::newRow("other header of a longer name") << u"X-Content-Disposition: a\r\n"_s << QString();
        QTest::newRow("space before the colon") << u"Content-Disposition : a\r\n"_s << QString();
        QTest::newRow("empty") << QString() << QString();
    }
    void dispositionFromBlock()
    {
        QFETCH(QString, block);
        QFETCH(QString, expected);
        QCOMPARE(从网络文件Header获取ContentDisposition(block), expected);
    }

    void dispositionFromHeaderList_data()
    {
        QTest::addColumn<QList<QNetworkReply::RawHeaderPair>>("headers");
        QTest::addColumn<QString>("expected");

        using Headers = QList<QNetworkReply::RawHeaderPair>;
        QTest::newRow("found") << Headers{{"Content-Type", "text/html"}, {"content-disposition", " inline "}}
                               << u"inline"_s;
        QTest::newRow("first of two")
            << Headers{{"Content-Disposition", "a"}, {"Content-Disposition", "b"}} << u"a"_s;
        QTest::newRow("missing") << Headers{{"Content-Type", "text/html"}} << QString();
        QTest::newRow("raw utf-8") << Headers{{"Content-Disposition", u"filename=报告.pdf"_s.toUtf8()}}
                                   << u"filename=报告.pdf"_s;
        QTest::newRow("raw gbk") << Headers{{"Content-Disposition", toAnsiBytes(u"filename=报告.pdf")}}
                                 << u"filename=报告.pdf"_s;
    }
    void dispositionFromHeaderList()
    {
        QFETCH(QList<QNetworkReply::RawHeaderPair>, headers);
        QFETCH(QString, expected);
        QCOMPARE(从网络文件Header获取ContentDisposition(headers), expected);
    }

    void dispositionExtension_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("expected");

        QTest::newRow("unquoted") << u"attachment; filename=Paper 2019.PDF"_s << u"PDF"_s;
        QTest::newRow("quoted") << u"attachment; filename=\"Paper 2019.PDF\""_s << u"PDF"_s;
        QTest::newRow("single quotes") << u"attachment; filename='a.doc'"_s << u"doc"_s;
        QTest::newRow("spaces around") << u"  attachment;  filename=  a.pdf  "_s << u"pdf"_s;
        QTest::newRow("name in capitals") << u"ATTACHMENT; FILENAME=A.DOC"_s << u"DOC"_s;
        QTest::newRow("last dot") << u"attachment; filename=a.tar.gz"_s << u"gz"_s;
        QTest::newRow("query after the type") << u"inline; filename=x.html?x=1"_s << u"html"_s;
        QTest::newRow("more parameters") << u"attachment; filename=a.pdf; size=100"_s << u"pdf"_s;
        QTest::newRow("semicolon inside quotes") << u"attachment; filename=\"a;b.pdf\""_s << u"pdf"_s;
        QTest::newRow("escaped quote inside quotes") << u"attachment; filename=\"a\\\"b.xls\""_s << u"xls"_s;
        QTest::newRow("too long a type") << u"attachment; filename=data.longext"_s << QString();
        QTest::newRow("five letters") << u"attachment; filename=a.ppsxx"_s << u"ppsxx"_s;
        QTest::newRow("digit ends the run") << u"attachment; filename=a.mp3"_s << u"mp"_s;
        QTest::newRow("no extension") << u"attachment; filename=readme"_s << QString();
        QTest::newRow("dot at the end") << u"attachment; filename=a."_s << QString();
        QTest::newRow("no filename") << u"attachment"_s << QString();
        QTest::newRow("other parameter") << u"inline; name=x.pdf"_s << QString();
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("utf-8 extended")
            << u"attachment; filename*=UTF-8''%E6%8A%A5%E5%91%8A.pdf"_s << u"pdf"_s;
        QTest::newRow("extended, encoded dot")
            << u"attachment; filename*=utf-8''report%2Edocx"_s << u"docx"_s;
        QTest::newRow("extended with language")
            << u"attachment; filename*=UTF-8'zh'%E6%8A%A5.rtf"_s << u"rtf"_s;
        QTest::newRow("extended preferred")
            << u"attachment; filename=\"a.bin\"; filename*=UTF-8''a.pdf"_s << u"pdf"_s;
        QTest::newRow("extended unusable, plain used")
            << u"attachment; filename*=UTF-8''noext; filename=a.doc"_s << u"doc"_s;
        QTest::newRow("gbk extended") << u"attachment; filename*=GBK''%B1%A8%B8%E6.doc"_s << u"doc"_s;
        QTest::newRow("gbk percent-encoded") << u"attachment; filename=%B1%A8%B8%E6.pdf"_s << u"pdf"_s;
        QTest::newRow("chinese name") << u"attachment; filename=\"年度报告.xlsx\""_s << u"xlsx"_s;
        QTest::newRow("non-ascii extension") << u"attachment; filename=a.文档"_s << QString();
        QTest::newRow("hostile: parent path") << u"attachment; filename=\"../../etc/passwd\""_s << QString();
        QTest::newRow("hostile: windows path") << u"attachment; filename=\"..\\..\\boot.ini\""_s << u"ini"_s;
        QTest::newRow("hostile: only dots") << u"attachment; filename=\"..\""_s << QString();
        QTest::newRow("hostile: header injection")
            << u"attachment; filename=\"x.pdf\r\nSet-Cookie: a=b\""_s << QString();
        QTest::newRow("control characters dropped") << u"attachment; filename=a.p\tdf"_s << u"pdf"_s;
        QTest::newRow("nul inside") << u"attachment; filename=a.p"_s + QChar(0) + u"df"_s << u"pdf"_s;
        QTest::newRow("very long name")
            << u"attachment; filename="_s + QString(5000, u'a') + u".pdf"_s << u"pdf"_s;
        QTest::newRow("very long type") << u"attachment; filename=a."_s + QString(5000, u'b') << QString();
        QTest::newRow("hidden file") << u"attachment; filename=.htaccess"_s << QString();
    }
    void dispositionExtension()
    {
        QFETCH(QString, value);
        QFETCH(QString, expected);
        const QString ext = 从下载头信息ContentDisposition获取文件名(value);
        QCOMPARE(ext, expected);
        static const QRegularExpression safe(u"^[A-Za-z]{0,5}$"_s);
        QVERIFY(safe.match(ext).hasMatch());
    }
};

QTEST_GUILESS_MAIN(TestFileNaming)
#include "tst_filenaming.moc"
