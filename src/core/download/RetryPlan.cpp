#include "download/RetryPlan.h"

#include <QElapsedTimer>

namespace lintbay {

RetryPlan::RetryPlan()
{
    QElapsedTimer started;
    started.start();
    m_clock = [started] { return started.elapsed(); };
}

void RetryPlan::noteAnswer(const QString& host, int status)
{
    if (host.isEmpty() || status == 0)
        return;
    if (status >= 200 && status <= 299) {
        m_hosts.remove(host);
        return;
    }
    if (status != 429 && (status < 500 || status > 599))
        return;
    HostWait& wait = m_hosts[host];
    // Doubling, without ever overflowing: the cap is reached long before.
    const int doublings = qMin(wait.strikes, 30);
    ++wait.strikes;
    wait.notBefore = now() + qMin(timing.backoffBaseMs << doublings, timing.backoffCapMs);
}

bool RetryPlan::mayDefer(quint64 id) const
{
    return m_rows.value(id).deferrals < timing.maxDeferrals;
}

void RetryPlan::defer(quint64 id, const QString& host, qint64 retryAfterMs)
{
    RowWait& wait = m_rows[id];
    wait.host = host;
    ++wait.deferrals;
    wait.notBefore = now() + qBound<qint64>(0, retryAfterMs, timing.retryAfterCapMs);
}

void RetryPlan::forget(quint64 id)
{
    m_rows.remove(id);
}

void RetryPlan::forgetIf(const std::function<bool(quint64)>& gone)
{
    m_rows.removeIf([&gone](QHash<quint64, RowWait>::iterator it) { return gone(it.key()); });
}

bool RetryPlan::anyHostWaits() const
{
    const qint64 t = now();
    for (const HostWait& wait : m_hosts) {
        if (wait.notBefore > t)
            return true;
    }
    return false;
}

qint64 RetryPlan::hostFreeAt(const QString& host) const
{
    return host.isEmpty() ? 0 : m_hosts.value(host).notBefore;
}

bool RetryPlan::mayStart(quint64 id, const QString& host) const
{
    const qint64 t = now();
    const auto row = m_rows.constFind(id);
    if (row != m_rows.cend() && row->notBefore > t)
        return false;
    return hostFreeAt(host) <= t;
}

int RetryPlan::secondsLeft(quint64 id) const
{
    const auto row = m_rows.constFind(id);
    if (row == m_rows.cend())
        return 0;
    const qint64 left = qMax(row->notBefore, hostFreeAt(row->host)) - now();
    return left > 0 ? int((left + 999) / 1000) : 0;
}

} // namespace lintbay
