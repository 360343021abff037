#include "tools/CopyRules.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace lintbay;

namespace {

bool writeFile(const QString& path, const QByteArray& bytes, const QDateTime& time = {})
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.flush())
        return false;
    return !time.isValid() || file.setFileTime(time, QFileDevice::FileModificationTime);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// Every entry of a folder, hidden ones included, with its content: "name=content".
QStringList folderContents(const QString& folder)
{
    QStringList result;
    const QStringList names = QDir(folder).entryList(
        QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDir::Name);
    for (const QString& name : names)
        result.append(name + u'=' + QString::fromUtf8(readFile(folder + u'/' + name)));
    return result;
}

const QDateTime kTime = QDateTime(QDate(2023, 5, 1), QTime(10, 0, 0), Qt::UTC);

// A source folder and a target folder.
struct Folders
{
    QTemporaryDir dir;
    QString source = dir.filePath(u"src"_s);
    QString target = dir.filePath(u"dst"_s);
    Folders()
    {
        QDir().mkpath(source);
        QDir().mkpath(target);
    }
    QString src(const QString& name) const { return source + u'/' + name; }
    QString dst(const QString& name) const { return target + u'/' + name; }
};

} // namespace

class TestCopyRules : public QObject
{
    Q_OBJECT
private slots:
    void fiveRules_data()
    {
        QTest::addColumn<int>("rule");
        QTest::addColumn<QString>("existing"); // none, same (size and time), sameSize, different
        QTest::addColumn<int>("outcome");
        QTest::addColumn<QStringList>("after");

        const QStringList fresh{u"a.pdf=NEW"_s};
        const QStringList overwritten{u"a.pdf=NEW"_s};
        const QStringList kept{u"a.pdf=OLD"_s};
        const QStringList keptDifferent{u"a.pdf=OLDER"_s};
        const QStringList renamedSame{u"a.pdf=OLD"_s, u"a[001].pdf=NEW"_s};
        const QStringList renamedDifferent{u"a.pdf=OLDER"_s, u"a[001].pdf=NEW"_s};
        const auto copied = int(CopyOutcome::Copied);
        const auto over = int(CopyOutcome::Overwritten);
        const auto ren = int(CopyOutcome::Renamed);
        const auto skip = int(CopyOutcome::SkippedExisting);

        for (int rule = 1; rule <= 5; ++rule)
            QTest::addRow("rule %d, no file there", rule) << rule << u"none"_s << copied << fresh;

        QTest::newRow("skip, same") << 1 << u"same"_s << skip << kept;
        QTest::newRow("skip, different") << 1 << u"different"_s << skip << keptDifferent;
        QTest::newRow("overwrite, same") << 2 << u"same"_s << over << overwritten;
        QTest::newRow("overwrite, different") << 2 << u"different"_s << over << overwritten;
        QTest::newRow("rename, same") << 3 << u"same"_s << ren << renamedSame;
        QTest::newRow("rename, different") << 3 << u"different"_s << ren << renamedDifferent;
        QTest::newRow("size and time, same") << 4 << u"same"_s << over << overwritten;
        QTest::newRow("size and time, other time") << 4 << u"sameSize"_s << ren << renamedSame;
        QTest::newRow("size and time, other size") << 4 << u"different"_s << ren << renamedDifferent;
        QTest::newRow("size, same") << 5 << u"same"_s << over << overwritten;
        QTest::newRow("size, other time") << 5 << u"sameSize"_s << over << overwritten;
        QTest::newRow("size, other size") << 5 << u"different"_s << ren << renamedDifferent;
    }
    void fiveRules()
    {
        QFETCH(int, rule);
        QFETCH(QString, existing);
        QFETCH(int, outcome);
        QFETCH(QStringList, after);

        Folders f;
        QVERIFY(writeFile(f.src(u"a.pdf"_s), "NEW", kTime));
        // "OLD" has the source's size; "OLDER" does not.
        if (existing == u"same")
            QVERIFY(writeFile(f.dst(u"a.pdf"_s), "OLD", kTime));
        else if (existing == u"sameSize")
            QVERIFY(writeFile(f.dst(u"a.pdf"_s), "OLD", kTime.addSecs(3600)));
        else if (existing == u"different")
            QVERIFY(writeFile(f.dst(u"a.pdf"_s), "OLDER", kTime));

        const CopyResult result = CopyWithRule(f.src(u"a.pdf"_s), f.target, SameNameRuleFromIndex(rule));
        QCOMPARE(int(result.outcome), outcome);
        QCOMPARE(folderContents(f.target), after);
        QCOMPARE(readFile(f.src(u"a.pdf"_s)), QByteArray("NEW")); // the source stays
        if (!result.target.isEmpty()) {
            QCOMPARE(readFile(result.target), QByteArray("NEW"));
            // A copy keeps the source's time, so copying it again counts as "the same file".
            QCOMPARE(QFileInfo(result.target).lastModified().toSecsSinceEpoch(), kTime.toSecsSinceEpoch());
        }
    }

