#pragma once

#include <QList>
#include <QString>
#include <QUrl>

#include <memory>

struct GumboInternalNode;

namespace lintbay {

class HtmlDocument;

// Finds one element again in a live page: by id when the element has one, else as item `index` of
// the document's getElementsByTagName(tag). The embedded browser clicks through it.
struct ElementLocator
{
    ElementLocator() = default;
    ElementLocator(const QString& id, const QString& tag, int index) : id(id), tag(tag), index(index) {}

    QString id;
    QString tag;   // lower case
    int index = -1;
    // The element's own href and name attributes, where it has them. A page its scripts built may
    // count its elements otherwise than the snapshot parsed from it (an anchor inside an anchor
    // comes back as two): the live page's element at `index` is taken if it carries them, else the
    // first of its kind that does, else the one at `index` all the same.
    QString href;
    QString name;
    bool isValid() const { return !id.isEmpty() || (!tag.isEmpty() && index >= 0); }
};

// A read-only element of a parsed snapshot. A null element (isNull) answers every query with an
// empty value, so callers walk the tree without checks, as the page readers expect.
class HtmlElement
{
public:
    HtmlElement() = default;

    bool isNull() const { return m_node == nullptr; }
    // The same element of the same document.
    friend bool operator==(const HtmlElement& a, const HtmlElement& b) { return a.m_node == b.m_node; }
    QString tagName() const;            // upper case, as the document model reports it
    QString id() const;
    QString className() const;
    QString attribute(const QString& name) const;
    QString innerText() const;          // rendered-like text: whitespace collapsed, <br> and blocks break lines
    // The start of innerText(), enough to compare it with a text of at most `limit` characters: the
    // whole text when it is that short, else a longer start of it (a large subtree is not rendered).
    QString innerTextStart(qsizetype limit) const;
    QString href() const;               // anchors: the href resolved against the document's URL
    QString outerHTML() const;
    QList<HtmlElement> getElementsByTagName(const QString& tag) const; // descendants, document order
    HtmlElement firstByTagName(const QString& tag) const;
    HtmlElement parentElement() const;  // null for the root element
    ElementLocator locator() const;

private:
    friend class HtmlDocument;
    HtmlElement(std::shared_ptr<const HtmlDocument> doc, GumboInternalNode* node)
        : m_doc(std::move(doc)), m_node(node) {}
    std::shared_ptr<const HtmlDocument> m_doc;
    GumboInternalNode* m_node = nullptr;
};

// A parsed snapshot of one page (HTML5 parser, the tree a browser builds).
class HtmlDocument : public std::enable_shared_from_this<HtmlDocument>
{
public:
    static std::shared_ptr<HtmlDocument> parse(const QString& html, const QUrl& url);
    ~HtmlDocument();
    HtmlDocument(const HtmlDocument&) = delete;
    HtmlDocument& operator=(const HtmlDocument&) = delete;

    QUrl url() const { return m_url; }
    QString URL() const { return m_url.toString(); }
    QList<HtmlElement> getElementsByTagName(const QString& tag) const;
    HtmlElement getElementById(const QString& id) const;
    HtmlElement documentElement() const;
    HtmlElement find(const ElementLocator& locator) const;
    const QString& source() const { return m_source; }

private:
    struct Private;
    HtmlDocument(const QString& html, const QUrl& url);
    friend class HtmlElement;
    QUrl m_url;
    QString m_source;
    std::unique_ptr<Private> d;
};

using HtmlDocumentPtr = std::shared_ptr<const HtmlDocument>;

} // namespace lintbay
