#include "Form_Copy_Move.h"
#include "ui_Form_Copy_Move.h"

#include "app/GuiContext.h"
#include "app/AppContext.h"
#include "app/SettingsStore.h"
#include "tools/CopyRules.h"
#include "util/BrowseForFolder.h"
#include "util/ComboListFile.h"
#include "util/FolderHistory.h"
#include "util/Messages.h"
#include "util/PathHelpers.h"
#include "util/Wait.h"
#include "util/WindowHelpers.h"

#include <QDir>
#include <QPointer>
#include <QRadioButton>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

const QString kSection = u"Form_Copy_Move"_s;
const QString kTargetKey = u"目的文件夹"_s;
const QString kOpIndexKey = u"OpIndex"_s;
const QString kStartText = u"开始"_s;
const QString kStopText = u"停止"_s;

QString withSeparator(const QString& path)
{
    return path.endsWith(QDir::separator()) ? path : path + QDir::separator();
}

} // namespace

Form_Copy_Move::Form_Copy_Move(GuiContext& context, QWidget* parent)
    : QDialog(parent), m_context(context), ui(std::make_unique<Ui::Form_Copy_Move>())
{
    ui->setupUi(this);
    setObjectName(u"Form_Copy_Move"_s);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    const SettingsStore& settings = m_context.app().store();
    LoadComboListFile(ui->Combo1, FolderHistoryFile());
    FitComboDropWidth(ui->Combo1);
    ui->Combo1->setEditText(settings.get(kSection, kTargetKey, ProgramDataFolder()));

    m_opIndex = int(SameNameRuleFromIndex(settings.getInt(kSection, kOpIndexKey, int(kDefaultSameNameRule))));
    QRadioButton* options[] = {ui->Option1_1, ui->Option1_2, ui->Option1_3, ui->Option1_4, ui->Option1_5};
    for (int i = 0; i < 5; ++i) {
        options[i]->setChecked(i + 1 == m_opIndex);
        connect(options[i], &QRadioButton::toggled, this, [this, i](bool checked) {
            if (checked)
                m_opIndex = i + 1;
        });
    }

    connect(ui->Command1, &QPushButton::clicked, this, &Form_Copy_Move::Command1_Click);
    connect(ui->Command2, &QPushButton::clicked, this, &Form_Copy_Move::reject);
    connect(ui->Command3, &QPushButton::clicked, this, &Form_Copy_Move::Command3_Click);
}

Form_Copy_Move::~Form_Copy_Move() = default;

void Form_Copy_Move::setFiles(const QStringList& files)
{
    m_files = files;
    setWindowTitle(u"复制文件："_s + QString::number(files.size()) + u" 个文件..."_s);
}

void Form_Copy_Move::showModal(GuiContext& context, const QStringList& files, QWidget* parent)
{
    auto* dialog = new Form_Copy_Move(context, parent);
    dialog->setFiles(files);
    execModal(dialog);
}

void Form_Copy_Move::Command3_Click()
{
    // A cancelled browser hands back the start folder, which then ends in a separator.
    const QString chosen =
        BrowseForFolder(this, ui->Combo1->currentText().trimmed(), u"请选择要浏览的文件夹:"_s);
    if (!chosen.isEmpty())
        ui->Combo1->setEditText(chosen);
}

QString Form_Copy_Move::prepareTargetFolder()
{
    // A relative path would land the copies wherever the program happened to be started.
    const QString typed = QDir::toNativeSeparators(ui->Combo1->currentText().trimmed());
    QString folder;
    if (!typed.isEmpty() && QDir::isAbsolutePath(typed)) {
        bool nameError = false;
        folder = CreateFolderPath(typed, &nameError);
        if (nameError) {
            ShowError(this, kFolderNameErrorText.toString());
            // Only a parent of the folder asked for could be made; copying there would scatter
            // the files where nobody looks for them.
            folder.clear();
        }
    }
    if (folder.isEmpty()) {
        // The typed text stays, so that it can be corrected.
        ShowError(this, u"创建文件夹出错！"_s);
        return {};
    }
    return withSeparator(folder);
}

void Form_Copy_Move::Command1_Click()
{
    if (m_running) {
        // "停止": the run ends before its next file. Nothing else is redone while it runs, so the
        // list being worked through is never changed under it; nor is a run started until it ends.
        m_running = false;
        ui->Command1->setText(kStartText);
        ui->Command1->setEnabled(false);
        return;
    }
    if (m_inRun)
        return;

    const QString folder = prepareTargetFolder();
    if (folder.isEmpty())
        return;
    ui->Combo1->setEditText(folder);
    m_targetFolder = folder;
    SettingsStore& settings = m_context.app().store();
    settings.set(kSection, kTargetKey, m_targetFolder);
    settings.set(kSection, kOpIndexKey, m_opIndex);

    const QString trimmed = folder.trimmed();
    bool known = false;
    for (int i = 0; i < ui->Combo1->count(); ++i)
        known = known || IsSameFolder(ui->Combo1->itemText(i).trimmed(), trimmed);
    if (!known) {
        ui->Combo1->addItem(trimmed);
        ui->Combo1->setEditText(folder);
    }
    SaveComboListFile(ui->Combo1, FolderHistoryFile());

    ui->Label3->clear();
    m_files = DropMissingFiles(m_files);
    if (m_files.isEmpty())
        return;
    runCopy();
}

void Form_Copy_Move::runCopy()
{
    m_running = true;
    ui->Command1->setText(kStopText);
    ui->ProgressBar1->setMaximum(int(m_files.size()) + 1);
    ui->ProgressBar1->setValue(0);

    // The dialog may be gone after any pass of the event loop (its owner closed); every step
    // looks first.
    QPointer<Form_Copy_Move> self(this);
    CopyRunCallbacks callbacks;
    callbacks.running = [self] { return self && self->m_running; };
    callbacks.fileStarted = [self](int number, const QString& name) {
        if (!self)
            return;
        self->ui->ProgressBar1->setValue(number);
        self->ui->Label3->setText(name);
        pumpEvents();
    };
    callbacks.working = [] { pumpEvents(); };
    const QStringList files = m_files;
    const QString folder = m_targetFolder;
    m_inRun = true;
    const CopyRunSummary summary = CopyFilesTo(files, folder, SameNameRuleFromIndex(m_opIndex), callbacks);
    if (!self)
        return;

    m_inRun = false;
    m_running = false;
    ui->Command1->setEnabled(true);
    ui->ProgressBar1->setValue(0);
    ui->Label3->clear();
    ui->Command1->setText(kStartText);
    if (m_closeRequested) {
        QDialog::reject();
        return;
    }
    // Copies that could not be made are passed over during the run, and told at its end.
    if (summary.failed > 0)
        ShowError(this, u"复制文件完成！\n%1 个文件未能复制。"_s.arg(summary.failed));
    else
        ShowInfo(this, u"复制文件完成！"_s);
}

void Form_Copy_Move::reject()
{
    if (m_inRun) {
        m_running = false;
        m_closeRequested = true;
        return;
    }
    QDialog::reject();
}

} // namespace lintbay
