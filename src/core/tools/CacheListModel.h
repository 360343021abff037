#pragma once

#include "tools/CacheListing.h"

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>

namespace lintbay {

// The cache viewer's list (`ListView1`): "URL", "TYPE", "SIZE(Byte)", "FilePath". Not editable.
// Sorting happens once per header click; rows added later are not kept in order.
class CacheListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column
    {
        UrlColumn,
        TypeColumn,
        SizeColumn,
        FilePathColumn,
        ColumnCount
    };
    // The size as a number (qint64, -1 without a file).
    static constexpr int SizeRole = Qt::UserRole + 1;

    explicit CacheListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    void setRows(const QList<CacheRow>& rows);
    void appendRows(const QList<CacheRow>& rows);
    void clear();
    int count() const { return int(m_rows.size()); }
    const CacheRow& at(int row) const { return m_rows.at(row); }
    const QList<CacheRow>& rows() const { return m_rows; }

    // A header click: the clicked column becomes the sort key and the order flips (descending
    // becomes ascending, anything else descending; the list starts out ascending, so the first
    // click sorts descending). Sizes compare as numbers, a row without a file below every size;
    // other columns as text ignoring case. Returns the order used.
    Qt::SortOrder sortByColumn(int column);
    int sortColumn() const { return m_sortColumn; }
    Qt::SortOrder sortOrder() const { return m_sortOrder; }

private:
    QList<CacheRow> m_rows;
    int m_sortColumn = UrlColumn;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
};

// A small read-only table of texts with fixed headers (the profiles and folders lists).
class TextTableModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    explicit TextTableModel(const QStringList& headers, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    void setRows(const QList<QStringList>& rows);
    const QList<QStringList>& rows() const { return m_rows; }

private:
    QStringList m_headers;
    QList<QStringList> m_rows;
};

} // namespace lintbay
