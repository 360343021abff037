#pragma once

#include "download/DownloadJournal.h"
#include "download/ListOperations.h"
#include "download/Scheduler.h"

#include <QObject>

namespace lintbay {

class DownloadListModel;
class LoginAssistant;
class NetworkContext;
class ProgramSettings;
class RowFiles;
class Sequences;

// One download session: the download list with what it keeps of its rows' files (the bodies of
// transfers to go on with, the digests of finished files: RowFiles), the scheduler that works it and
// the login routine of the login panel. It lives from the download window's load to its unload (the
// list is held in memory only) and belongs to the program context, not to the window: the hand-over
// from the search window adds rows here, the options dialog only changes the settings, which the
// session follows, and the window views and wires it.
class DownloadSession : public QObject
{
    Q_OBJECT
public:
    DownloadSession(ProgramSettings& settings, NetworkContext& network, QObject* parent = nullptr);
    ~DownloadSession() override;

    DownloadListModel& list() const { return *m_list; }
    RowFiles& files() const { return *m_files; }
    Scheduler& scheduler() const { return *m_scheduler; }
    LoginAssistant& login() const { return *m_login; }
    ProgramSettings& settings() const { return m_settings; }
    // The session's own long sequences (a login, opening the login page).
    Sequences& sequences() const { return *m_sequences; }

    // The window's choices the scheduler works by; the program-wide ones (mode, name policy, size
    // limit) follow the settings.
    Scheduler::Options& options() const { return m_scheduler->options; }

    // "自动登录": log in again, silently, after a transfer brought a web page.
    void setAutoLogin(bool on) { m_autoLogin = on; }
    bool autoLogin() const { return m_autoLogin; }

    // Writes the list to a journal at `path` as it changes, so that a crash does not lose it; the
    // session's normal end deletes it. False when no journal can be kept (the list works anyway).
    bool recordJournal(const QString& path);
    DownloadJournal* journal() const { return m_journal; }
    // Takes back the list an unclean exit left (DownloadJournal::inspect): its rows, and the bodies
    // their transfers had begun, for those rows to go on with. Bodies no row takes are removed.
    void restore(const DownloadJournal::Found& left);
    // The list an unclean exit left is not wanted: the bodies it names go with it.
    static void discardLeftover(const DownloadJournal::Found& left);

    // What runs now, for the list commands that must wait for the downloads.
    DownloadActivity activity() const;
    // The unload asks before discarding transfers or rows that are not finished.
    bool needsCloseQuestion() const;
    // The unload: stops the timers and every transfer (running rows end as failed), removes the
    // bodies kept for later attempts and deletes the journal: the list ends normally.
    void shutdown();

signals:
    // The automatic login lacked its address or credentials and was switched off.
    void autoLoginCancelled();

private:
    void applySettings();
    void loginAfterWebPage();

    ProgramSettings& m_settings;
    DownloadListModel* m_list = nullptr;
    RowFiles* m_files = nullptr;
    Scheduler* m_scheduler = nullptr;
    Sequences* m_sequences = nullptr;
    LoginAssistant* m_login = nullptr;
    DownloadJournal* m_journal = nullptr;
    bool m_autoLogin = false;
};

} // namespace lintbay
