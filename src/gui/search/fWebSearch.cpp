#include "fWebSearch.h"
#include "ui_fWebSearch.h"

#include "app/AboutBox.h"
#include "app/AppContext.h"
#include "app/Browser.h"
#include "app/GuiContext.h"
#include "app/SettingsStore.h"
#include "download/DownloadSession.h"
#include "download/LoginAssistant.h"
#include "download/fFileDownload.h"
#include "download/fSeleFileSavePath.h"
#include "options/fOption.h"
#include "search/ResultListModel.h"
#include "search/ScriptDetect.h"
#include "search/SearchSession.h"
#include "tools/fIEcache.h"
#include "util/FileDialogs.h"
#include "util/ListViewHelpers.h"
#include "util/Messages.h"
#include "util/SoundPlayer.h"
#include "util/TextFile.h"
#include "util/Wait.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QTime>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {
const QString kSection = u"fWebSearch"_s;
const QString kBatchIdleCaption = u"开始批量搜索提取"_s;
const QString kBatchRunningCaption = u"停止批量搜索"_s;
const QString kAddAllIdleCaption = u"加入全部到列表"_s;
const QString kAddAllRunningCaption = u"停止加入全部"_s;
const QString kExtractingText = u"正在提取网页信息，请停止以后使用该功能！"_s;
const QString kLoggingInText = u"正在登录网站，请等登录结束以后使用该功能！"_s;
const QString kVerificationPauseText =
    u"搜索引擎要求安全验证：请在上方网页中完成验证，完成后自动继续提取。"_s;
// Stays until the next verification: whoever left the run alone sees why it ended early.
const QString kVerificationTimedOutText = u"安全验证等待超时，搜索已停止（%1）"_s;
const QString kRunningStyle = u"background-color: rgb(255, 0, 0);"_s;
constexpr int kDefaultDelayIndex = 10;
} // namespace

