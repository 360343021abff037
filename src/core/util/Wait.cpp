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

WaitResult waitUntil(const std::function<bool()>& done, int timeoutMs, const std::function<bool()>& stop)
{
    QElapsedTimer clock;
    clock.start();
    auto check = [&]() -> std::optional<WaitResult> {
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
    poll.start();
    loop.exec();
    return result;
}

void pumpEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

} // namespace lintbay
