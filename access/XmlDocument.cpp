#include "XmlDocument.h"

#include "AtomicFile.h"
#include "BoundedRead.h"
#include "CodePage.h"
#include "Error.h"

#include <cassert>
#include <climits>
#include <libxml/encoding.h>
#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xmlerror.h>
#include <libxml/xmlsave.h>
#include <mutex>
#include <new>
#include <span>

namespace zendral::xml
{
namespace
{

struct XmlCharFree
{
    void operator()(xmlChar* p) const { xmlFree(p); }
};
using XmlString = std::unique_ptr<xmlChar, XmlCharFree>;

struct ParserCtxtFree
{
    void operator()(xmlParserCtxt* ctxt) const { xmlFreeParserCtxt(ctxt); }
};

struct SaveCtxtClose
{
    void operator()(xmlSaveCtxt* ctxt) const { xmlSaveClose(ctxt); }
};

struct BufferFree
{
    void operator()(xmlBuffer* buffer) const { xmlBufferFree(buffer); }
};

// No network, no entity substitution, no DTD loading and libxml2's default size limits.
constexpr int kParseOptions = XML_PARSE_NONET;

// The largest file load() reads: GestIB's centre documents take a few megabytes.
constexpr std::uint64_t kMaxDocument = 256 * kMegabyte;

std::string_view View(const xmlChar* s)
{
    return s == nullptr ? std::string_view() : std::string_view(reinterpret_cast<const char*>(s));
}

std::string TakeString(XmlString s) { return std::string(View(s.get())); }

// The first error libxml2 reported, and where. Later errors mostly follow from the first one.
struct Failure
{
    bool set = false;
    int line = 0;
    int column = 0;
    std::string message;
    // libxml2's error code and the names and number it gives with some errors; code 0 for our own
    // messages, which are already in Spanish.
    int code = 0;
    std::string name1;
    std::string name2;
    int number = 0;

    void record(int atLine, int atColumn, std::string_view text)
    {
        if (set) {
            return;
        }
        set = true;
        line = atLine;
        column = atColumn;
        // libxml2 ends its messages with a line feed.
        message = std::string(cp1252::Trim(text));
    }

    void record(const xmlError& error)
    {
        if (set) {
            return;
        }
        // int2 carries the column for parser errors.
        record(error.line, error.int2, View(reinterpret_cast<const xmlChar*>(error.message)));
        code = error.code;
        name1 = error.str1 != nullptr ? error.str1 : "";
        name2 = error.str2 != nullptr ? error.str2 : "";
        number = error.int1;
    }

    void recordAt(const xmlParserCtxt* ctxt, std::string_view text)
    {
        const xmlParserInput* input = ctxt != nullptr ? ctxt->input : nullptr;
        record(input != nullptr ? input->line : 0, input != nullptr ? input->col : 0, text);
    }
};

// The failure that libxml2's callbacks on this thread write to while a parse or a save runs.
thread_local Failure* t_failure = nullptr;

void RecordError(const xmlError* error)
{
    if (t_failure == nullptr || error == nullptr || error->level < XML_ERR_ERROR) {
        return;
    }
    t_failure->record(*error);
}

void OnStructuredError(void* /*userData*/, xmlErrorPtr error) { RecordError(error); }

void IgnoreGenericError(void* /*ctx*/, const char* /*msg*/, ...) {}

// Routes every message libxml2 raises on this thread into `failure` while the object lives, so
// that nothing is printed to stderr, and puts the previous handlers back afterwards.
class ErrorCapture
{
public:
    explicit ErrorCapture(Failure& failure)
        : m_previousFailure(t_failure)
        , m_structured(xmlStructuredError)
        , m_structuredContext(xmlStructuredErrorContext)
        , m_generic(xmlGenericError)
        , m_genericContext(xmlGenericErrorContext)
    {
        t_failure = &failure;
        xmlSetStructuredErrorFunc(nullptr, &OnStructuredError);
        xmlSetGenericErrorFunc(nullptr, &IgnoreGenericError);
    }

