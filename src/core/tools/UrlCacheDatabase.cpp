#include "UrlCacheDatabase.h"

#include "tools/UrlCache.h"
#include "tools/UrlCacheIndex.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>
#include <QUuid>
#include <QVariant>

#include <atomic>
#include <limits>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

constexpr qint64 kMaxTotal = std::numeric_limits<qint64>::max();
std::atomic<int> g_busyTimeoutMs{250};

// SQLite's primary result codes that decide what a failure means.
enum SqliteCode
{
    kPerm = 3,
    kBusy = 5,
    kLocked = 6,
    kReadOnly = 8,
    kIoError = 10,
    kCorrupt = 11,
    kFull = 13,
    kCantOpen = 14,
    kNotADatabase = 26,
};

int primaryCode(const QSqlError& error)
{
    bool ok = false;
    const int code = error.nativeErrorCode().toInt(&ok);
    return ok ? (code & 0xFF) : -1;
}

bool isDamage(const QSqlError& error)
{
    const int code = primaryCode(error);
    return code == kCorrupt || code == kNotADatabase;
}

bool turnsCacheOff(const QSqlError& error)
{
    switch (primaryCode(error)) {
    case kPerm:
    case kBusy:
    case kLocked:
    case kReadOnly:
    case kIoError:
    case kFull:
    case kCantOpen:
        return true;
    default:
        return false;
    }
}

qint64 addSize(qint64 total, qint64 size)
{
    qint64 sum = 0;
    return qAddOverflow(total, size, &sum) ? kMaxTotal : sum;
}

} // namespace

struct UrlCacheDatabase::Registry
{
    QMutex mutex;
    // By thread and folder: a connection serves only the thread that made it.
    QHash<QString, UrlCacheDatabase*> open;

    static Registry& instance()
    {
        static Registry* registry = [] {
            auto* r = new Registry;
            // Connections are closed while the application object still exists.
            if (QCoreApplication::instance())
                qAddPostRoutine([] { UrlCacheDatabase::closeAll(); });
            return r;
        }();
        return *registry;
    }
    static QString keyOf(const QString& folder)
    {
        return QString::number(quintptr(QThread::currentThread())) + u'|' + folder;
    }
};

QString UrlCacheDatabase::fileName()
{
    return u"index.sqlite"_s;
}

QString UrlCacheDatabase::legacyFileName()
{
    return u"index.dat"_s;
}

bool UrlCacheDatabase::isIndexFile(const QString& name)
{
    return name.startsWith(fileName()) || name.startsWith(legacyFileName());
}

void UrlCacheDatabase::setBusyTimeout(int ms)
{
    g_busyTimeoutMs = ms;
}

UrlCacheDatabase::UrlCacheDatabase(const QString& folder)
    : m_folder(folder), m_path(folder + u'/' + fileName())
{
}

UrlCacheDatabase::~UrlCacheDatabase()
{
    close();
}

UrlCacheDatabase* UrlCacheDatabase::open(const QString& folderPath, Access access, bool* off)
{
    if (off)
        *off = false;
    const QString folder = QDir::cleanPath(QDir::fromNativeSeparators(folderPath));
    Registry& registry = Registry::instance();
    QMutexLocker locker(&registry.mutex);
    const QString key = Registry::keyOf(folder);
    if (UrlCacheDatabase* known = registry.open.value(key)) {
        if (known->m_state == State::Off) {
            if (off)
                *off = true;
            return nullptr;
        }
        // Ready, unless damage was found or the database was removed under the running program.
        if (known->m_state == State::Ready && QFileInfo::exists(known->m_path) &&
            !QFileInfo(known->m_path).isSymLink())
            return known;
        const bool damaged = known->m_state == State::Damaged;
        known->close();
        if (damaged)
            known->setAside();
        registry.open.remove(key);
        delete known;
    }

    const QString path = folder + u'/' + fileName();
    if (access == Access::Read && !QFileInfo::exists(path) && !QFileInfo(path).isSymLink() &&
        !QFileInfo::exists(folder + u'/' + legacyFileName()))
        return nullptr;

    auto* index = new UrlCacheDatabase(folder);
    registry.open.insert(key, index);
    bool ready = false;
    // An earlier index that cannot be read is left alone, and with it the cache: nothing is made
    // beside it that would pass for the cache it held.
    QList<UrlCacheEntry> legacy;
    bool legacyRead = false;
    bool legacyReadable = QFileInfo::exists(path) || QFileInfo(path).isSymLink();
    if (!legacyReadable)
        legacyReadable = legacyRead = urlcacheindex::read(folder + u'/' + legacyFileName(), legacy);
    if (legacyReadable && QDir().mkpath(folder)) {
        // A damaged database is moved aside and made anew, once.
        for (int attempt = 0; attempt < 2 && !ready; ++attempt) {
            // A link in its place would have the database written wherever it leads.
            if (QFileInfo(path).isSymLink())
                index->setAside();
            ready = index->connect() && index->prepare();
            if (!ready) {
                const bool damaged = index->m_state == State::Damaged;
                index->close();
                if (!damaged)
                    break;
                index->setAside();
                index->m_state = State::Ready;
            }
        }
        ready = ready && index->migrate(legacyRead ? &legacy : nullptr);
    }
    if (!ready) {
        index->close();
        index->m_state = State::Off;
        if (off)
            *off = true;
        return nullptr;
    }
    return index;
}

