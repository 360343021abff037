#include "download/DownloadListModel.h"
#include "download/ListOperations.h"
#include "util/TextFile.h"

#include <QDir>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

using namespace Qt::StringLiterals;
using namespace lintbay;

using State = DownloadItemState;

namespace {

// One row as the tables write it: "name;type;size;received;progress;state[;key]", state 1-4. Failed
// rows come with a reason (holding a tab, as no line of an export may).
DownloadItem parseRow(const QString& line, int id, const QString& folder = u"/tmp/dl/"_s)
{
    const QStringList f = line.split(u';');
    DownloadItem it;
    it.name = f.value(0);
    it.type = f.value(1);
    it.size = f.value(2);
    it.received = f.value(3);
    it.progress = f.value(4);
    it.state = State(f.value(5, u"1"_s).toInt());
    it.key = f.size() > 6 ? f.at(6) : u"http://127.0.0.1/f/%1"_s.arg(id);
    if (it.state == State::Failed)
        it.reason = u"第%1行\t出错"_s.arg(id);
    it.folder = folder;
    return it;
}

void fill(DownloadListModel& list, const QStringList& lines, const QString& folder = u"/tmp/dl/"_s)
{
    QList<DownloadItem> rows;
    for (int i = 0; i < lines.size(); ++i)
        rows << parseRow(lines.at(i), i, folder);
    QCOMPARE(list.addItems(rows), int(lines.size()));
}

QStringList column(const DownloadListModel& list, int col)
{
    QStringList cells;
    for (int r = 0; r < list.count(); ++r)
        cells << list.data(list.index(r, col)).toString();
    return cells;
}

// Each row in one text, to check that whole rows move together.
QStringList wholeRows(const DownloadListModel& list)
{
    QStringList rows;
    for (const DownloadItem& it : list.rows())
        rows << QStringList{it.key,      it.referer, it.name,
                            it.type,     it.size,    it.received,
                            it.progress, it.folder,  QString::number(int(it.state)),
                            it.reason}
                    .join(u'\x1f');
    return rows;
}

bool touch(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write("x") == 1;
}

} // namespace

class TestDownloadOps : public QObject
{
    Q_OBJECT

private slots:
    void sortColumn_data();
    void sortColumn();
    void sortTogglesOneOrderForAllColumns();
    void shuffleIsUniform();
    void shuffleMovesEveryRowOfALargeList();
    void shuffleKeepsRows();
    void refusals_data();
    void refusals();
    void removals();
    void cancelTouchesOnlyWaitingRows();
    void deleteItemFileDeletesOnlyItsFile();
    void deleteFiles_data();
    void deleteFiles();
    void sizeAnswer_data();
    void sizeAnswer();
    void requeue_data();
    void requeue();
    void requeueDeletesTheFiles();
    void requeueKeepsKeysUnique();
    void copyName();
    void exports_data();
    void exports();
};

