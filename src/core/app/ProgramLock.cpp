#include "ProgramLock.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

QString lockPath(const QString& folder)
{
    QDir().mkpath(folder);
    return QDir(folder).filePath(u"running.lock"_s);
}

} // namespace

ProgramLock::ProgramLock(const QString& folder) : m_path(lockPath(folder)), m_lock(m_path)
{
    // Held for as long as the program runs; one left by a program on this machine that died is taken
    // over at once (its process is gone), whatever its age.
    m_lock.setStaleLockTime(0);
}

bool ProgramLock::claim()
{
    if (m_lock.isLocked() || m_lock.tryLock(0))
        return true;
    if (m_lock.error() != QLockFile::LockFailedError)
        return true;
    return takeOver();
}

// A lock whose holder cannot be shown gone (written on another machine sharing this home, before
// the system was installed anew, or left empty by a program killed while writing it) would refuse
// every start from now on. It is taken over when nothing holds it locked (a running holder keeps its
// file locked; across machines that takes a file system that shares its locks) and it has been
// there a moment (a program starting makes its file first and locks it after; a time ahead of this
// machine's clock, from another machine's, counts as a moment ago by as much). One taker at a time:
// two that removed the same old file could each remove the other's new one.
bool ProgramLock::takeOver()
{
    constexpr int kSettleSeconds = 5;
    QLockFile taking(m_path + u".taking"_s);
    if (!taking.tryLock(0))
        return false;
    const QDateTime made = QFileInfo(m_path).lastModified();
    if (!made.isValid() || qAbs(made.secsTo(QDateTime::currentDateTime())) < kSettleSeconds)
        return false;
    return m_lock.removeStaleLockFile() && m_lock.tryLock(0);
}

} // namespace lintbay
