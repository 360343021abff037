#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <atomic>
#include <memory>

class QIODevice;
class QString;

namespace lintbay {

// A 128-bit digest of data given piece by piece (XXH3), for telling one document fetched twice:
// every byte of every download goes through here, so it has to cost next to nothing (tens of GB/s
// against about 2 GB/s for a cryptographic hash with processor support). It is no proof against a
// server that makes two bodies collide on purpose: two files with the same digest are the same
// document only once sameFileContent() says so.
class ContentDigest
{
public:
    ContentDigest();
    ~ContentDigest();
    ContentDigest(const ContentDigest&) = delete;
    ContentDigest& operator=(const ContentDigest&) = delete;

    void reset();
    void addData(QByteArrayView data);
    // Reads the device to its end; false when a read failed.
    bool addData(QIODevice* device);
    // The 16-byte digest of what was added since the last reset; the digest starts anew after it.
    QByteArray result();

    static QByteArray of(QByteArrayView data);

private:
    struct State;
    std::unique_ptr<State> m_state;
};

// The two paths hold plain files of the same bytes. Reads both once at most, and stops at the first
// difference; false when either cannot be read, or when `stop` is set meanwhile.
bool sameFileContent(const QString& a, const QString& b, const std::atomic_bool* stop = nullptr);

} // namespace lintbay
