#include "TestHttpServer.h"
#include "TestProgram.h"
#include "app/AppContext.h"
#include "app/GuiContext.h"
#include "app/HeadlessBrowser.h"
#include "app/PageDecoding.h"
#include "app/SettingsStore.h"
#include "app/fCover.h"
#include "download/DownloadSession.h"
#include "download/LoginAssistant.h"
#include "options/BrowserEmulation.h"
#include "options/IniRegistry.h"
#include "search/ResultListModel.h"
#include "search/SearchSession.h"
#include "search/fWebSearch.h"
#include "util/AnsiCodec.h"
#include "util/FileDialogs.h"
#include "util/Messages.h"
#include "util/TextFile.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace lintbay;
using namespace lintbay::test;

namespace {
// One program's worth of windows over temporary settings, with folders chosen at hand-over, so that
// a batch asks for none.
struct Program : TestProgram
{
    explicit Program(const QString& engine)
        : TestProgram({{keys::kSearchEngine, engine}, {keys::kPromptSavePath, u"0"_s}})
    {
    }
};

template <typename T> T* child(QWidget* w, const QString& name)
{
    T* c = w->findChild<T*>(name);
    if (!c)
        qFatal("no child %s", qPrintable(name));
    return c;
}
} // namespace

class TestWindows : public QObject
{
    Q_OBJECT
private:
    TestHttpServer m_server;

private slots:
    void initTestCase()
    {
        m_server.routePrefix(u"/"_s, [](const TestHttpRequest&) {
            return TestHttpResponse::html(u"<html><body><p>engine</p></body></html>"_s);
        });
        m_server.route(u"/gbk"_s, [](const TestHttpRequest&) {
            return TestHttpResponse::html(
                toAnsiBytes(
                    u"<html><head><meta charset=gbk><title>t</title></head><body>中文页面</body></html>"),
                "gbk");
        });
    }

    void startupOpensTheSearchWindowWithItsSettings()
    {
        Program p(m_server.url().toString());
        p.store.set(u"fWebSearch"_s, u"Text1"_s, u"机器学习\r\n深度学习"_s);
        p.store.set(u"fWebSearch"_s, u"combo1"_s, u"5"_s);
        p.store.set(u"fWebSearch"_s, u"check1"_s, u"0"_s);
        m_server.clearLog();

        fCover* cover = p.start();
        QCOMPARE(child<QLabel>(cover, u"Label2"_s)->text(), u"版本:1.0.0"_s);
        auto* open = child<QPushButton>(cover, u"Command1"_s);
        QVERIFY(!open->isEnabled());
        QTRY_VERIFY(open->isEnabled());
        QVERIFY(!child<QLabel>(cover, u"Label1"_s)->isVisible());

        // A second click that arrives while the window is being made shows that same window.
        QTimer::singleShot(0, open, &QPushButton::click);
        open->click();
        fWebSearch* search = p.gui.search;
        QVERIFY(search);
        int searchWindows = 0;
        for (const QWidget* widget : QApplication::topLevelWidgets())
            searchWindows += qobject_cast<const fWebSearch*>(widget) ? 1 : 0;
        QCOMPARE(searchWindows, 1);
        QVERIFY(search->isVisible());
        QVERIFY(!cover->isVisible());
        QVERIFY(IsFormLoaded(u"FWEBSEARCH"_s));
        QCOMPARE(child<QPlainTextEdit>(search, u"Text1"_s)->toPlainText(), u"机器学习\n深度学习"_s);
        QCOMPARE(child<QComboBox>(search, u"Combo1"_s)->count(), 121);
        QCOMPARE(child<QComboBox>(search, u"Combo1"_s)->currentText(), u"5"_s);
        QVERIFY(!child<QCheckBox>(search, u"Check1"_s)->isChecked());
        QVERIFY(child<QCheckBox>(search, u"Check2"_s)->isChecked());
        // Both stored as ticked: the later one wins and unticks the other.
        QVERIFY(!child<QCheckBox>(search, u"Check13"_s)->isChecked());
        QVERIFY(child<QCheckBox>(search, u"Check14"_s)->isChecked());
        QVERIFY(child<QCheckBox>(search, u"Check15"_s)->isChecked());
        QVERIFY(search->browser()->isSilent());
        QVERIFY(search->windowTitle().startsWith(u"百度页面数据检索分析-"_s));
        QTRY_VERIFY(!m_server.requestsTo(u"/"_s).isEmpty()); // the engine's home page

        // Closing it, idle, saves its settings and brings back the start-up window.
        child<QPlainTextEdit>(search, u"Text1"_s)->setPlainText(u"新的关键词"_s);
        child<QComboBox>(search, u"Combo1"_s)->setCurrentIndex(0);
        child<QCheckBox>(search, u"Check13"_s)->setChecked(true);
        QVERIFY(search->close());
        QVERIFY(cover->isVisible());
        QVERIFY(!IsFormLoaded(u"fWebSearch"_s));
        QCOMPARE(p.store.get(u"fWebSearch"_s, u"Text1"_s), u"新的关键词"_s);
        QCOMPARE(p.store.get(u"fWebSearch"_s, u"combo1"_s), u"0"_s);
        QCOMPARE(p.store.get(u"fWebSearch"_s, u"check13"_s), u"1"_s);
        QCOMPARE(p.store.get(u"fWebSearch"_s, u"check14"_s), u"0"_s);

        // Quitting restores the emulation level nobody chose and ends the program.
        QVERIFY(cover->close());
        QCOMPARE(p.endProgramCalls, 1);
        QCOMPARE(p.registry.RegReadDword(browserEmulationKeyPath(), browserEmulationValueName(), u"32"_s),
                 u"11000"_s);
    }

