#include "TestHttpServer.h"
#include "TestProgram.h"
#include "app/AppContext.h"
#include "app/GuiContext.h"
#include "app/HeadlessBrowser.h"
#include "app/SettingsStore.h"
#include "app/fCover.h"
#include "download/DownloadJournal.h"
#include "download/DownloadListModel.h"
#include "download/LoginAssistant.h"
#include "download/Scheduler.h"
#include "download/fFileDownload.h"
#include "options/IniRegistry.h"
#include "search/ResultListModel.h"
#include "search/SearchSession.h"
#include "search/fWebSearch.h"
#include "util/FileDialogs.h"
#include "util/Messages.h"

#include <QAbstractItemModel>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QNetworkAccessManager>
#include <QPaintEvent>
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
struct Program : TestProgram
{
    explicit Program(const QString& engine, const QMap<QString, QString>& more = {})
        : TestProgram(withEngine(engine, more))
    {
        start();
    }
    static QMap<QString, QString> withEngine(const QString& engine, QMap<QString, QString> settings)
    {
        settings.insert(keys::kSearchEngine, engine);
        return settings;
    }
};

template <typename T> T* child(QObject* w, const QString& name)
{
    T* c = w->findChild<T*>(name);
    if (!c)
        qFatal("no child %s", qPrintable(name));
    return c;
}

// "导出名称" / "全部" into `path`; what the file holds afterwards.
QByteArray exportAllNames(fFileDownload* w, const QString& path)
{
    SetFileNamePicker([path](const QString&) { return path; });
    w->findChild<QAction*>(u"menu导出全部名称"_s)->trigger();
    SetFileNamePicker({});
    // The file is written beside the window and appears whole under its name.
    if (!QTest::qWaitFor([&path] { return QFile::exists(path); }, 5000))
        return {};
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void fillResults(ResultListModel* list, int count, int first = 0)
{
    for (int i = first; i < first + count; ++i)
        list->加入LV1(u"标题%1"_s.arg(i), u"http://e/link?url=%1"_s.arg(i), u"http://e/s"_s, u"PDF"_s,
                      QString());
}
} // namespace

class TestDownloadWindow : public QObject
{
    Q_OBJECT
private:
    TestHttpServer m_server;

private slots:
    void initTestCase()
    {
        m_server.routePrefix(u"/"_s,
                             [](const TestHttpRequest&) { return TestHttpResponse::html(u"<p>x</p>"_s); });
        auto slowLogin =
            TestHttpResponse::html(u"<form action=\"/in\"><input type=\"submit\" id=\"submitip\"></form>"_s);
        slowLogin.delayMs = 300;
        m_server.serve(u"/slowlogin"_s, slowLogin);
        m_server.routePrefix(u"/same/"_s, [](const TestHttpRequest&) {
            const QByteArray document = QByteArray("%PDF-1.4\n") + QByteArray(3000, 'x');
            return TestHttpResponse::bytes(document, "application/pdf");
        });
    }

    // The window does not close (and free what the run works on) while a login, the opening of
    // the login page or a walk over the files runs; it closes once the run is over.
    void refusesToCloseWhileASequenceRuns_data()
    {
        QTest::addColumn<QString>("run");
        QTest::newRow("login") << u"login"_s;
        QTest::newRow("opening the login page") << u"browse"_s;
        QTest::newRow("file walk") << u"file walk"_s;
    }
    void refusesToCloseWhileASequenceRuns()
    {
        QFETCH(QString, run);
        Program p(m_server.url().toString());
        fFileDownload* w = p.gui.downloadWindow();
        w->show();
        w->login()->settleMs = 100;
        child<QLineEdit>(w, u"Text1"_s)->setText(m_server.url(u"/slowlogin"_s).toString());
        child<QRadioButton>(w, u"Option5"_s)->setChecked(true);
        bool closedDuringRun = true;
        QTimer::singleShot(0, w, [&] { closedDuringRun = w->close(); });
        if (run == u"login"_s)
            child<QPushButton>(w, u"Command5"_s)->click();
        else if (run == u"browse"_s)
            child<QPushButton>(w, u"Command2"_s)->click();
        else
            w->findChild<QAction*>(u"menu检查文件是否存在"_s)->trigger();
        QVERIFY(!closedDuringRun);
        QVERIFY(p.lastMessageIs(MessageIcon::Error, u"正在工作，停止以后才能退出！"_s));
        QVERIFY(IsFormLoaded(u"fFileDownload"_s));
        QVERIFY(w->close());
        QVERIFY(!IsFormLoaded(u"fFileDownload"_s));
    }

