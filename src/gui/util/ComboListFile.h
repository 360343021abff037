#pragma once

#include <QString>

class QComboBox;

namespace lintbay {

// Fills the combo box's list from a folder history file (see LoadFolderHistory); a missing file
// leaves the combo box as it is.
void LoadComboListFile(QComboBox* combo, const QString& path);
// Writes every entry of the combo box's list to the file, in list order.
bool SaveComboListFile(QComboBox* combo, const QString& path);

} // namespace lintbay
