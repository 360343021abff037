#include "DownloadJournal.h"

#include "download/RowFiles.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRunnable>
#include <QScopeGuard>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QUuid>
#include <QVariant>

#include <algorithm>
#include <utility>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

QString lockPath(const QString& path)
{
    return path + u".lock"_s;
}

QString uniqueConnection()
{
    return u"journal-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces);
}

// One database connection for the length of a scope.
class Connection
{
public:
    explicit Connection(const QString& path) : m_name(uniqueConnection())
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_name);
        db.setDatabaseName(path);
        m_open = db.open();
    }
    ~Connection()
    {
        {
            QSqlDatabase db = QSqlDatabase::database(m_name, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_name);
    }
    bool isOpen() const { return m_open; }
    QSqlDatabase db() const { return QSqlDatabase::database(m_name, false); }

private:
    QString m_name;
    bool m_open = false;
};

const QString kColumns = u"id, pos, key, referer, name, type, size, received, progress, folder, state"_s;
const QString kPartColumns = u"part, part_url, validator, total"_s;
// Written after kColumns; journals of earlier versions lack it.
const QString kReasonColumn = u"reason"_s;
// A slice that could not be written (a full disk) is tried again after this long at the least.
constexpr int kRetryAfterFailureMs = 1000;

// The list's table, and the one a new list is written into beside it until it is complete.
const QString kTable = u"rows"_s;
const QString kNextTable = u"rows_next"_s;

// Writes every column of one row (bound by DownloadJournal::bindRow).
QString insertInto(const QString& table)
{
    return u"INSERT OR REPLACE INTO "_s + table + u" ("_s + kColumns + u", "_s + kReasonColumn + u", "_s +
           kPartColumns + u") VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)"_s;
}

bool createTable(QSqlQuery& query, const QString& name)
{
    return query.exec(u"CREATE TABLE IF NOT EXISTS "_s + name +
                      u" (id INTEGER PRIMARY KEY, pos INTEGER, key TEXT, referer TEXT, name TEXT, type TEXT, "
                      "size TEXT, received TEXT, progress TEXT, folder TEXT, state INTEGER, reason TEXT, "
                      "part TEXT, part_url TEXT, validator BLOB, total INTEGER)"_s);
}

} // namespace

QString DownloadJournal::defaultPath()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation))
        .filePath(u"download-journal.sqlite"_s);
}

DownloadJournal::Found DownloadJournal::inspect(const QString& path)
{
    Found found;
    if (!QFileInfo::exists(path))
        return found;
    // Written by a program that runs now: not left behind.
    QLockFile lock(lockPath(path));
    if (!lock.tryLock(0))
        return found;
    {
        Connection connection(path);
        bool readable = connection.isOpen();
        if (readable) {
            QSqlQuery query(connection.db());
            QList<qint64> ids;
            const bool withReason = query.exec(u"SELECT "_s + kReasonColumn + u" FROM rows LIMIT 0"_s);
            // A key found twice: a row was removed and its address added again, and the program
            // ended before the removal was written. The later row is the one the list held.
            readable = query.exec(u"SELECT "_s + kColumns + u", "_s + (withReason ? kReasonColumn : u"''"_s) +
                                  u" FROM rows WHERE id IN (SELECT MAX(id) FROM rows GROUP BY key)"
                                  u" ORDER BY pos"_s);
            while (readable && query.next()) {
                DownloadItem item;
                item.key = query.value(2).toString();
                item.referer = query.value(3).toString();
                item.name = query.value(4).toString();
                item.type = query.value(5).toString();
                item.size = query.value(6).toString();
                item.received = query.value(7).toString();
                item.progress = query.value(8).toString();
                item.folder = query.value(9).toString();
                const int state = query.value(10).toInt();
                item.reason = query.value(11).toString();
                item.state = state >= 1 && state <= 4 ? DownloadItemState(state) : DownloadItemState::Waiting;
                // What was running is fetched again (from where it got to, where the host allows); what
                // was waiting, counting down or marked to be fetched again, waits plainly.
                if ((item.state == DownloadItemState::Downloading ||
                     item.state == DownloadItemState::Waiting) &&
                    !item.key.isEmpty()) {
                    item.state = DownloadItemState::Waiting;
                    item.size.clear();
                    item.received.clear();
                    item.progress.clear();
                }
                if (!item.key.isEmpty()) {
                    found.rows.append(item);
                    ids.append(query.value(0).toLongLong());
                }
            }
            readable = readable && query.lastError().type() == QSqlError::NoError;
            // Where the rows' bodies lie; a journal that does not say leaves every row to start over.
            QHash<qint64, ResumeNote> notes;
            if (readable && query.exec(u"SELECT id, "_s + kPartColumns + u" FROM rows WHERE part <> ''"_s)) {
                while (query.next()) {
                    notes.insert(query.value(0).toLongLong(),
                                 {query.value(1).toString(), QUrl(query.value(2).toString()),
                                  query.value(3).toByteArray(), query.value(4).toLongLong()});
                }
            }
            for (const qint64 id : std::as_const(ids))
                found.parts.append(notes.value(id));
        }
        if (readable) {
            found.kind = found.rows.isEmpty() ? Leftover::None : Leftover::Rows;
            return found;
        }
    }
    // Kept for whoever wants to look at it, out of the way of the next start.
    found.kind = Leftover::Corrupt;
    found.setAside = path + u".corrupt-"_s + QDateTime::currentDateTime().toString(u"yyyyMMdd-HHmmss"_s);
    if (!QFile::rename(path, found.setAside))
        found.setAside.clear();
    for (const QString& side : {u"-wal"_s, u"-shm"_s})
        QFile::remove(path + side);
    return found;
}

