#include "fFileDownload.h"
#include "ui_fFileDownload.h"

#include "app/AppContext.h"
#include "app/GuiContext.h"
#include "app/SettingsStore.h"
#include "download/DownloadCounters.h"
#include "download/DownloadJournal.h"
#include "download/DownloadListCommands.h"
#include "download/DownloadListModel.h"
#include "download/DownloadSession.h"
#include "download/LoginPanel.h"
#include "download/Scheduler.h"
#include "download/StateIcons.h"
#include "util/ListViewHelpers.h"
#include "util/Messages.h"
#include "util/ShellHelpers.h"
#include "util/SoundPlayer.h"
#include "util/Wait.h"
#include "util/WindowHelpers.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QRadioButton>
#include <QUrl>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {
const QString kDownloadSection = u"下载"_s;
const QString kThreadsKey = u"线程"_s;
const QString kCloseQuestion = u"正在下载文件或者下载没有完成，要强制关闭窗口吗？"_s;
constexpr int kStripeRowHeight = 17;
} // namespace

fFileDownload::fFileDownload(GuiContext& context, QWidget* parent)
    : QMainWindow(parent), m_context(context), ui(std::make_unique<Ui::fFileDownload>())
{
    ui->setupUi(this);
    setObjectName(u"fFileDownload"_s);
    // Found from here on: the question about a list left by an unclean exit runs the event loop,
    // and a hand-over pass then must get this window, not load a second one on the same session.
    m_context.download = this;
    // Loading the window starts the session with an empty list.
    m_session = &m_context.app().openDownloadSession();
    m_sequences = new Sequences(this);

    m_proxy = new StateIconProxy(this);
    m_proxy->setSourceModel(&m_session->list());
    ui->ListView3->setModel(m_proxy);
    ui->ListView3->verticalHeader()->setDefaultSectionSize(kStripeRowHeight + 2);
    ui->ListView3->verticalHeader()->hide();
    const int widths[DownloadListModel::ColumnCount] = {400, 53, 73, 73, 53, 400, 300};
    for (int c = 0; c < DownloadListModel::ColumnCount; ++c)
        ui->ListView3->setColumnWidth(c, widths[c]);
    // The reasons are there for who asks (the header's menu); the six columns stay as they were.
    ui->ListView3->setColumnHidden(DownloadListModel::ReasonColumn, true);
    ui->ListView3->horizontalHeader()->setSectionsClickable(true);
    SetListViewStripes(ui->ListView3);

    for (int i = 0; i < 4; ++i) {
        m_statusPanels[i] = new QLabel(this);
        m_statusPanels[i]->setObjectName(u"StatusPanel%1"_s.arg(i + 1));
        ui->StatusBar1->addWidget(m_statusPanels[i], i == 1 ? 2 : (i == 3 ? 1 : 0));
    }
    m_statusPanels[0]->setText(QCoreApplication::applicationName());
    m_statusPanels[1]->installEventFilter(this);
    m_statusPanels[1]->setCursor(Qt::PointingHandCursor);

    Timer1 = m_session->scheduler().Timer1;
    Timer_Down = m_session->scheduler().Timer_Down;
    Timer2 = new QTimer(this);
    Timer2->setObjectName(u"Timer2"_s);
    Timer2->setInterval(60000);

    wireScheduler();
    m_loginPanel = new LoginPanel(*ui, *m_session, m_context, *this);
    m_commands = new DownloadListCommands(*ui, *m_session, m_context, *this);
    load();
}

fFileDownload::~fFileDownload()
{
    // Unloaded without its closing steps (the program ends): the session goes with the window.
    if (!m_unloaded && m_session)
        m_context.app().closeDownloadSession();
}

DownloadSession& fFileDownload::session() const
{
    return *m_session;
}

DownloadListModel* fFileDownload::list() const
{
    return &m_session->list();
}

Scheduler* fFileDownload::scheduler() const
{
    return &m_session->scheduler();
}

Browser* fFileDownload::Web1()
{
    return m_loginPanel->Web1();
}

LoginAssistant* fFileDownload::login() const
{
    return &m_session->login();
}

void fFileDownload::LoginNow(bool showMessages)
{
    m_loginPanel->LoginNow(showMessages);
}

