#include "download/DownloadListModel.h"

#include "download/CellOrder.h"
#include "util/RowBlocks.h"
#include "util/RunBeside.h"


#include <algorithm>
#include <memory>
#include <numeric>
#include <vector>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

int stateIndex(DownloadItemState state)
{
    const int v = int(state);
    return (v >= 1 && v <= 4) ? v : 0;
}

bool isRightAligned(int column)
{
    return column == DownloadListModel::SizeColumn || column == DownloadListModel::ReceivedColumn ||
           column == DownloadListModel::ProgressColumn;
}

} // namespace

DownloadListModel::DownloadListModel(QObject* parent) : QAbstractTableModel(parent)
{
    const auto reshaped = [this] { ++m_shape; };
    connect(this, &QAbstractItemModel::rowsInserted, this, reshaped);
    connect(this, &QAbstractItemModel::rowsRemoved, this, reshaped);
    connect(this, &QAbstractItemModel::modelReset, this, reshaped);
    connect(this, &QAbstractItemModel::layoutChanged, this, reshaped);
}

int DownloadListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int DownloadListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant DownloadListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const DownloadItem& item = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case NameColumn:
            return item.name;
        case TypeColumn:
            return item.type;
        case SizeColumn:
            return item.size;
        case ReceivedColumn:
            return item.received;
        case ProgressColumn:
            return item.progress;
        case FolderColumn:
            return item.folder;
        case ReasonColumn:
            return item.reason;
        default:
            return {};
        }
    case Qt::ToolTipRole:
        return item.reason.isEmpty() ? QVariant() : QVariant(item.reason);
    case Qt::TextAlignmentRole:
        return int(isRightAligned(index.column()) ? (Qt::AlignRight | Qt::AlignVCenter)
                                                  : (Qt::AlignLeft | Qt::AlignVCenter));
    case StateRole:
        return int(item.state);
    case KeyRole:
        return item.key;
    case RefererRole:
        return item.referer;
    default:
        return {};
    }
}

QVariant DownloadListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= ColumnCount)
        return {};
    if (role == Qt::TextAlignmentRole)
        return int(isRightAligned(section) ? (Qt::AlignRight | Qt::AlignVCenter)
                                           : (Qt::AlignLeft | Qt::AlignVCenter));
    if (role != Qt::DisplayRole)
        return {};
    switch (section) {
    case NameColumn:
        return u"名称"_s;
    case TypeColumn:
        return u"类型"_s;
    case SizeColumn:
        return u"文件大小"_s;
    case ReceivedColumn:
        return u"已下载数"_s;
    case ProgressColumn:
        return u"百分比"_s;
    case FolderColumn:
        return u"保存路径"_s;
    case ReasonColumn:
        return u"原因"_s;
    default:
        return {};
    }
}

Qt::ItemFlags DownloadListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    // Deliberately without Qt::ItemIsEditable: a renamed row would no longer find its file.
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

void DownloadListModel::setDefaultFolder(const QString& folder)
{
    m_defaultFolder = folderWithSeparator(folder);
}

bool DownloadListModel::addItem(const QString& key, const QString& name, const QString& type,
                                const QString& folder, const QString& referer, DownloadItemState state)
{
    DownloadItem item;
    item.key = key;
    item.name = name;
    item.type = type;
    item.folder = folder;
    item.referer = referer;
    item.state = state;
    return addItem(std::move(item));
}

bool DownloadListModel::addItem(DownloadItem item)
{
    if (!acceptsKey(item.key))
        return false;
    item.folder = folderWithSeparator(item.folder.isEmpty() ? m_defaultFolder : item.folder);
    const int row = int(m_rows.size());
    beginInsertRows({}, row, row);
    item.id = ++m_lastId;
    m_rowOfId.insert(item.id, row);
    m_rowOfKey.insert(item.key, row);
    countState(item.state, 1);
    m_rows.append(std::move(item));
    endInsertRows();
    return true;
}

