#include "Messages.h"

#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>
#include <QPointer>

namespace lintbay {

namespace {
MessageSink& sink()
{
    static MessageSink s;
    return s;
}

bool show(QWidget* parent, MessageIcon icon, const QString& text)
{
    if (sink())
        return sink()(icon, text);
    const QString title = QCoreApplication::applicationName();
    QMessageBox::Icon boxIcon = QMessageBox::Information;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    if (icon == MessageIcon::Error)
        boxIcon = QMessageBox::Critical;
    const bool question = icon == MessageIcon::Question || icon == MessageIcon::PlainQuestion;
    if (question) {
        boxIcon = icon == MessageIcon::Question ? QMessageBox::Question : QMessageBox::NoIcon;
        buttons = QMessageBox::Yes | QMessageBox::No;
    }
    auto* box = new QMessageBox(boxIcon, title, text, buttons, parent);
    QPointer<QMessageBox> alive(box);
    box->exec();
    const bool yes = alive && box->standardButton(box->clickedButton()) == QMessageBox::Yes;
    delete alive.data();
    return question ? yes : true;
}
} // namespace

int execModal(QDialog* dialog)
{
    QPointer<QDialog> alive(dialog);
    const int result = dialog->exec();
    if (!alive)
        return QDialog::Rejected;
    delete dialog;
    return result;
}

void ShowInfo(QWidget* parent, const QString& text)
{
    show(parent, MessageIcon::Information, text);
}

void ShowError(QWidget* parent, const QString& text)
{
    show(parent, MessageIcon::Error, text);
}

bool AskYesNo(QWidget* parent, const QString& text)
{
    return show(parent, MessageIcon::Question, text);
}

bool AskYesNoPlain(QWidget* parent, const QString& text)
{
    return show(parent, MessageIcon::PlainQuestion, text);
}

void ShowSettingsNotSaved(QWidget* parent, const QString& settingsFile)
{
    ShowError(parent, QStringLiteral("无法保存设置：%1").arg(QDir::toNativeSeparators(settingsFile)));
}

void SetMessageSink(MessageSink s)
{
    sink() = std::move(s);
}

} // namespace lintbay
