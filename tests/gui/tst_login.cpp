#include "TestHttpServer.h"
#include "app/GuiContext.h"
#include "app/AppContext.h"
#include "app/SettingsStore.h"
#include "controls/NetworkContext.h"
#include "download/LoginAssistant.h"
#include "download/fFileDownload.h"
#include "options/IniRegistry.h"
#include "util/Messages.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QWebEngineProfile>

using namespace Qt::StringLiterals;
using namespace lintbay;
using namespace lintbay::test;

// The login panel's browser logs in on a local site, and the downloads then carry its session.
class TestLogin : public QObject
{
    Q_OBJECT
private:
    TestHttpServer m_server;
    QByteArray m_lastLogin;

    QByteArray fetch(NetworkContext& net, const QString& path)
    {
        QNetworkReply* reply = net.manager()->get(net.makeRequest(m_server.url(path)));
        QSignalSpy done(reply, &QNetworkReply::finished);
        done.wait(5000);
        const QByteArray body = reply->readAll();
        reply->deleteLater();
        return body;
    }

private slots:
    void initTestCase()
    {
        m_server.serve(u"/login"_s, TestHttpResponse::html(
            u"<html><body><form method=\"post\" action=\"/dologin\">"
            "<input name=\"UserName\"><input name=\"PassWord\" type=\"password\">"
            "<input type=\"submit\" value=\"登录\"></form></body></html>"_s));
        m_server.serve(u"/othernames"_s, TestHttpResponse::html(
            u"<html><body><form method=\"post\" action=\"/dologin\">"
            "<input name=\"login\"><input name=\"pwd\"><input type=\"submit\"></form></body></html>"_s));
        m_server.serve(u"/iplogin"_s, TestHttpResponse::html(
            u"<html><body><form method=\"get\" action=\"/ipok\"><input type=\"submit\" id=\"submitip\">"
            "</form></body></html>"_s));
        m_server.route(u"/dologin"_s, [this](const TestHttpRequest& r) {
            m_lastLogin = r.body;
            auto response = TestHttpResponse::html(u"<p>welcome</p>"_s);
            if (r.body.contains("UserName=alice") && r.body.contains("PassWord=secret"))
                response.withHeader("Set-Cookie", "session=ok; Path=/");
            return response;
        });
        m_server.serve(u"/ipok"_s, TestHttpResponse::html(u"<p>ip ok</p>"_s).withHeader("Set-Cookie", "ip=ok; Path=/"));
        m_server.route(u"/protected/doc.pdf"_s, [](const TestHttpRequest& r) {
            if (r.header("Cookie").contains("session=ok"))
                return TestHttpResponse::bytes("%PDF-1.4 secret document", "application/pdf");
            return TestHttpResponse::html(u"<p>please log in</p>"_s);
        });
    }

    void loginServesTheDownloads()
    {
        QTemporaryDir dir;
        SettingsStore settings(dir.filePath(u"Lintbay.ini"_s));
        IniRegistry registry(dir.filePath(u"registry.ini"_s));
        AppContext app(settings, registry);
        GuiContext gui(app, new QWebEngineProfile(this));
        QStringList messages;
        SetMessageSink([&](MessageIcon, const QString& text) {
            messages << text;
            return true;
        });
        auto* w = new fFileDownload(gui);
        LoginAssistant* login = w->login();
        login->settleMs = 50;

        QVERIFY(!fetch(gui.network(), u"/protected/doc.pdf"_s).startsWith("%PDF"));

        // Missing address: the message, and automatic login stays off.
        auto* autoLogin = w->findChild<QCheckBox*>(u"Check2"_s);
        autoLogin->click();
        QCOMPARE(messages.constLast(), u"必须先设置登录网址！"_s);
        QVERIFY(!autoLogin->isChecked());
        w->findChild<QLineEdit*>(u"Text1"_s)->setText(m_server.url(u"/login"_s).toString());
        w->findChild<QPushButton*>(u"Command5"_s)->click();
        QCOMPARE(messages.constLast(), u"帐号登录,必须先设置登录帐号和登录密码！"_s);

        // Fields named in capitals are filled, and the form is sent.
        w->findChild<QLineEdit*>(u"Text2"_s)->setText(u" alice "_s);
        w->findChild<QLineEdit*>(u"Text3"_s)->setText(u"secret"_s);
        w->findChild<QPushButton*>(u"Command5"_s)->click();
        QCOMPARE(login->filledFields(), 2);
        QVERIFY(login->submitted());
        QTRY_VERIFY(m_lastLogin.contains("UserName=alice"));
        QTRY_VERIFY_WITH_TIMEOUT(fetch(gui.network(), u"/protected/doc.pdf"_s).startsWith("%PDF"), 10000);

        // Other field names: nothing filled, nothing sent.
        m_lastLogin.clear();
        w->findChild<QLineEdit*>(u"Text1"_s)->setText(m_server.url(u"/othernames"_s).toString());
        w->LoginNow(true);
        QCOMPARE(login->filledFields(), 0);
        QVERIFY(!login->submitted());
        QVERIFY(m_lastLogin.isEmpty());

        // IP login clicks "submitip"; the address alone is enough for automatic login.
        w->findChild<QLineEdit*>(u"Text1"_s)->setText(m_server.url(u"/iplogin"_s).toString());
        w->findChild<QLineEdit*>(u"Text2"_s)->clear();
        w->findChild<QRadioButton*>(u"Option5"_s)->setChecked(true);
        autoLogin->click();
        QVERIFY(autoLogin->isChecked());
        w->LoginNow(false);
        QVERIFY(login->submitted());
        QTRY_VERIFY(!m_server.requestsTo(u"/ipok"_s).isEmpty());

        delete w;
        SetMessageSink({});
    }
};

QTEST_MAIN(TestLogin)
#include "tst_login.moc"