void TestDownloadOps::sortColumn_data()
{
    QTest::addColumn<int>("col");
    QTest::addColumn<QStringList>("cells");
    QTest::addColumn<QStringList>("descending");
    QTest::addColumn<QStringList>("ascending");

    const int size = DownloadListModel::SizeColumn;
    const int received = DownloadListModel::ReceivedColumn;
    const int progress = DownloadListModel::ProgressColumn;
    QTest::newRow("sizes as numbers, word after them")
        << size << QStringList{u"9"_s, u"100"_s, u"未知"_s} << QStringList{u"未知"_s, u"100"_s, u"9"_s}
        << QStringList{u"9"_s, u"100"_s, u"未知"_s};
    QTest::newRow("sizes with empty cells and separators")
        << size << QStringList{u"1,000"_s, QString(), u"20"_s, u"下载失败"_s, u"3"_s}
        << QStringList{u"下载失败"_s, u"1,000"_s, u"20"_s, u"3"_s, QString()}
        << QStringList{QString(), u"3"_s, u"20"_s, u"1,000"_s, u"下载失败"_s};
    QTest::newRow("received beyond twelve digits")
        << received << QStringList{u"1234567890123"_s, u"99"_s, u"0"_s}
        << QStringList{u"1234567890123"_s, u"99"_s, u"0"_s}
        << QStringList{u"0"_s, u"99"_s, u"1234567890123"_s};
    QTest::newRow("percent keeps status words")
        << progress << QStringList{u"7%"_s, u"大文件，跳过"_s, QString(), u"100%"_s, u"70%"_s}
        << QStringList{u"大文件，跳过"_s, u"100%"_s, u"70%"_s, u"7%"_s, QString()}
        << QStringList{QString(), u"7%"_s, u"70%"_s, u"100%"_s, u"大文件，跳过"_s};
    QTest::newRow("type ignores case")
        << int(DownloadListModel::TypeColumn) << QStringList{u"pdf"_s, u"DOC"_s, u"Ppt"_s, u"doc"_s}
        << QStringList{u"Ppt"_s, u"pdf"_s, u"DOC"_s, u"doc"_s}
        << QStringList{u"DOC"_s, u"doc"_s, u"pdf"_s, u"Ppt"_s};
    QTest::newRow("reasons as text, not as the folder")
        << int(DownloadListModel::ReasonColumn) << QStringList{u"b"_s, QString(), u"a"_s}
        << QStringList{u"b"_s, u"a"_s, QString()} << QStringList{QString(), u"a"_s, u"b"_s};
}

void TestDownloadOps::sortColumn()
{
    QFETCH(int, col);
    QFETCH(QStringList, cells);
    QFETCH(QStringList, descending);
    QFETCH(QStringList, ascending);
    DownloadListModel list;
    QList<DownloadItem> rows;
    for (int i = 0; i < cells.size(); ++i) {
        DownloadItem it = parseRow(u"n%1;pdf;;;;3"_s.arg(i), i);
        switch (col) {
        case DownloadListModel::SizeColumn:
            it.size = cells.at(i);
            break;
        case DownloadListModel::ReceivedColumn:
            it.received = cells.at(i);
            break;
        case DownloadListModel::ProgressColumn:
            it.progress = cells.at(i);
            break;
        case DownloadListModel::TypeColumn:
            it.type = cells.at(i);
            break;
        case DownloadListModel::ReasonColumn:
            it.reason = cells.at(i);
            break;
        }
        rows << it;
    }
    list.addItems(rows);
    const QStringList before = wholeRows(list);

    // First click descending, second ascending; the cells read as they did.
    QVERIFY(!SortByColumn(list, col, {}).refused());
    QCOMPARE(list.sortOrder(), Qt::DescendingOrder);
    QCOMPARE(column(list, col), descending);
    QVERIFY(!SortByColumn(list, col, {}).refused());
    QCOMPARE(list.sortOrder(), Qt::AscendingOrder);
    QCOMPARE(column(list, col), ascending);
    QStringList after = wholeRows(list);
    QStringList sortedBefore = before;
    std::sort(after.begin(), after.end());
    std::sort(sortedBefore.begin(), sortedBefore.end());
    QCOMPARE(after, sortedBefore);
    for (int r = 0; r < list.count(); ++r)
        QCOMPARE(list.rowOfKey(list.at(r).key), r);
}

void TestDownloadOps::sortTogglesOneOrderForAllColumns()
{
    DownloadListModel list;
    fill(list, {u"b;pdf;2;;;1"_s, u"a;pdf;1;;;1"_s, u"c;pdf;3;;;1"_s});
    SortByColumn(list, DownloadListModel::SizeColumn, {});
    QCOMPARE(column(list, 0), (QStringList{u"c"_s, u"b"_s, u"a"_s}));
    // Another column reverses the order used last.
    SortByColumn(list, DownloadListModel::NameColumn, {});
    QCOMPARE(column(list, 0), (QStringList{u"a"_s, u"b"_s, u"c"_s}));

    DownloadActivity downloading;
    downloading.downloading = true;
    const ListOpResult r = SortByColumn(list, DownloadListModel::NameColumn, downloading);
    QCOMPARE(r.refusal, kStopBeforeSortText);
    QCOMPARE(list.sortOrder(), Qt::AscendingOrder);
    QCOMPARE(column(list, 0), (QStringList{u"a"_s, u"b"_s, u"c"_s}));
}

