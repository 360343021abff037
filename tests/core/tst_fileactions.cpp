#include "download/DownloadListModel.h"
#include "download/FileActions.h"

#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMap>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace lintbay;

using State = DownloadItemState;
using Kind = FileActionKind;

namespace {

QByteArray padded(QByteArray head, int size)
{
    head.append(QByteArray(qMax(0, size - int(head.size())), '\x11'));
    return head;
}

// Small files of the kinds the list meets.
QByteArray pdfFile()
{
    return padded("%PDF-1.4\n%\xe2\xe3\xcf\xd3\n1 0 obj\n", 400);
}
QByteArray wordFile() // a compound document with the Word marker at 512
{
    QByteArray b = padded(QByteArray::fromHex("d0cf11e0a1b11ae1"), 512);
    b += QByteArray::fromHex("eca5c100");
    return padded(b, 1536);
}
QByteArray docxFile()
{
    return padded(QByteArray::fromHex("504b0304140006000800") + "[Content_Types].xml", 300);
}
QByteArray htmlPage()
{
    return "<!DOCTYPE html>\n<html lang=\"zh\"><head><title>404 Not Found</title></head>\n"
           "<body><h1>Not Found</h1></body></html>\n";
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Every entry of a folder with a digest of its content, to see what a command touched.
QMap<QString, QByteArray> snapshot(const QString& folder)
{
    QMap<QString, QByteArray> out;
    const QDir dir(folder);
    for (const QFileInfo& info : dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)) {
        QByteArray digest = "dir";
        QFile f(info.filePath());
        if (info.isFile() && f.open(QIODevice::ReadOnly))
            digest = QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha1).toHex();
        out.insert(info.fileName(), digest);
    }
    return out;
}

QByteArray digestOf(const QByteArray& bytes)
{
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex();
}

DownloadItem item(const QString& folder, const QString& name, const QString& type, State state,
                  const QString& progress = {}, int id = 0)
{
    DownloadItem it;
    it.key = u"http://127.0.0.1/doc/%1"_s.arg(id);
    it.name = name;
    it.type = type;
    it.folder = folder;
    it.state = state;
    it.size = u"400"_s;
    it.received = u"400"_s;
    it.progress = progress;
    return it;
}

QString folderOf(const QTemporaryDir& dir)
{
    return folderWithSeparator(dir.path());
}

} // namespace

class TestFileActions : public QObject
{
    Q_OBJECT

private slots:
    void correctOneRow_data();
    void correctOneRow();
    void correctOneRowKeepsFilesOutsideTheFolder();
    void correctFileTypesWholeList();
    void correctFileTypesRefusedWhileBusy();
    void openOrRetry_data();
    void openOrRetry();
    void textEditorLimit_data();
    void textEditorLimit();
    void rowAddressAndAnyFile();
    void fileAndFolderCommands();
    void checkFilesExist();
    void checkFilesExistLetsEventsRun();
    void identifyChosenFile_data();
    void identifyChosenFile();
};

