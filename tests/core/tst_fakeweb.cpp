#include "FakeWeb.h"
#include "search/SearchSession.h"

#include "app/HtmlDocument.h"
#include "app/AppContext.h"
#include "app/SettingsStore.h"
#include "search/QueryBuilder.h"
#include "search/ResultExtractor.h"
#include "search/ResultListModel.h"

#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace Qt::StringLiterals;
using namespace lintbay;
using namespace lintbay::fakeweb;

namespace {

enum Flag
{
    RemoveSpaces = 1,
    SkipUnknownType = 2,
    SkipKana = 4,
    SkipTraditional = 8,
    ToSimplifiedFlag = 16,
};

ExtractionOptions optionsFor(int flags, const QString& engine)
{
    ExtractionOptions o;
    o.removeSpaces = flags & RemoveSpaces;
    o.skipUnknownType = flags & SkipUnknownType;
    o.skipKana = flags & SkipKana;
    o.skipTraditional = flags & SkipTraditional;
    o.toSimplified = flags & ToSimplifiedFlag;
    o.engineDomain = SearchEngineDomain(engine);
    return o;
}

struct Fetched
{
    bool finished = false;
    int status = 0;
    QByteArray body;
    QByteArray contentType;
    QString location;
};

// One GET without following redirects.
Fetched fetch(QNetworkAccessManager& nam, const QUrl& url)
{
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    QNetworkReply* reply = nam.get(request);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    Fetched f;
    f.finished = reply->isFinished() || finished.wait(10000);
    f.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    f.body = reply->readAll();
    f.contentType = reply->rawHeader("Content-Type");
    f.location = QString::fromLatin1(reply->rawHeader("Location"));
    reply->deleteLater();
    return f;
}

// The pager's "下一页>" link, as the page following reads it; empty when the page has none.
QString nextPageHref(const HtmlDocument& doc)
{
    for (const HtmlElement& a : doc.getElementById(u"page"_s).getElementsByTagName(u"a"_s)) {
        if (isNextPageLinkText(a.innerText()))
            return a.href();
    }
    return {};
}

QString rowText(const QString& title, const QString& type, const QString& key, int page)
{
    return title + u" | "_s + type + u" | "_s + key + u" | page "_s + QString::number(page);
}

// Raw query items of a URL except pn, to check that a pager link keeps the query as it was sent.
QStringList itemsWithoutPn(const QUrl& url)
{
    QStringList items = url.query(QUrl::FullyEncoded).split(u'&', Qt::SkipEmptyParts);
    items.removeIf([](const QString& item) { return item.startsWith(u"pn="_s); });
    return items;
}

} // namespace

class TestFakeWeb : public QObject
{
    Q_OBJECT
private slots:
    void pageCounts_data();
    void pageCounts();
    void pageCountsSpread();
    void modelExercisesEveryRule();
    void parseQuery_data();
    void parseQuery();
    void pagerFollowsPages_data();
    void pagerFollowsPages();
    void extractionMatchesModel_data();
    void extractionMatchesModel();
    void pagesAreDeterministic();
    void emptyQueryShowsNoResults();
    void redirectsLeadToFiles_data();
    void redirectsLeadToFiles();
    void unknownPathsAreNotFound_data();
    void unknownPathsAreNotFound();
    void executableServesAndWritesSettings();

private:
    QNetworkAccessManager m_nam;
};

void TestFakeWeb::pageCounts_data()
{
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<int>("pages");
    QTest::newRow("pages3") << u"pages3"_s << 3;
    QTest::newRow("pages1") << u"pages1"_s << 1;
    QTest::newRow("inside a line") << u"机器学习 pages12"_s << 12;
    QTest::newRow("pages0") << u"pages0"_s << 0;
    QTest::newRow("capped") << u"pages999"_s << FakeWebModel::kMaxPages;
    QTest::newRow("empty") << u"empty"_s << 0;
    QTest::newRow("no keyword") << u"  "_s << 0;
    QTest::newRow("pages wins over empty") << u"empty pages2"_s << 2;
}

