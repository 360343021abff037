#pragma once

#include <QObject>
#include <QPointer>
#include <QSet>
#include <QString>

#include <functional>

namespace lintbay {

// Why a wait ended.
enum class WaitResult { Condition, TimedOut, Stopped, OwnerGone };

// Runs the event loop until `done` returns true, `timeoutMs` has passed, `stop` returns true or
// `owner` is destroyed. Every wait belongs to the object whose sequence it is part of: events that
// run during the wait may close a window and free it, and a sequence must not go on writing into
// an object that is gone. On OwnerGone the caller returns at once without touching the owner.
// Conditions are polled every few milliseconds, so a flag written by a click handler ends the wait
// at once. A negative time-out waits without limit. Both predicates may be empty.
[[nodiscard]] WaitResult waitUntil(const QObject* owner, const std::function<bool()>& done, int timeoutMs,
                                   const std::function<bool()>& stop = {});

// Runs pending events once (the "let window messages run" step of long loops). False when the
// owner was destroyed meanwhile.
[[nodiscard]] bool pumpEventsFor(const QObject* owner);

// Runs pending events once, for code that owns nothing an event could free (start-up, tests).
void pumpEvents();

// The long sequences of one owner (a window, a download session) that run now, by name: a
// sequence that is running refuses to start again, and the owner refuses to close while any runs.
class Sequences : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;

    bool isRunning() const { return !m_running.isEmpty(); }
    bool isRunning(const QString& name) const { return m_running.contains(name); }

signals:
    // A sequence started or ended.
    void changed();

private:
    friend class SequenceGuard;
    bool begin(const QString& name);
    void end(const QString& name);

    QSet<QString> m_running;
};

// Marks a sequence as running for its lifetime; false (and nothing marked) when it runs already.
// Safe when the owner of the Sequences goes away before the guard.
class SequenceGuard
{
public:
    SequenceGuard(Sequences& sequences, const QString& name);
    ~SequenceGuard();
    SequenceGuard(const SequenceGuard&) = delete;
    SequenceGuard& operator=(const SequenceGuard&) = delete;

    explicit operator bool() const { return m_started; }

private:
    QPointer<Sequences> m_sequences;
    QString m_name;
    bool m_started = false;
};

} // namespace lintbay