void TestDownloadOps::shuffleIsUniform()
{
    // Every order of three rows is about equally likely (expected 1000 of 6000 each).
    DownloadListModel list;
    fill(list, {u"a;pdf;;;;1"_s, u"b;pdf;;;;1"_s, u"c;pdf;;;;1"_s});
    QRandomGenerator rng(2024);
    QHash<QString, int> seen;
    for (int i = 0; i < 6000; ++i) {
        list.shuffle(rng);
        ++seen[column(list, 0).join(QString())];
    }
    QCOMPARE(seen.size(), 6);
    for (auto it = seen.cbegin(); it != seen.cend(); ++it)
        QVERIFY2(it.value() > 850 && it.value() < 1150,
                 qPrintable(it.key() + u" "_s + QString::number(it.value())));
}

void TestDownloadOps::shuffleMovesEveryRowOfALargeList()
{
    // Past 10000 rows every row still takes part: the first rows are not left in their order.
    DownloadListModel list;
    QList<DownloadItem> rows;
    for (int i = 0; i < 20000; ++i)
        rows << parseRow(u"%1;pdf;;;;1"_s.arg(i), i);
    list.addItems(rows);
    QRandomGenerator rng(7);
    list.shuffle(rng);
    int inOrder = 0;
    int startHalf = 0;
    for (int r = 0; r < 10000; ++r) {
        if (r > 0 && list.at(r).name.toInt() > list.at(r - 1).name.toInt())
            ++inOrder;
        if (list.at(r).name.toInt() < 10000)
            ++startHalf;
    }
    QVERIFY(inOrder < 6000);
    QVERIFY(startHalf > 4500 && startHalf < 5500);
}

void TestDownloadOps::shuffleKeepsRows()
{
    DownloadListModel list;
    fill(list, {u"a;pdf;10;10;100%;3"_s, u"b;htm;未知;5;;4"_s, u"c;doc;;;;1"_s, u"d;xls;9;3;33%;2"_s});
    list.setReferer(1, u"http://page/b"_s);
    QStringList before = wholeRows(list);
    QSignalSpy layout(&list, &QAbstractItemModel::layoutChanged);
    const ListOpResult r = ShuffleList(list, {});
    QVERIFY(!r.refused());
    QCOMPARE(layout.count(), 1);
    QStringList after = wholeRows(list);
    std::sort(before.begin(), before.end());
    std::sort(after.begin(), after.end());
    QCOMPARE(after, before);
    for (int i = 0; i < list.count(); ++i)
        QCOMPARE(list.rowOfKey(list.at(i).key), i);

    DownloadListModel empty;
    QVERIFY(!ShuffleList(empty, {}).refused());
    QCOMPARE(empty.count(), 0);
}

void TestDownloadOps::refusals_data()
{
    QTest::addColumn<int>("operation");
    QTest::addColumn<bool>("downloadBusy");
    QTest::addColumn<bool>("downloading");
    QTest::addColumn<bool>("busyFlag");
    QTest::addColumn<QString>("message");

    const QString stop = kStopDownloadFirstText.toString();
    QTest::newRow("shuffle busy") << int(ListOperation::Shuffle) << true << false << false << stop;
    QTest::newRow("shuffle only downloading")
        << int(ListOperation::Shuffle) << false << true << true << QString();
    QTest::newRow("remove selected") << int(ListOperation::RemoveSelected) << true << true << true << stop;
    QTest::newRow("remove failed") << int(ListOperation::RemoveFailed) << true << false << false << stop;
    QTest::newRow("remove done") << int(ListOperation::RemoveDone) << true << false << false << stop;
    QTest::newRow("clear") << int(ListOperation::ClearAll) << true << false << false << stop;
    QTest::newRow("sort downloading")
        << int(ListOperation::Sort) << false << true << false << kStopBeforeSortText.toString();
    QTest::newRow("sort busy only") << int(ListOperation::Sort) << true << false << false << QString();
    QTest::newRow("cancel busy flag")
        << int(ListOperation::CancelSelected) << false << false << true << kStopBeforeCancelText.toString();
    QTest::newRow("cancel scheduler on")
        << int(ListOperation::CancelSelected) << true << true << false << QString();
    QTest::newRow("requeue any time") << int(ListOperation::Requeue) << true << true << true << QString();
    QTest::newRow("delete any time") << int(ListOperation::DeleteFiles) << true << true << true << QString();
}

