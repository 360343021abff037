#pragma once

#include <QHash>
#include <QString>

#include <functional>

namespace lintbay {

// When rows may be fetched again after a server asked for time.
//
// A row whose server answered "try again later" (429, 503) waits for the time its Retry-After named
// (capped), and at least as long as its host is left alone. A host that answers with server errors
// (5xx, or 429) is left alone for doubling times (base, twice that, four times … up to a cap) for
// all its rows; a good answer from it ends that. A row the server keeps putting off is deferred only
// so many times; after that its answer is taken as it comes.
//
// Times come from a monotonic clock in milliseconds that tests may replace.
class RetryPlan
{
public:
    struct Timing
    {
        qint64 backoffBaseMs = 5000;
        qint64 backoffCapMs = 10 * 60 * 1000;
        qint64 retryAfterCapMs = 60 * 60 * 1000;
        int maxDeferrals = 10; // per row, in a row
    };
    using Clock = std::function<qint64()>;

    RetryPlan();

    Timing timing;
    void setClock(Clock clock) { m_clock = std::move(clock); }
    qint64 now() const { return m_clock(); }

    // An answer of `host` with `status` (0: no answer came, which says nothing of the server).
    void noteAnswer(const QString& host, int status);
    // Whether the row's next "try again later" answer may put it off once more.
    bool mayDefer(quint64 id) const;
    // The row's server asked to be asked again after `retryAfterMs` (-1: it named no time).
    void defer(quint64 id, const QString& host, qint64 retryAfterMs);
    // The row ended otherwise, or left the list.
    void forget(quint64 id);
    void forgetIf(const std::function<bool(quint64 id)>& gone);

    // Any host left alone now: only then do callers need to know a row's host.
    bool anyHostWaits() const;
    // True when the row may start now; `host` empty: its host is not asked about.
    bool mayStart(quint64 id, const QString& host) const;
    // Whole seconds (rounded up) until a deferred row may start; 0 when it may now.
    int secondsLeft(quint64 id) const;

private:
    struct RowWait
    {
        QString host;
        qint64 notBefore = 0;
        int deferrals = 0;
    };
    struct HostWait
    {
        int strikes = 0;
        qint64 notBefore = 0;
    };
    qint64 hostFreeAt(const QString& host) const;

    Clock m_clock;
    QHash<quint64, RowWait> m_rows;
    QHash<QString, HostWait> m_hosts;
};

} // namespace lintbay
