#pragma once

#include <QList>

namespace lintbay {

// A run of adjacent rows, first to last inclusive.
struct RowBlock
{
    int first;
    int last;
};

// Removals of up to this many separate blocks are signalled block by block (from the back); more
// scattered removals rebuild the list and reset the views, so the cost stays linear.
inline constexpr int kMaxRemovalBlocks = 16;

// The runs of marked rows, in order; `count` receives the number of marked rows.
inline QList<RowBlock> MarkedBlocks(const QList<bool>& marked, int* count)
{
    QList<RowBlock> blocks;
    int n = 0;
    for (int i = 0; i < marked.size(); ++i) {
        if (!marked.at(i))
            continue;
        ++n;
        if (!blocks.isEmpty() && blocks.last().last == i - 1)
            blocks.last().last = i;
        else
            blocks.append(RowBlock{i, i});
    }
    if (count)
        *count = n;
    return blocks;
}

} // namespace lintbay
