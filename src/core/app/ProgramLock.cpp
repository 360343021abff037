#include "ProgramLock.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

QString lockPath(const QString& folder)
{
    QDir().mkpath(folder);
    return QDir(folder).filePath(u"running.lock"_s);
}

} // namespace

ProgramLock::ProgramLock(const QString& folder) : m_lock(lockPath(folder))
{
    // Held for as long as the program runs; one left by a program that died is taken over (its
    // process is gone), whatever its age.
    m_lock.setStaleLockTime(0);
}

bool ProgramLock::claim()
{
    if (m_lock.isLocked() || m_lock.tryLock(0))
        return true;
    return m_lock.error() != QLockFile::LockFailedError;
}

} // namespace lintbay