void TestDownloadOps::refusals()
{
    QFETCH(int, operation);
    QFETCH(bool, downloadBusy);
    QFETCH(bool, downloading);
    QFETCH(bool, busyFlag);
    QFETCH(QString, message);
    const DownloadActivity activity{downloadBusy, downloading, busyFlag};
    const auto op = ListOperation(operation);
    QCOMPARE(refusalText(op, activity).toString(), message);

    // A refused command changes nothing.
    DownloadListModel list;
    fill(list, {u"a;pdf;;;;1"_s, u"b;pdf;;;;3"_s, u"c;pdf;;;;4"_s, u"d;pdf;;;;2"_s});
    const QStringList before = wholeRows(list);
    ListOpResult r;
    switch (op) {
    case ListOperation::Shuffle:
        r = ShuffleList(list, activity);
        break;
    case ListOperation::RemoveSelected:
        r = removeSelectedRows(list, {0, 1}, activity);
        break;
    case ListOperation::RemoveFailed:
        r = removeFailedRows(list, activity);
        break;
    case ListOperation::RemoveDone:
        r = removeDoneRows(list, activity);
        break;
    case ListOperation::ClearAll:
        r = clearList(list, activity);
        break;
    case ListOperation::Sort:
        r = SortByColumn(list, DownloadListModel::NameColumn, activity);
        break;
    case ListOperation::CancelSelected:
        r = cancelSelectedRows(list, {0}, activity);
        break;
    default:
        return;
    }
    QCOMPARE(r.refusal.toString(), message);
    if (r.refused())
        QCOMPARE(wholeRows(list), before);
    else
        QVERIFY(op == ListOperation::Shuffle || wholeRows(list) != before);
}

void TestDownloadOps::removals()
{
    DownloadListModel list;
    fill(list, {u"a;pdf;;;;1"_s, u"b;pdf;;;;3"_s, u"c;pdf;;;;4"_s, u"d;pdf;;;;3"_s, u"e;pdf;;;;4"_s,
                u"f;pdf;;;;2"_s});
    QCOMPARE(removeSelectedRows(list, {0, 5, 9, 0}, {}).rows, 2);
    QCOMPARE(column(list, 0), (QStringList{u"b"_s, u"c"_s, u"d"_s, u"e"_s}));
    QCOMPARE(removeFailedRows(list, {}).rows, 2);
    QCOMPARE(column(list, 0), (QStringList{u"b"_s, u"d"_s}));
    QCOMPARE(removeDoneRows(list, {}).rows, 2);
    QVERIFY(list.isEmpty());
    fill(list, {u"x;pdf;;;;1"_s, u"y;pdf;;;;2"_s});
    QCOMPARE(clearList(list, {}).rows, 2);
    QVERIFY(list.isEmpty());
    QCOMPARE(list.rowOfKey(u"http://127.0.0.1/f/0"_s), -1);
}

void TestDownloadOps::cancelTouchesOnlyWaitingRows()
{
    DownloadListModel list;
    fill(list, {u"a;pdf;;;;1"_s, u"b;pdf;5;1;20%;2"_s, u"c;pdf;;;;1"_s, u"d;pdf;9;9;100%;3"_s});
    const QStringList before = wholeRows(list);
    const ListOpResult r = cancelSelectedRows(list, {0, 1, 3}, {});
    QCOMPARE(r.rows, 1);
    QCOMPARE(list.at(0).state, State::Failed);
    QCOMPARE(list.at(1).state, State::Downloading);
    QCOMPARE(list.at(2).state, State::Waiting); // not selected
    QCOMPARE(list.at(3).state, State::Done);
    QCOMPARE(list.at(0).reason, u"下载已取消"_s);
    QCOMPARE(wholeRows(list).mid(1), before.mid(1));
    QCOMPARE(list.countInState(State::Failed), 1);
    QCOMPARE(list.countInState(State::Waiting), 1);
}

