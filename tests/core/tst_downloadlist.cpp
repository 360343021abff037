#include "download/DownloadCounters.h"
#include "download/DownloadListModel.h"

#include <QAbstractItemModelTester>
#include <QDir>
#include <QPersistentModelIndex>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace lintbay;

using State = DownloadItemState;

namespace {

QString url(int id)
{
    return u"http://127.0.0.1:8123/f/%1.pdf"_s.arg(id);
}

DownloadItem item(const QString& key, const QString& name, State state = State::Waiting)
{
    DownloadItem it;
    it.key = key;
    it.name = name;
    it.type = u"pdf"_s;
    it.folder = u"/tmp/dl/"_s;
    it.state = state;
    return it;
}

// Every key is found at its own row.
bool indexConsistent(const DownloadListModel& list)
{
    for (int i = 0; i < list.count(); ++i) {
        if (list.rowOfKey(list.at(i).key) != i)
            return false;
    }
    return true;
}

QStringList keysOf(const DownloadListModel& list)
{
    QStringList keys;
    for (const DownloadItem& it : list.rows())
        keys << it.key;
    return keys;
}

} // namespace

class TestDownloadList : public QObject
{
    Q_OBJECT

private slots:
    void headersAlignmentAndRoles();
    void namesAreNotEditable();
    void folderEndsInSeparator_data();
    void folderEndsInSeparator();
    void filePath();
    void duplicateOrEmptyKeyRefused();
    void addItemsInBulk();
    void modelTester();
    void settersSignalTheirRowOnce();
    void setKeyKeepsKeysUnique();
    void changeKeys_data();
    void changeKeys();
    void urlHelpers_data();
    void urlHelpers();
    void countsFollowEveryChange();
    void countersText_data();
    void countersText();
    void listFinished();
    void bulkRemovalSignalsOnce();
    void persistentIndexFollowsRowOnSort_data();
    void persistentIndexFollowsRowOnSort();
};

void TestDownloadList::headersAlignmentAndRoles()
{
    DownloadListModel list;
    QCOMPARE(list.columnCount(), 7);
    const QStringList headers{u"名称"_s,   u"类型"_s,     u"文件大小"_s, u"已下载数"_s,
                              u"百分比"_s, u"保存路径"_s, u"原因"_s};
    for (int c = 0; c < headers.size(); ++c)
        QCOMPARE(list.headerData(c, Qt::Horizontal).toString(), headers.at(c));

    QVERIFY(list.addItem(url(1), u"报告"_s, u"doc"_s, u"/save/"_s, u"http://page/1"_s));
    list.setTransferColumns(0, u"100"_s, u"50"_s, u"50%"_s);
    QCOMPARE(list.data(list.index(0, 0), Qt::ToolTipRole), QVariant()); // the list's own tip shows
    list.setReason(0, u"HTTP 404（未找到）"_s);
    const QStringList cells{
        u"报告"_s, u"doc"_s, u"100"_s, u"50"_s, u"50%"_s, u"/save/"_s, u"HTTP 404（未找到）"_s};
    for (int c = 0; c < headers.size(); ++c) {
        const QModelIndex cell = list.index(0, c);
        QCOMPARE(list.data(cell).toString(), cells.at(c));
        QCOMPARE(list.data(cell, Qt::ToolTipRole).toString(), cells.last()); // over the whole row
        const int align = list.data(cell, Qt::TextAlignmentRole).toInt();
        const bool right = c >= DownloadListModel::SizeColumn && c <= DownloadListModel::ProgressColumn;
        QCOMPARE(bool(align & Qt::AlignRight), right);
        QCOMPARE(list.headerData(c, Qt::Horizontal, Qt::TextAlignmentRole).toInt(), align);
    }
    const QModelIndex first = list.index(0, 0);
    QCOMPARE(list.data(first, DownloadListModel::StateRole).toInt(), 1);
    QCOMPARE(list.data(first, DownloadListModel::KeyRole).toString(), url(1));
    QCOMPARE(list.data(first, DownloadListModel::RefererRole).toString(), u"http://page/1"_s);
    list.setState(0, State::Failed);
    QCOMPARE(list.data(first, DownloadListModel::StateRole).toInt(), 4);
}

