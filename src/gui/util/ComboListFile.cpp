#include "ComboListFile.h"

#include "util/FolderHistory.h"

#include <QComboBox>

namespace lintbay {

namespace {
QStringList entries(const QComboBox* combo)
{
    QStringList list;
    list.reserve(combo->count());
    for (int i = 0; i < combo->count(); ++i)
        list.append(combo->itemText(i));
    return list;
}
} // namespace

void LoadComboListFile(QComboBox* combo, const QString& path)
{
    if (!combo)
        return;
    bool existed = false;
    const QStringList folders = LoadFolderHistory(path, entries(combo), &existed);
    if (!existed)
        return;
    combo->clear();
    combo->addItems(folders);
}

bool SaveComboListFile(QComboBox* combo, const QString& path)
{
    if (!combo)
        return false;
    return SaveFolderHistory(path, entries(combo));
}

} // namespace lintbay