void TestDownloadOps::deleteItemFileDeletesOnlyItsFile()
{
    QTemporaryDir tmp;
    QVERIFY(tmp.isValid());
    // Rows save into rows/; files around it must survive.
    const QString outer = QDir::toNativeSeparators(tmp.path()) + QDir::separator();
    QVERIFY(QDir(outer).mkpath(u"rows/sub"_s));
    QVERIFY(QDir(outer).mkpath(u"rows/目录.pdf"_s));
    QVERIFY(QDir(outer).mkpath(u"relative"_s));
    const QString dir = outer + u"rows"_s + QDir::separator();
    const QStringList others{
        u"rows/报告.pdf.bak"_s,      u"rows/报告.pdfx"_s, u"rows/其他.pdf"_s, u"rows/报告.PDF1"_s,
        u"rows/目录.pdf/内部.txt"_s, u"rows/sub/x.pdf"_s, u"x.pdf"_s,         u"relative/其他.pdf"_s};
    for (const QString& name : others)
        QVERIFY(touch(outer + name));
    QVERIFY(touch(dir + u"报告.pdf"_s));
    QVERIFY(touch(dir + u"报告"_s));

    DownloadItem own = parseRow(u"报告;pdf"_s, 0, dir);
    QVERIFY(DeleteItemFile(own));
    QVERIFY(!QFile::exists(dir + u"报告.pdf"_s));
    QVERIFY(!DeleteItemFile(own)); // gone: nothing more happens
    // A row without a type owns the bare name.
    QVERIFY(DeleteItemFile(parseRow(u"报告;"_s, 0, dir)));
    QVERIFY(!QFile::exists(dir + u"报告"_s));

    const QStringList refused{
        u"目录;pdf"_s, // a folder by that name
        u";"_s,        // no name and no type: the folder itself
        u".."_s,       // the parent folder
        u"../x;pdf"_s, // reaching out of the folder
        u"sub/x;pdf"_s,
    };
    for (const QString& line : refused)
        QVERIFY2(!DeleteItemFile(parseRow(line, 0, dir)), qPrintable(line));
    // A relative folder would depend on the working folder.
    const QString cwd = QDir::currentPath();
    QVERIFY(QDir::setCurrent(tmp.path()));
    const bool deletedRelative = DeleteItemFile(parseRow(u"其他;pdf"_s, 0, u"relative/"_s));
    QDir::setCurrent(cwd);
    QVERIFY(!deletedRelative);

    for (const QString& name : others)
        QVERIFY2(QFile::exists(outer + name), qPrintable(name));
}

void TestDownloadOps::deleteFiles_data()
{
    QTest::addColumn<bool>("pages");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QList<bool>>("chosen");
    const QStringList rows{u"a;htm;5;5;100%;3"_s, u"b;HTML;5;5;100%;4"_s, u"c;xml;5;5;100%;3"_s,
                           u"d;htm;5;2;40%;2"_s,  u"e;pdf;5;5;100%;4"_s,  u"f;pdf;5;5;100%;3"_s,
                           u"g;html;;;;1"_s,      u"h;htm;7;7;已存在，跳过;3"_s, u"i;htm;-;-;大文件，跳过;3"_s};
    QTest::newRow("web pages") << true << rows
                               << QList<bool>{true, true, true, false, false, false, false, true, true};
    QTest::newRow("failed") << false << rows
                            << QList<bool>{false, true, false, false, true, false, false, false, false};
}

