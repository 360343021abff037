#include "download/DownloadListModel.h"
#include "download/UrlReplace.h"

#include <QSignalSpy>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace lintbay;

class TestUrlReplace : public QObject
{
    Q_OBJECT

private slots:
    void replaceInOneRow_data();
    void replaceInOneRow();
    void emptyFindRefused_data();
    void emptyFindRefused();
    void duplicateKeys_data();
    void duplicateKeys();
    void otherFieldsStay();
    void message();
};

void TestUrlReplace::replaceInOneRow_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("referer");
    QTest::addColumn<QString>("find");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<QString>("newKey");
    QTest::addColumn<QString>("newReferer");

    QTest::newRow("capitals match lower case, every occurrence")
        << u"http://old.example/a?next=http://old.example/b"_s << u"http://OLD.example/s"_s
        << u"OLD.EXAMPLE"_s << u"new.example"_s << u"http://new.example/a?next=http://new.example/b"_s
        << u"http://new.example/s"_s;
    QTest::newRow("both addresses of a key")
        << u"http://a.cn/1.pdf|http://A.cn/2.pdf"_s << QString() << u"a.cn"_s << u"b.cn"_s
        << u"http://b.cn/1.pdf|http://b.cn/2.pdf"_s << QString();
    QTest::newRow("three addresses and the referer")
        << u"http://x/1|http://x/2|http://y/3"_s << u"http://x/page"_s << u"http://x"_s << u"https://z"_s
        << u"https://z/1|https://z/2|http://y/3"_s << u"https://z/page"_s;
    QTest::newRow("empty replacement removes")
        << u"http://h/dl?id=1&tmp=1"_s << u"http://h/p?tmp=1"_s << u"&tmp=1"_s << QString()
        << u"http://h/dl?id=1"_s << u"http://h/p?tmp=1"_s;
    QTest::newRow("an address replaced by nothing goes")
        << u"http://a/1|http://b/1"_s << QString() << u"http://b/1"_s << QString() << u"http://a/1"_s
        << QString();
    QTest::newRow("find used as typed, spaces included")
        << u"http://h/a b"_s << u"http://h/ab"_s << u" b"_s << u"%20b"_s << u"http://h/a%20b"_s
        << u"http://h/ab"_s;
    QTest::newRow("no occurrence") << u"http://h/1"_s << u"http://h/"_s << u"zzz"_s << u"y"_s
                                   << u"http://h/1"_s << u"http://h/"_s;
    QTest::newRow("scanned once from the start")
        << u"http://h/aaa"_s << QString() << u"aa"_s << u"a"_s << u"http://h/aa"_s << QString();
}

void TestUrlReplace::replaceInOneRow()
{
    QFETCH(QString, key);
    QFETCH(QString, referer);
    QFETCH(QString, find);
    QFETCH(QString, replacement);
    QFETCH(QString, newKey);
    QFETCH(QString, newReferer);
    DownloadListModel list;
    QVERIFY(list.addItem(key, u"n"_s, u"pdf"_s, u"/d/"_s, referer));
    const UrlReplaceResult r = replaceInAddresses(list, find, replacement);
    QVERIFY(!r.refused);
    QCOMPARE(list.at(0).key, newKey);
    QCOMPARE(list.at(0).referer, newReferer);
    QCOMPARE(r.keysChanged, newKey != key ? 1 : 0);
    QCOMPARE(r.referersChanged, newReferer != referer ? 1 : 0);
    QCOMPARE(r.keysKept, 0);
    QCOMPARE(list.rowOfKey(newKey), 0);
}

void TestUrlReplace::emptyFindRefused_data()
{
    QTest::addColumn<QString>("find");
    QTest::newRow("empty") << QString();
    QTest::newRow("three spaces") << u"   "_s;
}

void TestUrlReplace::emptyFindRefused()
{
    QFETCH(QString, find);
    DownloadListModel list;
    list.addItem(u"http://h/ 1"_s, u"n"_s, u"pdf"_s, u"/d/"_s, u"http://h/ p"_s);
    QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);
    const UrlReplaceResult r = replaceInAddresses(list, find, u"x"_s);
    QVERIFY(r.refused);
    QCOMPARE(changed.count(), 0);
    QCOMPARE(list.at(0).key, u"http://h/ 1"_s);
    QCOMPARE(list.at(0).referer, u"http://h/ p"_s);
}