void TestFileActions::correctOneRow_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("type");
    QTest::addColumn<QByteArray>("content"); // the row's file; a null array: no file
    QTest::addColumn<QStringList>("taken");  // other files already in the folder
    QTest::addColumn<bool>("corrected");
    QTest::addColumn<QString>("newName");
    QTest::addColumn<QString>("newType");

    const QStringList none;
    QTest::newRow("pdf saved as htm")
        << u"报告"_s << u"htm"_s << pdfFile() << none << true << u"报告"_s << u"pdf"_s;
    QTest::newRow("name taken: counter") << u"报告"_s << u"htm"_s << pdfFile() << QStringList{u"报告.pdf"_s}
                                         << true << u"报告[0001]"_s << u"pdf"_s;
    QTest::newRow("counter taken too")
        << u"a"_s << u"htm"_s << pdfFile() << QStringList{u"a.pdf"_s, u"a[0001].pdf"_s} << true
        << u"a[0002]"_s << u"pdf"_s;
    QTest::newRow("compound document as pdf")
        << u"b"_s << u"pdf"_s << wordFile() << none << true << u"b"_s << u"doc"_s;
    QTest::newRow("docx as doc") << u"c"_s << u"doc"_s << docxFile() << none << true << u"c"_s << u"docx"_s;
    QTest::newRow("html page as pdf")
        << u"d"_s << u"pdf"_s << htmlPage() << none << true << u"d"_s << u"htm"_s;
    QTest::newRow("250 KB html page as pdf")
        << u"d2"_s << u"pdf"_s << padded(htmlPage(), 250 * 1024) << none << true << u"d2"_s << u"htm"_s;
    QTest::newRow("no type yet") << u"e"_s << QString() << pdfFile() << none << true << u"e"_s << u"pdf"_s;
    QTest::newRow("dots in the name")
        << u"v1.2 说明"_s << u"html"_s << pdfFile() << none << true << u"v1.2 说明"_s << u"pdf"_s;
    // Variants a package or compound file does not tell apart from the plain kind keep their type:
    // renamed, the office program would refuse them. Another type is still corrected.
    const auto real = [](const char* name) {
        QFile f(QStringLiteral(LINTBAY_TEST_DATA) + u'/' + QLatin1StringView(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    QTest::newRow("macro-enabled workbook")
        << u"m"_s << u"xlsm"_s << real("sheet.xlsx") << none << false << u"m"_s << u"xlsm"_s;
    QTest::newRow("slide show") << u"s"_s << u"ppsx"_s << real("slide.pptx") << none << false << u"s"_s
                                << u"ppsx"_s;
    QTest::newRow("document template")
        << u"t"_s << u"dot"_s << real("words.doc") << none << false << u"t"_s << u"dot"_s;
    QTest::newRow("workbook saved as a document")
        << u"w"_s << u"docx"_s << real("sheet.xlsx") << none << true << u"w"_s << u"xlsx"_s;
    QTest::newRow("type already right")
        << u"f"_s << u"pdf"_s << pdfFile() << none << false << u"f"_s << u"pdf"_s;
    QTest::newRow("type differs in case only")
        << u"g"_s << u"PDF"_s << pdfFile() << none << false << u"g"_s << u"PDF"_s;
    QTest::newRow("empty file") << u"h"_s << u"pdf"_s << QByteArray("") << none << false << u"h"_s
                                << u"pdf"_s;
    QTest::newRow("file missing") << u"i"_s << u"htm"_s << QByteArray() << QStringList{u"i.pdf"_s} << false
                                  << u"i"_s << u"htm"_s;
    // A folder holds the new name: the rename fails and nothing changes.
    QTest::newRow("folder in the way")
        << u"j"_s << u"htm"_s << pdfFile() << QStringList{u"j.pdf/"_s} << false << u"j"_s << u"htm"_s;
    // A link to nowhere holds the name ("@"): nothing is written where it leads.
    QTest::newRow("link in the way") << u"k"_s << u"htm"_s << pdfFile() << QStringList{u"k.pdf@"_s} << false
                                     << u"k"_s << u"htm"_s;
}

void TestFileActions::correctOneRow()
{
    QFETCH(QString, name);
    QFETCH(QString, type);
    QFETCH(QByteArray, content);
    QFETCH(QStringList, taken);
    QFETCH(bool, corrected);
    QFETCH(QString, newName);
    QFETCH(QString, newType);

    QTemporaryDir dir;
    QTemporaryDir elsewhere;
    const QString linkTarget = elsewhere.filePath(u"target.pdf"_s);
    const QString folder = folderOf(dir);
    const QString oldFile = type.isEmpty() ? name : name + u'.' + type;
    if (!content.isNull())
        QVERIFY(writeFile(folder + oldFile, content));
    for (const QString& other : taken) {
        if (other.endsWith(u'/'))
            QVERIFY(QDir(folder).mkdir(other.chopped(1)));
        else if (other.endsWith(u'@'))
            QVERIFY(QFile::link(linkTarget, folder + other.chopped(1)));
        else
            QVERIFY(writeFile(folder + other, "someone else's file " + other.toUtf8()));
    }
    QVERIFY(writeFile(folder + u"bystander.htm"_s, htmlPage()));
    const auto before = snapshot(folder);

    DownloadListModel list;
    QVERIFY(list.addItem(item(folder, name, type, State::Done, u"100%"_s)));
    const DownloadItem old = list.at(0);
    QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);

    QCOMPARE(CorrectOneRow(list, 0), corrected);
    QCOMPARE(list.at(0).name, newName);
    QCOMPARE(list.at(0).type, newType);
    QCOMPARE(list.at(0).progress, old.progress);
    QCOMPARE(list.at(0).key, old.key);
    QCOMPARE(changed.count(), corrected ? 1 : 0);

    // Only the row's own file moved, to the row's new path, with its bytes unchanged.
    auto expected = before;
    if (corrected) {
        const QByteArray moved = expected.take(oldFile);
        expected.insert(newName + u'.' + newType, moved);
        QCOMPARE(list.at(0).filePath(), folder + newName + u'.' + newType);
    }
    QCOMPARE(snapshot(folder), expected);
    QVERIFY(!QFileInfo::exists(linkTarget));
    if (!content.isNull())
        QCOMPARE(snapshot(folder).value(list.at(0).filePath().mid(folder.size())), digestOf(content));
}

void TestFileActions::correctOneRowKeepsFilesOutsideTheFolder()
{
    // A row whose name climbs out of its folder must not move a file elsewhere.
    QTemporaryDir dir;
    const QString root = folderOf(dir);
    QVERIFY(QDir(root).mkdir(u"sub"_s));
    QVERIFY(writeFile(root + u"x.htm"_s, pdfFile()));
    const auto before = snapshot(root);

    DownloadListModel list;
    QVERIFY(list.addItem(item(root + u"sub/"_s, u"../x"_s, u"htm"_s, State::Done)));
    QVERIFY(!CorrectOneRow(list, 0));
    QCOMPARE(list.at(0).type, u"htm"_s);
    QCOMPARE(snapshot(root), before);
    QVERIFY(!CorrectOneRow(list, 1)); // no such row
    QVERIFY(!CorrectOneRow(list, -1));
}

void TestFileActions::correctFileTypesWholeList()
{
    QTemporaryDir dir;
    const QString folder = folderOf(dir);
    QVERIFY(writeFile(folder + u"p.htm"_s, pdfFile()));
    QVERIFY(writeFile(folder + u"w.pdf"_s, wordFile()));
    QVERIFY(writeFile(folder + u"ok.pdf"_s, pdfFile()));
    QVERIFY(writeFile(folder + u"page.pdf"_s, htmlPage()));
    QVERIFY(writeFile(folder + u"run.htm"_s, pdfFile()));   // a transfer still runs for it
    QVERIFY(writeFile(folder + u"mine.pdf"_s, wordFile())); // the user's, kept by 跳过

    DownloadListModel list;
    QList<DownloadItem> rows{item(folder, u"p"_s, u"htm"_s, State::Done, u"100%"_s, 1),
                             item(folder, u"w"_s, u"pdf"_s, State::Failed, {}, 2),
                             item(folder, u"ok"_s, u"pdf"_s, State::Done, u"100%"_s, 3),
                             item(folder, u"gone"_s, u"htm"_s, State::Done, u"100%"_s, 4),
                             item(folder, u"page"_s, u"pdf"_s, State::Waiting, {}, 5),
                             item(folder, u"run"_s, u"htm"_s, State::Downloading, {}, 6),
                             item(folder, u"mine"_s, u"pdf"_s, State::Done, u"已存在，跳过"_s, 7)};
    QCOMPARE(list.addItems(rows), 7);
    QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);

    // The paths of the failed row, of the waiting one and of the skipped one hold no file of their
    // own: w.pdf, page.pdf and mine.pdf stay as they are.
    const TypeCorrectionResult result = CorrectFileTypes(list, DownloadActivity{});
    QCOMPARE(result.corrected, 1);
    QCOMPARE(result.message.text, u"纠正文件类型：1个."_s);
    QCOMPARE(result.message.icon, FileMessageIcon::Information);
    QStringList types;
    for (const DownloadItem& it : list.rows())
        types << it.type;
    QCOMPARE(types, (QStringList{u"pdf"_s, u"pdf"_s, u"pdf"_s, u"htm"_s, u"pdf"_s, u"htm"_s, u"pdf"_s}));
    QCOMPARE(changed.count(), 1); // one block, not one signal per row
    QCOMPARE(snapshot(folder).keys(),
             (QStringList{u"mine.pdf"_s, u"ok.pdf"_s, u"p.pdf"_s, u"page.pdf"_s, u"run.htm"_s, u"w.pdf"_s}));

    // A second run finds nothing left to correct.
    const TypeCorrectionResult again = CorrectFileTypes(list, DownloadActivity{});
    QCOMPARE(again.corrected, 0);
    QCOMPARE(again.message.text, u"纠正文件类型：0个."_s);

    DownloadListModel empty;
    QVERIFY(CorrectFileTypes(empty, DownloadActivity{}).message.isEmpty());
}