    void ruleFromIndex_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("rule");
        QTest::newRow("1") << 1 << 1;
        QTest::newRow("5") << 5 << 5;
        QTest::newRow("0 gives the default") << 0 << 4;
        QTest::newRow("6 gives the default") << 6 << 4;
        QTest::newRow("negative") << -3 << 4;
    }
    void ruleFromIndex()
    {
        QFETCH(int, index);
        QFETCH(int, rule);
        QCOMPARE(int(SameNameRuleFromIndex(index)), rule);
    }

    void counterNames_data()
    {
        QTest::addColumn<QString>("source");
        QTest::addColumn<QStringList>("existing");
        QTest::addColumn<QString>("written");
        QTest::newRow("free name") << u"a.pdf"_s << QStringList{} << u"a.pdf"_s;
        QTest::newRow("first counter")
            << u"report.pdf"_s << QStringList{u"report.pdf"_s} << u"report[001].pdf"_s;
        QTest::newRow("a[001] existing gives a[002]")
            << u"a.pdf"_s << QStringList{u"a.pdf"_s, u"a[001].pdf"_s} << u"a[002].pdf"_s;
        QTest::newRow("report[007] is tried as report first")
            << u"report[007].pdf"_s << QStringList{} << u"report.pdf"_s;
        QTest::newRow("report[007] then counts from 1")
            << u"report[007].pdf"_s << QStringList{u"report.pdf"_s, u"report[007].pdf"_s}
            << u"report[001].pdf"_s;
        QTest::newRow("blank inside the brackets") << u"r[ 12 ].pdf"_s << QStringList{} << u"r.pdf"_s;
        QTest::newRow("not a number stays")
            << u"a[x].pdf"_s << QStringList{u"a[x].pdf"_s} << u"a[x][001].pdf"_s;
        QTest::newRow("only a counter stays")
            << u"[5].pdf"_s << QStringList{u"[5].pdf"_s} << u"[5][001].pdf"_s;
        QTest::newRow("no type") << u"README"_s << QStringList{u"README"_s} << u"README[001]"_s;
        QTest::newRow("type of seven characters is part of the name")
            << u"a.gzipped"_s << QStringList{u"a.gzipped"_s} << u"a.gzipped[001]"_s;
        QTest::newRow("a folder blocks the name too")
            << u"d.pdf"_s << QStringList{u"d.pdf/"_s} << u"d[001].pdf"_s;
    }
    void counterNames()
    {
        QFETCH(QString, source);
        QFETCH(QStringList, existing);
        QFETCH(QString, written);
        Folders f;
        QVERIFY(writeFile(f.src(source), "S"));
        for (const QString& name : std::as_const(existing)) {
            if (name.endsWith(u'/'))
                QVERIFY(QDir().mkpath(f.dst(name)));
            else
                QVERIFY(writeFile(f.dst(name), "E"));
        }
        QString path;
        QVERIFY(复制相同文件自动重命名(f.src(source), f.target, &path));
        QCOMPARE(QDir::fromNativeSeparators(path), f.dst(written));
        QCOMPARE(readFile(path), QByteArray("S"));
        for (const QString& name : std::as_const(existing)) {
            if (!name.endsWith(u'/'))
                QCOMPARE(readFile(f.dst(name)), QByteArray("E")); // never overwritten
        }
    }

    void counterPastThreeDigits()
    {
        Folders f;
        QVERIFY(writeFile(f.src(u"a.pdf"_s), "S"));
        QVERIFY(writeFile(f.dst(u"a.pdf"_s), "E"));
        for (int i = 1; i <= 999; ++i)
            QVERIFY(writeFile(f.dst(u"a[%1].pdf"_s.arg(i, 3, 10, QChar(u'0'))), "E"));
        QString path;
        QVERIFY(复制相同文件自动重命名(f.src(u"a.pdf"_s), f.target, &path));
        QCOMPARE(QFileInfo(path).fileName(), u"a[1000].pdf"_s);
    }

    void missingSourceCopiesNothing()
    {
        Folders f;
        QString path = u"x"_s;
        QVERIFY(!复制相同文件自动重命名(f.src(u"gone.pdf"_s), f.target, &path));
        QVERIFY(path.isEmpty());
        QCOMPARE(int(CopyWithRule(f.src(u"gone.pdf"_s), f.target, SameNameRule::Overwrite).outcome),
                 int(CopyOutcome::Missing));
        QVERIFY(folderContents(f.target).isEmpty());
    }

    // A file copied into the folder it lies in is skipped, under every rule and however the
    // folder is written.
    void sameFolderIsSkipped_data()
    {
        QTest::addColumn<int>("rule");
        QTest::addColumn<QString>("folderSuffix");
        for (int rule = 1; rule <= 5; ++rule) {
            QTest::addRow("rule %d", rule) << rule << QString();
            QTest::addRow("rule %d, trailing separator", rule) << rule << u"/"_s;
            QTest::addRow("rule %d, dot segments", rule) << rule << u"/../src/."_s;
            QTest::addRow("rule %d, through a link", rule) << rule << u"link"_s;
        }
    }
    void sameFolderIsSkipped()
    {
        QFETCH(int, rule);
        QFETCH(QString, folderSuffix);
        Folders f;
        QVERIFY(writeFile(f.src(u"a.pdf"_s), "S"));
        QString folder = f.source + folderSuffix;
        if (folderSuffix == u"link") {
            folder = f.dir.filePath(u"link"_s);
            QVERIFY(QFile::link(f.source, folder));
        }
        const CopyResult result = CopyWithRule(f.src(u"a.pdf"_s), folder, SameNameRuleFromIndex(rule));
        QCOMPARE(int(result.outcome), int(CopyOutcome::SkippedSameFolder));
        QCOMPARE(folderContents(f.source), QStringList{u"a.pdf=S"_s});
    }