    // A hand-over with nothing to hand over leaves the download window alone: not made, not shown,
    // and once closed it stays closed until a row qualifies.
    void windowLoadedOnlyForRowsThatQualify()
    {
        Program p(m_server.url().toString());
        fWebSearch* search = p.openSearch();
        QVERIFY(search);
        child<QCheckBox>(search, u"Check7"_s)->click();
        QVERIFY(search->Timer1->isActive());
        QTest::qWait(1500);
        QVERIFY(!p.gui.download);

        fillResults(search->results(), 1);
        QTRY_VERIFY(p.gui.download && p.gui.download->isVisible());
        QCOMPARE(p.gui.download->list()->count(), 1);
        QVERIFY(p.gui.download->close());
        QTest::qWait(1500);
        QVERIFY(!IsFormLoaded(u"fFileDownload"_s));

        fillResults(search->results(), 1, 1);
        QTRY_VERIFY(IsFormLoaded(u"fFileDownload"_s) && p.gui.download->isVisible());
        QCOMPARE(p.gui.download->list()->count(), 1); // a new list
        child<QCheckBox>(search, u"Check7"_s)->click();
    }

    void freshWindow()
    {
        Program p(m_server.url().toString());
        fFileDownload* w = p.gui.downloadWindow();
        QVERIFY(IsFormLoaded(u"fFileDownload"_s));
        QVERIFY(!w->isVisible()); // loaded, not shown
        auto* view = child<QTableView>(w, u"ListView3"_s);
        QCOMPARE(view->model()->columnCount(), 7);
        QCOMPARE(view->model()->headerData(2, Qt::Horizontal).toString(), u"文件大小"_s);
        QCOMPARE(child<QLabel>(w, u"Label1"_s)->text(), u"0条"_s);
        QCOMPARE(child<QLabel>(w, u"Label7"_s)->text(), u"下载方式：2"_s);
        QCOMPARE(child<QComboBox>(w, u"Combo1"_s)->currentText(), u"3"_s);
        QVERIFY(child<QRadioButton>(w, u"Option3"_s)->isChecked());
        QCOMPARE(child<QComboBox>(w, u"Combo2"_s)->currentText(), u"0"_s);
        QCOMPARE(child<QComboBox>(w, u"Combo2"_s)->count(), 601);
        QCOMPARE(w->DuplicateNamePolicy(), u"重命名"_s);
        QVERIFY(w->Timer1->isActive());
        QVERIFY(!w->Timer_Down->isActive());
        QTRY_COMPARE(w->statusPanel(4), u"总数:0 正在下载:0 等待:0 已完成:0 失败:0"_s);

        // The mode switch, the policy and the slot count are kept for the next window.
        child<QPushButton>(w, u"Command26"_s)->click();
        QCOMPARE(child<QLabel>(w, u"Label7"_s)->text(), u"下载方式：1"_s);
        QVERIFY(!child<QComboBox>(w, u"Combo1"_s)->isEnabled());
        child<QRadioButton>(w, u"Option1"_s)->setChecked(true);
        QVERIFY(w->close());
        QCOMPARE(p.store.get(keys::kSettings, keys::kDownloadMode), u"1"_s);
        QCOMPARE(p.store.get(u"专利下载"_s, u"重复文件名设置"_s), u"跳过"_s);
        // Closed while the search window is not loaded: the start-up window comes back.
        QVERIFY(p.gui.cover->isVisible());
    }