void TestFileActions::correctFileTypesRefusedWhileBusy()
{
    QTemporaryDir dir;
    const QString folder = folderOf(dir);
    QVERIFY(writeFile(folder + u"p.htm"_s, pdfFile()));
    DownloadListModel list;
    QVERIFY(list.addItem(item(folder, u"p"_s, u"htm"_s, State::Done)));

    DownloadActivity busy;
    busy.downloadBusy = true;
    const TypeCorrectionResult result = CorrectFileTypes(list, busy);
    QCOMPARE(result.message.text, kStopDownloadFirstText.toString());
    QCOMPARE(result.message.icon, FileMessageIcon::Information);
    QCOMPARE(result.corrected, 0);
    QCOMPARE(list.at(0).type, u"htm"_s);
    QVERIFY(QFile::exists(folder + u"p.htm"_s));
}

void TestFileActions::openOrRetry_data()
{
    QTest::addColumn<int>("state");
    QTest::addColumn<bool>("fileThere");
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("message");
    QTest::addColumn<int>("stateAfter");
    QTest::addColumn<bool>("fileAfter");

    const int done = int(State::Done), failed = int(State::Failed), waiting = int(State::Waiting),
              running = int(State::Downloading);
    QTest::newRow("done: open") << done << true << int(Kind::OpenFile) << QString() << done << true;
    QTest::newRow("done, file deleted")
        << done << false << int(Kind::None) << u"文件不存在！"_s << done << false;
    // A failed row never wrote the file at its path: it is the user's or another row's, and stays.
    QTest::newRow("failed, a file at its path")
        << failed << true << int(Kind::Requeued) << QString() << waiting << true;
    QTest::newRow("failed without file")
        << failed << false << int(Kind::Requeued) << QString() << waiting << false;
    QTest::newRow("waiting") << waiting << true << int(Kind::None) << QString() << waiting << true;
    QTest::newRow("downloading") << running << true << int(Kind::None) << QString() << running << true;
}