void TestFakeWeb::pageCounts()
{
    QFETCH(QString, keyword);
    QFETCH(int, pages);
    for (const QString& ft : {u"pdf"_s, u"doc"_s, QString()})
        QCOMPARE(FakeWebModel::pageCount(keyword, ft), pages);
    // Every page but the last is full; the last holds at least a few entries; past it nothing.
    for (int p = 0; p < pages; ++p) {
        const int n = FakeWebModel::entryCount(keyword, u"pdf"_s, p);
        if (p < pages - 1)
            QCOMPARE(n, FakeWebModel::kEntriesPerPage);
        QVERIFY2(n >= 4 && n <= FakeWebModel::kEntriesPerPage, qPrintable(QString::number(n)));
        QCOMPARE(FakeWebModel::entries(keyword, u"pdf"_s, p).size(), n);
    }
    QCOMPARE(FakeWebModel::entryCount(keyword, u"pdf"_s, pages), 0);
    QCOMPARE(FakeWebModel::entryCount(keyword, u"pdf"_s, -1), 0);
}

void TestFakeWeb::pageCountsSpread()
{
    // Ordinary keywords get 1 to 4 pages, the same each time, and all four counts occur.
    QSet<int> seen;
    for (int i = 0; i < 60; ++i) {
        const QString keyword = u"关键词"_s + QString::number(i);
        const int n = FakeWebModel::pageCount(keyword, u"pdf"_s);
        QVERIFY2(n >= 1 && n <= 4, qPrintable(keyword));
        QCOMPARE(FakeWebModel::pageCount(keyword, u"pdf"_s), n);
        QCOMPARE(FakeWebModel::pageCount(u"  "_s + keyword + u" "_s, u"PDF"_s), n);
        seen.insert(n);
    }
    QCOMPARE(seen.size(), 4);
}

void TestFakeWeb::modelExercisesEveryRule()
{
    // A 12-page query shows every entry kind, mark and site rule, and each option drops something
    // that the others keep, so the extraction comparisons below really test every filter.
    const QList<FakeEntry> all = FakeWebModel::allEntries(u"pages12 数据"_s, u"pdf"_s);
    QSet<int> kinds, marks, rules;
    QSet<QString> links;
    for (const FakeEntry& e : all) {
        kinds.insert(int(e.kind));
        marks.insert(int(e.mark));
        rules.insert(int(e.siteRule));
        links.insert(e.link(u"http://h"_s));
    }
    QCOMPARE(kinds.size(), 10);
    QCOMPARE(marks.size(), 3);
    QCOMPARE(rules.size(), 4);
    QCOMPARE(links.size(), all.size()); // keys are unique across the query

    const auto survivors = [&](int flags) {
        int n = 0;
        for (const FakeEntry& e : all)
            n += e.listedTitle(optionsFor(flags, u"http://h"_s)).has_value();
        return n;
    };
    const int none = survivors(0);
    QVERIFY(none > 0);
    for (int flag : {RemoveSpaces, SkipUnknownType, SkipKana, SkipTraditional, ToSimplifiedFlag})
        QVERIFY2(survivors(flag) < none, qPrintable(QString::number(flag)));
}

void TestFakeWeb::parseQuery_data()
{
    QTest::addColumn<QString>("query");
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<bool>("exact");
    QTest::addColumn<QString>("ft");
    QTest::addColumn<int>("page");

    QTest::newRow("gbk q1") << u"q1=%BB%FA%C6%F7%D1%A7%CF%B0&q5=&tn=baiduadv&lm=0&ft=pdf"_s << u"机器学习"_s
                            << false << u"pdf"_s << 0;
    QTest::newRow("q2 and pn") << u"q2=C%2B%2B%20%D6%D0%B9%FA%231&q5=1&tn=baiduadv&lm=7&ft=XLS&pn=20"_s
                               << u"C++ 中国#1"_s << true << u"xls"_s << 2;
    QTest::newRow("form spaces") << u"q1=a+b++c&ft=doc"_s << u"a b c"_s << false << u"doc"_s << 0;
    QTest::newRow("odd pn") << u"q1=x&ft=rtf&pn=15"_s << u"x"_s << false << u"rtf"_s << 1;
    QTest::newRow("bad pn") << u"q1=x&ft=rtf&pn=abc"_s << u"x"_s << false << u"rtf"_s << 0;
    QTest::newRow("negative pn") << u"q1=x&pn=-10"_s << u"x"_s << false << QString() << 0;
    QTest::newRow("empty q1, q2 given") << u"q1=&q2=y"_s << u"y"_s << true << QString() << 0;
    QTest::newRow("nothing") << QString() << QString() << false << QString() << 0;
}

void TestFakeWeb::parseQuery()
{
    QFETCH(QString, query);
    QFETCH(QString, keyword);
    QFETCH(bool, exact);
    QFETCH(QString, ft);
    QFETCH(int, page);
    const SearchQuery q = FakeWebModel::parseQuery(query);
    QCOMPARE(q.keyword, keyword);
    QCOMPARE(q.exactPhrase, exact);
    QCOMPARE(q.ft, ft);
    QCOMPARE(q.page, page);
}