fWebSearch::fWebSearch(GuiContext& context, QWidget* parent)
    : QMainWindow(parent), m_context(context), ui(std::make_unique<Ui::fWebSearch>())
{
    ui->setupUi(this);
    setObjectName(u"fWebSearch"_s);
    setAttribute(Qt::WA_DeleteOnClose);
    // Found from here on: making the browser and loading run the event loop, where a second click
    // on the button that opens this window must show this one, not make another.
    m_context.search = this;

    const BrowserWithView made = m_context.createBrowser(ui->PicPanWeb);
    m_browser = made.browser;
    if (made.view)
        ui->PicPanWeb->layout()->addWidget(made.view);
    m_session = new SearchSession(m_browser, m_context.app().settings(), this);
    m_session->setPageLoadTimeout(m_context.pageLoadTimeoutMs);
    m_session->setNextPageTimeouts(m_context.nextPageLoadTimeoutMs, m_context.pageSettleMs);
    m_results = &m_session->results();
    ui->ListView1->setModel(m_results);
    ui->ListView1->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    ui->ListView1->setColumnWidth(ResultListModel::TitleColumn, 170);
    ui->ListView1->setColumnWidth(ResultListModel::TypeColumn, 235);
    ui->ListView1->setColumnWidth(ResultListModel::StatusColumn, 353);
    ui->ListView1->setColumnWidth(ResultListModel::SaveFolderColumn, 170);
    SetListViewStripes(ui->ListView1);
    setMinimumSize(600, 333);

    for (int i = 0; i < 3; ++i) {
        m_statusPanels[i] = new QLabel(this);
        m_statusPanels[i]->setObjectName(u"StatusPanel%1"_s.arg(i + 1));
        ui->StatusBar1->addWidget(m_statusPanels[i], i == 1 ? 1 : 0);
    }
    connect(m_browser, &Browser::statusTextChanged, this, &fWebSearch::setStatusText);
    connect(m_browser, &Browser::navigationStarting, this, [this] { ui->StatusBar1->show(); });

    ui->panListLayout->setStretch(0, 2);
    ui->panListLayout->setStretch(1, 0);
    ui->panListLayout->setStretch(2, 5);
    ui->PicBar->setStretchFactor(0, 4);
    ui->PicBar->setStretchFactor(1, 1);
    ui->PicBar->setSizes({560, 240});

    // Check box rules; setting a box while loading runs them too.
    connect(ui->Check13, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            ui->Check14->setChecked(false);
    });
    connect(ui->Check14, &QCheckBox::toggled, this, [this](bool on) {
        if (on)
            ui->Check13->setChecked(false);
    });
    connect(ui->Check15, &QCheckBox::toggled, this, [this](bool on) { m_browser->setSilent(on); });
    // The session extracts with the boxes' choices and waits the chosen delay.
    for (QCheckBox* box : {ui->Check1, ui->Check2, ui->Check12, ui->Check13, ui->Check14})
        connect(box, &QCheckBox::toggled, this,
                [this] { m_session->setExtractionOptions(extractionOptions()); });
    connect(ui->Combo1, &QComboBox::currentTextChanged, m_session, &SearchSession::setPageDelayText);
    connect(m_session, &SearchSession::pageExtracted, this, &fWebSearch::updateCounter);
    connect(m_session, &SearchSession::pageFollowingChanged, this, &fWebSearch::showPageFollowing);
    connect(m_session, &SearchSession::batchRunningChanged, this, &fWebSearch::showBatch);
    connect(m_session, &SearchSession::verificationPaused, this, &fWebSearch::showVerificationPause);
    connect(m_session, &SearchSession::verificationTimedOut, this, [this] {
        m_statusPanels[2]->setText(kVerificationTimedOutText.arg(QTime::currentTime().toString(u"HH:mm"_s)));
    });
    // Minutes beyond what a millisecond count can hold mean "wait as long as it can".
    m_session->setVerificationLimit(
        int(qBound<double>(0, m_context.app().settings().verificationPauseMinutes() * 60000.0, INT_MAX)));
    ui->Text2->installEventFilter(this);

    connect(ui->Command1, &QPushButton::clicked, this, &fWebSearch::Command1_Click);
    connect(ui->Command4, &QPushButton::clicked, this, &fWebSearch::Command4_Click);
    connect(ui->Command9, &QPushButton::clicked, this, &fWebSearch::Command9_Click);
    connect(ui->Command7, &QPushButton::clicked, this, &fWebSearch::Command7_Click);
    connect(ui->menu清除选中项, &QAction::triggered, this, &fWebSearch::removeSelected);
    connect(ui->menu清除分析成功项, &QAction::triggered, this, [this] {
        removeByRule([this] { return m_results->removeWithStatus(ResultListModel::statusDone()); });
    });
    connect(ui->menu清除标题含指定字符项, &QAction::triggered, this, [this] { removeTitleRule(true); });
    connect(ui->menu清除标题不含指定字符项, &QAction::triggered, this, [this] { removeTitleRule(false); });
    connect(ui->menu清空全部, &QAction::triggered, this, &fWebSearch::clearAll);
    connect(ui->menu选中含日文项, &QAction::triggered, this,
            [this] { selectRows(m_results->rowsWithKana()); });
    connect(ui->menu选中含繁体中文项, &QAction::triggered, this,
            [this] { selectRows(m_results->rowsWithTraditional()); });
    connect(ui->menu全部繁体转为简体, &QAction::triggered, this, &fWebSearch::convertAll);
    connect(ui->menu网页源码另存为, &QAction::triggered, this, &fWebSearch::savePageSource);
    connect(ui->menu打开下载窗口, &QAction::triggered, this, [this] { m_context.showDownloadWindow(); });
    connect(ui->menu设置, &QAction::triggered, this, [this] { fOption::showModal(m_context, this); });
    connect(ui->menu关于, &QAction::triggered, this, [this] { AboutBox::showModal(this, m_context); });
    connect(ui->menu查看IE浏览器缓存, &QAction::triggered, this,
            [this] { fIEcache::showModal(m_context, this); });
    connect(ui->menu清空IE浏览器缓存, &QAction::triggered, this,
            [this] { ClearBrowserCache(m_context, this); });

    // Hand-over to the download list.
    ui->menu加入->menuAction()->setVisible(false);
    connect(ui->menu分析未分析项, &QAction::triggered, this, [this] { runPass(AnalysePass::New); });
    connect(ui->menu分析失败项, &QAction::triggered, this, [this] { runPass(AnalysePass::Failed); });
    connect(ui->menu分析选中项, &QAction::triggered, this, [this] { runPass(AnalysePass::Selected); });
    connect(ui->menu分析全部, &QAction::triggered, this, [this] { runPass(AnalysePass::All); });
    connect(ui->Command2, &QPushButton::clicked, this, &fWebSearch::Command2_Click);
    connect(ui->Command5, &QPushButton::clicked, this, [this] { m_session->AnalysisStopFlag = true; });
    Timer1 = new QTimer(this);
    Timer1->setObjectName(u"Timer1"_s);
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, [this] {
        // A tick during a pass waits for the next one: the running pass already takes every new row
        // it reaches, and a nested pass would only repeat its work.
        if (m_session->AnalysisStopFlag)
            runPass(AnalysePass::New);
    });
    connect(ui->Check7, &QCheckBox::clicked, this, &fWebSearch::Check7_Click);
    connect(ui->ListView1, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { ui->menu清除->popup(ui->ListView1->viewport()->mapToGlobal(pos)); });
    connect(ui->menu打开百度首页, &QAction::triggered, this, &fWebSearch::openHomePage);
    connect(ui->menu后退, &QAction::triggered, this, [this] { m_browser->goBack(); });
    connect(ui->menu前进, &QAction::triggered, this, [this] { m_browser->goForward(); });
    connect(ui->menu关闭本窗口, &QAction::triggered, this, &QWidget::close);

    // Window load.
    setWindowTitle(u"百度页面数据检索分析-"_s + QCoreApplication::applicationName());
    setWindowIcon(QIcon(u":/icons/lintbay.png"_s));
    loadSettings();
    m_session->setExtractionOptions(extractionOptions());
    m_session->setPageDelayText(ui->Combo1->currentText());
    m_session->BatchStopFlag = m_session->AddAllStopFlag = m_session->AnalysisStopFlag = true;
    ui->Check15->setChecked(true);
    m_browser->setSilent(true);
    m_browser->navigate(QUrl(u"about:blank"_s));
    pumpEvents();
    show();
    openHomePage();
}

