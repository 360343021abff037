// The keys of the download list: one row's key, and many rows' keys changed at once. The rest of the
// list model is in DownloadListModel.cpp.
#include "download/DownloadListModel.h"

#include <algorithm>

namespace lintbay {

bool DownloadListModel::setKey(int row, const QString& key)
{
    if (row < 0 || row >= m_rows.size())
        return false;
    if (m_rows.at(row).key == key)
        return true;
    if (!acceptsKey(key))
        return false;
    m_rowOfKey.remove(m_rows.at(row).key);
    m_rowOfKey.insert(key, row);
    m_rows[row].key = key;
    const QModelIndex cell = index(row, NameColumn);
    emit dataChanged(cell, cell, {KeyRole});
    return true;
}

int DownloadListModel::changeKeys(const QList<KeyChange>& changes)
{
    // The key every row ends with, and who holds each key. Rows start with their proposal (the last
    // one, when a row is named twice); clashes are then settled by putting rows back to their old
    // key, which may clash in turn, until every key has one holder. A row goes back at most once.
    QHash<int, QString> proposed;
    for (const KeyChange& change : changes) {
        if (change.row >= 0 && change.row < m_rows.size())
            proposed.insert(change.row, change.key);
    }
    int dropped = 0;
    QHash<int, QString> finalKey;
    for (auto it = proposed.cbegin(); it != proposed.cend(); ++it) {
        if (it.value() == m_rows.at(it.key()).key)
            continue;
        if (it.value().isEmpty()) {
            ++dropped;
            continue;
        }
        finalKey.insert(it.key(), it.value());
    }
    if (finalKey.isEmpty())
        return dropped;

    if (m_staleFrom >= 0)
        refreshIndex();
    // Holders of the keys involved: the changing rows by their new key, and whoever holds that key now.
    QHash<QString, QList<int>> holders;
    for (auto it = finalKey.cbegin(); it != finalKey.cend(); ++it)
        holders[it.value()].append(it.key());
    QList<QString> pending;
    for (auto it = holders.begin(); it != holders.end(); ++it) {
        const int owner = m_rowOfKey.value(it.key(), -1);
        // The present owner keeps the key unless it is itself moving to another one.
        if (owner >= 0 && !finalKey.contains(owner))
            it.value().append(owner);
        if (it.value().size() > 1)
            pending.append(it.key());
    }
    while (!pending.isEmpty()) {
        const QString key = pending.takeLast();
        QList<int>& group = holders[key];
        if (group.size() < 2)
            continue;
        // A row that stays where it is wins; otherwise the first row in list order.
        int winner = -1;
        for (int row : group) {
            if (!finalKey.contains(row)) {
                winner = row;
                break;
            }
        }
        if (winner < 0)
            winner = *std::min_element(group.cbegin(), group.cend());
        const QList<int> losers = [&] {
            QList<int> l;
            for (int row : group) {
                if (row != winner)
                    l.append(row);
            }
            return l;
        }();
        group = {winner};
        for (int row : losers) {
            finalKey.remove(row);
            ++dropped;
            const QString old = m_rows.at(row).key;
            QList<int>& oldGroup = holders[old];
            oldGroup.append(row);
            // Whoever was heading for this row's old key must now share it with the row.
            if (oldGroup.size() > 1)
                pending.append(old);
        }
    }
    if (finalKey.isEmpty())
        return dropped;

    int first = int(m_rows.size());
    int last = -1;
    for (auto it = finalKey.cbegin(); it != finalKey.cend(); ++it)
        m_rowOfKey.remove(m_rows.at(it.key()).key);
    for (auto it = finalKey.cbegin(); it != finalKey.cend(); ++it) {
        m_rows[it.key()].key = it.value();
        m_rowOfKey.insert(it.value(), it.key());
        first = std::min(first, it.key());
        last = std::max(last, it.key());
    }
    emit dataChanged(index(first, NameColumn), index(last, NameColumn), {KeyRole});
    return dropped;
}

} // namespace lintbay
