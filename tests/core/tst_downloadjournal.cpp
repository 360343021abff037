// The journal of the download list: what an unclean exit leaves is what the list was, and a normal
// end leaves nothing.
#include "HeldPool.h"
#include "TestData.h"
#include "TestHttpServer.h"
#include "app/ProgramSettings.h"
#include "app/SettingsStore.h"
#include "controls/NetworkContext.h"
#include "download/DownloadJournal.h"
#include "download/DownloadListModel.h"
#include "download/DownloadSession.h"
#include "download/RowFiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QTest>
#include <QThreadPool>

#include <cstdio>

using namespace Qt::StringLiterals;
using namespace lintbay;
using namespace lintbay::test;

namespace {

QStringList keysOf(const QList<DownloadItem>& rows)
{
    QStringList keys;
    for (const DownloadItem& item : rows)
        keys << item.key;
    return keys;
}

// A document of the test server: `size` bytes told apart by `seed`, with an ETag.
QByteArray documentBody(int seed, int size)
{
    QByteArray body("%PDF-1.4\n");
    while (body.size() < size)
        body += QByteArray::number(seed * 7919 + body.size());
    body.resize(size);
    return body;
}

constexpr int kDocumentSize = 96 * 1024;
constexpr int kSentBeforeKill = 40 * 1024;

// /doc/0 and /doc/1 are documents; a whole answer stops after kSentBeforeKill bytes and holds the
// connection while `holding` is set, a request for the rest is answered with it. /slow/ never answers.
void serveDocuments(TestHttpServer& server, const bool& holding)
{
    server.routePrefix(u"/slow/"_s, [](const TestHttpRequest&) { return TestHttpResponse::never(); });
    server.routePrefix(u"/doc/"_s, [&holding](const TestHttpRequest& request) {
        const QByteArray body = documentBody(request.path.back().digitValue(), kDocumentSize);
        TestHttpResponse whole =
            TestHttpResponse::bytes(body, "application/pdf").withHeader("ETag", "\"v1\"");
        const QByteArray range = request.header("Range");
        if (range.startsWith("bytes=") && request.header("If-Range") == "\"v1\"") {
            const qint64 from = range.mid(6, range.indexOf('-') - 6).toLongLong();
            whole.status = 206;
            whole.body = body.mid(from);
            whole.withHeader("Content-Range", "bytes " + QByteArray::number(from) + '-' +
                                                  QByteArray::number(body.size() - 1) + '/' +
                                                  QByteArray::number(body.size()));
        } else if (holding) {
            whole.stallAfterBytes = kSentBeforeKill;
        }
        return whole;
    });
}

// The program's download session in a child process: it journals its list, starts downloading two
// documents whose host stops sending half-way and one that never answers, says "ready" once the
// journal holds the running rows and where their bodies lie, and waits to be killed.
int runChild(const QString& journal, const QString& server, const QString& folder)
{
    QTemporaryDir dir;
    SettingsStore store(dir.filePath(u"Lintbay.ini"_s));
    ProgramSettings settings(store);
    NetworkContext network;
    DownloadSession session(settings, network);
    if (!session.recordJournal(journal))
        return 3;
    session.journal()->setDelay(0);
    DownloadListModel& list = session.list();
    for (const QString& path : {u"/doc/0"_s, u"/doc/1"_s, u"/slow/2"_s, u"/slow/3"_s})
        list.addItem(server + path, u"doc"_s + path.back(), u"pdf"_s, folder, QString());
    list.setState(3, DownloadItemState::Done);
    session.options().threadCount = 3;
    session.options().perHostLimit = 0; // the row that never answers starts too
    session.scheduler().StartDownloads();
    session.scheduler().timerDownTick();
    const auto bodyBegun = [&](int row) {
        const ResumeNote note = session.files().noteOf(list.idOf(row));
        return !note.isNull() && QFileInfo(note.partPath).size() >= kSentBeforeKill;
    };
    if (!QTest::qWaitFor([&] { return bodyBegun(0) && bodyBegun(1); }, 20000)) {
        for (int row = 0; row < 3; ++row)
            std::fprintf(stderr, "row %d: state %d, body at '%s'\n", row, int(list.at(row).state),
                         qPrintable(session.files().noteOf(list.idOf(row)).partPath));
        return 4;
    }
    session.journal()->flush();
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

// What a second connection reads from a journal's database, as a start after a crash would: one
// text per row, its columns joined by "/".
QStringList journalRows(const QString& file, const QString& select)
{
    QStringList rows;
    {
        QSqlDatabase reader = QSqlDatabase::addDatabase(u"QSQLITE"_s, u"reader"_s);
        reader.setDatabaseName(file);
        QSqlQuery query(reader);
        if (reader.open() && query.exec(select)) {
            while (query.next()) {
                QStringList columns;
                for (int c = 0; c < query.record().count(); ++c)
                    columns << query.value(c).toString();
                rows << columns.join(u'/');
            }
        }
    }
    QSqlDatabase::removeDatabase(u"reader"_s);
    return rows;
}

} // namespace

class TestDownloadJournal : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

private slots:
    // A crash just after a transfer wrote its placeholder, before the journal had the row as
    // running: the next start, taking the list back or not, removes the placeholders of the rows
    // not finished, and nothing else.
    void placeholdersGoAtTheNextStart_data()
    {
        QTest::addColumn<bool>("restore");
        QTest::newRow("list taken back") << true;
        QTest::newRow("list discarded") << false;
    }
    void placeholdersGoAtTheNextStart()
    {
        QFETCH(bool, restore);
        QTemporaryDir folder;
        const QByteArray placeholder("\x01\x00", 2);
        const struct
        {
            const char* name;
            DownloadItemState state;
            QByteArray content;
            bool stays;
        } rows[] = {{"waiting", DownloadItemState::Waiting, placeholder, false},
                    {"failed", DownloadItemState::Failed, placeholder, false},
                    {"done", DownloadItemState::Done, placeholder, true},
                    {"other", DownloadItemState::Waiting, placeholder + 'x', true}};
        DownloadJournal::Found found;
        found.kind = DownloadJournal::Leftover::Rows;
        for (const auto& row : rows) {
            DownloadItem item;
            item.key = u"http://127.0.0.1/"_s + QString::fromLatin1(row.name);
            item.name = QString::fromLatin1(row.name);
            item.type = u"pdf"_s;
            item.folder = folder.path() + u'/';
            item.state = row.state;
            QVERIFY(writeFile(item.filePath(), row.content));
            found.rows << item;
            found.parts << ResumeNote();
        }
        QTemporaryDir dir;
        SettingsStore store(dir.filePath(u"Lintbay.ini"_s));
        ProgramSettings settings(store);
        NetworkContext network;
        DownloadSession session(settings, network);
        if (restore)
            session.restore(found);
        else
            session.discardLeftover(found);
        for (qsizetype i = 0; i < found.rows.size(); ++i)
            QCOMPARE(QFile::exists(found.rows.at(i).filePath()), rows[i].stays);
    }