#ifndef Q_OS_WIN
    // Folders whose names differ only in case are different folders here.
    void caseOnlyDifferentFolderIsCopied()
    {
        Folders f;
        QVERIFY(writeFile(f.src(u"a.pdf"_s), "S"));
        const QString upper = f.dir.filePath(u"SRC"_s);
        QVERIFY(QDir().mkpath(upper));
        QCOMPARE(int(CopyWithRule(f.src(u"a.pdf"_s), upper, SameNameRule::Skip).outcome),
                 int(CopyOutcome::Copied));
    }
#endif

    void failedCopiesLeaveNoTrace()
    {
        Folders f;
        QVERIFY(writeFile(f.src(u"a.pdf"_s), "S"));
        // The target name is a folder: overwriting fails and the folder stays.
        QVERIFY(QDir().mkpath(f.dst(u"a.pdf/inner"_s)));
        QCOMPARE(int(CopyWithRule(f.src(u"a.pdf"_s), f.target, SameNameRule::Overwrite).outcome),
                 int(CopyOutcome::Failed));
        QVERIFY(QFileInfo(f.dst(u"a.pdf/inner"_s)).isDir());
        QCOMPARE(folderContents(f.target), QStringList{u"a.pdf=<missing>"_s});
        // A folder that does not exist.
        QVERIFY(!CopyFileNoReplace(f.src(u"a.pdf"_s), f.dst(u"none/a.pdf"_s)));
        QCOMPARE(int(CopyWithRule(f.src(u"a.pdf"_s), f.dst(u"none"_s), SameNameRule::Rename).outcome),
                 int(CopyOutcome::Failed));
        // Never replacing: an existing file stays as it was.
        QVERIFY(writeFile(f.dst(u"b.pdf"_s), "E"));
        QVERIFY(!CopyFileNoReplace(f.src(u"a.pdf"_s), f.dst(u"b.pdf"_s)));
        QCOMPARE(readFile(f.dst(u"b.pdf"_s)), QByteArray("E"));
        QVERIFY(CopyFileReplace(f.src(u"a.pdf"_s), f.dst(u"b.pdf"_s)));
        QCOMPARE(readFile(f.dst(u"b.pdf"_s)), QByteArray("S"));
        QCOMPARE(folderContents(f.target), (QStringList{u"a.pdf=<missing>"_s, u"b.pdf=S"_s}));
    }

    // Overwriting replaces a link itself; the file it points to is never written.
    void overwritingALinkLeavesItsTarget()
    {
        Folders f;
        QVERIFY(writeFile(f.src(u"a.pdf"_s), "S"));
        const QString elsewhere = f.dir.filePath(u"elsewhere.pdf"_s);
        QVERIFY(writeFile(elsewhere, "PRECIOUS"));
        QVERIFY(QFile::link(elsewhere, f.dst(u"a.pdf"_s)));
        QCOMPARE(int(CopyWithRule(f.src(u"a.pdf"_s), f.target, SameNameRule::Overwrite).outcome),
                 int(CopyOutcome::Overwritten));
        QCOMPARE(readFile(elsewhere), QByteArray("PRECIOUS"));
        QVERIFY(!QFileInfo(f.dst(u"a.pdf"_s)).isSymLink());
        QCOMPARE(readFile(f.dst(u"a.pdf"_s)), QByteArray("S"));
    }

    void runStopsBetweenFiles()
    {
        Folders f;
        QStringList files;
        for (const QString& name : {u"1.pdf"_s, u"2.doc"_s, u"3"_s, u"4.xls"_s}) {
            QVERIFY(writeFile(f.src(name), name.toUtf8()));
            files.append(f.src(name));
        }
        files.insert(1, f.src(u"vanished.pdf"_s));
        QCOMPARE(DropMissingFiles(files),
                 (QStringList{f.src(u"1.pdf"_s), f.src(u"2.doc"_s), f.src(u"3"_s), f.src(u"4.xls"_s)}));

        QStringList started;
        bool running = true;
        CopyRunCallbacks callbacks;
        callbacks.running = [&running] { return running; };
        callbacks.fileStarted = [&](int number, const QString& name) {
            started.append(QString::number(number) + u':' + name);
            if (number == 3)
                running = false; // "停止" while the third file is copied
        };
        const CopyRunSummary summary = CopyFilesTo(files, f.target, SameNameRule::Skip, callbacks);
        QCOMPARE(started, (QStringList{u"1:1.pdf"_s, u"2:vanished.pdf"_s, u"3:2.doc"_s}));
        QVERIFY(summary.stopped);
        QCOMPARE(summary.copied, 2);
        QCOMPARE(summary.failed, 1);
        QCOMPARE(folderContents(f.target), (QStringList{u"1.pdf=1.pdf"_s, u"2.doc=2.doc"_s}));

        // Run to the end, with the rest already there and the same-size rule.
        const CopyRunSummary second =
            CopyFilesTo(DropMissingFiles(files), f.target, SameNameRule::OverwriteIfSameSize);
        QVERIFY(!second.stopped);
        QCOMPARE(second.copied, 4);
        QCOMPARE(folderContents(f.target),
                 (QStringList{u"1.pdf=1.pdf"_s, u"2.doc=2.doc"_s, u"3=3"_s, u"4.xls=4.xls"_s}));

        // Two files of one name in one run: the second never replaces what the first wrote.
        QVERIFY(writeFile(f.src(u"x/1.pdf"_s), "one"));
        QVERIFY(writeFile(f.src(u"y/1.pdf"_s), "two"));
        const CopyRunSummary third =
            CopyFilesTo({f.src(u"x/1.pdf"_s), f.src(u"y/1.pdf"_s)}, f.target, SameNameRule::Overwrite);
        QCOMPARE(third.copied, 2);
        QCOMPARE(folderContents(f.target), (QStringList{u"1.pdf=one"_s, u"1[001].pdf=two"_s, u"2.doc=2.doc"_s,
                                                        u"3=3"_s, u"4.xls=4.xls"_s}));
    }
};

QTEST_GUILESS_MAIN(TestCopyRules)
#include "tst_copyrules.moc"