void TestDownloadList::namesAreNotEditable()
{
    DownloadListModel list;
    list.addItem(url(1), u"原名"_s, u"pdf"_s, u"/d/"_s, {});
    for (int c = 0; c < list.columnCount(); ++c)
        QVERIFY(!(list.flags(list.index(0, c)) & Qt::ItemIsEditable));
    QVERIFY(!list.setData(list.index(0, 0), u"改名"_s));
    QCOMPARE(list.at(0).name, u"原名"_s);
}

void TestDownloadList::folderEndsInSeparator_data()
{
    QTest::addColumn<QString>("defaultFolder");
    QTest::addColumn<QString>("given");
    QTest::addColumn<QString>("expected");
    const QString sep = QDir::separator();
    QTest::newRow("given with separator")
        << u"/home/u/12345"_s << u"/data/a/"_s << QDir::toNativeSeparators(u"/data/a/"_s);
    QTest::newRow("given without") << u"/home/u/12345"_s << u"/data/a"_s
                                   << QDir::toNativeSeparators(u"/data/a"_s) + sep;
    QTest::newRow("empty takes default")
        << u"/home/u/12345"_s << QString() << QDir::toNativeSeparators(u"/home/u/12345"_s) + sep;
    QTest::newRow("empty without default") << QString() << QString() << QString();
}

void TestDownloadList::folderEndsInSeparator()
{
    QFETCH(QString, defaultFolder);
    QFETCH(QString, given);
    QFETCH(QString, expected);
    DownloadListModel list;
    list.setDefaultFolder(defaultFolder);
    QVERIFY(list.addItem(url(1), u"a"_s, u"pdf"_s, given, {}));
    QCOMPARE(list.at(0).folder, expected);
    QVERIFY(list.addItems({item(url(2), u"b"_s)}) == 1);
    list.editRows({1}, [&given](int, DownloadItem& it) {
        it.folder = given.isEmpty() ? u"/x"_s : given;
        return true;
    });
    QVERIFY(list.at(1).folder.endsWith(QDir::separator()));
    list.setFolder(1, u"/y"_s);
    QCOMPARE(list.at(1).folder, QDir::toNativeSeparators(u"/y"_s) + QDir::separator());
}

void TestDownloadList::filePath()
{
    DownloadItem it = item(url(1), u"年报"_s);
    it.folder = u"/d/"_s;
    QCOMPARE(it.filePath(), u"/d/年报.pdf"_s);
    it.type.clear();
    QCOMPARE(it.filePath(), u"/d/年报"_s);
}

void TestDownloadList::duplicateOrEmptyKeyRefused()
{
    DownloadListModel list;
    QVERIFY(list.addItem(url(1), u"原来"_s, u"PDF"_s, u"/one/"_s, u"http://page/1"_s));
    list.setState(0, State::Done);
    QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);
    QVERIFY(!list.addItem(url(1), u"新的"_s, u"doc"_s, u"/two/"_s, u"http://page/2"_s));
    QVERIFY(!list.addItem(QString(), u"无网址"_s, u"doc"_s, u"/two/"_s, {}));
    QCOMPARE(inserted.count(), 0);
    QCOMPARE(list.count(), 1);
    const DownloadItem& it = list.at(0);
    QCOMPARE(it.name, u"原来"_s);
    QCOMPARE(it.type, u"PDF"_s);
    QCOMPARE(it.folder, u"/one/"_s);
    QCOMPARE(it.referer, u"http://page/1"_s);
    QCOMPARE(it.state, State::Done);
    QCOMPARE(list.countInState(State::Waiting), 0);
}

void TestDownloadList::addItemsInBulk()
{
    DownloadListModel list;
    list.addItem(url(0), u"甲"_s, u"pdf"_s, u"/d/"_s, {});
    QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);
    const int added = list.addItems({item(url(1), u"乙"_s), item(url(0), u"已有"_s), item(QString(), u"空"_s),
                                     item(url(2), u"丙"_s, State::Done), item(url(1), u"乙again"_s)});
    QCOMPARE(added, 2);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(keysOf(list), (QStringList{url(0), url(1), url(2)}));
    QCOMPARE(list.at(1).name, u"乙"_s);
    QCOMPARE(list.countInState(State::Waiting), 2);
    QCOMPARE(list.countInState(State::Done), 1);
    QVERIFY(indexConsistent(list));
}