void fFileDownload::wireScheduler()
{
    Scheduler* s = &m_session->scheduler();
    connect(Timer1, &QTimer::timeout, this, &fFileDownload::onTimer1);
    connect(s, &Scheduler::playSound, this, [](int id) { PlaySoundResource(id); });
    connect(s, &Scheduler::statusText, this, &fFileDownload::setStatusPanel);
    connect(s, &Scheduler::runningChanged, this, [this](bool on) {
        ui->Shape1->setVisible(on);
        ui->menu下载全部->setEnabled(!on);
    });
    connect(s, &Scheduler::automaticModesCleared, this, [this] {
        ui->Check4->setChecked(false);
        ui->Check3->setChecked(false);
    });
    connect(s, &Scheduler::rowStarted, this, [this](int row) {
        if (ui->menu自动定位到下载项->isChecked())
            ui->ListView3->scrollTo(m_proxy->index(row, 0));
    });
    connect(ui->Command4, &QPushButton::clicked, s, &Scheduler::StartDownloads);
    connect(ui->menu下载全部, &QAction::triggered, s, &Scheduler::StartDownloads);
    connect(ui->Command31, &QPushButton::clicked, s, &Scheduler::StopDownloads);
    connect(ui->menu停止下载, &QAction::triggered, s, &Scheduler::StopDownloads);

    // The window's own choices go to the scheduler as they change; the name policy and the mode are
    // program settings the session follows.
    for (QCheckBox* box : {ui->Check3, ui->Check4, ui->Check5, ui->Check6, ui->CheckDeleteDuplicates})
        connect(box, &QCheckBox::toggled, this, &fFileDownload::syncOptions);
    for (QComboBox* combo : {ui->Combo1, ui->Combo2, ui->Combo4})
        connect(combo, &QComboBox::currentIndexChanged, this, &fFileDownload::syncOptions);
    for (QRadioButton* option : {ui->Option1, ui->Option2, ui->Option3})
        connect(option, &QRadioButton::toggled, this, [this](bool on) {
            if (on)
                m_context.app().settings().setNamePolicy(namePolicyFromText(DuplicateNamePolicy()));
        });
    connect(&m_context.app().settings(), &ProgramSettings::changed, this,
            [this](ProgramSettings::Field field) {
                if (field == ProgramSettings::Field::DownloadMode)
                    showDownloadMode();
            });
    connect(ui->Command26, &QPushButton::clicked, this, &fFileDownload::SwitchDownloadMode);
}

void fFileDownload::load()
{
    const ProgramSettings& v = m_context.app().settings();
    SettingsStore& store = m_context.app().store();

    setWindowTitle(u"文件下载-"_s + QCoreApplication::applicationName());
    setWindowIcon(QIcon(u":/icons/lintbay.png"_s));
    ui->Combo4->addItems({u"出错项"_s, u"文件类型为HTM和HTML项"_s, u"出错项和文件类型为HTM和HTML项"_s});
    ui->Combo4->setCurrentIndex(0);
    FitComboDropWidth(ui->Combo4);

    const bool single = v.downloadMode() == lintbay::DownloadMode::Single;
    ui->Label7->setText(u"下载方式："_s + QString::number(int(v.downloadMode())));
    for (int i = 1; i <= 6; ++i)
        ui->Combo1->addItem(QString::number(i));
    ui->Combo1->setCurrentIndex(0);
    ui->Combo1->setEnabled(!single);
    if (!single) {
        const int index = store.getInt(kDownloadSection, kThreadsKey, 2);
        if (index >= 0 && index < ui->Combo1->count())
            ui->Combo1->setCurrentIndex(index);
    }

    const QString policy = namePolicyText(v.namePolicy());
    if (ui->Option1->text().trimmed() == policy)
        ui->Option1->setChecked(true);
    else if (ui->Option2->text().trimmed() == policy)
        ui->Option2->setChecked(true);
    else
        ui->Option3->setChecked(true);

    RestoreWindowPlacement(this, store);

    ui->Combo2->clear();
    for (int i = 0; i <= 600; ++i)
        ui->Combo2->addItem(QString::number(i));
    ui->Combo2->setCurrentIndex(0);

    syncOptions();
    restoreJournal();
    Timer1->start();
    UpdateCountLabel();
    UpdateCounters();
}

void fFileDownload::restoreJournal()
{
    // A list an unclean exit left behind is offered back; the new list is then journalled itself.
    const QString path = m_context.journalPath;
    const DownloadJournal::Found left = DownloadJournal::inspect(path);
    if (left.kind == DownloadJournal::Leftover::Corrupt)
        ShowError(this, u"上次未完成的下载列表已损坏，无法恢复。"_s +
                            (left.setAside.isEmpty() ? QString() : u"已另存为："_s + left.setAside));
    else if (left.kind == DownloadJournal::Leftover::Rows) {
        if (AskYesNo(this, u"恢复上次未完成的下载列表？"_s))
            m_session->restore(left);
        else
            DownloadSession::discardLeftover(left);
    }
    m_session->recordJournal(path);
}

void fFileDownload::syncOptions()
{
    Scheduler::Options& o = m_session->options();
    o.threadCount = threadCount();
    o.intervalSeconds = intervalSeconds();
    o.autoRedownload = ui->Check3->isChecked();
    o.autoRedownloadRule = ui->Combo4->currentIndex();
    o.autoStart = ui->Check4->isChecked();
    o.stopAfterFailures = ui->Check5->isChecked();
    o.sound = ui->Check6->isChecked();
    o.deleteDuplicates = ui->CheckDeleteDuplicates->isChecked();
}

void fFileDownload::onTimer1()
{
    const bool running = Timer_Down->isActive();
    ui->Shape1->setVisible(running);
    ui->menu下载全部->setEnabled(!running);
    UpdateCounters();
}

