#include "search/ResultListModel.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace lintbay;

namespace {

QString linkOf(const QString& id)
{
    return u"http://127.0.0.1:8123/link?url="_s + id;
}

// Rows titled after the given list, keyed by firstId, firstId + 1, ...
void fill(ResultListModel& list, const QStringList& titles, int firstId = 0)
{
    for (const QString& t : titles)
        QVERIFY(list.加入LV1(t, linkOf(QString::number(firstId++)), u"http://127.0.0.1:8123/s?q1=a"_s,
                             u"PDF"_s, QString()));
}

// Every key is found at its own row and nowhere else.
bool indexConsistent(const ResultListModel& list)
{
    for (int i = 0; i < list.count(); ++i) {
        if (list.rowOfKey(list.at(i).key) != i)
            return false;
    }
    return true;
}

QList<int> parseRows(const QString& s)
{
    QList<int> rows;
    for (const QString& part : s.split(u',', Qt::SkipEmptyParts))
        rows << part.toInt();
    return rows;
}

} // namespace

class TestResultList : public QObject
{
    Q_OBJECT

private slots:
    void headersAndFlags();
    void modelTester();
    void duplicateKeyHasNoEffect();
    void addResultsInBulk();
    void keyIndexAfterRemovals();
    void removeRowsAt_data();
    void removeRowsAt();
    void removeByTitle_data();
    void removeByTitle();
    void removeByStatus();
    void selectByScript();
    void convertKeepsKeys();
    void largeList();
};

void TestResultList::headersAndFlags()
{
    ResultListModel list;
    QCOMPARE(list.columnCount(), 4);
    const QStringList headers{u"标题"_s, u"类型"_s, u"分析状态"_s, u"保存路径"_s};
    for (int c = 0; c < headers.size(); ++c)
        QCOMPARE(list.headerData(c, Qt::Horizontal).toString(), headers.at(c));

    list.加入LV1(u"报告"_s, linkOf(u"a"_s), u"http://page/1"_s, u"doc"_s, u"/save"_s);
    for (int c = 0; c < 4; ++c)
        QVERIFY(!(list.flags(list.index(0, c)) & Qt::ItemIsEditable));
    QVERIFY(!list.setData(list.index(0, 0), u"改名"_s));
    QCOMPARE(list.data(list.index(0, 0)).toString(), u"报告"_s);
    QCOMPARE(list.data(list.index(0, 1)).toString(), u"doc"_s);
    QCOMPARE(list.data(list.index(0, 2)).toString(), QString());
    QCOMPARE(list.data(list.index(0, 3)).toString(), u"/save"_s);
    QCOMPARE(list.data(list.index(0, 2), ResultListModel::KeyRole).toString(), linkOf(u"a"_s));
    QCOMPARE(list.data(list.index(0, 0), ResultListModel::TagRole).toString(), u"http://page/1"_s);
}

void TestResultList::modelTester()
{
    ResultListModel list;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);

    fill(list, {u"一"_s, u"二"_s, u"三"_s, u"四"_s, u"五"_s, u"六"_s, u"七"_s, u"八"_s});
    list.加入LV1(u"重复"_s, linkOf(u"0"_s), QString(), QString(), QString());
    list.setStatus(2, ResultListModel::statusDone());
    list.setStatus(5, ResultListModel::statusDone());
    QCOMPARE(list.removeWithStatus(ResultListModel::statusDone()), 2);
    QCOMPARE(list.removeRowsAt({0, 1, 5}), 3);
    QVERIFY(list.removeRows(0, 1));
    QVERIFY(!list.removeRows(1, 5));
    QCOMPARE(list.addResults({SearchResult{u"繁體"_s, u"ppt"_s, {}, {}, linkOf(u"t"_s), {}},
                              SearchResult{u"後來"_s, u"ppt"_s, {}, {}, linkOf(u"u"_s), {}}}),
             2);
    QCOMPARE(list.convertAllToSimplified(), 2);
    // Enough scattered rows that the removal resets instead of removing block by block.
    QStringList many;
    for (int i = 0; i < 60; ++i)
        many << u"行%1"_s.arg(i);
    fill(list, many, 100);
    QCOMPARE(list.removeIf([](const SearchResult& r) {
        return r.title.startsWith(u'行') && r.title.mid(1).toInt() % 2 == 0;
    }),
             30);
    QVERIFY(indexConsistent(list));
    list.clear();
    QCOMPARE(list.rowCount(), 0);
}

void TestResultList::duplicateKeyHasNoEffect()
{
    ResultListModel list;
    QVERIFY(list.加入LV1(u"原来"_s, linkOf(u"a"_s), u"http://page/1"_s, u"PDF"_s, u"/one"_s));
    QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);
    QVERIFY(!list.加入LV1(u"新的"_s, linkOf(u"a"_s), u"http://page/2"_s, u"doc"_s, u"/two"_s));
    QVERIFY(!list.加入LV1(u"无链接"_s, QString(), u"http://page/2"_s, u"doc"_s, u"/two"_s));
    QCOMPARE(inserted.count(), 0);
    QCOMPARE(list.count(), 1);
    const SearchResult& r = list.at(0);
    QCOMPARE(r.title, u"原来"_s);
    QCOMPARE(r.tag, u"http://page/1"_s);
    QCOMPARE(r.type, u"PDF"_s);
    QCOMPARE(r.saveFolder, u"/one"_s);
}

