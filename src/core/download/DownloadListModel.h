#pragma once

#include <QAbstractTableModel>
#include <QFutureWatcher>
#include <QHash>
#include <QList>
#include <QRandomGenerator>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>

namespace lintbay {

// Held as the row's state icon index, so the values are fixed.
enum class DownloadItemState
{
    Waiting = 1,
    Downloading = 2,
    Done = 3,
    Failed = 4
};

// One row of the download list.
struct DownloadItem
{
    // The row's identity for as long as it is in the list: given by the list when the row is added,
    // never reused, kept through sorting, shuffling, edits and the removal of other rows. Whatever
    // works on a row over time (a transfer, a file walk) holds this, never a row number.
    quint64 id = 0;
    QString key;      // one to three download addresses joined by "|"; unique in the list
    QString referer;  // the page the link came from; may be empty
    QString name;     // file name without the type
    QString type;     // file type without the dot
    QString size;     // total bytes, a status word, or empty while waiting
    QString received; // bytes so far
    QString progress; // "nn%" or a status word
    QString folder;   // save folder, ends in the native separator
    DownloadItemState state = DownloadItemState::Waiting;
    // Why the row did not end well (failed, a web page, skipped as too large), in plain words; empty
    // while it waits or runs and when it ended well.
    QString reason;

    // Folder + name + "." + type: where the row's file is saved.
    QString filePath() const;
};

// The address a transfer requests: the text before the first "|" (the whole key when there is none).
QString 选择url(const QString& key);
// Rotates the addresses of a key so that a retry requests another one: "a|b" -> "b|a",
// "a|b|c" -> "c|a|b"; any other count comes back unchanged.
QString 对调url(const QString& key);

// A save folder as the list keeps it: native separators, ending in one. An empty folder stays empty.
QString folderWithSeparator(const QString& folder);

// The download list. Rows keep their insertion order until sorted or shuffled; keys are unique and
// found through a hash. Names are not editable in place. Changes to one row signal that row once;
// operations on many rows signal the view once (one block or a reset), never once per row.
class DownloadListModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column
    {
        NameColumn,
        TypeColumn,
        SizeColumn,
        ReceivedColumn,
        ProgressColumn,
        FolderColumn,
        ReasonColumn, // the window hides it until asked
        ColumnCount
    };
    enum Role
    {
        StateRole = Qt::UserRole + 1, // int, DownloadItemState; the view draws the state icon from it
        KeyRole,
        RefererRole
    };

    using RowPredicate = std::function<bool(const DownloadItem&)>;
    // Changes one row in a bulk edit; returns true when it changed something. A change of the key
    // made here is undone: keys change only through setKey/changeKeys, which keep them unique.
    using RowEdit = std::function<bool(int row, DownloadItem& item)>;

    struct KeyChange
    {
        int row;
        QString key;
    };

    explicit DownloadListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool removeRows(int row, int count, const QModelIndex& parent = {}) override;
    // Orders the rows by a column's cell: numbers as numbers in the size, received and percentage
    // columns, text ignoring case elsewhere (see sortRows). Rows keep their data; the view's selection
    // follows them. A long list is ordered beside the window (the rows as they are now) and takes
    // its new order a moment later, when isSorting() turns false and sorted() is signalled; a list
    // that gains or loses rows meanwhile is ordered again.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;
    bool isSorting() const { return m_sortWatcher != nullptr; }
    // Lists with at least this many rows are ordered beside the window.
    void setBackgroundSortRows(int rows) { m_backgroundSortRows = rows; }

    // The folder a row gets when it is added without one (the program's default save folder).
    void setDefaultFolder(const QString& folder);
    QString defaultFolder() const { return m_defaultFolder; }

    // Appends a row (the hand-off's order of fields). Fails and changes nothing when the key is empty
    // or already a key of the list.
    bool addItem(const QString& key, const QString& name, const QString& type, const QString& folder,
                 const QString& referer, DownloadItemState state = DownloadItemState::Waiting);
    bool addItem(DownloadItem item);
    // Appends every item whose key is new (a key repeated in the batch counts once), as one
    // insertion. Returns the number of rows added.
    int addItems(QList<DownloadItem> items);