fWebSearch::~fWebSearch() = default;

void fWebSearch::loadSettings()
{
    const SettingsStore& s = m_context.app().store();
    ui->Text1->setPlainText(s.get(kSection, u"Text1"_s));
    ui->Check1->setChecked(s.getInt(kSection, u"check1"_s, 1) == 1);
    ui->Check2->setChecked(s.getInt(kSection, u"check2"_s, 1) == 1);
    ui->Check12->setChecked(s.getInt(kSection, u"check12"_s, 1) == 1);
    ui->Check13->setChecked(s.getInt(kSection, u"check13"_s, 1) == 1);
    ui->Check14->setChecked(s.getInt(kSection, u"check14"_s, 1) == 1);

    ui->Combo1->clear();
    for (int i = 0; i <= 120; ++i)
        ui->Combo1->addItem(QString::number(i));
    ui->Combo1->setCurrentIndex(kDefaultDelayIndex);
    const int saved = s.getInt(kSection, u"combo1"_s, kDefaultDelayIndex);
    if (saved >= 0 && saved < ui->Combo1->count())
        ui->Combo1->setCurrentIndex(saved);
}

bool fWebSearch::saveSettings()
{
    SettingsStore& s = m_context.app().store();
    s.set(kSection, u"Text1"_s, ui->Text1->toPlainText());
    s.set(kSection, u"check1"_s, ui->Check1->isChecked() ? 1 : 0);
    s.set(kSection, u"check2"_s, ui->Check2->isChecked() ? 1 : 0);
    s.set(kSection, u"check12"_s, ui->Check12->isChecked() ? 1 : 0);
    s.set(kSection, u"check13"_s, ui->Check13->isChecked() ? 1 : 0);
    s.set(kSection, u"check14"_s, ui->Check14->isChecked() ? 1 : 0);
    s.set(kSection, u"combo1"_s, ui->Combo1->currentIndex());
    return s.sync();
}