void TestDownloadList::modelTester()
{
    DownloadListModel list;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);

    for (int i = 0; i < 8; ++i)
        list.addItem(url(i), u"文件%1"_s.arg(i), u"pdf"_s, u"/d/"_s, {});
    list.setTransferColumns(3, u"900"_s, u"900"_s, u"100%"_s);
    list.setState(3, State::Done);
    list.sort(DownloadListModel::SizeColumn, Qt::DescendingOrder);
    list.shuffle();
    QCOMPARE(list.removeInState(State::Done), 1);
    QCOMPARE(list.removeRowsAt({0, 1, 5}), 3);
    QVERIFY(list.removeRows(0, 1));
    QVERIFY(!list.removeRows(1, 5));
    QCOMPARE(list.changeKeys({{0, u"k0"_s}, {1, u"k1"_s}}), 0);
    QCOMPARE(list.editRows([](int, DownloadItem& it) {
        it.state = State::Failed;
        return true;
    }),
             3);
    // Enough scattered rows that the removal resets instead of removing block by block.
    QList<DownloadItem> many;
    for (int i = 100; i < 160; ++i)
        many << item(url(i), u"行%1"_s.arg(i), i % 2 ? State::Done : State::Waiting);
    QCOMPARE(list.addItems(many), 60);
    QCOMPARE(list.removeInState(State::Done), 30);
    QVERIFY(indexConsistent(list));
    list.sort(DownloadListModel::NameColumn, Qt::AscendingOrder);
    QVERIFY(indexConsistent(list));
    list.clear();
    QCOMPARE(list.rowCount(), 0);
}

void TestDownloadList::settersSignalTheirRowOnce()
{
    DownloadListModel list;
    list.addItem(url(0), u"a"_s, u"pdf"_s, u"/d/"_s, {});
    list.addItem(url(1), u"b"_s, u"pdf"_s, u"/d/"_s, {});
    QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);
    list.setName(1, u"b2"_s);
    list.setType(1, u"doc"_s);
    list.setSize(1, u"10"_s);
    list.setReceived(1, u"5"_s);
    list.setProgress(1, u"50%"_s);
    list.setTransferColumns(1, u"10"_s, u"10"_s, u"100%"_s);
    list.setState(1, State::Done);
    list.setFolder(1, u"/e"_s);
    list.setReferer(1, u"http://page"_s);
    list.setReason(1, u"x"_s);
    QVERIFY(list.setKey(1, url(9)));
    QCOMPARE(changed.count(), 11);
    for (const QList<QVariant>& args : changed) {
        QCOMPARE(args.at(0).toModelIndex().row(), 1);
        QCOMPARE(args.at(1).toModelIndex().row(), 1);
    }
    // Unchanged values and missing rows signal nothing.
    list.setName(1, u"b2"_s);
    list.setState(1, State::Done);
    list.setSize(7, u"1"_s);
    list.setState(-1, State::Failed);
    list.setReason(1, u"x"_s);
    QCOMPARE(changed.count(), 11);
    const DownloadItem& it = list.at(1);
    QCOMPARE(it.name, u"b2"_s);
    QCOMPARE(it.type, u"doc"_s);
    QCOMPARE(it.progress, u"100%"_s);
    QCOMPARE(it.state, State::Done);
    QCOMPARE(list.rowOfKey(url(9)), 1);
    QCOMPARE(list.rowOfKey(url(1)), -1);
}

void TestDownloadList::setKeyKeepsKeysUnique()
{
    DownloadListModel list;
    list.addItem(url(0), u"a"_s, u"pdf"_s, u"/d/"_s, {});
    list.addItem(url(1), u"b"_s, u"pdf"_s, u"/d/"_s, {});
    QVERIFY(!list.setKey(1, url(0)));
    QVERIFY(!list.setKey(1, QString()));
    QVERIFY(list.setKey(1, url(1)));
    QCOMPARE(keysOf(list), (QStringList{url(0), url(1)}));
    QVERIFY(indexConsistent(list));
}

