#include "WalCheckpoints.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

void checkpoint(const QString& path)
{
    const QString name = u"checkpoint-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces);
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_s, name);
        db.setDatabaseName(path);
        if (db.open()) {
            QSqlQuery query(db);
            // busy, frames in the log, frames moved into the database
            const bool whole = query.exec(u"PRAGMA wal_checkpoint(PASSIVE)"_s) && query.next() &&
                               query.value(0).toInt() == 0 && query.value(1).toInt() > 0 &&
                               query.value(1).toInt() == query.value(2).toInt();
            query.finish();
            // With the log all in the database, the next write starts it over and syncs its header to
            // disk; under a large download that sync can take half a second. A write of nothing new
            // here takes that sync off the window's next commit.
            if (whole && query.exec(u"PRAGMA user_version"_s) && query.next()) {
                const int version = query.value(0).toInt();
                query.finish();
                query.exec(u"PRAGMA user_version=%1"_s.arg(version));
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

} // namespace

WalCheckpoints::WalCheckpoints(int commitsPerCheckpoint) : m_every(commitsPerCheckpoint)
{
    m_pool.setMaxThreadCount(1);
}

WalCheckpoints::~WalCheckpoints()
{
    waitForDone();
}

void WalCheckpoints::committed(const QString& path)
{
    if (++m_sinceLast < m_every || m_pool.activeThreadCount() > 0)
        return;
    m_sinceLast = 0;
    m_pool.start([path] { checkpoint(path); });
}

void WalCheckpoints::waitForDone()
{
    m_pool.waitForDone();
}

} // namespace lintbay
