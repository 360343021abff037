// The journal of the download list: what an unclean exit leaves is what the list was, and a normal
// end leaves nothing.
#include "TestHttpServer.h"
#include "app/ProgramSettings.h"
#include "app/SettingsStore.h"
#include "controls/NetworkContext.h"
#include "download/DownloadJournal.h"
#include "download/DownloadListModel.h"
#include "download/DownloadSession.h"

#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>

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

// The program's download session in a child process: it journals its list, starts downloading from
// a host that never finishes, says "ready" once the journal holds the running rows, and waits to be
// killed.
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
    for (int i = 0; i < 4; ++i)
        list.addItem(server + u"/slow/"_s + QString::number(i), u"doc%1"_s.arg(i), u"pdf"_s, folder, QString());
    list.setState(3, DownloadItemState::Done);
    session.options().threadCount = 2;
    session.scheduler().StartDownloads();
    session.scheduler().timerDownTick();
    QTest::qWait(300);
    std::printf("ready\n");
    std::fflush(stdout);
    return QCoreApplication::exec();
}

} // namespace

class TestDownloadJournal : public QObject
{
    Q_OBJECT
private:
    QTemporaryDir m_dir;
    QString path(const QString& name) const { return m_dir.filePath(name); }

private slots:
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
        list.sort(DownloadListModel::NameColumn, Qt::DescendingOrder);
        list.removeRowsAt({0, 1, 2});
        QRandomGenerator generator(3);
        list.shuffle(generator);
        list.removeIf([](const DownloadItem& item) { return item.name.endsWith(u'7'); }); // many blocks: a reset
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
            if (was.state == DownloadItemState::Downloading) {
                QCOMPARE(item.state, DownloadItemState::Waiting);
                QVERIFY(item.received.isEmpty());
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
    // running rows waiting again.
    void survivesAKill()
    {
        TestHttpServer server;
        server.routePrefix(u"/slow/"_s, [](const TestHttpRequest&) { return TestHttpResponse::never(); });
        const QString journalPath = path(u"killed.sqlite"_s);
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(),
                    {u"--journal-child"_s, journalPath, server.url(QString()).toString(), path(u"out"_s)});
        QVERIFY(child.waitForStarted(5000));
        QVERIFY(child.waitForReadyRead(20000));
        QCOMPARE(child.readLine().trimmed(), QByteArray("ready"));
        child.kill();
        QVERIFY(child.waitForFinished(5000));

        const DownloadJournal::Found found = DownloadJournal::inspect(journalPath);
        QCOMPARE(found.kind, DownloadJournal::Leftover::Rows);
        QCOMPARE(found.rows.size(), 4);
        const QList<DownloadItemState> states{DownloadItemState::Waiting, DownloadItemState::Waiting,
                                              DownloadItemState::Waiting, DownloadItemState::Done};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(found.rows.at(i).name, u"doc%1"_s.arg(i));
            QCOMPARE(found.rows.at(i).state, states.at(i));
        }
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
