#include "fFileDownload.h"
#include "ui_fFileDownload.h"

#include "app/Browser.h"
#include "app/GuiContext.h"
#include "app/ProgramValues.h"
#include "app/SettingsStore.h"
#include "controls/NetworkContext.h"
#include "download/DownloadCounters.h"
#include "download/DownloadListModel.h"
#include "download/FileActions.h"
#include "download/LoginAssistant.h"
#include "download/Scheduler.h"
#include "download/StateIcons.h"
#include "download/UrlReplaceDialog.h"
#include "app/AboutBox.h"
#include "options/fOption.h"
#include "tools/fIEcache.h"
#include "util/FileDialogs.h"
#include "util/ListViewHelpers.h"
#include "util/ShellHelpers.h"
#include "util/SoundPlayer.h"
#include "util/Messages.h"
#include "util/TextFile.h"
#include "util/Wait.h"
#include "util/WindowHelpers.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QRadioButton>
#include <QUrl>
#include <QWebEngineView>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {
const QString kSection = u"fFileDownload"_s;
const QString kDownloadSection = u"下载"_s;
const QString kThreadsKey = u"线程"_s;
const QString kPolicySection = u"专利下载"_s;
const QString kPolicyKey = u"重复文件名设置"_s;
const QString kCloseQuestion = u"正在下载文件或者下载没有完成，要强制关闭窗口吗？"_s;
constexpr int kStripeRowHeight = 17;
} // namespace

fFileDownload::fFileDownload(GuiContext& context, QWidget* parent)
    : QMainWindow(parent), m_context(context), ui(std::make_unique<Ui::fFileDownload>())
{
    ui->setupUi(this);
    setObjectName(u"fFileDownload"_s);

    m_list = new DownloadListModel(this);
    m_proxy = new StateIconProxy(this);
    m_proxy->setSourceModel(m_list);
    ui->ListView3->setModel(m_proxy);
    ui->ListView3->verticalHeader()->setDefaultSectionSize(kStripeRowHeight + 2);
    ui->ListView3->verticalHeader()->hide();
    const int widths[] = {400, 53, 73, 73, 53, 400};
    for (int c = 0; c < DownloadListModel::ColumnCount; ++c)
        ui->ListView3->setColumnWidth(c, widths[c]);
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

    m_scheduler = new Scheduler(*m_list, m_context.network(), this);
    Timer1 = m_scheduler->Timer1;
    Timer_Down = m_scheduler->Timer_Down;
    Timer2 = new QTimer(this);
    Timer2->setObjectName(u"Timer2"_s);
    Timer2->setInterval(60000);
    connect(Timer1, &QTimer::timeout, this, &fFileDownload::onTimer1);
    connect(m_scheduler, &Scheduler::playSound, this, [](int id) { PlaySoundResource(id); });
    connect(m_scheduler, &Scheduler::statusText, this, &fFileDownload::setStatusPanel);
    connect(m_scheduler, &Scheduler::runningChanged, this, [this](bool on) {
        ui->Shape1->setVisible(on);
        ui->menu下载全部->setEnabled(!on);
    });
    connect(m_scheduler, &Scheduler::automaticModesCleared, this, [this] {
        ui->Check4->setChecked(false);
        ui->Check3->setChecked(false);
    });
    connect(m_scheduler, &Scheduler::rowStarted, this, [this](int row) {
        if (ui->menu自动定位到下载项->isChecked())
            ui->ListView3->scrollTo(m_proxy->index(row, 0));
    });
    // Rows: double-click opens the file or queues a failed row again; the current row's file path
    // shows in panel 2.
    connect(ui->ListView3, &QAbstractItemView::doubleClicked, this, [this] {
        perform(OpenOrRetry(*m_list, currentRow()));
    });
    connect(ui->ListView3->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this] { setStatusPanel(2, ShowRowPath(*m_list, currentRow())); });
    connect(ui->Command4, &QPushButton::clicked, m_scheduler, &Scheduler::StartDownloads);
    connect(ui->menu下载全部, &QAction::triggered, m_scheduler, &Scheduler::StartDownloads);
    connect(ui->Command31, &QPushButton::clicked, m_scheduler, &Scheduler::StopDownloads);
    connect(ui->menu停止下载, &QAction::triggered, m_scheduler, &Scheduler::StopDownloads);
    // The scheduler reads the window's choices as they change.
    for (QCheckBox* box : {ui->Check3, ui->Check4, ui->Check5, ui->Check6})
        connect(box, &QCheckBox::toggled, this, &fFileDownload::syncOptions);
    for (QComboBox* combo : {ui->Combo1, ui->Combo2, ui->Combo4})
        connect(combo, &QComboBox::currentIndexChanged, this, &fFileDownload::syncOptions);
    for (QRadioButton* option : {ui->Option1, ui->Option2, ui->Option3})
        connect(option, &QRadioButton::toggled, this, &fFileDownload::syncOptions);

    connect(ui->Command26, &QPushButton::clicked, this, &fFileDownload::SwitchDownloadMode);
    connect(ui->ListView3->horizontalHeader(), &QHeaderView::sectionClicked, this, &fFileDownload::sortByHeader);
    connect(ui->ListView3, &QWidget::customContextMenuRequested, this, &fFileDownload::showListMenu);
    wireMenus();
    setupLoginPanel();
    load();
}

