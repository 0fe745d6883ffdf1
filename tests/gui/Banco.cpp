#include "Banco.h"

#include "CodePage.h"

#include <QCoreApplication>

namespace zendral::test
{

const char* const kCentro =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<CENTRE codi=\"1\" descripcio=\"IES\">"
    "<MATERIES><MATERIA codi=\"M1\" curs=\"C1\" descripcio=\"Matemàtiques\" curta=\"MAT\"/>"
    "<MATERIA codi=\"M2\" curs=\"C2\" descripcio=\"Física\" curta=\"FIS\"/></MATERIES>"
    "<PLACES><PLACA codi=\"P1\" descripcio=\"Sureda Pons, Maria\" curta=\"MSP\"/></PLACES>"
    "<AULES><AULA codi=\"101\" descripcio=\"Aula 1\"/></AULES>"
    "<CURSOS><CURS codi=\"C1\" descripcio=\"1r d'ESO\"><GRUP codi=\"G1\" nom=\"A\"/><GRUP codi=\"G2\" "
    "nom=\"B\"/>"
    "</CURS><CURS codi=\"C2\" descripcio=\"1r de Batxillerat\"><GRUP codi=\"G3\" nom=\"A\"/></CURS></CURSOS>"
    "</CENTRE>\n";

Banco::Banco()
    : work(dir / "VTEMP")
    , ini(dir / "Velorin.ini")
{
    // The tests answer Qt's own file dialog; on Windows the program would show the system's.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    std::filesystem::create_directories(work / "saga");
    centro = work / "saga" / "centre.xml";
    dir.write("VTEMP/saga/centre.xml", kCentro);
}

TMForm& Banco::Crear(const QStringList& argumentos)
{
    form = std::make_unique<TMForm>(argumentos, prompter, ayuda, work, ini);
    return *form;
}

std::string Banco::Resultado() const
{
    return std::filesystem::exists(ini) ? ReadFile(ini) : std::string("(ninguno)");
}

QStringList Banco::Columna(const std::string& tabla, const std::string& campo) const
{
    dbf::Table t("prueba", work, tabla);
    t.Open(false);
    QStringList valores;
    for (t.First(); !t.Eof(); t.Next()) {
        valores << QString::fromStdString(cp1252::ToUtf8(t.FieldByName(campo).AsString()));
    }
    t.Close();
    return valores;
}

} // namespace zendral::test