    int count() const { return int(m_rows.size()); }
    bool isEmpty() const { return m_rows.isEmpty(); }
    const DownloadItem& at(int row) const { return m_rows.at(row); }
    const QList<DownloadItem>& rows() const { return m_rows; }
    bool containsKey(const QString& key) const { return m_rowOfKey.contains(key); }
    // The row holding the key, or -1.
    int rowOfKey(const QString& key) const;
    // The row of the item with this id, or -1 when it has left the list.
    int rowOfId(quint64 id) const;
    quint64 idOf(int row) const { return row >= 0 && row < m_rows.size() ? m_rows.at(row).id : 0; }
    // Rows in each state, kept as rows change: cheap enough for a timer.
    int countInState(DownloadItemState state) const;

    // Single-row changes, each signalling the row once. Out-of-range rows and unchanged values are
    // ignored.
    void setName(int row, const QString& name);
    void setType(int row, const QString& type);
    void setSize(int row, const QString& size);
    void setReceived(int row, const QString& received);
    void setProgress(int row, const QString& progress);
    // Size, received and progress together, as a transfer reports them.
    void setTransferColumns(int row, const QString& size, const QString& received, const QString& progress);
    void setFolder(int row, const QString& folder);
    // Also the row's tooltip.
    void setReason(int row, const QString& reason);
    void setReferer(int row, const QString& referer);
    void setState(int row, DownloadItemState state);
    // Fails (and changes nothing) when the key is empty or held by another row.
    bool setKey(int row, const QString& key);

    // Bulk changes. Each returns the number of rows changed and signals one block spanning them.
    int editRows(const RowEdit& edit);
    int editRows(const QList<int>& rows, const RowEdit& edit);
    // Gives many rows new keys at once, so that rows may trade keys. A change that would leave two rows
    // with one key, or a row with an empty key, is dropped and that row keeps its key: of rows that
    // would share a key, a row that keeps its key wins, else the first in list order. Returns the
    // number of changes dropped.
    int changeKeys(const QList<KeyChange>& changes);

    // Removals return the number of rows removed.
    int removeIf(const RowPredicate& matches);
    int removeRowsAt(const QList<int>& rows); // e.g. the view's selected rows; out-of-range rows are ignored
    int removeInState(DownloadItemState state);
    void clear();

    // Rows (ascending) whose item satisfies the predicate.
    QList<int> rowsMatching(const RowPredicate& matches) const;
    QList<int> rowsInState(DownloadItemState state) const;

    // The order of the last sort (ascending before any); the header click toggles it.
    Qt::SortOrder sortOrder() const { return m_sortOrder; }
    int sortColumn() const { return m_sortColumn; }
    // Puts the rows in a uniformly random order; their data and states stay.
    void shuffle(QRandomGenerator& generator = *QRandomGenerator::global());

signals:
    // The rows took the order sort() asked for.
    void sorted();

private:
    // Puts the rows in the order given by `order` (order[newRow] = oldRow), keeping the view's
    // persistent indexes on their rows.
    void applyPermutation(const QList<int>& order);
    void sortInBackground();
    void dropPendingSort();
    int removeMarked(const QList<bool>& marked);
    void setTextField(int row, int column, QString DownloadItem::*field, const QString& value);
    void emitRowsChanged(int firstRow, int lastRow);
    void countState(DownloadItemState state, int delta);
    void markIndexStaleFrom(int row);
    void refreshIndex() const;
    bool acceptsKey(const QString& key) const { return !key.isEmpty() && !m_rowOfKey.contains(key); }

    QList<DownloadItem> m_rows;
    // Key -> row. Keys are always exactly the list's keys; row numbers from m_staleFrom on are brought
    // up to date on the next lookup, so that removals and reorders renumber once, not per block.
    mutable QHash<QString, int> m_rowOfKey;
    // Id -> row, kept stale in the same way as the key index.
    mutable QHash<quint64, int> m_rowOfId;
    quint64 m_lastId = 0;
    mutable int m_staleFrom = -1;
    std::array<int, 5> m_stateCounts{}; // index = state value; 0 holds nothing
    QString m_defaultFolder;
    Qt::SortOrder m_sortOrder = Qt::AscendingOrder;
    int m_sortColumn = -1;
    int m_backgroundSortRows = 20000;
    // The order being worked out beside the window, and the shape of the list it was asked of: a
    // count bumped whenever rows come, go or move.
    QFutureWatcherBase* m_sortWatcher = nullptr; // an order being worked out beside the window
    quint64 m_shape = 0;
    quint64 m_shapeSorted = 0;
};

} // namespace lintbay
