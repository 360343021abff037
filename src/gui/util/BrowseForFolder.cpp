#include "BrowseForFolder.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>

namespace lintbay {

namespace {

FolderPicker& folderPicker()
{
    static FolderPicker picker;
    return picker;
}

QString startFolder(const QString& startPath)
{
    if (startPath.isEmpty())
        return QDir::homePath();
    if (QFileInfo(startPath).isDir())
        return startPath;
    // A file, or a folder that is gone: try the folder that holds it.
    const QString parent = QFileInfo(startPath).absolutePath();
    return QFileInfo(parent).isDir() ? parent : QDir::homePath();
}

QString withSeparator(const QString& path)
{
    const QString native = QDir::toNativeSeparators(path);
    if (native.isEmpty() || native.endsWith(QDir::separator()))
        return native;
    return native + QDir::separator();
}

} // namespace

void SetFolderPicker(FolderPicker picker)
{
    folderPicker() = std::move(picker);
}

QString BrowseForFolder(QWidget* owner, const QString& startPath, const QString& title, bool includeFiles)
{
    const QString start = startPath.trimmed();
    const QString folder = startFolder(start);
    QString chosen;
    if (folderPicker()) {
        chosen = folderPicker()(owner, folder, title, includeFiles);
    } else {
        QFileDialog::Options options;
        if (!includeFiles)
            options |= QFileDialog::ShowDirsOnly;
        chosen = QFileDialog::getExistingDirectory(owner, title, folder, options);
    }
    return withSeparator(chosen.isEmpty() ? start : chosen);
}

} // namespace lintbay
