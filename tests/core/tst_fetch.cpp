// The fetch engine under both download modes: its owner may delete it from inside any of its signals,
// at any stage of a transfer, and nothing may run on afterwards nor be left behind.
#include "controls/Fetch.h"
#include "controls/NetworkContext.h"
#include "controls/TransferSupport.h"

#include "HeldPool.h"
#include "TestData.h"
#include "TestHttpServer.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cstddef>
#include <cstring>
#include <new>
#include <optional>

using namespace Qt::StringLiterals;
using namespace lintbay;
using namespace lintbay::test;

Q_DECLARE_METATYPE(lintbay::test::TestHttpResponse)

class tst_Fetch : public QObject
{
    Q_OBJECT

private slots:
    void ownerDeletesItInsideASignal_data();
    void ownerDeletesItInsideASignal();
    void sizeLimitBytes_data();
    void sizeLimitBytes();
    void documentEndMarks_data();
    void documentEndMarks();
};

void tst_Fetch::ownerDeletesItInsideASignal_data()
{
    QTest::addColumn<QString>("signal");
    QTest::addColumn<QString>("path");
    QTest::addColumn<TestHttpResponse>("response");
    QTest::addColumn<int>("reason"); // of the end it is deleted in; -1: deleted mid-way

    const QByteArray body = payload(60000);
    TestHttpResponse pieces = TestHttpResponse::bytes(body, "application/pdf");
    pieces.pieceSize = 4000;
    pieces.pieceIntervalMs = 20;
    TestHttpResponse drip = TestHttpResponse::bytes(payload(8), "application/pdf");
    drip.pieceSize = 1;
    drip.pieceIntervalMs = 60;
    TestHttpResponse cut = TestHttpResponse::bytes(payload(5000), "application/pdf");
    cut.declaredLength = 9000;
    TestHttpResponse stall = TestHttpResponse::bytes(payload(5000), "application/pdf");
    stall.stallAfterBytes = 1000;

    // A slot watches for stalls from the start; the single transfer waits for the headers under a
    // time-out of its own and watches the body only.
    for (const QString& mode : {u"slot"_s, u"single"_s}) {
        QTest::addRow("%s: connecting", qPrintable(mode)) << u"connecting"_s << u"/doc"_s << pieces << -1;
        QTest::addRow("%s: requestSent", qPrintable(mode)) << u"requestSent"_s << u"/doc"_s << pieces << -1;
        QTest::addRow("%s: answered", qPrintable(mode)) << u"answered"_s << u"/doc"_s << pieces << -1;
        QTest::addRow("%s: bodyGrew", qPrintable(mode)) << u"bodyGrew"_s << u"/doc"_s << pieces << -1;
        QTest::addRow("%s: stillGrowing", qPrintable(mode)) << u"stillGrowing"_s << u"/doc"_s << drip << -1;
        QTest::addRow("%s: ended complete", qPrintable(mode))
            << u"ended"_s << u"/doc"_s << pieces << int(Fetch::End::Complete);
        QTest::addRow("%s: ended cut off", qPrintable(mode))
            << u"ended"_s << u"/doc"_s << cut << int(Fetch::End::CutOff);
        QTest::addRow("%s: ended stalled", qPrintable(mode))
            << u"ended"_s << u"/doc"_s << stall << int(Fetch::End::Stalled);
        QTest::addRow("%s: ended on a redirect loop", qPrintable(mode))
            << u"ended"_s << u"/loop"_s << pieces << int(Fetch::End::RedirectRefused);
        QTest::addRow("%s: ended too large", qPrintable(mode))
            << u"ended"_s << u"/big"_s << pieces << int(Fetch::End::TooLarge);
        QTest::addRow("%s: ended on two lengths", qPrintable(mode))
            << u"ended"_s << u"/two"_s << pieces << int(Fetch::End::BadLength);
        // The body is all there and waits for the disk, which takes its time: the window goes on.
        QTest::addRow("%s: while its bytes go to the disk", qPrintable(mode))
            << u"disk"_s << u"/doc"_s << pieces << -1;
    }
}