int DownloadListModel::addItems(QList<DownloadItem> items)
{
    // The keys enter the index as they are accepted, which also catches a key repeated in the batch;
    // the rows follow inside the insertion.
    const int first = int(m_rows.size());
    QList<DownloadItem> fresh;
    fresh.reserve(items.size());
    for (DownloadItem& item : items) {
        if (item.key.isEmpty())
            continue;
        const qsizetype keysBefore = m_rowOfKey.size();
        int& row = m_rowOfKey[item.key];
        if (m_rowOfKey.size() == keysBefore)
            continue; // present already
        row = first + int(fresh.size());
        item.id = ++m_lastId;
        m_rowOfId.insert(item.id, row);
        item.folder = folderWithSeparator(item.folder.isEmpty() ? m_defaultFolder : item.folder);
        fresh.append(std::move(item));
    }
    if (fresh.isEmpty())
        return 0;
    beginInsertRows({}, first, first + int(fresh.size()) - 1);
    for (const DownloadItem& item : fresh)
        countState(item.state, 1);
    m_rows.append(std::move(fresh));
    endInsertRows();
    return int(m_rows.size()) - first;
}

int DownloadListModel::rowOfKey(const QString& key) const
{
    const auto it = m_rowOfKey.constFind(key);
    if (it == m_rowOfKey.constEnd())
        return -1;
    if (m_staleFrom >= 0)
        refreshIndex();
    return m_rowOfKey.value(key);
}

int DownloadListModel::rowOfId(quint64 id) const
{
    const auto it = m_rowOfId.constFind(id);
    if (it == m_rowOfId.constEnd())
        return -1;
    if (m_staleFrom >= 0)
        refreshIndex();
    return m_rowOfId.value(id);
}

int DownloadListModel::countInState(DownloadItemState state) const
{
    const int i = stateIndex(state);
    return i == 0 ? 0 : m_stateCounts[i];
}

void DownloadListModel::emitRowsChanged(int firstRow, int lastRow)
{
    emit dataChanged(index(firstRow, 0), index(lastRow, ColumnCount - 1));
}

void DownloadListModel::countState(DownloadItemState state, int delta)
{
    m_stateCounts[stateIndex(state)] += delta;
}

void DownloadListModel::markIndexStaleFrom(int row)
{
    if (row >= m_rows.size())
        return;
    if (m_staleFrom < 0 || row < m_staleFrom)
        m_staleFrom = row;
}

void DownloadListModel::refreshIndex() const
{
    for (qsizetype i = m_staleFrom; i < m_rows.size(); ++i) {
        m_rowOfKey[m_rows.at(i).key] = int(i);
        m_rowOfId[m_rows.at(i).id] = int(i);
    }
    m_staleFrom = -1;
}

void DownloadListModel::setTextField(int row, int column, QString DownloadItem::*field, const QString& value)
{
    if (row < 0 || row >= m_rows.size() || m_rows.at(row).*field == value)
        return;
    m_rows[row].*field = value;
    const QModelIndex cell = index(row, column);
    emit dataChanged(cell, cell, {Qt::DisplayRole});
}

void DownloadListModel::setName(int row, const QString& name)
{
    setTextField(row, NameColumn, &DownloadItem::name, name);
}

void DownloadListModel::setType(int row, const QString& type)
{
    setTextField(row, TypeColumn, &DownloadItem::type, type);
}

void DownloadListModel::setSize(int row, const QString& size)
{
    setTextField(row, SizeColumn, &DownloadItem::size, size);
}

void DownloadListModel::setReceived(int row, const QString& received)
{
    setTextField(row, ReceivedColumn, &DownloadItem::received, received);
}

void DownloadListModel::setProgress(int row, const QString& progress)
{
    setTextField(row, ProgressColumn, &DownloadItem::progress, progress);
}

void DownloadListModel::setTransferColumns(int row, const QString& size, const QString& received,
                                           const QString& progress)
{
    if (row < 0 || row >= m_rows.size())
        return;
    DownloadItem& item = m_rows[row];
    if (item.size == size && item.received == received && item.progress == progress)
        return;
    item.size = size;
    item.received = received;
    item.progress = progress;
    emit dataChanged(index(row, SizeColumn), index(row, ProgressColumn), {Qt::DisplayRole});
}