void TestUrlReplace::duplicateKeys_data()
{
    QTest::addColumn<QStringList>("keys");
    QTest::addColumn<QString>("find");
    QTest::addColumn<QString>("replacement");
    QTest::addColumn<QStringList>("expected");
    QTest::addColumn<int>("kept");

    QTest::newRow("new key held by an unchanged row")
        << QStringList{u"http://old/1"_s, u"http://new/1"_s, u"http://old/2"_s} << u"old"_s << u"new"_s
        << QStringList{u"http://old/1"_s, u"http://new/1"_s, u"http://new/2"_s} << 1;
    QTest::newRow("two rows to one key: the first changes")
        << QStringList{u"http://A/1"_s, u"http://a/1"_s, u"http://b/1"_s} << u"a"_s << u"c"_s
        << QStringList{u"http://c/1"_s, u"http://a/1"_s, u"http://b/1"_s} << 1;
    QTest::newRow("rows moving on free their keys")
        << QStringList{u"http://h/v1"_s, u"http://h/v11"_s} << u"v1"_s << u"v11"_s
        << QStringList{u"http://h/v11"_s, u"http://h/v111"_s} << 0;
    QTest::newRow("key emptied") << QStringList{u"http://h/1"_s, u"http://h/2"_s} << u"http://h/1"_s
                                 << QString() << QStringList{u"http://h/1"_s, u"http://h/2"_s} << 0;
}

void TestUrlReplace::duplicateKeys()
{
    QFETCH(QStringList, keys);
    QFETCH(QString, find);
    QFETCH(QString, replacement);
    QFETCH(QStringList, expected);
    QFETCH(int, kept);
    DownloadListModel list;
    for (const QString& k : keys)
        QVERIFY(list.addItem(k, u"n"_s, u"pdf"_s, u"/d/"_s, k));
    const UrlReplaceResult r = replaceInAddresses(list, find, replacement);
    QCOMPARE(r.keysKept, kept);
    QCOMPARE(r.keysEmptied, int(QByteArrayView(QTest::currentDataTag()) == "key emptied"));
    QStringList got;
    for (int i = 0; i < list.count(); ++i) {
        got << list.at(i).key;
        QCOMPARE(list.rowOfKey(list.at(i).key), i);
    }
    QCOMPARE(got, expected);
    // Referers have no uniqueness rule: they change in every row.
    for (int i = 0; i < list.count(); ++i) {
        QString ref = keys.at(i);
        QCOMPARE(list.at(i).referer, ref.replace(find, replacement, Qt::CaseInsensitive));
    }
}

void TestUrlReplace::otherFieldsStay()
{
    DownloadListModel list;
    QVERIFY(list.addItem(u"http://old/1"_s, u"年报"_s, u"pdf"_s, u"/d/"_s, u"http://old/s"_s,
                         DownloadItemState::Done));
    list.setTransferColumns(0, u"10"_s, u"10"_s, u"100%"_s);
    QSignalSpy changed(&list, &QAbstractItemModel::dataChanged);
    const UrlReplaceResult r = replaceInAddresses(list, u"old"_s, u"new"_s);
    QCOMPARE(r.keysChanged, 1);
    QCOMPARE(r.referersChanged, 1);
    QVERIFY(changed.count() <= 2);
    const DownloadItem& it = list.at(0);
    QCOMPARE(it.state, DownloadItemState::Done);
    QCOMPARE(it.name, u"年报"_s);
    QCOMPARE(it.type, u"pdf"_s);
    QCOMPARE(it.size, u"10"_s);
    QCOMPARE(it.progress, u"100%"_s);
    QCOMPARE(it.folder, u"/d/"_s);
    QVERIFY(!list.containsKey(u"http://old/1"_s));
}

void TestUrlReplace::message()
{
    UrlReplaceResult r;
    r.keysChanged = 3;
    QCOMPARE(urlReplaceMessage(r), u"全部网址替换完成！"_s);
    r.keysKept = 2;
    const QString text = urlReplaceMessage(r);
    QVERIFY(text.startsWith(u"全部网址替换完成！"_s));
    QVERIFY(text.contains(u"2"_s));
    QVERIFY(!text.contains(u"没有网址"_s));
    r.keysEmptied = 1;
    QVERIFY(urlReplaceMessage(r).contains(u"有1项替换后没有网址了"_s));
}

QTEST_GUILESS_MAIN(TestUrlReplace)
#include "tst_urlreplace.moc"
