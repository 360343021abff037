#include "FileDialogs.h"
#include "util/Messages.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>

namespace lintbay {

namespace {
AnswerPicker& fileNamePicker()
{
    static AnswerPicker p;
    return p;
}

AnswerPicker& inputPicker()
{
    static AnswerPicker p;
    return p;
}

QString withSuffix(const QString& name, const QString& suffix)
{
    if (name.isEmpty() || suffix.isEmpty() || !QFileInfo(name).suffix().isEmpty())
        return name;
    return name + QLatin1Char('.') + suffix;
}

QString runFileDialog(QWidget* parent, QFileDialog::AcceptMode mode, const QString& filter,
                      const QString& defaultSuffix)
{
    if (fileNamePicker())
        return withSuffix(fileNamePicker()(filter), defaultSuffix);
    auto* dialog = new QFileDialog(parent, QCoreApplication::applicationName(), QString(), filter);
    dialog->setAcceptMode(mode);
    dialog->setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog->setDefaultSuffix(defaultSuffix);
    QString chosen;
    QObject::connect(dialog, &QFileDialog::fileSelected, dialog, [&chosen](const QString& file) { chosen = file; });
    if (execModal(dialog) != QDialog::Accepted || chosen.isEmpty())
        return {};
    return withSuffix(chosen, defaultSuffix);
}
} // namespace

QString GetSaveFileName(QWidget* parent, const QString& filter, const QString& defaultSuffix)
{
    return runFileDialog(parent, QFileDialog::AcceptSave, filter, defaultSuffix);
}

QString GetOpenFileName(QWidget* parent, const QString& filter, const QString& defaultSuffix)
{
    return runFileDialog(parent, QFileDialog::AcceptOpen, filter, defaultSuffix);
}

QString InputBox(QWidget* parent, const QString& prompt)
{
    if (inputPicker())
        return inputPicker()(prompt);
    bool ok = false;
    const QString text = QInputDialog::getText(parent, QCoreApplication::applicationName(), prompt,
                                               QLineEdit::Normal, QString(), &ok);
    return ok ? text : QString();
}

void SetFileNamePicker(AnswerPicker picker)
{
    fileNamePicker() = std::move(picker);
}

void SetInputPicker(AnswerPicker picker)
{
    inputPicker() = std::move(picker);
}

} // namespace lintbay
