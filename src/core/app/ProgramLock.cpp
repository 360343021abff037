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
    if (m_lock.error() != QLockFile::LockFailedError)
        return true;
    // A lock whose holder cannot be shown gone (written on another machine sharing this home, or
    // before the system was installed anew, or left empty by a program killed while writing it)
    // would refuse every start from now on. A running holder keeps its file locked, so taking the
    // file away fails while it runs.
    return m_lock.removeStaleLockFile() && m_lock.tryLock(0);
}

} // namespace lintbay
