#pragma once

#include "util/ContentDigest.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <functional>
#include <memory>

class QFile;
class QIODevice;

namespace lintbay {

// A download's body on its way to disk: written under a hidden name in the target's folder and
// moved over the target in one step when complete, so no half-written file ever carries the final
// name, an older file at the target survives a failed transfer, and a symbolic link at the target is
// replaced rather than written through.
//
// A body that broke off may be kept for the next attempt to go on with: suspend() closes the file and
// leaves it on disk, the object remembers where it is, how long it is and the running digest of its
// bytes, and reopen() continues it. The digest is taken as the bytes are written, so a finished
// file is never read again for it.
class PartFile
{
public:
    explicit PartFile(const QString& finalPath);
    ~PartFile(); // removes the part file unless it was committed
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    QString finalPath() const { return m_finalPath; }
    // The document may be named anew before it is complete (an answer decided its type).
    void setFinalPath(const QString& path) { m_finalPath = path; }
    // The hidden file; empty when there is none.
    QString partPath() const { return m_partPath; }

    // Creates a fresh, empty part file; false when the folder is missing or not writable.
    bool open();
    // Takes over a part file an earlier run of the program left (closed, as after suspend()), reading
    // it once for the digest; trailing zero bytes are cut off first. False, with nothing taken,
    // unless `partPath` is a writable plain file named as open() names its files and holds bytes
    // other than zeros.
    bool adopt(const QString& partPath);
    // `path` is a plain file (no link) named as open() names part files.
    static bool isPartFile(const QString& path);
    bool isOpen() const;
    // Closes the part file and leaves it on disk for reopen(). False, and the part removed, when what
    // was written could not all be kept.
    bool suspend();
    // Opens a suspended part again after its last byte. False, and the part removed, when its file is
    // no longer as it was left (gone, or of another length).
    bool reopen();
    // Moves what the device holds now into the file, in pieces (memory stays flat), at most `limit`
    // bytes when one is given. False when the disk refused a write.
    bool drain(QIODevice* source, qint64 limit = -1);
    bool write(const char* data, qint64 size);
    qint64 size() const { return m_size; }
    // The first `max` bytes written so far (the file stays open for more).
    QByteArray head(qint64 max);
    // The last `max` bytes written so far (the file stays open for more).
    QByteArray tail(qint64 max);
    // The system's message for the last operation that failed.
    QString errorString() const { return m_error; }
    // Empties the file for a fresh body.
    bool truncate();
    // The wait until the bytes are on the disk, for a caller that has it done off its own thread before
    // the commit: writes out what is buffered and gives a handle of its own to the file, for
    // syncAndClose() on any thread; a commit after markSynced() does not wait again. -1, and the part
    // removed, when what was written could not all be kept.
    int handleToSync();
    // Waits until the bytes of the file behind `handle` are on the disk, and closes the handle. The
    // system's message when the disk refused them (full, with space taken only now), else empty.
    static QString syncAndClose(int handle);
    // The bytes written so far are on the disk (a syncAndClose() of handleToSync() succeeded).
    void markSynced() { m_synced = true; }
    // Closes the file and puts it in place of the target; false (and nothing left behind) when that
    // cannot be done. A target that is a plain file holding exactly `ownPlaceholder` (the bytes a
    // transfer wrote there to claim the name) is removed first: replacing a file makes some file
    // systems write the whole new file out at once, which for a large download holds the window.
    bool commit(QByteArrayView ownPlaceholder = {});
    // The same, but a file at the target is never replaced: when one stands there (it may have come
    // while the body arrived), `elsewhere` is asked for another target, and the commit fails
    // (takenAtCommit()) when it gives none.
    bool commitBeside(const std::function<QString(const QString& taken)>& elsewhere);
    // The last commit failed because the target was taken and no other was given.
    bool takenAtCommit() const { return m_takenAtCommit; }
    // Removes the part file.
    void discard();
    // The ContentDigest of the committed file (the bytes of every attempt that made it); empty before.
    QByteArray digest() const;

private:
    // `count` bytes from `from` on; the file stays open for more, positioned at its end.
    QByteArray readSpan(qint64 from, qint64 count);
    // What was written is out of this process's buffers; false, and the part removed, when it is not.
    bool writtenOut();
    // Everything of a commit before the file is moved; false (and nothing left) when it cannot go on,
    // or when `replacing` and what stands at the target cannot be replaced.
    bool prepareCommit(bool replacing);
    // After the file was moved into place: its digest kept, the part forgotten. Always true.
    bool committed();

    QString m_finalPath;
    QString m_partPath;
    std::unique_ptr<QFile> m_file;
    qint64 m_size = 0;
    bool m_writeFailed = false;
    bool m_takenAtCommit = false;
    bool m_synced = false; // nothing was written since the bytes were last waited onto the disk
    QString m_error;
    ContentDigest m_hash;
    QByteArray m_digest;
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

// Removes the plain file at `path` (never a link or a folder) when it holds exactly `bytes`, as a
// transfer's own placeholder does. True when it was removed.
bool removeIfHolding(const QString& path, QByteArrayView bytes);

} // namespace lintbay