QueryOptions fWebSearch::queryOptions() const
{
    QueryOptions o;
    o.exactPhrase = ui->Check6->isChecked();
    o.titleOnly = ui->Check4->isChecked();
    o.dayLimit = ui->Check5->isChecked();
    o.days = ui->Text2->text();
    return o;
}

QSet<QString> fWebSearch::tickedTypes() const
{
    QSet<QString> types;
    const std::pair<QCheckBox*, QString> boxes[] = {{ui->Check3, u"pdf"_s},
                                                    {ui->Check8, u"doc"_s},
                                                    {ui->Check9, u"ppt"_s},
                                                    {ui->Check10, u"xls"_s},
                                                    {ui->Check11, u"rtf"_s}};
    for (const auto& [box, type] : boxes)
        if (box->isChecked())
            types.insert(type);
    return types;
}

void fWebSearch::openHomePage()
{
    m_browser->navigate(QUrl(SearchHomePage(m_context.app().searchEngine())));
}

void fWebSearch::Command1_Click()
{
    if (m_session->insideBatch()) {
        m_session->stopBatch();
        ui->Command1->setEnabled(false);
        return;
    }
    if (!m_session->AddAllStopFlag || m_session->sequences().isRunning()) {
        ShowError(this, kExtractingText);
        return;
    }
    if (refusedDuringALogin())
        return;
    showBatch(true);
    const QPointer<fWebSearch> self(this);
    if (m_context.app().settings().promptSavePathOnExtract() == 1)
        fSeleFileSavePath::ask(m_context, this); // its answer does not stop the batch
    if (!self)
        return;

    SearchSession::BatchRequest request;
    request.engine = m_context.app().searchEngine();
    request.keywordText = ui->Text1->toPlainText();
    request.options = queryOptions();
    request.tickedTypes = tickedTypes();
    if (!m_session->runBatch(request) && self)
        showBatch(false);
}

bool fWebSearch::refusedDuringALogin()
{
    // A login, and the login panel opening its page, run their steps in waits of their own, and a
    // click handled meanwhile runs inside them: a run started there would hold the login unfinished
    // (and its later logins refused) for hours. A batch's own following does not come this way.
    const DownloadSession* downloads = m_context.app().downloadSession();
    if (!downloads || (!downloads->sequences().isRunning(kLoginSequence) &&
                       !downloads->sequences().isRunning(kBrowseSequence)))
        return false;
    ShowError(this, kLoggingInText);
    return true;
}

void fWebSearch::showBatch(bool running)
{
    ui->Command1->setText(running ? kBatchRunningCaption : kBatchIdleCaption);
    ui->Command1->setStyleSheet(running ? kRunningStyle : QString());
    ui->Command1->setEnabled(true);
}

void fWebSearch::showVerificationPause(bool paused)
{
    // Panel 3: the browser writes its own texts into panel 2.
    m_statusPanels[2]->setText(paused ? kVerificationPauseText : QString());
    if (!paused)
        return;
    // The challenge is in this window's browser: the user has to see it.
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
    if (const DownloadSession* downloads = m_context.app().downloadSession();
        downloads && downloads->options().sound)
        PlaySoundResource(102);
}

void fWebSearch::showPageFollowing(bool running)
{
    ui->Command4->setText(running ? kAddAllRunningCaption : kAddAllIdleCaption);
    ui->Command4->setStyleSheet(running ? kRunningStyle : QString());
    if (!running) {
        ui->Command4->setEnabled(true);
        AutoSizeColumns(ui->ListView1);
    }
}

ExtractionOptions fWebSearch::extractionOptions() const
{
    ExtractionOptions o;
    o.removeSpaces = ui->Check1->isChecked();
    o.skipUnknownType = ui->Check2->isChecked();
    o.skipKana = ui->Check12->isChecked();
    o.skipTraditional = ui->Check13->isChecked();
    o.toSimplified = ui->Check14->isChecked();
    return o;
}

void fWebSearch::updateCounter()
{
    ui->Label1->setText(QString::number(m_results->count()));
}

