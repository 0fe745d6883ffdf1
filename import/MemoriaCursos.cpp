#include "MemoriaCursos.h"

#include "AtomicFile.h"
#include "BoundedRead.h"
#include "CarpetaZendral.h"
#include "CodePage.h"
#include "ControlCursos.h"
#include "Error.h"
#include "Importacion.h"
#include "Informe.h"

#include <map>
#include <utility>

namespace zendral::memoria
{
namespace
{

Aviso AvisoMemoria(const std::filesystem::path& workDir, const std::string& detalle)
{
    return {TipoAviso::Memoria, "", "", "", TextoRuta(Archivo(workDir)), detalle};
}

} // namespace

std::filesystem::path Archivo(const std::filesystem::path& workDir)
{
    return CarpetaZendral(workDir) / "cursos.csv";
}

std::vector<Respuesta> Leer(const std::filesystem::path& workDir)
{
    const auto archivo = Archivo(workDir);
    std::error_code ec;
    if (!std::filesystem::exists(archivo, ec)) {
        return {};
    }
    const std::string nombre = TextoRuta(archivo);
    // A regular file only: a FIFO or a device by that name is refused without waiting.
    const auto registros =
        csv::LeerRegistrosCsv(ReadBoundedFile(archivo, csv::kTamanoMaximo, nombre), nombre);
    if (registros.empty() || registros.front().size() != 5 || registros.front()[0] != "CENTRE") {
        throw Error("El archivo " + nombre + " no empieza con la cabecera " + kCabecera);
    }
    std::vector<Respuesta> respuestas;
    for (std::size_t i = 1; i < registros.size(); ++i) {
        const auto& r = registros[i];
        if (r.size() != 5) {
            throw Error("El archivo " + nombre + " tiene un registro con " + std::to_string(r.size()) +
                        " campos en lugar de 5 (registro " + std::to_string(i + 1) + ")");
        }
        respuestas.push_back({r[0], r[1], r[2], r[3], r[4]});
    }
    return respuestas;
}

std::vector<csv::FilaCurso> DelCentro(const std::vector<Respuesta>& respuestas, const std::string& centre)
{
    std::vector<csv::FilaCurso> filas;
    for (const auto& r : respuestas) {
        if (r.centre == centre) {
            filas.push_back({r.codi, r.descripcio, r.nivel, r.curso});
        }
    }
    return filas;
}

void Guardar(const std::filesystem::path& workDir, const std::vector<Respuesta>& nuevas)
{
    std::vector<Respuesta> todas = Leer(workDir);
    std::map<std::pair<std::string, std::string>, std::size_t> indice;
    for (std::size_t i = 0; i < todas.size(); ++i) {
        indice.try_emplace({todas[i].centre, todas[i].codi}, i);
    }
    for (const auto& r : nuevas) {
        const auto [it, nueva] = indice.try_emplace({r.centre, r.codi}, todas.size());
        if (nueva) {
            todas.push_back(r);
        } else {
            todas[it->second] = r;
        }
    }
    std::string texto = std::string(kCabecera) + "\n";
    for (const auto& r : todas) {
        texto += csv::CampoCsv(r.centre) + ";" + csv::CampoCsv(r.codi) + ";" + csv::CampoCsv(r.descripcio) +
                 ";" + csv::CampoCsv(r.nivel) + ";" + csv::CampoCsv(r.curso) + "\n";
    }
    CrearCarpetaPropia(workDir, "");
    WriteFileAtomically(Archivo(workDir), texto);
}

std::size_t Aplicar(const std::filesystem::path& workDir, const xml::Document& doc, Prompter& prompter,
                    ListaAvisos& avisos)
{
    std::vector<csv::FilaCurso> filas;
    try {
        filas = DelCentro(Leer(workDir), CodigoCentro(doc));
    } catch (const Error& e) {
        avisos.Agregar(AvisoMemoria(workDir, std::string("no se ha podido leer: ") + e.what() +
                                                 "; no se ha usado ningún nivel ni curso recordado"));
        return 0;
    }
    const auto niveles = csv::AsignarCursos(LeerCursos(doc), filas, &avisos);
    std::size_t recordados = 0;
    for (const auto& n : niveles) {
        recordados += n.nivel.empty() && n.curso.empty() ? 0 : 1;
    }
    if (recordados == 0) {
        return 0;
    }
    // Typed in as the dialog and the command line type answers, so the table is the same.
    ControlCursos relleno(workDir, false, prompter);
    relleno.FormShow();
    relleno.Rellenar(niveles);
    relleno.Tabla().Close();
    return recordados;
}

void Recordar(const std::filesystem::path& workDir, const xml::Document& doc, ListaAvisos& avisos)
{
    const std::string centre = CodigoCentro(doc);
    std::vector<Respuesta> nuevas;
    for (const auto& r : LeerCursost(workDir)) {
        if (NivelCurso{r.nivel, r.curso}.Completo()) {
            nuevas.push_back({centre, cp1252::ToUtf8(r.codi), cp1252::ToUtf8(r.descripcio),
                              cp1252::ToUtf8(r.nivel), cp1252::ToUtf8(r.curso)});
        }
    }
    if (nuevas.empty()) {
        return;
    }
    try {
        Guardar(workDir, nuevas);
    } catch (const Error& e) {
        avisos.Agregar(
            AvisoMemoria(workDir, std::string("no se han podido guardar los niveles y cursos de este "
                                              "centro: ") +
                                      e.what()));
    }
}

} // namespace zendral::memoria
