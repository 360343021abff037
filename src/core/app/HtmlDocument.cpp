#include "HtmlDocument.h"

#include "HtmlNodes.h"

#include <QHash>
#include <QThread>

#include <algorithm>
#include <climits>
#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

namespace lintbay {

using namespace htmlnodes;

namespace {

// Subtrees the page's script-enabled document model does not hold as elements: template contents
// live in a separate fragment and noscript content is plain text there.
bool hidesDescendants(const GumboNode* node)
{
    return node->v.element.tag == GUMBO_TAG_TEMPLATE || node->v.element.tag == GUMBO_TAG_NOSCRIPT;
}

// The number of levels of the tree under `root`, every kind of subtree counted.
int treeDepth(const GumboNode* root)
{
    int deepest = 0;
    std::vector<std::pair<const GumboNode*, int>> stack{{root, 1}};
    while (!stack.empty()) {
        const auto [node, depth] = stack.back();
        stack.pop_back();
        deepest = std::max(deepest, depth);
        const GumboVector* children = nullptr;
        if (node->type == GUMBO_NODE_DOCUMENT)
            children = &node->v.document.children;
        else if (node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE)
            children = &node->v.element.children;
        for (unsigned i = 0; children && i < children->length; ++i)
            stack.push_back({static_cast<const GumboNode*>(children->data[i]), depth + 1});
    }
    return deepest;
}

// The parser frees its tree by recursion, a few dozen bytes of stack a level: a page nested deep
// enough (a script can build one, and the page's snapshot keeps it) would exhaust the stack of
// whoever lets go of the document. A deep tree is freed on a thread with a stack that fits it.
void freeTree(GumboOutput* output)
{
    constexpr int kShallow = 2000;
    constexpr qint64 kStackPerLevel = 128;
    const int depth = treeDepth(output->document);
    if (depth <= kShallow) {
        gumbo_destroy_output(&kGumboDefaultOptions, output);
        return;
    }
    const std::unique_ptr<QThread> freeing(
        QThread::create([output] { gumbo_destroy_output(&kGumboDefaultOptions, output); }));
    freeing->setStackSize(uint(std::min<qint64>(depth * kStackPerLevel + (1 << 20), INT_MAX)));
    // A stack that cannot be had leaves the tree unfreed, which beats a crash.
    freeing->start();
    freeing->wait();
}

} // namespace

// ---- the document -------------------------------------------------------------------------------

struct HtmlDocument::Private
{
    struct NodeInfo
    {
        int order = -1;     // position in `all`
        int subtreeEnd = 0; // one past the order of the last descendant
        int tagIndex = -1;  // position in byTag[name]
    };

    QByteArray utf8; // gumbo's positions and string pieces point into this buffer
    GumboOutput* output = nullptr;
    std::vector<GumboNode*> all;
    QHash<const GumboNode*, NodeInfo> info;
    QHash<QString, std::vector<int>> byTag; // lower-case name -> orders
    QHash<QString, GumboNode*> byId;
    QUrl baseUrl;

    ~Private()
    {
        if (output)
            freeTree(output);
    }