int fFileDownload::DownloadMode() const
{
    return int(m_context.app().settings().downloadMode());
}

int fFileDownload::threadCount() const
{
    return ui->Combo1->currentText().toInt();
}

QString fFileDownload::DuplicateNamePolicy() const
{
    if (ui->Option1->isChecked())
        return ui->Option1->text().trimmed();
    if (ui->Option2->isChecked())
        return ui->Option2->text().trimmed();
    return ui->Option3->text().trimmed();
}

int fFileDownload::intervalSeconds() const
{
    return ui->Combo2->currentText().toInt();
}

int fFileDownload::CountTransferSlots() const
{
    return m_session->scheduler().CountTransferSlots();
}

bool fFileDownload::IsDownloadBusy() const
{
    return m_session->scheduler().IsDownloadBusy();
}

bool fFileDownload::IsDownloading() const
{
    return m_session->scheduler().IsDownloading();
}

DownloadActivity fFileDownload::activity() const
{
    return m_session->activity();
}

void fFileDownload::UpdateCountLabel()
{
    ui->Label1->setText(rowCountText(m_session->list()));
}

void fFileDownload::UpdateCounters()
{
    setStatusPanel(4, countersText(m_session->list()));
}

void fFileDownload::setStatusPanel(int panel, const QString& text)
{
    if (panel >= 1 && panel <= 4)
        m_statusPanels[panel - 1]->setText(text);
}

QString fFileDownload::statusPanel(int panel) const
{
    return panel >= 1 && panel <= 4 ? m_statusPanels[panel - 1]->text() : QString();
}

void fFileDownload::SwitchDownloadMode()
{
    ProgramSettings& v = m_context.app().settings();
    v.setDownloadMode(v.downloadMode() == lintbay::DownloadMode::Parallel ? lintbay::DownloadMode::Single
                                                                          : lintbay::DownloadMode::Parallel);
}

void fFileDownload::showDownloadMode()
{
    // Either way the slot count starts again at one; way 1 has no choice of it.
    const lintbay::DownloadMode mode = m_context.app().settings().downloadMode();
    ui->Label7->setText(u"下载方式："_s + QString::number(int(mode)));
    ui->Combo1->setCurrentIndex(0);
    ui->Combo1->setEnabled(mode == lintbay::DownloadMode::Parallel);
}

QList<int> fFileDownload::selectedRows() const
{
    QList<int> rows;
    for (int row : SelectedRowNumbers(ui->ListView3->selectionModel()))
        rows << m_proxy->mapToSource(m_proxy->index(row, 0)).row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

int fFileDownload::currentRow() const
{
    const QModelIndex current = m_proxy->mapToSource(ui->ListView3->currentIndex());
    return current.isValid() ? current.row() : -1;
}

bool fFileDownload::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_statusPanels[1] && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        // In the web browser, whether the panel holds an address or a file's path.
        const QString text = m_statusPanels[1]->text().trimmed();
        if (!text.isEmpty())
            OpenInWebBrowser(text);
    }
    return QMainWindow::eventFilter(watched, event);
}

void fFileDownload::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && m_session)
        UpdateCountLabel();
    QMainWindow::changeEvent(event);
}

void fFileDownload::closeEvent(QCloseEvent* event)
{
    if (m_unloaded) {
        event->accept();
        return;
    }
    // A login, a page being opened or a walk over the files works on this window's objects.
    if (m_sequences->isRunning() || m_session->sequences().isRunning()) {
        event->ignore();
        ShowError(this, kStillWorkingText);
        return;
    }
    ProgramSettings& settings = m_context.app().settings();
    settings.setNamePolicy(namePolicyFromText(DuplicateNamePolicy()));
    bool saved = settings.store(ProgramSettings::Field::NamePolicy);
    saved = settings.store(ProgramSettings::Field::DownloadMode) && saved;
    SettingsStore& store = m_context.app().store();
    SaveWindowPlacement(this, store);
    store.set(kDownloadSection, kThreadsKey, ui->Combo1->currentIndex());
    saved = store.sync() && saved;

    const QPointer<fFileDownload> self(this);
    if (!saved) {
        ShowSettingsNotSaved(this, store.fileName());
        if (!self)
            return;
    }
    if (m_session->needsCloseQuestion()) {
        m_closing = true;
        const bool yes = AskYesNo(this, kCloseQuestion);
        if (!self)
            return;
        m_closing = false;
        if (!yes) {
            event->ignore();
            return;
        }
    }
    Timer2->stop();
    m_session->shutdown(); // rows still running end as failed
    m_unloaded = true;
    MarkFormUnloaded(this);
    event->accept();
    // The list goes with the session; the view lets go of it first.
    m_proxy->setSourceModel(nullptr);
    GuiContext& context = m_context; // events run below; nothing of this window is read after them
    context.app().closeDownloadSession();
    pumpEvents();
    pumpEvents();
    if (!IsFormLoaded(u"fWebSearch"_s))
        context.showCover();
}

} // namespace lintbay