void TestDownloadOps::deleteFiles()
{
    QFETCH(bool, pages);
    QFETCH(QStringList, rows);
    QFETCH(QList<bool>, chosen);
    QTemporaryDir tmp;
    const QString dir = QDir::toNativeSeparators(tmp.path()) + QDir::separator();
    DownloadListModel list;
    fill(list, rows, dir);
    for (const DownloadItem& it : list.rows())
        QVERIFY(touch(it.filePath()));
    const QList<DownloadItem> before = list.rows();

    QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);
    const int n = pages ? deletePageFiles(list) : deleteFailedFiles(list);
    QCOMPARE(n, int(chosen.count(true)));
    QCOMPARE(changed.count(), 1);
    for (int r = 0; r < list.count(); ++r) {
        const DownloadItem& it = list.at(r);
        // A failed or skipped row's path holds someone else's file: its cells are emptied, the file
        // stays.
        const bool wroteNothing = it.state == State::Failed || before.at(r).progress.endsWith(u"跳过"_s);
        QCOMPARE(QFile::exists(it.filePath()), !chosen.at(r) || wroteNothing);
        QCOMPARE(it.state, before.at(r).state);
        QCOMPARE(it.type, before.at(r).type);
        if (chosen.at(r))
            QVERIFY(it.size.isEmpty() && it.received.isEmpty() && it.progress.isEmpty());
        else
            QCOMPARE(it.progress, before.at(r).progress);
    }
}

void TestDownloadOps::sizeAnswer_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<bool>("numeric");
    QTest::addColumn<double>("value");
    QTest::newRow("plain") << u"1000"_s << true << 1000.0;
    QTest::newRow("spaces") << u"  2048 "_s << true << 2048.0;
    QTest::newRow("fraction") << u"10.5"_s << true << 10.5;
    QTest::newRow("thousands separated") << u"1,000"_s << true << 1000.0;
    QTest::newRow("word") << u"abc"_s << false << 0.0;
    QTest::newRow("empty") << QString() << false << 0.0;
    QTest::newRow("trailing text") << u"100kb"_s << false << 0.0;
    QTest::newRow("not a number word") << u"nan"_s << false << 0.0;
}

void TestDownloadOps::sizeAnswer()
{
    QFETCH(QString, answer);
    QFETCH(bool, numeric);
    QFETCH(double, value);
    const std::optional<double> v = parseSizeAnswer(answer);
    QCOMPARE(v.has_value(), numeric);
    if (numeric)
        QCOMPARE(*v, value);
}

void TestDownloadOps::requeue_data()
{
    QTest::addColumn<int>("rule");
    QTest::addColumn<QList<int>>("selected");
    QTest::addColumn<double>("limit");
    QTest::addColumn<QStringList>("rows");
    // Per row after the operation: "type;state;key" of chosen rows, empty for rows left alone.
    QTest::addColumn<QStringList>("expected");

    const QStringList rows{
        u"a;pdf;500;500;100%;3;u1"_s,     // 0 done document
        u"b;htm;300;300;100%;3;u2|v2"_s,  // 1 done web page, two addresses
        u"c;pdf;下载失败;;;4;u3|v3|w3"_s, // 2 failed, three addresses
        u"d;xml;800;800;100%;3;u4"_s,     // 3 done xml
        u"e;HTML;20;20;100%;4;u5|v5"_s,   // 4 failed web page
        u"f;pdf;;;;1;u6"_s,               // 5 waiting
        u"g;pdf;5;1;20%;2;u7"_s,          // 6 downloading
        u"h;pdf;1,200;1,200;100%;3;u8"_s, // 7 done, size with separator
        u"i;pdf;900;450;50%;4;u9"_s,      // 8 failed half way
    };
    QTest::newRow("selected") << int(RequeueRule::Selected) << QList<int>{1, 2, 5, 6} << 0.0 << rows
                              << QStringList{{}, u"xxx;1;v2|u2"_s, u"pdf;1;w3|u3|v3"_s, {}, {}, {}, {}, {},
                                             {}};
    QTest::newRow("failed") << int(RequeueRule::Failed) << QList<int>{} << 0.0 << rows
                            << QStringList{{}, {}, u"pdf;1;w3|u3|v3"_s, {}, u"xxx;1;v5|u5"_s, {},
                                           {}, {}, u"pdf;1;u9"_s};
    QTest::newRow("web pages") << int(RequeueRule::WebPages) << QList<int>{} << 0.0 << rows
                               << QStringList{
                                      {}, u"xxx;1;v2|u2"_s, {}, u"xxx;1;u4"_s, u"xxx;1;v5|u5"_s, {}, {}, {},
                                      {}};
    QTest::newRow("failed and web pages")
        << int(RequeueRule::FailedAndWebPages) << QList<int>{} << 0.0 << rows
        << QStringList{{}, u"xxx;1;v2|u2"_s, u"pdf;1;w3|u3|v3"_s, {}, u"xxx;1;v5|u5"_s, {}, {},
                       {}, u"pdf;1;u9"_s};
    QTest::newRow("smaller than 1000")
        << int(RequeueRule::SmallerThan) << QList<int>{} << 1000.0 << rows
        << QStringList{u"pdf;1;u1"_s, u"xxx;1;v2|u2"_s, {}, u"xml;1;u4"_s, u"xxx;1;v5|u5"_s, {}, {}, {}, {}};
    QTest::newRow("smaller than 1300 takes separators")
        << int(RequeueRule::SmallerThan) << QList<int>{} << 1300.0 << rows << QStringList{u"pdf;1;u1"_s,
                                                                                          u"xxx;1;v2|u2"_s,
                                                                                          {},
                                                                                          u"xml;1;u4"_s,
                                                                                          u"xxx;1;v5|u5"_s,
                                                                                          {},
                                                                                          {},
                                                                                          u"pdf;1;u8"_s,
                                                                                          {}};
    QTest::newRow("smaller than 20: none") << int(RequeueRule::SmallerThan) << QList<int>{} << 20.0 << rows
                                           << QStringList{{}, {}, {}, {}, {}, {}, {}, {}, {}};
}

