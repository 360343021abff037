#include "HtmlNodes.h"

#include <algorithm>
#include <vector>

using namespace Qt::StringLiterals;

namespace lintbay::htmlnodes {

bool isElement(const GumboNode* node)
{
    return node && (node->type == GUMBO_NODE_ELEMENT || node->type == GUMBO_NODE_TEMPLATE);
}

QString pieceText(const GumboStringPiece& piece)
{
    if (!piece.data || piece.length == 0)
        return {};
    return QString::fromUtf8(piece.data, qsizetype(piece.length));
}

QString lowerTagName(const GumboNode* node)
{
    const GumboElement& el = node->v.element;
    if (el.tag != GUMBO_TAG_UNKNOWN)
        return QString::fromLatin1(gumbo_normalized_tagname(el.tag));
    GumboStringPiece name = el.original_tag;
    if (!name.data || name.length == 0)
        return {};
    gumbo_tag_from_original_text(&name);
    return pieceText(name).toLower();
}

QString attributeOf(const GumboNode* node, const char* name)
{
    if (!isElement(node))
        return {};
    const GumboAttribute* attr = gumbo_get_attribute(&node->v.element.attributes, name);
    return attr ? QString::fromUtf8(attr->value) : QString();
}

bool hasAttribute(const GumboNode* node, const char* name)
{
    return isElement(node) && gumbo_get_attribute(&node->v.element.attributes, name) != nullptr;
}

namespace {

bool isCollapsibleSpace(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\r' || c == u'\f';
}

// Builds text the way a layout engine would show it: runs of white space collapse to one space,
// spaces at line edges vanish, and blocks ask for a number of line breaks that merge with breaks
// already written.
class TextBuilder
{
public:
    void addCollapsed(const QString& text)
    {
        for (QChar c : text) {
            if (isCollapsibleSpace(c)) {
                m_space = true;
            } else {
                flushPending();
                m_out += c;
            }
        }
    }

    void addPreserved(QString text)
    {
        text.replace(u"\r\n"_s, u"\n"_s);
        text.replace(u'\r', u'\n');
        if (text.isEmpty())
            return;
        flushPending();
        m_out += text;
    }

    void lineBreak()
    {
        flushPending();
        m_space = false;
        m_out += u'\n';
    }

    void cellSeparator()
    {
        flushPending();
        m_space = false;
        if (!m_out.isEmpty() && !m_out.endsWith(u'\n'))
            m_out += u'\t';
    }

    void requireBreaks(int count) { m_breaks = std::max(m_breaks, count); }
    qsizetype size() const { return m_out.size(); }

    QString result() const { return m_out; }

private:
    void flushPending()
    {
        if (m_breaks > 0) {
            if (!m_out.isEmpty()) {
                // Only as many as are asked for are counted: a run of breaks grows with every one.
                int have = 0;
                for (qsizetype i = m_out.size() - 1; i >= 0 && have < m_breaks && m_out.at(i) == u'\n'; --i)
                    ++have;
                for (int i = have; i < m_breaks; ++i)
                    m_out += u'\n';
            }
            m_breaks = 0;
            m_space = false;
        } else if (m_space) {
            if (!m_out.isEmpty() && !m_out.endsWith(u'\n') && !m_out.endsWith(u'\t'))
                m_out += u' ';
            m_space = false;
        }
    }