    // When a slot's placeholder is on disk, the journal already names it (the row running, under the
    // name the pick gave it), however long its other writes and removals wait.
    void placeholderIsJournaledFirst()
    {
        TestHttpServer server;
        server.serve(u"/doc"_s, TestHttpResponse::never());
        const QString folder = path(u"claimed"_s);
        QVERIFY(QDir().mkpath(folder));
        QVERIFY(writeFile(folder + u"/x.pdf"_s, "the user's"));
        const QString file = path(u"claimed.sqlite"_s);
        QTemporaryDir dir;
        SettingsStore store(dir.filePath(u"Lintbay.ini"_s));
        ProgramSettings settings(store);
        NetworkContext network;
        DownloadSession session(settings, network);
        QVERIFY(session.recordJournal(file));
        session.journal()->setDelay(3600 * 1000);
        // A row removed just before, its deletion still waiting for the next slice.
        session.list().addItem(u"http://127.0.0.1:1/gone"_s, u"gone"_s, u"pdf"_s, folder, QString(),
                               DownloadItemState::Done);
        session.journal()->flush();
        session.list().removeRows(0, 1);
        session.list().addItem(server.url(u"/doc"_s).toString(), u"x"_s, u"pdf"_s, folder, QString());
        session.scheduler().StartDownloads();
        session.scheduler().timerDownTick();
        QVERIFY(QFileInfo::exists(folder + u"/x[001].pdf"_s)); // the placeholder
        QCOMPARE(journalRows(file, u"SELECT name, state FROM rows WHERE name <> 'gone'"_s),
                 QStringList{u"x[001]/%1"_s.arg(int(DownloadItemState::Downloading))});
        session.scheduler().StopDownloads();
        session.shutdown();
    }

