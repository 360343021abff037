#include "FolderHistory.h"

#include "PathHelpers.h"
#include "TextFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

QString& programFolderOverride()
{
    static QString folder;
    return folder;
}

// Two lines name one folder when the file system would take them for one: ignoring case where
// names are matched so, exactly here (the copy dialog tells its folders apart the same way).
bool containsFolder(const QStringList& list, const QString& text)
{
    return list.contains(text, kPathCase);
}

} // namespace

QString InstalledMarker()
{
    return QString::fromUtf8(LINTBAY_INSTALLED_MARKER);
}

QString ProgramDataFolderFor(const QString& exeFolder)
{
    // An installed program keeps its files in the user's own data folder, even where it could write
    // beside its executable (run by root, or installed under the user's home): the executable's
    // folder is shared with other programs and owned by the installation.
    const bool installed = !exeFolder.isEmpty() && QFileInfo::exists(QDir(exeFolder).filePath(InstalledMarker()));
    if (!exeFolder.isEmpty() && !installed && QFileInfo(exeFolder).isWritable())
        return QDir::toNativeSeparators(exeFolder);
    return QDir::toNativeSeparators(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation));
}

QString ProgramDataFolder()
{
    if (!programFolderOverride().isEmpty())
        return QDir::toNativeSeparators(programFolderOverride());
    return ProgramDataFolderFor(QCoreApplication::applicationDirPath());
}

void SetProgramDataFolder(const QString& folder)
{
    programFolderOverride() = folder;
}

QString FolderHistoryFile()
{
    return QDir::toNativeSeparators(QDir(ProgramDataFolder()).filePath(u"SaveList.dat"_s));
}

QStringList LoadFolderHistory(const QString& path, const QStringList& current, bool* existed)
{
    const bool exists = QFileInfo::exists(path);
    if (existed)
        *existed = exists;
    if (!exists)
        return current;

    // A file that cannot be read (another user's, after a run with other rights) leaves the list as
    // it was, and SaveFolderHistory will not replace it.
    bool read = false;
    const QStringList lines = readTextLines(path, &read);
    if (!read)
        return current;
    QStringList folders;
    int counted = 0;
    for (const QString& line : lines) {
        const QString folder = line.trimmed();
        if (folder.isEmpty())
            continue;
        if (++counted > kFolderHistoryMaxLines)
            break;
        if (!containsFolder(folders, folder))
            folders.append(folder);
    }
    return folders;
}

bool SaveFolderHistory(const QString& path, const QStringList& folders)
{
    // A history that exists but cannot be read would be lost for good if replaced.
    if (QFile file(path); file.exists() && !file.open(QIODevice::ReadOnly))
        return false;
    const QString folder = QFileInfo(path).absolutePath();
    if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
        return false;
    return writeTextFile(path, folders.isEmpty() ? QStringList{QString()} : folders);
}

} // namespace lintbay
