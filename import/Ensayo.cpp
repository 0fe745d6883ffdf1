#include "Ensayo.h"

#include "Error.h"
#include "EstadoProceso.h"
#include "Importacion.h"
#include "Informe.h"
#include "MemoriaCursos.h"

#include <cstdio>
#include <random>

namespace zendral
{
namespace
{

namespace fs = std::filesystem;

// A new folder of our own in the system's temporary folder, removed with what it holds when the
// object goes.
class CarpetaBorrador
{
public:
    CarpetaBorrador()
    {
        std::error_code ec;
        const fs::path base = fs::temp_directory_path(ec);
        if (ec) {
            throw Error("No se puede crear una carpeta temporal: " + ec.message());
        }
        std::random_device azar;
        for (int intento = 0; intento < 100; ++intento) {
            char nombre[40];
            std::snprintf(nombre, sizeof nombre, "zendral-comprobar-%08x", static_cast<unsigned>(azar()));
            const fs::path carpeta = base / nombre;
            if (fs::create_directory(carpeta, ec)) {
                m_path = carpeta;
                return;
            }
            if (ec) {
                throw Error("No se puede crear la carpeta temporal " + TextoRuta(carpeta) + ": " +
                            ec.message());
            }
        }
        throw Error("No se puede crear una carpeta temporal en " + TextoRuta(base));
    }
    ~CarpetaBorrador()
    {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    CarpetaBorrador(const CarpetaBorrador&) = delete;
    CarpetaBorrador& operator=(const CarpetaBorrador&) = delete;

    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

} // namespace

Ensayo Ensayar(const fs::path& workDir, xml::Document documento, Prompter& prompter, bool usarMemoria)
{
    Ensayo ensayo;
    CarpetaBorrador borrador;
    // The remembered answers go with the scratch tables, so that stage 4 starts from them as it
    // would in the working directory; only read there.
    if (usarMemoria) {
        std::vector<memoria::Respuesta> recordadas;
        try {
            recordadas = memoria::Leer(workDir);
        } catch (const Error& e) {
            ensayo.avisos.Agregar({TipoAviso::Memoria, "", "", "", TextoRuta(memoria::Archivo(workDir)),
                                   std::string("no se ha podido leer: ") + e.what() +
                                       "; no se ha usado ningún nivel ni curso recordado"});
            usarMemoria = false;
        }
        if (!recordadas.empty()) {
            memoria::Guardar(borrador.path(), recordadas);
        }
    }

    EstadoProceso estado;
    estado.documento = std::move(documento);
    Importacion importacion(estado, prompter, borrador.path());
    importacion.UsarMemoria(usarMemoria);
    if (!importacion.CargarTablas()) {
        ensayo.interrumpido = true;
        return ensayo;
    }
    ensayo.avisos.Agregar(importacion.avisos());

    ensayo.cambios = comparacion::Comparar(workDir, borrador.path());
    ensayo.avisos.Agregar(ensayo.cambios.AvisosAbreviaturas());
    return ensayo;
}

} // namespace zendral
