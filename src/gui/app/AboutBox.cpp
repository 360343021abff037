#include "AboutBox.h"
#include "ui_AboutBox.h"

#include "Version.h"
#include "app/GuiContext.h"
#include "app/AppContext.h"
#include "update/UpdateCheck.h"
#include "util/Messages.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {
struct Candidate
{
    QString desktop; // the XDG_CURRENT_DESKTOP word of the desktop it belongs to
    QString program;
    QStringList arguments;
};

QList<Candidate> candidates()
{
#if defined(Q_OS_WIN)
    return {{QString(), u"msinfo32"_s, {}}};
#elif defined(Q_OS_MACOS)
    return {{QString(), u"open"_s, {u"-b"_s, u"com.apple.SystemProfiler"_s}}};
#else
    return {
        {u"GNOME"_s, u"gnome-control-center"_s, {u"info-overview"_s}},
        {u"KDE"_s, u"kinfocenter"_s, {}},
        {u"XFCE"_s, u"xfce4-about"_s, {}},
        {QString(), u"hardinfo"_s, {}},
        {QString(), u"hardinfo2"_s, {}},
    };
#endif
}

QString escaped(const QString& text)
{
    return text.toHtmlEscaped();
}
} // namespace

std::optional<SystemInfoTool> FindSystemInfoTool(const QString& desktop)
{
    const QStringList desktops = desktop.toUpper().split(u':', Qt::SkipEmptyParts);
    QList<Candidate> ordered = candidates();
    // The desktop's own tool describes the system the way the user knows it.
    std::stable_sort(ordered.begin(), ordered.end(), [&](const Candidate& a, const Candidate& b) {
        const bool ownA = !a.desktop.isEmpty() && desktops.contains(a.desktop);
        const bool ownB = !b.desktop.isEmpty() && desktops.contains(b.desktop);
        return ownA && !ownB;
    });
    for (const Candidate& c : std::as_const(ordered)) {
        const QString path = QStandardPaths::findExecutable(c.program);
        if (!path.isEmpty())
            return SystemInfoTool{path, c.arguments};
    }
    return std::nullopt;
}

std::optional<SystemInfoTool> FindSystemInfoTool()
{
    return FindSystemInfoTool(QProcessEnvironment::systemEnvironment().value(u"XDG_CURRENT_DESKTOP"_s));
}

AboutBox::AboutBox(GuiContext& context, QWidget* parent)
    : QDialog(parent), ui(std::make_unique<Ui::AboutBox>()), m_tool(FindSystemInfoTool())
{
    ui->setupUi(this);
    setObjectName(u"AboutBox"_s);
    setWindowTitle(u"关于-"_s + QCoreApplication::applicationName());
    ui->picIcon->setPixmap(
        QPixmap(u":/icons/lintbay.png"_s).scaled(64, 64, Qt::KeepAspectRatio, Qt::SmoothTransformation));
    QFont title = ui->lblTitle->font();
    title.setPointSize(title.pointSize() + 6);
    title.setBold(true);
    ui->lblTitle->setFont(title);
    ui->lblVersion->setText(u"版本："_s + QStringLiteral(LINTBAY_VERSION_STRING));
    // The system line built at start (name, version, build, bitness).
    ui->lblSystem->setText(u"操作系统："_s + context.app().settings().osDescription());

    const QUrl page = ProgramPageUrl(context.app().store());
    if (page.isValid()) {
        const QString address = page.toString();
        ui->lblLinks->setText(u"程序主页：<a href=\"%1\">%2</a>"_s.arg(
            escaped(page.toString(QUrl::FullyEncoded)), escaped(address)));
    } else {
        ui->lblLinks->hide();
    }

    ui->cmdSysInfo->setEnabled(m_tool.has_value());
    connect(ui->cmdOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(ui->cmdSysInfo, &QPushButton::clicked, this, &AboutBox::cmdSysInfo_Click);
}

AboutBox::~AboutBox() = default;

void AboutBox::showModal(QWidget* parent, GuiContext& context)
{
    execModal(new AboutBox(context, parent));
}

void AboutBox::cmdSysInfo_Click()
{
    if (!m_tool || !QProcess::startDetached(m_tool->program, m_tool->arguments))
        ShowError(this, u"此时系统信息不可用"_s);
}

} // namespace lintbay
