#pragma once

#include <QAbstractItemModel>
#include <QElapsedTimer>
#include <QEvent>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPaintEvent>
#include <QTableView>

#include <algorithm>
#include <cstdio>
#include <utility>

namespace lintbay::test {

// Records, for every row of the view, when a paint event of the viewport covered it.
class PaintLog : public QObject
{
public:
    PaintLog(QTableView* view, const QElapsedTimer* clock) : m_view(view), m_clock(clock)
    {
        view->viewport()->installEventFilter(this);
    }

    // The most paints of one row inside any 100 ms, and the shortest time between two paints of a row.
    std::pair<int, qint64> worst() const
    {
        int most = 0;
        qint64 shortest = -1;
        for (const QList<qint64>& times : m_times) {
            for (qsizetype i = 0, j = 0; i < times.size(); ++i) {
                while (times.at(i) - times.at(j) >= 100)
                    ++j;
                most = std::max(most, int(i - j + 1));
                if (i > 0 && (shortest < 0 || times.at(i) - times.at(i - 1) < shortest))
                    shortest = times.at(i) - times.at(i - 1);
            }
        }
        return {most, shortest};
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint && m_clock->isValid()) {
            const qint64 now = m_clock->elapsed();
            for (const QRect& rect : static_cast<QPaintEvent*>(event)->region()) {
                const int first = m_view->rowAt(rect.top());
                int last = m_view->rowAt(rect.bottom());
                if (first < 0)
                    continue;
                if (last < 0)
                    last = m_view->model()->rowCount() - 1;
                if (m_trace)
                    std::fprintf(stderr, "%lld paint rows %d-%d %dx%d\n", now, first, last, rect.width(), rect.height());
                for (int row = first; row <= last; ++row) {
                    // A row counts as painted when most of it is; a grid line of a neighbour is not.
                    const int top = m_view->rowViewportPosition(row);
                    const int covered = std::min(rect.bottom() + 1, top + m_view->rowHeight(row)) - std::max(rect.top(), top);
                    if (covered * 2 < m_view->rowHeight(row))
                        continue;
                    QList<qint64>& times = m_times[row];
                    if (times.isEmpty() || times.constLast() != now)
                        times.append(now);
                }
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QTableView* m_view;
    const QElapsedTimer* m_clock;
    QHash<int, QList<qint64>> m_times;
    const bool m_trace = qEnvironmentVariableIsSet("LINTBAY_BENCH_TRACE");
};

} // namespace lintbay::test