void TestDownloadList::changeKeys_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QList<int>>("rows");
    QTest::addColumn<QStringList>("newKeys");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("dropped");

    QTest::newRow("plain") << QStringList{u"a"_s, u"b"_s} << QList<int>{0} << QStringList{u"c"_s}
                           << QStringList{u"c"_s, u"b"_s} << 0;
    QTest::newRow("two rows trade keys")
        << QStringList{u"a|b"_s, u"b|a"_s} << QList<int>{0, 1} << QStringList{u"b|a"_s, u"a|b"_s}
        << QStringList{u"b|a"_s, u"a|b"_s} << 0;
    QTest::newRow("key of a row that stays") << QStringList{u"a"_s, u"b"_s} << QList<int>{1}
                                             << QStringList{u"a"_s} << QStringList{u"a"_s, u"b"_s} << 1;
    QTest::newRow("two rows to one key: first wins")
        << QStringList{u"a"_s, u"b"_s, u"c"_s} << QList<int>{2, 1} << QStringList{u"x"_s, u"x"_s}
        << QStringList{u"a"_s, u"x"_s, u"c"_s} << 1;
    // Row 1 would take row 0's key, but row 0 cannot move (its new key is row 2's), so row 1 stays too.
    QTest::newRow("chain of clashes")
        << QStringList{u"a"_s, u"b"_s, u"c"_s} << QList<int>{0, 1} << QStringList{u"c"_s, u"a"_s}
        << QStringList{u"a"_s, u"b"_s, u"c"_s} << 2;
    QTest::newRow("move into a key that is freed")
        << QStringList{u"a"_s, u"b"_s} << QList<int>{0, 1} << QStringList{u"b"_s, u"z"_s}
        << QStringList{u"b"_s, u"z"_s} << 0;
    QTest::newRow("empty key") << QStringList{u"a"_s} << QList<int>{0} << QStringList{QString()}
                               << QStringList{u"a"_s} << 1;
}

void TestDownloadList::changeKeys()
{
    QFETCH(QStringList, keys);
    QFETCH(QList<int>, rows);
    QFETCH(QStringList, newKeys);
    QFETCH(QStringList, expected);
    QFETCH(int, dropped);
    DownloadListModel list;
    for (const QString& k : keys)
        QVERIFY(list.addItem(k, k, u"pdf"_s, u"/d/"_s, {}));
    QList<DownloadListModel::KeyChange> changes;
    for (int i = 0; i < rows.size(); ++i)
        changes.append({rows.at(i), newKeys.at(i)});
    QCOMPARE(list.changeKeys(changes), dropped);
    QCOMPARE(keysOf(list), expected);
    QVERIFY(indexConsistent(list));
}

void TestDownloadList::urlHelpers_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("first");
    QTest::addColumn<QString>("rotated");
    QTest::newRow("one") << u"http://a/1"_s << u"http://a/1"_s << u"http://a/1"_s;
    QTest::newRow("two") << u"http://a/1|http://b/2"_s << u"http://a/1"_s << u"http://b/2|http://a/1"_s;
    QTest::newRow("three") << u"a|b|c"_s << u"a"_s << u"c|a|b"_s;
    QTest::newRow("four unchanged") << u"a|b|c|d"_s << u"a"_s << u"a|b|c|d"_s;
    QTest::newRow("empty") << QString() << QString() << QString();
}

void TestDownloadList::urlHelpers()
{
    QFETCH(QString, key);
    QFETCH(QString, first);
    QFETCH(QString, rotated);
    QCOMPARE(选择url(key), first);
    QCOMPARE(对调url(key), rotated);
}