    // A window whose settings cannot be written says so, and closes all the same.
    void closeSaysUnsavedSettings()
    {
        Program p(m_server.url().toString());
        fFileDownload* w = p.gui.downloadWindow();
        const QString ini = p.store.fileName();
        QFile::remove(ini);
        QVERIFY(QDir().mkdir(ini));
        QVERIFY(w->close());
        QVERIFY(p.lastMessageIs(MessageIcon::Error, u"无法保存设置："_s + QDir::toNativeSeparators(ini)));
    }

    void handOverPassesAndTheCloseQuestion()
    {
        Program p(m_server.url().toString());
        fWebSearch* search = p.openSearch();
        QVERIFY(search);
        ResultListModel* results = search->results();

        child<QPushButton>(search, u"Command2"_s)->click();
        QCOMPARE(p.messages.constLast().text, u"列表没有数据哦！"_s);

        fillResults(results, 3);
        child<QPushButton>(search, u"Command2"_s)->click(); // no selection: every row
        fFileDownload* w = p.gui.download;
        QVERIFY(w);
        QVERIFY(w->isVisible());
        DownloadListModel* list = w->list();
        QCOMPARE(list->count(), 3);
        QCOMPARE(list->at(0).name, u"标题0"_s);
        QCOMPARE(list->at(0).referer, u"http://e/s"_s);
        QCOMPARE(list->at(0).folder,
                 QDir::toNativeSeparators(p.dir.filePath(u"saved"_s)) + QDir::separator());
        QCOMPARE(results->at(2).status, u"成功"_s);

        fillResults(results, 2, 3);
        search->findChild<QAction*>(u"menu分析未分析项"_s)->trigger();
        QCOMPARE(list->count(), 5);
        search->findChild<QAction*>(u"menu分析全部"_s)->trigger();
        QCOMPARE(list->count(), 5);

        // Automatic hand-over of new rows every second.
        auto* autoBox = child<QCheckBox>(search, u"Check7"_s);
        autoBox->click();
        QVERIFY(search->Timer1->isActive());
        fillResults(results, 1, 5);
        QTRY_COMPARE(list->count(), 6);
        autoBox->click();
        QVERIFY(!search->Timer1->isActive());

        // Waiting rows make the window ask before it closes; No keeps everything. A row found while
        // the question is up waits: the list it would go to may be about to go.
        autoBox->click();
        fillResults(results, 1, 6);
        int handedMeanwhile = -1;
        p.onMessage = [&] {
            QTest::qWait(1500);
            handedMeanwhile = list->count();
        };
        p.answerYes = false;
        QVERIFY(!w->close());
        p.onMessage = {};
        QCOMPARE(p.messages.constLast().text, u"正在下载文件或者下载没有完成，要强制关闭窗口吗？"_s);
        QVERIFY(w->isVisible());
        QCOMPARE(handedMeanwhile, 6);
        QTRY_COMPARE(list->count(), 7);
        autoBox->click();

        // Cancelling them (all finished now) lets it close without a question.
        w->findChild<QAction*>(u"menu全选专利列表"_s)->trigger();
        w->findChild<QAction*>(u"menu取消下载选中项"_s)->trigger();
        QCOMPARE(list->countInState(DownloadItemState::Failed), 7);
        p.messages.clear();
        QVERIFY(w->close());
        QVERIFY(p.messages.isEmpty());
        QVERIFY(!p.gui.cover->isVisible()); // the search window is still loaded
    }