void TestResultList::addResultsInBulk()
{
    ResultListModel list;
    fill(list, {u"甲"_s});
    QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);
    const int added = list.addResults({SearchResult{u"乙"_s, {}, {}, {}, linkOf(u"b"_s), {}},
                                       SearchResult{u"已有"_s, {}, {}, {}, linkOf(u"0"_s), {}},
                                       SearchResult{u"丙"_s, {}, {}, {}, linkOf(u"c"_s), {}},
                                       SearchResult{u"乙again"_s, {}, {}, {}, linkOf(u"b"_s), {}}});
    QCOMPARE(added, 2);
    QCOMPARE(inserted.count(), 1);
    QCOMPARE(list.titles(), (QStringList{u"甲"_s, u"乙"_s, u"丙"_s}));
    QVERIFY(indexConsistent(list));
}

void TestResultList::keyIndexAfterRemovals()
{
    ResultListModel list;
    fill(list, {u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"e"_s});
    QCOMPARE(list.removeRowsAt({1, 3}), 2);
    QCOMPARE(list.titles(), (QStringList{u"a"_s, u"c"_s, u"e"_s}));
    QVERIFY(indexConsistent(list));
    QVERIFY(!list.containsKey(linkOf(u"1"_s)));
    QCOMPARE(list.rowOfKey(linkOf(u"3"_s)), -1);
    QCOMPARE(list.rowOfKey(linkOf(u"4"_s)), 2);

    // A removed link may come back, at the end.
    QVERIFY(list.加入LV1(u"b again"_s, linkOf(u"1"_s), QString(), QString(), QString()));
    QCOMPARE(list.rowOfKey(linkOf(u"1"_s)), 3);
    QVERIFY(!list.加入LV1(u"e again"_s, linkOf(u"4"_s), QString(), QString(), QString()));

    list.clear();
    QVERIFY(!list.containsKey(linkOf(u"0"_s)));
    QVERIFY(list.加入LV1(u"a again"_s, linkOf(u"0"_s), QString(), QString(), QString()));
    QCOMPARE(list.rowOfKey(linkOf(u"0"_s)), 0);
}

void TestResultList::removeRowsAt_data()
{
    QTest::addColumn<QString>("selected");
    QTest::addColumn<QString>("remaining"); // titles 0..7 left, in order
    QTest::addColumn<int>("blocks");        // rowsRemoved signals: one per contiguous block

    QTest::newRow("nothing") << u""_s << u"01234567"_s << 0;
    QTest::newRow("two adjacent") << u"2,3"_s << u"014567"_s << 1;
    QTest::newRow("adjacent, given out of order") << u"3,2,2"_s << u"014567"_s << 1;
    QTest::newRow("first and last blocks") << u"0,1,5,6,7"_s << u"234"_s << 2;
    QTest::newRow("every other") << u"0,2,4,6"_s << u"1357"_s << 4;
    QTest::newRow("all") << u"0,1,2,3,4,5,6,7"_s << u""_s << 1;
    QTest::newRow("out of range ignored") << u"-1,7,8"_s << u"0123456"_s << 1;
}

void TestResultList::removeRowsAt()
{
    QFETCH(QString, selected);
    QFETCH(QString, remaining);
    QFETCH(int, blocks);

    ResultListModel list;
    QAbstractItemModelTester tester(&list, QAbstractItemModelTester::FailureReportingMode::QtTest);
    fill(list, u"0,1,2,3,4,5,6,7"_s.split(u','));
    QSignalSpy removed(&list, &QAbstractItemModel::rowsRemoved);
    QSignalSpy reset(&list, &QAbstractItemModel::modelReset);

    const int count = list.removeRowsAt(parseRows(selected));
    QCOMPARE(list.titles().join(QString()), remaining);
    QCOMPARE(count, 8 - int(remaining.size()));
    QCOMPARE(removed.count(), blocks);
    QCOMPARE(reset.count(), 0);
    QVERIFY(indexConsistent(list));
    QCOMPARE(list.rowOfKey(linkOf(u"3"_s)), int(remaining.indexOf(u'3')));
}

void TestResultList::removeByTitle_data()
{
    QTest::addColumn<bool>("containing");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<QStringList>("remaining");

    const QStringList titles{u"报告 PDF 版"_s, u"手册pdf"_s, u"Pdf 讲义"_s, u"幻灯片"_s, u"论文"_s};
    QTest::newRow("containing, ignoring case")
        << true << u"PDF"_s << titles << QStringList{u"幻灯片"_s, u"论文"_s};
    QTest::newRow("not containing, ignoring case")
        << false << u"pdf"_s << titles << QStringList{u"报告 PDF 版"_s, u"手册pdf"_s, u"Pdf 讲义"_s};
    QTest::newRow("containing chinese") << true << u"论"_s << titles << titles.mid(0, 4);
    QTest::newRow("containing, no match") << true << u"docx"_s << titles << titles;
    QTest::newRow("not containing, all match") << false << u"docx"_s << titles << QStringList{};
    QTest::newRow("empty text removes nothing") << true << QString() << titles << titles;
    QTest::newRow("empty text keeps everything") << false << QString() << titles << titles;
}

