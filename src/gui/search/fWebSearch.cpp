#include "fWebSearch.h"
#include "ui_fWebSearch.h"

#include "app/Browser.h"
#include "app/GuiContext.h"
#include "app/ProgramValues.h"
#include "app/SettingsStore.h"
#include "search/SearchSession.h"
#include "util/Messages.h"
#include "util/Wait.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QLabel>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {
const QString kSection = u"fWebSearch"_s;
const QString kBatchIdleCaption = u"开始批量搜索提取"_s;
const QString kBatchRunningCaption = u"停止批量搜索"_s;
const QString kRunningStyle = u"background-color: rgb(255, 0, 0);"_s;
constexpr int kDefaultDelayIndex = 10;
} // namespace

fWebSearch::fWebSearch(GuiContext& context, QWidget* parent)
    : QMainWindow(parent), m_context(context), ui(std::make_unique<Ui::fWebSearch>())
{
    ui->setupUi(this);
    setObjectName(u"fWebSearch"_s);

    const BrowserWithView made = m_context.createBrowser(ui->PicPanWeb);
    m_browser = made.browser;
    if (made.view)
        ui->PicPanWeb->layout()->addWidget(made.view);
    m_session = new SearchSession(m_browser, this);
    m_session->setPageLoadTimeout(m_context.pageLoadTimeoutMs);

    for (int i = 0; i < 3; ++i) {
        m_statusPanels[i] = new QLabel(this);
        m_statusPanels[i]->setObjectName(u"StatusPanel%1"_s.arg(i + 1));
        ui->StatusBar1->addWidget(m_statusPanels[i], i == 1 ? 1 : 0);
    }
    connect(m_browser, &Browser::statusTextChanged, this, &fWebSearch::setStatusText);
    connect(m_browser, &Browser::navigationStarting, this, [this] { ui->StatusBar1->show(); });

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
    ui->Text2->installEventFilter(this);

    connect(ui->Command1, &QPushButton::clicked, this, &fWebSearch::Command1_Click);
    connect(ui->menu打开百度首页, &QAction::triggered, this, &fWebSearch::openHomePage);
    connect(ui->menu后退, &QAction::triggered, this, [this] { m_browser->goBack(); });
    connect(ui->menu前进, &QAction::triggered, this, [this] { m_browser->goForward(); });
    connect(ui->menu关闭本窗口, &QAction::triggered, this, &QWidget::close);

    // Window load.
    setWindowTitle(u"百度页面数据检索分析-"_s + QCoreApplication::applicationName());
    setWindowIcon(QIcon(u":/icons/lintbay.png"_s));
    loadSettings();
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
    AppContext& app = m_context.app();
    SettingsStore& s = app.settings();
    app.loadPromptSavePath();
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

void fWebSearch::saveSettings()
{
    SettingsStore& s = m_context.app().settings();
    s.set(kSection, u"Text1"_s, ui->Text1->toPlainText());
    s.set(kSection, u"check1"_s, ui->Check1->isChecked() ? 1 : 0);
    s.set(kSection, u"check2"_s, ui->Check2->isChecked() ? 1 : 0);
    s.set(kSection, u"check12"_s, ui->Check12->isChecked() ? 1 : 0);
    s.set(kSection, u"check13"_s, ui->Check13->isChecked() ? 1 : 0);
    s.set(kSection, u"check14"_s, ui->Check14->isChecked() ? 1 : 0);
    s.set(kSection, u"combo1"_s, ui->Combo1->currentIndex());
    s.sync();
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
    if (ui->Command1->text() == kBatchRunningCaption) {
        m_session->BatchStopFlag = true;
        ui->Command1->setEnabled(false);
        return;
    }
    if (!m_session->AddAllStopFlag) {
        ShowError(this, u"正在提取网页信息，请停止以后使用该功能！"_s);
        return;
    }
    ui->Command1->setText(kBatchRunningCaption);
    ui->Command1->setStyleSheet(kRunningStyle);

    SearchSession::BatchRequest request;
    request.engine = m_context.app().searchEngine();
    request.keywordText = ui->Text1->toPlainText();
    request.options = queryOptions();
    request.tickedTypes = tickedTypes();
    m_session->runBatch(request);

    ui->Command1->setStyleSheet(QString());
    ui->Command1->setText(kBatchIdleCaption);
    ui->Command1->setEnabled(true);
    m_session->BatchStopFlag = true;
}

void fWebSearch::setStatusText(const QString& text)
{
    m_statusPanels[1]->setText(text);
}

bool fWebSearch::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->Text2 && event->type() == QEvent::FocusOut && !IsNumeric(ui->Text2->text())) {
        ui->Check5->setChecked(false);
        ShowError(this, u"必须填写数字！"_s);
    }
    return QMainWindow::eventFilter(watched, event);
}

void fWebSearch::closeEvent(QCloseEvent* event)
{
    if (!m_session->allIdle()) {
        event->ignore();
        ShowError(this, u"正在工作，停止以后才能退出！"_s);
        return;
    }
    saveSettings();
    event->accept();
    MarkFormUnloaded(this);
    if (!IsFormLoaded(u"fFileDownload"_s))
        m_context.showCover();
}

} // namespace lintbay
