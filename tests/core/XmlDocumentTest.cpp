#include "XmlDocument.h"

#include "BoundedRead.h"
#include "CodePage.h"
#include "Corte.h"
#include "Error.h"
#include "ExternalTool.h"
#include "TempDir.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <libxml/encoding.h>
#include <libxml/tree.h>
#include <string>
#include <tuple>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif
#include <utility>
#include <vector>

namespace zendral::xml
{
namespace
{

using zendral::test::ReadFile;
using zendral::test::TempDir;

std::string Utf16(std::u16string_view text, bool bigEndian)
{
    std::string bytes = bigEndian ? "\xFE\xFF" : "\xFF\xFE";
    for (const char16_t unit : text) {
        const char high = static_cast<char>(unit >> 8);
        const char low = static_cast<char>(unit & 0xFF);
        bytes += bigEndian ? high : low;
        bytes += bigEndian ? low : high;
    }
    return bytes;
}

// The message of a document refused as not well-formed.
std::string Invalid(const std::string& file, int line, int column, const std::string& detail)
{
    return "El archivo " + file + " no es un documento XML válido (línea " + std::to_string(line) +
           ", columna " + std::to_string(column) + "): " + detail;
}

// What loading `contents` throws; libxml2 must print nothing of its own.
std::string LoadError(std::string_view contents)
{
    ::testing::internal::CaptureStderr();
    std::string message = "(sin error)";
    try {
        Document::loadMemory(contents, "centre.xml");
    } catch (const Error& e) {
        message = e.what();
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
    return message;
}

std::vector<std::string> Codes(const NodeList& nodes)
{
    std::vector<std::string> codes;
    for (const Node& node : nodes) {
        codes.push_back(node.getNamedItem("CODI").value_or("(sin CODI)"));
    }
    return codes;
}

// Each form of the same document, with a comment before the document element, reads as the same
// text and is written back as UTF-8 without a declaration or the line breaks between top-level
// nodes, before and after a change.
TEST(XmlDocumentTest, EncodingsReadTheSameTextAndWriteItAsUtf8)
{
    const std::string rich = "Àvila € “cita” Œ ñ";
    const std::string richAnsi = "\xC0vila \x80 \x93"
                                 "cita\x94 \x8C \xF1";
    // A literal tab in an attribute reads as a space; blanks in text stay.
    const std::string nom = "  " + rich + "  ";
    const std::string text = "\n  " + rich;
    const std::string utf8 = "<!-- c -->\n<CENTRE NOM=\"  " + rich + " \t\">" + text + "</CENTRE>\n";
    const std::u16string utf16 =
        u"<!-- c -->\n<CENTRE NOM=\"  Àvila € “cita” Œ ñ \t\">\n  Àvila € “cita” Œ ñ</CENTRE>\n";
    const struct
    {
        const char* label;
        std::string bytes;
        std::string nom;  // the NOM attribute as UTF-8
        std::string text; // the element's text as UTF-8
        std::string ansi; // AttributeText(NOM), windows-1252
    } cases[] = {
        {"UTF-8", utf8, nom, text, richAnsi},
        {"UTF-8 BOM", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + utf8, nom, text, richAnsi},
        {"UTF-16LE BOM", Utf16(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + utf16, false), nom, text,
         richAnsi},
        {"UTF-16BE BOM", Utf16(utf16, true), nom, text, richAnsi},
        {"windows-1252",
         "<?xml version=\"1.0\" encoding=\"windows-1252\"?><!-- c --><CENTRE NOM=\"  " + richAnsi +
             " \t\">\n  " + richAnsi + "</CENTRE>",
         nom, text, richAnsi},
        // In ISO-8859-1 byte 0x80 is the control U+0080, which windows-1252 lacks.
        {"ISO-8859-1",
         "<?xml version='1.0' encoding='ISO-8859-1'?>\n<!-- c -->\n<CENTRE NOM=' \xC0vila \xF1 \xFF "
         "\x80'>\xC0vila</CENTRE>\n",
         " Àvila ñ ÿ \xC2\x80", "Àvila", "\xC0vila \xF1 \xFF ?"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Document doc = Document::loadMemory(c.bytes, "centre.xml");
        Node centre = doc.selectSingleNode("/CENTRE");
        ASSERT_TRUE(centre);
        EXPECT_EQ(centre.getNamedItem("NOM"), std::optional<std::string>(c.nom));
        EXPECT_EQ(centre.text(), c.text);
        EXPECT_EQ(AttributeText(centre, "NOM"), c.ansi);
        EXPECT_EQ(doc.toString(), "<!-- c --><CENTRE NOM=\"" + c.nom + "\">" + c.text + "</CENTRE>");
        centre.setAttribute("NOM", "Ñ€");
        EXPECT_EQ(doc.toString(), "<!-- c --><CENTRE NOM=\"Ñ€\">" + c.text + "</CENTRE>");
    }
}

// Documents declared windows-1252 read alike on Linux (libxml2 through iconv) and on Windows
// (libxml2 without iconv, through our own handler): every defined byte, across many of the
// parser's input chunks, and the same error, at the same line and column, for each of the five
// bytes the code page leaves undefined.
TEST(XmlDocumentTest, Windows1252DocumentsReadAlikeWithAndWithoutIconv)
{
    std::string every; // every byte an attribute value can hold as such, but the blank
    for (int b = 0x21; b <= 0xFF; ++b) {
        if (b != '<' && b != '&' && b != '"' && b != 0x7F && b != 0x81 && b != 0x8D && b != 0x8F &&
            b != 0x90 && b != 0x9D) {
            every += static_cast<char>(b);
        }
    }
    const std::string declaration = "<?xml version=\"1.0\" encoding=\"windows-1252\"?>\n";
    std::string document = declaration + "<CENTRE>\n";
    constexpr int kLines = 600; // some 130 KB, far more than one chunk
    for (int i = 0; i < kLines; ++i) {
        document += "<AULA CODI=\"" + std::to_string(i) + "\" NOM=\"" + every + "\">" + every + "</AULA>\n";
    }
    document += "</CENTRE>\n";
    const Document doc = Document::loadMemory(document, "centre.xml");
    const NodeList aulas = doc.selectNodes("/CENTRE/AULA");
    ASSERT_EQ(aulas.length(), static_cast<std::size_t>(kLines));
    for (const Node& aula : aulas) {
        ASSERT_EQ(AttributeText(aula, "NOM"), every);
        ASSERT_EQ(aula.getNamedItem("NOM"), std::optional<std::string>(cp1252::ToUtf8(every)));
        ASSERT_EQ(aula.text(), cp1252::ToUtf8(every));
    }

    for (const char undefined : {'\x81', '\x8D', '\x8F', '\x90', '\x9D'}) {
        // In the first chunk, and far beyond it.
        for (const int before : {0, 300}) {
            std::string bad = declaration + "<CENTRE>\n";
            for (int i = 0; i < before; ++i) {
                bad += "<AULA NOM=\"" + every + "\"/>\n";
            }
            bad += "<AULA NOM=\"\xC0vila " + std::string(1, undefined) + " \xF1\"/>\n</CENTRE>\n";
            SCOPED_TRACE(std::to_string(static_cast<unsigned char>(undefined)) + " after " +
                         std::to_string(before));
            // libxml2 reports a failed conversion without a line and column, on both systems.
            EXPECT_EQ(LoadError(bad),
                      "El archivo centre.xml no es un documento XML válido: el texto no está en la "
                      "codificación de caracteres que declara el documento (o en UTF-8 si no "
                      "declara ninguna)");
        }
    }
}

// AttributeText trims the value and gives it in windows-1252. An absent attribute, names being
// case-sensitive, has no value and reads as empty text.
TEST(XmlDocumentTest, AttributeValuesResolveReferencesAndNormalizeBlanks)
{
    // The attribute as written, its value, and AttributeText.
    const std::tuple<const char*, const char*, const char*> cases[] = {
        {"a &amp; b", "a & b", "a & b"},
        {"&lt;c&gt; &quot;d&quot; &apos;e&apos;", "<c> \"d\" 'e'", "<c> \"d\" 'e'"},
        {"&#233;&#xE9;&#x20AC;&#8220;", "éé€“", "\xE9\xE9\x80\x93"},
        // Literal blanks in an attribute read as spaces; character references keep them.
        {"a\tb\nc", "a b c", "a b c"},
        // Control characters left inside go into tables as "?" (the ones at the ends are trimmed).
        {"a&#9;b&#10;c&#13;", "a\tb\nc\r", "a?b?c"},
        // So does a code point windows-1252 leaves undefined, or any other C1 control.
        {"&#x8D;x&#x81;&#x85;", "\xC2\x8Dx\xC2\x81\xC2\x85", "?x??"},
        {"", "", ""},
        {"  \t ", "    ", ""},
        {" x ", " x ", "x"},
    };
    for (const auto& [source, value, text] : cases) {
        SCOPED_TRACE(source);
        const Document doc =
            Document::loadMemory(std::string("<CENTRE NOM=\"") + source + "\"/>", "centre.xml");
        const Node centre = doc.selectSingleNode("/CENTRE");
        EXPECT_EQ(centre.getNamedItem("NOM"), std::optional<std::string>(value));
        EXPECT_EQ(AttributeText(centre, "NOM"), text);
        EXPECT_EQ(centre.getNamedItem("nom"), std::nullopt);
        EXPECT_EQ(AttributeText(centre, "FALTA"), "");
    }
    EXPECT_EQ(AttributeText(Node(), "NOM"), "");
}

constexpr const char* kAules = R"(<CENTRE CODI="C">
  <AULES CODI="A1">
    <AULA CODI="1"><AULA CODI="dins"/></AULA>
    <!-- comentari -->
    <ALTRA CODI="x"/>
    text
    <AULA CODI="2"/>
  </AULES>
  <PROFESSORS><AULA CODI="p"/></PROFESSORS>
  <AULES CODI="A2"><AULA CODI="3"/><AULA CODI="4"/></AULES>
  <AULA CODI="fora"/>
</CENTRE>)";

TEST(XmlDocumentTest, SelectNodesFollowsChildPathsInDocumentOrder)
{
    const Document doc = Document::loadMemory(kAules, "centre.xml");
    const std::pair<const char*, std::vector<std::string>> cases[] = {
        {"/CENTRE/AULES/AULA", {"1", "2", "3", "4"}},
        {"/CENTRE/AULES", {"A1", "A2"}},
        {"/CENTRE/AULA", {"fora"}},
        {"/CENTRE/AULES/AULA/AULA", {"dins"}},
        {"/CENTRE", {"C"}},
        {"/AULES/AULA", {}},
        {"/CENTRE/aules/AULA", {}},
        {"/CENTRE/AULES/AULA/RES", {}},
    };
    for (const auto& [path, codes] : cases) {
        SCOPED_TRACE(path);
        EXPECT_EQ(Codes(doc.selectNodes(path)), codes);
        const Node first = doc.selectSingleNode(path);
        EXPECT_EQ(first ? first.getNamedItem("CODI").value_or("") : "(cap)",
                  codes.empty() ? "(cap)" : codes.front());
    }
    // From a node, only its direct children.
    const NodeList aules = doc.selectNodes("/CENTRE/AULES");
    ASSERT_EQ(aules.length(), 2u);
    EXPECT_EQ(Codes(aules.item(0).selectNodes("AULA")), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(Codes(aules.item(1).selectNodes("AULA")), (std::vector<std::string>{"3", "4"}));
    EXPECT_EQ(aules.item(0).selectNodes("PROFESSORS").length(), 0u);
    EXPECT_FALSE(aules.item(2));
}

TEST(XmlDocumentTest, MalformedDocumentIsExplainedInSpanishWithLineAndColumn)
{
    const std::string mal = "el documento no está bien formado: ";
    const std::string codificacion = "el texto no está en la codificación de caracteres que declara el "
                                     "documento (o en UTF-8 si no declara ninguna)";
    const std::string atributo =
        "el valor de un atributo está mal escrito: debe ir entre comillas y no puede contener «<»";
    const std::string referencia = "hay una referencia a un carácter («&#…;») que no es válida";
    std::string anidado = "<CENTRE>\n";
    for (int i = 0; i < 300; ++i) {
        anidado += "<A>";
    }
    const std::tuple<std::string, int, int, std::string> cases[] = {
        // Not well-formed.
        {" \n", 2, 1, "no empieza por una etiqueta («<»): el archivo no contiene un documento XML"},
        {"<CENTRE>\n<AULES>\n</AULA>\n</CENTRE>", 3, 8,
         mal + "la etiqueta de cierre </AULA> no corresponde con la etiqueta <AULES> abierta en la línea 2"},
        {"<CENTRE/>\n<CENTRE/>", 2, 1, mal + "hay texto después de la etiqueta que lo cierra"},
        {"<CENTRE>\n<AULA CODI=\"1\" CODI=\"2\"/>\n</CENTRE>", 2, 24,
         mal + "hay una etiqueta, un atributo o un «&» mal escritos"},
        // Bad attribute values.
        {"<CENTRE>\n  <AULES>\n<AULA CODI=1/>\n</AULES></CENTRE>", 3, 12, atributo},
        {"<CENTRE>\n<AULA NOM=\"a<b\"/>\n</CENTRE>", 2, 13, atributo},
        // Wrong encoding.
        {"<CENTRE>\n<AULA NOM=\"\xC0vila\"/>\n</CENTRE>", 2, 12, codificacion},
        {"<?xml version=\"1.0\" encoding=\"klingon\"?>\n<CENTRE/>", 1, 39,
         "el documento declara una codificación de caracteres que no se conoce (klingon)"},
        // Excessive depth.
        {anidado, 2, 769, "los elementos están anidados a demasiada profundidad"},
        // Bad character references.
        {"<CENTRE>\n<AULA NOM=\"&#1;\"/></CENTRE>", 2, 16, referencia},
        {"<CENTRE>\n<AULA NOM=\"&#xZZ;\"/></CENTRE>", 2, 15, referencia},
        // Premature end.
        {"<CENTRE>\n<AULES>\n", 3, 1,
         "el documento termina antes de tiempo: falta cerrar la etiqueta <AULES> "
         "abierta en la línea 2"},
        // Anything else keeps libxml2's words after a Spanish lead.
        {"<CENTRE>\n<AULA>\x01</AULA></CENTRE>", 2, 7,
         "hay un carácter que XML no admite (un carácter de control)"},
        {"<CENTRE>\n<AULA>&nada;</AULA></CENTRE>", 2, 13,
         mal + "hay una etiqueta, un atributo o un «&» mal escritos"},
        {"<CENTRE><? ?></CENTRE>", 1, 11, "error del analizador XML: xmlParsePI : no target name"},
    };
    for (const auto& [xml, line, column, detail] : cases) {
        SCOPED_TRACE(xml.substr(0, 60));
        EXPECT_EQ(LoadError(xml), Invalid("centre.xml", line, column, detail));
    }
}

TEST(XmlDocumentTest, EntityDeclarationsAreRefusedQuickly)
{
    TempDir dir;
    const std::string secret = "SECRET-7f3a9c";
    const auto secretFile = dir.write("secret.txt", secret);
    const auto secretDtd = dir.write("secret.dtd", "<!ENTITY s \"" + secret + "\">");

    std::string quadratic =
        "<!DOCTYPE CENTRE [<!ENTITY a \"" + std::string(50000, 'a') + "\">]><CENTRE NOM=\"";
    for (int i = 0; i < 50000; ++i) {
        quadratic += "&a;";
    }
    quadratic += "\"/>";

    // Each level of entities ten times the one below, up to 10^9 copies of "ha".
    std::string laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE CENTRE [\n <!ENTITY l0 \"ha\">\n";
    for (int level = 1; level <= 9; ++level) {
        laughs += " <!ENTITY l" + std::to_string(level) + " \"";
        for (int i = 0; i < 10; ++i) {
            laughs += "&l" + std::to_string(level - 1) + ";";
        }
        laughs += "\">\n";
    }
    laughs += "]>\n<CENTRE NOM=\"&l9;\">&l9;</CENTRE>";

    const std::pair<const char*, std::string> cases[] = {
        {"billion laughs", laughs},
        {"quadratic", quadratic},
        {"external entity in content",
         "<!DOCTYPE CENTRE [<!ENTITY s SYSTEM \"file://" + secretFile.string() + "\">]><CENTRE>&s;</CENTRE>"},
        {"external entity by path",
         "<!DOCTYPE CENTRE [<!ENTITY s SYSTEM \"" + secretFile.string() + "\">]><CENTRE>&s;</CENTRE>"},
        {"external parameter entity",
         "<!DOCTYPE CENTRE [<!ENTITY % p SYSTEM \"" + secretDtd.string() + "\"> %p;]><CENTRE NOM=\"&s;\"/>"},
        {"external subset", "<!DOCTYPE CENTRE SYSTEM \"" + secretDtd.string() + "\"><CENTRE>&s;</CENTRE>"},
        {"unparsed entity", "<!DOCTYPE CENTRE [<!NOTATION t SYSTEM \"text\"><!ENTITY s SYSTEM \"" +
                                secretFile.string() + "\" NDATA t>]><CENTRE/>"},
    };
    for (const auto& [label, xml] : cases) {
        SCOPED_TRACE(label);
        const auto start = std::chrono::steady_clock::now();
        const std::string message = LoadError(xml);
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
        EXPECT_TRUE(message.starts_with("El archivo centre.xml no es un documento XML válido (línea "))
            << message;
        EXPECT_EQ(message.find(secret), std::string::npos) << message;
    }
}

TEST(XmlDocumentTest, ExternalDoctypeIsNeitherFetchedNorRequired)
{
    const auto start = std::chrono::steady_clock::now();
    const Document doc = Document::loadMemory(
        "<!DOCTYPE CENTRE SYSTEM \"http://192.0.2.1/centre.dtd\"><CENTRE NOM=\"a&amp;b\"/>", "centre.xml");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
    EXPECT_EQ(doc.selectSingleNode("/CENTRE").getNamedItem("NOM"), std::optional<std::string>("a&b"));
}

TEST(XmlDocumentTest, FileErrorsNameTheFileInSpanish)
{
    TempDir dir;
    const auto empty = dir.write("buit.xml", "");
    const auto bad = dir.write("dolent.xml", "<CENTRE>\n<AULA>\n");
    std::filesystem::create_directory(dir / "carpeta.xml");
    const std::pair<std::filesystem::path, std::string> cases[] = {
        {dir / "falta.xml", "No existe el archivo " + (dir / "falta.xml").string()},
        {empty, "El archivo " + empty.string() + " está vacío: no contiene ningún documento XML"},
        {bad, Invalid(bad.string(), 3, 1,
                      "el documento termina antes de tiempo: falta cerrar la etiqueta <AULA> abierta en la "
                      "línea 2")},
        {dir / "carpeta.xml",
         "No se puede leer " + (dir / "carpeta.xml").string() + ": es una carpeta, no un archivo XML"},
    };
    for (const auto& [file, message] : cases) {
        SCOPED_TRACE(file);
        try {
            Document::load(file);
            ADD_FAILURE() << "sin error";
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()), message);
        }
    }
}

// Only a regular file is read: anything else is refused at once, naming it (Windows has no
// FIFO; a device is refused there as here).
TEST(XmlDocumentTest, FilesThatAreNotRegularAreRefusedWithoutWaiting)
{
    TempDir dir;
    std::vector<std::pair<std::filesystem::path, std::string>> cases;
#ifdef _WIN32
    // Named by no status: the open itself tells it is no disk file.
    try {
        ReadBoundedFile("NUL", kMegabyte, "NUL");
        ADD_FAILURE() << "NUL read";
    } catch (const Error& e) {
        EXPECT_EQ(std::string(e.what()), "No se puede leer el archivo NUL: no es un archivo normal");
    }
#else
    const auto fifo = dir / "centre.xml";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    cases.emplace_back(fifo, "No se puede leer el archivo " + fifo.string() +
                                 ": es una tubería (FIFO), no un archivo normal");
    cases.emplace_back("/dev/zero",
                       "No se puede leer el archivo /dev/zero: es un dispositivo, no un archivo normal");
#endif
    for (const auto& [file, message] : cases) {
        SCOPED_TRACE(file);
        auto load = std::async(std::launch::async, [file = file] {
            try {
                Document::load(file);
            } catch (const Error& e) {
                return std::string(e.what());
            }
            return std::string("sin error");
        });
        if (load.wait_for(std::chrono::seconds(10)) != std::future_status::ready) {
            std::fprintf(stderr, "Document::load waits on %s: stopped\n", file.string().c_str());
            std::_Exit(1);
        }
        EXPECT_EQ(load.get(), message);
    }
}

// Writing windows-1252 converts alike on Linux (libxml2 through iconv) and on Windows (our own
// handler): tab, line breaks and every character of the code page as its byte; a code point it
// lacks, the five that stand for its undefined bytes included, is refused by the handler (libxml2
// then writes a character reference).
TEST(XmlDocumentTest, Windows1252WritesAlikeWithAndWithoutIconv)
{
    // Loading a document registers our handler where libxml2 has none.
    (void)Document::loadMemory("<CENTRE/>", "centre.xml");
    xmlCharEncodingHandler* handler = xmlFindCharEncodingHandler("windows-1252");
    ASSERT_NE(handler, nullptr);
    const auto encode = [&](const std::string& utf8) {
        xmlBufferPtr in = xmlBufferCreate();
        xmlBufferPtr out = xmlBufferCreate();
        xmlBufferAdd(in, reinterpret_cast<const xmlChar*>(utf8.data()), static_cast<int>(utf8.size()));
        const int result = xmlCharEncOutFunc(handler, out, in);
        std::string bytes(reinterpret_cast<const char*>(xmlBufferContent(out)),
                          static_cast<std::size_t>(xmlBufferLength(out)));
        xmlBufferFree(in);
        xmlBufferFree(out);
        return std::to_string(result < 0 ? result : 0) + ":" + bytes;
    };
    std::string every;
    for (int b = 0x01; b <= 0xFF; ++b) {
        if (b != 0x81 && b != 0x8D && b != 0x8F && b != 0x90 && b != 0x9D) {
            every += static_cast<char>(b);
        }
    }
    EXPECT_EQ(encode(cp1252::ToUtf8(every)), "0:" + every);
    EXPECT_EQ(encode("a\tb\r\nc"), "0:a\tb\r\nc");
    for (const char* undefined : {"\xC2\x81", "\xC2\x8D", "\xC2\x8F", "\xC2\x90", "\xC2\x9D"}) {
        char reference[16];
        std::snprintf(reference, sizeof reference, "&#%d;", static_cast<unsigned char>(undefined[1]));
        EXPECT_EQ(encode(std::string("x") + undefined + "y"), std::string("0:x") + reference + "y")
            << reference;
    }
    EXPECT_EQ(encode("Łódź"), "0:&#321;\xF3"
                              "d&#378;");
    xmlCharEncCloseFunc(handler);
}

Document BuildHorari()
{
    Document doc;
    Node centre = doc.appendChild(doc.createElement("CENTRE"));
    centre.setAttribute("CODI", "46001");
    centre.setAttribute("NOM", "Escola Àvila");
    Node aules = centre.appendChild(doc.createElement("AULES"));
    Node aula = doc.createElement("AULA");
    aula.setAttribute("CODI", "1");
    aula.setAttribute("DESC", "x < y & \"z\" > 'w'");
    aules.appendChild(aula);
    aules.appendChild(doc.createElement("AULA")).setAttribute("CODI", "2");
    // Changing an attribute keeps its place.
    centre.setAttribute("CODI", "46002");
    return doc;
}

TEST(XmlDocumentTest, ChildNodesAndAttributesComeInDocumentOrder)
{
    // A document type declaring a notation keeps, where an element keeps its namespace, a table
    // of notations.
    const Document doc = Document::loadMemory("<!DOCTYPE HORARI [<!NOTATION n SYSTEM \"n\">]><!-- c -->"
                                              "<HORARI xmlns:g=\"urn:g\"><SESSIONS><SESSIO placa=\"P&amp;1\" "
                                              "g:curs=\"C\" dia=\"\"/>text<!-- x --><?pi y?><g:SESSIO/>"
                                              "</SESSIONS></HORARI><?fi?>",
                                              "horari.xml");
    const auto names = [](const NodeList& nodes) {
        std::vector<std::string> found;
        for (const Node& node : nodes) {
            found.push_back(node.name() + (node.isElement() ? "*" : ""));
        }
        return found;
    };
    EXPECT_EQ(names(doc.childNodes()), (std::vector<std::string>{"HORARI", "comment", "HORARI*", "fi"}));
    const Node sessions = doc.selectSingleNode("/HORARI/SESSIONS");
    const NodeList children = sessions.childNodes();
    EXPECT_EQ(names(children), (std::vector<std::string>{"SESSIO*", "text", "comment", "pi", "g:SESSIO*"}));
    using Attributes = std::vector<std::pair<std::string, std::string>>;
    EXPECT_EQ(children.item(0).attributes(), (Attributes{{"placa", "P&1"}, {"g:curs", "C"}, {"dia", ""}}));
    EXPECT_EQ(children.item(0).getNamedItem("g:curs"), "C");
    EXPECT_EQ(children.item(4).attributes(), Attributes{});
    EXPECT_EQ(children.item(1).attributes(), Attributes{});
    EXPECT_EQ(children.item(1).childNodes().length(), 0u);
    EXPECT_EQ(doc.childNodes().item(0).childNodes().length(), 0u);
    EXPECT_EQ(Node().childNodes().length(), 0u);
    EXPECT_EQ(Document().childNodes().length(), 0u);
}

constexpr const char* kHorari = "<CENTRE CODI=\"46002\" NOM=\"Escola Àvila\"><AULES>"
                                "<AULA CODI=\"1\" DESC=\"x &lt; y &amp; &quot;z&quot; &gt; 'w'\"/>"
                                "<AULA CODI=\"2\"/></AULES></CENTRE>";

TEST(XmlDocumentTest, WritesBuiltDocumentExactly)
{
    Document built = BuildHorari();
    const Document doc = std::move(built);
    EXPECT_EQ(doc.toString(), kHorari);
    EXPECT_EQ(Codes(doc.selectNodes("/CENTRE/AULES/AULA")), (std::vector<std::string>{"1", "2"}));

    TempDir dir;
    const auto file = dir / "horari.xml";
    doc.save(file);
    EXPECT_EQ(ReadFile(file), kHorari);
    const test::ToolOutput xmllint = test::RunTool({"/usr/bin/xmllint", "--noout", file.string()});
    EXPECT_TRUE(xmllint.ok) << xmllint.Text();
    EXPECT_EQ(Document::load(file).toString(), kHorari);
}

TEST(XmlDocumentTest, AttributeValuesRoundTrip)
{
    const std::string values[] = {"a & b", "<x>", "\"q\" 'a'", "línea1\nlínea2", "\tta\tb", "cr\r\nlf",
                                  "  ",    "",    "]]>",       "€ “” 😀"};
    for (const std::string& value : values) {
        SCOPED_TRACE(value);
        Document doc;
        doc.appendChild(doc.createElement("CENTRE")).setAttribute("NOM", value);
        const Document back = Document::loadMemory(doc.toString(), "centre.xml");
        EXPECT_EQ(back.selectSingleNode("/CENTRE").getNamedItem("NOM"), std::optional<std::string>(value));
    }
}

TEST(XmlDocumentTest, RefusesTextAndNamesXmlCannotHold)
{
    Document doc;
    Node centre = doc.appendChild(doc.createElement("CENTRE"));
    const std::string badValues[] = {std::string("a\0b", 3), "\x01",        "\x1F", "\xC0vila",
                                     "\xED\xA0\x80",         "\xEF\xBF\xBF"};
    for (const std::string& value : badValues) {
        SCOPED_TRACE(testing::PrintToString(value));
        EXPECT_THROW(centre.setAttribute("NOM", value), Error);
        EXPECT_EQ(centre.getNamedItem("NOM"), std::nullopt);
    }
    const std::string badNames[] = {"", "1A", "A B", "A\"", std::string("A\0B", 3)};
    for (const std::string& name : badNames) {
        SCOPED_TRACE(testing::PrintToString(name));
        EXPECT_THROW(centre.setAttribute(name, "x"), Error);
        EXPECT_THROW(doc.createElement(name), Error);
    }
    EXPECT_EQ(doc.toString(), "<CENTRE/>");
}

TEST(XmlDocumentTest, FailedSaveKeepsOldFile)
{
    TempDir dir;
    const Document doc = BuildHorari();
    const auto old = dir.write("horari.xml", "<ANTIC/>");
    // A write past the file-size limit fails (even for root): the message says so in Spanish,
    // the old file stays and nothing is left beside it.
    {
        test::FalloInyectado limite(EFBIG, {"write"});
        try {
            doc.save(old);
            ADD_FAILURE() << "no error";
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("horari.xml: archivo demasiado grande"), std::string::npos)
                << e.what();
        }
    }
    EXPECT_EQ(ReadFile(old), "<ANTIC/>");
    EXPECT_TRUE(test::Temporales(dir.path().string()).empty());

    EXPECT_THROW(doc.save(dir / "falta" / "horari.xml"), Error);
    EXPECT_FALSE(std::filesystem::exists(dir / "falta"));

    // Permissions do not stop root, who runs some of the build machines; Windows has no such
    // permission bits.
#ifndef _WIN32
    if (::geteuid() != 0) {
        std::filesystem::permissions(dir.path(),
                                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        EXPECT_THROW(doc.save(old), Error);
        EXPECT_EQ(ReadFile(old), "<ANTIC/>");
    }
#endif
}

} // namespace
} // namespace zendral::xml