void TestFileActions::openOrRetry()
{
    QFETCH(int, state);
    QFETCH(bool, fileThere);
    QFETCH(int, kind);
    QFETCH(QString, message);
    QFETCH(int, stateAfter);
    QFETCH(bool, fileAfter);

    QTemporaryDir dir;
    const QString folder = folderOf(dir);
    const QString file = folder + u"论文.pdf"_s;
    if (fileThere)
        QVERIFY(writeFile(file, pdfFile()));
    QVERIFY(writeFile(folder + u"论文[0001].pdf"_s, pdfFile()));
    QVERIFY(writeFile(folder + u"论文.pdf.part"_s, "x"));
    const auto others = [&] {
        auto s = snapshot(folder);
        s.remove(u"论文.pdf"_s);
        return s;
    };
    const auto othersBefore = others();

    DownloadListModel list;
    DownloadItem row = item(folder, u"论文"_s, u"pdf"_s, State(state), u"37%"_s);
    row.key = u"http://127.0.0.1/a.pdf|http://127.0.0.1/b.pdf"_s;
    QVERIFY(list.addItem(row));

    const FileAction action = OpenOrRetry(list, 0);
    QCOMPARE(int(action.kind), kind);
    QCOMPARE(action.message.text, message);
    if (!message.isEmpty())
        QCOMPARE(action.message.icon, FileMessageIcon::Error);
    if (action.kind == Kind::OpenFile)
        QCOMPARE(action.path, file);
    const DownloadItem& after = list.at(0);
    QCOMPARE(int(after.state), stateAfter);
    QCOMPARE(after.key, row.key);
    QCOMPARE(after.type, row.type);
    QCOMPARE(after.name, row.name);
    if (action.kind == Kind::Requeued)
        QCOMPARE(after.size + after.received + after.progress, QString());
    else
        QCOMPARE(after.progress, row.progress);
    QCOMPARE(QFile::exists(file), fileAfter);
    QCOMPARE(others(), othersBefore);

    QCOMPARE(int(OpenOrRetry(list, -1).kind), int(Kind::None));
}

void TestFileActions::textEditorLimit_data()
{
    QTest::addColumn<qint64>("size"); // -1: no file
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("message");

    QTest::newRow("small") << qint64(10) << int(Kind::OpenInTextEditor) << QString();
    QTest::newRow("exactly 2 MB") << qint64(2097152) << int(Kind::OpenInTextEditor) << QString();
    QTest::newRow("one byte more") << qint64(2097153) << int(Kind::None)
                                   << u"该文件太大，超过了2M，不便于用记事本打开！"_s;
    QTest::newRow("missing") << qint64(-1) << int(Kind::None) << u"该文件不存在！"_s;
}

