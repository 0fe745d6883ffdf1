#include "CursosCsv.h"

#include "CodePage.h"
#include "Error.h"

#include <gtest/gtest.h>

namespace zendral::csv
{
namespace
{

TEST(CursosCsv, ReadsQuotedFieldsLineEndingsAndByteOrderMark)
{
    const auto filas = LeerCursosCsv("\xEF\xBB\xBF"
                                     "codi;Descripcio;NIVEL;CURSO\r\n"
                                     "23510;\"1r; d'ESO\";ESO;1\r\n"
                                     "\n"
                                     "23511;\"Dit \"\"dos\"\"\";ESO;2\n"
                                     "23512;\"Línia\nnova\"; ES;",
                                     "cursos.csv");
    ASSERT_EQ(filas.size(), 3u);
    EXPECT_EQ(filas[0].descripcio, "1r; d'ESO");
    EXPECT_EQ(filas[1].descripcio, "Dit \"dos\"");
    EXPECT_EQ(filas[1].curso, "2");
    EXPECT_EQ(filas[2].descripcio, "Línia\nnova");
    EXPECT_EQ(filas[2].nivel, " ES");
    EXPECT_EQ(filas[2].curso, "");
}

TEST(CursosCsv, RejectsWhatItCannotReadWithTheFileName)
{
    for (const char* malo : {"", "CODI;DESCRIPCIO;NIVEL\n1;a;b\n", "CODI;DESCRIPCIO;NIVEL;CURSO\n1;a;b\n",
                             "CODI;DESCRIPCIO;NIVEL;CURSO\n1;\"a;b;c\n"}) {
        try {
            LeerCursosCsv(malo, "cursos.csv");
            ADD_FAILURE() << "accepted: " << malo;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("cursos.csv"), std::string::npos) << e.what();
        }
    }
}

TEST(CursosCsv, TemplateRoundTripsEveryCourse)
{
    const std::vector<CursoDocumento> cursos = {{"23510", cp1252::FromUtf8("1r; d'ESO")},
                                                {"", cp1252::FromUtf8("Sense \"codi\"")},
                                                {"C3", cp1252::FromUtf8("Batxillerat à distància")}};
    const std::string plantilla = PlantillaCursos(cursos);
    const auto filas = LeerCursosCsv(plantilla, "plantilla");
    ASSERT_EQ(filas.size(), 3u);
    for (std::size_t i = 0; i < cursos.size(); ++i) {
        EXPECT_EQ(cp1252::FromUtf8(filas[i].codi), cursos[i].codi);
        EXPECT_EQ(cp1252::FromUtf8(filas[i].descripcio), cursos[i].descripcio);
        EXPECT_EQ(filas[i].nivel, "");
        EXPECT_EQ(filas[i].curso, "");
    }
}

TEST(CursosCsv, RowsMatchCoursesAfterTheDocumentsTextRules)
{
    const std::vector<CursoDocumento> cursos = {
        {"C1", "a"}, {"c1", "b"}, {"", "c"}, {"C3456789012345678901", "d"}, {cp1252::FromUtf8("CÀ"), "e"},
        {"C9", "f"}};
    const std::vector<FilaCurso> filas = {
        {" C1 ", "", "ESO", "1"},
        {"C1", "", "BAT", "2"},                     // a later duplicate: the first row wins
        {"", "", " BATXILLERAT ", "1234"},          // stored as given, cut to 5 and 3
        {"C34567890123456789012345", "", "X", "9"}, // matches after the cut to 20
        {"CÀ", "", "N", "1"},                       // UTF-8 in the file, windows-1252 in the table
        {"C9", "", "   ", "1"},                     // blank level: lacking
    };
    const auto niveles = AsignarCursos(cursos, filas);
    ASSERT_EQ(niveles.size(), cursos.size());
    EXPECT_EQ(niveles[0].nivel + "/" + niveles[0].curso, "ESO/1");
    EXPECT_FALSE(niveles[1].Completo()) << "codes match with letter case";
    EXPECT_EQ(niveles[2].nivel + "/" + niveles[2].curso, " BATX/123");
    EXPECT_EQ(niveles[3].nivel, "X");
    EXPECT_EQ(niveles[4].nivel, "N");
    EXPECT_TRUE(niveles[4].Completo());
    EXPECT_FALSE(niveles[5].Completo());
}

} // namespace
} // namespace zendral::csv