DownloadJournal::DownloadJournal(const QString& path, QObject* parent) : QObject(parent), m_path(path)
{
    m_flushTimer.setSingleShot(true);
    connect(&m_flushTimer, &QTimer::timeout, this, [this] {
        if (!writeSlice(m_sliceBudgetMs))
            m_flushTimer.start(0); // the rest after the window has had its turn
    });
}

DownloadJournal::~DownloadJournal()
{
    if (m_list)
        flush();
    close();
}

bool DownloadJournal::attach(DownloadListModel& list, RowFiles* files)
{
    close();
    QDir().mkpath(QFileInfo(m_path).absolutePath());
    auto lock = std::make_unique<QLockFile>(lockPath(m_path));
    lock->setStaleLockTime(0);
    if (!lock->tryLock(0))
        return false;
    m_connection = uniqueConnection();
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_connection);
        db.setDatabaseName(m_path);
        QSqlQuery query(db);
        const bool ready = db.open() && query.exec(u"PRAGMA journal_mode=WAL"_s) &&
                           query.exec(u"PRAGMA synchronous=NORMAL"_s) &&
                           query.exec(u"PRAGMA wal_autocheckpoint=0"_s) &&
                           query.exec(u"DROP TABLE IF EXISTS "_s + kNextTable) &&
                           createTable(query, kTable) && createTable(query, kNextTable);
        if (!ready) {
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(m_connection);
            m_connection.clear();
            return false;
        }
    }
    m_lock = std::move(lock);
    m_list = &list;
    m_files = files;
    if (files) {
        // Where a body lies is written at once (a few times per transfer): a note a crash finds
        // out of date could have a body continued with another document's bytes. Only a note that
        // names a body waits for the disk; one that a body is gone guards nothing on it (a part
        // file a stale note names is refused when it is missing), and rows' bodies are dropped by
        // the thousand.
        connect(files, &RowFiles::partChanged, this, [this](quint64 id) {
            if (m_list && m_known.contains(id)) {
                m_dirty.add(id);
                writeNow(id, m_files->noteOf(id).isNull() ? Durability::Usual : Durability::Synced);
                schedule();
            }
        });
    }
    m_dirty.clear();
    m_removed.clear();
    m_clearAll = false;
    m_known.clear();
    m_position.clear();
    m_lastPosition = 0;
    onReordered(); // every row, in its place
    connect(&list, &QAbstractItemModel::rowsInserted, this, [this](const QModelIndex&, int first, int last) {
        for (int row = first; row <= last; ++row)
            m_position.insert(m_list->idOf(row), ++m_lastPosition);
        markRows(first, last);
    });
    connect(&list, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& from, const QModelIndex& to) { markRows(from.row(), to.row()); });
    connect(&list, &QAbstractItemModel::rowsAboutToBeRemoved, this,
            [this](const QModelIndex&, int first, int last) { onAboutToRemove(first, last); });
    connect(&list, &QAbstractItemModel::modelReset, this, &DownloadJournal::onReset);
    connect(&list, &QAbstractItemModel::layoutChanged, this, &DownloadJournal::onReordered);
    // The list as it is now (a list just taken back from the earlier run's table) is written beside
    // that table, in slices, and takes its place in the last slice's transaction: a crash meanwhile
    // finds the earlier table whole.
    m_building = true;
    if (!writeSlice(m_sliceBudgetMs))
        m_flushTimer.start(0);
    return true;
}

void DownloadJournal::PendingRows::add(quint64 id)
{
    if (m_members.contains(id))
        return;
    m_members.insert(id);
    m_order.append(id);
}

