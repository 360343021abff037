#pragma once

#include <QElapsedTimer>
#include <QSet>
#include <QTableView>
#include <QTimer>

namespace lintbay {

// The download list's table view. Rows change many times a second while six transfers run (state,
// size, bytes, percentage, each reported on its own); the view repaints a changed row at most once
// per 100 ms (kRepaintIntervalMs leaves a margin for the event loop's own jitter), all rows changed
// meanwhile together, the first change after a quiet spell at once.
class DownloadListView : public QTableView
{
    Q_OBJECT
public:
    static constexpr int kRepaintIntervalMs = 105;

    explicit DownloadListView(QWidget* parent = nullptr);

protected:
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles = QList<int>()) override;
    bool viewportEvent(QEvent* event) override;

private:
    void repaintChanged();

    QSet<int> m_changedRows;
    bool m_allChanged = false;
    QTimer m_repaint;
    // Since the viewport last painted or was last asked to (a busy loop paints late).
    QElapsedTimer m_sinceRepaint;
    bool m_repaintAsked = false; // and not painted yet
};

} // namespace lintbay
