#include "download/CellOrder.h"

#include <QCollator>
#include <QLocale>

#include <algorithm>
#include <numeric>
#include <optional>
#include <vector>

namespace lintbay {

bool parseDecimal(QStringView text, double* value)
{
    text = text.trimmed();
    qsizetype i = 0;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-'))
        ++i;
    int digits = 0;
    bool point = false;
    for (; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c >= u'0' && c <= u'9') {
            ++digits;
        } else if (c == u'.' && !point) {
            point = true;
        } else {
            return false;
        }
    }
    if (digits == 0)
        return false;
    bool ok = false;
    const double v = text.toDouble(&ok);
    if (!ok)
        return false;
    if (value)
        *value = v;
    return true;
}

namespace {

enum Group : quint8
{
    EmptyCell,
    NumberCell,
    WordCell
};

struct CellKey
{
    Group group = EmptyCell;
    double number = 0;
    int word = -1; // index into the collation keys
};

QCollator listCollator()
{
    // The list shows Chinese names; the reading order does not depend on the user's locale settings.
    QCollator collator{QLocale(QLocale::Chinese, QLocale::China)};
    collator.setCaseSensitivity(Qt::CaseInsensitive);
    return collator;
}

const QString& cellText(const DownloadItem& item, int column)
{
    switch (column) {
    case DownloadListModel::NameColumn:
        return item.name;
    case DownloadListModel::TypeColumn:
        return item.type;
    case DownloadListModel::SizeColumn:
        return item.size;
    case DownloadListModel::ReceivedColumn:
        return item.received;
    case DownloadListModel::ProgressColumn:
        return item.progress;
    case DownloadListModel::ReasonColumn:
        return item.reason;
    default:
        return item.folder;
    }
}

std::optional<double> cellNumber(const QString& text, int column)
{
    QString digits = text;
    if (column == DownloadListModel::ProgressColumn)
        digits.remove(u'%');
    else
        digits.remove(u',');
    double v = 0;
    if (!parseDecimal(digits, &v))
        return std::nullopt;
    return v;
}

} // namespace

QList<int> sortedOrder(const QList<DownloadItem>& rows, int column, Qt::SortOrder order)
{
    const bool numeric = column == DownloadListModel::SizeColumn ||
                         column == DownloadListModel::ReceivedColumn ||
                         column == DownloadListModel::ProgressColumn;
    const QCollator collator = listCollator();
    std::vector<CellKey> keys(rows.size());
    std::vector<QCollatorSortKey> words;
    words.reserve(numeric ? 16 : rows.size());
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const QString& text = cellText(rows.at(i), column);
        CellKey& key = keys[i];
        if (text.isEmpty())
            continue;
        if (numeric) {
            if (const std::optional<double> v = cellNumber(text, column)) {
                key.group = NumberCell;
                key.number = *v;
                continue;
            }
        }
        key.group = WordCell;
        key.word = int(words.size());
        words.push_back(collator.sortKey(text));
    }

    auto less = [&](int a, int b) {
        const CellKey& ka = keys[a];
        const CellKey& kb = keys[b];
        if (ka.group != kb.group)
            return ka.group < kb.group;
        switch (ka.group) {
        case NumberCell:
            return ka.number < kb.number;
        case WordCell:
            return words[ka.word].compare(words[kb.word]) < 0;
        default:
            return false;
        }
    };
    QList<int> result(rows.size());
    std::iota(result.begin(), result.end(), 0);
    if (order == Qt::AscendingOrder)
        std::stable_sort(result.begin(), result.end(), less);
    else
        std::stable_sort(result.begin(), result.end(), [&](int a, int b) { return less(b, a); });
    return result;
}

} // namespace lintbay