Browser* fFileDownload::Web1()
{
    if (m_web1)
        return m_web1;
    const BrowserWithView made = m_context.createBrowser(ui->webHost);
    m_web1 = made.browser;
    m_web1->setObjectName(u"Web1"_s);
    if (made.view) {
        made.view->setObjectName(u"Web1"_s);
        ui->webHostLayout->addWidget(made.view);
        // The page title goes to panel 3, unless the page is blank.
        if (auto* view = qobject_cast<QWebEngineView*>(made.view))
            connect(view, &QWebEngineView::titleChanged, this, [this](const QString& title) {
                if (title.trimmed().toLower() != u"about:blank"_s)
                    setStatusPanel(3, title);
            });
    }
    m_web1->setSilent(true);
    m_web1->navigate(QUrl(u"about:blank"_s));
    return m_web1;
}

LoginAssistant* fFileDownload::login()
{
    if (!m_login)
        m_login = new LoginAssistant(Web1(), this);
    return m_login;
}

void fFileDownload::setupLoginPanel()
{
    ui->Combo3->addItem(u"下载到网页文件(htm/html/asp)文件"_s);
    ui->listStack->setCurrentWidget(ui->picLVbg);

    connect(ui->Command1, &QPushButton::clicked, this, [this] {
        Browser* web = Web1();
        ui->listStack->setCurrentWidget(ui->PicWebBK);
        const int row = currentRow();
        if (!ui->Check1->isChecked() && !ui->Check2->isChecked() && row >= 0)
            web->navigate(QUrl::fromUserInput(选择url(m_list->at(row).key)));
    });
    connect(ui->Command3, &QPushButton::clicked, this, [this] {
        ui->listStack->setCurrentWidget(ui->picLVbg);
        if (!ui->Check1->isChecked() && m_web1)
            m_web1->navigate(QUrl(u"about:blank"_s));
    });
    connect(ui->Check1, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            Timer2->start();
        else
            Timer2->stop();
    });
    connect(Timer2, &QTimer::timeout, this, [this] { Web1()->reload(); });
    connect(ui->Check2, &QCheckBox::clicked, this, [this](bool on) {
        if (!on)
            return;
        syncLoginFields();
        const QString missing = m_login->missingInput();
        if (!missing.isEmpty()) {
            ShowError(this, missing);
            ui->Check2->setChecked(false);
        }
    });
    connect(ui->Command2, &QPushButton::clicked, this, [this] {
        ui->Command2->setEnabled(false);
        syncLoginFields();
        login()->OpenLoginPage();
        ui->Command2->setEnabled(true);
    });
    connect(ui->Command5, &QPushButton::clicked, this, [this] { LoginNow(true); });
    connect(m_scheduler, &Scheduler::webPageArrived, this, [this] {
        if (ui->Check2->isChecked())
            LoginNow(false);
    });
}

