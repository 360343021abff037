#pragma once

#include <QIODevice>

namespace lintbay::test {

// A read-only, unbuffered view of another random-access device that counts what is read through
// it: what a reader really takes from a file, whatever it keeps in its own buffers.
class CountingDevice : public QIODevice
{
public:
    explicit CountingDevice(QIODevice& inner) : m_inner(inner)
    {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }

    qint64 bytesRead() const { return m_bytesRead; }
    int reads() const { return m_reads; }

    bool isSequential() const override { return false; }
    qint64 size() const override { return m_inner.size(); }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        if (!m_inner.seek(pos()))
            return -1;
        const qint64 got = m_inner.read(data, maxSize);
        if (got > 0) {
            m_bytesRead += got;
            ++m_reads;
        }
        return got;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QIODevice& m_inner;
    qint64 m_bytesRead = 0;
    int m_reads = 0;
};

} // namespace lintbay::test
