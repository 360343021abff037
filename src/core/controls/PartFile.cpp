#include "controls/PartFile.h"

#include "util/PathHelpers.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>
#include <QTemporaryFile>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>

#ifdef Q_OS_UNIX
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#elif defined(Q_OS_WIN)
#include <io.h>
#include <windows.h>
#endif

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

// Large enough to keep system calls few, small enough that memory does not depend on the file.
constexpr qint64 kCopyPiece = 256 * 1024;

const QString kPartPrefix = u".lintbay-"_s;
const QString kPartSuffix = u".part"_s;

// Waits until the open file's bytes are on the disk; false (errno set) when the disk refuses them.
bool syncToDisk(int handle)
{
    if (handle < 0)
        return true; // not a file of the system's (nothing to wait for)
#ifdef Q_OS_UNIX
    return ::fsync(handle) == 0;
#elif defined(Q_OS_WIN)
    return ::_commit(handle) == 0;
#else
    return true;
#endif
}

// The system's words for the error in errno (safe on any thread).
QString lastSystemError()
{
    return QString::fromLocal8Bit(std::generic_category().message(errno));
}

// A second handle to the same open file, not handed down to programs the user starts from here
// (an inherited one would keep the file open, or a removed one's space taken, for their lifetime).
int duplicateHandle(int handle)
{
#ifdef Q_OS_UNIX
    return ::fcntl(handle, F_DUPFD_CLOEXEC, 0);
#elif defined(Q_OS_WIN)
    const int copy = ::_dup(handle);
    if (copy >= 0)
        ::SetHandleInformation(reinterpret_cast<HANDLE>(::_get_osfhandle(copy)), HANDLE_FLAG_INHERIT, 0);
    return copy;
#else
    return -1;
#endif
}

void closeHandle(int handle)
{
#ifdef Q_OS_UNIX
    ::close(handle);
#elif defined(Q_OS_WIN)
    ::_close(handle);
#endif
}

} // namespace

PartFile::PartFile(const QString& finalPath) : m_finalPath(finalPath) {}

PartFile::~PartFile()
{
    discard();
}

bool PartFile::open()
{
    discard();
    const QFileInfo target(m_finalPath);
    // A short fixed name: the final name may already use the whole length a file name can have.
    auto file = std::make_unique<QTemporaryFile>(target.absolutePath() + u'/' + kPartPrefix + u"XXXXXX"_s +
                                                 kPartSuffix);
    // Its life is this object's, which may outlast the transfer that made it.
    file->setAutoRemove(false);
    if (!file->open()) {
        m_error = file->errorString();
        return false;
    }
    m_partPath = file->fileName();
    m_file = std::move(file);
    m_size = 0;
    m_writeFailed = false;
    m_hash.reset();
    m_digest.clear();
    return true;
}

bool PartFile::isPartFile(const QString& path)
{
    const QFileInfo info(path);
    const QString name = info.fileName();
    return name.startsWith(kPartPrefix) && name.endsWith(kPartSuffix) && !info.isSymLink() && info.isFile();
}

bool PartFile::adopt(const QString& partPath)
{
    discard();
    if (!isPartFile(partPath) || QFileInfo(partPath).size() <= 0)
        return false;
    QFile file(partPath);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    // A part left by a run that did not end: after a power cut some file systems keep the length the
    // file had reached but not its last data, which reads back as zeros. Trailing zeros are fetched
    // again rather than trusted.
    constexpr qint64 kBlock = 64 * 1024;
    qint64 kept = file.size();
    while (kept > 0) {
        const qint64 from = std::max<qint64>(0, kept - kBlock);
        QByteArray block;
        if (!file.seek(from) || (block = file.read(kept - from)).size() != kept - from)
            return false;
        qsizetype end = block.size();
        while (end > 0 && block[end - 1] == '\0')
            --end;
        kept = from + end;
        if (end > 0)
            break;
    }
    if (kept == 0 || (kept < file.size() && !file.resize(kept)) || !file.seek(0))
        return false;
    m_hash.reset();
    if (!m_hash.addData(&file)) {
        m_hash.reset();
        return false;
    }
    m_partPath = QFileInfo(partPath).absoluteFilePath();
    m_size = kept;
    m_writeFailed = false;
    m_digest.clear();
    return true;
}

