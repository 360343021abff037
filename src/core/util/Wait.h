#pragma once

#include <functional>

namespace lintbay {

// Why a wait ended.
enum class WaitResult { Condition, TimedOut, Stopped };

// Runs the event loop until `done` returns true, `timeoutMs` has passed or `stop` returns true.
// Conditions are polled every few milliseconds and after every event burst, so a flag written by a
// click handler ends the wait at once. A negative time-out waits without limit. Both predicates
// may be empty.
WaitResult waitUntil(const std::function<bool()>& done, int timeoutMs,
                     const std::function<bool()>& stop = {});

// Runs pending events once (the "let window messages run" step of long loops).
void pumpEvents();

} // namespace lintbay