    // Where a row's body lies is written when it changes, not with the next delayed slice: a note
    // left out of date by a crash (a landing page's, say) would have the wrong bytes continued.
    void bodyNotesAreWrittenAtOnce()
    {
        const QString file = path(u"notes.sqlite"_s);
        DownloadListModel list;
        list.addItem(u"http://h/1"_s, u"n"_s, u"pdf"_s, u"/f"_s, QString());
        RowFiles files(list);
        DownloadJournal journal(file);
        QVERIFY(journal.attach(list, &files));
        journal.setDelay(3600 * 1000);
        const auto partIn = [&file] { return journalRows(file, u"SELECT part FROM rows"_s).value(0); };
        QCOMPARE(partIn(), QString());
        files.noteRunning(list.idOf(0),
                          ResumeNote{u"/f/.lintbay-a.part"_s, QUrl(u"http://h/1"_s), "\"v\"", 10});
        QCOMPARE(partIn(), u"/f/.lintbay-a.part"_s);
        files.noteRunning(list.idOf(0), ResumeNote{u"/f/.lintbay-b.part"_s, QUrl(), {}, -1});
        QCOMPARE(partIn(), u"/f/.lintbay-b.part"_s);
        files.dropPart(list.idOf(0));
        QCOMPARE(partIn(), QString());
        // Dropping what a row does not have (every failed row's, by the thousand) writes nothing.
        const auto stateIn = [&file] { return journalRows(file, u"SELECT state FROM rows"_s).value(0); };
        const QString before = stateIn();
        list.setState(0, DownloadItemState::Failed);
        files.dropPart(list.idOf(0));
        QCOMPARE(stateIn(), before);
    }

    // A list attached to a journal that holds an earlier one (the list just taken back from it) is
    // written beside it; the earlier one stays whole until the new one is complete.
    void aNewListReplacesTheOldOnlyWhenWhole()
    {
        const QString file = path(u"replace.sqlite"_s);
        const auto rowsIn = [&file] {
            return journalRows(file, u"SELECT COUNT(*) FROM rows"_s).value(0, u"-1"_s).toInt();
        };
        const auto fill = [](DownloadListModel& list, int rows) {
            for (int i = 0; i < rows; ++i)
                list.addItem(u"http://h/%1"_s.arg(i), u"n%1"_s.arg(i), u"pdf"_s, u"/f"_s, QString());
        };
        {
            DownloadListModel earlier;
            fill(earlier, 3);
            DownloadJournal journal(file);
            QVERIFY(journal.attach(earlier));
        } // left behind, as after a crash
        QCOMPARE(rowsIn(), 3);
        DownloadListModel list;
        fill(list, 5);
        DownloadJournal journal(file);
        journal.setSliceBudget(0); // nothing gets written until the flush
        QVERIFY(journal.attach(list));
        QCOMPARE(rowsIn(), 3);
        journal.flush();
        QCOMPARE(rowsIn(), 5);
    }

