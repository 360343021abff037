#include "fSeleFileSavePath.h"
#include "ui_fSeleFileSavePath.h"

#include "app/GuiContext.h"
#include "app/AppContext.h"
#include "app/SettingsStore.h"
#include "util/BrowseForFolder.h"
#include "util/ComboListFile.h"
#include "util/FolderHistory.h"
#include "util/Messages.h"
#include "util/PathHelpers.h"
#include "util/WindowHelpers.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

QString withSeparator(const QString& path)
{
    return path.endsWith(QDir::separator()) ? path : path + QDir::separator();
}

} // namespace

fSeleFileSavePath::fSeleFileSavePath(GuiContext& context, QWidget* parent)
    : QDialog(parent), m_context(context), ui(std::make_unique<Ui::fSeleFileSavePath>())
{
    ui->setupUi(this);
    setObjectName(u"fSeleFileSavePath"_s);
    setWindowFlag(Qt::WindowStaysOnTopHint);
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    if (m_context.app().saveFolderChoice().nameFromLink)
        ui->Option1->setChecked(true);
    LoadComboListFile(ui->Combo1, FolderHistoryFile());
    FitComboDropWidth(ui->Combo1);
    ui->Combo1->setEditText(m_context.app().settings().defaultSavePath());

    connect(ui->Command1, &QPushButton::clicked, this, &fSeleFileSavePath::Command1_Click);
    connect(ui->Command2, &QPushButton::clicked, this, &fSeleFileSavePath::Command2_Click);
    connect(ui->Command3, &QPushButton::clicked, this, &fSeleFileSavePath::reject);
}

fSeleFileSavePath::~fSeleFileSavePath() = default;

bool fSeleFileSavePath::ask(GuiContext& context, QWidget* parent)
{
    // The answer lives in the program context, so it is read even when the parent window went
    // away under the dialog (which takes the dialog with it).
    execModal(new fSeleFileSavePath(context, parent));
    return !context.app().saveFolderChoice().cancelled;
}

void fSeleFileSavePath::Command1_Click()
{
    const QString current = ui->Combo1->currentText();
    const QString chosen = BrowseForFolder(this, current, u"请选择要浏览的文件夹:"_s);
    // The browser hands back its start folder when cancelled; the text then stays as typed.
    if (chosen.isEmpty() || chosen == withSeparator(QDir::toNativeSeparators(current.trimmed())))
        return;
    ui->Combo1->setEditText(chosen);
}

void fSeleFileSavePath::Command2_Click()
{
    SaveFolderChoice& choice = m_context.app().saveFolderChoice();

    // Blanks around a typed path are never meant, and a relative path would land the downloads
    // wherever the program happened to be started.
    const QString typed = QDir::toNativeSeparators(ui->Combo1->currentText().trimmed());
    QString folder;
    if (!typed.isEmpty() && QDir::isAbsolutePath(typed)) {
        bool nameError = false;
        folder = CreateFolderPath(withSeparator(typed), &nameError);
        if (nameError) {
            ShowError(this, kFolderNameErrorText.toString());
            // Only part of the path could be made: saving into a parent of the folder the user
            // asked for would scatter the files where nobody looks for them.
            folder.clear();
        }
    }
    if (folder.isEmpty()) {
        ShowError(this, u"文件夹设置错误！"_s);
        return;
    }

    folder = withSeparator(folder);
    ProgramSettings& settings = m_context.app().settings();
    settings.setDefaultSavePath(folder);
    if (!settings.store(ProgramSettings::Field::DefaultSavePath))
        ShowSettingsNotSaved(this, m_context.app().store().fileName()); // the choice holds for this run
    // Taken only with a folder: a refused "确定" followed by "取消" leaves the earlier choice.
    choice.nameFromLink = ui->Option1->isChecked();
    choice.cancelled = false;
    ui->Combo1->addItem(folder.trimmed());
    SaveComboListFile(ui->Combo1, FolderHistoryFile());
    accept();
}

void fSeleFileSavePath::reject()
{
    // Escape and the window's close button leave the same way as "取消": nothing is handed over.
    m_context.app().saveFolderChoice().cancelled = true;
    QDialog::reject();
}

} // namespace lintbay
