#include "Messages.h"

#include <QCoreApplication>
#include <QMessageBox>

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
    switch (icon) {
    case MessageIcon::Information:
        QMessageBox::information(parent, title, text);
        return true;
    case MessageIcon::Error:
        QMessageBox::critical(parent, title, text);
        return true;
    case MessageIcon::Question:
        return QMessageBox::question(parent, title, text, QMessageBox::Yes | QMessageBox::No) ==
               QMessageBox::Yes;
    }
    return false;
}
} // namespace

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

void SetMessageSink(MessageSink s)
{
    sink() = std::move(s);
}

} // namespace lintbay