    // A list that changed in every way the window changes it comes back as it last was.
    void leftBehindListComesBack()
    {
        const QString journalPath = path(u"left.sqlite"_s);
        DownloadListModel list;
        auto journal = std::make_unique<DownloadJournal>(journalPath);
        journal->setDelay(0);
        journal->setSliceBudget(1); // many small slices
        QVERIFY(journal->attach(list));
        for (int i = 0; i < 300; ++i)
            list.addItem(u"http://h/%1"_s.arg(i), u"n%1"_s.arg(i), u"pdf"_s, u"/f"_s, u"http://ref/"_s);
        QTest::qWait(20);
        list.setState(5, DownloadItemState::Done);
        list.setTransferColumns(5, u"10"_s, u"10"_s, u"100%"_s);
        list.setState(6, DownloadItemState::Downloading);
        list.setTransferColumns(6, u"10"_s, u"4"_s, u"40%"_s);
        list.setState(4, DownloadItemState::Failed);
        list.setReason(4, u"HTTP 500"_s);
        list.setTransferColumns(8, QString(), QString(), u"3秒后重试"_s); // waits for its server
        list.sort(DownloadListModel::NameColumn, Qt::DescendingOrder);
        list.removeRowsAt({0, 1, 2});
        QRandomGenerator generator(3);
        list.shuffle(generator);
        list.removeIf(
            [](const DownloadItem& item) { return item.name.endsWith(u'7'); }); // many blocks: a reset
        list.addItem(u"http://h/new"_s, u"new"_s, u"doc"_s, u"/f"_s, QString());
        QTRY_VERIFY(!journal->hasPending());

        // An unclean end: the journal stays (the object goes, nothing discards it).
        journal.reset();
        const DownloadJournal::Found found = DownloadJournal::inspect(journalPath);
        QCOMPARE(found.kind, DownloadJournal::Leftover::Rows);
        QCOMPARE(keysOf(found.rows), keysOf(list.rows()));
        for (const DownloadItem& item : found.rows) {
            const DownloadItem& was = list.at(list.rowOfKey(item.key));
            QCOMPARE(item.name, was.name);
            QCOMPARE(item.referer, was.referer);
            QCOMPARE(item.reason, was.reason);
            if (was.state == DownloadItemState::Downloading || was.state == DownloadItemState::Waiting) {
                QCOMPARE(item.state, DownloadItemState::Waiting);
                QVERIFY(item.received.isEmpty() && item.progress.isEmpty());
            } else {
                QCOMPARE(item.state, was.state);
                QCOMPARE(item.progress, was.progress);
            }
        }

        // A normal end leaves nothing to restore.
        DownloadJournal again(journalPath);
        QVERIFY(again.attach(list));
        again.discard();
        QCOMPARE(DownloadJournal::inspect(journalPath).kind, DownloadJournal::Leftover::None);
        QVERIFY(!QFile::exists(journalPath));
    }

    // A list left by a version whose journal had no reasons comes back all the same. A key found
    // twice (a row removed and added again, the removal not yet written) comes back as the later row.
    void journalOfAnEarlierVersion()
    {
        const QString file = path(u"earlier.sqlite"_s);
        journalRows(file, u"CREATE TABLE rows (id INTEGER PRIMARY KEY, pos INTEGER, key TEXT, referer TEXT, "
                          "name TEXT, type TEXT, size TEXT, received TEXT, progress TEXT, folder TEXT, "
                          "state INTEGER, part TEXT, part_url TEXT, validator BLOB, total INTEGER)"_s);
        journalRows(file,
                    u"INSERT INTO rows (id, pos, key, name, type, folder, state, part) VALUES "
                    "(1, 0, 'http://h/a', 'a', 'pdf', '/f', 4, ''), (2, 1, 'http://h/b', 'removed', 'pdf', "
                    "'/f', 3, ''), (3, 2, 'http://h/b', 'again', 'pdf', '/f', 4, '')"_s);
        const DownloadJournal::Found found = DownloadJournal::inspect(file);
        QCOMPARE(found.kind, DownloadJournal::Leftover::Rows);
        QCOMPARE(keysOf(found.rows), (QStringList{u"http://h/a"_s, u"http://h/b"_s}));
        QCOMPARE(found.rows.at(0).state, DownloadItemState::Failed);
        QCOMPARE(found.rows.at(1).name, u"again"_s);
    }