void fWebSearch::Command4_Click()
{
    if (ui->Command4->text() != kAddAllIdleCaption) {
        m_session->stopPageFollowing();
        ui->Command4->setEnabled(false);
        return;
    }
    // Inside a batch, between two of its queries, the following is the user's; beside a pass or an
    // extraction it would read pages under them.
    if (!m_session->insideBatch() && m_session->sequences().isRunning()) {
        ShowError(this, kExtractingText);
        return;
    }
    if (refusedDuringALogin())
        return;
    showPageFollowing(true);
    m_session->AddAllStopFlag = false;
    const QPointer<fWebSearch> self(this);
    if (!m_session->insideBatch() && m_context.app().settings().promptSavePathOnExtract() == 1)
        fSeleFileSavePath::ask(m_context, this);
    if (!self)
        return;
    if (!m_session->followAllPages() && self) {
        m_session->AddAllStopFlag = true;
        showPageFollowing(false);
    }
}

void fWebSearch::Command9_Click()
{
    // The dialog and the extraction run events; the window stays open until both are done.
    const SequenceGuard running(m_session->sequences(), u"extract"_s);
    if (!running)
        return;
    const QPointer<fWebSearch> self(this);
    if (m_context.app().settings().promptSavePathOnExtract() == 1)
        fSeleFileSavePath::ask(m_context, this);
    if (!self)
        return;
    m_session->ExtractPage();
    if (self)
        AutoSizeColumns(ui->ListView1);
}

void fWebSearch::Command7_Click()
{
    if (m_results->isEmpty())
        return;
    const QString path = GetSaveFileName(this, u"*.txt"_s, u"txt"_s);
    if (path.isEmpty())
        return;
    QString error;
    if (!writeTextFile(path, m_results->titles(), &error)) {
        ShowError(this, error.isEmpty() ? path : error);
        return;
    }
    const double kb = double(QFileInfo(path).size()) / 1024.0;
    ShowInfo(this, u"保存文件完毕："_s + QLocale(QLocale::English).toString(kb, 'f', 2) + u"KB"_s);
}

bool fWebSearch::askSaveFolder()
{
    if (m_context.app().settings().promptSavePathOnExtract() == 1)
        return true;
    return fSeleFileSavePath::ask(m_context, this);
}

void fWebSearch::runPass(AnalysePass pass)
{
    const SequenceGuard running(m_session->sequences(), u"pass"_s);
    if (!running)
        return;
    const QPointer<fWebSearch> self(this);
    m_session->AnalysisStopFlag = false;
    ui->Label11->setText(u"正在分析,请稍候..."_s);
    ui->PicPanPrograss->show();
    ui->PicPanPrograss->raise();
    if (!pumpEventsFor(this))
        return;
    const bool proceed =
        !m_results->isEmpty() && ((pass == AnalysePass::New && Timer1->isActive()) || askSaveFolder());
    if (!self)
        return;
    if (proceed) {
        QList<int> selected;
        if (pass == AnalysePass::Selected)
            selected = SelectedRowNumbers(ui->ListView1->selectionModel());
        AppContext& app = m_context.app();
        const HandOffNaming naming{app.settings().defaultSavePath(), app.saveFolderChoice().nameFromLink};
        // The download window is loaded only for a row that qualifies.
        GuiContext& context = m_context;
        SearchSession* session = m_session;
        // A download window asking whether it may close takes no rows: they would go with its list,
        // marked as handed over. They wait for the next pass.
        const auto target = [&context]() -> DownloadListModel* {
            const fFileDownload* loaded = context.loadedDownloadWindow();
            return loaded && loaded->isClosing() ? nullptr : context.downloadWindow()->list();
        };
        HandOverRows(*m_results, pass, selected, naming, target,
                     [self, session] { return !self || session->AnalysisStopFlag; });
        if (!self)
            return;
    }
    ui->PicPanPrograss->hide();
    m_session->AnalysisStopFlag = true;
    m_context.显示下载窗口(false);
}

void fWebSearch::Command2_Click()
{
    ui->Command2->setEnabled(false);
    if (m_results->isEmpty())
        ShowInfo(this, u"列表没有数据哦！"_s);
    else if (!ui->ListView1->selectionModel()->hasSelection())
        runPass(AnalysePass::All);
    else
        ui->menu加入->popup(ui->Command2->mapToGlobal(QPoint(0, ui->Command2->height())));
    ui->Command2->setEnabled(true);
}

