#include "Wait.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>

#include <optional>

namespace lintbay {

namespace {
constexpr int kPollMs = 10;
}

WaitResult waitUntil(const QObject* owner, const std::function<bool()>& done, int timeoutMs,
                     const std::function<bool()>& stop)
{
    const QPointer<const QObject> alive(owner);
    QElapsedTimer clock;
    clock.start();
    auto check = [&]() -> std::optional<WaitResult> {
        if (!alive)
            return WaitResult::OwnerGone;
        if (stop && stop())
            return WaitResult::Stopped;
        if (done && done())
            return WaitResult::Condition;
        if (timeoutMs >= 0 && clock.elapsed() >= timeoutMs)
            return WaitResult::TimedOut;
        return std::nullopt;
    };
    if (auto r = check())
        return *r;

    QEventLoop loop;
    QTimer poll;
    poll.setInterval(kPollMs);
    WaitResult result = WaitResult::TimedOut;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (auto r = check()) {
            result = *r;
            loop.quit();
        }
    });
    // The owner's destruction ends the wait at once, not at the next poll: the predicates may read it.
    QMetaObject::Connection gone;
    if (owner)
        gone = QObject::connect(owner, &QObject::destroyed, &loop, [&] {
            result = WaitResult::OwnerGone;
            loop.quit();
        });
    poll.start();
    loop.exec();
    QObject::disconnect(gone);
    // An application that is ending stops every loop; the owner may have gone with it.
    if (!alive)
        return WaitResult::OwnerGone;
    return result;
}

bool pumpEventsFor(const QObject* owner)
{
    const QPointer<const QObject> alive(owner);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    return !owner || alive;
}

void pumpEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

bool Sequences::begin(const QString& name)
{
    if (m_running.contains(name))
        return false;
    m_running.insert(name);
    emit changed();
    return true;
}

void Sequences::end(const QString& name)
{
    if (m_running.remove(name))
        emit changed();
}

SequenceGuard::SequenceGuard(Sequences& sequences, const QString& name)
    : m_sequences(&sequences), m_name(name), m_started(sequences.begin(name))
{
}

SequenceGuard::~SequenceGuard()
{
    if (m_started && m_sequences)
        m_sequences->end(m_name);
}

} // namespace lintbay
