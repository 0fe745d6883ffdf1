// The centre document through the whole centre import: load, the seven stages, the tables.
// Bad documents must end in zendral::Error; anything else escaping is a fault.
#include "Error.h"
#include "EstadoProceso.h"
#include "FuzzSupport.h"
#include "Importacion.h"

#include <cstddef>
#include <cstdint>
#include <filesystem>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    namespace fs = std::filesystem;
    static const fs::path work = [] {
        const fs::path dir = zendral::fuzz::ScratchDir() / "VTEMP";
        fs::create_directories(dir);
        return dir;
    }();
    const fs::path centre = zendral::fuzz::ScratchDir() / "centre.xml";
    zendral::fuzz::WriteBytes(centre, zendral::fuzz::AsText(data, size));

    zendral::EstadoProceso estado;
    zendral::fuzz::Respuestas respuestas(centre);
    try {
        zendral::Importacion(estado, respuestas, work).BExportarClick();
    } catch (const zendral::Error&) {
        // A refused document or table: the run ends with a message, as it should.
    }
    return 0;
}
