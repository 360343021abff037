#include "ReadingBrowser.h"
#include "TestHttpServer.h"
#include "app/HeadlessBrowser.h"
#include "app/ProgramSettings.h"
#include "app/SettingsStore.h"
#include "controls/NetworkContext.h"
#include "download/DownloadListModel.h"
#include "download/DownloadSession.h"
#include "download/LoginAssistant.h"
#include "util/Wait.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <optional>

using namespace Qt::StringLiterals;
using namespace lintbay;
using namespace lintbay::test;

class TestDownloadSession : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    SettingsStore m_store{m_dir.filePath(u"Lintbay.ini"_s)};

private slots:
    // The session works by the program's settings as they change, wherever they are changed.
    void followsTheSettings()
    {
        ProgramSettings settings(m_store);
        NetworkContext network;
        DownloadSession session(settings, network);
        settings.setDownloadMode(DownloadMode::Single);
        settings.setNamePolicy(NamePolicy::Skip);
        settings.setMaxFileSizeMB(0.5);
        settings.setDefaultSavePath(m_dir.filePath(u"docs"_s));
        const Scheduler::Options& o = session.options();
        QCOMPARE(o.downloadMode, DownloadMode::Single);
        QCOMPARE(o.policy, NamePolicy::Skip);
        QCOMPARE(o.maxFileSizeMB, 0.5);
        QVERIFY(session.list().addItem(u"http://x/1"_s, u"n"_s, u"pdf"_s, QString(), QString()));
        QCOMPARE(session.list().at(0).folder, folderWithSeparator(m_dir.filePath(u"docs"_s)));
    }

    // Events that run during a wait may free the wait's owner; the wait then ends at once and the
    // sequence touches nothing more of it.
    void ownerFreedDuringAWait_data()
    {
        QTest::addColumn<bool>("pump");
        QTest::newRow("wait") << false;
        QTest::newRow("pump") << true;
    }
    void ownerFreedDuringAWait()
    {
        QFETCH(bool, pump);
        auto* owner = new QObject;
        QTimer::singleShot(0, owner, [owner] { delete owner; });
        if (pump)
            QVERIFY(!pumpEventsFor(owner));
        else
            QCOMPARE(waitUntil(owner, {}, 10000), WaitResult::OwnerGone);
    }

    void sequenceRefusesASecondStart()
    {
        auto* sequences = new Sequences;
        {
            const SequenceGuard first(*sequences, u"login"_s);
            QVERIFY(first);
            QVERIFY(!SequenceGuard(*sequences, u"login"_s));
            QVERIFY(SequenceGuard(*sequences, u"browse"_s));
            QVERIFY(sequences->isRunning());
            delete sequences; // the guard outlives its owner without harm
        }
    }

    // The account is typed into the login page only, never into the page shown before it (a site of
    // the results) when the login page is late or is being opened by "浏览"; the page the login
    // address leads to is filled, also when it is the one shown already.
    void loginFillsOnlyTheLoginPage_data()
    {
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("login");
        QTest::addColumn<bool>("browsing");
        QTest::addColumn<bool>("sent");
        QTest::addColumn<int>("reloadMs"); // the page shown reloaded while the login page comes
        QTest::addColumn<bool>("shownOnLoginHost"); // on the login address's host, at another port
        QTest::newRow("login page in time") << u"/elsewhere"_s << u"/login"_s << false << true << -1 << false;
        QTest::newRow("login page too slow")
            << u"/elsewhere"_s << u"/slow"_s << false << false << -1 << false;
        QTest::newRow("login page being opened")
            << u"/elsewhere"_s << u"/login"_s << true << false << -1 << false;
        QTest::newRow("led to another site, shown already")
            << u"/sso"_s << u"/to-sso"_s << false << true << -1 << false;
        QTest::newRow("page shown reloaded meanwhile")
            << u"/elsewhere"_s << u"/slow"_s << false << false << 200 << false;
        QTest::newRow("login address shows nothing")
            << u"/elsewhere"_s << u"/empty"_s << false << false << -1 << false;
        QTest::newRow("login page too slow, another port of its host")
            << u"/elsewhere"_s << u"/slow"_s << false << false << -1 << true;
    }

    void loginFillsOnlyTheLoginPage()
    {
        QFETCH(QString, shown);
        QFETCH(QString, login);
        QFETCH(bool, browsing);
        QFETCH(bool, sent);
        QFETCH(int, reloadMs);
        QFETCH(bool, shownOnLoginHost);
        const auto form = [](const QString& action) {
            return TestHttpResponse::html(u"<form method=\"post\" action=\"%1\"><input name=\"user\">"
                                          "<input name=\"password\"><input type=\"submit\"></form>"_s.arg(action));
        };
        TestHttpServer server;
        TestHttpServer otherPort;
        server.serve(u"/elsewhere"_s, form(u"/stolen"_s));
        otherPort.serve(u"/elsewhere"_s, form(u"/stolen"_s));
        server.serve(u"/login"_s, form(u"/dologin"_s));
        server.serve(u"/sso"_s, form(u"/dologin"_s));
        auto slow = form(u"/dologin"_s);
        slow.delayMs = 8000;
        server.serve(u"/slow"_s, slow);
        server.serve(u"/to-sso"_s, TestHttpResponse::redirect(server.url(u"/sso"_s).toEncoded()));
        TestHttpResponse empty;
        empty.status = 204;
        server.serve(u"/empty"_s, empty);
        QNetworkAccessManager nam;
        nam.setProxy(QNetworkProxy::NoProxy);
        HeadlessBrowser browser(&nam);
        QUrl shownUrl = shownOnLoginHost ? otherPort.url(shown) : server.url(shown);
        if (shownOnLoginHost)
            shownUrl.setHost(u"localhost"_s);
        browser.navigate(shownUrl);
        QTRY_VERIFY(!browser.isBusy() && browser.document());

        ProgramSettings settings(m_store);
        NetworkContext network;
        DownloadSession session(settings, network);
        LoginAssistant& assistant = session.login();
        assistant.setBrowser(&browser);
        assistant.pageWaitMs = 2000; // room for a loaded machine; the slow page is far slower
        assistant.settleMs = 0;
        // Another host than the page shown: the same server by its name.
        QUrl address = server.url(login);
        address.setHost(u"localhost"_s);
        assistant.address = address.toString();
        assistant.account = u"alice"_s;
        assistant.password = u"secret"_s;
        std::optional<SequenceGuard> browse;
        if (browsing)
            browse.emplace(session.sequences(), kBrowseSequence);
        if (reloadMs >= 0)
            QTimer::singleShot(reloadMs, &browser, [&browser] { browser.reload(); });
        QVERIFY(assistant.LoginNow());
        QCOMPARE(assistant.submitted(), sent);
        if (sent)
            QTRY_COMPARE(server.requestsTo(u"/dologin"_s).size(), 1);
        QTest::qWait(100);
        QVERIFY(server.requestsTo(u"/stolen"_s).isEmpty());
        QVERIFY(otherPort.requestsTo(u"/stolen"_s).isEmpty());
    }

    // The download window went away (and its session with it) while a login waited for its page.
    // The session freed while a login waits: for its page, or for the contents of the page shown
    // before it when the login page is slow to come (a real browser's script sends them later).
    void sessionFreedDuringALogin_data()
    {
        QTest::addColumn<int>("pageDelayMs");
        QTest::addColumn<int>("pageWaitMs");
        QTest::addColumn<int>("contentsDelayMs");
        QTest::newRow("waiting for the page") << 300 << 10000 << 0;
        QTest::newRow("reading the page before it") << 300 << 50 << 300;
    }
    void sessionFreedDuringALogin()
    {
        QFETCH(int, pageDelayMs);
        QFETCH(int, pageWaitMs);
        QFETCH(int, contentsDelayMs);
        TestHttpServer server;
        auto page = TestHttpResponse::html(u"<input type=\"submit\" id=\"submitip\">"_s);
        page.delayMs = pageDelayMs;
        server.serve(u"/login"_s, page);
        server.serve(u"/before"_s, TestHttpResponse::html(u"<p>results</p>"_s));
        QNetworkAccessManager nam;
        ReadingBrowser browser(&nam);
        browser.navigate(server.url(u"/before"_s));
        QTRY_VERIFY(!browser.isBusy());
        browser.delayMs = contentsDelayMs;
        ProgramSettings settings(m_store);
        NetworkContext network;
        QPointer<DownloadSession> session = new DownloadSession(settings, network);
        LoginAssistant& login = session->login();
        login.setBrowser(&browser);
        login.address = server.url(u"/login"_s).toString();
        login.ipLogin = true;
        login.pageWaitMs = pageWaitMs;
        QTimer::singleShot(150, session, [&session] { delete session.data(); });
        QVERIFY(!login.LoginNow());
        QVERIFY(!session);
    }
};

QTEST_GUILESS_MAIN(TestDownloadSession)
#include "tst_downloadsession.moc"
