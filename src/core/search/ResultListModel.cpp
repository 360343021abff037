#include "search/ResultListModel.h"

#include "search/ScriptDetect.h"
#include "util/RowBlocks.h"

#include <QSet>

using namespace Qt::StringLiterals;

namespace lintbay {

QString ResultListModel::statusDone()
{
    return u"成功"_s;
}

QString ResultListModel::statusFailed()
{
    return u"分析失败"_s;
}

ResultListModel::ResultListModel(QObject* parent) : QAbstractTableModel(parent) {}

int ResultListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(m_rows.size());
}

int ResultListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ResultListModel::data(const QModelIndex& index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return {};
    const SearchResult& r = m_rows.at(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
        switch (index.column()) {
        case TitleColumn:
            return r.title;
        case TypeColumn:
            return r.type;
        case StatusColumn:
            return r.status;
        case SaveFolderColumn:
            return r.saveFolder;
        default:
            return {};
        }
    case KeyRole:
        return r.key;
    case TagRole:
        return r.tag;
    default:
        return {};
    }
}

QVariant ResultListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case TitleColumn:
        return u"标题"_s;
    case TypeColumn:
        return u"类型"_s;
    case StatusColumn:
        return u"分析状态"_s;
    case SaveFolderColumn:
        return u"保存路径"_s;
    default:
        return {};
    }
}

Qt::ItemFlags ResultListModel::flags(const QModelIndex& index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    // Deliberately without Qt::ItemIsEditable: titles are not edited in place.
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

bool ResultListModel::removeRows(int row, int count, const QModelIndex& parent)
{
    if (parent.isValid() || row < 0 || count <= 0 || row + count > m_rows.size())
        return false;
    beginRemoveRows({}, row, row + count - 1);
    for (int i = row; i < row + count; ++i)
        m_rowOfKey.remove(m_rows.at(i).key);
    m_rows.remove(row, count);
    reindexFrom(row);
    endRemoveRows();
    return true;
}

bool ResultListModel::加入LV1(const QString& title, const QString& link, const QString& pageUrl,
                              const QString& type, const QString& saveFolder)
{
    if (link.isEmpty() || m_rowOfKey.contains(link))
        return false;
    const int row = int(m_rows.size());
    beginInsertRows({}, row, row);
    m_rows.append(SearchResult{title, type, QString(), saveFolder, link, pageUrl});
    m_rowOfKey.insert(link, row);
    endInsertRows();
    return true;
}

int ResultListModel::addResults(const QList<SearchResult>& results)
{
    QList<SearchResult> fresh;
    QSet<QString> seen;
    for (const SearchResult& r : results) {
        if (r.key.isEmpty() || m_rowOfKey.contains(r.key) || seen.contains(r.key))
            continue;
        seen.insert(r.key);
        fresh.append(r);
    }
    if (fresh.isEmpty())
        return 0;
    const int first = int(m_rows.size());
    beginInsertRows({}, first, first + int(fresh.size()) - 1);
    m_rows.append(fresh);
    reindexFrom(first);
    endInsertRows();
    return int(fresh.size());
}

void ResultListModel::setStatus(int row, const QString& status)
{
    if (row < 0 || row >= m_rows.size() || m_rows.at(row).status == status)
        return;
    m_rows[row].status = status;
    const QModelIndex cell = index(row, StatusColumn);
    emit dataChanged(cell, cell, {Qt::DisplayRole, Qt::ToolTipRole});
}

int ResultListModel::removeIf(const RowPredicate& matches)
{
    QList<bool> marked(m_rows.size(), false);
    for (qsizetype i = 0; i < m_rows.size(); ++i)
        marked[i] = matches(m_rows.at(i));
    return removeMarked(marked);
}

int ResultListModel::removeRowsAt(const QList<int>& rows)
{
    QList<bool> marked(m_rows.size(), false);
    for (int row : rows) {
        if (row >= 0 && row < m_rows.size())
            marked[row] = true;
    }
    return removeMarked(marked);
}

int ResultListModel::removeWithStatus(const QString& status)
{
    return removeIf([&status](const SearchResult& r) { return r.status == status; });
}

int ResultListModel::removeTitleContaining(const QString& text)
{
    if (text.isEmpty())
        return 0;
    return removeIf([&text](const SearchResult& r) { return r.title.contains(text, Qt::CaseInsensitive); });
}

int ResultListModel::removeTitleNotContaining(const QString& text)
{
    if (text.isEmpty())
        return 0;
    return removeIf([&text](const SearchResult& r) { return !r.title.contains(text, Qt::CaseInsensitive); });
}

void ResultListModel::clear()
{
    if (m_rows.isEmpty())
        return;
    beginResetModel();
    m_rows.clear();
    m_rowOfKey.clear();
    endResetModel();
}

QList<int> ResultListModel::rowsMatching(const RowPredicate& matches) const
{
    QList<int> rows;
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        if (matches(m_rows.at(i)))
            rows.append(int(i));
    }
    return rows;
}

QList<int> ResultListModel::rowsWithKana() const
{
    return rowsMatching([](const SearchResult& r) { return HasKana(r.title); });
}

QList<int> ResultListModel::rowsWithTraditional() const
{
    return rowsMatching([](const SearchResult& r) { return HasTraditional(r.title); });
}

int ResultListModel::convertAllToSimplified()
{
    int changed = 0;
    int first = -1;
    int last = -1;
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        QString simplified = ToSimplified(m_rows.at(i).title);
        if (simplified == m_rows.at(i).title)
            continue;
        m_rows[i].title = std::move(simplified);
        ++changed;
        if (first < 0)
            first = int(i);
        last = int(i);
    }
    if (changed > 0)
        emit dataChanged(index(first, TitleColumn), index(last, TitleColumn),
                         {Qt::DisplayRole, Qt::ToolTipRole});
    return changed;
}

QStringList ResultListModel::titles() const
{
    QStringList out;
    out.reserve(m_rows.size());
    for (const SearchResult& r : m_rows)
        out.append(r.title);
    return out;
}

int ResultListModel::removeMarked(const QList<bool>& marked)
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
    QList<SearchResult> kept;
    kept.reserve(m_rows.size() - removed);
    for (qsizetype i = 0; i < m_rows.size(); ++i) {
        if (!marked.at(i))
            kept.append(std::move(m_rows[i]));
    }
    m_rows = std::move(kept);
    m_rowOfKey.clear();
    m_rowOfKey.reserve(m_rows.size());
    reindexFrom(0);
    endResetModel();
    return removed;
}

void ResultListModel::reindexFrom(int firstRow)
{
    for (qsizetype i = firstRow; i < m_rows.size(); ++i)
        m_rowOfKey.insert(m_rows.at(i).key, int(i));
}

} // namespace lintbay