void DownloadListModel::setFolder(int row, const QString& folder)
{
    setTextField(row, FolderColumn, &DownloadItem::folder, folderWithSeparator(folder));
}

void DownloadListModel::setReason(int row, const QString& reason)
{
    if (row < 0 || row >= m_rows.size() || m_rows.at(row).reason == reason)
        return;
    m_rows[row].reason = reason;
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1), {Qt::DisplayRole, Qt::ToolTipRole});
}

void DownloadListModel::setReferer(int row, const QString& referer)
{
    if (row < 0 || row >= m_rows.size() || m_rows.at(row).referer == referer)
        return;
    m_rows[row].referer = referer;
    const QModelIndex cell = index(row, NameColumn);
    emit dataChanged(cell, cell, {RefererRole});
}

void DownloadListModel::setState(int row, DownloadItemState state)
{
    if (row < 0 || row >= m_rows.size() || m_rows.at(row).state == state)
        return;
    countState(m_rows.at(row).state, -1);
    countState(state, 1);
    m_rows[row].state = state;
    const QModelIndex cell = index(row, NameColumn);
    emit dataChanged(cell, cell, {StateRole, Qt::DecorationRole});
}

int DownloadListModel::editRows(const RowEdit& edit)
{
    QList<int> all(m_rows.size());
    std::iota(all.begin(), all.end(), 0);
    return editRows(all, edit);
}

int DownloadListModel::editRows(const QList<int>& rows, const RowEdit& edit)
{
    int changed = 0;
    int first = -1;
    int last = -1;
    for (int row : rows) {
        if (row < 0 || row >= m_rows.size())
            continue;
        DownloadItem& item = m_rows[row];
        const QString key = item.key;
        const quint64 id = item.id;
        const DownloadItemState before = item.state;
        const QString folder = item.folder;
        if (!edit(row, item))
            continue;
        item.key = key;
        item.id = id;
        if (item.folder != folder)
            item.folder = folderWithSeparator(item.folder);
        if (item.state != before) {
            countState(before, -1);
            countState(item.state, 1);
        }
        ++changed;
        first = first < 0 ? row : std::min(first, row);
        last = std::max(last, row);
    }
    if (changed > 0)
        emitRowsChanged(first, last);
    return changed;
}

bool DownloadListModel::removeRows(int row, int count, const QModelIndex& parent)
{
    if (parent.isValid() || row < 0 || count <= 0 || row + count > m_rows.size())
        return false;
    beginRemoveRows({}, row, row + count - 1);
    for (int i = row; i < row + count; ++i) {
        m_rowOfKey.remove(m_rows.at(i).key);
        m_rowOfId.remove(m_rows.at(i).id);
        countState(m_rows.at(i).state, -1);
    }
    m_rows.remove(row, count);
    markIndexStaleFrom(row);
    endRemoveRows();
    return true;
}

int DownloadListModel::removeIf(const RowPredicate& matches)
{
    QList<bool> marked(m_rows.size(), false);
    for (qsizetype i = 0; i < m_rows.size(); ++i)
        marked[i] = matches(m_rows.at(i));
    return removeMarked(marked);
}

int DownloadListModel::removeRowsAt(const QList<int>& rows)
{
    QList<bool> marked(m_rows.size(), false);
    for (int row : rows) {
        if (row >= 0 && row < m_rows.size())
            marked[row] = true;
    }
    return removeMarked(marked);
}

int DownloadListModel::removeInState(DownloadItemState state)
{
    return removeIf([state](const DownloadItem& item) { return item.state == state; });
}

void DownloadListModel::clear()
{
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    m_rowOfKey.clear();
    m_rowOfId.clear();
    m_staleFrom = -1;
    m_stateCounts.fill(0);
    endResetModel();
}

