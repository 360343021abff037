#pragma once

#include <QString>
#include <QThreadPool>

namespace lintbay {

// Moves the write-ahead log of an SQLite database (WAL, its automatic checkpoints turned off) into
// the database every so many commits, on a thread of its own: a checkpoint syncs the file to disk,
// which may take longer than the window may wait. The log lets that reader work beside the writer.
class WalCheckpoints
{
public:
    explicit WalCheckpoints(int commitsPerCheckpoint = 16);
    ~WalCheckpoints(); // waits for a checkpoint under way

    // A commit was made to the database at `path`.
    void committed(const QString& path);
    // Returns once no checkpoint runs (before the database is closed, moved or deleted).
    void waitForDone();

private:
    QThreadPool m_pool;
    int m_every;
    int m_sinceLast = 0;
};

} // namespace lintbay
