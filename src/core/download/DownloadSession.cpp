#include "DownloadSession.h"

#include "app/ProgramSettings.h"
#include "download/DownloadCounters.h"
#include "download/DownloadJournal.h"
#include "download/DownloadListModel.h"
#include "app/Browser.h"
#include "download/LoginAssistant.h"
#include "download/RowFiles.h"
#include "util/Wait.h"

namespace lintbay {

DownloadSession::DownloadSession(ProgramSettings& settings, NetworkContext& network, QObject* parent)
    : QObject(parent), m_settings(settings)
{
    m_list = new DownloadListModel(this);
    m_files = new RowFiles(*m_list, this);
    m_scheduler = new Scheduler(*m_list, network, m_files, this);
    m_sequences = new Sequences(this);
    m_login = new LoginAssistant(*m_sequences, this);
    applySettings();
    connect(&m_settings, &ProgramSettings::changed, this, &DownloadSession::applySettings);
    // Queued: the login waits for pages, and must not do so inside the transfer's own report.
    connect(m_scheduler, &Scheduler::webPageArrived, this, &DownloadSession::loginAfterWebPage, Qt::QueuedConnection);
}

DownloadSession::~DownloadSession()
{
    shutdown();
}

void DownloadSession::applySettings()
{
    Scheduler::Options& o = m_scheduler->options;
    o.downloadMode = m_settings.downloadMode();
    o.policy = m_settings.namePolicy();
    o.maxFileSizeMB = m_settings.maxFileSizeMB();
    o.perHostLimit = m_settings.perHostLimit();
    m_list->setDefaultFolder(m_settings.defaultSavePath());
}

DownloadActivity DownloadSession::activity() const
{
    DownloadActivity a;
    a.downloadBusy = m_scheduler->IsDownloadBusy();
    a.downloading = m_scheduler->IsDownloading();
    a.busyFlag = m_scheduler->busyFlag();
    return a;
}

bool DownloadSession::needsCloseQuestion() const
{
    return m_scheduler->CountTransferSlots() > 1 || m_scheduler->singleTransferRunning() ||
           !检测是否下载列表完毕(*m_list) || m_scheduler->Timer_Down->isActive();
}

bool DownloadSession::recordJournal(const QString& path)
{
    delete m_journal;
    m_journal = new DownloadJournal(path, this);
    if (m_journal->attach(*m_list))
        return true;
    delete m_journal;
    m_journal = nullptr;
    return false;
}

void DownloadSession::shutdown()
{
    m_scheduler->Timer1->stop();
    m_scheduler->StopDownloads();
    m_files->dropAllParts();
    if (m_journal)
        m_journal->discard();
}

void DownloadSession::loginAfterWebPage()
{
    if (!m_autoLogin)
        return;
    if (!m_login->missingInput().isEmpty()) {
        m_autoLogin = false;
        emit autoLoginCancelled();
        return;
    }
    // A login that runs already answers for this page too.
    m_login->LoginNow();
}

} // namespace lintbay
