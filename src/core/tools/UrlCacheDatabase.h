#pragma once

#include "tools/UrlCacheIndex.h"
#include "util/WalCheckpoints.h"

#include <QList>
#include <QSqlDatabase>
#include <QString>

class QSqlError;

namespace lintbay {

// The index of a URL cache folder: an SQLite database (WAL) beside the bucket folders, one row per
// address (its file, size, time stored, whether it is protected from removal) and the running sum
// of the sizes, so that storing and evicting touch only the rows they change.
//
// One connection per folder serves every UrlCache object on that folder for the rest of the run; it
// is opened on first use. Opening makes the tables when they are missing and moves an index.dat
// left by an earlier version over once (then deletes it). A database that turns out damaged is
// moved aside and made anew; one that is locked or cannot be written turns the cache off for the
// rest of the run: every store then fails and every listing comes back empty and incomplete.
class UrlCacheDatabase
{
public:
    // The database in the cache folder, and the index file of earlier versions.
    static QString fileName();
    static QString legacyFileName();
    // Whether a file name of the cache folder belongs to the index (the database, its log, a
    // damaged copy set aside, the earlier index file) rather than being a cached file.
    static bool isIndexFile(const QString& name);

    enum class Access
    {
        Read, // an index that does not exist yet is not made (nothing is cached)
        Write // made when missing, with the cache folder
    };
    // The open index of `folder`, or null: with `off` false when, reading, there is no index yet;
    // with `off` true when the cache is off for this run.
    static UrlCacheDatabase* open(const QString& folder, Access access, bool* off = nullptr);
    // Closes every index of this thread; the next use opens it afresh as a new run would.
    static void closeAll();
    // How long a statement waits for another program's write before the cache is off.
    static void setBusyTimeout(int ms);

    QSqlDatabase db() const;
    // A statement failed: a damaged index is moved aside at the next use, which makes a new one;
    // a locked or unwritable one turns the cache off for the run.
    void failed(const QSqlError& error);

    // The bytes the rows count, kept with the rows; a sum that would overflow stays at the
    // largest value. Only within a transaction.
    qint64 total();
    bool setTotal(qint64 total);
    // A transaction was committed.
    void committed() { m_checkpoints.committed(m_path); }
    // The sizes of the rows summed afresh (the same saturation).
    qint64 sumOfSizes();

    ~UrlCacheDatabase();

private:
    enum class State
    {
        Ready,
        Damaged,
        Off
    };
    struct Registry;
    explicit UrlCacheDatabase(const QString& folder);
    bool connect();
    bool prepare();
    // Moves index.dat over unless done before; `alreadyRead` holds its entries when they were read.
    bool migrate(const QList<UrlCacheEntry>* alreadyRead = nullptr);
    void close();
    void setAside();

    QString m_folder;
    QString m_path;
    QString m_connection;
    State m_state = State::Ready;
    WalCheckpoints m_checkpoints;
};

// One write transaction (BEGIN IMMEDIATE), rolled back unless committed.
class UrlCacheTransaction
{
public:
    explicit UrlCacheTransaction(UrlCacheDatabase& index);
    ~UrlCacheTransaction();
    bool isOpen() const { return m_open; }
    bool commit();

private:
    UrlCacheDatabase& m_index;
    bool m_open = false;
};

} // namespace lintbay
