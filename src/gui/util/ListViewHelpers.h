#pragma once

#include <QList>

class QItemSelectionModel;
class QTableView;

namespace lintbay {

// Fits every column to the widest of all its cells and its header text (never narrower than the
// header), also in lists of 100,000 rows.
void AutoSizeColumns(QTableView* view);
// Striped rows: pale green (0xE7F8ED) and white, alternating.
void SetListViewStripes(QTableView* view);

// The selected rows, ascending, each once, read from the selection's ranges: selectedRows() compares
// every row with every range, which for a selection of scattered rows in a long list takes minutes.
QList<int> SelectedRowNumbers(const QItemSelectionModel* selection);
// Selects exactly `rows` (whole rows), adjacent ones as one range. The old selection is cleared
// first: Qt compares an old and a new selection range by range.
void SelectOnlyRows(QItemSelectionModel* selection, QList<int> rows);

} // namespace lintbay