void TestFakeWeb::pagerFollowsPages_data()
{
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<bool>("exactPhrase");
    QTest::newRow("three pages") << u"pages3 机器学习"_s << false;
    QTest::newRow("one page") << u"pages1"_s << false;
    QTest::newRow("phrase, twelve pages") << u"深度 学习 pages12"_s << true;
    QTest::newRow("hashed count") << u"数据挖掘"_s << false;
}

void TestFakeWeb::pagerFollowsPages()
{
    QFETCH(QString, keyword);
    QFETCH(bool, exactPhrase);
    FakeWeb web;
    QueryOptions options;
    options.exactPhrase = exactPhrase;
    options.titleOnly = true;
    const int pages = FakeWebModel::pageCount(keyword, u"ppt"_s);
    QVERIFY(pages > 0);

    QUrl url = web.searchUrl(keyword, u"ppt"_s, 0, options);
    const QStringList firstItems = itemsWithoutPn(url);
    for (int p = 0; p < pages; ++p) {
        const Fetched f = fetch(m_nam, url);
        QVERIFY(f.finished);
        QCOMPARE(f.status, 200);
        QVERIFY2(f.contentType.contains("charset=utf-8"), f.contentType.constData());
        const HtmlDocumentPtr doc = HtmlDocument::parse(QString::fromUtf8(f.body), url);
        QCOMPARE(doc->getElementById(u"page"_s).isNull(), pages == 1);
        const QString next = nextPageHref(*doc);
        if (p == pages - 1) {
            QVERIFY2(next.isEmpty(), qPrintable(next));
            break;
        }
        QVERIFY2(!next.isEmpty(), qPrintable(u"no next link on page %1"_s.arg(p)));
        url = QUrl(next);
        QCOMPARE(url.host(), u"127.0.0.1"_s);
        QCOMPARE(url.port(), int(web.server()->port()));
        QCOMPARE(url.path(), u"/s"_s);
        QCOMPARE(itemsWithoutPn(url), firstItems); // the keyword keeps its GBK bytes, the options stay
        QCOMPARE(QUrlQuery(url).queryItemValue(u"pn"_s), QString::number(FakeWebModel::offsetOfPage(p + 1)));
    }
}

void TestFakeWeb::extractionMatchesModel_data()
{
    QTest::addColumn<QString>("keyword");
    QTest::addColumn<QString>("ft");
    QTest::addColumn<int>("flags");
    QTest::addColumn<bool>("anyKept");
    const QString many = u"pages12 机器学习"_s;
    QTest::newRow("no options") << many << u"pdf"_s << 0 << true;
    QTest::newRow("check1 2 12 13") << many << u"pdf"_s
                                    << (RemoveSpaces | SkipUnknownType | SkipKana | SkipTraditional) << true;
    QTest::newRow("check1 14") << many << u"doc"_s << (RemoveSpaces | ToSimplifiedFlag) << true;
    QTest::newRow("check14") << many << u"xls"_s << int(ToSimplifiedFlag) << true;
    QTest::newRow("check2 12") << many << u"ppt"_s << (SkipUnknownType | SkipKana) << true;
    QTest::newRow("traditional keyword, check13")
        << u"經濟 pages2"_s << u"rtf"_s << int(SkipTraditional) << false;
    QTest::newRow("traditional keyword, check14")
        << u"經濟 pages2"_s << u"rtf"_s << int(ToSimplifiedFlag) << true;
    QTest::newRow("kana keyword, check12") << u"データ pages2"_s << u"pdf"_s << int(SkipKana) << false;
    QTest::newRow("no type asked") << u"数据挖掘"_s << QString() << 0 << true;
}

