#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace lintbay {

// File name dialogs and the input box. Each returns an empty text when the user cancels.
// `filter` is a dialog filter such as "*.txt"; the default suffix is added to a name without one.
QString GetSaveFileName(QWidget* parent, const QString& filter, const QString& defaultSuffix);
// An open-file dialog, for a file that is there (to read it; a file to write is named in the save
// dialog, which asks before replacing one).
QString GetOpenFileName(QWidget* parent, const QString& filter, const QString& defaultSuffix);
QString InputBox(QWidget* parent, const QString& prompt);

// Automated runs answer these without a person: the picker receives what the dialog would show
// (the prompt or the filter) and returns the answer. An empty function restores the dialogs.
using AnswerPicker = std::function<QString(const QString& what)>;
void SetFileNamePicker(AnswerPicker picker);
void SetInputPicker(AnswerPicker picker);

} // namespace lintbay