    ~ErrorCapture()
    {
        xmlSetGenericErrorFunc(m_genericContext, m_generic);
        xmlSetStructuredErrorFunc(m_structuredContext, m_structured);
        t_failure = m_previousFailure;
    }

    ErrorCapture(const ErrorCapture&) = delete;
    ErrorCapture& operator=(const ErrorCapture&) = delete;

private:
    Failure* m_previousFailure;
    xmlStructuredErrorFunc m_structured;
    void* m_structuredContext;
    xmlGenericErrorFunc m_generic;
    void* m_genericContext;
};

xmlExternalEntityLoader g_previousLoader = nullptr;

// libxml2's entity loader is process-wide. While one of our documents is being parsed on this
// thread nothing outside the document is ever read; other users of libxml2 keep the loader they
// had.
xmlParserInputPtr RefuseExternalResource(const char* url, const char* id, xmlParserCtxtPtr ctxt)
{
    if (t_failure != nullptr) {
        const char* what = url != nullptr ? url : (id != nullptr ? id : "");
        t_failure->recordAt(ctxt, "el documento hace referencia al recurso externo " + std::string(what) +
                                      " y no se leen recursos externos");
        return nullptr;
    }
    return g_previousLoader != nullptr ? g_previousLoader(url, id, ctxt) : nullptr;
}

// windows-1252 for a libxml2 built without iconv (the Windows build). Like iconv, the five bytes
// the code page leaves undefined are an input error: the bytes before them are converted, and
// libxml2 then reports the failure where they stand. Returns as libxml2 expects: the bytes
// written, or -2 with *inlen and *outlen telling how far the conversion went.
int Cp1252ToUtf8(unsigned char* out, int* outlen, const unsigned char* in, int* inlen)
{
    int i = 0;
    int o = 0;
    int result = 0;
    for (; i < *inlen; ++i) {
        const unsigned char b = in[i];
        if (b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 || b == 0x9D) {
            result = -2;
            break;
        }
        const std::string utf8 = cp1252::ToUtf8(std::string_view(reinterpret_cast<const char*>(&b), 1));
        if (o + static_cast<int>(utf8.size()) > *outlen) {
            break;
        }
        for (const char c : utf8) {
            out[o++] = static_cast<unsigned char>(c);
        }
    }
    *inlen = i;
    *outlen = o;
    return result == 0 ? o : result;
}

int Utf8ToCp1252(unsigned char* out, int* outlen, const unsigned char* in, int* inlen)
{
    const std::string_view text(reinterpret_cast<const char*>(in), static_cast<std::size_t>(*inlen));
    std::size_t i = 0;
    int o = 0;
    int result = 0;
    while (i < text.size() && o < *outlen) {
        char32_t cp = 0;
        const std::size_t len = cp1252::DecodeUtf8(text, i, cp);
        if (len == 0) {
            // A sequence cut at the end of this chunk comes whole with the next one.
            const auto b0 = static_cast<unsigned char>(text[i]);
            const std::size_t need = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : b0 >= 0xC0 ? 2 : 1;
            if (need > 1 && i + need > text.size()) {
                break;
            }
            result = -2;
            break;
        }
        const std::string ansi = cp1252::FromUtf8(text.substr(i, len));
        if (ansi == "?" && cp != U'?') {
            result = -2;
            break;
        }
        out[o++] = static_cast<unsigned char>(ansi[0]);
        i += len;
    }
    *inlen = static_cast<int>(i);
    *outlen = o;
    return result == 0 ? o : result;
}

void InitLibxml()
{
    static std::once_flag once;
    std::call_once(once, [] {
        xmlInitParser();
        if (xmlCharEncodingHandler* known = xmlFindCharEncodingHandler("windows-1252"); known != nullptr) {
            xmlCharEncCloseFunc(known);
        } else {
            // Registered once for the process; libxml2 keeps it until xmlCleanupCharEncodingHandlers.
            xmlRegisterCharEncodingHandler(
                xmlNewCharEncodingHandler("windows-1252", &Cp1252ToUtf8, &Utf8ToCp1252));
        }
        g_previousLoader = xmlGetExternalEntityLoader();
        xmlSetExternalEntityLoader(&RefuseExternalResource);
    });
}

// Entity declarations are refused outright. The documents we exchange never declare entities,
// and with none declared no reference can expand into more text than the document holds: this
// rules out the exponential and quadratic expansion attacks and every external entity at once.
void RefuseEntity(void* ctx, const xmlChar* name)
{
    auto* ctxt = static_cast<xmlParserCtxtPtr>(ctx);
    if (t_failure != nullptr) {
        t_failure->recordAt(ctxt, "el documento declara la entidad «" + std::string(View(name)) +
                                      "» y no se admiten declaraciones de entidades");
    }
    xmlStopParser(ctxt);
}

void OnEntityDecl(void* ctx, const xmlChar* name, int /*type*/, const xmlChar* /*publicId*/,
                  const xmlChar* /*systemId*/, xmlChar* /*content*/)
{
    RefuseEntity(ctx, name);
}

void OnUnparsedEntityDecl(void* ctx, const xmlChar* name, const xmlChar* /*publicId*/,
                          const xmlChar* /*systemId*/, const xmlChar* /*notationName*/)
{
    RefuseEntity(ctx, name);
}

bool Contains(const std::string& text, std::string_view part) { return text.find(part) != std::string::npos; }

// What went wrong, in Spanish, for the errors a person meets with a damaged or wrong file; any
// other keeps libxml2's own words after a Spanish lead.
std::string Explain(const Failure& failure)
{
    switch (failure.code) {
    case 0:
        return failure.message;
    case XML_ERR_DOCUMENT_START:
    case XML_ERR_DOCUMENT_EMPTY:
        return "no empieza por una etiqueta («<»): el archivo no contiene un documento XML";
    case XML_ERR_DOCUMENT_END:
        return "el documento no está bien formado: hay texto después de la etiqueta que lo cierra";
    case XML_ERR_TAG_NAME_MISMATCH:
        return "el documento no está bien formado: la etiqueta de cierre </" + failure.name2 +
               "> no corresponde con la etiqueta <" + failure.name1 + "> abierta en la línea " +
               std::to_string(failure.number);
    case XML_ERR_GT_REQUIRED:
    case XML_ERR_LTSLASH_REQUIRED:
    case XML_ERR_LT_REQUIRED:
    case XML_ERR_NAME_REQUIRED:
    case XML_ERR_SPACE_REQUIRED:
    case XML_ERR_EQUAL_REQUIRED:
    case XML_ERR_ATTRIBUTE_REDEFINED:
    case XML_ERR_UNDECLARED_ENTITY:
    case XML_ERR_ENTITYREF_SEMICOL_MISSING:
        return "el documento no está bien formado: hay una etiqueta, un atributo o un «&» mal escritos";
    case XML_ERR_ATTRIBUTE_NOT_STARTED:
    case XML_ERR_ATTRIBUTE_NOT_FINISHED:
    case XML_ERR_ATTRIBUTE_WITHOUT_VALUE:
    case XML_ERR_LT_IN_ATTRIBUTE:
        return "el valor de un atributo está mal escrito: debe ir entre comillas y no puede contener «<»";
    case XML_ERR_UNKNOWN_ENCODING:
    case XML_ERR_UNSUPPORTED_ENCODING:
        return "el documento declara una codificación de caracteres que no se conoce" +
               (failure.name1.empty() ? std::string() : " (" + failure.name1 + ")");
    case XML_ERR_INVALID_ENCODING:
    case XML_I18N_CONV_FAILED:
        return "el texto no está en la codificación de caracteres que declara el documento (o en UTF-8 "
               "si no declara ninguna)";
    case XML_ERR_INVALID_HEX_CHARREF:
    case XML_ERR_INVALID_DEC_CHARREF:
    case XML_ERR_INVALID_CHARREF:
        return "hay una referencia a un carácter («&#…;») que no es válida";
    case XML_ERR_INVALID_CHAR:
        if (Contains(failure.message, "UTF-8") || Contains(failure.message, "encoding")) {
            return "el texto no está en la codificación de caracteres que declara el documento (o en "
                   "UTF-8 si no declara ninguna)";
        }
        if (Contains(failure.message, "CharRef")) {
            return "hay una referencia a un carácter («&#…;») que no es válida";
        }
        return "hay un carácter que XML no admite (un carácter de control)";
    case XML_ERR_TAG_NOT_FINISHED:
        return "el documento termina antes de tiempo: falta cerrar la etiqueta <" + failure.name1 +
               "> abierta en la línea " + std::to_string(failure.number);
    case XML_ERR_INTERNAL_ERROR:
        if (Contains(failure.message, "depth")) {
            return "los elementos están anidados a demasiada profundidad";
        }
        break;
    default:
        break;
    }
    return failure.message.empty() ? std::string() : "error del analizador XML: " + failure.message;
}

std::string InvalidDocumentMessage(const std::string& name, const Failure& failure)
{
    std::string text = "El archivo " + name + " no es un documento XML válido";
    if (failure.line > 0) {
        text +=
            " (línea " + std::to_string(failure.line) + ", columna " + std::to_string(failure.column) + ")";
    }
    const std::string detail = Explain(failure);
    if (!detail.empty()) {
        text += ": " + detail;
    }
    return text;
}

// Element and attribute names compare with their prefix, as written in the document.
template <typename T> bool HasName(const T* node, std::string_view name)
{
    const std::string_view local = View(node->name);
    if (node->ns == nullptr || node->ns->prefix == nullptr) {
        return local == name;
    }
    const std::string_view prefix = View(node->ns->prefix);
    return name.size() == prefix.size() + 1 + local.size() && name.starts_with(prefix) &&
           name[prefix.size()] == ':' && name.ends_with(local);
}

template <typename T> std::string QualifiedName(const T* node)
{
    std::string name;
    if (node->ns != nullptr && node->ns->prefix != nullptr) {
        name = std::string(View(node->ns->prefix)) + ':';
    }
    return name + std::string(View(node->name));
}

// Only elements and attributes have a namespace; other kinds of node (a document type, for one)
// keep something else where an element keeps it.
bool HasNamespace(const xmlNode* node)
{
    return node->type == XML_ELEMENT_NODE || node->type == XML_ATTRIBUTE_NODE;
}

std::string AttributeValue(const xmlAttr* attr)
{
    // Character and predefined entity references were resolved by the parser; no other entity
    // can occur (see OnEntityDecl), so this reads plain text children only.
    return TakeString(XmlString(xmlNodeListGetString(attr->doc, attr->children, 1)));
}

NodeList Children(xmlNode* first)
{
    std::vector<Node> nodes;
    for (xmlNode* child = first; child != nullptr; child = child->next) {
        nodes.emplace_back(child);
    }
    return NodeList(std::move(nodes));
}

// Appends to `out`, in document order, the element children of `parent` named steps[0], or the
// elements below them that follow the remaining steps. Stops at the first match when asked.
void Collect(xmlNode* parent, std::span<const std::string_view> steps, std::vector<Node>& out, bool firstOnly)
{
    for (xmlNode* child = parent->children; child != nullptr; child = child->next) {
        if (child->type != XML_ELEMENT_NODE || !HasName(child, steps.front())) {
            continue;
        }
        if (steps.size() == 1) {
            out.emplace_back(child);
        } else {
            Collect(child, steps.subspan(1), out, firstOnly);
        }
        if (firstOnly && !out.empty()) {
            return;
        }
    }
}

// The names in "/A/B/C"; nothing when the path is not absolute or has an empty step.
std::vector<std::string_view> PathSteps(std::string_view path)
{
    std::vector<std::string_view> steps;
    if (!path.starts_with('/')) {
        return steps;
    }
    path.remove_prefix(1);
    for (;;) {
        const std::size_t slash = path.find('/');
        const std::string_view step = path.substr(0, slash);
        if (step.empty()) {
            return {};
        }
        steps.push_back(step);
        if (slash == std::string_view::npos) {
            return steps;
        }
        path.remove_prefix(slash + 1);
    }
}

NodeList Select(xmlDoc* doc, std::string_view path, bool firstOnly)
{
    const std::vector<std::string_view> steps = PathSteps(path);
    assert(!steps.empty() && "select paths are absolute, as in /CENTRE/AULES/AULA");
    std::vector<Node> found;
    if (doc != nullptr && !steps.empty()) {
        // The document node stands above the document element, so the first step names the root.
        Collect(reinterpret_cast<xmlNode*>(doc), steps, found, firstOnly);
    }
    return NodeList(std::move(found));
}

// Characters XML 1.0 can carry at all, even as a character reference.
bool IsXmlChar(char32_t cp)
{
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
           (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

// Text going into the document must be valid UTF-8 made of XML characters: anything else would
// either be cut short (a NUL byte) or make the written file unreadable.
void CheckText(std::string_view text, std::string_view what)
{
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = 0;
        const std::size_t len = cp1252::DecodeUtf8(text, i, cp);
        if (len == 0 || !IsXmlChar(cp)) {
            throw Error("No se puede escribir en XML " + std::string(what) +
                        ": contiene caracteres que un documento XML no admite");
        }
        i += len;
    }
}

std::string CheckedName(std::string_view name)
{
    std::string copy(name);
    if (copy.find('\0') != std::string::npos ||
        xmlValidateName(reinterpret_cast<const xmlChar*>(copy.c_str()), 0) != 0) {
        // The round trip through windows-1252 keeps the message valid UTF-8 whatever the name holds.
        throw Error("No se puede escribir en XML el nombre «" + cp1252::ToUtf8(cp1252::FromUtf8(name)) +
                    "»: no es un nombre XML válido");
    }
    return copy;
}

const xmlChar* Chars(const std::string& s) { return reinterpret_cast<const xmlChar*>(s.c_str()); }

// Elements that are not in the tree (made by createElement and not yet appended, or a replaced
// document element) wait under a holder element kept in the document's _private slot, so that
// they are freed with the document and handles to them stay valid until then.
xmlNode* Holder(xmlDoc* doc)
{
    if (doc->_private == nullptr) {
        doc->_private =
            xmlNewDocNode(doc, nullptr, reinterpret_cast<const xmlChar*>("fuera-del-arbol"), nullptr);
        if (doc->_private == nullptr) {
            throw std::bad_alloc();
        }
    }
    return static_cast<xmlNode*>(doc->_private);
}

// The tree holds UTF-8 whatever the source was. The serializer writes attribute values with
// non-ASCII characters as character references unless the document names an encoding, so every
// document names UTF-8.
void MarkUtf8(xmlDoc* doc)
{
    XmlString previous(const_cast<xmlChar*>(doc->encoding));
    doc->encoding = xmlStrdup(reinterpret_cast<const xmlChar*>("UTF-8"));
    if (doc->encoding == nullptr) {
        throw std::bad_alloc();
    }
}

} // namespace

NodeList::NodeList(std::vector<Node> nodes)
    : m_nodes(std::move(nodes))
{
}

std::size_t NodeList::length() const { return m_nodes.size(); }

Node NodeList::item(std::size_t i) const { return i < m_nodes.size() ? m_nodes[i] : Node(); }

std::string Node::name() const
{
    if (m_node == nullptr) {
        return {};
    }
    return HasNamespace(m_node) ? QualifiedName(m_node) : std::string(View(m_node->name));
}

bool Node::isElement() const { return m_node != nullptr && m_node->type == XML_ELEMENT_NODE; }

NodeList Node::selectNodes(std::string_view childName) const
{
    std::vector<Node> found;
    if (m_node != nullptr && !childName.empty()) {
        const std::string_view steps[] = {childName};
        Collect(m_node, steps, found, false);
    }
    return NodeList(std::move(found));
}

NodeList Node::childNodes() const
{
    // Attributes and document types keep something else in the place of an element's children.
    return isElement() ? Children(m_node->children) : NodeList();
}

std::optional<std::string> Node::getNamedItem(std::string_view name) const
{
    if (!isElement()) {
        return std::nullopt;
    }
    for (const xmlAttr* attr = m_node->properties; attr != nullptr; attr = attr->next) {
        if (HasName(attr, name)) {
            return AttributeValue(attr);
        }
    }
    return std::nullopt;
}

std::vector<std::pair<std::string, std::string>> Node::attributes() const
{
    std::vector<std::pair<std::string, std::string>> found;
    if (!isElement()) {
        return found;
    }
    for (const xmlAttr* attr = m_node->properties; attr != nullptr; attr = attr->next) {
        found.emplace_back(QualifiedName(attr), AttributeValue(attr));
    }
    return found;
}

std::string Node::text() const
{
    if (m_node == nullptr) {
        return {};
    }
    return TakeString(XmlString(xmlNodeGetContent(m_node)));
}

Node Node::appendChild(Node child)
{
    assert(m_node != nullptr && m_node->type == XML_ELEMENT_NODE);
    assert(child.m_node != nullptr && child.m_node->doc == m_node->doc);
#ifndef NDEBUG
    for (const xmlNode* n = m_node; n != nullptr; n = n->parent) {
        assert(n != child.m_node && "a node cannot become its own descendant");
    }
#endif
    xmlUnlinkNode(child.m_node);
    return Node(xmlAddChild(m_node, child.m_node));
}

void Node::setAttribute(std::string_view name, std::string_view value)
{
    assert(m_node != nullptr && m_node->type == XML_ELEMENT_NODE);
    const std::string attrName = CheckedName(name);
    CheckText(value, "el valor del atributo " + attrName);
    const std::string attrValue(value);
    // xmlSetProp takes the value as text (no entity parsing) and keeps an existing attribute in
    // its place; the serializer escapes &, <, >, " and the blanks that parsing would normalize.
    if (xmlSetProp(m_node, Chars(attrName), Chars(attrValue)) == nullptr) {
        throw std::bad_alloc();
    }
}

void Document::Deleter::operator()(_xmlDoc* doc) const
{
    // The holder (see Holder) may take its names from the document's dictionary, so it goes
    // first.
    if (doc->_private != nullptr) {
        xmlFreeNode(static_cast<xmlNode*>(doc->_private));
    }
    xmlFreeDoc(doc);
}

Document::Document()
    : m_doc(xmlNewDoc(reinterpret_cast<const xmlChar*>("1.0")))
{
    if (!m_doc) {
        throw std::bad_alloc();
    }
    MarkUtf8(m_doc.get());
}

Document::Document(Document&&) noexcept = default;
Document& Document::operator=(Document&&) noexcept = default;
Document::~Document() = default;

Document Document::load(const std::filesystem::path& file)
{
    const std::string shown = file.string();
    std::error_code ec;
    const auto type = std::filesystem::status(file, ec).type();
    if (type == std::filesystem::file_type::not_found) {
        throw Error("No existe el archivo " + shown);
    }
    if (type == std::filesystem::file_type::directory) {
        throw Error("No se puede leer " + shown + ": es una carpeta, no un archivo XML");
    }
    // Only a regular file is read (a FIFO would keep the read waiting, a device such as /dev/zero
    // would never end), and no more than any centre document can be.
    return loadMemory(ReadBoundedFile(file, kMaxDocument, shown), shown);
}

Document Document::loadMemory(std::string_view contents, const std::string& name)
{
    if (contents.empty()) {
        throw Error("El archivo " + name + " está vacío: no contiene ningún documento XML");
    }
    if (contents.size() > static_cast<std::size_t>(INT_MAX)) {
        throw Error("El archivo " + name + " es demasiado grande para leerlo como documento XML");
    }
    InitLibxml();
    std::unique_ptr<xmlParserCtxt, ParserCtxtFree> ctxt(xmlNewParserCtxt());
    if (!ctxt) {
        throw std::bad_alloc();
    }
    ctxt->sax->entityDecl = &OnEntityDecl;
    ctxt->sax->unparsedEntityDecl = &OnUnparsedEntityDecl;
    ctxt->sax->serror = &OnStructuredError;

    Failure failure;
    std::unique_ptr<xmlDoc, Deleter> doc;
    {
        ErrorCapture capture(failure);
        doc.reset(xmlCtxtReadMemory(ctxt.get(), contents.data(), static_cast<int>(contents.size()),
                                    name.c_str(), nullptr, kParseOptions));
    }
    if (!doc && !failure.set) {
        // Only a failure raised outside the handlers (out of memory, for one) gets here.
        if (const xmlError* last = xmlCtxtGetLastError(ctxt.get())) {
            failure.record(*last);
        } else {
            failure.record(0, 0, "");
        }
    }
    // A stopped parse, or a non-fatal error such as a reference to an undeclared entity, may
    // still hand back a tree; it is refused all the same.
    if (failure.set || !doc) {
        throw Error(InvalidDocumentMessage(name, failure));
    }
    MarkUtf8(doc.get());
    Document result;
    result.m_doc = std::move(doc);
    return result;
}

NodeList Document::selectNodes(std::string_view path) const { return Select(m_doc.get(), path, false); }

Node Document::documentElement() const { return Node(m_doc ? xmlDocGetRootElement(m_doc.get()) : nullptr); }

NodeList Document::childNodes() const { return m_doc ? Children(m_doc->children) : NodeList(); }

Node Document::selectSingleNode(std::string_view path) const
{
    return Select(m_doc.get(), path, true).item(0);
}

Node Document::createElement(std::string_view name)
{
    assert(m_doc);
    const std::string elementName = CheckedName(name);
    xmlNode* holder = Holder(m_doc.get());
    xmlNode* element = xmlNewDocNode(m_doc.get(), nullptr, Chars(elementName), nullptr);
    if (element == nullptr) {
        throw std::bad_alloc();
    }
    return Node(xmlAddChild(holder, element));
}

Node Document::appendChild(Node child)
{
    assert(m_doc);
    assert(child.raw() != nullptr && child.raw()->doc == m_doc.get() &&
           child.raw()->type == XML_ELEMENT_NODE);
    xmlNode* holder = Holder(m_doc.get());
    xmlUnlinkNode(child.raw());
    xmlNode* previous = xmlDocSetRootElement(m_doc.get(), child.raw());
    if (previous != nullptr && previous != child.raw()) {
        xmlAddChild(holder, previous);
    }
    return child;
}

std::string Document::toString() const
{
    if (!m_doc) {
        return {};
    }
    InitLibxml();
    std::unique_ptr<xmlBuffer, BufferFree> buffer(xmlBufferCreate());
    if (!buffer) {
        throw std::bad_alloc();
    }
    Failure failure;
    {
        ErrorCapture capture(failure);
        // With an explicit UTF-8 encoding non-ASCII text is written as is, not as character
        // references. Writing the top-level nodes one by one leaves out the declaration and
        // the line feed xmlSaveDoc puts after each of them.
        std::unique_ptr<xmlSaveCtxt, SaveCtxtClose> save(
            xmlSaveToBuffer(buffer.get(), "UTF-8", XML_SAVE_NO_DECL));
        if (!save) {
            throw std::bad_alloc();
        }
        for (xmlNode* node = m_doc->children; node != nullptr; node = node->next) {
            xmlSaveTree(save.get(), node);
        }
        if (xmlSaveFlush(save.get()) < 0) {
            failure.record(0, 0, "");
        }
    }
    if (failure.set) {
        std::string text = "No se puede convertir el documento XML en texto";
        if (!failure.message.empty()) {
            text += ": " + failure.message;
        }
        throw Error(text);
    }
    return std::string(reinterpret_cast<const char*>(xmlBufferContent(buffer.get())),
                       static_cast<std::size_t>(xmlBufferLength(buffer.get())));
}

void Document::save(const std::filesystem::path& file) const { WriteFileAtomically(file, toString()); }

std::string AttributeText(const Node& element, std::string_view name)
{
    const std::optional<std::string> value = element.getNamedItem(name);
    if (!value) {
        return {};
    }
    // Trimmed first, so that blanks and line breaks at the ends go rather than become "?".
    return cp1252::FromUtf8ForTable(cp1252::Trim(*value));
}

} // namespace zendral::xml
