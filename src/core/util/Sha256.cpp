#include "util/Sha256.h"

#include <QIODevice>

#include <openssl/evp.h>

#include <cstdlib>

namespace lintbay {

struct Sha256::Context
{
    EVP_MD_CTX* md = EVP_MD_CTX_new();
    ~Context() { EVP_MD_CTX_free(md); }
};

Sha256::Sha256() : m_context(std::make_unique<Context>())
{
    // Without a context or the digest there is nothing sound to fall back on.
    if (!m_context->md)
        std::abort();
    reset();
}

Sha256::~Sha256() = default;

void Sha256::reset()
{
    if (EVP_DigestInit_ex(m_context->md, EVP_sha256(), nullptr) != 1)
        std::abort();
}

void Sha256::addData(QByteArrayView data)
{
    if (!data.isEmpty())
        EVP_DigestUpdate(m_context->md, data.data(), size_t(data.size()));
}

bool Sha256::addData(QIODevice* device)
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

QByteArray Sha256::result()
{
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int length = 0;
    EVP_DigestFinal_ex(m_context->md, reinterpret_cast<unsigned char*>(digest.data()), &length);
    digest.truncate(int(length));
    reset();
    return digest;
}

} // namespace lintbay