    void closeIsRefusedWhileABatchRuns()
    {
        TestHttpServer server;
        server.serve(u"/s"_s, TestHttpResponse::never());
        server.serve(u"/"_s, TestHttpResponse::html(u"<p>home</p>"_s));
        Program p(server.url().toString());
        fWebSearch* search = p.openSearch();
        QVERIFY(search);
        child<QPlainTextEdit>(search, u"Text1"_s)->setPlainText(u"a\r\nb"_s);
        auto* batch = child<QPushButton>(search, u"Command1"_s);

        bool closed = true;
        QString captionWhileRunning;
        connect(&server, &TestHttpServer::requestReceived, search, [&](const TestHttpRequest& r) {
            if (r.path != u"/s"_s)
                return;
            QTimer::singleShot(0, search, [&] {
                captionWhileRunning = batch->text();
                closed = search->close();
                batch->click(); // "停止批量搜索"
            });
        });
        QTimer::singleShot(0, batch, &QPushButton::click);
        QTRY_VERIFY(!captionWhileRunning.isEmpty());
        QTRY_COMPARE(batch->text(), u"开始批量搜索提取"_s);
        QTRY_VERIFY(batch->isEnabled());

        QCOMPARE(captionWhileRunning, u"停止批量搜索"_s);
        QVERIFY(!closed);
        QVERIFY(search->isVisible());
        QVERIFY(p.lastMessageIs(MessageIcon::Error, u"正在工作，停止以后才能退出！"_s));
        QCOMPARE(server.requestsTo(u"/s"_s).size(), 1);
        QVERIFY(search->session()->allIdle());
        QVERIFY(search->close());
    }

    // Clicks handled while the download window's login, or its panel, waits for a page run inside
    // that wait: no search run starts there.
    void noSearchRunStartsInsideALogin_data()
    {
        QTest::addColumn<QString>("sequence");
        QTest::newRow("login") << kLoginSequence;
        QTest::newRow("login page opening") << kBrowseSequence;
    }
    void noSearchRunStartsInsideALogin()
    {
        QFETCH(QString, sequence);
        Program p(m_server.url().toString());
        fWebSearch* search = p.openSearch();
        QVERIFY(search);
        child<QPlainTextEdit>(search, u"Text1"_s)->setPlainText(u"a"_s);
        QTRY_VERIFY(search->session()->allIdle()); // the home page read
        const SequenceGuard login(p.app.openDownloadSession().sequences(), sequence);
        const qsizetype asked = m_server.requests().size();
        for (const QString& button : {u"Command1"_s, u"Command4"_s}) {
            p.messages.clear();
            child<QPushButton>(search, button)->click();
            QVERIFY2(p.lastMessageIs(MessageIcon::Error, u"正在登录网站，请等登录结束以后使用该功能！"_s),
                     qPrintable(button + u": "_s + p.messageTexts().join(u" / "_s)));
        }
        QVERIFY(search->session()->allIdle());
        QCOMPARE(m_server.requests().size(), asked);
    }

    void dayCountMustBeANumber()
    {
        Program p(m_server.url().toString());
        fWebSearch* search = p.openSearch();
        QVERIFY(search);
        auto* days = child<QCheckBox>(search, u"Check5"_s);
        auto* text = child<QLineEdit>(search, u"Text2"_s);
        days->setChecked(true);
        text->setText(u"abc"_s);
        // The window losing focus to another program, or a menu opening, is no leaving of the box.
        for (Qt::FocusReason away : {Qt::ActiveWindowFocusReason, Qt::PopupFocusReason}) {
            QFocusEvent elsewhere(QEvent::FocusOut, away);
            QApplication::sendEvent(text, &elsewhere);
        }
        QVERIFY(days->isChecked());
        QVERIFY(p.messages.isEmpty());
        QFocusEvent out(QEvent::FocusOut, Qt::TabFocusReason);
        QApplication::sendEvent(text, &out);
        QVERIFY(!days->isChecked());
        QVERIFY(p.lastMessageIs(MessageIcon::Error, u"必须填写数字！"_s));

        days->setChecked(true);
        text->setText(u"7.6"_s);
        p.messages.clear();
        QApplication::sendEvent(text, &out);
        QVERIFY(days->isChecked());
        QVERIFY(p.messages.isEmpty());
        QVERIFY(search->queryOptions().dayLimit);
    }