void TestResultList::removeByTitle()
{
    QFETCH(bool, containing);
    QFETCH(QString, text);
    QFETCH(QStringList, titles);
    QFETCH(QStringList, remaining);

    ResultListModel list;
    fill(list, titles);
    const int removed = containing ? list.removeTitleContaining(text) : list.removeTitleNotContaining(text);
    QCOMPARE(list.titles(), remaining);
    QCOMPARE(removed, int(titles.size() - remaining.size()));
    QVERIFY(indexConsistent(list));
}

void TestResultList::removeByStatus()
{
    ResultListModel list;
    fill(list, {u"a"_s, u"b"_s, u"c"_s, u"d"_s});
    list.setStatus(1, ResultListModel::statusDone());
    list.setStatus(2, ResultListModel::statusDone());
    list.setStatus(3, ResultListModel::statusFailed());
    QCOMPARE(list.removeWithStatus(ResultListModel::statusDone()), 2);
    QCOMPARE(list.titles(), (QStringList{u"a"_s, u"d"_s}));
    QCOMPARE(list.at(1).status, u"分析失败"_s);
    QVERIFY(indexConsistent(list));
}

void TestResultList::selectByScript()
{
    ResultListModel list;
    fill(list, {u"机器学习"_s, u"機械学習の基礎"_s, u"機器學習"_s, u"データ"_s, u"notes ・ー"_s});
    QCOMPARE(list.rowsWithKana(), (QList<int>{1, 3}));
    QCOMPARE(list.rowsWithTraditional(), (QList<int>{1, 2}));

    ResultListModel plain;
    fill(plain, {u"机器学习"_s, u"Deep learning"_s});
    QVERIFY(plain.rowsWithKana().isEmpty());
}

void TestResultList::convertKeepsKeys()
{
    ResultListModel list;
    fill(list, {u"简体标题"_s, u"機器學習"_s, u"Notes 2020"_s, u"後來的報告"_s});
    list.setStatus(1, ResultListModel::statusDone());
    const QList<SearchResult> before = list.rows();
    QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);

    QCOMPARE(list.convertAllToSimplified(), 2);
    QCOMPARE(list.titles(), (QStringList{u"简体标题"_s, u"机器学习"_s, u"Notes 2020"_s, u"后来的报告"_s}));
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.at(0).at(0).value<QModelIndex>().row(), 1);
    QCOMPARE(changed.at(0).at(1).value<QModelIndex>().row(), 3);
    for (int i = 0; i < before.size(); ++i) {
        QCOMPARE(list.at(i).key, before.at(i).key);
        QCOMPARE(list.at(i).type, before.at(i).type);
        QCOMPARE(list.at(i).status, before.at(i).status);
        QCOMPARE(list.at(i).saveFolder, before.at(i).saveFolder);
        QCOMPARE(list.at(i).tag, before.at(i).tag);
    }
    QVERIFY(indexConsistent(list));
    QCOMPARE(list.convertAllToSimplified(), 0);
}

void TestResultList::largeList()
{
    // Sizes the list reaches after long batch searches. Each step must stay roughly linear; a
    // per-row rebuild of the list or its index would not finish within the test's time limit.
    constexpr int kRows = 100000;
    ResultListModel list;
    for (int i = 0; i < kRows; ++i)
        list.加入LV1(u"标题 %1"_s.arg(i), linkOf(QString::number(i)), QString(), QString(), QString());
    QCOMPARE(list.count(), kRows);
    QVERIFY(!list.加入LV1(u"dup"_s, linkOf(u"99999"_s), QString(), QString(), QString()));

    QList<int> everyOther;
    for (int i = 0; i < kRows; i += 2)
        everyOther << i;
    QCOMPARE(list.removeRowsAt(everyOther), kRows / 2);
    QCOMPARE(list.count(), kRows / 2);
    QCOMPARE(list.rowOfKey(linkOf(u"99999"_s)), kRows / 2 - 1);
    QVERIFY(!list.containsKey(linkOf(u"99998"_s)));

    for (int row = 0; row < list.count(); row += 3)
        list.setStatus(row, ResultListModel::statusDone());
    const int done = list.removeWithStatus(ResultListModel::statusDone());
    QCOMPARE(done, (kRows / 2 + 2) / 3);
    QCOMPARE(list.count(), kRows / 2 - done);
    QVERIFY(indexConsistent(list));

    QCOMPARE(list.removeRows(0, 10000), true);
    QCOMPARE(list.removeTitleNotContaining(u"标题"_s), 0);
    QCOMPARE(list.convertAllToSimplified(), 0);
    QVERIFY(indexConsistent(list));
    list.clear();
    QCOMPARE(list.count(), 0);
}

QTEST_GUILESS_MAIN(TestResultList)
#include "tst_resultlist.moc"