void fFileDownload::syncLoginFields()
{
    login();
    m_login->address = ui->Text1->text();
    m_login->account = ui->Text2->text();
    m_login->password = ui->Text3->text();
    m_login->ipLogin = ui->Option5->isChecked();
}

void fFileDownload::LoginNow(bool showMessages)
{
    syncLoginFields();
    const QString missing = m_login->missingInput();
    if (!missing.isEmpty()) {
        if (showMessages)
            ShowError(this, missing);
        ui->Check2->setChecked(false);
        return;
    }
    if (!ui->Command5->isEnabled())
        return; // a login is running
    ui->Command5->setEnabled(false);
    m_login->LoginNow();
    ui->Command5->setEnabled(true);
}

fFileDownload::~fFileDownload() = default;

void fFileDownload::load()
{
    AppContext& app = m_context.app();
    SettingsStore& s = app.settings();
    ProgramValues& v = app.values();

    setWindowTitle(u"文件下载-"_s + QCoreApplication::applicationName());
    setWindowIcon(QIcon(u":/icons/lintbay.png"_s));
    ui->Combo4->addItems({u"出错项"_s, u"文件类型为HTM和HTML项"_s, u"出错项和文件类型为HTM和HTML项"_s});
    ui->Combo4->setCurrentIndex(0);
    FitComboDropWidth(ui->Combo4);

    m_list->clear();
    m_list->setDefaultFolder(v.DefaultSavePath);

    m_downloadMode = s.getInt(keys::kSettings, keys::kDownloadMode, 2) == 1 ? 1 : 2;
    v.DownloadMode = m_downloadMode;
    ui->Label7->setText(u"下载方式："_s + QString::number(m_downloadMode));
    for (int i = 1; i <= 6; ++i)
        ui->Combo1->addItem(QString::number(i));
    ui->Combo1->setCurrentIndex(0);
    if (m_downloadMode == 1) {
        ui->Combo1->setEnabled(false);
    } else {
        ui->Combo1->setEnabled(true);
        const int index = s.getInt(kDownloadSection, kThreadsKey, 2);
        if (index >= 0 && index < ui->Combo1->count())
            ui->Combo1->setCurrentIndex(index);
    }

    const QString policy = s.get(kPolicySection, kPolicyKey, u"重命名"_s).trimmed();
    if (ui->Option1->text().trimmed() == policy)
        ui->Option1->setChecked(true);
    else if (ui->Option2->text().trimmed() == policy)
        ui->Option2->setChecked(true);
    else
        ui->Option3->setChecked(true);

    v.ProxyAddress = s.get(keys::kSettings, keys::kProxyAddress);
    v.ProxyPort = s.get(keys::kSettings, keys::kProxyPort);
    v.ProxyEnabled = s.getInt(keys::kSettings, keys::kProxyEnabled, 0) == 1;
    v.MaxFileSizeMB = s.getDouble(keys::kSettings, keys::kMaxFileSize, 10);

    RestoreWindowPlacement(this, s);

    ui->Combo2->clear();
    for (int i = 0; i <= 600; ++i)
        ui->Combo2->addItem(QString::number(i));
    ui->Combo2->setCurrentIndex(0);

    syncOptions();
    Timer1->start();
    UpdateCountLabel();
    UpdateCounters();
}

void fFileDownload::syncOptions()
{
    Scheduler::Options& o = m_scheduler->options;
    const ProgramValues& v = m_context.app().values();
    o.downloadMode = m_downloadMode;
    o.threadCount = threadCount();
    o.intervalSeconds = intervalSeconds();
    o.policy = DuplicateNamePolicy();
    o.maxFileSizeMB = v.MaxFileSizeMB;
    o.autoRedownload = ui->Check3->isChecked();
    o.autoRedownloadRule = ui->Combo4->currentIndex();
    o.autoStart = ui->Check4->isChecked();
    o.stopAfterFailures = ui->Check5->isChecked();
    o.sound = ui->Check6->isChecked();
    m_context.network().setProxy(v.ProxyEnabled, v.ProxyAddress, v.ProxyPort);
}

