#include "Browser.h"

#include "util/Wait.h"


namespace lintbay {

HtmlDocumentPtr Browser::document(int timeoutMs)
{
    // The callback may outlive this frame when the wait times out; it only writes through shared state.
    auto state = std::make_shared<std::pair<bool, HtmlDocumentPtr>>(false, nullptr);
    requestDocument([state](HtmlDocumentPtr doc) {
        state->first = true;
        state->second = std::move(doc);
    });
    (void)waitUntil(this, [&] { return state->first; }, timeoutMs);
    return state->second;
}

} // namespace lintbay