void TestFakeWeb::extractionMatchesModel()
{
    QFETCH(QString, keyword);
    QFETCH(QString, ft);
    QFETCH(int, flags);
    QFETCH(bool, anyKept);
    FakeWeb web;
    const ExtractionOptions options = optionsFor(flags, web.address());

    // Follow the pages as the batch search does and extract each one into the same list.
    ResultListModel list;
    QStringList expected;
    QUrl url = web.searchUrl(keyword, ft);
    for (int page = 0; !url.isEmpty(); ++page) {
        QVERIFY2(page < FakeWebModel::pageCount(keyword, ft), "more pages served than the model has");
        const Fetched f = fetch(m_nam, url);
        QVERIFY(f.finished);
        QCOMPARE(f.status, 200);
        const HtmlDocumentPtr doc = HtmlDocument::parse(QString::fromUtf8(f.body), url);
        const int before = list.count();
        ExtractResults(*doc, options, QString(), list);
        for (int row = before; row < list.count(); ++row)
            QCOMPARE(list.at(row).tag, url.toString());
        for (const ExpectedRow& r : FakeWebModel::expectedRows(keyword, ft, page, options, web.address()))
            expected << rowText(r.title, r.type, r.link, page);
        const QString next = nextPageHref(*doc);
        url = next.isEmpty() ? QUrl() : QUrl(next);
        if (url.isEmpty())
            QCOMPARE(page, FakeWebModel::pageCount(keyword, ft) - 1);
    }

    QStringList got;
    for (const SearchResult& r : list.rows()) {
        const int page = FakeWebModel::pageOfOffset(QUrlQuery(QUrl(r.tag)).queryItemValue(u"pn"_s).toInt());
        got << rowText(r.title, r.type, r.key, page);
    }
    QCOMPARE(got, expected);
    QCOMPARE(!expected.isEmpty(), anyKept);
}

void TestFakeWeb::pagesAreDeterministic()
{
    // The same query gives the same page every time and on every server; only the origin written
    // into absolute links differs between servers.
    FakeWeb first;
    FakeWeb second;
    const QString keyword = u"pages4 课程设计"_s;
    for (int page = 0; page < 4; ++page) {
        const Fetched a = fetch(m_nam, first.searchUrl(keyword, u"doc"_s, page));
        const Fetched b = fetch(m_nam, first.searchUrl(keyword, u"doc"_s, page));
        const Fetched c = fetch(m_nam, second.searchUrl(keyword, u"doc"_s, page));
        QVERIFY(a.finished && b.finished && c.finished);
        QCOMPARE(a.body, b.body);
        QByteArray fromSecond = c.body;
        fromSecond.replace(second.address().toLatin1(), first.address().toLatin1());
        QCOMPARE(fromSecond, a.body);
    }
    // Different pages and different types differ.
    QVERIFY(fetch(m_nam, first.searchUrl(keyword, u"doc"_s, 0)).body !=
            fetch(m_nam, first.searchUrl(keyword, u"doc"_s, 1)).body);
    QVERIFY(FakeWebModel::entries(keyword, u"doc"_s, 0).first().token !=
            FakeWebModel::entries(keyword, u"pdf"_s, 0).first().token);
}

void TestFakeWeb::emptyQueryShowsNoResults()
{
    FakeWeb web;
    for (const QUrl& url : {web.searchUrl(u"empty"_s, u"pdf"_s), web.searchUrl(u"pages2"_s, u"pdf"_s, 2)}) {
        const Fetched f = fetch(m_nam, url);
        QCOMPARE(f.status, 200);
        const HtmlDocumentPtr doc = HtmlDocument::parse(QString::fromUtf8(f.body), url);
        ResultListModel list;
        QCOMPARE(ExtractResults(*doc, optionsFor(0, web.address()), QString(), list), 0);
        QVERIFY(nextPageHref(*doc).isEmpty());
        QVERIFY(doc->getElementById(u"page"_s).isNull());
    }
}

void TestFakeWeb::redirectsLeadToFiles_data()
{
    QTest::addColumn<QString>("extension");
    QTest::addColumn<QByteArray>("contentType");
    QTest::newRow("pdf") << u"pdf"_s << QByteArray("application/pdf");
    QTest::newRow("doc") << u"doc"_s << QByteArray("application/msword");
    QTest::newRow("docx") << u"docx"_s
                          << QByteArray(
                                 "application/vnd.openxmlformats-officedocument.wordprocessingml.document");
    QTest::newRow("xls") << u"xls"_s << QByteArray("application/vnd.ms-excel");
    QTest::newRow("ppt") << u"ppt"_s << QByteArray("application/vnd.ms-powerpoint");
    QTest::newRow("rtf") << u"rtf"_s << QByteArray("application/rtf");
    QTest::newRow("web page") << u"html"_s << QByteArray("text/html; charset=utf-8");
}