void TestFileActions::textEditorLimit()
{
    QFETCH(qint64, size);
    QFETCH(int, kind);
    QFETCH(QString, message);

    QTemporaryDir dir;
    const QString folder = folderOf(dir);
    if (size >= 0) {
        QFile f(folder + u"t.txt"_s);
        QVERIFY(f.open(QIODevice::WriteOnly));
        QVERIFY(f.resize(size));
    }
    DownloadListModel list;
    QVERIFY(list.addItem(item(folder, u"t"_s, u"txt"_s, State::Done)));
    const FileAction action = OpenInTextEditor(list, 0);
    QCOMPARE(int(action.kind), kind);
    QCOMPARE(action.message.text, message);
    if (action.kind == Kind::OpenInTextEditor)
        QCOMPARE(action.path, folder + u"t.txt"_s);
}

void TestFileActions::fileAndFolderCommands()
{
    QTemporaryDir dir;
    const QString folder = folderOf(dir);
    QVERIFY(writeFile(folder + u"here.pdf"_s, pdfFile()));
    QVERIFY(writeFile(folder + u"bare"_s, pdfFile()));
    DownloadListModel list;
    QCOMPARE(list.addItems({item(folder, u"here"_s, u"pdf"_s, State::Done, {}, 1),
                            item(folder, u"gone"_s, u"pdf"_s, State::Done, {}, 2),
                            item(folder + u"nowhere/"_s, u"here"_s, u"pdf"_s, State::Done, {}, 3),
                            item(folder, u"bare"_s, QString(), State::Done, {}, 4)}),
             4);

    QCOMPARE(ShowRowPath(list, 0), folder + u"here.pdf"_s);
    QCOMPARE(ShowRowPath(list, 1), QString());
    QCOMPARE(ShowRowPath(list, 3), folder + u"bare"_s); // no type: the bare name

    FileAction a = OpenDownloadedFile(list, 0);
    QCOMPARE(int(a.kind), int(Kind::OpenFile));
    QCOMPARE(a.path, folder + u"here.pdf"_s);
    a = OpenDownloadedFile(list, 1);
    QCOMPARE(int(a.kind), int(Kind::None));
    QCOMPARE(a.message.text, u"该文件不存在！"_s);

    a = OpenContainingFolder(list, 0);
    QCOMPARE(int(a.kind), int(Kind::ShowInFolder));
    QCOMPARE(a.path, folder + u"here.pdf"_s);
    a = OpenContainingFolder(list, 1);
    QCOMPARE(int(a.kind), int(Kind::OpenFolder));
    QCOMPARE(a.path, folder);
    a = OpenContainingFolder(list, 2);
    QCOMPARE(int(a.kind), int(Kind::None));
    QCOMPARE(a.message.text, u"文件夹不存在！"_s);
    QCOMPARE(a.message.icon, FileMessageIcon::Error);

    QCOMPARE(int(OpenContainingFolder(list, -1).kind), int(Kind::None));
    QVERIFY(OpenContainingFolder(list, -1).message.isEmpty());
}

void TestFileActions::checkFilesExist()
{
    QTemporaryDir dir;
    const QString folder = folderOf(dir);
    QVERIFY(writeFile(folder + u"a.pdf"_s, pdfFile()));
    QVERIFY(writeFile(folder + u"bare"_s, pdfFile()));
    QVERIFY(QDir(folder).mkdir(u"dir.pdf"_s));
    const auto before = snapshot(folder);

    DownloadListModel list;
    QCOMPARE(list.addItems({item(folder, u"a"_s, u"pdf"_s, State::Done, u"100%"_s, 1),
                            item(folder, u"b"_s, u"pdf"_s, State::Waiting, QString(), 2),
                            item(folder, u"c"_s, u"doc"_s, State::Failed, u"下载失败"_s, 3),
                            item(folder, u"bare"_s, QString(), State::Done, u"100%"_s, 4),
                            item(folder, u"dir"_s, u"pdf"_s, State::Done, u"100%"_s, 5),
                            item(folder, u"d"_s, u"pdf"_s, State::Downloading, u"5%"_s, 6),
                            item(folder, u"big"_s, u"pdf"_s, State::Done, u"大文件，跳过"_s, 7)}),
             7);
    QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);

    const FileCheckResult result = CheckFilesExist(list);
    QCOMPARE(result.checked, 7);
    QCOMPARE(result.missing, 5);
    QStringList progress;
    for (const DownloadItem& it : list.rows())
        progress << it.progress;
    QCOMPARE(progress, (QStringList{u"100%"_s, u"不存在"_s, u"不存在"_s, u"100%"_s, u"不存在"_s, u"不存在"_s,
                                    u"不存在"_s}));
    // What is put at the path of a row marked missing is not that row's.
    QVERIFY(!ownsFileAtPath(list.at(6)));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(list.countInState(State::Done), 4); // states are not touched
    QCOMPARE(snapshot(folder), before);

    // Marked rows are not signalled again.
    QCOMPARE(CheckFilesExist(list).missing, 5);
    QCOMPARE(changed.count(), 1);
}

