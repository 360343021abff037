#include "CopyRules.h"

#include "util/PathHelpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryFile>

#include <filesystem>
#include <system_error>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

constexpr qint64 kCopyChunk = 4 * 1024 * 1024;
// Past this many counters something else is wrong (a folder that refuses every name).
constexpr int kMaxCounter = 99999;

// A partial copy that is deleted unless it was moved into place.
class PartialCopy
{
public:
    ~PartialCopy()
    {
        if (!m_path.isEmpty())
            QFile::remove(m_path);
    }
    // Writes the copy next to `target`; false when the source cannot be read or the copy written.
    bool write(const QString& source, const QString& target, const CopyWorking& working)
    {
        QFile in(source);
        if (!in.open(QIODevice::ReadOnly))
            return false;
        QTemporaryFile out(QFileInfo(target).absolutePath() + u"/.lintbay-copy-XXXXXX.part"_s);
        if (!out.open())
            return false;
        while (!in.atEnd()) {
            const QByteArray chunk = in.read(kCopyChunk);
            if (chunk.isEmpty() || out.write(chunk) != chunk.size())
                return false; // a read or write error; the temporary file removes itself
            if (working)
                working();
        }
        if (!out.flush())
            return false;
        // Set after the last write, so that the copy carries the source's time as a plain copy
        // does; the same-size-and-time rule depends on it.
        const QFileInfo info(source);
        out.setFileTime(info.lastModified(), QFileDevice::FileModificationTime);
        out.setPermissions(info.permissions() | QFileDevice::WriteOwner | QFileDevice::ReadOwner);
        out.setAutoRemove(false);
        m_path = out.fileName();
        out.close();
        return true;
    }
    // Moves the copy to its final name; a file already there is left alone.
    bool moveNoReplace(const QString& target)
    {
        if (renameWithoutReplacing(m_path, target))
            return false;
        m_path.clear();
        return true;
    }
    // Moves the copy to its final name, replacing what is there in one step (a link there is
    // replaced itself, its target is never written).
    bool moveReplace(const QString& target)
    {
        std::error_code error;
        std::filesystem::rename(toFsPath(m_path), toFsPath(target), error);
        if (error)
            return false;
        m_path.clear();
        return true;
    }

private:
    QString m_path;
};

bool nameTaken(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

QString joinFolder(const QString& folder, const QString& name)
{
    const QString clean = QDir::fromNativeSeparators(folder);
    return QDir::toNativeSeparators(clean.endsWith(u'/') ? clean + name : clean + u'/' + name);
}

} // namespace

SameNameRule SameNameRuleFromIndex(int index)
{
    return index >= 1 && index <= 5 ? static_cast<SameNameRule>(index) : kDefaultSameNameRule;
}

bool CopyFileNoReplace(const QString& source, const QString& target, const CopyWorking& working)
{
    if (nameTaken(target) || !QFileInfo(source).isFile())
        return false;
    PartialCopy copy;
    return copy.write(source, target, working) && copy.moveNoReplace(target);
}

bool CopyFileReplace(const QString& source, const QString& target, const CopyWorking& working)
{
    const QFileInfo targetInfo(target);
    if (!QFileInfo(source).isFile() || (targetInfo.isDir() && !targetInfo.isSymLink()))
        return false;
    PartialCopy copy;
    return copy.write(source, target, working) && copy.moveReplace(target);
}

bool 复制相同文件自动重命名(const QString& source, const QString& targetFolder, QString* written,
                            const CopyWorking& working)
{
    if (written)
        written->clear();
    if (!QFileInfo(source).isFile())
        return false;
    QString extension;
    QString base;
    SplitPath(source, &extension, &base);
    SplitCounterSuffix(base, &base);

    const QString typeTail = extension.isEmpty() ? QString() : u'.' + extension;
    auto nameWith = [&](const QString& counter) {
        const QString tail = counter + typeTail;
        return cutFileName(base, kMaxFileNameBytes - fileNameLength(tail)) + tail;
    };

    QString candidate = joinFolder(targetFolder, nameWith({}));
    for (int counter = 1; counter <= kMaxCounter + 1; ++counter) {
        if (!nameTaken(candidate)) {
            if (CopyFileNoReplace(source, candidate, working)) {
                if (written)
                    *written = candidate;
                return true;
            }
            // Only a name taken while the copy was made is worth another try.
            if (!nameTaken(candidate))
                return false;
        }
        candidate = joinFolder(targetFolder,
                               nameWith(u'[' + QString::number(counter).rightJustified(3, u'0') + u']'));
    }
    return false;
}

