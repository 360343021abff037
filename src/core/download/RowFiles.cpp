#include "download/RowFiles.h"

#include "controls/PartFile.h"
#include "download/DownloadListModel.h"
#include "util/RunBeside.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <memory>
#include <vector>

namespace lintbay {

namespace {

// How many earlier files with the same digest a finished file is offered for comparison.
constexpr qsizetype kMaxSameDigestCandidates = 8;

} // namespace

RowFiles::RowFiles(DownloadListModel& list, QObject* parent) : QObject(parent), m_list(list)
{
    connect(&m_list, &QAbstractItemModel::rowsRemoved, this, &RowFiles::dropRowsGone);
    connect(&m_list, &QAbstractItemModel::modelReset, this, &RowFiles::dropRowsGone);
}

RowFiles::~RowFiles() = default;

void RowFiles::keepPart(quint64 id, std::unique_ptr<ResumePoint> point)
{
    m_running.remove(id);
    if (point && point->part)
        m_parts[id] = std::move(point);
    else
        m_parts.erase(id);
    emit partChanged(id);
}

bool RowFiles::liesIn(const QString& partPath, const QString& folder)
{
    const QString partFolder = QFileInfo(partPath).absolutePath();
    return !folder.isEmpty() && QDir::cleanPath(partFolder) == QDir::cleanPath(QDir(folder).absolutePath());
}

std::unique_ptr<ResumePoint> RowFiles::takePart(quint64 id, const QString& folder)
{
    const auto it = m_parts.find(id);
    if (it == m_parts.end())
        return nullptr;
    std::unique_ptr<ResumePoint> point = std::move(it->second);
    m_parts.erase(it);
    if (!liesIn(point->partPath(), folder)) {
        point.reset();
        emit partChanged(id);
        return nullptr;
    }
    // Until the transfer says what it streams, the body stays where it was.
    m_running.insert(id, point->note());
    return point;
}

void RowFiles::noteRunning(quint64 id, const ResumeNote& note)
{
    if (note.isNull())
        m_running.remove(id);
    else
        m_running.insert(id, note);
    emit partChanged(id);
}

ResumeNote RowFiles::noteOf(quint64 id) const
{
    const auto it = m_parts.find(id);
    if (it != m_parts.end())
        return it->second->note();
    const auto running = m_running.constFind(id);
    return running != m_running.cend() ? *running : m_adopting.value(id);
}

void RowFiles::adoptParts(const QList<LeftPart>& parts)
{
    QList<ResumeNote> notes;
    QList<quint64> ids;
    for (const LeftPart& left : parts) {
        if (liesIn(left.note.partPath, left.folder)) {
            notes.append(left.note);
            ids.append(left.id);
            m_adopting.insert(left.id, left.note);
        } else if (PartFile::isPartFile(left.note.partPath)) {
            QFile::remove(left.note.partPath);
        }
    }
    if (notes.isEmpty())
        return;
    // One after the other: the parts mostly share a disk. A point not taken removes its file when the
    // last copy of the answer goes.
    using Points = std::vector<std::shared_ptr<ResumePoint>>;
    runBeside(
        this,
        [notes] {
            Points points;
            for (const ResumeNote& note : notes)
                points.push_back(ResumePoint::adopt(note));
            return points;
        },
        [this, notes, ids](const Points& points) {
            for (qsizetype i = 0; i < ids.size(); ++i) {
                const quint64 id = ids.at(i);
                const int row = m_list.rowOfId(id);
                const bool wanted =
                    m_adopting.remove(id) && row >= 0 && m_list.at(row).state != DownloadItemState::Done;
                const std::shared_ptr<ResumePoint> found =
                    i < qsizetype(points.size()) ? points.at(i) : nullptr;
                if (wanted && found) {
                    keepPart(id, std::make_unique<ResumePoint>(std::move(*found)));
                    continue;
                }
                if (!found && PartFile::isPartFile(notes.at(i).partPath))
                    QFile::remove(notes.at(i).partPath);
                if (row >= 0)
                    emit partChanged(id);
            }
        });
}

QString RowFiles::partPath(quint64 id) const
{
    const auto it = m_parts.find(id);
    return it == m_parts.end() ? QString() : it->second->partPath();
}

void RowFiles::dropPart(quint64 id)
{
    const bool kept = m_parts.erase(id) > 0;
    const bool running = m_running.remove(id);
    const bool adopting = m_adopting.remove(id);
    if (kept || running || adopting)
        emit partChanged(id);
}

void RowFiles::dropAllParts()
{
    const QList<quint64> ids = m_running.keys() + m_adopting.keys();
    m_running.clear();
    m_adopting.clear();
    std::vector<quint64> kept;
    for (const auto& [id, point] : m_parts)
        kept.push_back(id);
    m_parts.clear();
    for (quint64 id : ids)
        emit partChanged(id);
    for (quint64 id : kept)
        emit partChanged(id);
}

QList<quint64> RowFiles::noteFinished(quint64 id, const QByteArray& digest)
{
    forgetDigest(id);
    const int row = m_list.rowOfId(id);
    if (digest.isEmpty() || row < 0)
        return {};
    const QFileInfo file(m_list.at(row).filePath());
    QList<quint64> same;
    for (quint64 other : m_rowsOfDigest.value(digest)) {
        const int otherRow = m_list.rowOfId(other);
        if (otherRow < 0 || m_list.at(otherRow).state != DownloadItemState::Done)
            continue;
        // Two rows may name one file (the overwrite policy): it is no copy of itself.
        const QFileInfo otherFile(m_list.at(otherRow).filePath());
        if (otherFile.isFile() && otherFile != file)
            same.append(other);
        // One is compared, the next only when that file has changed since: a few are plenty, and
        // looking at every earlier file made a site that sends one placeholder document for
        // thousands of addresses cost more at each row, on the window's thread.
        if (same.size() == kMaxSameDigestCandidates)
            break;
    }
    m_digestOf.insert(id, digest);
    m_rowsOfDigest[digest].append(id);
    return same;
}

void RowFiles::forgetDigest(quint64 id)
{
    const auto it = m_digestOf.constFind(id);
    if (it == m_digestOf.cend())
        return;
    const auto rows = m_rowsOfDigest.find(*it);
    if (rows != m_rowsOfDigest.end()) {
        rows->removeOne(id);
        if (rows->isEmpty())
            m_rowsOfDigest.erase(rows);
    }
    m_digestOf.erase(it);
}

void RowFiles::dropRowsGone()
{
    for (auto it = m_parts.begin(); it != m_parts.end();) {
        if (m_list.rowOfId(it->first) < 0)
            it = m_parts.erase(it);
        else
            ++it;
    }
    m_running.removeIf([this](const auto& entry) { return m_list.rowOfId(entry.key()) < 0; });
    m_adopting.removeIf([this](const auto& entry) { return m_list.rowOfId(entry.key()) < 0; });
    const QList<quint64> finished = m_digestOf.keys();
    for (quint64 id : finished) {
        if (m_list.rowOfId(id) < 0)
            forgetDigest(id);
    }
}

} // namespace lintbay
