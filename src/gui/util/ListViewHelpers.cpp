#include "ListViewHelpers.h"

#include <QAbstractItemModel>
#include <QFontMetrics>
#include <QHash>
#include <QHeaderView>
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

} // namespace lintbay
