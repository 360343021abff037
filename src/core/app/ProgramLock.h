#pragma once

#include <QLockFile>
#include <QString>

namespace lintbay {

// One running program per user. A second one would share the browser's profile, whose cookie store
// the first keeps locked (its logins would never reach the downloads), and would write the folder
// history, the lists and the settings over the first one's.
class ProgramLock
{
public:
    // The lock file goes into `folder`, which is made when missing.
    explicit ProgramLock(const QString& folder);
    // True when this program holds the lock now; false while another running program holds it. A
    // lock that cannot be made at all (a folder nobody may write) is no reason to refuse to start.
    bool claim();

private:
    bool takeOver();

    QString m_path;
    QLockFile m_lock;
};

} // namespace lintbay