void TestDownloadList::countsFollowEveryChange()
{
    // The kept counts must agree with a walk over the rows after any mix of changes.
    DownloadListModel list;
    QRandomGenerator rng(42);
    auto randomState = [&rng] { return State(rng.bounded(1, 5)); };
    int next = 0;
    for (int step = 0; step < 400; ++step) {
        switch (rng.bounded(9)) {
        case 0:
        case 1:
            list.addItem(url(next++), u"n"_s, u"pdf"_s, u"/d/"_s, {}, randomState());
            break;
        case 2: {
            QList<DownloadItem> batch;
            for (int i = 0; i < 5; ++i)
                batch << item(url(next++), u"m"_s, randomState());
            list.addItems(batch);
            break;
        }
        case 3:
            if (!list.isEmpty())
                list.setState(rng.bounded(list.count()), randomState());
            break;
        case 4:
            list.removeInState(randomState());
            break;
        case 5:
            if (!list.isEmpty())
                list.removeRowsAt({rng.bounded(list.count())});
            break;
        case 6:
            list.editRows([&](int row, DownloadItem& it) {
                if (row % 3)
                    return false;
                it.state = randomState();
                return true;
            });
            break;
        case 8:
            // Two removals in a row: one near the start, then many scattered rows further on.
            while (list.count() < 80)
                list.addItem(url(next++), u"s"_s, u"pdf"_s, u"/d/"_s, {}, randomState());
            {
                list.removeRowsAt({1});
                QList<int> scattered;
                for (int r = list.count() / 2; r < list.count(); r += 2)
                    scattered << r;
                list.removeRowsAt(scattered);
            }
            break;
        case 7:
            if (rng.bounded(20) == 0)
                list.clear();
            else
                list.shuffle(rng);
            break;
        }
        QCOMPARE(countStates(list), countStates(list.rows()));
        QVERIFY(indexConsistent(list));
    }
}

void TestDownloadList::countersText_data()
{
    QTest::addColumn<QList<int>>("states");
    QTest::addColumn<QString>("expected");
    QTest::newRow("empty") << QList<int>{} << u"总数:0 正在下载:0 等待:0 已完成:0 失败:0"_s;
    QTest::newRow("mixed") << QList<int>{2, 2, 1, 1, 1, 1, 1, 3, 3, 4}
                           << u"总数:10 正在下载:2 等待:5 已完成:2 失败:1"_s;
}

void TestDownloadList::countersText()
{
    QFETCH(QList<int>, states);
    QFETCH(QString, expected);
    DownloadListModel list;
    for (int i = 0; i < states.size(); ++i)
        list.addItem(url(i), u"n"_s, u"pdf"_s, u"/d/"_s, {}, State(states.at(i)));
    QCOMPARE(lintbay::countersText(list), expected);
    QCOMPARE(lintbay::countersText(countStates(list.rows())), expected);
    QCOMPARE(rowCountText(list), QString::number(states.size()) + u"条"_s);
}

void TestDownloadList::listFinished()
{
    DownloadListModel list;
    QVERIFY(检测是否下载列表完毕(list));
    list.addItem(url(0), u"a"_s, u"pdf"_s, u"/d/"_s, {}, State::Done);
    list.addItem(url(1), u"b"_s, u"htm"_s, u"/d/"_s, {}, State::Failed);
    QVERIFY(检测是否下载列表完毕(list));
    list.addItem(url(2), u"c"_s, u"HTML"_s, u"/d/"_s, {}, State::Waiting);
    QVERIFY(!检测是否下载列表完毕(list));
    list.setState(2, State::Downloading);
    QVERIFY(!检测是否下载列表完毕(list));
    QCOMPARE(统计未下载项数目(list), 3);
    list.setSize(0, u"10"_s);
    QCOMPARE(统计未下载项数目(list), 2);
    // Page types count whatever their state; other rows only when failed.
    QCOMPARE(CountFailedAndPageRows(list), 2);
    list.setState(0, State::Failed);
    QCOMPARE(CountFailedAndPageRows(list), 3);
    list.setState(2, State::Done);
    QVERIFY(检测是否下载列表完毕(list));
}

void TestDownloadList::bulkRemovalSignalsOnce()
{
    DownloadListModel list;
    QList<DownloadItem> rows;
    for (int i = 0; i < 1000; ++i)
        rows << item(url(i), u"n%1"_s.arg(i), i % 3 == 0 ? State::Failed : State::Done);
    list.addItems(rows);
    QSignalSpy removed(&list, &QAbstractItemModel::rowsRemoved);
    QSignalSpy reset(&list, &QAbstractItemModel::modelReset);
    QCOMPARE(list.removeInState(State::Failed), 334);
    QCOMPARE(removed.count() + reset.count(), 1);
    QCOMPARE(list.count(), 666);
    QCOMPARE(list.countInState(State::Failed), 0);
    QVERIFY(indexConsistent(list));
    QCOMPARE(list.rowOfKey(url(0)), -1);
}

