#include "DownloadSession.h"

#include "app/ProgramSettings.h"
#include "download/DownloadCounters.h"
#include "download/DownloadJournal.h"
#include "download/DownloadListModel.h"
#include "app/Browser.h"
#include "download/LoginAssistant.h"
#include "download/RowFiles.h"
#include "controls/Downloader.h"
#include "controls/PartFile.h"
#include "util/Wait.h"

#include <QFile>

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
    // The placeholder a slot writes is found after a crash only under a name the journal holds.
    connect(m_scheduler, &Scheduler::nameAboutToBeClaimed, this, [this](int row) {
        if (m_journal)
            m_journal->writeNow(m_list->idOf(row));
    });
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
    if (m_journal->attach(*m_list, m_files))
        return true;
    delete m_journal;
    m_journal = nullptr;
    return false;
}

namespace {

// What the interrupted transfers of a leftover list left under their rows' names: the placeholder
// that claims a name in parallel mode. Every row not finished is looked at, not only those the
// journal had as running: a transfer writes its placeholder at once, the journal learns of the
// start a moment later. Only a plain file holding exactly the placeholder's bytes goes.
void removePlaceholders(const DownloadJournal::Found& left)
{
    for (const DownloadItem& row : left.rows) {
        if (row.state != DownloadItemState::Done)
            Downloader::removePlaceholderAt(row.filePath());
    }
}

} // namespace

void DownloadSession::restore(const DownloadJournal::Found& left)
{
    removePlaceholders(left);
    const int first = m_list->count();
    m_list->addItems(left.rows);
    QList<RowFiles::LeftPart> parts;
    for (qsizetype i = 0; i < left.parts.size() && i < left.rows.size(); ++i) {
        const ResumeNote& note = left.parts.at(i);
        if (note.isNull())
            continue;
        const int row = m_list->rowOfKey(left.rows.at(i).key);
        if (row >= first && m_list->at(row).state != DownloadItemState::Done)
            parts.append({m_list->idOf(row), note, m_list->at(row).folder});
        else if (PartFile::isPartFile(note.partPath))
            QFile::remove(note.partPath);
    }
    // The scheduler starts no row until they are in.
    m_files->adoptParts(parts);
}

void DownloadSession::discardLeftover(const DownloadJournal::Found& left)
{
    removePlaceholders(left);
    for (const ResumeNote& note : left.parts) {
        if (!note.isNull() && PartFile::isPartFile(note.partPath))
            QFile::remove(note.partPath);
    }
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