    // Writes that fail (a full disk) stay to be written: once there is room, the journal holds the
    // list whole.
    void failedWritesAreTriedAgain()
    {
        const QString file = path(u"full.sqlite"_s);
        DownloadListModel list;
        DownloadJournal journal(file);
        QVERIFY(journal.attach(list));
        journal.setDelay(3600 * 1000);
        journal.flush();
        QSqlDatabase db;
        for (const QString& name : QSqlDatabase::connectionNames()) {
            if (QSqlDatabase::database(name, false).databaseName() == file)
                db = QSqlDatabase::database(name, false);
        }
        QVERIFY(db.isOpen());
        QSqlQuery query(db);
        QVERIFY(query.exec(u"PRAGMA page_count"_s) && query.next());
        const int pages = query.value(0).toInt();
        QVERIFY(query.exec(u"PRAGMA max_page_count = %1"_s.arg(pages)));
        const QString longName(2000, u'n');
        for (int i = 0; i < 200; ++i)
            list.addItem(u"http://h/%1"_s.arg(i), longName + QString::number(i), u"pdf"_s, u"/f"_s,
                         QString());
        journal.flush();
        QVERIFY(journal.hasPending());
        QVERIFY(query.exec(u"PRAGMA max_page_count = 1073741823"_s));
        journal.flush();
        QVERIFY(!journal.hasPending());
        QCOMPARE(journalRows(file, u"SELECT COUNT(*) FROM rows"_s), QStringList{u"200"_s});
    }