bool PartFile::isOpen() const
{
    return m_file && m_file->isOpen();
}

bool PartFile::suspend()
{
    if (!isOpen())
        return false;
    const bool kept = !m_writeFailed && m_file->flush();
    m_file->close();
    m_file.reset();
    if (!kept)
        discard();
    return kept;
}

bool PartFile::reopen()
{
    if (isOpen())
        return true;
    if (m_partPath.isEmpty())
        return false;
    auto file = std::make_unique<QFile>(m_partPath);
    // Only the file this object left: a link put in its place is not followed.
    const QFileInfo info(m_partPath);
    if (info.isSymLink() || !info.isFile() || info.size() != m_size || !file->open(QIODevice::ReadWrite) ||
        !file->seek(m_size)) {
        m_error = file->errorString();
        discard();
        return false;
    }
    m_file = std::move(file);
    return true;
}

bool PartFile::write(const char* data, qint64 size)
{
    if (!isOpen() || m_writeFailed)
        return false;
    if (m_file->write(data, size) != size) {
        m_error = m_file->errorString();
        m_writeFailed = true;
        return false;
    }
    m_hash.addData(QByteArrayView(data, size));
    m_size += size;
    m_synced = false;
    return true;
}

bool PartFile::drain(QIODevice* source, qint64 limit)
{
    QByteArray buffer;
    for (qint64 moved = 0; limit < 0 || moved < limit;) {
        qint64 available = source->bytesAvailable();
        if (available <= 0)
            return !m_writeFailed;
        if (limit >= 0)
            available = qMin(available, limit - moved);
        buffer.resize(qMin(available, kCopyPiece));
        const qint64 n = source->read(buffer.data(), buffer.size());
        if (n <= 0)
            return !m_writeFailed;
        if (!write(buffer.constData(), n))
            return false;
        moved += n;
    }
    return !m_writeFailed;
}

QByteArray PartFile::readSpan(qint64 from, qint64 count)
{
    if (!isOpen() || !m_file->flush() || !m_file->seek(from))
        return {};
    const QByteArray bytes = m_file->read(count);
    m_file->seek(m_size);
    return bytes;
}

QByteArray PartFile::tail(qint64 max)
{
    const qint64 from = qMax<qint64>(0, m_size - max);
    return readSpan(from, m_size - from);
}

QByteArray PartFile::head(qint64 max)
{
    return readSpan(0, qMin(max, m_size));
}

bool PartFile::truncate()
{
    if (!isOpen())
        return false;
    m_size = 0;
    m_writeFailed = false;
    m_synced = false;
    m_hash.reset();
    if (m_file->resize(0) && m_file->seek(0))
        return true;
    m_error = m_file->errorString();
    return false;
}

bool PartFile::writtenOut()
{
    if (isOpen() && !m_writeFailed && m_file->flush())
        return true;
    if (isOpen() && !m_writeFailed)
        m_error = m_file->errorString();
    discard();
    return false;
}

int PartFile::handleToSync()
{
    if (!writtenOut())
        return -1;
    const int handle = duplicateHandle(m_file->handle());
    if (handle < 0) {
        m_error = lastSystemError();
        discard();
    }
    return handle;
}

QString PartFile::syncAndClose(int handle)
{
    const bool synced = syncToDisk(handle);
    const QString error = synced ? QString() : lastSystemError();
    closeHandle(handle);
    return error;
}