void DownloadJournal::PendingRows::clear()
{
    m_members.clear();
    m_order.clear();
    m_front = 0;
}

QList<quint64> DownloadJournal::PendingRows::take(qsizetype count)
{
    QList<quint64> taken;
    while (taken.size() < count && m_front < m_order.size()) {
        const quint64 id = m_order.at(m_front++);
        if (m_members.remove(id)) // not taken back meanwhile
            taken.append(id);
    }
    if (m_front > 4096 && m_front * 2 > m_order.size()) {
        m_order.remove(0, m_front);
        m_front = 0;
    }
    if (m_members.isEmpty())
        clear();
    std::sort(taken.begin(), taken.end());
    return taken;
}

void DownloadJournal::markRows(int first, int last)
{
    for (int row = std::max(first, 0); row <= last && row < m_list->count(); ++row) {
        const quint64 id = m_list->idOf(row);
        m_dirty.add(id);
        m_known.insert(id);
    }
    schedule();
}

void DownloadJournal::onAboutToRemove(int first, int last)
{
    for (int row = first; row <= last; ++row) {
        const quint64 id = m_list->idOf(row);
        m_dirty.remove(id);
        m_position.remove(id);
        if (m_known.remove(id))
            m_removed.add(id);
    }
    schedule();
}

void DownloadJournal::onReset()
{
    if (m_list->isEmpty()) {
        m_clearAll = true;
        m_dirty.clear();
        m_removed.clear();
        m_known.clear();
        m_position.clear();
        schedule();
        return;
    }
    // A removal of many rows at once: whatever the journal holds that the list does not.
    QSet<quint64> present;
    present.reserve(m_list->count());
    for (int row = 0; row < m_list->count(); ++row)
        present.insert(m_list->idOf(row));
    for (const quint64 id : std::as_const(m_known)) {
        if (!present.contains(id)) {
            m_removed.add(id);
            m_dirty.remove(id);
            m_position.remove(id);
        }
    }
    m_known = present;
    schedule();
}

void DownloadJournal::onReordered()
{
    m_position.clear();
    for (int row = 0; row < m_list->count(); ++row)
        m_position.insert(m_list->idOf(row), row);
    m_lastPosition = m_list->count();
    markRows(0, m_list->count() - 1);
}

void DownloadJournal::schedule()
{
    if (!m_flushTimer.isActive())
        m_flushTimer.start(m_delayMs);
}

bool DownloadJournal::bindRow(QSqlQuery& query, quint64 id) const
{
    const int row = m_list->rowOfId(id);
    if (row < 0)
        return false;
    const DownloadItem& item = m_list->at(row);
    query.addBindValue(qint64(id));
    query.addBindValue(m_position.value(id, row));
    query.addBindValue(item.key);
    query.addBindValue(item.referer);
    query.addBindValue(item.name);
    query.addBindValue(item.type);
    query.addBindValue(item.size);
    query.addBindValue(item.received);
    query.addBindValue(item.progress);
    query.addBindValue(item.folder);
    query.addBindValue(int(item.state));
    query.addBindValue(item.reason);
    const ResumeNote note = m_files ? m_files->noteOf(id) : ResumeNote();
    query.addBindValue(note.partPath);
    query.addBindValue(note.url.toString(QUrl::FullyEncoded));
    query.addBindValue(note.validator);
    query.addBindValue(note.total);
    return true;
}

void DownloadJournal::writeNow(quint64 id, Durability durability)
{
    if (m_connection.isEmpty() || !m_list || !m_dirty.contains(id))
        return;
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    // A synced write comes just before a step on disk (a placeholder under the row's name, a
    // body's bytes in its part file) that a power cut may keep: this commit is on the disk first,
    // where a usual one gets there only with the next checkpoint.
    QSqlQuery pragma(db);
    const bool synced = durability == Durability::Synced && pragma.exec(u"PRAGMA synchronous=FULL"_s);
    const auto usual = qScopeGuard([&pragma, synced] {
        if (synced)
            pragma.exec(u"PRAGMA synchronous=NORMAL"_s);
    });
    if (!db.transaction())
        return; // the row stays to be written with the next slice
    QSqlQuery query(db);
    const QString table = m_building ? kNextTable : kTable;
    // What is written at once (a placeholder's name, where a body lies) does not wait behind the
    // removals of a large clearing for a crash to find: an emptied list is emptied here first, a
    // pending removal of this same row is superseded by the write, the rest keep to their slices.
    const bool clearAll = std::exchange(m_clearAll, false);
    bool written = !clearAll || query.exec(u"DELETE FROM "_s + table);
    const bool wasRemoved = m_removed.remove(id);
    query.prepare(insertInto(table));
    written = written && bindRow(query, id) && query.exec();
    if (written && db.commit()) {
        m_dirty.remove(id);
        m_checkpoints.committed(m_path);
        return;
    }
    // Not written (a full disk): what it took on stays to be done.
    db.rollback();
    m_clearAll = m_clearAll || clearAll;
    if (wasRemoved)
        m_removed.add(id);
}

