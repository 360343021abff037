#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace lintbay {

enum class MessageIcon { Information, Error, Question };

// Message boxes of the program: the application title as caption, the icon the text calls for.
void ShowInfo(QWidget* parent, const QString& text);
void ShowError(QWidget* parent, const QString& text);
// Yes/No with the question icon; true for Yes.
bool AskYesNo(QWidget* parent, const QString& text);

// Where message boxes go instead of the screen, with the answer a question receives. Automated
// runs install one so that no modal box waits for a person.
using MessageSink = std::function<bool(MessageIcon icon, const QString& text)>;
void SetMessageSink(MessageSink sink);

} // namespace lintbay
