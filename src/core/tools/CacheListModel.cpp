#include "CacheListModel.h"

#include <algorithm>
#include <numeric>

using namespace Qt::StringLiterals;

namespace lintbay {

namespace {

QString cellText(const CacheRow& row, int column)
{
    switch (column) {
    case CacheListModel::UrlColumn:
        return row.text;
    case CacheListModel::TypeColumn:
        return row.type;
    case CacheListModel::SizeColumn:
        return row.size < 0 ? QString() : QString::number(row.size);
    case CacheListModel::FilePathColumn:
        return row.filePath;
    default:
        return {};
    }
}

} // namespace

CacheListModel::CacheListModel(QObject* parent) : QAbstractTableModel(parent) {}

int CacheListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int CacheListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant CacheListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    const CacheRow& row = m_rows.at(index.row());
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return cellText(row, index.column());
    if (role == SizeRole)
        return row.size;
    if (role == Qt::TextAlignmentRole && index.column() == SizeColumn)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant CacheListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const QStringList headers{u"URL"_s, u"TYPE"_s, u"SIZE(Byte)"_s, u"FilePath"_s};
    return headers.value(section);
}

Qt::ItemFlags CacheListModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void CacheListModel::setRows(const QList<CacheRow>& rows)
{
    beginResetModel();
    m_rows = rows;
    endResetModel();
}

void CacheListModel::appendRows(const QList<CacheRow>& rows)
{
    if (rows.isEmpty())
        return;
    beginInsertRows({}, int(m_rows.size()), int(m_rows.size() + rows.size() - 1));
    m_rows.append(rows);
    endInsertRows();
}

void CacheListModel::clear()
{
    setRows({});
}

Qt::SortOrder CacheListModel::sortByColumn(int column)
{
    if (column < 0 || column >= ColumnCount)
        return m_sortOrder;
    m_sortColumn = column;
    m_sortOrder = m_sortOrder == Qt::DescendingOrder ? Qt::AscendingOrder : Qt::DescendingOrder;

    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    QList<int> order(m_rows.size());
    std::iota(order.begin(), order.end(), 0);
    const bool descending = m_sortOrder == Qt::DescendingOrder;
    auto less = [this, column](int a, int b) {
        const CacheRow& x = m_rows.at(a);
        const CacheRow& y = m_rows.at(b);
        if (column == SizeColumn)
            return x.size < y.size;
        return cellText(x, column).compare(cellText(y, column), Qt::CaseInsensitive) < 0;
    };
    std::stable_sort(order.begin(), order.end(),
                     [&](int a, int b) { return descending ? less(b, a) : less(a, b); });

    QList<CacheRow> sorted;
    sorted.reserve(m_rows.size());
    QList<int> newRowOf(m_rows.size());
    for (int i = 0; i < order.size(); ++i) {
        sorted.append(m_rows.at(order[i]));
        newRowOf[order[i]] = i;
    }
    const QModelIndexList oldIndexes = persistentIndexList();
    QModelIndexList newIndexes;
    newIndexes.reserve(oldIndexes.size());
    for (const QModelIndex& old : oldIndexes)
        newIndexes.append(index(newRowOf.value(old.row()), old.column()));
    m_rows = std::move(sorted);
    changePersistentIndexList(oldIndexes, newIndexes);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
    return m_sortOrder;
}

TextTableModel::TextTableModel(const QStringList& headers, QObject* parent)
    : QAbstractTableModel(parent), m_headers(headers)
{
}

int TextTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int TextTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_headers.size());
}

QVariant TextTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= m_rows.size() ||
        (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    return m_rows.at(index.row()).value(index.column());
}

QVariant TextTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    return m_headers.value(section);
}

void TextTableModel::setRows(const QList<QStringList>& rows)
{
    beginResetModel();
    m_rows = rows;
    endResetModel();
}

} // namespace lintbay
