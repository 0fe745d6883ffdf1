#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// libxml2 behind the few document operations the runs need. Node handles point into their
// Document and are valid while it lives.
struct _xmlDoc;
struct _xmlNode;

namespace zendral::xml
{

class Node;

class NodeList
{
public:
    NodeList() = default;
    explicit NodeList(std::vector<Node> nodes);

    std::size_t length() const;
    Node item(std::size_t i) const;

    auto begin() const { return m_nodes.begin(); }
    auto end() const { return m_nodes.end(); }

private:
    std::vector<Node> m_nodes;
};

class Node
{
public:
    Node() = default;
    explicit Node(_xmlNode* node)
        : m_node(node)
    {
    }

    explicit operator bool() const { return m_node != nullptr; }
    // The name with its prefix, as written; for text and comments libxml2's own ("text",
    // "comment").
    std::string name() const;
    // Whether the node is an element, not text, a comment or another kind of node.
    bool isElement() const;

    // Child elements named `childName`, in document order.
    NodeList selectNodes(std::string_view childName) const;
    // Every child node in document order: elements, text, comments and the rest.
    NodeList childNodes() const;

    // The attribute's value as UTF-8 text, or nothing when the element has no such attribute
    // (an empty attribute gives an empty string).
    std::optional<std::string> getNamedItem(std::string_view name) const;
    // The element's attributes, names as getNamedItem takes them and values as it gives them, in
    // document order.
    std::vector<std::pair<std::string, std::string>> attributes() const;

    // The node's text content as UTF-8.
    std::string text() const;

    // Appends `child` (made by the same document's createElement) and returns it.
    Node appendChild(Node child);

    // Sets an attribute from UTF-8 text. An existing attribute keeps its place; only its value
    // changes.
    void setAttribute(std::string_view name, std::string_view value);

    _xmlNode* raw() const { return m_node; }

private:
    _xmlNode* m_node = nullptr;
};

class Document
{
public:
    // An empty document without a document element.
    Document();
    Document(Document&&) noexcept;
    Document& operator=(Document&&) noexcept;
    ~Document();

    // Parses a file. UTF-8, UTF-16 with a byte-order mark and any encoding the document declares
    // are understood. Nothing is fetched from the network and no external DTD or entity is
    // loaded. A document that is not well-formed throws Error naming the file, line and column.
    // Only a regular file of at most 256 MB is read: anything else (a FIFO, a device) is refused
    // with an Error naming it, without waiting.
    static Document load(const std::filesystem::path& file);
    // The same for a document held in memory; `name` stands for the file in messages.
    static Document loadMemory(std::string_view contents, const std::string& name);

    // Absolute child path such as "/CENTRE/AULES/AULA": matching elements in document order.
    NodeList selectNodes(std::string_view path) const;
    // The first element on an absolute child path, or a null node.
    Node selectSingleNode(std::string_view path) const;
    // The document element, or a null node when there is none.
    Node documentElement() const;
    // The nodes at the top of the document: the document element and any comment, processing
    // instruction or document type beside it.
    NodeList childNodes() const;

    Node createElement(std::string_view name);
    // Appending to the document makes `child` the document element.
    Node appendChild(Node child);

    // The document as UTF-8 without an XML declaration.
    std::string toString() const;
    // Writes toString() to `file`, replacing it atomically.
    void save(const std::filesystem::path& file) const;

private:
    struct Deleter
    {
        void operator()(_xmlDoc* doc) const;
    };
    std::unique_ptr<_xmlDoc, Deleter> m_doc;
};

// Attribute text as the import stages read it: the value trimmed of characters up to and
// including the blank at both ends and converted to windows-1252 as tables store text
// (cp1252::FromUtf8ForTable: a control character left inside, such as a line feed written &#10;,
// becomes "?"). An absent attribute reads as empty text.
std::string AttributeText(const Node& element, std::string_view name);

} // namespace zendral::xml
