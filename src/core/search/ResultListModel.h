#pragma once

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

namespace lintbay {

// One entry of the search window's result list.
struct SearchResult
{
    QString title;
    QString type;       // "PDF", "doc", "xls", "ppt", "rtf" or empty
    QString status;     // empty, "成功" or "分析失败"
    QString saveFolder; // empty: chosen when the row is handed over
    QString key;        // the engine's redirect link, unique in the list
    QString tag;        // the address of the result page the row came from
};

// The result list: rows in insertion order, unique by key, never sorted, titles not editable.
// Every operation that touches many rows signals the view once per contiguous block (or resets it),
// so lists of a hundred thousand rows stay responsive.
class ResultListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column
    {
        TitleColumn,
        TypeColumn,
        StatusColumn,
        SaveFolderColumn,
        ColumnCount
    };
    enum Role
    {
        KeyRole = Qt::UserRole + 1,
        TagRole
    };

    static QString statusDone();   // "成功"
    static QString statusFailed(); // "分析失败"

    using RowPredicate = std::function<bool(const SearchResult&)>;

    explicit ResultListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool removeRows(int row, int count, const QModelIndex& parent = {}) override;

    // Appends a row keyed by the link. Returns false and changes nothing when the link is already a
    // key of the list (or empty).
    bool 加入LV1(const QString& title, const QString& link, const QString& pageUrl, const QString& type,
                 const QString& saveFolder);
    // Appends every result whose key is new (duplicates inside the batch count once), as one
    // insertion. Returns the number of rows added.
    int addResults(const QList<SearchResult>& results);

    int count() const { return int(m_rows.size()); }
    bool isEmpty() const { return m_rows.isEmpty(); }
    const SearchResult& at(int row) const { return m_rows.at(row); }
    const QList<SearchResult>& rows() const { return m_rows; }
    bool containsKey(const QString& key) const { return m_rowOfKey.contains(key); }
    int rowOfKey(const QString& key) const { return m_rowOfKey.value(key, -1); }

    void setStatus(int row, const QString& status);

    // Removals return the number of rows removed.
    int removeIf(const RowPredicate& matches);
    int removeRowsAt(const QList<int>& rows); // e.g. the view's selected rows; out-of-range rows are ignored
    int removeWithStatus(const QString& status);
    // Title rules, ignoring case. An empty text matches nothing: removing every row (or none) on an
    // empty answer would be a surprise, so the rule has no effect.
    int removeTitleContaining(const QString& text);
    int removeTitleNotContaining(const QString& text);
    void clear();

    // Rows (ascending) whose entry satisfies the predicate; the view selects them.
    QList<int> rowsMatching(const RowPredicate& matches) const;
    QList<int> rowsWithKana() const;
    QList<int> rowsWithTraditional() const;

    // Replaces every title by its Simplified form; keys, types, statuses and folders stay.
    // Returns the number of titles that changed.
    int convertAllToSimplified();

    // All titles in list order, for the export.
    QStringList titles() const;

private:
    int removeMarked(const QList<bool>& marked);
    void reindexFrom(int firstRow);

    QList<SearchResult> m_rows;
    QHash<QString, int> m_rowOfKey;
};

} // namespace lintbay
