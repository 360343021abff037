#include "fOption.h"
#include "ui_fOption.h"

#include "app/GuiContext.h"
#include "app/AppContext.h"
#include "app/SettingsStore.h"
#include "options/BrowserEmulation.h"
#include "util/Messages.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QFontMetrics>
#include <QLocale>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {
const QString kProxyFormatError = u"代理服务器网址或者端口格式不对！"_s;
const QString kSizeNotNumber = u"下载文件大小必须是数字！"_s;
// A limit of nothing would end every download as too large.
const QString kSizeNotPositive = u"下载文件大小必须大于 0！"_s;
constexpr int kDefaultEmulation = 10;
// The emulation buttons with the version each stands for; "默认" stands for none.
const struct
{
    int index;
    const char16_t* version;
} kEmulationButtons[] = {{0, u"IE7"}, {1, u"IE8"}, {2, u"IE9"}, {3, u"IE10"}, {4, u"IE11"}, {10, u""}};

// The port the download layer can actually use; anything else means the proxy is silently not used,
// which is what the warning is there to tell.
bool isUsablePort(const QString& port)
{
    bool ok = false;
    const uint p = port.toUInt(&ok);
    return ok && p > 0 && p <= 65535;
}

} // namespace

fOption::fOption(GuiContext& context, QWidget* parent)
    : QDialog(parent), m_context(context), ui(std::make_unique<Ui::fOption>())
{
    ui->setupUi(this);
    setObjectName(u"fOption"_s);

    m_emulation = new QButtonGroup(this);
    for (const auto& button : kEmulationButtons)
        m_emulation->addButton(findChild<QRadioButton*>(u"OptionIE_"_s + QString::number(button.index)),
                               button.index);

    // The size box sits in the blank run of its label's caption, between the text and "MB".
    const QString caption = ui->Label2->text();
    const QFontMetrics metrics(ui->Label2->font());
    const int left = metrics.horizontalAdvance(caption.left(caption.indexOf(u' ')));
    const int right = metrics.horizontalAdvance(caption) - metrics.horizontalAdvance(u"MB"_s);
    const QSize labelSize = ui->Label2->sizeHint();
    const int boxHeight = ui->Text1->sizeHint().height();
    const int rowHeight = qMax(labelSize.height(), boxHeight);
    ui->Label2->setGeometry(0, (rowHeight - labelSize.height()) / 2, labelSize.width(), labelSize.height());
    ui->Text1->setTextMargins(0, 0, 0, 0);
    ui->Text1->setGeometry(left, (rowHeight - boxHeight) / 2, qMax(right - left - 1, 1), boxHeight);
    ui->sizeRow->setMinimumSize(labelSize.width(), rowHeight);

    connect(ui->Command1, &QPushButton::clicked, this, &fOption::Command1_Click);
    connect(ui->Command2, &QPushButton::clicked, this, &QDialog::reject);
    load();
}

fOption::~fOption() = default;

void fOption::showModal(GuiContext& context, QWidget* parent)
{
    execModal(new fOption(context, parent));
}

QRadioButton* fOption::OptionIE(int index) const
{
    return qobject_cast<QRadioButton*>(m_emulation->button(index));
}

void fOption::load()
{
    const ProgramSettings& v = m_context.app().settings();
    setWindowTitle(u"设置-"_s + QCoreApplication::applicationName());

    const ProxySettings proxy = v.proxy();
    ui->Check1->setChecked(proxy.enabled);
    ui->Text6->setText(proxy.address);
    ui->Text8->setText(proxy.port);
    if (v.downloadMode() == DownloadMode::Single)
        ui->Option1->setChecked(true);
    else
        ui->Option2->setChecked(true);
    ui->Check2->setChecked(v.promptSavePathOnExtract() == 1);
    ui->Text1->setText(QString::number(v.maxFileSizeMB(), 'g', QLocale::FloatingPointShortest));

    // "IE默认", empty or anything unknown is the browser's own level, which "默认" stands for.
    int chosen = kDefaultEmulation;
    for (const auto& button : kEmulationButtons) {
        const QString version = QString::fromUtf16(button.version);
        if (!version.isEmpty() && version == v.browserEmulationVersion())
            chosen = button.index;
    }
    OptionIE(chosen)->setChecked(true);
}

void fOption::Command1_Click()
{
    // Checked before anything is applied, so that a refused size leaves no half-applied settings.
    double maxSize = 0;
    const bool number = ParseNumber(ui->Text1->text(), &maxSize);
    if (!number || !(maxSize > 0)) {
        ShowError(this, number ? kSizeNotPositive : kSizeNotNumber);
        ui->Text1->setFocus();
        ui->Text1->selectAll();
        return;
    }

    // The settings announce every change; the download session and the download window follow.
    AppContext& app = m_context.app();
    ProgramSettings& v = app.settings();
    using Field = ProgramSettings::Field;

    if (ui->Option1->isChecked() || ui->Option2->isChecked())
        v.setDownloadMode(ui->Option1->isChecked() ? DownloadMode::Single : DownloadMode::Parallel);
    bool saved = v.store(Field::DownloadMode);

    const ProxySettings proxy{ui->Check1->isChecked(), ui->Text6->text().trimmed(), ui->Text8->text().trimmed()};
    v.setProxy(proxy);
    saved = v.store(Field::Proxy) && saved;
    if (proxy.enabled && (proxy.address.isEmpty() || !isUsablePort(proxy.port)))
        ShowError(this, kProxyFormatError);

    v.setPromptSavePathOnExtract(ui->Check2->isChecked() ? 1 : 0);
    saved = v.store(Field::PromptSavePath) && saved;

    v.setMaxFileSizeMB(maxSize);
    saved = v.store(Field::MaxFileSize) && saved;
    if (!saved)
        ShowSettingsNotSaved(this, app.store().fileName());

    const int chosen = m_emulation->checkedId();
    QString version;
    for (const auto& button : kEmulationButtons) {
        if (button.index == chosen)
            version = QString::fromUtf16(button.version);
    }
    v.setBrowserEmulation(version, 1);
    SetBrowserEmulation(app.registry(), version, 1, v.osBitness());

    accept();
}

} // namespace lintbay
