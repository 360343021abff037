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
        if (db.open())
            QSqlQuery(db).exec(u"PRAGMA wal_checkpoint(PASSIVE)"_s);
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