void UrlCacheDatabase::closeAll()
{
    Registry& registry = Registry::instance();
    QMutexLocker locker(&registry.mutex);
    const QString prefix = QString::number(quintptr(QThread::currentThread())) + u'|';
    const bool everything = !QCoreApplication::instance() ||
                            QThread::currentThread() == QCoreApplication::instance()->thread();
    for (auto it = registry.open.begin(); it != registry.open.end();) {
        if (everything || it.key().startsWith(prefix)) {
            delete it.value();
            it = registry.open.erase(it);
        } else {
            ++it;
        }
    }
}

QSqlDatabase UrlCacheDatabase::db() const
{
    return QSqlDatabase::database(m_connection, false);
}

bool UrlCacheDatabase::connect()
{
    m_connection = u"urlcache-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, m_connection);
    db.setDatabaseName(m_path);
    db.setConnectOptions(u"QSQLITE_BUSY_TIMEOUT="_s + QString::number(g_busyTimeoutMs));
    if (!db.open()) {
        failed(db.lastError());
        if (m_state == State::Ready)
            m_state = State::Off;
        return false;
    }
    return true;
}

bool UrlCacheDatabase::prepare()
{
    QSqlQuery query(db());
    const auto run = [&](const QString& statement) {
        if (query.exec(statement))
            return true;
        failed(query.lastError());
        // Anything else wrong with the tables means the file is not an index of this cache.
        if (m_state == State::Ready)
            m_state = State::Damaged;
        return false;
    };
    // A busy database is not damaged: it may not be looked at now, so the cache stays off.
    if (!query.exec(u"PRAGMA journal_mode=WAL"_s)) {
        failed(query.lastError());
        if (m_state == State::Ready)
            m_state = State::Off;
        return false;
    }
    // Checkpoints run on a thread of their own (committed()), never in the middle of a store.
    if (!run(u"PRAGMA synchronous=NORMAL"_s) || !run(u"PRAGMA wal_autocheckpoint=0"_s) ||
        !run(u"PRAGMA quick_check(1)"_s))
        return false;
    if (!query.next() || query.value(0).toString() != u"ok"_s) {
        m_state = State::Damaged;
        return false;
    }
    query.finish();
    return run(u"CREATE TABLE IF NOT EXISTS entries (seq INTEGER PRIMARY KEY, url TEXT NOT NULL UNIQUE, "
               "file TEXT NOT NULL UNIQUE, size INTEGER NOT NULL, stored INTEGER NOT NULL, "
               "protected INTEGER NOT NULL)"_s) &&
           run(u"CREATE INDEX IF NOT EXISTS entries_age ON entries (stored, seq) WHERE protected = 0"_s) &&
           run(u"CREATE TABLE IF NOT EXISTS meta (key TEXT PRIMARY KEY, value INTEGER)"_s) &&
           run(u"SELECT seq, url, file, size, stored, protected FROM entries LIMIT 0"_s) &&
           run(u"SELECT key, value FROM meta LIMIT 0"_s);
}

