#include "TestProgram.h"
#include "app/GuiContext.h"
#include "app/AppContext.h"
#include "app/SettingsStore.h"
#include "options/IniRegistry.h"
#include "tools/CacheListing.h"
#include "tools/CacheViewer.h"
#include "tools/Form_Copy_Move.h"
#include "tools/UrlCache.h"
#include "tools/fIEcache.h"
#include "util/FolderHistory.h"
#include "util/Messages.h"
#include "util/TextFile.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace lintbay;
using namespace lintbay::test;

namespace {


const QString kDone = u"复制文件完成！"_s;

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// Settings, program folder and home folders in a temporary folder; message boxes recorded.
struct Program : TestProgram
{
    QString myCache = dir.filePath(u"homes/me/.cache/Lintbay"_s);
    QString otherCache = dir.filePath(u"homes/other/.cache/Lintbay"_s);
    UrlCache cache{myCache};

    Program()
    {
        QDir(dir.path()).mkdir(u"program"_s);
        SetProgramDataFolder(dir.filePath(u"program"_s));
        SetUrlCacheFolder(myCache);
        SetCacheLocations(CacheLocations::forHome(dir.filePath(u"homes/me"_s), myCache));
    }
    ~Program()
    {
        SetCacheLocations({});
        SetUrlCacheFolder({});
        SetProgramDataFolder({});
    }
};

template <typename T> T* child(QWidget* w, const QString& name)
{
    T* c = w->findChild<T*>(name);
    if (!c)
        qFatal("no child %s", qPrintable(name));
    return c;
}

QStringList columnOf(QTableView* view, int column)
{
    QStringList values;
    for (int r = 0; r < view->model()->rowCount(); ++r)
        values.append(view->model()->index(r, column).data().toString());
    return values;
}

void selectRows(QTableView* view, const QList<int>& rows)
{
    view->clearSelection();
    for (int r : rows)
        view->selectionModel()->select(view->model()->index(r, 0),
                                       QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

QStringList entriesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

} // namespace

class TestCacheViewer : public QObject
{
    Q_OBJECT
private slots:
    void listSortDelete()
    {
        Program p;
        QVERIFY(p.cache.store(u"http://h/a.pdf"_s, QByteArray(9, 'a')));
        QVERIFY(p.cache.store(u"http://h/b.doc"_s, QByteArray(100, 'b')));
        QVERIFY(p.cache.store(u"http://h/Cookie/c"_s, QByteArray(20, 'c')));
        QVERIFY(writeFile(p.otherCache + u"/x/o.pdf"_s, "o"));
        QVERIFY(writeFile(p.otherCache + u"/x/cookies.txt"_s, "t"));

        fIEcache window(p.gui);
        QCOMPARE(window.windowTitle(),
                 u"IE浏览器Cookie 缓存和历史列表-"_s + QCoreApplication::applicationName());
        auto* list = child<QTableView>(&window, u"ListView1"_s);
        auto* label = child<QLabel>(&window, u"Label1"_s);
        window.show();

        child<QPushButton>(&window, u"Command1"_s)->click();
        QCOMPARE(label->text(), u"共有3 个文件"_s);
        QCOMPARE(window.viewer().mode(), u"我的缓存"_s);
        QCOMPARE(list->model()->headerData(2, Qt::Horizontal).toString(), u"SIZE(Byte)"_s);

        // A click on the size header: descending by number, then ascending.
        emit list->horizontalHeader()->sectionClicked(2);
        QCOMPARE(columnOf(list, 2), (QStringList{u"100"_s, u"20"_s, u"9"_s}));
        emit list->horizontalHeader()->sectionClicked(2);
        QCOMPARE(columnOf(list, 2), (QStringList{u"9"_s, u"20"_s, u"100"_s}));

        // Deleting the selection spares the cookie entry.
        selectRows(list, {0, 1});
        child<QPushButton>(&window, u"Command2"_s)->click();
        QCOMPARE(columnOf(list, 0), (QStringList{u"http://h/b.doc"_s, u"http://h/Cookie/c"_s}));
        QCOMPARE(label->text(), u"共有2 个文件"_s);

        child<QPushButton>(&window, u"Command7"_s)->click();
        QCOMPARE(window.viewer().mode(), u"所有缓存"_s);
        QCOMPARE(child<QTableView>(&window, u"ListView2"_s)->model()->rowCount(), 2);
        // Every subfolder of every listed cache folder: my two buckets and the other's "x".
        const QStringList folders = columnOf(child<QTableView>(&window, u"ListView3"_s), 0);
        QCOMPARE(folders.size(), 3);
        QVERIFY(folders.contains(QDir::toNativeSeparators(p.otherCache + u"/x"_s)));
        QCOMPARE(label->text(), u"共有4 个文件"_s);

        // Deleting them all spares the text files, and the cookie entry's file in my cache.
        child<QPushButton>(&window, u"Command3"_s)->click();
        QCOMPARE(window.viewer().mode(), u"所有缓存"_s);
        QStringList left = columnOf(list, 3);
        left.sort();
        QStringList spared{QDir::toNativeSeparators(p.otherCache + u"/x/cookies.txt"_s),
                           QDir::toNativeSeparators(p.cache.localFile(u"http://h/Cookie/c"_s))};
        spared.sort();
        QCOMPARE(left, spared);
        QCOMPARE(p.messages, QList<Message>{});
    }

    void copySelectedOpensTheCopyDialog()
    {
        Program p;
        QVERIFY(p.cache.store(u"http://h/a.pdf"_s, QByteArray("a")));
        QVERIFY(p.cache.store(u"http://h/gone.doc"_s, QByteArray("g")));
        QVERIFY(p.cache.store(u"http://h/c.xls"_s, QByteArray("c")));
        QFile::remove(p.cache.localFile(u"http://h/gone.doc"_s));

        fIEcache window(p.gui);
        window.show();
        child<QPushButton>(&window, u"Command1"_s)->click();
        auto* list = child<QTableView>(&window, u"ListView1"_s);
        selectRows(list, {2, 1, 0});

        QString title;
        QStringList files;
        QTimer::singleShot(0, &window, [&] {
            auto* dialog = qobject_cast<Form_Copy_Move*>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            title = dialog->windowTitle();
            files = dialog->files();
            dialog->reject();
        });
        child<QPushButton>(&window, u"Command6"_s)->click();
        QCOMPARE(title, u"复制文件：2 个文件..."_s);
        QCOMPARE(files, (QStringList{p.cache.localFile(u"http://h/a.pdf"_s),
                                     p.cache.localFile(u"http://h/c.xls"_s)}));
    }

    void clearBrowserCache()
    {
        Program p;
        QVERIFY(p.cache.store(u"http://h/a.pdf"_s, QByteArray("a")));
        QVERIFY(p.cache.store(u"Cookie:me@h/"_s, QByteArray("c")));
        QVERIFY(writeFile(p.otherCache + u"/x/o.pdf"_s, "o"));
        ClearBrowserCache(p.gui, nullptr, true);
        QCOMPARE(p.messages, (QList<Message>{{MessageIcon::Information, u"IE缓存清空完毕！"_s}}));
        QCOMPARE(p.cache.entries().size(), 1);
        QVERIFY(!QFileInfo::exists(p.otherCache + u"/x"_s));
        p.messages.clear();
        ClearBrowserCache(p.gui, nullptr, false);
        QCOMPARE(p.messages, QList<Message>{});
    }

    void copyDialogLoad()
    {
        Program p;
        QVERIFY(writeTextFile(FolderHistoryFile(), {u"/one/"_s, u"/Two/"_s}));
        {
            Form_Copy_Move dialog(p.gui);
            auto* combo = child<QComboBox>(&dialog, u"Combo1"_s);
            QVERIFY(combo->isEditable());
            QCOMPARE(combo->count(), 2);
            QCOMPARE(combo->currentText(), ProgramDataFolder());
            QVERIFY(child<QRadioButton>(&dialog, u"Option1_4"_s)->isChecked());
            QCOMPARE(dialog.opIndex(), 4);
        }
        p.store.set(u"Form_Copy_Move"_s, u"OpIndex"_s, u"2"_s);
        p.store.set(u"Form_Copy_Move"_s, u"目的文件夹"_s, u"/somewhere/"_s);
        Form_Copy_Move dialog(p.gui);
        QVERIFY(child<QRadioButton>(&dialog, u"Option1_2"_s)->isChecked());
        QCOMPARE(child<QComboBox>(&dialog, u"Combo1"_s)->currentText(), u"/somewhere/"_s);
        child<QRadioButton>(&dialog, u"Option1_5"_s)->click();
        QCOMPARE(dialog.opIndex(), 5);
    }

    void copyRun()
    {
        Program p;
        const QString src = p.at(u"src"_s);
        QVERIFY(writeFile(src + u"/a.pdf"_s, "A"));
        QVERIFY(writeFile(src + u"/b.doc"_s, "B"));
        const QString target = p.at(u"out/Docs"_s);
        QVERIFY(writeFile(target + u"/a.pdf"_s, "old"));
        QVERIFY(writeTextFile(FolderHistoryFile(), {p.at(u"out/DOCS/"_s)}));

        Form_Copy_Move dialog(p.gui);
        dialog.setFiles({src + u"/a.pdf"_s, src + u"/gone.pdf"_s, src + u"/b.doc"_s});
        QCOMPARE(dialog.windowTitle(), u"复制文件：3 个文件..."_s);
        dialog.show();
        child<QComboBox>(&dialog, u"Combo1"_s)->setEditText(target);
        child<QRadioButton>(&dialog, u"Option1_3"_s)->click();
        child<QPushButton>(&dialog, u"Command1"_s)->click();

        QCOMPARE(p.messages, (QList<Message>{{MessageIcon::Information, kDone}}));
        QCOMPARE(entriesIn(target), (QStringList{u"a.pdf"_s, u"a[001].pdf"_s, u"b.doc"_s}));
        QCOMPARE(child<QPushButton>(&dialog, u"Command1"_s)->text(), u"开始"_s);
        QCOMPARE(dialog.files().size(), 2); // the vanished file was dropped
        const QString folder = target + QDir::separator();
        QCOMPARE(p.store.get(u"Form_Copy_Move"_s, u"目的文件夹"_s), folder);
        QCOMPARE(p.store.get(u"Form_Copy_Move"_s, u"OpIndex"_s), u"3"_s);
        // Folders are told apart as the file system tells them: "Docs" is not "DOCS" here.
        QCOMPARE(readTextLines(FolderHistoryFile()), (QStringList{p.at(u"out/DOCS/"_s), folder}));

        // Copying the files into their own folder is skipped and still reported done.
        p.messages.clear();
        child<QComboBox>(&dialog, u"Combo1"_s)->setEditText(src);
        child<QPushButton>(&dialog, u"Command1"_s)->click();
        QCOMPARE(p.messages, (QList<Message>{{MessageIcon::Information, kDone}}));
        QCOMPARE(entriesIn(src), (QStringList{u"a.pdf"_s, u"b.doc"_s}));
        QCOMPARE(readTextLines(FolderHistoryFile()),
                 (QStringList{p.at(u"out/DOCS/"_s), folder, src + QDir::separator()}));
        // The same folder written another way adds no second entry.
        child<QComboBox>(&dialog, u"Combo1"_s)->setEditText(src + u"/../src"_s);
        child<QPushButton>(&dialog, u"Command1"_s)->click();
        QCOMPARE(readTextLines(FolderHistoryFile()).size(), 3);

        // A copy that cannot be made (a folder holds the name to overwrite) is told, not passed as done.
        p.messages.clear();
        const QString blocked = p.at(u"blocked"_s);
        QVERIFY(QDir().mkpath(blocked + u"/a.pdf/inside"_s));
        child<QComboBox>(&dialog, u"Combo1"_s)->setEditText(blocked);
        child<QRadioButton>(&dialog, u"Option1_2"_s)->click();
        child<QPushButton>(&dialog, u"Command1"_s)->click();
        QCOMPARE(p.messages, (QList<Message>{{MessageIcon::Error, kDone + u"\n1 个文件未能复制。"_s}}));
        QCOMPARE(entriesIn(blocked), QStringList{u"b.doc"_s});
        QVERIFY(QFileInfo(blocked + u"/a.pdf/inside"_s).isDir());
    }

    void uncreatableFolder_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("texts");
        QTest::newRow("bad name") << u"out/<|>/x"_s
                                  << QStringList{u"文件夹名称有误！不能创建文件夹！"_s,
                                                 u"创建文件夹出错！"_s};
        QTest::newRow("under a file") << u"file.txt/x"_s << QStringList{u"创建文件夹出错！"_s};
        QTest::newRow("relative") << u"!relative/x"_s << QStringList{u"创建文件夹出错！"_s};
        QTest::newRow("empty") << u"!"_s << QStringList{u"创建文件夹出错！"_s};
    }
    void uncreatableFolder()
    {
        QFETCH(QString, typed);
        QFETCH(QStringList, texts);
        Program p;
        QVERIFY(writeFile(p.at(u"src/a.pdf"_s), "A"));
        QVERIFY(writeFile(p.at(u"file.txt"_s), "F"));
        const QString text = typed.startsWith(u'!') ? typed.mid(1) : p.at(typed);

        Form_Copy_Move dialog(p.gui);
        dialog.setFiles({p.at(u"src/a.pdf"_s)});
        child<QComboBox>(&dialog, u"Combo1"_s)->setEditText(text);
        child<QPushButton>(&dialog, u"Command1"_s)->click();

        QList<Message> expected;
        for (const QString& t : std::as_const(texts))
            expected.append({MessageIcon::Error, t});
        QCOMPARE(p.messages, expected);
        QCOMPARE(child<QComboBox>(&dialog, u"Combo1"_s)->currentText(), text); // kept for correcting
        QCOMPARE(p.store.get(u"Form_Copy_Move"_s, u"目的文件夹"_s, u"<unset>"_s), u"<unset>"_s);
        QVERIFY(!QFile::exists(FolderHistoryFile()));
        QVERIFY(!QFileInfo::exists(p.at(u"out/x"_s)));
        QCOMPARE(entriesIn(p.at(u"out"_s)), QStringList{});
    }

    void allFilesVanished()
    {
        Program p;
        Form_Copy_Move dialog(p.gui);
        dialog.setFiles({p.at(u"src/gone.pdf"_s)});
        child<QComboBox>(&dialog, u"Combo1"_s)->setEditText(p.at(u"out"_s));
        child<QPushButton>(&dialog, u"Command1"_s)->click();
        QCOMPARE(p.messages, QList<Message>{});
        QCOMPARE(child<QPushButton>(&dialog, u"Command1"_s)->text(), u"开始"_s);
        QVERIFY(!dialog.isRunning());
    }

    // "停止" and closing during a run both end it before the next file; only closing skips the
    // completion message and closes the dialog afterwards. A start while the stopped run still copies
    // its file does not begin a second run inside it.
    void stopOrCloseDuringRun_data()
    {
        QTest::addColumn<bool>("close");
        QTest::addColumn<bool>("restart");
        QTest::newRow("stop") << false << false;
        QTest::newRow("stop, then start again") << false << true;
        QTest::newRow("close") << true << false;
    }
    void stopOrCloseDuringRun()
    {
        QFETCH(bool, close);
        QFETCH(bool, restart);
        Program p;
        QStringList files;
        for (const QString& name : {u"1.pdf"_s, u"2.pdf"_s, u"3.pdf"_s}) {
            QVERIFY(writeFile(p.at(u"src/"_s + name), name.toUtf8()));
            files.append(p.at(u"src/"_s + name));
        }
        Form_Copy_Move dialog(p.gui);
        dialog.setFiles(files);
        dialog.show();
        auto* button = child<QPushButton>(&dialog, u"Command1"_s);
        child<QComboBox>(&dialog, u"Combo1"_s)->setEditText(p.at(u"out"_s));
        bool sawRunning = false;
        // Runs at the first pass of the event loop inside the run, while the first file is copied.
        QTimer::singleShot(0, &dialog, [&] {
            sawRunning = dialog.isRunning() && button->text() == u"停止";
            if (close)
                dialog.reject();
            else
                button->click();
            if (restart)
                button->click();
        });
        button->click();

        QVERIFY(sawRunning);
        QVERIFY(!dialog.isRunning());
        QCOMPARE(entriesIn(p.at(u"out"_s)), QStringList{u"1.pdf"_s});
        QCOMPARE(button->text(), u"开始"_s);
        if (close) {
            QCOMPARE(p.messages, QList<Message>{});
            QVERIFY(!dialog.isVisible());
        } else {
            QCOMPARE(p.messages, (QList<Message>{{MessageIcon::Information, kDone}}));
            QVERIFY(dialog.isVisible());
        }
    }
};

QTEST_MAIN(TestCacheViewer)
#include "tst_cacheviewer.moc"
