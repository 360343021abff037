#pragma once

#include <QByteArray>

namespace lintbay::test {

// Bytes that are not all alike (so a shifted or repeated piece shows), of the given length.
inline QByteArray payload(int size)
{
    QByteArray data(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        data[i] = char((i * 7 + i / 251) & 0xff);
    return data;
}

} // namespace lintbay::test