bool UrlCacheDatabase::migrate(const QList<UrlCacheEntry>* alreadyRead)
{
    QSqlQuery query(db());
    if (!query.exec(u"SELECT value FROM meta WHERE key = 'moved'"_s)) {
        failed(query.lastError());
        return false;
    }
    if (query.next())
        return true; // done once: an index.dat seen later is not this cache's
    query.finish();

    const QString legacy = m_folder + u'/' + legacyFileName();
    QList<UrlCacheEntry> entries;
    if (alreadyRead)
        entries = *alreadyRead;
    else if (!urlcacheindex::read(legacy, entries))
        return false;
    UrlCacheTransaction transaction(*this);
    if (!transaction.isOpen())
        return false;
    query.prepare(u"INSERT INTO entries (url, file, size, stored, protected) VALUES (?, ?, ?, ?, ?)"_s);
    qint64 sum = 0;
    for (const UrlCacheEntry& entry : std::as_const(entries)) {
        // The old index was a text anyone could edit: the size of a file that is there is its
        // length, so that the database's sizes can be shown as the files' own.
        const QFileInfo file(m_folder + u'/' + entry.fileName);
        const qint64 size = file.isFile() && !file.isSymLink() ? file.size() : entry.size;
        query.addBindValue(entry.url);
        query.addBindValue(entry.fileName);
        query.addBindValue(size);
        query.addBindValue(entry.stored.toMSecsSinceEpoch());
        query.addBindValue(IsProtectedCacheUrl(entry.url) ? 1 : 0);
        if (!query.exec()) {
            failed(query.lastError());
            return false;
        }
        sum = addSize(sum, size);
    }
    if (!setTotal(sum) || !query.exec(u"INSERT INTO meta (key, value) VALUES ('moved', 1)"_s) ||
        !transaction.commit()) {
        failed(query.lastError());
        return false;
    }
    QFile::remove(legacy);
    return true;
}

void UrlCacheDatabase::failed(const QSqlError& error)
{
    if (m_state != State::Ready)
        return;
    if (isDamage(error))
        m_state = State::Damaged;
    else if (turnsCacheOff(error))
        m_state = State::Off;
}

qint64 UrlCacheDatabase::total()
{
    QSqlQuery query(db());
    query.setForwardOnly(true);
    if (query.exec(u"SELECT value FROM meta WHERE key = 'total'"_s) && query.next()) {
        const qint64 value = query.value(0).toLongLong();
        if (value >= 0 && value < kMaxTotal)
            return value;
    }
    // Missing, or too large to take sizes off exactly: summed afresh.
    return sumOfSizes();
}

qint64 UrlCacheDatabase::sumOfSizes()
{
    QSqlQuery query(db());
    query.setForwardOnly(true);
    qint64 sum = 0;
    if (query.exec(u"SELECT size FROM entries"_s)) {
        while (query.next())
            sum = addSize(sum, std::max<qint64>(0, query.value(0).toLongLong()));
    }
    return sum;
}

bool UrlCacheDatabase::setTotal(qint64 total)
{
    QSqlQuery query(db());
    query.prepare(u"INSERT OR REPLACE INTO meta (key, value) VALUES ('total', ?)"_s);
    query.addBindValue(std::max<qint64>(0, total));
    if (query.exec())
        return true;
    failed(query.lastError());
    return false;
}

void UrlCacheDatabase::close()
{
    m_checkpoints.waitForDone();
    if (m_connection.isEmpty())
        return;
    {
        QSqlDatabase database = QSqlDatabase::database(m_connection, false);
        database.close();
    }
    QSqlDatabase::removeDatabase(m_connection);
    m_connection.clear();
}

void UrlCacheDatabase::setAside()
{
    // Kept for whoever wants to look at it, out of the way of the new one.
    const QString stamp = QDateTime::currentDateTime().toString(u"yyyyMMdd-HHmmss"_s);
    QString aside = m_path + u".corrupt-"_s + stamp;
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
        aside = m_path + u".corrupt-"_s + stamp + u'-' + QString::number(n);
    if (!QFile::rename(m_path, aside))
        QFile::remove(m_path);
    for (const QString& side : {u"-wal"_s, u"-shm"_s})
        QFile::remove(m_path + side);
}

UrlCacheTransaction::UrlCacheTransaction(UrlCacheDatabase& index) : m_index(index)
{
    QSqlQuery query(m_index.db());
    m_open = query.exec(u"BEGIN IMMEDIATE"_s);
    if (!m_open)
        m_index.failed(query.lastError());
}

UrlCacheTransaction::~UrlCacheTransaction()
{
    if (m_open)
        QSqlQuery(m_index.db()).exec(u"ROLLBACK"_s);
}

bool UrlCacheTransaction::commit()
{
    if (!m_open)
        return false;
    QSqlQuery query(m_index.db());
    if (query.exec(u"COMMIT"_s)) {
        m_open = false;
        m_index.committed();
        return true;
    }
    m_index.failed(query.lastError());
    return false;
}

} // namespace lintbay
