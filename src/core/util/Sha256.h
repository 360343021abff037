#pragma once

#include <QByteArray>
#include <QByteArrayView>

#include <memory>

class QIODevice;

namespace lintbay {

// SHA-256 over data given piece by piece, through libcrypto: it uses the processor's SHA
// instructions where there are any, and every byte of every download goes through here.
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void reset();
    void addData(QByteArrayView data);
    // Reads the device to its end; false when a read failed.
    bool addData(QIODevice* device);
    // The 32-byte digest of what was added since the last reset; the hash starts anew after it.
    QByteArray result();

private:
    struct Context;
    std::unique_ptr<Context> m_context;
};

} // namespace lintbay
