#pragma once

#include "HtmlDocument.h"

#include <QObject>
#include <QUrl>

#include <functional>

namespace lintbay {

// What the search window and the login panel need from a web browser. Implemented by the embedded
// engine in the GUI and by a network-only browser in core (tests and non-GUI use).
class Browser : public QObject
{
    Q_OBJECT
public:
    using QObject::QObject;
    ~Browser() override = default;

    // Returns at once; loading goes on while events run.
    virtual void navigate(const QUrl& url) = 0;
    // True while a navigation runs.
    virtual bool isBusy() const = 0;
    virtual void goBack() = 0;
    virtual void goForward() = 0;
    // Suppresses script dialogs and script-error reports.
    virtual void setSilent(bool silent) = 0;
    virtual bool isSilent() const = 0;
    // Address of the current top-level document.
    virtual QUrl url() const = 0;
    // Clicks the element in the current page; false when it cannot be found.
    virtual bool click(const ElementLocator& locator) = 0;
    // Sets the value of a form field of the current page; false when it cannot be found.
    virtual bool setValue(const ElementLocator& locator, const QString& value) = 0;
    // Loads the current page again.
    virtual void reload() = 0;
    // Whether the load whose end documentComplete told last showed a page of its own. False for one
    // that failed (an error status included, though its page is shown), brought a file to save, or
    // answered with nothing to show: the page shown before may still be there.
    virtual bool lastLoadSucceeded() const = 0;
    // Asks for a parsed snapshot of the current top-level document. The callback runs exactly once,
    // possibly before this returns; it receives nullptr when no document can be read.
    virtual void requestDocument(std::function<void(HtmlDocumentPtr)> callback) = 0;

    // Straight-code form of requestDocument: waits (running events) at most timeoutMs.
    HtmlDocumentPtr document(int timeoutMs = 5000);

signals:
    void statusTextChanged(const QString& text);
    // A navigation of the top-level document starts: asked for here, by a click or by the user. A
    // redirect within it (the server's, or the page's own refresh or script) is not another one.
    void navigationStarting(const QUrl& url);
    // The top-level document finished loading (frames do not count).
    void documentComplete(const QUrl& url);
};

} // namespace lintbay