void TestFakeWeb::redirectsLeadToFiles()
{
    QFETCH(QString, extension);
    QFETCH(QByteArray, contentType);
    FakeWeb web;

    // The first redirect entry whose target has the extension, among queries of every type.
    std::optional<FakeEntry> entry;
    for (const QString& ft : DocumentTypesInOrder()) {
        for (const FakeEntry& e : FakeWebModel::allEntries(u"pages6 文件"_s, ft)) {
            if (!entry && !e.direct && e.targetPath.endsWith(u'.' + extension))
                entry = e;
        }
    }
    QVERIFY(entry);
    QCOMPARE(entry->leadsToDocument(), extension != u"html"_s);

    const Fetched hop = fetch(m_nam, QUrl(entry->link(web.address())));
    QCOMPARE(hop.status, 302);
    QCOMPARE(hop.location, web.address() + entry->targetPath);

    const Fetched file = fetch(m_nam, QUrl(hop.location));
    QCOMPARE(file.status, 200);
    QCOMPARE(file.contentType, contentType);
    const QByteArray& b = file.body;
    if (entry->leadsToDocument())
        QVERIFY2(b.size() > 1024, qPrintable(QString::number(b.size())));
    const QByteArray ole("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
    if (extension == u"pdf"_s) {
        QVERIFY(b.startsWith("%PDF-"));
        QVERIFY(b.trimmed().endsWith("%%EOF"));
    } else if (extension == u"doc"_s) {
        QVERIFY(b.startsWith(ole));
        QCOMPARE(b.mid(512, 4), QByteArray("\xEC\xA5\xC1\x00", 4));
    } else if (extension == u"xls"_s) {
        QVERIFY(b.startsWith(ole));
        QCOMPARE(b.mid(512, 4), QByteArray("\x09\x08\x10\x00", 4));
    } else if (extension == u"ppt"_s) {
        QVERIFY(b.startsWith(ole));
        QVERIFY(b.mid(512, 4) != QByteArray("\xEC\xA5\xC1\x00", 4));
        QVERIFY(b.mid(512, 4) != QByteArray("\x09\x08\x10\x00", 4));
        QCOMPARE(quint8(b.at(515)), quint8(0xF0));
    } else if (extension == u"docx"_s) {
        QVERIFY(b.startsWith(QByteArray("PK\x03\x04\x14\x00\x06\x00\x08\x00", 10)));
        QVERIFY(b.contains("word/document.xml"));
    } else if (extension == u"rtf"_s) {
        QVERIFY(b.startsWith("{\\rtf1"));
    } else {
        QVERIFY(b.contains("<html"));
        QVERIFY(b.contains("<title>"));
        QVERIFY(b.size() < 200 * 1024);
    }
    // The same file again is byte for byte the same.
    QCOMPARE(fetch(m_nam, QUrl(hop.location)).body, b);
}

void TestFakeWeb::unknownPathsAreNotFound_data()
{
    QTest::addColumn<QString>("pathAndQuery");
    QTest::newRow("unknown token") << u"/link?url=abc"_s;
    QTest::newRow("token of unknown type") << u"/link?url=exe_0123456789abcdef"_s;
    QTest::newRow("no token") << u"/link"_s;
    QTest::newRow("unknown extension") << u"/files/0123456789abcdef.exe"_s;
    QTest::newRow("escaping the folder") << u"/files/..%2Fsecret.pdf"_s;
    QTest::newRow("unknown path") << u"/nothing"_s;
}

void TestFakeWeb::unknownPathsAreNotFound()
{
    QFETCH(QString, pathAndQuery);
    FakeWeb web;
    const Fetched f = fetch(m_nam, QUrl(web.address() + pathAndQuery));
    QVERIFY(f.finished);
    QCOMPARE(f.status, 404);
}

void TestFakeWeb::executableServesAndWritesSettings()
{
    const QString program = QCoreApplication::applicationDirPath() + u"/../tools/fakeweb/fakeweb"_s;
    if (!QFileInfo(program).isExecutable())
        QSKIP("the fakeweb program is not built next to the tests");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString ini = dir.filePath(u"Lintbay/Lintbay.ini"_s);

    QProcess process;
    process.start(program, {u"--write-settings"_s, ini});
    QVERIFY(process.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(process.canReadLine(), 10000);
    const QString address = QString::fromUtf8(process.readLine()).trimmed();
    QVERIFY2(address.startsWith(u"http://127.0.0.1:"_s), qPrintable(address));

    QCOMPARE(SettingsStore(ini).get(keys::kSettings, keys::kSearchEngine), address);
    const Fetched home = fetch(m_nam, QUrl(address + u"/"_s));
    QCOMPARE(home.status, 200);
    QVERIFY(home.body.contains("action=\"/s\""));

    process.terminate();
    QVERIFY(process.waitForFinished(10000));
    QCOMPARE(process.exitStatus(), QProcess::NormalExit);
    QCOMPARE(process.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestFakeWeb)
#include "tst_fakeweb.moc"
