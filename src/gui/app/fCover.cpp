#include "fCover.h"
#include "ui_fCover.h"

#include "Version.h"
#include "app/GuiContext.h"
#include "app/AppContext.h"
#include "controls/uXMLHTTP.h"
#include "update/UpdateCheck.h"
#include "util/Messages.h"
#include "util/Wait.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDesktopServices>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>

using namespace Qt::StringLiterals;

namespace lintbay {

QString VersionLabelText()
{
    return u"版本:%1.%2.%3"_s.arg(LINTBAY_VERSION_MAJOR).arg(LINTBAY_VERSION_MINOR).arg(LINTBAY_VERSION_PATCH);
}

namespace {
// The banner of the start-up window.
QPixmap CoverPicture()
{
    QPixmap pixmap(420, 140);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient g(0, 0, 420, 140);
    g.setColorAt(0, QColor(0x2E, 0x9E, 0x5B));
    g.setColorAt(1, QColor(0x1B, 0x5E, 0x8C));
    p.setBrush(g);
    p.setPen(Qt::NoPen);
    p.drawRoundedRect(pixmap.rect(), 14, 14);
    p.drawPixmap(24, 38, QPixmap(u":/icons/lintbay.png"_s));
    p.setPen(Qt::white);
    QFont title = p.font();
    title.setPointSize(26);
    title.setBold(true);
    p.setFont(title);
    p.drawText(QRect(104, 24, 300, 56), Qt::AlignLeft | Qt::AlignVCenter, u"Lintbay"_s);
    QFont sub = p.font();
    sub.setPointSize(13);
    sub.setBold(false);
    p.setFont(sub);
    p.drawText(QRect(106, 78, 300, 36), Qt::AlignLeft | Qt::AlignVCenter, u"文档搜索与批量下载"_s);
    return pixmap;
}
} // namespace

fCover::fCover(GuiContext& context, QWidget* parent)
    : QWidget(parent), m_context(context), ui(std::make_unique<Ui::fCover>())
{
    ui->setupUi(this);
    setObjectName(u"fCover"_s);
    setWindowIcon(QIcon(u":/icons/lintbay.png"_s));
    ui->Image1->setPixmap(CoverPicture());
    Timer1 = new QTimer(this);
    Timer1->setObjectName(u"Timer1"_s);
    Timer1->setInterval(100);
    Timer1->setSingleShot(true);
    connect(Timer1, &QTimer::timeout, this, &fCover::StartupStep);

    uXMLHTTP2 = new uXMLHTTP(m_context.network(), this);
    uXMLHTTP2->setObjectName(u"uXMLHTTP2"_s);
    m_update = new UpdateCheck(*uXMLHTTP2, m_context.app().store(), this);
    connect(m_update, &UpdateCheck::newerVersionFound, this, &fCover::onNewerVersion);
    connect(m_update, &UpdateCheck::networkError, this, [this] { ShowError(this, u"请保持网络畅通！"_s); });
    ui->Label3->setCursor(Qt::PointingHandCursor);
    ui->Label3->installEventFilter(this);
    connect(ui->Command1, &QPushButton::clicked, this, [this] { m_context.showSearchWindow(); });
    connect(ui->Command3, &QPushButton::clicked, this, [this] { close(); });
    endProgram = [] { QCoreApplication::quit(); };
}

fCover::~fCover() = default;

void fCover::load()
{
    setWindowTitle(QCoreApplication::applicationName());
    ui->Label2->setText(VersionLabelText());
    show();
    pumpEvents();
    m_context.app().loadStartupValues();
    Timer1->start();
    ui->Label1->hide();
}

void fCover::StartupStep()
{
    Timer1->stop();
    // Does not wait for the answer; without a server address it asks nothing.
    m_update->start();
    ui->Command1->setEnabled(true);
}

void fCover::onNewerVersion(const QString& answerText)
{
    ui->Label3->setText(NewVersionLabelText(answerText));
    ui->Label3->setVisible(true);
    openProgramPage();
    ShowInfo(this, u"有最新版本可以升级，请下载安装最新版本。"_s);
}

void fCover::openProgramPage() const
{
    const QUrl page = m_update->programPage();
    if (page.isValid())
        QDesktopServices::openUrl(page);
}

bool fCover::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == ui->Label3 && event->type() == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        openProgramPage();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void fCover::closeEvent(QCloseEvent* event)
{
    event->accept();
    unload();
}

void fCover::unload()
{
    if (m_unloading)
        return;
    m_unloading = true;
    MarkFormUnloaded(this);
    hide();
    m_context.app().restoreEmulationAtExit();
    // The other windows go with the program, without their own closing steps.
    if (endProgram)
        endProgram();
}

} // namespace lintbay
