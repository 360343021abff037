#include "download/FileActions.h"

#include "download/ListOperations.h"
#include "download/TypeDetection.h"
#include "util/PathHelpers.h"
#include "util/Wait.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QPointer>

#include <functional>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

// Walks let events run at most this often: the window stays responsive and the view is not redrawn
// row by row.
constexpr int kPumpIntervalMs = 30;

bool validRow(const DownloadListModel& list, int row)
{
    return row >= 0 && row < list.count();
}

FileMessage errorMessage(QStringView text)
{
    return {text.toString(), FileMessageIcon::Error};
}

FileMessage infoMessage(const QString& text)
{
    return {text, FileMessageIcon::Information};
}

bool plainNamePart(const QString& text)
{
    return !text.contains(u'/') && !text.contains(u'\\') && !text.contains(QDir::separator());
}

// A rename may only move the row's own file within its own folder: a name or type carrying a
// separator (or a bare "." / "..") would make the row's path point somewhere else.
bool rowFileStaysInFolder(const DownloadItem& item)
{
    return !item.name.isEmpty() && item.name != u"."_s && item.name != u".."_s && plainNamePart(item.name) &&
           plainNamePart(item.type) && !item.folder.isEmpty() && QDir::isAbsolutePath(item.folder);
}

// Variants of a document that its container does not tell apart from the plain kind (a package's
// folders are the same for a macro-enabled workbook, a template or a slide show): the type the row
// has already is right, and renaming it to the plain kind would make the office program refuse it.
bool isVariantOf(const QString& type, const QString& detected)
{
    static const QHash<QString, QStringList> variants = {
        {u"docx"_s, {u"docm"_s, u"dotx"_s, u"dotm"_s}},
        {u"xlsx"_s, {u"xlsm"_s, u"xltx"_s, u"xltm"_s, u"xlsb"_s, u"xlam"_s}},
        {u"pptx"_s, {u"pptm"_s, u"ppsx"_s, u"ppsm"_s, u"potx"_s, u"potm"_s, u"ppam"_s}},
        {u"doc"_s, {u"dot"_s}},
        {u"xls"_s, {u"xlt"_s, u"xla"_s}},
        {u"ppt"_s, {u"pps"_s, u"pot"_s}},
    };
    return variants.value(detected.toLower()).contains(type);
}

// The type correction on a copy of a row: renames the file and updates Type and Name when the
// content shows another type. True when the file was renamed. Only a finished row has written its
// file: what lies at the path of a row still waiting is the user's or an earlier run's, and the path of
// a failed row, or of one that ended skipped, holds no file of its own either (a failed row's bytes, if
// any, are in a part file), so those are left alone.
bool correctItemFile(DownloadItem& item)
{
    const QString type = item.type.toLower();
    const QString oldPath = item.filePath();
    if (item.state != DownloadItemState::Done || !ownsFileAtPath(item) || !rowFileStaysInFolder(item) ||
        !FileExists(oldPath))
        return false;
    const QString detected = 打开文件判断文件类型(oldPath);
    if (detected.isEmpty() || detected.compare(type, Qt::CaseInsensitive) == 0 ||
        isVariantOf(type, detected) || !plainNamePart(detected))
        return false;

    const QString tail = u'.' + detected;
    // A taken name gets a counter. The rename never replaces what holds the name, nor writes where a
    // link there leads: a name taken between the two calls, or by a link, makes it fail.
    const QString newPath = UniqueFileName(item.folder + item.name + tail);
    if (!newPath.startsWith(item.folder) || !newPath.endsWith(tail) || newPath == oldPath)
        return false;
    if (renameWithoutReplacing(oldPath, newPath))
        return false;
    // The name is read off the new path directly: it is the file's name as created, counter and any
    // shortening included, with nothing trimmed away.
    const QString newName = newPath.mid(item.folder.size()).chopped(tail.size());
    item.type = detected;
    item.name = newName;
    return true;
}

// Visits the rows present when the walk starts, in list order, each on a copy; a visit returns true
// when it changed its copy. Changes are written back in blocks, each block just before events run,
// so row numbers are valid when they are applied. Rows are found again by their ids after events
// ran: a sort, a removal or a changed address in the meantime does not make the walk visit the wrong
// row or pass one over.
void walkRows(DownloadListModel& list, const std::function<bool(DownloadItem& item)>& visit)
{
    QList<quint64> ids;
    ids.reserve(list.count());
    for (int row = 0; row < list.count(); ++row)
        ids.append(list.idOf(row));

    QPointer<DownloadListModel> guard(&list);
    QHash<int, DownloadItem> pending;
    auto flush = [&] {
        if (pending.isEmpty())
            return;
        guard->editRows(pending.keys(), [&pending](int row, DownloadItem& item) {
            item = pending.value(row);
            return true;
        });
        pending.clear();
    };

    QElapsedTimer sincePump;
    sincePump.start();
    for (const quint64 id : std::as_const(ids)) {
        const int row = guard->rowOfId(id);
        if (row < 0)
            continue;
        DownloadItem item = guard->at(row);
        if (visit(item))
            pending.insert(row, item);
        if (sincePump.elapsed() >= kPumpIntervalMs) {
            flush();
            pumpEvents();
            if (!guard) // the window and its list went away while events ran
                return;
            sincePump.restart();
        }
    }
    flush();
}

} // namespace

