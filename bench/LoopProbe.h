#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <algorithm>

// Ticks every 10 ms and keeps the longest gap between two ticks since the last reset.
class LoopProbe
{
public:
    LoopProbe()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 gap = m_sinceTick.restart();
            if (gap > m_longest) {
                m_longest = gap;
                m_longestEnd = m_sinceReset.elapsed();
            }
        });
        m_timer.start();
        m_sinceTick.start();
        m_sinceReset.start();
    }
    void reset()
    {
        m_longest = 0;
        m_longestEnd = 0;
        m_sinceTick.restart();
        m_sinceReset.start();
    }
    // When the longest gap ended, in ms since the reset.
    qint64 longestEnd() const { return m_longestEnd; }
    qint64 longest() const { return std::max(m_longest, m_sinceTick.elapsed()); }

private:
    QTimer m_timer;
    QElapsedTimer m_sinceTick;
    QElapsedTimer m_sinceReset;
    qint64 m_longest = 0;
    qint64 m_longestEnd = 0;
};