    void resultListOperations()
    {
        Program p(m_server.url().toString());
        fWebSearch* search = p.openSearch();
        QVERIFY(search);
        ResultListModel* list = search->results();
        auto* counter = child<QLabel>(search, u"Label1"_s);
        const auto fill = [list] {
            list->clear();
            list->加入LV1(u"机器学习 PDF"_s, u"k1"_s, u"p"_s, u"PDF"_s, QString());
            list->加入LV1(u"深度學習"_s, u"k2"_s, u"p"_s, u"doc"_s, QString());
            list->加入LV1(u"にほんご pdf"_s, u"k3"_s, u"p"_s, u"PDF"_s, QString());
            list->加入LV1(u"统计"_s, u"k4"_s, u"p"_s, QString(), QString());
        };
        const auto trigger = [search](const QString& name) {
            QAction* action = search->findChild<QAction*>(name);
            QVERIFY2(action, qPrintable(name));
            action->trigger();
        };

        fill();
        SetInputPicker(
            [](const QString& prompt) { return prompt == u"请输入指定字符："_s ? u"pdf"_s : QString(); });
        trigger(u"menu清除标题含指定字符项"_s);
        QCOMPARE(list->titles(), (QStringList{u"深度學習"_s, u"统计"_s}));
        QCOMPARE(counter->text(), u"2"_s);

        fill();
        trigger(u"menu清除标题不含指定字符项"_s);
        QCOMPARE(list->count(), 2);

        fill();
        trigger(u"menu选中含日文项"_s);
        QVERIFY(p.lastMessageIs(MessageIcon::Information, u"选中条数：1"_s));
        auto* view = child<QTableView>(search, u"ListView1"_s);
        QCOMPARE(view->selectionModel()->selectedRows().size(), 1);
        QCOMPARE(view->selectionModel()->selectedRows().constFirst().row(), 2);
        trigger(u"menu清除选中项"_s);
        QCOMPARE(list->count(), 3);
        QVERIFY(!list->containsKey(u"k3"_s));

        trigger(u"menu全部繁体转为简体"_s);
        QVERIFY(p.lastMessageIs(MessageIcon::Information, u"全部繁体转简体完成！"_s));
        QCOMPARE(list->at(1).title, u"深度学习"_s);
        QCOMPARE(list->at(1).key, u"k2"_s);

        // Export: one title a line.
        const QString exported = p.dir.filePath(u"titles"_s);
        SetFileNamePicker([exported](const QString&) { return exported; });
        child<QPushButton>(search, u"Command7"_s)->click();
        QCOMPARE(readTextLines(exported + u".txt"_s), list->titles());
        QVERIFY(p.messages.constLast().text.startsWith(u"保存文件完毕："_s));
        QVERIFY(p.messages.constLast().text.endsWith(u"KB"_s));
        // Into a folder that does not exist: said, not passed over.
        SetFileNamePicker([&p](const QString&) { return p.dir.filePath(u"missing/titles"_s); });
        child<QPushButton>(search, u"Command7"_s)->click();
        QCOMPARE(p.messages.constLast().icon, MessageIcon::Error);
        // The page's source is saved through a dialog that asks before replacing a file.
        SetFileNamePicker({});
        QTimer answer;
        QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
        connect(&answer, &QTimer::timeout, &answer, [&] {
            if (auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget())) {
                mode = dialog->testOption(QFileDialog::DontConfirmOverwrite) ? QFileDialog::AcceptOpen
                                                                             : dialog->acceptMode();
                dialog->reject();
                answer.stop();
            }
        });
        answer.start(20);
        trigger(u"menu网页源码另存为"_s);
        QCOMPARE(mode, QFileDialog::AcceptSave);
        // A page sent in GBK reads back as it was shown, though its markup still declares GBK.
        search->browser()->navigate(m_server.url(u"/gbk"_s));
        QTRY_VERIFY(!search->browser()->isBusy() && search->browser()->url().path() == u"/gbk"_s);
        const QString source = p.dir.filePath(u"source.htm"_s);
        SetFileNamePicker([source](const QString&) { return source; });
        trigger(u"menu网页源码另存为"_s);
        QVERIFY(p.lastMessageIs(MessageIcon::Information, u"已经保存！"_s));
        QFile saved(source);
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QVERIFY(decodePage(saved.readAll(), "text/html").contains(u"中文页面"_s));

        // Removals are refused while a hand-over pass runs.
        search->session()->AnalysisStopFlag = false;
        trigger(u"menu清空全部"_s);
        QVERIFY(p.lastMessageIs(MessageIcon::Error, u"正在分析，不能清除！"_s));
        QCOMPARE(list->count(), 3);
        search->session()->AnalysisStopFlag = true;

        p.answerYes = false;
        trigger(u"menu清空全部"_s);
        QVERIFY(p.lastMessageIs(MessageIcon::Question, u"您确定要清空辛辛苦苦搜索的列表数据吗？"_s));
        QCOMPARE(list->count(), 3);
        p.answerYes = true;
        trigger(u"menu清空全部"_s);
        QCOMPARE(list->count(), 0);
        QCOMPARE(counter->text(), u"0"_s);
    }
};

QTEST_MAIN(TestWindows)
#include "tst_windows.moc"
