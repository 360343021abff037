#pragma once

#include <QSemaphore>
#include <QThreadPool>

#include <utility>

namespace lintbay::test {

// Keeps every thread of a pool busy until release() (or the end of the scope): work handed to the
// pool meanwhile waits, as it would behind a slow disk.
class HeldPool
{
public:
    explicit HeldPool(QThreadPool* pool) : m_pool(pool)
    {
        for (int i = 0; i < m_pool->maxThreadCount(); ++i)
            m_pool->start([this] { m_free.acquire(); });
    }
    ~HeldPool() { release(); }
    HeldPool(const HeldPool&) = delete;
    HeldPool& operator=(const HeldPool&) = delete;

    // Lets the pool go on, and waits until it has run what was waiting.
    void release()
    {
        if (!std::exchange(m_held, false))
            return;
        m_free.release(m_pool->maxThreadCount());
        m_pool->waitForDone();
    }

private:
    QThreadPool* m_pool;
    QSemaphore m_free;
    bool m_held = true;
};

} // namespace lintbay::test