void fFileDownload::onTimer1()
{
    const bool running = Timer_Down->isActive();
    ui->Shape1->setVisible(running);
    ui->menu下载全部->setEnabled(!running);
    UpdateCounters();
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
    return m_scheduler->CountTransferSlots();
}

bool fFileDownload::IsDownloadBusy() const
{
    return m_scheduler->IsDownloadBusy();
}

bool fFileDownload::IsDownloading() const
{
    return m_scheduler->IsDownloading();
}

DownloadActivity fFileDownload::activity() const
{
    DownloadActivity a;
    a.downloadBusy = IsDownloadBusy();
    a.downloading = IsDownloading();
    a.busyFlag = m_scheduler->busyFlag();
    return a;
}

void fFileDownload::UpdateCountLabel()
{
    ui->Label1->setText(rowCountText(*m_list));
}

void fFileDownload::UpdateCounters()
{
    setStatusPanel(4, countersText(*m_list));
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
    m_downloadMode = m_downloadMode == 2 ? 1 : 2;
    m_context.app().values().DownloadMode = m_downloadMode;
    ui->Label7->setText(u"下载方式："_s + QString::number(m_downloadMode));
    ui->Combo1->setCurrentIndex(0);
    ui->Combo1->setEnabled(m_downloadMode == 2);
    syncOptions();
}

void fFileDownload::applyDownloadMode(int mode)
{
    m_downloadMode = mode == 1 ? 1 : 2;
    m_context.app().values().DownloadMode = m_downloadMode;
    ui->Label7->setText(u"下载方式："_s + QString::number(m_downloadMode));
    ui->Combo1->setEnabled(m_downloadMode == 2);
    if (m_downloadMode == 2)
        ui->Combo1->setCurrentText(u"1"_s);
    syncOptions();
}

QList<int> fFileDownload::selectedRows() const
{
    QList<int> rows;
    const QModelIndexList selected = ui->ListView3->selectionModel()->selectedRows();
    for (const QModelIndex& index : selected)
        rows << m_proxy->mapToSource(index).row();
    std::sort(rows.begin(), rows.end());
    return rows;
}

bool fFileDownload::refuse(QStringView refusal, bool errorIcon)
{
    if (refusal.isEmpty())
        return false;
    if (errorIcon)
        ShowError(this, refusal.toString());
    else
        ShowInfo(this, refusal.toString());
    return true;
}

void fFileDownload::runHidden(const std::function<void()>& work)
{
    // The list is not repainted row by row while many rows change.
    ui->ListView3->setUpdatesEnabled(false);
    work();
    ui->ListView3->setUpdatesEnabled(true);
}

void fFileDownload::removeRows(const std::function<ListOpResult()>& remove)
{
    ListOpResult result;
    runHidden([&] { result = remove(); });
    if (refuse(result.refusal))
        return;
    UpdateCountLabel();
}

void fFileDownload::requeue(RequeueRule rule)
{
    double limit = 0;
    if (rule == RequeueRule::SmallerThan) {
        const auto number = parseSizeAnswer(InputBox(this, kSizeRulePrompt.toString()));
        if (!number)
            return;
        limit = *number;
    }
    const QList<int> selected = selectedRows();
    pumpEvents();
    runHidden([&] { RequeueRows(*m_list, rule, selected, limit); });
}

void fFileDownload::exportNames(bool unfinishedOnly)
{
    if (m_list->isEmpty())
        return;
    const QString path = GetSaveFileName(this, kExportFilter.toString(), u"txt"_s);
    if (path.isEmpty())
        return;
    QString error;
    if (!writeTextFile(path, exportNameLines(*m_list, unfinishedOnly), &error))
        ShowError(this, error);
}

void fFileDownload::sortByHeader(int column)
{
    refuse(SortByColumn(*m_list, column, activity()).refusal);
}

