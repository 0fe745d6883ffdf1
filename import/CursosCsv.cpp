#include "CursosCsv.h"

#include "CodePage.h"
#include "Error.h"
#include "Tablas.h"

#include <unordered_map>

namespace zendral::csv
{
namespace
{

// Splits the text into records of fields: ";" between fields, a line break between records
// (LF or CRLF), double quotes around a field that holds either, "" for a quote inside.
std::vector<std::vector<std::string>> Registros(std::string_view texto, const std::string& nombre)
{
    std::vector<std::vector<std::string>> registros;
    std::vector<std::string> campos;
    std::string campo;
    bool entreComillas = false;
    bool campoEmpezado = false;
    std::size_t linea = 1;

    const auto cerrarRegistro = [&] {
        campos.push_back(std::move(campo));
        campo.clear();
        // A line with nothing on it is skipped.
        if (!(campos.size() == 1 && campos[0].empty() && !campoEmpezado)) {
            registros.push_back(std::move(campos));
        }
        campos.clear();
        campoEmpezado = false;
    };

    for (std::size_t i = 0; i < texto.size(); ++i) {
        const char c = texto[i];
        if (entreComillas) {
            if (c == '"') {
                if (i + 1 < texto.size() && texto[i + 1] == '"') {
                    campo += '"';
                    ++i;
                } else {
                    entreComillas = false;
                }
            } else {
                if (c == '\n') {
                    ++linea;
                }
                campo += c;
            }
            continue;
        }
        switch (c) {
        case '"':
            entreComillas = true;
            campoEmpezado = true;
            break;
        case ';':
            campos.push_back(std::move(campo));
            campo.clear();
            campoEmpezado = true;
            break;
        case '\r':
            if (i + 1 < texto.size() && texto[i + 1] == '\n') {
                break;
            }
            [[fallthrough]];
        case '\n':
            cerrarRegistro();
            ++linea;
            break;
        default:
            campo += c;
            campoEmpezado = true;
        }
    }
    if (entreComillas) {
        throw Error("El archivo " + nombre + " tiene unas comillas sin cerrar (línea " +
                    std::to_string(linea) + ")");
    }
    if (campoEmpezado || !campo.empty() || !campos.empty()) {
        cerrarRegistro();
    }
    return registros;
}

} // namespace

std::string CampoCsv(const std::string& valor)
{
    if (valor.find_first_of(";\"\r\n") == std::string::npos) {
        return valor;
    }
    std::string citado = "\"";
    for (const char c : valor) {
        if (c == '"') {
            citado += '"';
        }
        citado += c;
    }
    return citado + '"';
}

namespace
{

std::string Clave(std::string_view codiUtf8)
{
    return std::string(
        cp1252::Left(cp1252::FromUtf8ForTable(cp1252::Trim(codiUtf8)), tablas::kCursost.Ancho("CODI")));
}

} // namespace

std::vector<std::vector<std::string>> LeerRegistrosCsv(std::string_view texto, const std::string& nombre)
{
    // Spreadsheets often start UTF-8 files with a byte-order mark.
    if (texto.substr(0, 3) == "\xEF\xBB\xBF") {
        texto.remove_prefix(3);
    }
    // A file saved in another code page would have its accented letters stored as "?".
    std::size_t linea = 1;
    for (std::size_t i = 0; i < texto.size();) {
        char32_t cp = 0;
        const std::size_t len = cp1252::DecodeUtf8(texto, i, cp);
        if (len == 0) {
            throw Error("El archivo " + nombre + " no está en UTF-8 (línea " + std::to_string(linea) +
                        "): guárdelo con la codificación UTF-8 y vuelva a intentarlo");
        }
        linea += texto[i] == '\n' ? 1 : 0;
        i += len;
    }
    return Registros(texto, nombre);
}

std::vector<FilaCurso> LeerCursosCsv(std::string_view texto, const std::string& nombre)
{
    const auto registros = LeerRegistrosCsv(texto, nombre);
    const auto esCabecera = [](const std::vector<std::string>& r) {
        static const char* const kNombres[] = {"CODI", "DESCRIPCIO", "NIVEL", "CURSO"};
        if (r.size() != 4) {
            return false;
        }
        for (std::size_t i = 0; i < 4; ++i) {
            if (!cp1252::EqualsNoCase(cp1252::Trim(r[i]), kNombres[i])) {
                return false;
            }
        }
        return true;
    };
    if (registros.empty() || !esCabecera(registros.front())) {
        throw Error("El archivo " + nombre + " no empieza con la cabecera " + kCabecera);
    }
    std::vector<FilaCurso> filas;
    for (std::size_t i = 1; i < registros.size(); ++i) {
        const auto& r = registros[i];
        if (r.size() != 4) {
            throw Error("El archivo " + nombre + " tiene un registro con " + std::to_string(r.size()) +
                        " campos en lugar de 4 (registro " + std::to_string(i + 1) + ")");
        }
        filas.push_back({r[0], r[1], r[2], r[3]});
    }
    return filas;
}

std::string PlantillaCursos(const std::vector<CursoDocumento>& cursos)
{
    std::string texto = std::string(kCabecera) + "\n";
    for (const auto& curso : cursos) {
        texto +=
            CampoCsv(cp1252::ToUtf8(curso.codi)) + ";" + CampoCsv(cp1252::ToUtf8(curso.descripcio)) + ";;\n";
    }
    return texto;
}

std::vector<NivelCurso> AsignarCursos(const std::vector<CursoDocumento>& cursos,
                                      const std::vector<FilaCurso>& filas, ListaAvisos* avisos)
{
    // A value that does not go into the table as given is named by the code-page warning.
    const auto guardar = [&](const CursoDocumento& curso, const char* campo, const std::string& valor) {
        const std::string guardado = cp1252::FromUtf8ForTable(valor);
        std::string almacenado(cp1252::Left(guardado, tablas::kCursost.Ancho(campo)));
        if (avisos != nullptr && cp1252::ToUtf8(guardado) != valor) {
            avisos->Agregar({TipoAviso::Conversion, "CURSOST",
                             "CURS " + TextoVisible(cp1252::ToUtf8(curso.codi)), campo, TextoVisible(valor),
                             "se guarda como «" + cp1252::ToUtf8(almacenado) + "»"});
        }
        return almacenado;
    };
    std::unordered_map<std::string, const FilaCurso*> porCodigo;
    for (const auto& fila : filas) {
        porCodigo.try_emplace(Clave(fila.codi), &fila);
    }
    std::vector<NivelCurso> resultado;
    resultado.reserve(cursos.size());
    for (const auto& curso : cursos) {
        NivelCurso nc;
        if (const auto it =
                porCodigo.find(std::string(cp1252::Left(curso.codi, tablas::kCursost.Ancho("CODI"))));
            it != porCodigo.end()) {
            nc.nivel = guardar(curso, "NIVEL", it->second->nivel);
            nc.curso = guardar(curso, "CURSO", it->second->curso);
        }
        resultado.push_back(std::move(nc));
    }
    return resultado;
}

} // namespace zendral::csv
