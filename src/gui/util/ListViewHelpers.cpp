#include "ListViewHelpers.h"

#include <QHeaderView>
#include <QTableView>

namespace lintbay {

void AutoSizeColumns(QTableView* view)
{
    if (!view || !view->model())
        return;
    // Measuring every row of a long list would stall the window; a sample of rows serves.
    view->horizontalHeader()->setResizeContentsPrecision(500);
    view->resizeColumnsToContents();
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