void fFileDownload::wireMenus()
{
    connect(ui->menu全选专利列表, &QAction::triggered, ui->ListView3, &QTableView::selectAll);
    connect(ui->menu全不选, &QAction::triggered, ui->ListView3, &QTableView::clearSelection);
    connect(ui->menu随机排序列表, &QAction::triggered, this, [this] {
        ListOpResult result;
        runHidden([&] { result = ShuffleList(*m_list, activity()); });
        if (!refuse(result.refusal))
            ShowInfo(this, kShuffleDoneText.toString());
    });
    connect(ui->menu自动列宽, &QAction::triggered, this, [this] {
        AutoSizeColumns(ui->ListView3);
        SetListViewStripes(ui->ListView3);
    });

    connect(ui->menu重新下载选中项, &QAction::triggered, this, [this] { requeue(RequeueRule::Selected); });
    connect(ui->menu重新下载出错项, &QAction::triggered, this, [this] { requeue(RequeueRule::Failed); });
    connect(ui->menu重新下载文件类型为HTM和HTML项, &QAction::triggered, this,
            [this] { requeue(RequeueRule::WebPages); });
    connect(ui->menu重新下载出错项和网页项, &QAction::triggered, this,
            [this] { requeue(RequeueRule::FailedAndWebPages); });
    connect(ui->menu重新下载文件大小小于指定数字的项, &QAction::triggered, this,
            [this] { requeue(RequeueRule::SmallerThan); });

    connect(ui->menu清除选中项, &QAction::triggered, this, [this] {
        const QList<int> rows = selectedRows();
        removeRows([&] { return removeSelectedRows(*m_list, rows, activity()); });
    });
    connect(ui->menu清除全部出错项, &QAction::triggered, this,
            [this] { removeRows([this] { return removeFailedRows(*m_list, activity()); }); });
    connect(ui->menu清除完成项, &QAction::triggered, this,
            [this] { removeRows([this] { return removeDoneRows(*m_list, activity()); }); });
    connect(ui->menu清空, &QAction::triggered, this, [this] {
        if (refuse(refusalText(ListOperation::ClearAll, activity())))
            return;
        if (!AskYesNo(this, kClearListQuestion.toString()))
            return;
        removeRows([this] { return clearList(*m_list, activity()); });
    });

    connect(ui->menu删除网页类型文件项, &QAction::triggered, this, [this] {
        pumpEvents();
        runHidden([this] { deletePageFiles(*m_list); });
    });
    connect(ui->menu删除出错项, &QAction::triggered, this, [this] {
        pumpEvents();
        runHidden([this] { deleteFailedFiles(*m_list); });
    });
    connect(ui->menu取消下载选中项, &QAction::triggered, this, [this] {
        const QList<int> rows = selectedRows();
        ListOpResult result;
        runHidden([&] { result = cancelSelectedRows(*m_list, rows, activity()); });
        refuse(result.refusal, true);
    });
    connect(ui->menu复制名称, &QAction::triggered, this, [this] {
            if (const auto name = copyName(*m_list, currentRow())) {
            QGuiApplication::clipboard()->clear();
            QGuiApplication::clipboard()->setText(*name);
        }
    });
    connect(ui->menu批量替换网址, &QAction::triggered, this, [this] {
        UrlReplace dialog(*m_list, this);
        dialog.exec();
    });
    connect(ui->menu打开下载文件, &QAction::triggered, this,
            [this] { perform(OpenDownloadedFile(*m_list, currentRow())); });
    connect(ui->menu打开文件所在文件夹, &QAction::triggered, this,
            [this] { perform(OpenContainingFolder(*m_list, currentRow())); });
    connect(ui->menu用记事本打开文件, &QAction::triggered, this,
            [this] { perform(OpenInTextEditor(*m_list, currentRow())); });
    connect(ui->menu检查文件是否存在, &QAction::triggered, this,
            [this] { runHidden([this] { CheckFilesExist(*m_list); }); });
    connect(ui->menu检查并纠正磁盘文件类型, &QAction::triggered, this, [this] {
        TypeCorrectionResult result;
        runHidden([&] { result = CorrectFileTypes(*m_list, activity()); });
        perform(FileAction{FileActionKind::None, QString(), result.message});
    });
    connect(ui->menu打开文件判断类型, &QAction::triggered, this, [this] {
        const QString chosen = GetOpenFileNameForWrite(this, kChooseAnyFileFilter.toString(), QString());
        perform(FileAction{FileActionKind::None, QString(), IdentifyChosenFile(chosen)});
    });
    connect(ui->menu导出全部名称, &QAction::triggered, this, [this] { exportNames(false); });
    connect(ui->menu导出未完成项名称, &QAction::triggered, this, [this] { exportNames(true); });
    connect(ui->menu退出本下载窗口, &QAction::triggered, this, &QWidget::close);
    connect(ui->menu资料检索分析窗口, &QAction::triggered, this, [this] { m_context.showSearchWindow(); });
    connect(ui->menu设置, &QAction::triggered, this, [this] { fOption::showModal(m_context, this); });
    connect(ui->menu关于, &QAction::triggered, this, [this] { AboutBox::showModal(this, m_context); });
    connect(ui->menu清空IE浏览器缓存, &QAction::triggered, this, [this] { ClearBrowserCache(this); });
}

