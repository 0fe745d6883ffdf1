// Table bytes through the table engine's reader: open, walk every record, read every field in
// every way. A damaged table must end in zendral::Error.
#include "DbfTable.h"
#include "Error.h"
#include "FuzzSupport.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace
{

// Calls one reading of a field; a value the reading cannot give is refused with a message.
template <typename Leer> void Probar(Leer leer)
{
    try {
        (void)leer();
    } catch (const zendral::Error&) {
    }
}

// Reads one field every way the stages read it.
void LeerCampo(const zendral::dbf::Field& campo)
{
    Probar([&] { return campo.AsString(); });
    Probar([&] { return campo.AsInteger(); });
    Probar([&] { return campo.AsFloat(); });
    Probar([&] { return campo.AsBoolean(); });
    Probar([&] { return campo.IsNull(); });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    namespace fs = std::filesystem;
    const fs::path dir = zendral::fuzz::ScratchDir();
    std::error_code ec;
    fs::remove(dir / "FUZZ.MDX", ec);
    zendral::fuzz::WriteBytes(dir / "FUZZ.DBF", zendral::fuzz::AsText(data, size));
    try {
        zendral::dbf::Table tabla("wwTableFuzz", dir, "FUZZ");
        tabla.Open();
        const std::size_t registros = tabla.RecordCount();
        std::size_t leidos = 0;
        for (tabla.First(); !tabla.Eof(); tabla.Next()) {
            for (std::size_t i = 0; i < tabla.Fields().size(); ++i) {
                LeerCampo(zendral::dbf::Field(tabla, static_cast<int>(i)));
            }
            ++leidos;
        }
        // Walking the table meets exactly the records it counts.
        if (leidos != registros) {
            std::abort();
        }
        tabla.Close();
    } catch (const zendral::Error&) {
        // A damaged table is refused with a message.
    }
    return 0;
}
