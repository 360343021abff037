#pragma once

#include "controls/Fetch.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>
#include <unordered_map>

namespace lintbay {

class DownloadListModel;

// What the download list keeps of its rows' files between transfers, by row id:
// - the body a transfer left when it did not end well: a hidden part file in the row's folder, with
//   what tells whether the server still has the same document, for the row's next attempt to go on
//   with;
// - the digest of each row's finished file, so that one document reached under two titles is told.
// A row that leaves the list (removed, or the list cleared) takes its part file and its digest
// along; the part files still kept go when this object does, or when dropAllParts() is called.
// It also knows where the body of each running transfer that could be continued lies (noteRunning),
// so that the journal can keep it for a start after a crash (noteOf, partChanged).
class RowFiles : public QObject
{
    Q_OBJECT
public:
    explicit RowFiles(DownloadListModel& list, QObject* parent = nullptr);
    ~RowFiles() override;

    // Keeps the row's body for its next attempt; one kept before for the row goes. Null: none now.
    void keepPart(quint64 id, std::unique_ptr<ResumePoint> point);
    // The row's body, for a transfer into `folder` (a body stays beside its file: one kept in another
    // folder is removed). Null when there is none.
    std::unique_ptr<ResumePoint> takePart(quint64 id, const QString& folder);
    // The hidden file holding the row's body; empty when none is kept.
    QString partPath(quint64 id) const;
    void dropPart(quint64 id);
    void dropAllParts();
    // The body a transfer of the row is taking now, as its fetch describes it (null: none that a
    // later attempt could go on with).
    void noteRunning(quint64 id, const ResumeNote& note);
    // Where the row's body lies, kept or being taken; null when nowhere.
    ResumeNote noteOf(quint64 id) const;
    // A body a crashed run left for a row, where the note says, and the row's folder.
    struct LeftPart
    {
        quint64 id = 0;
        ResumeNote note;
        QString folder;
    };
    // Takes over for the rows the bodies a crashed run left (see ResumePoint::adopt), each when it
    // lies in its row's folder. They are read for their digests beside the window, which takes as
    // long as the disk needs for all their bytes; meanwhile noteOf() tells the notes and
    // isAdopting() holds. A part that cannot be taken, or whose row is gone, finished or had its part
    // dropped by then, has its file removed.
    void adoptParts(const QList<LeftPart>& parts);
    bool isAdopting() const { return !m_adopting.isEmpty(); }

    // A row's file is finished: its digest is recorded, and the answer is the ids of the first few
    // finished rows whose files had the same digest and are still there, first finished first (never
    // a row whose file is this very file). A digest is no proof: the files are to be compared.
    QList<quint64> noteFinished(quint64 id, const QByteArray& digest);
    void forgetDigest(quint64 id);
    QByteArray digestOf(quint64 id) const { return m_digestOf.value(id); }

signals:
    // What noteOf(id) says may have changed.
    void partChanged(quint64 id);

private:
    void dropRowsGone();
    static bool liesIn(const QString& partPath, const QString& folder);

    DownloadListModel& m_list;
    std::unordered_map<quint64, std::unique_ptr<ResumePoint>> m_parts;
    QHash<quint64, ResumeNote> m_running;
    QHash<quint64, ResumeNote> m_adopting; // left parts being read, of rows that still want them
    QHash<quint64, QByteArray> m_digestOf;
    QHash<QByteArray, QList<quint64>> m_rowsOfDigest; // in the order the rows finished
};

} // namespace lintbay
