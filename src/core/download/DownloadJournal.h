#pragma once

#include "controls/Fetch.h"
#include "download/DownloadListModel.h"
#include "util/WalCheckpoints.h"

#include <QElapsedTimer>
#include <QList>
#include <QLockFile>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QTimer>

#include <memory>

class QSqlQuery;

namespace lintbay {

class RowFiles;

// The download list written down as it changes, so that a crash, a kill or a power cut does not
// lose it: an SQLite database (WAL) in the user's data folder, one row per list row. A normal end
// of the list deletes it; one found at the next start is what an unclean exit left.
//
// Changes are gathered and written in small slices, each within a few milliseconds, so the window
// never waits on the disk for long whatever the size of the list; a list attached to it is written
// beside the earlier one, which it replaces only when complete. What is about to be put on disk
// under a row (a slot's placeholder, where a body lies) is written at once, one row. A lock file
// beside the database tells a journal in use by a running program from one left behind.
class DownloadJournal : public QObject
{
    Q_OBJECT
public:
    // The journal of this user's download list.
    static QString defaultPath();

    enum class Leftover
    {
        None,   // no journal, or one another running program writes
        Rows,   // a list an unclean exit left; rows that were running come back waiting
        Corrupt // unreadable: moved aside to `setAside`
    };
    struct Found
    {
        Leftover kind = Leftover::None;
        QList<DownloadItem> rows;
        // For each row, the body its transfer had begun (null when none): see RowFiles::adoptParts.
        QList<ResumeNote> parts;
        QString setAside;
    };
    // What an unclean exit left at `path`. Never throws away a readable journal; a corrupt one is
    // moved aside (never deleted) so that the next start is not asked again.
    static Found inspect(const QString& path);

    explicit DownloadJournal(const QString& path, QObject* parent = nullptr);
    ~DownloadJournal() override; // writes what is pending; the file stays

    QString path() const { return m_path; }
    // Starts recording the list (what it holds now, then every change), with where the rows' bodies
    // lie when `files` is given. False, with the journal off and the list untouched, when the
    // database cannot be had (the downloads go on without).
    bool attach(DownloadListModel& list, RowFiles* files = nullptr);
    bool isRecording() const { return m_list != nullptr; }
    bool hasPending() const { return !m_dirty.isEmpty() || !m_removed.isEmpty() || m_clearAll || m_building; }
    // Writes everything pending now.
    void flush();
    // Writes the row now, ahead of the others pending: something is about to be put on disk under
    // its name that a start after a crash must find. Synced, the commit is on the disk before this
    // returns.
    enum class Durability
    {
        Usual,
        Synced
    };
    void writeNow(quint64 id, Durability durability = Durability::Synced);
    // The list ended normally: stop recording and delete the journal.
    void discard();

    // How long one slice of writing may take, and how soon after a change it starts.
    void setSliceBudget(int ms) { m_sliceBudgetMs = ms; }
    void setDelay(int ms) { m_delayMs = ms; }
    // The longest slice so far and the time of all slices, in milliseconds (for the benchmark).
    qint64 longestSliceMs() const { return m_longestSliceMs; }
    double writingMs() const { return m_writingNs / 1e6; }

private:
    // Rows waiting to be written or deleted: a set for the question "already waiting?", and the
    // order they came in, taken from the front in batches (the rows of one batch in key order share
    // the database's pages; a large set gives its entries up one by one only slowly).
    class PendingRows
    {
    public:
        void add(quint64 id);
        bool remove(quint64 id) { return m_members.remove(id); }
        bool contains(quint64 id) const { return m_members.contains(id); }
        bool isEmpty() const { return m_members.isEmpty(); }
        void clear();
        // Up to `count` ids, in key order.
        QList<quint64> take(qsizetype count);

    private:
        QSet<quint64> m_members;
        QList<quint64> m_order;
        qsizetype m_front = 0;
    };

    void markRows(int first, int last);
    void onAboutToRemove(int first, int last);
    void onReset();
    void onReordered();
    void schedule();
    // Binds the row's values to an INSERT of every column; false when the row is gone.
    bool bindRow(QSqlQuery& query, quint64 id) const;
    // Writes one slice (all of it when `budgetMs` is negative); true when nothing is left, or when
    // the slice could not be written and the next try is set for later.
    bool writeSlice(int budgetMs);
    bool retryLater();
    void close();

    QString m_path;
    QString m_connection;
    std::unique_ptr<QLockFile> m_lock;
    QPointer<DownloadListModel> m_list;
    QPointer<RowFiles> m_files;
    QTimer m_flushTimer;
    PendingRows m_dirty;               // rows to write
    PendingRows m_removed;             // rows to delete
    bool m_clearAll = false;           // the list was emptied: every row goes at once
    bool m_building = false;           // attach(): the list is being written beside the earlier table
    QSet<quint64> m_known;             // rows the journal holds (or will when m_dirty is written)
    QHash<quint64, qint64> m_position; // list order: appended rows count on, a reorder renumbers
    qint64 m_lastPosition = 0;
    int m_sliceBudgetMs = 8;
    int m_delayMs = 200;
    qint64 m_longestSliceMs = 0;
    qint64 m_writingNs = 0;
    WalCheckpoints m_checkpoints;
};

} // namespace lintbay