FileAction OpenOrRetry(DownloadListModel& list, int currentRow)
{
    if (!validRow(list, currentRow))
        return {};
    const DownloadItem& item = list.at(currentRow);
    const QString path = item.filePath();
    switch (item.state) {
    case DownloadItemState::Done:
        if (FileExists(path))
            return {FileActionKind::OpenFile, path, {}};
        return {FileActionKind::None, {}, errorMessage(kFileMissingText)};
    case DownloadItemState::Failed:
        // Whatever lies at the path is not this row's (see DeleteItemFile): it stays.
        list.editRows({currentRow}, [](int, DownloadItem& row) {
            row.state = DownloadItemState::Waiting;
            row.size.clear();
            row.received.clear();
            row.progress.clear();
            row.reason.clear();
            return true;
        });
        return {FileActionKind::Requeued, {}, {}};
    case DownloadItemState::Waiting:
    case DownloadItemState::Downloading:
        break;
    }
    return {};
}

QString ShowRowPath(const DownloadListModel& list, int row)
{
    if (!validRow(list, row))
        return {};
    const QString path = list.at(row).filePath();
    return FileExists(path) ? path : QString();
}

FileAction OpenDownloadedFile(const DownloadListModel& list, int currentRow)
{
    if (!validRow(list, currentRow))
        return {};
    const QString path = list.at(currentRow).filePath();
    if (!FileExists(path))
        return {FileActionKind::None, {}, errorMessage(kThisFileMissingText)};
    return {FileActionKind::OpenFile, path, {}};
}

FileAction OpenContainingFolder(const DownloadListModel& list, int currentRow)
{
    if (!validRow(list, currentRow))
        return {};
    const DownloadItem& item = list.at(currentRow);
    if (!FolderExists(item.folder))
        return {FileActionKind::None, {}, errorMessage(kFolderMissingText)};
    const QString path = item.filePath();
    if (FileExists(path))
        return {FileActionKind::ShowInFolder, path, {}};
    return {FileActionKind::OpenFolder, item.folder, {}};
}

FileAction OpenInTextEditor(const DownloadListModel& list, int currentRow)
{
    if (!validRow(list, currentRow))
        return {};
    const QString path = list.at(currentRow).filePath();
    if (!FileExists(path))
        return {FileActionKind::None, {}, errorMessage(kThisFileMissingText)};
    if (QFileInfo(path).size() > kMaxTextEditorBytes)
        return {FileActionKind::None, {}, errorMessage(kTooLargeForEditorText)};
    return {FileActionKind::OpenInTextEditor, path, {}};
}

FileAction OpenRowAddress(const DownloadListModel& list, int currentRow)
{
    if (!validRow(list, currentRow))
        return {};
    const QString address = 选择url(list.at(currentRow).key).trimmed();
    if (address.isEmpty())
        return {};
    return {FileActionKind::OpenInWebBrowser, address, {}};
}

FileCheckResult CheckFilesExist(DownloadListModel& list)
{
    FileCheckResult result;
    walkRows(list, [&result](DownloadItem& item) {
        ++result.checked;
        if (FileExists(item.filePath()))
            return false;
        ++result.missing;
        if (item.progress == kFileMissingWord)
            return false;
        item.progress = kFileMissingWord.toString();
        return true;
    });
    return result;
}

bool CorrectOneRow(DownloadListModel& list, int row)
{
    if (!validRow(list, row))
        return false;
    DownloadItem item = list.at(row);
    if (!correctItemFile(item))
        return false;
    list.editRows({row}, [&item](int, DownloadItem& current) {
        current.type = item.type;
        current.name = item.name;
        return true;
    });
    return true;
}

TypeCorrectionResult CorrectFileTypes(DownloadListModel& list, const DownloadActivity& activity)
{
    if (activity.downloadBusy)
        return {infoMessage(kStopDownloadFirstText.toString()), 0};
    if (list.isEmpty())
        return {};
    int corrected = 0;
    walkRows(list, [&corrected](DownloadItem& item) {
        // The scheduler may be started while events run; a running row's file is the transfer's.
        if (item.state == DownloadItemState::Downloading || !correctItemFile(item))
            return false;
        ++corrected;
        return true;
    });
    QString text = kTypesCorrectedPrefix.toString();
    text += QString::number(corrected);
    text += kTypesCorrectedSuffix;
    return {infoMessage(text), corrected};
}

FileMessage IdentifyChosenFile(const QString& chosenPath)
{
    if (chosenPath.isEmpty())
        return {};
    const QString detected = 打开文件判断文件类型(chosenPath);
    return infoMessage(detected.isEmpty() ? kTypeUnknownText.toString()
                                          : kFileTypeIsText.toString() + detected);
}

} // namespace lintbay