void TestDownloadOps::requeue()
{
    QFETCH(int, rule);
    QFETCH(QList<int>, selected);
    QFETCH(double, limit);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, expected);
    DownloadListModel list;
    fill(list, rows);
    const QList<DownloadItem> before = list.rows();

    const int n = RequeueRows(list, RequeueRule(rule), selected, limit);
    QCOMPARE(n, int(expected.size() - expected.count(QString())));
    for (int r = 0; r < list.count(); ++r) {
        const DownloadItem& it = list.at(r);
        if (expected.at(r).isEmpty()) {
            QCOMPARE(it.state, before.at(r).state);
            QCOMPARE(it.key, before.at(r).key);
            QCOMPARE(it.size, before.at(r).size);
            QCOMPARE(it.type, before.at(r).type);
            QCOMPARE(it.reason, before.at(r).reason);
            continue;
        }
        const QStringList e = expected.at(r).split(u';');
        QCOMPARE(it.type, e.at(0));
        QCOMPARE(int(it.state), e.at(1).toInt());
        QCOMPARE(it.key, e.at(2));
        QVERIFY(it.size.isEmpty() && it.received.isEmpty() && it.progress.isEmpty() && it.reason.isEmpty());
        QCOMPARE(it.name, before.at(r).name);
        QCOMPARE(list.rowOfKey(it.key), r);
    }
    QCOMPARE(list.countInState(State::Waiting), int(list.rowsInState(State::Waiting).size()));
}