void fWebSearch::Check7_Click(bool ticked)
{
    if (!ticked) {
        Timer1->stop();
        return;
    }
    if (!askSaveFolder()) {
        Timer1->stop();
        ui->Check7->setChecked(false);
        return;
    }
    Timer1->start();
}

bool fWebSearch::refuseWhileAnalysing()
{
    if (m_session->AnalysisStopFlag)
        return false;
    ShowError(this, u"正在分析，不能清除！"_s);
    return true;
}

void fWebSearch::removeByRule(const std::function<int()>& remove)
{
    if (refuseWhileAnalysing() || m_results->isEmpty())
        return;
    ui->ListView1->setUpdatesEnabled(false);
    remove();
    ui->ListView1->setUpdatesEnabled(true);
    updateCounter();
}

void fWebSearch::removeSelected()
{
    removeByRule(
        [this] { return m_results->removeRowsAt(SelectedRowNumbers(ui->ListView1->selectionModel())); });
}

void fWebSearch::removeTitleRule(bool containing)
{
    if (refuseWhileAnalysing())
        return;
    const QString text = InputBox(this, u"请输入指定字符："_s);
    if (text.isEmpty())
        return;
    removeByRule([this, text, containing] {
        return containing ? m_results->removeTitleContaining(text)
                          : m_results->removeTitleNotContaining(text);
    });
}

void fWebSearch::clearAll()
{
    if (refuseWhileAnalysing())
        return;
    if (!AskYesNo(this, u"您确定要清空辛辛苦苦搜索的列表数据吗？"_s))
        return;
    m_results->clear();
    updateCounter();
}

void fWebSearch::selectRows(const QList<int>& rows)
{
    if (m_results->isEmpty())
        return;
    SelectOnlyRows(ui->ListView1->selectionModel(), rows);
    ShowInfo(this, u"选中条数："_s + QString::number(rows.size()));
}

void fWebSearch::convertAll()
{
    if (m_results->isEmpty())
        return;
    m_results->convertAllToSimplified();
    ShowInfo(this, u"全部繁体转简体完成！"_s);
}

void fWebSearch::savePageSource()
{
    // A save dialog: it asks before replacing a file that is there.
    const QString path = GetSaveFileName(this, u"*.htm"_s, u"htm"_s);
    if (path.isEmpty())
        return;
    const QPointer<fWebSearch> self(this);
    const HtmlDocumentPtr doc = m_browser->document(); // runs events: the window may close meanwhile
    if (!self)
        return;
    if (!doc) {
        ShowError(this, u"无法读取当前网页，没有保存。"_s);
        return;
    }
    // UTF-8 after its byte order mark, which a browser goes by before the charset the markup still
    // declares (a page sent in GBK says so in its meta element).
    QString error;
    if (writeWholeFile(path, "\xEF\xBB\xBF" + doc->documentElement().outerHTML().toUtf8(), &error))
        ShowInfo(this, u"已经保存！"_s);
    else
        ShowError(this, error.isEmpty() ? path : error);
}

void fWebSearch::setStatusText(const QString& text)
{
    m_statusPanels[1]->setText(text);
}

bool fWebSearch::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->Text2 && event->type() == QEvent::FocusOut && !IsNumeric(ui->Text2->text())) {
        // Only focus that moves to another control of the window: not the window losing focus to
        // another program, nor a menu opening over it (the text is still being edited).
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            ui->Check5->setChecked(false);
            ShowError(this, u"必须填写数字！"_s);
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void fWebSearch::closeEvent(QCloseEvent* event)
{
    if (!m_session->allIdle() || m_session->sequences().isRunning()) {
        event->ignore();
        ShowError(this, kStillWorkingText);
        return;
    }
    if (!saveSettings()) {
        const QPointer<fWebSearch> self(this);
        ShowSettingsNotSaved(this, m_context.app().store().fileName());
        if (!self)
            return;
    }
    Timer1->stop();
    event->accept();
    MarkFormUnloaded(this);
    if (!IsFormLoaded(u"fFileDownload"_s))
        m_context.showCover();
}

} // namespace lintbay