void TestFileActions::checkFilesExistLetsEventsRun()
{
    // A long walk serves timers and clicks; a row removed by one of them is simply skipped, one whose
    // address changed (a replace) is still visited.
    QTemporaryDir dir;
    const QString folder = folderOf(dir);
    DownloadListModel list;
    QList<DownloadItem> rows;
    const int n = 40000;
    for (int i = 0; i < n; ++i)
        rows << item(folder, u"f%1"_s.arg(i), u"pdf"_s, State::Done, u"100%"_s, i);
    QCOMPARE(list.addItems(rows), n);
    QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);

    bool ranDuringWalk = false;
    QTimer::singleShot(0, &list, [&] {
        ranDuringWalk = true;
        list.removeRowsAt({n - 1});
        list.sort(DownloadListModel::NameColumn, Qt::DescendingOrder);
        QVERIFY(list.setKey(list.rowOfKey(u"http://127.0.0.1/doc/%1"_s.arg(n - 2)), u"http://elsewhere/"_s));
    });
    QElapsedTimer clock;
    clock.start();
    const FileCheckResult result = CheckFilesExist(list);
    const qint64 took = clock.elapsed();
    if (!ranDuringWalk)
        QSKIP(qPrintable(u"the walk took %1 ms, too short for events to run"_s.arg(took)));
    QCOMPARE(result.checked, n - 1);
    QCOMPARE(list.count(), n - 1);
    for (const DownloadItem& it : list.rows())
        QCOMPARE(it.progress, u"不存在"_s);
    // Blocks, not rows: one change signal for each pause for events, and those are some tens of
    // milliseconds apart however long the walk takes (a sanitized build on a busy machine is slow).
    QVERIFY2(changed.count() <= 2 + took / 20,
             qPrintable(u"%1 changes in %2 ms"_s.arg(changed.count()).arg(took)));
}

void TestFileActions::identifyChosenFile_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("message");

    QTest::newRow("pdf") << pdfFile() << u"文件类型为：pdf"_s;
    QTest::newRow("word") << wordFile() << u"文件类型为：doc"_s;
    QTest::newRow("docx") << docxFile() << u"文件类型为：docx"_s;
    QTest::newRow("html page") << htmlPage() << u"文件类型为：htm"_s;
    QTest::newRow("empty") << QByteArray("") << u"目前还无法判断。"_s;
}

void TestFileActions::identifyChosenFile()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, message);

    QTemporaryDir dir;
    const QString path = folderOf(dir) + u"chosen.bin"_s;
    QVERIFY(writeFile(path, content));
    const FileMessage shown = IdentifyChosenFile(path);
    QCOMPARE(shown.text, message);
    QCOMPARE(shown.icon, FileMessageIcon::Information);
    QVERIFY(QFile::exists(path));
    QVERIFY(IdentifyChosenFile(QString()).isEmpty()); // the dialog was cancelled
}

// "打开网址" opens the row's first address; the chooser of "打开文件判断类型" shows every file,
// above all those without an extension.
void TestFileActions::rowAddressAndAnyFile()
{
    DownloadListModel list;
    QVERIFY(list.addItem(u"http://a/1|http://b/1"_s, u"一"_s, u"pdf"_s, u"/tmp/"_s, QString()));
    const FileAction action = OpenRowAddress(list, 0);
    QCOMPARE(action.kind, Kind::OpenInWebBrowser);
    QCOMPARE(action.path, u"http://a/1"_s);
    QCOMPARE(OpenRowAddress(list, -1).kind, Kind::None);
    QCOMPARE(OpenRowAddress(list, 1).kind, Kind::None);

    for (const QString& name : {u"README"_s, u"a.pdf"_s, u".hidden"_s})
        QVERIFY2(QDir::match(kChooseAnyFileFilter.toString(), name), qPrintable(name));
}

QTEST_GUILESS_MAIN(TestFileActions)
#include "tst_fileactions.moc"
