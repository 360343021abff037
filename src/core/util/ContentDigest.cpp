#include "util/ContentDigest.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <xxhash.h>

#include <cstdlib>
#include <cstring>

namespace lintbay {

struct ContentDigest::State
{
    XXH3_state_t* xxh = XXH3_createState();
    ~State() { XXH3_freeState(xxh); }
};

ContentDigest::ContentDigest() : m_state(std::make_unique<State>())
{
    // Without a state there is nothing sound to fall back on.
    if (!m_state->xxh)
        std::abort();
    reset();
}

ContentDigest::~ContentDigest() = default;

void ContentDigest::reset()
{
    if (XXH3_128bits_reset(m_state->xxh) != XXH_OK)
        std::abort();
}

void ContentDigest::addData(QByteArrayView data)
{
    if (!data.isEmpty())
        XXH3_128bits_update(m_state->xxh, data.data(), size_t(data.size()));
}

bool ContentDigest::addData(QIODevice* device)
{
    QByteArray buffer(1 << 16, Qt::Uninitialized);
    for (;;) {
        const qint64 n = device->read(buffer.data(), buffer.size());
        if (n < 0)
            return false;
        if (n == 0)
            return device->atEnd();
        addData(QByteArrayView(buffer.constData(), n));
    }
}

QByteArray ContentDigest::result()
{
    XXH128_canonical_t canonical;
    XXH128_canonicalFromHash(&canonical, XXH3_128bits_digest(m_state->xxh));
    reset();
    return QByteArray(reinterpret_cast<const char*>(canonical.digest), sizeof canonical.digest);
}

QByteArray ContentDigest::of(QByteArrayView data)
{
    ContentDigest digest;
    digest.addData(data);
    return digest.result();
}

bool sameFileContent(const QString& a, const QString& b, const std::atomic_bool* stop)
{
    QFile first(a);
    QFile second(b);
    if (!QFileInfo(a).isFile() || !QFileInfo(b).isFile() || !first.open(QIODevice::ReadOnly) ||
        !second.open(QIODevice::ReadOnly) || first.size() != second.size())
        return false;
    constexpr qint64 kPiece = 256 * 1024;
    QByteArray x(kPiece, Qt::Uninitialized);
    QByteArray y(kPiece, Qt::Uninitialized);
    for (;;) {
        if (stop && stop->load())
            return false;
        const qint64 n = first.read(x.data(), kPiece);
        const qint64 m = second.read(y.data(), kPiece);
        if (n < 0 || n != m || std::memcmp(x.constData(), y.constData(), size_t(n)) != 0)
            return false;
        if (n == 0)
            return first.atEnd() && second.atEnd();
    }
}

} // namespace lintbay