void tst_Fetch::ownerDeletesItInsideASignal()
{
    QFETCH(QString, signal);
    QFETCH(QString, path);
    QFETCH(TestHttpResponse, response);
    QFETCH(int, reason);

    TestHttpServer server;
    server.serve(u"/doc"_s, response);
    server.serve(u"/loop"_s, TestHttpResponse::redirect("/loop"));
    server.serve(u"/big"_s, response);
    server.serve(u"/two"_s, TestHttpResponse(response).withHeader("Content-Length", "1").withHeader("Content-Length", "2"));
    NetworkContext network;
    QTemporaryDir dir;
    const QString target = dir.filePath(u"doc.pdf"_s);
    const bool single = QString::fromLatin1(QTest::currentDataTag()).startsWith(u"single"_s);

    // The engine lives in storage that is scribbled over the moment it is destroyed, so that any use
    // after the deletion fails loudly even without a sanitizer.
    alignas(Fetch) std::byte storage[sizeof(Fetch)];
    QPointer<Fetch> fetch =
        new (storage) Fetch(network, single ? Fetch::Route::Proxied : Fetch::Route::Direct);
    const auto destroy = [&] {
        fetch->~Fetch();
        std::memset(storage, 0xa5, sizeof storage);
    };
    const auto leftOver = qScopeGuard([&] {
        if (fetch)
            fetch->~Fetch();
    });
    // Short only where the stall is the point: elsewhere a loaded machine's pause must not end it.
    fetch->setStallTimeout(reason == int(Fetch::End::Stalled) ? 300 : 3000);
    fetch->setTickInterval(20);
    if (path == u"/big"_s)
        fetch->setSizeLimit(10000);
    if (single)
        fetch->setHeaderTimeout(3000);
    int calls = 0;
    int endedWith = -1;
    const auto deleteIn = [&](const QString& name) {
        return [&, name] {
            ++calls;
            if (name == signal)
                destroy();
        };
    };
    connect(fetch, &Fetch::connecting, this, deleteIn(u"connecting"_s));
    connect(fetch, &Fetch::requestSent, this, deleteIn(u"requestSent"_s));
    connect(fetch, &Fetch::bodyGrew, this, deleteIn(u"bodyGrew"_s));
    connect(fetch, &Fetch::stillGrowing, this, deleteIn(u"stillGrowing"_s));
    connect(fetch, &Fetch::answered, this, [&] {
        if (signal != u"answered"_s)
            QVERIFY(fetch->stream(target));
        deleteIn(u"answered"_s)();
    });
    connect(fetch, &Fetch::ended, this, [&](Fetch::End end) {
        endedWith = int(end);
        deleteIn(u"ended"_s)();
    });
    // A disk that does not answer yet: every thread that waits for one is taken.
    std::optional<HeldPool> slowDisk;
    if (signal == u"disk"_s)
        slowDisk.emplace(Fetch::diskPool());
    QVERIFY(fetch->start(server.url(path)));

    if (signal == u"disk"_s) {
        QTRY_VERIFY_WITH_TIMEOUT(fetch->answer() && fetch->answer()->isFinished(), 5000);
        QTest::qWait(100);
        QCOMPARE(endedWith, -1);
        QVERIFY(fetch->isActive());
        destroy();
    }
    QTRY_VERIFY_WITH_TIMEOUT(fetch.isNull(), 5000);
    const int callsWhenDeleted = calls;
    QTest::qWait(200);
    QCOMPARE(calls, callsWhenDeleted); // nothing ran on after the deletion
    QCOMPARE(endedWith, reason);
    const QStringList left =
        QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    if (reason == int(Fetch::End::Complete)) {
        QCOMPARE(left, QStringList{u"doc.pdf"_s});
        QFile file(target);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), response.body);
    } else {
        QCOMPARE(left, QStringList()); // not even the part file
    }
    if (reason < 0 && signal != u"disk"_s)
        QTRY_COMPARE(server.openConnections(), 0); // the request in flight was given up
}

void tst_Fetch::sizeLimitBytes_data()
{
    QTest::addColumn<double>("megabytes");
    QTest::addColumn<qint64>("bytes");
    QTest::newRow("1 MB") << 1.0 << qint64(1048576);
    QTest::newRow("half a megabyte") << 0.5 << qint64(524288);
    QTest::newRow("nothing lets no byte through") << 0.0 << qint64(1);
    QTest::newRow("not a number") << qQNaN() << qint64(1);
    QTest::newRow("beyond any file: no limit") << 1e20 << qint64(0);
}

void tst_Fetch::sizeLimitBytes()
{
    QFETCH(double, megabytes);
    QFETCH(qint64, bytes);
    QCOMPARE(lintbay::sizeLimitBytes(megabytes), bytes);
}

void tst_Fetch::documentEndMarks_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<bool>("whole");
    const auto file = [](const char* name) {
        QFile f(QStringLiteral(LINTBAY_TEST_DATA) + u'/' + QString::fromLatin1(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    };
    // Files made by office programs, whole and cut at three fifths.
    for (const char* name : {"words.docx", "sheet.xlsx", "slide.pptx", "words.odt", "words.rtf"}) {
        const QByteArray bytes = file(name);
        QVERIFY(!bytes.isEmpty());
        QTest::addRow("%s", name) << bytes << true;
        QTest::addRow("%s cut", name) << bytes.left(bytes.size() * 3 / 5) << false;
    }
    // A compound file has no end mark to tell by: taken as it is.
    QTest::newRow("words.doc cut") << file("words.doc").left(4096) << true;
    const QByteArray pdf = "%PDF-1.4\n1 0 obj\n<<>>\nendobj\ntrailer\n<<>>\n%%EOF\n";
    QTest::newRow("pdf") << pdf << true;
    QTest::newRow("pdf, bytes after its end") << pdf + QByteArray(3000, '\0') << true;
    QTest::newRow("pdf cut") << pdf.left(pdf.size() - 4) << false;
    QTest::newRow("rtf, blanks after its brace") << QByteArray("{\\rtf1 text}\r\n") << true;
    QTest::newRow("web page") << QByteArray("<html><body>cut") << true;
}

void tst_Fetch::documentEndMarks()
{
    QFETCH(QByteArray, body);
    QFETCH(bool, whole);
    QCOMPARE(documentLooksWhole(body.left(16), body.right(kDocumentTailBytes)), whole);
}

QTEST_GUILESS_MAIN(tst_Fetch)
#include "tst_fetch.moc"