bool IsSameFolder(const QString& a, const QString& b)
{
    const QString ca = QFileInfo(a).canonicalFilePath();
    const QString cb = QFileInfo(b).canonicalFilePath();
    if (!ca.isEmpty() && !cb.isEmpty())
        return ca.compare(cb, kPathCase) == 0;
    const QString pa = QDir::cleanPath(QFileInfo(a).absoluteFilePath());
    const QString pb = QDir::cleanPath(QFileInfo(b).absoluteFilePath());
    return pa.compare(pb, kPathCase) == 0;
}

QString CopyTargetName(const QString& source)
{
    QString extension;
    QString base;
    SplitPath(source, &extension, &base);
    return extension.isEmpty() ? base : base + u'.' + extension;
}

CopyResult CopyWithRule(const QString& source, const QString& targetFolder, SameNameRule rule,
                        const CopyWorking& working)
{
    CopyResult result;
    const QFileInfo sourceInfo(source);
    if (!sourceInfo.isFile()) {
        result.outcome = CopyOutcome::Missing;
        return result;
    }
    if (IsSameFolder(SplitPath(source), targetFolder)) {
        result.outcome = CopyOutcome::SkippedSameFolder;
        return result;
    }

    const QString target = joinFolder(targetFolder, CopyTargetName(source));
    auto renamed = [&] {
        result.outcome = 复制相同文件自动重命名(source, targetFolder, &result.target, working)
                             ? CopyOutcome::Renamed
                             : CopyOutcome::Failed;
    };
    auto overwritten = [&] {
        if (CopyFileReplace(source, target, working)) {
            result.outcome = CopyOutcome::Overwritten;
            result.target = target;
        }
    };

    if (!nameTaken(target)) {
        if (CopyFileNoReplace(source, target, working)) {
            result.outcome = CopyOutcome::Copied;
            result.target = target;
        }
        return result;
    }

    const QFileInfo targetInfo(target);
    const bool sameSize = targetInfo.isFile() && targetInfo.size() == sourceInfo.size();
    // Whole seconds: the time a copy carries may lose the finer part on some file systems.
    const bool sameTime =
        targetInfo.lastModified().toSecsSinceEpoch() == sourceInfo.lastModified().toSecsSinceEpoch();
    switch (rule) {
    case SameNameRule::Skip:
        result.outcome = CopyOutcome::SkippedExisting;
        break;
    case SameNameRule::Overwrite:
        overwritten();
        break;
    case SameNameRule::Rename:
        renamed();
        break;
    case SameNameRule::OverwriteIfSameSizeAndTime:
        if (sameSize && sameTime)
            overwritten();
        else
            renamed();
        break;
    case SameNameRule::OverwriteIfSameSize:
        if (sameSize)
            overwritten();
        else
            renamed();
        break;
    }
    return result;
}

QStringList DropMissingFiles(const QStringList& files)
{
    QStringList kept;
    for (const QString& file : files) {
        if (QFileInfo(file).isFile())
            kept.append(file);
    }
    return kept;
}

CopyRunSummary CopyFilesTo(const QStringList& files, const QString& targetFolder, SameNameRule rule,
                           const CopyRunCallbacks& callbacks)
{
    CopyRunSummary summary;
    // The rules are for files that were in the folder before: a file this run wrote is never
    // replaced by a later file of the same name (cache files of different addresses share names).
    QSet<QString> written;
    const auto key = [](const QString& path) {
        return kPathCase == Qt::CaseInsensitive ? QDir::cleanPath(path).toLower() : QDir::cleanPath(path);
    };
    for (qsizetype i = 0; i < files.size(); ++i) {
        if (callbacks.running && !callbacks.running()) {
            summary.stopped = true;
            break;
        }
        if (callbacks.fileStarted)
            callbacks.fileStarted(int(i + 1), CopyTargetName(files[i]));
        const bool wroteThatName = written.contains(key(joinFolder(targetFolder, CopyTargetName(files[i]))));
        const CopyResult result = CopyWithRule(
            files[i], targetFolder, wroteThatName && rule != SameNameRule::Skip ? SameNameRule::Rename : rule,
            callbacks.working);
        if (!result.target.isEmpty())
            written.insert(key(result.target));
        switch (result.outcome) {
        case CopyOutcome::Copied:
        case CopyOutcome::Overwritten:
        case CopyOutcome::Renamed:
            ++summary.copied;
            break;
        case CopyOutcome::SkippedExisting:
        case CopyOutcome::SkippedSameFolder:
            ++summary.skipped;
            break;
        case CopyOutcome::Missing:
        case CopyOutcome::Failed:
            ++summary.failed;
            break;
        }
    }
    return summary;
}

} // namespace lintbay
