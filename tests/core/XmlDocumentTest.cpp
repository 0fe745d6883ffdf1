#include "access/XmlDocument.h"

#include "access/Error.h"
#include "tests/support/TempDir.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
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

std::string LoadError(std::string_view contents, const std::string& name = "centre.xml")
{
    try {
        Document::loadMemory(contents, name);
    } catch (const Error& e) {
        return e.what();
    }
    return "(sin error)";
}

std::vector<std::string> Codes(const NodeList& nodes)
{
    std::vector<std::string> codes;
    for (const Node& node : nodes) {
        codes.push_back(node.getNamedItem("CODI").value_or("(sin CODI)"));
    }
    return codes;
}

// ---------------------------------------------------------------------------------------------
// Encodings: each form of the same document reads back as the same text.

struct EncodingCase
{
    const char* label;
    std::string bytes;
    std::string nom;  // the NOM attribute as UTF-8
    std::string text; // the element's text as UTF-8
    std::string ansi; // AttributeText(NOM), windows-1252
};

std::ostream& operator<<(std::ostream& os, const EncodingCase& c) { return os << c.label; }

std::vector<EncodingCase> EncodingCases()
{
    const std::string rich = "Àvila € “cita” Œ ñ";
    const std::string richAnsi = "\xC0vila \x80 \x93"
                                 "cita\x94 \x8C \xF1";
    // A literal tab in an attribute reads as a space.
    const std::string nom = "  " + rich + "  ";
    const std::string utf8 = "<CENTRE NOM=\"  " + rich + " \t\">" + rich + "</CENTRE>";
    const std::u16string utf16 = u"<CENTRE NOM=\"  Àvila € “cita” Œ ñ \t\">Àvila € “cita” Œ ñ</CENTRE>";
    return {
        {"Utf8", utf8, nom, rich, richAnsi},
        {"Utf8Bom", "\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + utf8, nom, rich, richAnsi},
        {"Utf16LeBom", Utf16(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>" + utf16, false), nom, rich,
         richAnsi},
        {"Utf16BeBom", Utf16(utf16, true), nom, rich, richAnsi},
        {"Windows1252",
         "<?xml version=\"1.0\" encoding=\"windows-1252\"?><CENTRE NOM=\"  " + richAnsi + " \t\">" +
             richAnsi + "</CENTRE>",
         nom, rich, richAnsi},
        // In ISO-8859-1 byte 0x80 is the control U+0080, which windows-1252 lacks.
        {"Iso88591",
         "<?xml version='1.0' encoding='ISO-8859-1'?><CENTRE NOM=' \xC0vila \xF1 \xFF "
         "\x80'>\xC0vila</CENTRE>",
         " Àvila ñ ÿ \xC2\x80", "Àvila", "\xC0vila \xF1 \xFF ?"},
    };
}

class XmlEncodingTest : public ::testing::TestWithParam<EncodingCase>
{
};

TEST_P(XmlEncodingTest, ReadsTheSameText)
{
    const EncodingCase& c = GetParam();
    const Document doc = Document::loadMemory(c.bytes, "centre.xml");
    const Node centre = doc.selectSingleNode("/CENTRE");
    ASSERT_TRUE(centre);
    EXPECT_EQ(centre.getNamedItem("NOM"), std::optional<std::string>(c.nom));
    EXPECT_EQ(centre.text(), c.text);
    EXPECT_EQ(AttributeText(centre, "NOM"), c.ansi);
}

INSTANTIATE_TEST_SUITE_P(XmlDocument, XmlEncodingTest, ::testing::ValuesIn(EncodingCases()),
                         [](const auto& info) { return std::string(info.param.label); });

// ---------------------------------------------------------------------------------------------
// Reading attributes.

TEST(XmlDocumentTest, AttributeValuesResolveReferencesAndNormalizeBlanks)
{
    const struct
    {
        const char* source;
        const char* value;
    } cases[] = {
        {"a &amp; b", "a & b"},
        {"&lt;c&gt; &quot;d&quot; &apos;e&apos;", "<c> \"d\" 'e'"},
        {"&#233;&#xE9;&#x20AC;&#8220;", "éé€“"},
        // Literal blanks in an attribute read as spaces; character references keep them.
        {"a\tb\nc", "a b c"},
        {"a&#9;b&#10;c&#13;", "a\tb\nc\r"},
        {"", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.source);
        const Document doc =
            Document::loadMemory(std::string("<CENTRE NOM=\"") + c.source + "\"/>", "centre.xml");
        EXPECT_EQ(doc.selectSingleNode("/CENTRE").getNamedItem("NOM"), std::optional<std::string>(c.value));
    }
}

TEST(XmlDocumentTest, AbsentAndEmptyAttributesDiffer)
{
    const Document doc =
        Document::loadMemory("<CENTRE BUIT='' BLANC='  \t ' PLE=' x '><AULA/></CENTRE>", "centre.xml");
    const Node centre = doc.selectSingleNode("/CENTRE");
    EXPECT_EQ(centre.getNamedItem("BUIT"), std::optional<std::string>(""));
    EXPECT_EQ(centre.getNamedItem("FALTA"), std::nullopt);
    EXPECT_EQ(centre.getNamedItem("buit"), std::nullopt);
    EXPECT_EQ(AttributeText(centre, "BUIT"), "");
    EXPECT_EQ(AttributeText(centre, "FALTA"), "");
    EXPECT_EQ(AttributeText(centre, "BLANC"), "");
    EXPECT_EQ(AttributeText(centre, "PLE"), "x");
    EXPECT_EQ(AttributeText(Node(), "PLE"), "");
}

// ---------------------------------------------------------------------------------------------
// Selecting elements.

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
    const struct
    {
        const char* path;
        std::vector<std::string> codes;
    } cases[] = {
        {"/CENTRE/AULES/AULA", {"1", "2", "3", "4"}},
        {"/CENTRE/AULES", {"A1", "A2"}},
        {"/CENTRE/AULA", {"fora"}},
        {"/CENTRE/AULES/AULA/AULA", {"dins"}},
        {"/CENTRE", {"C"}},
        {"/ESCOLA/AULES/AULA", {}},
        {"/AULES/AULA", {}},
        {"/CENTRE/aules/AULA", {}},
        {"/CENTRE/AULES/AULA/RES", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(Codes(doc.selectNodes(c.path)), c.codes);
        const Node first = doc.selectSingleNode(c.path);
        EXPECT_EQ(first ? first.getNamedItem("CODI").value_or("") : "(cap)",
                  c.codes.empty() ? "(cap)" : c.codes.front());
    }
}

TEST(XmlDocumentTest, NodeSelectNodesTakesDirectChildrenOnly)
{
    const Document doc = Document::loadMemory(kAules, "centre.xml");
    const NodeList aules = doc.selectNodes("/CENTRE/AULES");
    ASSERT_EQ(aules.length(), 2u);
    EXPECT_EQ(Codes(aules.item(0).selectNodes("AULA")), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(Codes(aules.item(1).selectNodes("AULA")), (std::vector<std::string>{"3", "4"}));
    EXPECT_EQ(aules.item(0).selectNodes("PROFESSORS").length(), 0u);
    EXPECT_FALSE(aules.item(2));
}

// ---------------------------------------------------------------------------------------------
// Refused documents.

TEST(XmlDocumentTest, MalformedDocumentNamesFileLineAndColumn)
{
    const struct
    {
        const char* xml;
        const char* message;
    } cases[] = {
        {"<CENTRE>\n  <AULES>\n<AULA CODI=1/>\n</AULES></CENTRE>",
         "El archivo centre.xml no es un documento XML válido (línea 3, columna 12): "
         "AttValue: \" or ' expected"},
        {"<CENTRE>\n<AULES>\n</AULA>\n</CENTRE>",
         "El archivo centre.xml no es un documento XML válido (línea 3, columna 8): "
         "Opening and ending tag mismatch: AULES line 2 and AULA"},
        {"<CENTRE/>\n<CENTRE/>", "El archivo centre.xml no es un documento XML válido (línea 2, columna 1): "
                                 "Extra content at the end of the document"},
        {"<CENTRE>\n<AULA NOM=\"\xC0vila\"/>\n</CENTRE>",
         "El archivo centre.xml no es un documento XML válido (línea 2, columna 12): "
         "Input is not proper UTF-8, indicate encoding !\nBytes: 0xC0 0x76 0x69 0x6C"},
        {" \n", "El archivo centre.xml no es un documento XML válido (línea 2, columna 1): "
                "Start tag expected, '<' not found"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.xml);
        ::testing::internal::CaptureStderr();
        const std::string message = LoadError(c.xml);
        const std::string printed = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(printed, "");
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

    const struct
    {
        const char* label;
        std::string xml;
    } cases[] = {
        {"billion laughs", "<?xml version=\"1.0\"?>\n<!DOCTYPE CENTRE [\n <!ENTITY l0 \"ha\">\n"
                           " <!ENTITY l1 \"&l0;&l0;&l0;&l0;&l0;&l0;&l0;&l0;&l0;&l0;\">\n"
                           " <!ENTITY l2 \"&l1;&l1;&l1;&l1;&l1;&l1;&l1;&l1;&l1;&l1;\">\n"
                           " <!ENTITY l3 \"&l2;&l2;&l2;&l2;&l2;&l2;&l2;&l2;&l2;&l2;\">\n"
                           " <!ENTITY l4 \"&l3;&l3;&l3;&l3;&l3;&l3;&l3;&l3;&l3;&l3;\">\n"
                           " <!ENTITY l5 \"&l4;&l4;&l4;&l4;&l4;&l4;&l4;&l4;&l4;&l4;\">\n"
                           " <!ENTITY l6 \"&l5;&l5;&l5;&l5;&l5;&l5;&l5;&l5;&l5;&l5;\">\n"
                           " <!ENTITY l7 \"&l6;&l6;&l6;&l6;&l6;&l6;&l6;&l6;&l6;&l6;\">\n"
                           " <!ENTITY l8 \"&l7;&l7;&l7;&l7;&l7;&l7;&l7;&l7;&l7;&l7;\">\n"
                           " <!ENTITY l9 \"&l8;&l8;&l8;&l8;&l8;&l8;&l8;&l8;&l8;&l8;\">\n"
                           "]>\n<CENTRE NOM=\"&l9;\">&l9;</CENTRE>"},
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
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const auto start = std::chrono::steady_clock::now();
        ::testing::internal::CaptureStderr();
        const std::string message = LoadError(c.xml);
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
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
    const struct
    {
        std::filesystem::path file;
        std::string message;
    } cases[] = {
        {dir / "falta.xml", "No existe el archivo " + (dir / "falta.xml").string()},
        {empty, "El archivo " + empty.string() + " está vacío: no contiene ningún documento XML"},
        {bad,
         "El archivo " + bad.string() +
             " no es un documento XML válido (línea 3, columna 1): Premature end of data in tag AULA line 2"},
        {dir / "carpeta.xml",
         "No se puede leer " + (dir / "carpeta.xml").string() + ": es una carpeta, no un archivo XML"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        try {
            Document::load(c.file);
            ADD_FAILURE() << "sin error";
        } catch (const Error& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Writing.

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
    const std::string lint = "/usr/bin/xmllint --noout '" + file.string() + "'";
    EXPECT_EQ(std::system(lint.c_str()), 0);
    EXPECT_EQ(Document::load(file).toString(), kHorari);
}

TEST(XmlDocumentTest, LoadedDocumentIsWrittenAsUtf8WithoutDeclaration)
{
    const struct
    {
        const char* label;
        std::string xml;
    } cases[] = {
        {"utf-8", "<!-- c -->\n<CENTRE NOM=\"Àvila\" CODI=\"1\">\n  ñ</CENTRE>\n"},
        {"iso-8859-1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
                       "<!-- c -->\n<CENTRE NOM=\"\xC0vila\" CODI=\"1\">\n  \xF1</CENTRE>\n"},
        {"utf-16", Utf16(u"<?xml version=\"1.0\" encoding=\"UTF-16\"?>"
                         u"<!-- c -->\n<CENTRE NOM=\"Àvila\" CODI=\"1\">\n  ñ</CENTRE>\n",
                         false)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Document doc = Document::loadMemory(c.xml, "centre.xml");
        EXPECT_EQ(doc.toString(), "<!-- c --><CENTRE NOM=\"Àvila\" CODI=\"1\">\n  ñ</CENTRE>");
        doc.selectSingleNode("/CENTRE").setAttribute("NOM", "Ñ€");
        EXPECT_EQ(doc.toString(), "<!-- c --><CENTRE NOM=\"Ñ€\" CODI=\"1\">\n  ñ</CENTRE>");
    }
}

TEST(XmlDocumentTest, AttributeValuesRoundTrip)
{
    const std::string values[] = {
        "a & b", "<x>", "\"q\" 'a'", "línea1\nlínea2", "\tta\tb", "cr\r\nlf", "  ", "", "]]>", "€ “” 😀",
    };
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
    const std::string badValues[] = {
        std::string("a\0b", 3), "\x01", "\x1F", "\xC0vila", "\xED\xA0\x80", "\xEF\xBF\xBF",
    };
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
    // A directory in the place of the temporary file makes the write fail, even for root.
    std::filesystem::create_directory(dir / "horari.xml.tmp");
    EXPECT_THROW(doc.save(old), Error);
    EXPECT_EQ(ReadFile(old), "<ANTIC/>");

    EXPECT_THROW(doc.save(dir / "falta" / "horari.xml"), Error);
    EXPECT_FALSE(std::filesystem::exists(dir / "falta"));

    // Permissions do not stop root, who runs some of the build machines.
    if (::geteuid() != 0) {
        std::filesystem::remove(dir / "horari.xml.tmp");
        std::filesystem::permissions(dir.path(),
                                     std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec);
        EXPECT_THROW(doc.save(old), Error);
        EXPECT_EQ(ReadFile(old), "<ANTIC/>");
    }
}

} // namespace
} // namespace zendral::xml