    void index(GumboNode* root);
    int startOffset(const GumboNode* node) const;
    int endOffset(const GumboNode* node) const;
    QString slice(int from, int to) const;
};

void HtmlDocument::Private::index(GumboNode* root)
{
    struct Frame
    {
        GumboNode* node;
        unsigned next;
    };
    std::vector<Frame> stack;
    auto visit = [&](GumboNode* node) {
        const int order = int(all.size());
        all.push_back(node);
        const QString name = lowerTagName(node);
        std::vector<int>& list = byTag[name];
        info.insert(node, NodeInfo{order, order + 1, int(list.size())});
        list.push_back(order);
        const QString id = attributeOf(node, "id");
        if (!id.isEmpty() && !byId.contains(id))
            byId.insert(id, node);
        if (!hidesDescendants(node))
            stack.push_back({node, 0});
        else
            info[node].subtreeEnd = order + 1;
    };
    if (!isElement(root))
        return;
    visit(root);
    while (!stack.empty()) {
        Frame& top = stack.back();
        const GumboVector& children = top.node->v.element.children;
        if (top.next < children.length) {
            GumboNode* child = static_cast<GumboNode*>(children.data[top.next++]);
            if (isElement(child))
                visit(child);
            continue;
        }
        info[top.node].subtreeEnd = int(all.size());
        stack.pop_back();
    }
}

int HtmlDocument::Private::startOffset(const GumboNode* node) const
{
    const int size = int(utf8.size());
    if (isElement(node))
        return std::clamp(int(node->v.element.start_pos.offset), 0, size);
    return std::clamp(int(node->v.text.start_pos.offset), 0, size);
}

// Where the element's source ends. An end tag only counts when it is the element's own: the parser
// also records the tag of an ancestor that closed it implicitly, and then the element ends where
// that tag starts (as it does where a sibling start tag closed it).
int HtmlDocument::Private::endOffset(const GumboNode* node) const
{
    const int size = int(utf8.size());
    if (!isElement(node)) {
        const int start = startOffset(node);
        return std::clamp(start + int(node->v.text.original_text.length), start, size);
    }
    const GumboElement& el = node->v.element;
    const int start = startOffset(node);
    int end = int(el.end_pos.offset);
    GumboStringPiece endTag = el.original_end_tag;
    if (endTag.data && endTag.length > 0 && endTag.data >= utf8.constData() &&
        endTag.data < utf8.constData() + size) {
        GumboStringPiece name = endTag;
        gumbo_tag_from_original_text(&name);
        if (pieceText(name).compare(lowerTagName(node), Qt::CaseInsensitive) == 0)
            end = int(endTag.data - utf8.constData()) + int(endTag.length);
    }
    end = std::max(end, start + int(el.original_tag.length));
    return std::clamp(end, start, size);
}

QString HtmlDocument::Private::slice(int from, int to) const
{
    if (from < 0 || to <= from || to > utf8.size())
        return {};
    return QString::fromUtf8(utf8.constData() + from, to - from);
}

HtmlDocument::HtmlDocument(const QString& html, const QUrl& url)
    : m_url(url), m_source(html), d(std::make_unique<Private>())
{
    d->utf8 = html.toUtf8();
    GumboOptions options = kGumboDefaultOptions;
    options.max_errors = 0; // parse errors are of no interest and only cost memory
    d->output = gumbo_parse_with_options(&options, d->utf8.constData(), size_t(d->utf8.size()));
    d->baseUrl = url;
    if (!d->output)
        return;
    d->index(d->output->root);
    // A <base href> changes what relative links mean, as in a browser.
    const auto bases = d->byTag.constFind(u"base"_s);
    if (bases != d->byTag.cend()) {
        for (int order : *bases) {
            const GumboNode* node = d->all[size_t(order)];
            if (hasAttribute(node, "href")) {
                QString href = attributeOf(node, "href").trimmed();
                href.remove(u'\t').remove(u'\n').remove(u'\r');
                d->baseUrl = url.resolved(QUrl(href));
                break;
            }
        }
    }
}

HtmlDocument::~HtmlDocument() = default;

std::shared_ptr<HtmlDocument> HtmlDocument::parse(const QString& html, const QUrl& url)
{
    return std::shared_ptr<HtmlDocument>(new HtmlDocument(html, url));
}

QList<HtmlElement> HtmlDocument::getElementsByTagName(const QString& tag) const
{
    QList<HtmlElement> result;
    const QString name = tag.toLower();
    auto self = shared_from_this();
    if (name == u"*") {
        result.reserve(qsizetype(d->all.size()));
        for (GumboNode* node : d->all)
            result.append(HtmlElement(self, node));
        return result;
    }
    const auto it = d->byTag.constFind(name);
    if (it == d->byTag.cend())
        return result;
    result.reserve(qsizetype(it->size()));
    for (int order : *it)
        result.append(HtmlElement(self, d->all[size_t(order)]));
    return result;
}

HtmlElement HtmlDocument::getElementById(const QString& id) const
{
    if (id.isEmpty())
        return {};
    GumboNode* node = d->byId.value(id);
    return node ? HtmlElement(shared_from_this(), node) : HtmlElement();
}

HtmlElement HtmlDocument::documentElement() const
{
    if (!d->output || !isElement(d->output->root))
        return {};
    return HtmlElement(shared_from_this(), d->output->root);
}

HtmlElement HtmlDocument::find(const ElementLocator& locator) const
{
    if (!locator.id.isEmpty()) {
        HtmlElement byId = getElementById(locator.id);
        if (!byId.isNull())
            return byId;
    }
    if (locator.tag.isEmpty() || locator.index < 0)
        return {};
    const auto it = d->byTag.constFind(locator.tag.toLower());
    if (it == d->byTag.cend() || size_t(locator.index) >= it->size())
        return {};
    return HtmlElement(shared_from_this(), d->all[size_t((*it)[size_t(locator.index)])]);
}

// ---- elements -----------------------------------------------------------------------------------

QString HtmlElement::tagName() const
{
    if (!m_node)
        return {};
    const QString name = lowerTagName(m_node);
    switch (m_node->v.element.tag_namespace) {
    case GUMBO_NAMESPACE_HTML:
        return name.toUpper();
    case GUMBO_NAMESPACE_SVG: {
        // Foreign elements keep their case in the document model (linearGradient, foreignObject).
        GumboStringPiece original = m_node->v.element.original_tag;
        if (original.data && original.length > 0) {
            gumbo_tag_from_original_text(&original);
            if (const char* fixed = gumbo_normalize_svg_tagname(&original))
                return QString::fromLatin1(fixed);
        }
        return name;
    }
    default:
        return name;
    }
}

QString HtmlElement::id() const
{
    return attributeOf(m_node, "id");
}

QString HtmlElement::className() const
{
    return attributeOf(m_node, "class");
}

QString HtmlElement::attribute(const QString& name) const
{
    if (!m_node || name.isEmpty())
        return {};
    return attributeOf(m_node, name.toLower().toUtf8().constData());
}

QString HtmlElement::innerText() const
{
    return m_node ? renderText(m_node) : QString();
}

QString HtmlElement::innerTextStart(qsizetype limit) const
{
    return m_node ? renderText(m_node, limit) : QString();
}

QString HtmlElement::href() const
{
    if (!hasAttribute(m_node, "href"))
        return {};
    // URL parsing drops surrounding spaces and any tab or line break inside the value.
    QString value = attributeOf(m_node, "href").trimmed();
    value.remove(u'\t').remove(u'\n').remove(u'\r');
    const QUrl relative(value);
    const QUrl& base = m_doc->d->baseUrl;
    const QUrl resolved = base.isValid() && !base.isEmpty() ? base.resolved(relative) : relative;
    return resolved.toString(QUrl::FullyEncoded);
}

QString HtmlElement::outerHTML() const
{
    if (!m_node)
        return {};
    const HtmlDocument::Private& d = *m_doc->d;
    const GumboElement& el = m_node->v.element;
    if (d.output && m_node == d.output->root) {
        // Without both of its own tags in the source the root cannot be cut out of it.
        const bool ownStart = el.original_tag.length > 0;
        GumboStringPiece endName = el.original_end_tag;
        bool ownEnd = false;
        if (endName.data && endName.length > 0) {
            gumbo_tag_from_original_text(&endName);
            ownEnd = pieceText(endName).compare(u"html"_s, Qt::CaseInsensitive) == 0;
        }
        if (!ownStart || !ownEnd)
            return m_doc->source();
    }
    return d.slice(d.startOffset(m_node), d.endOffset(m_node));
}

QList<HtmlElement> HtmlElement::getElementsByTagName(const QString& tag) const
{
    QList<HtmlElement> result;
    if (!m_node)
        return result;
    const HtmlDocument::Private& d = *m_doc->d;
    const auto info = d.info.constFind(m_node);
    if (info == d.info.cend())
        return result;
    const int first = info->order + 1;
    const int end = info->subtreeEnd;
    const QString name = tag.toLower();
    if (name == u"*") {
        for (int order = first; order < end; ++order)
            result.append(HtmlElement(m_doc, d.all[size_t(order)]));
        return result;
    }
    const auto list = d.byTag.constFind(name);
    if (list == d.byTag.cend())
        return result;
    // Descendants occupy one contiguous run of document order, so the tag's list is cut by search.
    auto lo = std::lower_bound(list->begin(), list->end(), first);
    auto hi = std::lower_bound(lo, list->end(), end);
    result.reserve(qsizetype(hi - lo));
    for (auto it = lo; it != hi; ++it)
        result.append(HtmlElement(m_doc, d.all[size_t(*it)]));
    return result;
}

HtmlElement HtmlElement::firstByTagName(const QString& tag) const
{
    if (!m_node)
        return {};
    const HtmlDocument::Private& d = *m_doc->d;
    const auto info = d.info.constFind(m_node);
    if (info == d.info.cend())
        return {};
    const int first = info->order + 1;
    const int end = info->subtreeEnd;
    const QString name = tag.toLower();
    if (name == u"*")
        return first < end ? HtmlElement(m_doc, d.all[size_t(first)]) : HtmlElement();
    const auto list = d.byTag.constFind(name);
    if (list == d.byTag.cend())
        return {};
    auto it = std::lower_bound(list->begin(), list->end(), first);
    if (it == list->end() || *it >= end)
        return {};
    return HtmlElement(m_doc, d.all[size_t(*it)]);
}

HtmlElement HtmlElement::parentElement() const
{
    if (!m_node || !isElement(m_node->parent))
        return {};
    return HtmlElement(m_doc, m_node->parent);
}

ElementLocator HtmlElement::locator() const
{
    ElementLocator loc;
    if (!m_node)
        return loc;
    const HtmlDocument::Private& d = *m_doc->d;
    const auto info = d.info.constFind(m_node);
    if (info == d.info.cend())
        return loc;
    // The position among same-named elements is always filled in; the id only when it names this
    // element alone, since a repeated id would lead back to its first holder.
    loc.tag = lowerTagName(m_node);
    loc.index = info->tagIndex;
    loc.href = attribute(u"href"_s);
    loc.name = attribute(u"name"_s);
    const QString ownId = id();
    if (!ownId.isEmpty() && d.byId.value(ownId) == m_node)
        loc.id = ownId;
    return loc;
}

} // namespace lintbay