bool PartFile::prepareCommit(bool replacing)
{
    m_takenAtCommit = false;
    if (!writtenOut())
        return false;
    // On the disk before it takes the document's name: after a crash or a power cut, the name never
    // stands for a file whose bytes were still in memory. A disk that fails only now (full, with
    // space taken when the bytes are written out) fails the commit rather than passing for done.
    if (!m_synced && !syncToDisk(m_file->handle())) {
        m_error = lastSystemError();
        discard();
        return false;
    }
    m_file->close();
    if (m_file->error() != QFileDevice::NoError) {
        m_error = m_file->errorString();
        discard();
        return false;
    }
    if (replacing && targetKind(m_finalPath) == TargetKind::Irreplaceable) {
        m_error = u"保存位置上已有无法替换的项目"_s;
        discard();
        return false;
    }
    // The part file was private to the transfer; the document gets the permissions any new file of
    // the user gets (the umask decides, as for a file the user saves himself).
#ifdef Q_OS_UNIX
    std::error_code error;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    std::filesystem::permissions(toFsPath(m_partPath), static_cast<std::filesystem::perms>(0666 & ~mask),
                                 std::filesystem::perm_options::replace, error);
#endif
    return true;
}

bool PartFile::committed()
{
    m_digest = m_hash.result();
    m_file.reset();
    m_partPath.clear();
    return true;
}

bool PartFile::commit(QByteArrayView ownPlaceholder)
{
    if (!prepareCommit(true))
        return false;
    if (!ownPlaceholder.isEmpty())
        removeIfHolding(m_finalPath, ownPlaceholder);
    // One step: the target is either the old file or the complete new one. A link at the target is
    // itself replaced; its destination is never written.
    std::error_code error;
    std::filesystem::rename(toFsPath(m_partPath), toFsPath(m_finalPath), error);
    if (error) {
        m_error = QString::fromLocal8Bit(error.message());
        discard();
        return false;
    }
    return committed();
}

bool PartFile::commitBeside(const std::function<QString(const QString& taken)>& elsewhere)
{
    // Whatever stands at the target (a folder too) only makes the move fail as taken.
    if (!prepareCommit(false))
        return false;
    for (int attempt = 0;; ++attempt) {
        const std::error_code error = renameWithoutReplacing(m_partPath, m_finalPath);
        if (!error)
            break;
        const bool taken = error == std::errc::file_exists;
        const QString next = taken && attempt < 16 && elsewhere ? elsewhere(m_finalPath) : QString();
        if (next.isEmpty() || next == m_finalPath) {
            m_takenAtCommit = taken;
            m_error = QString::fromLocal8Bit(error.message());
            discard();
            return false;
        }
        m_finalPath = next;
    }
    return committed();
}

void PartFile::discard()
{
    if (m_file)
        m_file->close();
    m_file.reset();
    if (!m_partPath.isEmpty())
        QFile::remove(m_partPath);
    m_partPath.clear();
    m_size = 0;
    m_synced = false;
}

QByteArray PartFile::digest() const
{
    return m_digest;
}

bool removeIfHolding(const QString& path, QByteArrayView bytes)
{
    const QFileInfo info(path);
    if (info.isSymLink() || !info.isFile() || info.size() != bytes.size())
        return false;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.readAll() != bytes)
        return false;
    file.close();
    return file.remove();
}

TargetKind targetKind(const QString& path)
{
    std::error_code error;
    const auto status = std::filesystem::symlink_status(toFsPath(path), error);
    if (error || status.type() == std::filesystem::file_type::not_found)
        return status.type() == std::filesystem::file_type::not_found || !QFileInfo::exists(path)
                   ? TargetKind::Missing
                   : TargetKind::Irreplaceable;
    switch (status.type()) {
    case std::filesystem::file_type::regular:
    case std::filesystem::file_type::symlink:
        return TargetKind::Replaceable;
    default:
        return TargetKind::Irreplaceable;
    }
}

} // namespace lintbay
