#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QPromise>
#include <QThreadPool>

#include <memory>
#include <type_traits>
#include <utility>

namespace lintbay {

// Runs `work` on the global thread pool and then `done` (with work's result, if it has one) on
// `owner`'s thread. The watcher returned belongs to `owner`: when the owner goes first, `done` never
// runs; disconnecting the watcher from the owner (and deleting it) drops a result no longer wanted.
// `work` must share nothing mutable with the owner's thread.
// The same on a pool of the caller's, for work that must not hold up what the global pool runs.
template <typename Work, typename Done>
QFutureWatcherBase* runBeside(QObject* owner, QThreadPool* pool, Work work, Done done)
{
    using Result = std::invoke_result_t<Work&>;
    auto promise = std::make_shared<QPromise<Result>>();
    auto* watcher = new QFutureWatcher<Result>(owner);
    QObject::connect(watcher, &QFutureWatcherBase::finished, owner,
                     [watcher, done = std::move(done)]() mutable {
                         watcher->deleteLater();
                         if constexpr (std::is_void_v<Result>)
                             done();
                         else
                             done(watcher->future().resultCount() > 0 ? watcher->result() : Result());
                     });
    watcher->setFuture(promise->future());
    promise->start();
    pool->start([promise, work = std::move(work)]() mutable {
        if constexpr (std::is_void_v<Result>)
            work();
        else
            promise->addResult(work());
        promise->finish();
    });
    return watcher;
}

template <typename Work, typename Done>
QFutureWatcherBase* runBeside(QObject* owner, Work work, Done done)
{
    return runBeside(owner, QThreadPool::globalInstance(), std::move(work), std::move(done));
}

} // namespace lintbay
