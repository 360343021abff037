#pragma once

#include <QList>

#include <algorithm>

// The middle of a set of timings: a run slowed by other work on the machine does not move it.
inline double median(QList<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values.at(values.size() / 2);
}
