#include "search/QueryBuilder.h"

#include <QTest>

using namespace Qt::StringLiterals;
using namespace lintbay;

class TestQuery : public QObject
{
    Q_OBJECT
private slots:
    void engineAddresses_data()
    {
        QTest::addColumn<QString>("engine");
        QTest::addColumn<QString>("base");
        QTest::addColumn<QString>("home");
        QTest::addColumn<QString>("domain");
        QTest::newRow("bare host") << u"www.baidu.com"_s << u"https://www.baidu.com/s?"_s
                                   << u"http://www.baidu.com/"_s << u"www.baidu.com"_s;
        QTest::newRow("scheme and port") << u"http://127.0.0.1:8123"_s << u"http://127.0.0.1:8123/s?"_s
                                         << u"http://127.0.0.1:8123/"_s << u"127.0.0.1:8123"_s;
        QTest::newRow("trailing slash, blanks") << u" http://127.0.0.1:8123/ "_s << u"http://127.0.0.1:8123/s?"_s
                                                << u"http://127.0.0.1:8123/"_s << u"127.0.0.1:8123"_s;
        QTest::newRow("the scheme's own port") << u"https://127.0.0.1:443"_s << u"https://127.0.0.1:443/s?"_s
                                               << u"https://127.0.0.1:443/"_s << u"127.0.0.1"_s;
        QTest::newRow("IPv6 host") << u"http://[::1]:8123"_s << u"http://[::1]:8123/s?"_s
                                   << u"http://[::1]:8123/"_s << u"[::1]:8123"_s;
    }
    void engineAddresses()
    {
        QFETCH(QString, engine);
        QFETCH(QString, base);
        QFETCH(QString, home);
        QFETCH(QString, domain);
        QCOMPARE(SearchQueryBase(engine), base);
        QCOMPARE(SearchHomePage(engine), home);
        QCOMPARE(SearchEngineDomain(engine), domain);
    }

    void prefix_data()
    {
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<bool>("phrase");
        QTest::addColumn<bool>("titleOnly");
        QTest::addColumn<bool>("dayLimit");
        QTest::addColumn<QString>("days");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain chinese") << u"机器学习"_s << false << false << false << u"360"_s
                                       << u"B/s?q1=%BB%FA%C6%F7%D1%A7%CF%B0&q5=&tn=baiduadv&lm=0"_s;
        QTest::newRow("phrase and title") << u"  ab  "_s << true << true << false << u"360"_s
                                          << u"B/s?q2=ab&q5=1&tn=baiduadv&lm=0"_s;
        QTest::newRow("days") << u"ab"_s << false << false << true << u"30"_s
                              << u"B/s?q1=ab&q5=&tn=baiduadv&lm=30"_s;
        QTest::newRow("days not numeric") << u"ab"_s << false << false << true << u"abc"_s
                                          << u"B/s?q1=ab&q5=&tn=baiduadv&lm=0"_s;
        QTest::newRow("days rounded") << u"ab"_s << false << false << true << u"7.6"_s
                                      << u"B/s?q1=ab&q5=&tn=baiduadv&lm=8"_s;
        QTest::newRow("days ignored when unticked") << u"ab"_s << false << false << false << u"7"_s
                                                    << u"B/s?q1=ab&q5=&tn=baiduadv&lm=0"_s;
        QTest::newRow("spaces, plus, ampersand") << u"a b+c&d"_s << false << false << false << u""_s
                                                 << u"B/s?q1=a b%2Bc%26d&q5=&tn=baiduadv&lm=0"_s;
    }
    void prefix()
    {
        QFETCH(QString, keyword);
        QFETCH(bool, phrase);
        QFETCH(bool, titleOnly);
        QFETCH(bool, dayLimit);
        QFETCH(QString, days);
        QFETCH(QString, expected);
        QueryOptions o;
        o.exactPhrase = phrase;
        o.titleOnly = titleOnly;
        o.dayLimit = dayLimit;
        o.days = days;
        QCOMPARE(BuildQueryPrefix(u"B/s?"_s, keyword, o), expected);
    }

    void batchOrder()
    {
        const QStringList queries =
            BuildBatchQueries(u"B/s?"_s, u"one\r\n\r\n  \r\ntwo\n"_s, {}, {u"xls"_s, u"pdf"_s});
        QCOMPARE(queries, (QStringList{
                              u"B/s?q1=one&q5=&tn=baiduadv&lm=0&ft=pdf"_s,
                              u"B/s?q1=one&q5=&tn=baiduadv&lm=0&ft=xls"_s,
                              u"B/s?q1=two&q5=&tn=baiduadv&lm=0&ft=pdf"_s,
                              u"B/s?q1=two&q5=&tn=baiduadv&lm=0&ft=xls"_s,
                          }));
        QVERIFY(BuildBatchQueries(u"B/s?"_s, u"\r\n  \r\n"_s, {}, {u"pdf"_s}).isEmpty());
        QVERIFY(BuildBatchQueries(u"B/s?"_s, u"one"_s, {}, {}).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestQuery)
#include "tst_query.moc"
