#pragma once

class QTableView;

namespace lintbay {

// Fits every column to the widest of all its cells and its header text (never narrower than the
// header), also in lists of 100,000 rows.
void AutoSizeColumns(QTableView* view);
// Striped rows: pale green (0xE7F8ED) and white, alternating.
void SetListViewStripes(QTableView* view);

} // namespace lintbay