    void journalInUseOrCorrupt()
    {
        // In use by a running program: not a leftover, and a second program keeps none.
        const QString inUse = path(u"in-use.sqlite"_s);
        DownloadListModel list;
        list.addItem(u"http://h/1"_s, u"n"_s, u"pdf"_s, u"/f"_s, QString());
        DownloadJournal running(inUse);
        QVERIFY(running.attach(list));
        running.flush();
        QCOMPARE(DownloadJournal::inspect(inUse).kind, DownloadJournal::Leftover::None);
        DownloadJournal second(inUse);
        QVERIFY(!second.attach(list));
        // Only the journal holding the file removes it: not one refused, nor one discarded before
        // (a session shut down twice) once the next window's journal has taken the file.
        second.discard();
        QVERIFY(QFileInfo::exists(inUse));
        running.discard();
        DownloadJournal next(inUse);
        QVERIFY(next.attach(list));
        next.flush();
        running.discard();
        second.discard();
        QVERIFY(QFileInfo::exists(inUse));

        // Corrupt: set aside with its bytes, never deleted, and asked about only once.
        const QString corrupt = path(u"corrupt.sqlite"_s);
        QFile file(corrupt);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("SQLite format 3") + QByteArray(4000, '\xff'));
        file.close();
        const DownloadJournal::Found found = DownloadJournal::inspect(corrupt);
        QCOMPARE(found.kind, DownloadJournal::Leftover::Corrupt);
        QVERIFY(QFile::exists(found.setAside));
        QVERIFY(!QFile::exists(corrupt));
        QCOMPARE(DownloadJournal::inspect(corrupt).kind, DownloadJournal::Leftover::None);
    }

    // The program is killed in the middle of its downloads; the next start finds the list, the
    // running rows waiting again, and those whose bodies had begun go on from where they were.
    void survivesAKill()
    {
        bool holding = true;
        TestHttpServer server;
        serveDocuments(server, holding);
        const QString journalPath = path(u"killed.sqlite"_s);
        const QString folder = path(u"out"_s);
        QVERIFY(QDir().mkpath(folder));
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {u"--journal-child"_s, journalPath, server.url(QString()).toString(), folder});
        QVERIFY(child.waitForStarted(5000));
        // The server answers from this process: its events run while the child gets ready.
        if (!QTest::qWaitFor([&] { return child.canReadLine() || child.state() == QProcess::NotRunning; },
                             30000) ||
            !child.canReadLine()) {
            child.kill();
            child.waitForFinished(5000);
            QFAIL(child.readAllStandardError().constData());
        }
        QCOMPARE(child.readLine().trimmed(), QByteArray("ready"));
        child.kill();
        QVERIFY(child.waitForFinished(5000));

        const DownloadJournal::Found found = DownloadJournal::inspect(journalPath);
        QCOMPARE(found.kind, DownloadJournal::Leftover::Rows);
        QCOMPARE(found.rows.size(), 4);
        QCOMPARE(found.parts.size(), 4);
        const QList<DownloadItemState> states{DownloadItemState::Waiting, DownloadItemState::Waiting,
                                              DownloadItemState::Waiting, DownloadItemState::Done};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(found.rows.at(i).name, u"doc%1"_s.arg(i));
            QCOMPARE(found.rows.at(i).state, states.at(i));
            // The row still waiting for an answer has a part file too, which cannot be continued.
            QCOMPARE(found.parts.at(i).isNull(), i >= 3);
            QCOMPARE(found.parts.at(i).url.isEmpty(), i >= 2);
        }

        // A power cut can leave a part at the length it had reached with zeros where its last data
        // was not yet written: those bytes are asked for again.
        {
            QFile part(found.parts.at(1).partPath);
            QVERIFY(part.open(QIODevice::Append) && part.write(QByteArray(4096, '\0')) == 4096);
        }
        // The next start takes the list back and finishes both documents with one request for the
        // rest each; the copies equal the documents, and no part file stays behind.
        holding = false;
        QTemporaryDir dir;
        SettingsStore store(dir.filePath(u"Lintbay.ini"_s));
        ProgramSettings settings(store);
        NetworkContext network;
        DownloadSession session(settings, network);
        // The parts are read back beside the window, here while the pool's threads are all taken: the
        // journal names them meanwhile, and no row starts without its part.
        HeldPool pool(QThreadPool::globalInstance());
        session.restore(found);
        DownloadListModel& list = session.list();
        for (int row : {0, 1})
            QCOMPARE(session.files().noteOf(list.idOf(row)).partPath, found.parts.at(row).partPath);
        session.options().threadCount = 2;
        session.options().intervalSeconds = 0;
        session.scheduler().Timer_Down->setInterval(20);
        session.scheduler().StartDownloads();
        QTest::qWait(300);
        QCOMPARE(server.requestsTo(u"/doc/0"_s).size(), 1);
        pool.release();
        QTRY_VERIFY_WITH_TIMEOUT(list.at(0).state == DownloadItemState::Done &&
                                     list.at(1).state == DownloadItemState::Done,
                                 20000);
        for (int row : {0, 1}) {
            const QString doc = u"/doc/"_s + QString::number(row);
            const QList<TestHttpRequest> asked = server.requestsTo(doc);
            QCOMPARE(asked.size(), 2);
            QCOMPARE(asked.last().header("Range"), "bytes=" + QByteArray::number(kSentBeforeKill) + '-');
            QFile file(list.at(row).filePath());
            QVERIFY(file.open(QIODevice::ReadOnly));
            QCOMPARE(file.readAll(), documentBody(row, kDocumentSize));
        }
        session.scheduler().StopDownloads();
        session.shutdown();
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden),
                 QStringList({u"doc0.pdf"_s, u"doc1.pdf"_s}));
    }
};

int main(int argc, char* argv[])
{
    if (argc == 5 && qstrcmp(argv[1], "--journal-child") == 0) {
        QCoreApplication app(argc, argv);
        return runChild(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3]),
                        QString::fromLocal8Bit(argv[4]));
    }
    QCoreApplication app(argc, argv);
    TestDownloadJournal test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_downloadjournal.moc"
