#pragma once

#include <QString>

#include <functional>

class QDialog;
class QWidget;

namespace lintbay {

enum class MessageIcon { Information, Error, Question, PlainQuestion /* Yes/No without an icon */ };

// A window refuses to close with this (error icon) while one of its long sequences runs.
inline const QString kStillWorkingText = QStringLiteral("正在工作，停止以后才能退出！");

// Runs a dialog made with `new` modally and deletes it afterwards. A window that closes (and is
// freed) while the dialog waits takes its child dialog with it: the result is then Rejected, and
// nothing is touched twice. Dialogs on the stack would be destroyed a second time.
int execModal(QDialog* dialog);

// Message boxes of the program: the application title as caption, the icon the text calls for.
void ShowInfo(QWidget* parent, const QString& text);
void ShowError(QWidget* parent, const QString& text);
// Yes/No with the question icon; true for Yes.
bool AskYesNo(QWidget* parent, const QString& text);
// Yes/No without an icon; true for Yes.
bool AskYesNoPlain(QWidget* parent, const QString& text);
// Says that the settings could not be written to the file given: a change would be gone at the
// next start without a word.
void ShowSettingsNotSaved(QWidget* parent, const QString& settingsFile);

// Where message boxes go instead of the screen, with the answer a question receives. Automated
// runs install one so that no modal box waits for a person.
using MessageSink = std::function<bool(MessageIcon icon, const QString& text)>;
void SetMessageSink(MessageSink sink);

} // namespace lintbay
