#include "Informe.h"

#include "AtomicFile.h"
#include "CarpetaZendral.h"
#include "Error.h"
#include "System.h"

#include <algorithm>
#include <cstdio>

namespace zendral
{
namespace
{

namespace fs = std::filesystem;

std::string Dos(int n)
{
    char b[8];
    std::snprintf(b, sizeof b, "%02d", n);
    return b;
}

// Report names start with the date and time and a sequence number within that second, so that
// they sort in the order they were written: AAAAMMDD-HHMMSS-NN-<run>.txt.
bool EsInforme(const std::string& nombre)
{
    if (nombre.size() < 22 || nombre.substr(nombre.size() - 4) != ".txt") {
        return false;
    }
    for (std::size_t i = 0; i < 18; ++i) {
        const bool guion = i == 8 || i == 15;
        if (guion ? nombre[i] != '-' : !(nombre[i] >= '0' && nombre[i] <= '9')) {
            return false;
        }
    }
    return nombre[18] == '-';
}

std::string Mensaje(const std::error_code& ec) { return ec.message(); }

} // namespace

std::string TextoRuta(const fs::path& ruta)
{
    const std::u8string u8 = ruta.u8string();
    return std::string(reinterpret_cast<const char*>(u8.data()), u8.size());
}

fs::path CrearCarpetaPropia(const fs::path& workDir, const std::string& nombre)
{
    std::error_code ec;
    if (!fs::is_directory(workDir, ec)) {
        throw Error("No existe el directorio de trabajo " + TextoRuta(workDir));
    }
    const fs::path propia = CarpetaZendral(workDir);
    const fs::path carpeta = nombre.empty() ? propia : propia / nombre;
    for (const fs::path& p : {propia, carpeta}) {
        fs::create_directory(p, ec);
        if (ec || !fs::is_directory(p, ec)) {
            throw Error("No se puede crear la carpeta " + TextoRuta(p) + (ec ? ": " + Mensaje(ec) : ""));
        }
    }
    return carpeta;
}

std::string Informe::Texto(const std::tm& fecha) const
{
    std::string t = "Zendral: " + proceso + "\n";
    t += "Fecha: " + std::to_string(fecha.tm_year + 1900) + "-" + Dos(fecha.tm_mon + 1) + "-" +
         Dos(fecha.tm_mday) + " " + Dos(fecha.tm_hour) + ":" + Dos(fecha.tm_min) + ":" + Dos(fecha.tm_sec) +
         "\n";
    t += "Documento: " + TextoRuta(documento) + "\n";
    t += "Resultado: " + resultado + "\n";
    t += "\nRegistros por tabla:\n";
    if (tablas.empty()) {
        t += "  (ninguna tabla escrita)\n";
    }
    for (const auto& [tabla, registros] : tablas) {
        t += "  " + tabla + ": " + std::to_string(registros) + "\n";
    }
    if (!comprobacion.empty()) {
        t += "\nComprobación del documento escrito:\n";
        for (const auto& linea : comprobacion) {
            t += "  " + linea + "\n";
        }
    }
    t += "\nAvisos: ";
    t += avisos.empty() ? "ninguno\n" : avisos.Detalles();
    if (!cambios.empty()) {
        t += "\n" + cambios;
    }
    return t;
}

fs::path EscribirInforme(const fs::path& workDir, const Informe& informe, std::time_t ahora)
{
    const fs::path carpeta = CrearCarpetaPropia(workDir, "informes");
    const std::tm fecha = sys::LocalTime(ahora);
    const std::string sello = std::to_string(fecha.tm_year + 1900) + Dos(fecha.tm_mon + 1) +
                              Dos(fecha.tm_mday) + "-" + Dos(fecha.tm_hour) + Dos(fecha.tm_min) +
                              Dos(fecha.tm_sec);
    const std::string clase = informe.proceso.rfind("Exportación", 0) == 0 ? "exportacion" : "importacion";
    std::error_code ec;
    fs::path archivo;
    for (int n = 1;; ++n) {
        if (n > 99) {
            throw Error("No se puede escribir el informe en " + TextoRuta(carpeta) +
                        ": demasiados informes en el mismo segundo");
        }
        archivo = carpeta / (sello + "-" + Dos(n) + "-" + clase + ".txt");
        if (!fs::exists(archivo, ec)) {
            break;
        }
    }
    WriteFileAtomically(archivo, informe.Texto(fecha));

    std::vector<std::pair<std::string, fs::path>> informes;
    for (fs::directory_iterator it(carpeta, ec), fin; !ec && it != fin; it.increment(ec)) {
        std::string nombre = TextoRuta(it->path().filename());
        if (EsInforme(nombre)) {
            informes.emplace_back(std::move(nombre), it->path());
        }
    }
    std::sort(informes.begin(), informes.end());
    for (std::size_t i = 0; i + kInformesGuardados < informes.size(); ++i) {
        // A report that cannot be deleted only means one more is kept.
        sys::Remove(informes[i].second);
    }
    return archivo;
}

} // namespace zendral
