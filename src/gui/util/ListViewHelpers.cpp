#include "ListViewHelpers.h"

#include <QAbstractItemModel>
#include <QFontMetrics>
#include <QHash>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QTableView>

#include <algorithm>
#include <array>
#include <vector>

namespace lintbay {

namespace {

// Rows measured exactly per column: those whose quick estimate is largest.
constexpr int kMeasuredRows = 64;

// The width of a text as the sum of its characters' advances: fast enough for every cell of a long
// list, and off from the laid-out width only by kerning and shaping, a few pixels at most.
class WidthEstimate
{
public:
    explicit WidthEstimate(const QFontMetrics& metrics) : m_metrics(metrics)
    {
        for (int c = 0; c < 256; ++c)
            m_latin1[c] = m_metrics.horizontalAdvance(QChar(c));
    }
    int operator()(const QString& text)
    {
        int width = 0;
        for (QChar ch : text) {
            const char16_t u = ch.unicode();
            if (u < 256) {
                width += m_latin1[u];
                continue;
            }
            auto it = m_other.constFind(u);
            if (it == m_other.cend())
                it = m_other.insert(u, m_metrics.horizontalAdvance(ch));
            width += *it;
        }
        return width;
    }

private:
    QFontMetrics m_metrics;
    std::array<int, 256> m_latin1{};
    QHash<char16_t, int> m_other;
};

} // namespace

void AutoSizeColumns(QTableView* view)
{
    if (!view || !view->model())
        return;
    QAbstractItemModel* model = view->model();
    const int rows = model->rowCount(view->rootIndex());
    const int columns = model->columnCount(view->rootIndex());
    WidthEstimate estimate(QFontMetrics(view->font()));
    std::vector<std::pair<int, int>> widths; // estimate, row
    widths.reserve(size_t(rows));
    for (int column = 0; column < columns; ++column) {
        if (view->isColumnHidden(column))
            continue;
        // Every cell counts, not a sample: the widest may be anywhere in the list. Only the cells
        // whose estimate is largest are laid out as the view draws them (with icon and margins).
        widths.clear();
        for (int row = 0; row < rows; ++row)
            widths.emplace_back(estimate(model->index(row, column, view->rootIndex()).data().toString()), row);
        const auto measured = widths.begin() + std::min<qsizetype>(kMeasuredRows, qsizetype(widths.size()));
        std::partial_sort(widths.begin(), measured, widths.end(), std::greater<>());
        int content = 0;
        for (auto it = widths.begin(); it != measured; ++it) {
            const QModelIndex index = model->index(it->second, column, view->rootIndex());
            content = std::max(content, view->sizeHintForIndex(index).width());
        }
        if (view->showGrid())
            ++content;
        const QHeaderView* header = view->horizontalHeader();
        view->setColumnWidth(column, std::max(content, header->isHidden() ? 0 : header->sectionSizeHint(column)));
    }
}

void SetListViewStripes(QTableView* view)
{
    if (!view)
        return;
    QPalette palette = view->palette();
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::AlternateBase, QColor(0xE7, 0xF8, 0xED));
    view->setPalette(palette);
    view->setAlternatingRowColors(true);
}

QList<int> SelectedRowNumbers(const QItemSelectionModel* selection)
{
    const QAbstractItemModel* model = selection->model();
    if (!model)
        return {};
    const int columns = model->columnCount();
    QList<bool> marked(model->rowCount(), false);
    QList<int> partly; // rows of ranges over some columns only, asked about one by one
    const QItemSelection ranges = selection->selection();
    for (const QItemSelectionRange& range : ranges) {
        const bool wholeRows = range.left() == 0 && range.right() == columns - 1;
        for (int row = std::max(range.top(), 0); row <= range.bottom() && row < marked.size(); ++row) {
            if (wholeRows)
                marked[row] = true;
            else
                partly.append(row);
        }
    }
    for (int row : std::as_const(partly))
        marked[row] = marked.at(row) || selection->isRowSelected(row);
    QList<int> rows;
    for (int row = 0; row < marked.size(); ++row)
        if (marked.at(row))
            rows.append(row);
    return rows;
}

void SelectOnlyRows(QItemSelectionModel* selection, QList<int> rows)
{
    const QAbstractItemModel* model = selection->model();
    selection->clearSelection();
    if (!model || rows.isEmpty())
        return;
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    const int lastColumn = model->columnCount() - 1;
    QItemSelection ranges;
    for (qsizetype i = 0; i < rows.size();) {
        qsizetype j = i;
        while (j + 1 < rows.size() && rows.at(j + 1) == rows.at(j) + 1)
            ++j;
        ranges.append(QItemSelectionRange(model->index(rows.at(i), 0), model->index(rows.at(j), lastColumn)));
        i = j + 1;
    }
    selection->select(ranges, QItemSelectionModel::Select);
}

} // namespace lintbay
