#include "fOption.h"
#include "ui_fOption.h"

#include "app/GuiContext.h"
#include "app/ProgramValues.h"
#include "app/SettingsStore.h"
#include "controls/NetworkContext.h"
#include "download/fFileDownload.h"
#include "options/BrowserEmulation.h"
#include "util/Messages.h"

#include <QButtonGroup>
#include <QCoreApplication>
#include <QFontMetrics>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {
const QString kProxyFormatError = u"代理服务器网址或者端口格式不对！"_s;
const QString kSizeNotNumber = u"下载文件大小必须是数字！"_s;
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

fFileDownload* loadedDownloadWindow(GuiContext& context)
{
    return context.download && IsFormLoaded(u"fFileDownload"_s) ? context.download.data() : nullptr;
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
    fOption dialog(context, parent);
    dialog.exec();
}

QRadioButton* fOption::OptionIE(int index) const
{
    return qobject_cast<QRadioButton*>(m_emulation->button(index));
}

void fOption::load()
{
    AppContext& app = m_context.app();
    ProgramValues& v = app.values();
    setWindowTitle(u"设置-"_s + QCoreApplication::applicationName());

    // The download way and the proxy are loaded by the download window. Opened before that window
    // ever was, the dialog would otherwise show (and OK would save) the defaults over the user's
    // stored choices. While the window is loaded its values lead: it switches ways on its own.
    if (!loadedDownloadWindow(m_context)) {
        const SettingsStore& s = app.settings();
        v.DownloadMode = s.getInt(keys::kSettings, keys::kDownloadMode, 2) == 1 ? 1 : 2;
        v.ProxyAddress = s.get(keys::kSettings, keys::kProxyAddress);
        v.ProxyPort = s.get(keys::kSettings, keys::kProxyPort);
        v.ProxyEnabled = s.getInt(keys::kSettings, keys::kProxyEnabled, 0) == 1;
    }

    ui->Check1->setChecked(v.ProxyEnabled);
    ui->Text6->setText(v.ProxyAddress);
    ui->Text8->setText(v.ProxyPort);
    if (v.DownloadMode == 1)
        ui->Option1->setChecked(true);
    else if (v.DownloadMode == 2)
        ui->Option2->setChecked(true);
    ui->Check2->setChecked(v.PromptSavePathOnExtract == 1);
    ui->Text1->setText(QString::number(v.MaxFileSizeMB));

    // "IE默认", empty or anything unknown is the browser's own level, which "默认" stands for.
    int chosen = kDefaultEmulation;
    for (const auto& button : kEmulationButtons) {
        const QString version = QString::fromUtf16(button.version);
        if (!version.isEmpty() && version == v.BrowserEmulationVersion)
            chosen = button.index;
    }
    OptionIE(chosen)->setChecked(true);
}

void fOption::Command1_Click()
{
    // Checked before anything is applied, so that a refused size leaves no half-applied settings.
    double maxSize = 0;
    if (!ParseNumber(ui->Text1->text(), &maxSize)) {
        ShowError(this, kSizeNotNumber);
        ui->Text1->setFocus();
        ui->Text1->selectAll();
        return;
    }

    AppContext& app = m_context.app();
    SettingsStore& s = app.settings();
    ProgramValues& v = app.values();

    if (ui->Option1->isChecked() || ui->Option2->isChecked()) {
        v.DownloadMode = ui->Option1->isChecked() ? 1 : 2;
        if (fFileDownload* download = loadedDownloadWindow(m_context))
            download->applyDownloadMode(v.DownloadMode);
    }
    s.set(keys::kSettings, keys::kDownloadMode, v.DownloadMode);

    v.ProxyEnabled = ui->Check1->isChecked();
    s.set(keys::kSettings, keys::kProxyEnabled, v.ProxyEnabled ? 1 : 0);
    v.ProxyAddress = ui->Text6->text().trimmed();
    s.set(keys::kSettings, keys::kProxyAddress, v.ProxyAddress);
    v.ProxyPort = ui->Text8->text().trimmed();
    s.set(keys::kSettings, keys::kProxyPort, v.ProxyPort);
    m_context.network().setProxy(v.ProxyEnabled, v.ProxyAddress, v.ProxyPort);
    if (v.ProxyEnabled && (v.ProxyAddress.isEmpty() || !isUsablePort(v.ProxyPort)))
        ShowError(this, kProxyFormatError);

    v.PromptSavePathOnExtract = ui->Check2->isChecked() ? 1 : 0;
    s.set(keys::kSettings, keys::kPromptSavePath, v.PromptSavePathOnExtract);

    v.MaxFileSizeMB = maxSize;
    s.set(keys::kSettings, keys::kMaxFileSize, QString::number(maxSize));
    s.sync();

    // The download window's transfers copy the proxy and the size limit when it resyncs.
    if (fFileDownload* download = loadedDownloadWindow(m_context))
        download->applyDownloadMode(v.DownloadMode);

    const int chosen = m_emulation->checkedId();
    v.BrowserEmulationVersion.clear();
    for (const auto& button : kEmulationButtons) {
        if (button.index == chosen)
            v.BrowserEmulationVersion = QString::fromUtf16(button.version);
    }
    v.BrowserEmulationMode = 1;
    SetBrowserEmulation(app.registry(), v.BrowserEmulationVersion, 1, v.OsBitness);

    accept();
}

} // namespace lintbay
