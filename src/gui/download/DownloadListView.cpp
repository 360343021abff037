#include "download/DownloadListView.h"

#include <QEvent>

#include <utility>

namespace lintbay {

namespace {

// Past this many changed rows one repaint of the visible rows is cheaper than one per row.
constexpr qsizetype kRowsToRepaintOneByOne = 64;

} // namespace

DownloadListView::DownloadListView(QWidget* parent) : QTableView(parent)
{
    m_repaint.setSingleShot(true);
    m_repaint.setTimerType(Qt::PreciseTimer);
    connect(&m_repaint, &QTimer::timeout, this, &DownloadListView::repaintChanged);
}

void DownloadListView::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                                   const QList<int>& roles)
{
    Q_UNUSED(roles);
    if (!topLeft.isValid() || !bottomRight.isValid())
        return;
    if (m_allChanged ||
        m_changedRows.size() + bottomRight.row() - topLeft.row() >= kRowsToRepaintOneByOne) {
        m_allChanged = true;
        m_changedRows.clear();
    } else {
        for (int row = topLeft.row(); row <= bottomRight.row(); ++row)
            m_changedRows.insert(row);
    }
    if (m_repaint.isActive())
        return;
    const qint64 since = m_sinceRepaint.isValid() ? m_sinceRepaint.elapsed() : kRepaintIntervalMs;
    m_repaint.start(int(qBound<qint64>(0, kRepaintIntervalMs - since, qint64(kRepaintIntervalMs))));
}

bool DownloadListView::viewportEvent(QEvent* event)
{
    if (event->type() == QEvent::Paint) {
        m_sinceRepaint.start();
        // The paint asked for came late: the rows changed since the request get their full interval
        // from it (only once: other paints, a hover's say, never put them off).
        if (std::exchange(m_repaintAsked, false) && m_repaint.isActive())
            m_repaint.start(kRepaintIntervalMs);
    }
    return QTableView::viewportEvent(event);
}

void DownloadListView::repaintChanged()
{
    // The paint comes after the events already waiting, some of which may change rows again: they
    // wait for the next turn, counted from now rather than from the last paint.
    m_sinceRepaint.start();
    m_repaintAsked = true;
    if (m_allChanged) {
        m_allChanged = false;
        viewport()->update();
        return;
    }
    const int width = viewport()->width();
    const int height = viewport()->height();
    for (int row : std::as_const(m_changedRows)) {
        const int top = rowViewportPosition(row);
        const int rowHeight = this->rowHeight(row);
        // Rows out of sight are painted when they come into it.
        if (top + rowHeight > 0 && top < height && !isRowHidden(row))
            viewport()->update(QRect(0, top, width, rowHeight));
    }
    m_changedRows.clear();
}

} // namespace lintbay