bool DownloadJournal::writeSlice(int budgetMs)
{
    if (m_connection.isEmpty() || !m_list)
        return true;
    constexpr qsizetype kBatch = 256;
    QElapsedTimer clock;
    clock.start();
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    if (!db.transaction())
        return retryLater();
    QSqlQuery query(db);
    const QString table = m_building ? kNextTable : kTable;
    // What the slice takes from the pending rows goes back to them when it is not committed (a full
    // disk, an I/O error), for a later slice to write.
    const bool clearAll = std::exchange(m_clearAll, false);
    QList<quint64> removed;
    QList<quint64> written;
    bool ok = !clearAll || query.exec(u"DELETE FROM "_s + table);
    const auto inTime = [&] { return budgetMs < 0 || clock.elapsed() < budgetMs; };
    query.prepare(u"DELETE FROM "_s + table + u" WHERE id = ?"_s);
    while (ok && !m_removed.isEmpty() && inTime()) {
        const QList<quint64> batch = m_removed.take(kBatch);
        removed += batch;
        for (qsizetype i = 0; ok && i < batch.size(); ++i) {
            query.addBindValue(qint64(batch[i]));
            ok = query.exec();
        }
    }
    query.prepare(insertInto(table));
    while (ok && m_removed.isEmpty() && !m_dirty.isEmpty() && inTime()) {
        const QList<quint64> batch = m_dirty.take(kBatch);
        written += batch;
        for (qsizetype i = 0; ok && i < batch.size(); ++i) {
            if (bindRow(query, batch[i]))
                ok = query.exec();
        }
    }
    // The new list is complete: it takes the earlier table's place in this same transaction, or,
    // should that fail, everything stays as it was for the next slice to try again.
    bool swapped = false;
    if (ok && m_building && m_dirty.isEmpty() && m_removed.isEmpty() && query.exec(u"SAVEPOINT swap"_s)) {
        swapped = query.exec(u"DROP TABLE "_s + kTable) &&
                  query.exec(u"ALTER TABLE "_s + kNextTable + u" RENAME TO "_s + kTable);
        if (!swapped)
            query.exec(u"ROLLBACK TO swap"_s);
        query.exec(u"RELEASE swap"_s);
    }
    if (!ok || !db.commit()) {
        db.rollback();
        m_clearAll = m_clearAll || clearAll;
        for (const quint64 id : std::as_const(removed))
            m_removed.add(id);
        for (const quint64 id : std::as_const(written))
            m_dirty.add(id);
        return retryLater();
    }
    if (swapped)
        m_building = false;
    m_longestSliceMs = std::max(m_longestSliceMs, clock.elapsed());
    m_writingNs += clock.nsecsElapsed();
    m_checkpoints.committed(m_path);
    if (m_building && m_dirty.isEmpty() && m_removed.isEmpty())
        return retryLater(); // the swap failed: tried again later, not at once and for ever
    return !hasPending();
}

bool DownloadJournal::retryLater()
{
    m_flushTimer.start(std::max(m_delayMs, kRetryAfterFailureMs));
    return true;
}

void DownloadJournal::flush()
{
    m_flushTimer.stop();
    writeSlice(-1);
}

void DownloadJournal::discard()
{
    m_flushTimer.stop();
    m_dirty.clear();
    m_removed.clear();
    m_clearAll = false;
    // Only while it holds the file, and the lock is let go only once the files are gone: a journal
    // discarded before, or one that never got the lock, would delete the list another session's
    // journal records there now.
    const std::unique_ptr<QLockFile> lock = std::move(m_lock);
    close();
    if (!lock)
        return;
    for (const QString& side : {QString(), u"-wal"_s, u"-shm"_s})
        QFile::remove(m_path + side);
}

void DownloadJournal::close()
{
    m_checkpoints.waitForDone();
    if (m_list)
        disconnect(m_list, nullptr, this, nullptr);
    if (m_files)
        disconnect(m_files, nullptr, this, nullptr);
    m_list = nullptr;
    m_files = nullptr;
    if (!m_connection.isEmpty()) {
        {
            QSqlDatabase db = QSqlDatabase::database(m_connection, false);
            db.close();
        }
        QSqlDatabase::removeDatabase(m_connection);
        m_connection.clear();
    }
    m_lock.reset(); // unlocks and removes the lock file
}

} // namespace lintbay
