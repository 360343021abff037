#pragma once

// Shared by the fuzz targets: how a broken invariant is reported, and how raw input becomes the
// texts the program's functions take.

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace lintbay::fuzz {

// A broken invariant is a finding like any sanitizer report: libFuzzer keeps the input that caused it.
[[noreturn]] inline void fail(const char* file, int line, const char* what)
{
    std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
    std::fflush(stderr);
    std::abort();
}

// The input as bytes, without copying; valid for one call of the target.
inline QByteArray bytesOf(const uint8_t* data, size_t size)
{
    return QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
}

// Raw input as UTF-16 units, so that the text may hold anything a QString can: lone surrogates,
// NULs, unassigned code points. A final odd byte is dropped.
inline QString utf16Of(const uint8_t* data, size_t size)
{
    QString text(qsizetype(size / 2), Qt::Uninitialized);
    std::memcpy(text.data(), data, (size / 2) * 2);
    return text;
}

// Reads one byte from the front of the input (0 when there is none) and consumes it.
inline uint8_t takeByte(const uint8_t*& data, size_t& size)
{
    if (size == 0)
        return 0;
    --size;
    return *data++;
}

} // namespace lintbay::fuzz

#define FUZZ_CHECK(cond)                                                                                    \
    do {                                                                                                    \
        if (!(cond))                                                                                        \
            ::lintbay::fuzz::fail(__FILE__, __LINE__, #cond);                                               \
    } while (false)