    QString m_out;
    bool m_space = false;
    int m_breaks = 0;
};

// Elements whose content is never rendered as text.
bool isUnrendered(const GumboNode* node)
{
    switch (node->v.element.tag) {
    case GUMBO_TAG_HEAD:
    case GUMBO_TAG_SCRIPT:
    case GUMBO_TAG_STYLE:
    case GUMBO_TAG_TEMPLATE:
    case GUMBO_TAG_NOSCRIPT:
    case GUMBO_TAG_TITLE:
    case GUMBO_TAG_IFRAME:
    case GUMBO_TAG_TEXTAREA:
        return true;
    default:
        break;
    }
    if (hasAttribute(node, "hidden"))
        return true;
    QString style = attributeOf(node, "style").toLower();
    style.remove(u' ');
    return style.contains(u"display:none"_s);
}

// Line breaks a block asks for before and after itself; 0 for inline content.
int blockBreaks(GumboTag tag)
{
    switch (tag) {
    case GUMBO_TAG_P:
        return 2;
    case GUMBO_TAG_ADDRESS:
    case GUMBO_TAG_ARTICLE:
    case GUMBO_TAG_ASIDE:
    case GUMBO_TAG_BLOCKQUOTE:
    case GUMBO_TAG_BODY:
    case GUMBO_TAG_CAPTION:
    case GUMBO_TAG_CENTER:
    case GUMBO_TAG_DD:
    case GUMBO_TAG_DETAILS:
    case GUMBO_TAG_DIR:
    case GUMBO_TAG_DIV:
    case GUMBO_TAG_DL:
    case GUMBO_TAG_DT:
    case GUMBO_TAG_FIELDSET:
    case GUMBO_TAG_FIGCAPTION:
    case GUMBO_TAG_FIGURE:
    case GUMBO_TAG_FOOTER:
    case GUMBO_TAG_FORM:
    case GUMBO_TAG_H1:
    case GUMBO_TAG_H2:
    case GUMBO_TAG_H3:
    case GUMBO_TAG_H4:
    case GUMBO_TAG_H5:
    case GUMBO_TAG_H6:
    case GUMBO_TAG_HEADER:
    case GUMBO_TAG_HGROUP:
    case GUMBO_TAG_HR:
    case GUMBO_TAG_HTML:
    case GUMBO_TAG_LEGEND:
    case GUMBO_TAG_LI:
    case GUMBO_TAG_LISTING:
    case GUMBO_TAG_MAIN:
    case GUMBO_TAG_MENU:
    case GUMBO_TAG_NAV:
    case GUMBO_TAG_OL:
    case GUMBO_TAG_OPTGROUP:
    case GUMBO_TAG_OPTION:
    case GUMBO_TAG_PRE:
    case GUMBO_TAG_SECTION:
    case GUMBO_TAG_SUMMARY:
    case GUMBO_TAG_TABLE:
    case GUMBO_TAG_TBODY:
    case GUMBO_TAG_TFOOT:
    case GUMBO_TAG_THEAD:
    case GUMBO_TAG_TR:
    case GUMBO_TAG_UL:
        return 1;
    default:
        return 0;
    }
}

bool keepsWhitespace(GumboTag tag)
{
    return tag == GUMBO_TAG_PRE || tag == GUMBO_TAG_LISTING || tag == GUMBO_TAG_PLAINTEXT;
}

bool isCell(const GumboNode* node)
{
    return isElement(node) && (node->v.element.tag == GUMBO_TAG_TD || node->v.element.tag == GUMBO_TAG_TH);
}

bool hasCellBefore(const GumboNode* node)
{
    const GumboNode* parent = node->parent;
    if (!parent || !isElement(parent))
        return false;
    const GumboVector& siblings = parent->v.element.children;
    for (unsigned i = 0; i < siblings.length && i < node->index_within_parent; ++i) {
        if (isCell(static_cast<const GumboNode*>(siblings.data[i])))
            return true;
    }
    return false;
}

QString textContent(const GumboNode* root)
{
    QString out;
    std::vector<const GumboNode*> stack{root};
    while (!stack.empty()) {
        const GumboNode* node = stack.back();
        stack.pop_back();
        if (!isElement(node)) {
            if (node->type != GUMBO_NODE_COMMENT && node->v.text.text)
                out += QString::fromUtf8(node->v.text.text);
            continue;
        }
        const GumboVector& children = node->v.element.children;
        for (unsigned i = children.length; i-- > 0;)
            stack.push_back(static_cast<const GumboNode*>(children.data[i]));
    }
    return out;
}

} // namespace

// Iterative so that absurdly deep pages cannot exhaust the stack.
QString renderText(const GumboNode* root, qsizetype limit)
{
    if (isUnrendered(root))
        return textContent(root);

    struct Frame
    {
        const GumboNode* node;
        unsigned next;
    };
    TextBuilder text;
    int preserveDepth = 0;
    std::vector<Frame> stack;

    auto enter = [&](const GumboNode* node) {
        if (!isElement(node)) {
            if (node->type == GUMBO_NODE_COMMENT || !node->v.text.text)
                return;
            const QString s = QString::fromUtf8(node->v.text.text);
            if (preserveDepth > 0)
                text.addPreserved(s);
            else
                text.addCollapsed(s);
            return;
        }
        if (node != root && isUnrendered(node))
            return;
        const GumboTag tag = node->v.element.tag;
        if (tag == GUMBO_TAG_BR) {
            text.lineBreak();
            return;
        }
        if (node != root && isCell(node) && hasCellBefore(node))
            text.cellSeparator();
        text.requireBreaks(blockBreaks(tag));
        if (keepsWhitespace(tag))
            ++preserveDepth;
        stack.push_back({node, 0});
    };

    enter(root);
    while (!stack.empty()) {
        if (limit >= 0 && text.size() > limit)
            break; // enough to tell what the caller wants to know; the rest is never rendered
        Frame& top = stack.back();
        const GumboVector& children = top.node->v.element.children;
        if (top.next < children.length) {
            const GumboNode* child = static_cast<const GumboNode*>(children.data[top.next++]);
            enter(child);
            continue;
        }
        const GumboTag tag = top.node->v.element.tag;
        stack.pop_back();
        text.requireBreaks(blockBreaks(tag));
        if (keepsWhitespace(tag))
            --preserveDepth;
    }
    return text.result();
}

} // namespace lintbay::htmlnodes