int fFileDownload::currentRow() const
{
    const QModelIndex current = m_proxy->mapToSource(ui->ListView3->currentIndex());
    return current.isValid() ? current.row() : -1;
}

void fFileDownload::perform(const FileAction& action)
{
    if (!action.message.isEmpty()) {
        if (action.message.icon == FileMessageIcon::Error)
            ShowError(this, action.message.text);
        else
            ShowInfo(this, action.message.text);
    }
    switch (action.kind) {
    case FileActionKind::OpenFile:
        OpenFile(action.path, this);
        break;
    case FileActionKind::ShowInFolder:
        if (!ShowInFolder(action.path))
            ShowError(this, kShowInFolderFailedText.toString());
        break;
    case FileActionKind::OpenFolder:
        QDesktopServices::openUrl(QUrl::fromLocalFile(action.path));
        break;
    case FileActionKind::OpenInTextEditor:
        OpenWithTextEditor(action.path);
        break;
    case FileActionKind::Requeued:
    case FileActionKind::None:
        break;
    }
}

void fFileDownload::showListMenu(const QPoint& pos)
{
    const bool downloading = IsDownloading();
    ui->menu全选专利列表->setEnabled(!downloading);
    ui->menu清除->setEnabled(!downloading);
    ui->menu清空->setEnabled(!downloading);
    ui->menu列表操作->popup(ui->ListView3->viewport()->mapToGlobal(pos));
}

bool fFileDownload::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_statusPanels[1] && event->type() == QEvent::MouseButtonRelease) {
        const QString text = m_statusPanels[1]->text().trimmed();
        if (!text.isEmpty())
            QDesktopServices::openUrl(QUrl::fromUserInput(text));
    }
    return QMainWindow::eventFilter(watched, event);
}

void fFileDownload::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        UpdateCountLabel();
    QMainWindow::changeEvent(event);
}

void fFileDownload::closeEvent(QCloseEvent* event)
{
    if (m_unloaded) {
        event->accept();
        return;
    }
    SettingsStore& s = m_context.app().settings();
    s.set(kPolicySection, kPolicyKey, DuplicateNamePolicy());
    s.set(keys::kSettings, keys::kDownloadMode, m_downloadMode);
    s.sync();

    if (CountTransferSlots() > 1 || m_scheduler->singleTransferRunning() || !检测是否下载列表完毕(*m_list) ||
        Timer_Down->isActive()) {
        if (!AskYesNo(this, kCloseQuestion)) {
            event->ignore();
            return;
        }
    }
    Timer1->stop();
    Timer2->stop();
    m_scheduler->StopDownloads(); // rows still running end as failed

    SaveWindowPlacement(this, s);
    s.set(kDownloadSection, kThreadsKey, ui->Combo1->currentIndex());
    s.sync();
    m_unloaded = true;
    MarkFormUnloaded(this);
    event->accept();
    pumpEvents();
    pumpEvents();
    if (!IsFormLoaded(u"fWebSearch"_s))
        m_context.showCover();
}

} // namespace lintbay
