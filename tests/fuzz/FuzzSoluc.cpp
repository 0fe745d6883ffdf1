// Velorin's solved timetable (SOLUC bytes) through the whole timetable export, against lookup
// tables written once by a small centre import. A damaged table must end in zendral::Error.
#include "DbfTable.h"
#include "Error.h"
#include "EstadoProceso.h"
#include "Exportacion.h"
#include "FuzzSupport.h"
#include "Importacion.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <system_error>

namespace
{

namespace fs = std::filesystem;

constexpr const char* kCentre = R"(<?xml version="1.0" encoding="UTF-8"?>
<CENTRE>
  <MATERIES>
    <MATERIA codi="2063541" curs="23510" descripcio="Matemàtiques" curta="MAT"/>
    <MATERIA codi="2063542" curs="23510" descripcio="Llengua catalana" curta="LCL"/>
  </MATERIES>
  <ACTIVITATS>
    <ACTIVITAT codi="901" descripcio="Guàrdia" curta="GUA"/>
  </ACTIVITATS>
  <PLACES>
    <PLACA codi="P1" descripcio="Joana Riera" curta="JRI"/>
    <PLACA codi="P2" descripcio="Miquel Pons" curta="MPO"/>
  </PLACES>
  <AULES>
    <AULA codi="A1" descripcio="Aula 1"/>
  </AULES>
  <CURSOS>
    <CURS codi="23510" descripcio="1r d'ESO">
      <GRUP codi="G1" nom="A"/>
      <GRUP codi="G2" nom="B"/>
    </CURS>
  </CURSOS>
</CENTRE>
)";

// The working directory with every table the export reads except SOLUC, and days and hours
// as Velorin fills them (days 1 to 5, periods 1 to 6).
fs::path Preparar()
{
    const fs::path work = zendral::fuzz::ScratchDir() / "VTEMP";
    fs::create_directories(work);
    const fs::path centre = zendral::fuzz::ScratchDir() / "centre.xml";
    zendral::fuzz::WriteBytes(centre, kCentre);
    zendral::EstadoProceso estado;
    zendral::fuzz::Respuestas respuestas(centre);
    zendral::Importacion(estado, respuestas, work).BExportarClick();

    zendral::dbf::Table dh("DIASHORAST", work, "DIASHORAST");
    dh.Open();
    for (int d = 1; d <= 5; ++d) {
        for (int h = 1; h <= 6; ++h) {
            dh.Append();
            dh.FieldByName("DIHO").SetAsString(std::to_string(d) + std::to_string(h));
            dh.FieldByName("DIA").SetAsString(std::to_string(d));
            dh.FieldByName("HORADESDE").SetAsString(std::to_string(7 + h) + ":00");
            dh.FieldByName("MINUTOS").SetAsString("55");
            dh.Post();
        }
    }
    dh.Close();
    return work;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static const fs::path work = Preparar();
    std::error_code ec;
    fs::remove(work / "SOLUC.MDX", ec);
    zendral::fuzz::WriteBytes(work / "SOLUC.DBF", zendral::fuzz::AsText(data, size));

    zendral::EstadoProceso estado;
    zendral::fuzz::Respuestas respuestas(work);
    try {
        zendral::Exportacion(estado, respuestas, work).BImportarClick();
    } catch (const zendral::Error&) {
        // A damaged or unexpected SOLUC is refused with a message.
    }
    return 0;
}