void TestDownloadOps::requeueDeletesTheFiles()
{
    QTemporaryDir tmp;
    const QString dir = QDir::toNativeSeparators(tmp.path()) + QDir::separator();
    DownloadListModel list;
    // Row a finished a page. Rows c and e failed: what lies at their paths is not theirs (c.pdf is
    // row d's finished document).
    // Rows s and t ended without writing (s.htm is the user's own page, which 跳过 kept); the files
    // of m and d went (found missing, deleted by 删除文件), and what lies there now is not theirs.
    fill(list, {u"a;htm;5;5;100%;3;x|y"_s, u"b;pdf;5;5;100%;3;z"_s, u"c;pdf;5;;;4;v|w"_s,
                u"c;pdf;5;5;100%;3;u"_s, u"e;htm;;;;4;t"_s, u"s;htm;7;7;已存在，跳过;3;s"_s,
                u"t;htm;-;-;大文件，跳过;3;t2"_s, u"m;htm;5;5;不存在;3;m"_s, u"d;htm;;;;3;d"_s},
         dir);
    // a.xxx is another row's document whose type was never found.
    const QStringList others{u"b.pdf"_s, u"c.pdf"_s, u"e.htm"_s, u"e.xxx"_s, u"s.htm"_s,
                             u"s.xxx"_s, u"t.htm"_s, u"m.htm"_s, u"d.htm"_s, u"a.xxx"_s};
    for (const QString& name : others + QStringList{u"a.htm"_s})
        QVERIFY(touch(dir + name));
    QCOMPARE(RequeueRows(list, RequeueRule::FailedAndWebPages, {}, 0), 7);
    QVERIFY(!QFile::exists(dir + u"a.htm"_s));
    for (const QString& name : others)
        QVERIFY2(QFile::exists(dir + name), qPrintable(name));
    QCOMPARE(list.at(0).key, u"y|x"_s);
    QCOMPARE(list.at(2).key, u"w|v"_s);
}

void TestDownloadOps::requeueKeepsKeysUnique()
{
    // Row 0 rotates into row 1's key, which stays (row 1 is waiting): row 0 keeps its key.
    DownloadListModel list;
    fill(list, {u"a;pdf;;;;4;p|q"_s, u"b;pdf;;;;1;q|p"_s, u"c;pdf;;;;4;r|s"_s, u"d;pdf;;;;4;s|r"_s});
    QCOMPARE(RequeueRows(list, RequeueRule::Failed), 3);
    QCOMPARE(list.at(0).key, u"p|q"_s);
    QCOMPARE(list.at(0).state, State::Waiting);
    QCOMPARE(list.at(1).key, u"q|p"_s);
    // Two requeued rows trade keys.
    QCOMPARE(list.at(2).key, u"s|r"_s);
    QCOMPARE(list.at(3).key, u"r|s"_s);
    for (int r = 0; r < list.count(); ++r)
        QCOMPARE(list.rowOfKey(list.at(r).key), r);
}

void TestDownloadOps::copyName()
{
    DownloadListModel list;
    QVERIFY(!lintbay::copyName(list, 0).has_value());
    fill(list, {u"年度报告;pdf;;;;1"_s, u"b;doc;;;;1"_s});
    QCOMPARE(lintbay::copyName(list, 0).value(), u"年度报告"_s);
    QVERIFY(!lintbay::copyName(list, -1).has_value());
    QVERIFY(!lintbay::copyName(list, 2).has_value());
}

void TestDownloadOps::exports_data()
{
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<bool>("unfinished");
    QTest::addColumn<bool>("withReasons");
    QTest::addColumn<QByteArray>("file");
    const QStringList mixed{u"甲;pdf;;;;3"_s, u"乙;doc;;;;1"_s, u"丙;htm;;;;4"_s, u"丁;pdf;;;;2"_s};
    QTest::newRow("all") << mixed << false << false << u"甲\r\n乙\r\n丙\r\n丁\r\n"_s.toUtf8();
    QTest::newRow("unfinished") << mixed << true << false << u"乙\r\n丙\r\n丁\r\n"_s.toUtf8();
    QTest::newRow("unfinished of all done")
        << QStringList{u"a;pdf;;;;3"_s, u"b;pdf;;;;3"_s} << true << false << QByteArray();
    QTest::newRow("unfinished with reasons, one field each")
        << mixed << true << true << u"乙\t\r\n丙\t第2行 出错\r\n丁\t\r\n"_s.toUtf8();
}

void TestDownloadOps::exports()
{
    QFETCH(QStringList, rows);
    QFETCH(bool, unfinished);
    QFETCH(bool, withReasons);
    QFETCH(QByteArray, file);
    DownloadListModel list;
    fill(list, rows);
    QTemporaryDir tmp;
    const QString path = tmp.filePath(u"names.txt"_s);
    QVERIFY(writeTextFile(path, exportNameLines(list, unfinished, withReasons)));
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), file);
}

QTEST_GUILESS_MAIN(TestDownloadOps)
#include "tst_downloadops.moc"
