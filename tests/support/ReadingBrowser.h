#pragma once

#include "app/HeadlessBrowser.h"

#include <QTimer>

#include <functional>
#include <utility>

namespace lintbay::test {

// A headless browser that hands out its page as a real one's script does: after `delayMs`, and,
// once `unreadable` is set, with nothing the next time (the page went on before it was read).
class ReadingBrowser : public HeadlessBrowser
{
public:
    using HeadlessBrowser::HeadlessBrowser;
    int delayMs = 0;
    bool unreadable = false;
    void requestDocument(std::function<void(HtmlDocumentPtr)> callback) override
    {
        if (std::exchange(unreadable, false)) {
            callback(nullptr);
            return;
        }
        if (delayMs <= 0) {
            HeadlessBrowser::requestDocument(std::move(callback));
            return;
        }
        QTimer::singleShot(delayMs, this, [this, callback] { HeadlessBrowser::requestDocument(callback); });
    }
};

} // namespace lintbay::test