int DownloadListModel::removeMarked(const QList<bool>& marked)
{
    int removed = 0;
    const QList<RowBlock> blocks = MarkedBlocks(marked, &removed);
    if (blocks.isEmpty())
        return 0;

    if (blocks.size() <= kMaxRemovalBlocks) {
        // From the back, so the row numbers of the blocks still to come stay valid.
        for (qsizetype b = blocks.size() - 1; b >= 0; --b)
            removeRows(blocks.at(b).first, blocks.at(b).last - blocks.at(b).first + 1);
        return removed;
    }

    beginResetModel();
    // Kept rows move up in place; the removed ones end at the back and go in one step.
    qsizetype kept = blocks.first().first;
    for (qsizetype i = kept; i < m_rows.size(); ++i) {
        if (marked.at(i)) {
            m_rowOfKey.remove(m_rows.at(i).key);
            m_rowOfId.remove(m_rows.at(i).id);
            countState(m_rows.at(i).state, -1);
        } else {
            std::swap(m_rows[kept++], m_rows[i]);
        }
    }
    m_rows.resize(kept);
    markIndexStaleFrom(blocks.first().first);
    endResetModel();
    return removed;
}

QList<int> DownloadListModel::rowsMatching(const RowPredicate& matches) const
{
    QList<int> rows;
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        if (matches(m_rows.at(i)))
            rows.append(int(i));
    }
    return rows;
}

QList<int> DownloadListModel::rowsInState(DownloadItemState state) const
{
    return rowsMatching([state](const DownloadItem& item) { return item.state == state; });
}

void DownloadListModel::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= ColumnCount)
        return;
    m_sortColumn = column;
    m_sortOrder = order;
    dropPendingSort();
    if (m_rows.size() >= m_backgroundSortRows && m_backgroundSortRows > 0) {
        sortInBackground();
        return;
    }
    if (m_rows.size() >= 2)
        applyPermutation(sortedOrder(m_rows, column, order));
    emit sorted();
}

void DownloadListModel::sortInBackground()
{
    m_shapeSorted = m_shape;
    // The worker reads its own copy of the rows (shared until the window changes one).
    const auto work = [rows = m_rows, column = m_sortColumn, order = m_sortOrder]() mutable {
        QList<int> result = sortedOrder(rows, column, order);
        rows = {}; // given back before the window takes the order
        return result;
    };
    m_sortWatcher = runBeside(this, work, [this](const QList<int>& order) {
        m_sortWatcher = nullptr;
        // Rows came or went meanwhile: the order was worked out for another list.
        if (m_shapeSorted != m_shape || order.size() != m_rows.size()) {
            sort(m_sortColumn, m_sortOrder);
            return;
        }
        applyPermutation(order);
        emit sorted();
    });
}

void DownloadListModel::dropPendingSort()
{
    // A later request for an order replaces one still being worked out.
    if (!m_sortWatcher)
        return;
    m_sortWatcher->disconnect(this);
    m_sortWatcher->deleteLater();
    m_sortWatcher = nullptr;
}

void DownloadListModel::shuffle(QRandomGenerator& generator)
{
    dropPendingSort();
    if (m_rows.size() < 2)
        return;
    QList<int> order(m_rows.size());
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), generator);
    applyPermutation(order);
}

void DownloadListModel::applyPermutation(const QList<int>& order)
{
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const qsizetype n = m_rows.size();
    QList<int> newRowOf(n);
    for (qsizetype newRow = 0; newRow < n; ++newRow)
        newRowOf[order.at(newRow)] = int(newRow);
    // In place, one cycle of the permutation after the other: no second list of rows.
    DownloadItem* rows = m_rows.data();
    std::vector<bool> placed(n, false);
    for (qsizetype start = 0; start < n; ++start) {
        if (placed[start])
            continue;
        DownloadItem first = std::move(rows[start]);
        qsizetype at = start;
        for (;;) {
            placed[at] = true;
            const qsizetype from = order.at(at);
            if (from == start) {
                rows[at] = std::move(first);
                break;
            }
            rows[at] = std::move(rows[from]);
            at = from;
        }
    }
    markIndexStaleFrom(0);

    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& old : before)
        after.append(index(newRowOf.at(old.row()), old.column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

} // namespace lintbay
