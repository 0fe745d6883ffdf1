#include "IniFile.h"

#include "AtomicFile.h"
#include "CodePage.h"
#include "Error.h"
#include "LecturaAcotada.h"
#include "Sistema.h"

#include <cerrno>
#include <optional>
#include <system_error>
#include <vector>

namespace zendral::ini
{
namespace
{

// One line of the file: its text and the line break that follows it ("" on a last line without).
struct Linea
{
    std::string_view texto;
    std::string_view fin;
};

std::vector<Linea> Partir(std::string_view contents)
{
    std::vector<Linea> lineas;
    std::size_t inicio = 0;
    while (inicio < contents.size()) {
        const std::size_t salto = contents.find('\n', inicio);
        if (salto == std::string_view::npos) {
            lineas.push_back({contents.substr(inicio), {}});
            break;
        }
        const bool cr = salto > inicio && contents[salto - 1] == '\r';
        const std::size_t finTexto = cr ? salto - 1 : salto;
        lineas.push_back(
            {contents.substr(inicio, finTexto - inicio), contents.substr(finTexto, salto + 1 - finTexto)});
        inicio = salto + 1;
    }
    return lineas;
}

std::string_view Recortar(std::string_view s)
{
    // Only blanks and tabs: a line's other control characters belong to its text.
    const auto blanco = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blanco(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && blanco(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// The name of a section header line ("[name]"), or nothing for any other line.
std::optional<std::string_view> Seccion(std::string_view linea)
{
    linea = Recortar(linea);
    if (linea.size() < 2 || linea.front() != '[') {
        return std::nullopt;
    }
    const std::size_t cierre = linea.find(']');
    if (cierre == std::string_view::npos) {
        return std::nullopt;
    }
    return Recortar(linea.substr(1, cierre - 1));
}

// Where the key name of a "key=value" line ends (the '='), or npos for comments and other lines.
std::size_t Igual(std::string_view linea)
{
    const std::string_view t = Recortar(linea);
    if (t.empty() || t.front() == ';') {
        return std::string_view::npos;
    }
    return linea.find('=');
}

} // namespace

std::string SetValue(std::string_view contents, std::string_view section, std::string_view key,
                     std::string_view value)
{
    // A UTF-8 byte order mark is kept in front and takes no part in the first line.
    std::string_view bom;
    if (contents.substr(0, 3) == "\xEF\xBB\xBF") {
        bom = contents.substr(0, 3);
        contents.remove_prefix(3);
    }
    const std::vector<Linea> lineas = Partir(contents);
    std::string_view finComun = "\r\n";
    for (const auto& l : lineas) {
        if (!l.fin.empty()) {
            finComun = l.fin;
            break;
        }
    }
    const std::string nueva = std::string(key) + "=" + std::string(value);

    std::string out(bom);
    const auto copiar = [&](const Linea& l) {
        out += l.texto;
        out += l.fin;
    };
    // A line that had no break gets one when something follows it.
    const auto copiarSeguida = [&](const Linea& l) {
        out += l.texto;
        out += l.fin.empty() ? finComun : l.fin;
    };

    std::size_t i = 0;
    for (; i < lineas.size(); ++i) {
        const auto nombre = Seccion(lineas[i].texto);
        if (nombre && cp1252::EqualsNoCase(*nombre, section)) {
            break;
        }
        copiar(lineas[i]);
    }
    if (i == lineas.size()) {
        if (out.size() > bom.size() && out.back() != '\n') {
            out += finComun;
        }
        out += "[" + std::string(section) + "]";
        out += finComun;
        out += nueva;
        out += finComun;
        return out;
    }

    // The section runs from its header to the next header or the end of the file.
    const std::size_t cabecera = i;
    std::size_t fin = cabecera + 1;
    while (fin < lineas.size() && !Seccion(lineas[fin].texto)) {
        ++fin;
    }
    for (std::size_t k = cabecera + 1; k < fin; ++k) {
        const std::size_t igual = Igual(lineas[k].texto);
        if (igual == std::string_view::npos) {
            continue;
        }
        if (cp1252::EqualsNoCase(Recortar(lineas[k].texto.substr(0, igual)), key)) {
            for (std::size_t j = cabecera; j < k; ++j) {
                copiar(lineas[j]);
            }
            out += lineas[k].texto.substr(0, igual + 1);
            out += value;
            out += lineas[k].fin;
            for (std::size_t j = k + 1; j < lineas.size(); ++j) {
                copiar(lineas[j]);
            }
            return out;
        }
    }

    std::size_t ultima = cabecera;
    for (std::size_t k = cabecera + 1; k < fin; ++k) {
        if (!Recortar(lineas[k].texto).empty()) {
            ultima = k;
        }
    }
    for (std::size_t j = cabecera; j < ultima; ++j) {
        copiar(lineas[j]);
    }
    copiarSeguida(lineas[ultima]);
    out += nueva;
    out += lineas[ultima].fin.empty() ? finComun : lineas[ultima].fin;
    for (std::size_t j = ultima + 1; j < lineas.size(); ++j) {
        copiar(lineas[j]);
    }
    return out;
}

namespace
{

// Sets the key in `file` from its own contents (none when it is missing).
void Escribir(const std::filesystem::path& file, std::string_view section, std::string_view key,
              std::string_view value)
{
    std::error_code ec;
    const bool existe = std::filesystem::exists(file, ec);
    // Velorin.ini takes a few hundred bytes: a file that is not a regular one, or one of more
    // than 16 MB, is refused rather than read without end.
    const std::string antes =
        existe ? LeerArchivoAcotado(file, 16 * kMegabyte, file.string()) : std::string();
    WriteFileAtomically(file, SetValue(antes, section, key, value));
}

// 0 when this program may write `file`, or the errno of the refusal: an open of the file for
// writing or, when it is missing, its creation, undone at once. What Windows tries before it
// sends a legacy program to its own copy.
int Rechazo(const std::filesystem::path& file)
{
    std::error_code ec;
    const bool existe = std::filesystem::exists(file, ec);
    const int fd = sistema::Abrir(file, sistema::Apertura::LecturaEscrituraCrea);
    if (fd < 0) {
        return errno;
    }
    sistema::Cerrar(fd);
    if (!existe) {
        sistema::Borrar(file);
    }
    return 0;
}

void CrearCarpetas(const std::filesystem::path& carpeta)
{
    std::error_code ec;
    if (carpeta.empty() || carpeta == carpeta.parent_path() || std::filesystem::is_directory(carpeta, ec)) {
        return;
    }
    CrearCarpetas(carpeta.parent_path());
    if (sistema::CrearDirectorio(carpeta) != 0) {
        throw Error("No se puede crear la carpeta " + carpeta.string() + ": " + SystemReason(errno));
    }
}

} // namespace

void WriteString(const std::filesystem::path& file, const std::filesystem::path& copia,
                 std::string_view section, std::string_view key, std::string_view value)
{
    if (copia.empty()) {
        Escribir(file, section, key, value);
        return;
    }
    std::error_code ec;
    const bool hayCopia = std::filesystem::exists(copia, ec);
    const int rechazo = Rechazo(file);
    if (rechazo == EACCES || rechazo == EPERM) {
        try {
            if (hayCopia) {
                Escribir(copia, section, key, value);
            } else {
                std::string antes;
                if (std::filesystem::exists(file, ec)) {
                    antes = LeerArchivoAcotado(file, 16 * kMegabyte, file.string());
                }
                CrearCarpetas(copia.parent_path());
                WriteFileAtomically(copia, SetValue(antes, section, key, value));
            }
        } catch (const Error& e) {
            throw Error("No se puede escribir el archivo " + file.string() + ": " + SystemReason(rechazo) +
                        ". Tampoco su copia del almacén virtual de Windows: " + e.what());
        }
        return;
    }
    if (hayCopia) {
        Escribir(copia, section, key, value);
    }
    Escribir(file, section, key, value);
}

void WriteString(const std::filesystem::path& file, std::string_view section, std::string_view key,
                 std::string_view value)
{
    WriteString(file, sistema::CopiaVirtualizada(file), section, key, value);
}

void WriteInteger(const std::filesystem::path& file, std::string_view section, std::string_view key,
                  long long value)
{
    WriteString(file, section, key, std::to_string(value));
}

} // namespace zendral::ini
