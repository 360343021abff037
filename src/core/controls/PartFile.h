#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

class QIODevice;
class QTemporaryFile;

namespace lintbay {

// A download's body on its way to disk: written under a temporary name in the target's folder and
// moved over the target in one step when complete, so no half-written file ever carries the final
// name, an older file at the target survives a failed transfer, and a symbolic link at the target is
// replaced rather than written through.
class PartFile
{
public:
    explicit PartFile(const QString& finalPath);
    ~PartFile(); // discards what was not committed
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    QString finalPath() const { return m_finalPath; }

    // Creates the temporary file; false when the folder is missing or not writable.
    bool open();
    bool isOpen() const;
    // Moves everything the device holds now into the file, in pieces (memory stays flat). False when
    // the disk refused a write.
    bool drain(QIODevice* source);
    bool write(const char* data, qint64 size);
    qint64 size() const { return m_size; }
    // The first `max` bytes written so far (the file stays open for more).
    QByteArray head(qint64 max);
    // The system's message for the last operation that failed.
    QString errorString() const { return m_error; }
    // Empties the file for a fresh body.
    bool truncate();
    // Closes the file and puts it in place of the target; false (and nothing left behind) when that
    // cannot be done.
    bool commit();
    // Removes the temporary file.
    void discard();

private:
    QString m_finalPath;
    std::unique_ptr<QTemporaryFile> m_file;
    qint64 m_size = 0;
    bool m_writeFailed = false;
    QString m_error;
};

// What stands at a path: nothing, something a finished download may replace (a file or a link), or
// something it must not (a folder, a device).
enum class TargetKind
{
    Missing,
    Replaceable,
    Irreplaceable
};
TargetKind targetKind(const QString& path);

} // namespace lintbay
