#include "TestProgram.h"
// The start-up window's update check as the user meets it, and the about box.
#include "TestHttpServer.h"
#include "Version.h"
#include "app/AboutBox.h"
#include "app/GuiContext.h"
#include "app/AppContext.h"
#include "app/SettingsStore.h"
#include "app/fCover.h"
#include "controls/uXMLHTTP.h"
#include "options/IniRegistry.h"
#include "update/UpdateCheck.h"
#include "util/Messages.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

using namespace Qt::StringLiterals;
using namespace lintbay;
using namespace lintbay::test;

Q_DECLARE_METATYPE(lintbay::test::TestHttpResponse)

namespace {
// Records the addresses the program hands to the default browser.
class BrowserStandIn : public QObject
{
    Q_OBJECT
public:
    BrowserStandIn()
    {
        QDesktopServices::setUrlHandler(u"http"_s, this, "open");
        QDesktopServices::setUrlHandler(u"https"_s, this, "open");
    }
    ~BrowserStandIn() override
    {
        QDesktopServices::unsetUrlHandler(u"http"_s);
        QDesktopServices::unsetUrlHandler(u"https"_s);
    }
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

// The start-up window over temporary settings.
struct Program : TestProgram
{
    BrowserStandIn browser;
};

template <typename T> T* child(QWidget* w, const QString& name)
{
    T* c = w->findChild<T*>(name);
    if (!c)
        qFatal("no child %s", qPrintable(name));
    return c;
}

// A folder on PATH holding stand-ins for the given programs; each writes its arguments to `log`.
bool makeTools(const QString& folder, const QStringList& programs, const QString& log)
{
    for (const QString& name : programs) {
        QFile f(folder + u'/' + name);
        if (!f.open(QIODevice::WriteOnly))
            return false;
        f.write("#!/bin/sh\necho \"" + name.toUtf8() + " $*\" > '" + log.toUtf8() + "'\n");
        f.close();
        if (!f.setPermissions(f.permissions() | QFile::ExeOwner | QFile::ExeUser))
            return false;
    }
    return true;
}

class PathOverride
{
public:
    explicit PathOverride(const QString& path) : m_old(qgetenv("PATH"))
    {
        qputenv("PATH", path.toLocal8Bit());
    }
    ~PathOverride() { qputenv("PATH", m_old); }

private:
    QByteArray m_old;
};
} // namespace

class TestAboutBox : public QObject
{
    Q_OBJECT
private slots:
    void updateCheckAtStartup_data();
    void updateCheckAtStartup();
    void systemInfoTool_data();
    void systemInfoTool();
    void aboutBoxShowsVersionLinksAndStartsTheTool();
};

void TestAboutBox::updateCheckAtStartup_data()
{
    QTest::addColumn<bool>("serverSet");
    QTest::addColumn<TestHttpResponse>("response");
    QTest::addColumn<bool>("newer");
    QTest::addColumn<QString>("error");

    QTest::newRow("newer version") << true << TestHttpResponse::bytes("99.0.0\r\n", "text/plain") << true
                                   << QString();
    QTest::newRow("running version") << true
                                     << TestHttpResponse::bytes(QByteArray(LINTBAY_VERSION_STRING),
                                                                "text/plain")
                                     << false << QString();
    QTest::newRow("malformed answer")
        << true << TestHttpResponse::bytes("99.0", "text/plain") << false << QString();
    QTest::newRow("server error") << true << TestHttpResponse::notFound() << false << u"请保持网络畅通！"_s;
    QTest::newRow("no server set") << false << TestHttpResponse::bytes("99.0.0", "text/plain") << false
                                   << QString();
}

void TestAboutBox::updateCheckAtStartup()
{
    QFETCH(bool, serverSet);
    QFETCH(TestHttpResponse, response);
    QFETCH(bool, newer);
    QFETCH(QString, error);

    TestHttpServer server;
    server.setFallback([response](const TestHttpRequest&) { return response; });
    Program p;
    if (serverSet)
        p.store.set(keys::kSettings, keys::kUpdateAddress, server.url(u"/lintbay"_s).toString());
    fCover* cover = p.start();
    auto* label3 = child<QLabel>(cover, u"Label3"_s);
    QVERIFY(!label3->isVisible());
    QVERIFY(cover->findChild<uXMLHTTP*>(u"uXMLHTTP2"_s));

    QTRY_VERIFY(child<QPushButton>(cover, u"Command1"_s)->isEnabled());
    if (serverSet) {
        QTRY_VERIFY(!cover->updateCheck()->isRunning());
        QCOMPARE(server.requestsTo(u"/lintbay/newver.txt"_s).size(), 1);
    } else {
        QVERIFY(!cover->updateCheck()->isRunning());
        QTest::qWait(50);
        QCOMPARE(server.requestCount(), 0);
    }
    const QUrl page = server.url(u"/lintbay/"_s);

    if (newer) {
        QVERIFY(label3->isVisible());
        QCOMPARE(label3->text(), u"有最新版本：V99.0.0可以下载升级"_s);
        QCOMPARE(p.browser.opened, QList<QUrl>{page});
        QCOMPARE(p.messages.size(), 1);
        QCOMPARE(p.messages.at(0).icon, MessageIcon::Information);
        QCOMPARE(p.messages.at(0).text, u"有最新版本可以升级，请下载安装最新版本。"_s);
        QTest::mouseClick(label3, Qt::LeftButton);
        QCOMPARE(p.browser.opened, (QList<QUrl>{page, page}));
    } else {
        QVERIFY(!label3->isVisible());
        QVERIFY(p.browser.opened.isEmpty());
        if (error.isEmpty()) {
            QVERIFY(p.messages.isEmpty());
        } else {
            QCOMPARE(p.messages.size(), 1);
            QCOMPARE(p.messages.at(0).icon, MessageIcon::Error);
            QCOMPARE(p.messages.at(0).text, error);
        }
    }
}

void TestAboutBox::systemInfoTool_data()
{
    QTest::addColumn<QStringList>("installed");
    QTest::addColumn<QString>("desktop");
    QTest::addColumn<QString>("chosen"); // empty: none
    QTest::addColumn<QStringList>("arguments");

    const QStringList all{u"gnome-control-center"_s, u"kinfocenter"_s, u"xfce4-about"_s, u"hardinfo"_s};
    QTest::newRow("GNOME") << all << u"ubuntu:GNOME"_s << u"gnome-control-center"_s
                           << QStringList{u"info-overview"_s};
    QTest::newRow("KDE prefers its own") << all << u"KDE"_s << u"kinfocenter"_s << QStringList();
    QTest::newRow("Xfce prefers its own") << all << u"XFCE"_s << u"xfce4-about"_s << QStringList();
    QTest::newRow("unknown desktop: first found")
        << all << u"LXQt"_s << u"gnome-control-center"_s << QStringList{u"info-overview"_s};
    QTest::newRow("own tool missing: another one")
        << QStringList{u"hardinfo"_s} << u"KDE"_s << u"hardinfo"_s << QStringList();
    QTest::newRow("none") << QStringList() << u"GNOME"_s << QString() << QStringList();
}

void TestAboutBox::systemInfoTool()
{
    QFETCH(QStringList, installed);
    QFETCH(QString, desktop);
    QFETCH(QString, chosen);
    QFETCH(QStringList, arguments);

    QTemporaryDir bin;
    QVERIFY(makeTools(bin.path(), installed, bin.filePath(u"log"_s)));
    PathOverride path(bin.path());
    const std::optional<SystemInfoTool> tool = FindSystemInfoTool(desktop);
    QCOMPARE(tool.has_value(), !chosen.isEmpty());
    if (tool) {
        QCOMPARE(tool->program, bin.filePath(chosen));
        QCOMPARE(tool->arguments, arguments);
    }
}

void TestAboutBox::aboutBoxShowsVersionLinksAndStartsTheTool()
{
    Program p;
    QTemporaryDir bin;
    const QString log = bin.filePath(u"log"_s);
    QVERIFY(makeTools(bin.path(), {u"hardinfo"_s}, log));

    {
        // Neither a tool nor a server: the button is off and no link is shown.
        PathOverride path(bin.filePath(u"empty"_s));
        AboutBox box(p.gui);
        QVERIFY(
            child<QLabel>(&box, u"lblVersion"_s)->text().contains(QStringLiteral(LINTBAY_VERSION_STRING)));
        QVERIFY(box.windowTitle().startsWith(u"关于-"_s));
        const QString system = p.app.settings().osDescription();
        QVERIFY(system.endsWith(u"位]"_s));
        QCOMPARE(child<QLabel>(&box, u"lblSystem"_s)->text(), u"操作系统："_s + system);
        QVERIFY(!child<QPushButton>(&box, u"cmdSysInfo"_s)->isEnabled());
        QVERIFY(child<QLabel>(&box, u"lblLinks"_s)->isHidden());
    }
    {
        PathOverride path(bin.path());
        p.store.set(keys::kSettings, keys::kUpdateAddress, u"maker.example/soft/lintbay"_s);
        AboutBox box(p.gui);
        auto* links = child<QLabel>(&box, u"lblLinks"_s);
        QVERIFY(!links->isHidden());
        QVERIFY(links->text().contains(u"href=\"http://maker.example/soft/lintbay/\""_s));
        auto* sysInfo = child<QPushButton>(&box, u"cmdSysInfo"_s);
        QVERIFY(sysInfo->isEnabled());
        sysInfo->click();
        const auto logged = [&log] {
            QFile f(log);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        };
        QTRY_COMPARE(logged().trimmed(), QByteArray("hardinfo"));
        QVERIFY(p.messages.isEmpty());
    }

    // The modal form returns when closed.
    QTimer::singleShot(0, this, [] {
        if (QWidget* modal = QApplication::activeModalWidget())
            modal->close();
    });
    AboutBox::showModal(nullptr, p.gui);
}

QTEST_MAIN(TestAboutBox)
#include "tst_aboutbox.moc"