    void passAsksForTheFolderWhenExtractionDidNot()
    {
        Program p(m_server.url().toString(), {{keys::kPromptSavePath, u"0"_s}});
        fWebSearch* search = p.openSearch();
        QVERIFY(search);
        fillResults(search->results(), 2);
        // The save-folder dialog comes up; cancelling it hands nothing over.
        QTimer answer;
        QString caption;
        connect(&answer, &QTimer::timeout, &answer, [&] {
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                caption = dialog->windowTitle();
                dialog->reject();
                answer.stop();
            }
        });
        answer.start(20);
        search->findChild<QAction*>(u"menu分析全部"_s)->trigger();
        QCOMPARE(caption, u"选择下载保存路径－Marrowfen软件"_s);
        QVERIFY(p.app.saveFolderChoice().cancelled);
        QCOMPARE(p.gui.download ? p.gui.download->list()->count() : 0, 0);
        QCOMPARE(search->results()->at(0).status, QString());
    }

    // A list an unclean exit left behind is offered back when the window opens; a normal close
    // leaves nothing to offer.
    void restoresTheListAnUncleanExitLeft()
    {
        Program p(m_server.url().toString());
        {
            DownloadListModel left;
            left.addItem(u"http://a/1"_s, u"一"_s, u"pdf"_s, p.at(u"docs"_s), QString());
            left.addItem(u"http://a/2"_s, u"二"_s, u"pdf"_s, p.at(u"docs"_s), QString(),
                         DownloadItemState::Downloading);
            DownloadJournal journal(p.gui.journalPath);
            QVERIFY(journal.attach(left));
        } // gone without its normal end
        // A hand-over pass asks for the window while the question is up: it finds this one.
        fFileDownload* askedMeanwhile = nullptr;
        p.onMessage = [&] {
            if (!askedMeanwhile)
                askedMeanwhile = p.gui.downloadWindow();
        };
        fFileDownload* w = p.gui.downloadWindow();
        QCOMPARE(askedMeanwhile, w);
        QVERIFY(p.lastMessageIs(MessageIcon::Question, u"恢复上次未完成的下载列表？"_s));
        QCOMPARE(w->list()->count(), 2);
        QCOMPARE(w->list()->at(1).state, DownloadItemState::Waiting);
        w->list()->setState(0, DownloadItemState::Done);
        w->list()->setState(1, DownloadItemState::Failed);
        QVERIFY(w->close());
        QCOMPARE(DownloadJournal::inspect(p.gui.journalPath).kind, DownloadJournal::Leftover::None);
    }

    // The reasons stay out of sight until the header's menu shows their column; a row's tooltip
    // carries its reason either way, and once the column shows, the export writes it beside the name.
    void reasonColumn()
    {
        Program p(m_server.url().toString());
        fFileDownload* w = p.gui.downloadWindow();
        w->show();
        DownloadListModel* list = w->list();
        list->addItem(u"http://a/1"_s, u"一"_s, u"pdf"_s, QString(), QString(), DownloadItemState::Failed);
        list->setReason(0, u"HTTP 404（未找到）"_s);
        auto* view = child<QTableView>(w, u"ListView3"_s);
        QVERIFY(view->isColumnHidden(DownloadListModel::ReasonColumn));
        QCOMPARE(view->model()->index(0, DownloadListModel::NameColumn).data(Qt::ToolTipRole).toString(),
                 u"HTTP 404（未找到）"_s);

        emit view->horizontalHeader()->customContextMenuRequested(QPoint(5, 5));
        auto* menu = child<QMenu>(w, u"menu列标题"_s);
        QTRY_VERIFY(menu->isVisible());
        QAction* shown = child<QAction>(menu, u"menu显示原因"_s);
        QVERIFY(!shown->isChecked());
        shown->trigger();
        menu->hide();
        QVERIFY(!view->isColumnHidden(DownloadListModel::ReasonColumn));

        QCOMPARE(exportAllNames(w, p.dir.filePath(u"reasons.txt"_s)),
                 u"一\tHTTP 404（未找到）\r\n"_s.toUtf8());
    }

    // A row that changes every 10 ms (bytes, percentage) is repainted at most once per 100 ms.
    void rowRepaintsAreCoalesced()
    {
        Program p(m_server.url().toString());
        fFileDownload* w = p.gui.downloadWindow();
        DownloadListModel* list = w->list();
        for (const QString& name : {u"一"_s, u"二"_s})
            list->addItem(u"http://a/"_s + name, name, u"pdf"_s, p.at(u"docs"_s), QString());
        w->show();
        auto* view = child<QTableView>(w, u"ListView3"_s);
        QTRY_VERIFY(view->isVisible());
        QTest::qWait(200);

        struct PaintCounter : QObject
        {
            QTableView* view = nullptr;
            int paints = 0;
            bool eventFilter(QObject* watched, QEvent* event) override
            {
                if (event->type() == QEvent::Paint &&
                    static_cast<QPaintEvent*>(event)->region().intersects(
                        QRect(0, view->rowViewportPosition(0) + 2, view->viewport()->width(),
                              view->rowHeight(0) - 4)))
                    ++paints;
                return QObject::eventFilter(watched, event);
            }
        } counter;
        counter.view = view;
        view->viewport()->installEventFilter(&counter);
        QElapsedTimer clock;
        clock.start();
        for (int i = 1; i <= 40; ++i) {
            list->setTransferColumns(0, u"1000"_s, QString::number(i * 25),
                                     QString::number(i * 25 / 10) + u'%');
            QTest::qWait(10);
        }
        QTest::qWait(150);
        QVERIFY2(counter.paints >= 2, "the row was not repainted");
        QVERIFY2(counter.paints <= clock.elapsed() / 100 + 1, qPrintable(QString::number(counter.paints)));
        view->viewport()->removeEventFilter(&counter);
    }

    // "删除重复文件" starts unticked in every window (the choice is not kept); ticked, a finished file
    // with the bytes of an earlier row's file goes, and its row tells which row it repeats.
    void deleteDuplicatesBox()
    {
        Program p(m_server.url().toString());
        fFileDownload* w = p.gui.downloadWindow();
        auto* box = child<QCheckBox>(w, u"CheckDeleteDuplicates"_s);
        QVERIFY(!box->isChecked());
        box->click();
        child<QComboBox>(w, u"Combo1"_s)->setCurrentIndex(0); // one at a time: the first is the original
        DownloadListModel* list = w->list();
        for (const QString& name : {u"一"_s, u"二"_s}) {
            const QString key = m_server.url(u"/same/"_s + name).toString();
            list->addItem(key, name, u"pdf"_s, p.at(u"docs"_s), QString());
        }
        for (int row = 0; row < 2; ++row) {
            w->scheduler()->timerDownTick();
            QTRY_COMPARE(list->at(row).state, DownloadItemState::Done);
        }
        QTRY_COMPARE(list->at(1).reason, u"与「一」是同一个文件，已删除"_s);
        QVERIFY(QFileInfo::exists(list->at(0).filePath()));
        QVERIFY(!QFileInfo::exists(list->at(1).filePath()));
        QVERIFY(w->close());
        QVERIFY(!child<QCheckBox>(p.gui.downloadWindow(), u"CheckDeleteDuplicates"_s)->isChecked());
    }

    // A click on a row shows its file in panel 2, also on the row that is current already; a click on
    // the panel opens the text in the web browser, and "打开网址" the row's first address.
    void rowClickPanelAndAddress()
    {
        Program p(m_server.url().toString());
        fFileDownload* w = p.gui.downloadWindow();
        const QString opened = p.dir.filePath(u"browser-args"_s);
        const QString browser = p.dir.filePath(u"browser.sh"_s);
        {
            QFile script(browser);
            QVERIFY(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\nprintf '%s\\n' \"$@\" >> '" + opened.toUtf8() + "'\n");
        }
        QVERIFY(QFile::setPermissions(browser, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
        qputenv("BROWSER", browser.toUtf8());
        const auto openedTexts = [&opened] {
            QFile f(opened);
            return f.open(QIODevice::ReadOnly)
                       ? QString::fromUtf8(f.readAll()).split(u'\n', Qt::SkipEmptyParts)
                       : QStringList();
        };

        DownloadListModel* list = w->list();
        const QString folder = p.at(u"docs"_s) + QDir::separator();
        list->addItem(u"http://a/1|http://b/1"_s, u"一"_s, u"pdf"_s, folder, QString());
        auto* view = child<QTableView>(w, u"ListView3"_s);
        w->show();
        const QPoint onRow = view->visualRect(view->model()->index(0, 1)).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, onRow);
        QCOMPARE(w->statusPanel(2), QString());
        QVERIFY(QDir().mkpath(folder));
        QFile file(list->at(0).filePath());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, onRow); // the current row again
        QCOMPARE(w->statusPanel(2), list->at(0).filePath());

        QTest::mouseClick(child<QLabel>(w, u"StatusPanel2"_s), Qt::RightButton); // opens nothing
        QTest::mouseClick(child<QLabel>(w, u"StatusPanel2"_s), Qt::LeftButton);
        QTRY_COMPARE(openedTexts(), QStringList{list->at(0).filePath()});
        w->findChild<QAction*>(u"menu打开网址"_s)->trigger();
        QTRY_COMPARE(openedTexts(), (QStringList{list->at(0).filePath(), u"http://a/1"_s}));
        // An address no browser is given is said to fail.
        list->addItem(u"ftpx://a/2"_s, u"二"_s, u"pdf"_s, folder, QString());
        view->setCurrentIndex(view->model()->index(1, 1));
        w->findChild<QAction*>(u"menu打开网址"_s)->trigger();
        QVERIFY(p.lastMessageIs(MessageIcon::Error, u"打开失败！"_s));
        qunsetenv("BROWSER");
    }

    // The list menu, opened from the menu bar as from the list, offers what the state allows.
    void listMenuFollowsTheState()
    {
        Program p(m_server.url().toString());
        fFileDownload* w = p.gui.downloadWindow();
        w->list()->addItem(m_server.url(u"/never"_s).toString(), u"一"_s, u"pdf"_s, p.at(u"docs"_s),
                           QString());
        auto* menu = w->findChild<QMenu*>(u"menu列表操作"_s);
        auto* stop = w->findChild<QAction*>(u"menu停止下载"_s);
        auto* clear = w->findChild<QAction*>(u"menu清空"_s);
        for (const bool downloading : {false, true, false}) {
            w->findChild<QAction*>(downloading ? u"menu下载全部"_s : u"menu停止下载"_s)->trigger();
            emit menu->aboutToShow();
            QCOMPARE(stop->isEnabled(), downloading);
            QCOMPARE(clear->isEnabled(), !downloading);
        }
    }

    void listOperationsFromTheMenus()
    {
        Program p(m_server.url().toString());
        fFileDownload* w = p.gui.downloadWindow();
        DownloadListModel* list = w->list();
        list->addItem(u"http://a/1|http://b/1"_s, u"一"_s, u"pdf"_s, QString(), QString());
        list->addItem(u"http://a/2"_s, u"二"_s, u"doc"_s, QString(), u"http://A/ref"_s);
        list->setState(0, DownloadItemState::Failed);

        w->findChild<QAction*>(u"menu重新下载出错项"_s)->trigger();
        QCOMPARE(list->at(0).key, u"http://b/1|http://a/1"_s);
        QCOMPARE(list->at(0).state, DownloadItemState::Waiting);

        QCOMPARE(exportAllNames(w, p.dir.filePath(u"names.txt"_s)), QByteArray("一\r\n二\r\n"));
        const qsizetype shown = p.messages.size();
        QVERIFY(exportAllNames(w, p.dir.filePath(u"missing/names.txt"_s)).isEmpty());
        QCOMPARE(p.messages.size(), shown + 1); // the write failed beside the window: said

        // The sort by header refuses nothing while idle and orders numbers as numbers.
        list->setSize(0, u"100"_s);
        list->setSize(1, u"9"_s);
        auto* header = child<QTableView>(w, u"ListView3"_s)->horizontalHeader();
        emit header->sectionClicked(DownloadListModel::SizeColumn);
        QCOMPARE(list->at(0).size, u"100"_s);
        emit header->sectionClicked(DownloadListModel::SizeColumn);
        QCOMPARE(list->at(0).size, u"9"_s);

        w->findChild<QAction*>(u"menu清空"_s)->trigger();
        QVERIFY(p.lastMessageIs(MessageIcon::PlainQuestion, u"您确定要清空列表的所有信息吗？"_s));
        QCOMPARE(list->count(), 0);
        QCOMPARE(child<QLabel>(w, u"Label1"_s)->text(), u"0条"_s);
    }
};

QTEST_MAIN(TestDownloadWindow)
#include "tst_downloadwindow.moc"