void TestDownloadList::persistentIndexFollowsRowOnSort_data()
{
    QTest::addColumn<bool>("beside");   // the order is worked out beside the window
    QTest::addColumn<bool>("rowComes"); // a row is added while it is
    QTest::addColumn<QStringList>("ascending");
    const QStringList three{u"丙"_s, u"甲"_s, u"乙"_s};
    QTest::newRow("in the window") << false << false << three;
    QTest::newRow("beside the window") << true << false << three;
    QTest::newRow("beside the window, a row comes meanwhile")
        << true << true << QStringList{u"丙"_s, u"丁"_s, u"甲"_s, u"乙"_s};
}

void TestDownloadList::persistentIndexFollowsRowOnSort()
{
    QFETCH(bool, beside);
    QFETCH(bool, rowComes);
    QFETCH(QStringList, ascending);
    DownloadListModel list;
    list.setBackgroundSortRows(beside ? 2 : 0);
    list.addItem(url(0), u"丙"_s, u"pdf"_s, u"/d/"_s, {});
    list.addItem(url(1), u"甲"_s, u"pdf"_s, u"/d/"_s, {});
    list.addItem(url(2), u"乙"_s, u"pdf"_s, u"/d/"_s, {});
    const QPersistentModelIndex held(list.index(0, 1));
    QSignalSpy sorted(&list, &DownloadListModel::sorted);
    const auto sortBy = [&](Qt::SortOrder order) {
        sorted.clear();
        list.sort(DownloadListModel::NameColumn, order);
        QCOMPARE(list.isSorting(), beside);
        if (rowComes && order == Qt::AscendingOrder)
            list.addItem(url(3), u"丁"_s, u"pdf"_s, u"/d/"_s, {});
        QTRY_COMPARE(sorted.count(), 1);
        QVERIFY(!list.isSorting());
    };
    sortBy(Qt::AscendingOrder);
    // 丙 (bing) sorts before 丁 (ding), 甲 (jia) and 乙 (yi) by reading order.
    QStringList names;
    for (int row = 0; row < list.count(); ++row)
        names << list.at(row).name;
    QCOMPARE(names, ascending);
    sortBy(Qt::DescendingOrder);
    QCOMPARE(list.at(0).name, u"乙"_s);
    QCOMPARE(held.row(), list.count() - 1);
    QCOMPARE(held.column(), 1);
    QCOMPARE(list.data(held, DownloadListModel::KeyRole).toString(), url(0));
    QVERIFY(indexConsistent(list));

    // Long cycles of the permutation: every row lands where the order puts it, with its own cells.
    DownloadListModel many;
    many.setBackgroundSortRows(beside ? 2 : 0);
    QRandomGenerator generator(7);
    QHash<QString, int> sizeOf;
    for (int i = 0; i < 300; ++i) {
        many.addItem(url(i), u"n"_s, u"pdf"_s, u"/d/"_s, {});
        sizeOf.insert(url(i), int(generator.bounded(100000)));
        many.setSize(i, QString::number(sizeOf.value(url(i))));
    }
    QSignalSpy manySorted(&many, &DownloadListModel::sorted);
    many.sort(DownloadListModel::SizeColumn, Qt::AscendingOrder);
    QTRY_COMPARE(manySorted.count(), 1);
    for (int i = 0; i < 300; ++i) {
        QCOMPARE(many.at(i).size.toInt(), sizeOf.value(many.at(i).key));
        if (i > 0)
            QVERIFY(many.at(i - 1).size.toInt() <= many.at(i).size.toInt());
    }
    QVERIFY(indexConsistent(many));

    // A shuffle asked for while a sort is worked out is the last word.
    many.sort(DownloadListModel::SizeColumn, Qt::DescendingOrder);
    QRandomGenerator shuffler(3);
    many.shuffle(shuffler);
    QStringList shuffled;
    for (const DownloadItem& item : many.rows())
        shuffled << item.key;
    QTest::qWait(200);
    QVERIFY(!many.isSorting());
    for (int i = 0; i < 300; ++i)
        QCOMPARE(many.at(i).key, shuffled.at(i));
}

QTEST_GUILESS_MAIN(TestDownloadList)
#include "tst_downloadlist.moc"
