#include "Copias.h"

#include "AtomicFile.h"
#include "CarpetaZendral.h"
#include "CodePage.h"
#include "Error.h"
#include "Sistema.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <sstream>

namespace zendral::copias
{
namespace
{

namespace fs = std::filesystem;

constexpr const char* kDescripcion = "copia.txt";
constexpr const char* kMarca = "proceso-en-curso.txt";
constexpr const char* kParcial = ".parcial";

// A descriptor for reading `archivo`: the live run's own when it holds the file (Windows refuses
// reads through other handles of a file locked exclusively), a new one otherwise. -1 on failure.
int AbrirLectura(const fs::path& archivo)
{
    const int prestado = cerrojos::Prestado(archivo);
    return prestado >= 0 ? prestado : sistema::Abrir(archivo, sistema::Apertura::Lectura);
}

// The record count in a table's header, or nothing when the file cannot be read.
std::optional<std::uint32_t> Registros(const fs::path& tabla)
{
    const int fd = AbrirLectura(tabla);
    if (fd < 0) {
        return std::nullopt;
    }
    unsigned char b[4] = {};
    const bool ok = sistema::LeerEn(fd, b, sizeof b, 4) == sizeof b;
    sistema::Cerrar(fd);
    if (!ok) {
        return std::nullopt;
    }
    return static_cast<std::uint32_t>(b[0] | (b[1] << 8) | (b[2] << 16) | (std::uint32_t{b[3]} << 24));
}

// Copies the bytes of `origen` into the open file `fd`; 0 or the errno of the failure.
int CopiarBytes(const fs::path& origen, int fd)
{
    const int in = AbrirLectura(origen);
    if (in < 0) {
        return errno;
    }
    std::string buf(65536, '\0');
    std::uint64_t pos = 0;
    int err = 0;
    for (;;) {
        const std::int64_t n = sistema::LeerEn(in, buf.data(), buf.size(), pos);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            err = errno;
            break;
        }
        if (n == 0) {
            break;
        }
        if ((err = EscribirTodo(fd, std::string_view(buf.data(), static_cast<std::size_t>(n)))) != 0) {
            break;
        }
        pos += static_cast<std::uint64_t>(n);
    }
    sistema::Cerrar(in);
    if (err == 0 && sistema::Sincronizar(fd) != 0) {
        err = errno;
    }
    return err;
}

// A new file `destino` with the bytes of `origen`, made beside it and renamed into place.
void CopiarArchivo(const fs::path& origen, const fs::path& destino)
{
    int fd = -1;
    const fs::path tmp = CrearTemporal(destino, fd);
    int err = CopiarBytes(origen, fd);
    if (sistema::Cerrar(fd) != 0 && err == 0) {
        err = errno;
    }
    if (err == 0 && sistema::Reemplazar(tmp, destino) != 0) {
        err = errno;
    }
    if (err != 0) {
        sistema::Borrar(tmp);
        throw Error("No se puede copiar el archivo " + origen.string() + " en " + destino.string() + ": " +
                    SystemReason(err));
    }
}

std::string Fecha(const std::tm& t, const char* formato)
{
    char texto[32];
    std::strftime(texto, sizeof texto, formato, &t);
    return texto;
}

bool EsNombreDeCopia(const std::string& nombre)
{
    if (nombre.size() < 15 || nombre[8] != '-') {
        return false;
    }
    for (std::size_t i = 0; i < nombre.size(); ++i) {
        const char c = nombre[i];
        if (i == 8 || (i == 15 && c == '-')) {
            continue;
        }
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return nombre.size() == 15 || nombre[15] == '-';
}

// Copies sort by their time and then by their counter (-2 after -1, -10 after -9).
bool MasNueva(const Copia& a, const Copia& b)
{
    const auto clave = [](const std::string& n) {
        const long long contador = n.size() > 16 ? std::atoll(n.c_str() + 16) : 1;
        return std::make_pair(n.substr(0, 15), contador);
    };
    return clave(a.nombre) > clave(b.nombre);
}

std::optional<Copia> Leer(const fs::path& carpeta)
{
    std::error_code ec;
    const fs::path desc = carpeta / kDescripcion;
    if (!fs::is_regular_file(desc, ec)) {
        return std::nullopt;
    }
    Copia c;
    c.nombre = carpeta.filename().string();
    c.carpeta = carpeta;
    std::string texto;
    try {
        texto = ReadWholeFile(desc);
    } catch (const Error&) {
        return std::nullopt;
    }
    std::istringstream in(texto);
    std::string linea;
    while (std::getline(in, linea)) {
        const auto igual = linea.find('=');
        if (igual == std::string::npos) {
            continue;
        }
        const std::string clave = linea.substr(0, igual);
        const std::string valor = linea.substr(igual + 1);
        if (clave == "fecha") {
            c.fecha = valor;
        } else if (clave == "motivo") {
            c.motivo = valor;
        } else if (clave == "documento") {
            c.documento = valor;
        } else if (clave == "tabla") {
            const auto espacio = valor.find(' ');
            if (espacio != std::string::npos) {
                c.registros.emplace_back(
                    valor.substr(0, espacio),
                    static_cast<std::uint32_t>(std::strtoul(valor.c_str() + espacio + 1, nullptr, 10)));
            }
        }
    }
    return c;
}

void Desenlazar(const fs::path& archivo) noexcept
{
    cerrojos::Soltar(archivo);
    sistema::Borrar(archivo);
}

// The header of a table with its index no longer announced: the table's flag and each field's.
std::string SinIndice(std::string bytes)
{
    if (bytes.size() < 32) {
        return bytes;
    }
    bytes[28] = 0;
    for (std::size_t at = 32; at + 32 <= bytes.size() && bytes[at] != '\x0D'; at += 32) {
        bytes[at + 31] = 0;
    }
    return bytes;
}

// Writes `bytes` into a new file beside `destino` and renames it over `destino`, letting go of
// the run's lock on the old file and taking one on the new.
void Poner(const fs::path& destino, const std::string& bytes)
{
    int fd = -1;
    const fs::path tmp = CrearTemporal(destino, fd);
    int err = EscribirTodo(fd, bytes);
    if (err == 0 && sistema::Sincronizar(fd) != 0) {
        err = errno;
    }
    if (sistema::Cerrar(fd) != 0 && err == 0) {
        err = errno;
    }
    if (err == 0) {
        cerrojos::Soltar(destino);
        if (sistema::Reemplazar(tmp, destino) != 0) {
            err = errno;
        }
        cerrojos::SostenerArchivo(destino);
    }
    if (err != 0) {
        sistema::Borrar(tmp);
        throw Error("No se puede restaurar el archivo " + destino.string() + ": " + SystemReason(err));
    }
}

} // namespace

const std::vector<std::string>& Tablas()
{
    static const std::vector<std::string> tablas = {"ASIGNOMT", "PROFT", "AULAT", "CURSOST",
                                                    "GRUPOST",  "MATIB", "ASIGT", "DIASHORAST"};
    return tablas;
}

const std::vector<std::string>& Archivos()
{
    static const std::vector<std::string> archivos = [] {
        std::vector<std::string> a;
        for (const auto& t : Tablas()) {
            a.push_back(t + ".DBF");
        }
        a.push_back("MATIB.MDX");
        return a;
    }();
    return archivos;
}

fs::path CarpetaCopias(const fs::path& dir) { return CarpetaZendral(dir) / "copias"; }

std::vector<Copia> Listar(const fs::path& dir)
{
    std::vector<Copia> copias;
    std::error_code ec;
    for (auto it = fs::directory_iterator(CarpetaCopias(dir), ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        if (!EsNombreDeCopia(it->path().filename().string())) {
            continue;
        }
        if (auto c = Leer(it->path())) {
            copias.push_back(std::move(*c));
        }
    }
    std::sort(copias.begin(), copias.end(), MasNueva);
    return copias;
}

std::string Describir(const Copia& copia)
{
    std::string texto = copia.nombre + "  " + copia.fecha + "  " + copia.motivo;
    if (!copia.documento.empty()) {
        texto += "  " + fs::path(copia.documento).filename().string();
    }
    texto += "\n   ";
    bool primero = true;
    for (const auto& [tabla, registros] : copia.registros) {
        texto += (primero ? " " : ", ") + tabla + " " + std::to_string(registros);
        primero = false;
    }
    if (copia.registros.empty()) {
        texto += " (sin tablas)";
    }
    return texto;
}

std::optional<Copia> Guardar(const fs::path& dir, const std::string& motivo, const std::string& documento,
                             bool podar)
{
    std::vector<std::pair<std::string, fs::path>> presentes;
    for (const auto& archivo : Archivos()) {
        const fs::path p = BuscarArchivo(dir, archivo);
        std::error_code ec;
        if (fs::is_regular_file(p, ec)) {
            presentes.emplace_back(archivo, p);
        }
    }
    if (presentes.empty()) {
        return std::nullopt;
    }
    const auto fallo = [](const fs::path& p, int err) {
        return Error("No se puede guardar la copia de las tablas en " + p.string() + ": " +
                     SystemReason(err));
    };
    for (const fs::path& p : {CarpetaZendral(dir), CarpetaCopias(dir)}) {
        if (sistema::CrearDirectorio(p) != 0) {
            throw fallo(p, errno);
        }
    }
    const std::tm ahora = sistema::HoraLocal(std::time(nullptr));
    const std::string base = Fecha(ahora, "%Y%m%d-%H%M%S");
    std::string nombre = base;
    std::error_code ec;
    for (int n = 2; fs::exists(CarpetaCopias(dir) / nombre, ec); ++n) {
        nombre = base + "-" + std::to_string(n);
    }
    // Made under a name the listing skips and renamed when complete: a copy that is listed is whole.
    const fs::path parcial = CarpetaCopias(dir) / (nombre + kParcial);
    fs::remove_all(parcial, ec);
    if (sistema::CrearDirectorio(parcial) != 0) {
        throw fallo(parcial, errno);
    }

    Copia copia;
    copia.nombre = nombre;
    copia.carpeta = CarpetaCopias(dir) / nombre;
    copia.fecha = Fecha(ahora, "%d/%m/%Y %H:%M:%S");
    copia.motivo = motivo;
    copia.documento = documento;
    std::string desc = "fecha=" + copia.fecha + "\nmotivo=" + motivo + "\ndocumento=" + documento + "\n";
    try {
        for (const auto& [archivo, origen] : presentes) {
            const fs::path destino = parcial / archivo;
            if (sistema::Enlazar(origen, destino) != 0) {
                CopiarArchivo(origen, destino);
            }
            if (archivo.size() > 4 && archivo.substr(archivo.size() - 4) == ".DBF") {
                const std::string tabla = archivo.substr(0, archivo.size() - 4);
                // Read through the live table, whose lock the run holds (Windows refuses reads of a
                // locked file through any other handle, a hard link's included).
                const auto registros = Registros(origen);
                copia.registros.emplace_back(tabla, registros.value_or(0));
                desc += "tabla=" + tabla + " " + std::to_string(registros.value_or(0)) + "\n";
            }
        }
        WriteFileAtomically(parcial / kDescripcion, desc);
        if (sistema::Reemplazar(parcial, copia.carpeta) != 0) {
            throw fallo(copia.carpeta, errno);
        }
    } catch (...) {
        fs::remove_all(parcial, ec);
        throw;
    }
    sistema::SincronizarDirectorio(CarpetaCopias(dir));
    if (podar) {
        Podar(dir);
    }
    return copia;
}

void Podar(const fs::path& dir, std::size_t guardar)
{
    const auto copias = Listar(dir);
    std::error_code ec;
    for (std::size_t i = guardar; i < copias.size(); ++i) {
        fs::remove_all(copias[i].carpeta, ec);
    }
    // Copies a killed run left unfinished.
    for (auto it = fs::directory_iterator(CarpetaCopias(dir), ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        const std::string n = it->path().filename().string();
        if (n.size() > 8 && n.substr(n.size() - 8) == kParcial) {
            std::error_code e2;
            fs::remove_all(it->path(), e2);
        }
    }
}

void Separar(const fs::path& dir, const Copia& copia) noexcept
{
    for (const auto& archivo : Archivos()) {
        const fs::path guardado = copia.carpeta / archivo;
        const fs::path vivo = BuscarArchivo(dir, archivo);
        try {
            if (sistema::MismoArchivo(guardado, vivo)) {
                // The same bytes, read through the live table, whose lock the run may hold.
                CopiarArchivo(vivo, guardado);
            }
        } catch (const Error&) {
            // The copy stays a link: still the bytes of before, as long as nobody changes the table.
        }
    }
}

void LimpiarRestos(const fs::path& dir) noexcept
{
    std::error_code ec;
    for (auto it = fs::directory_iterator(dir, ec); !ec && it != fs::directory_iterator(); it.increment(ec)) {
        const std::string n = it->path().filename().string();
        // NAME.DBF.xxxxxxxx.tmp, NAME.MDX.xxxxxxxx.tmp, zendral-prueba.xxxxxxxx.tmp
        if (n.size() < 13 || n.substr(n.size() - 4) != ".tmp") {
            continue;
        }
        const std::string base = n.substr(0, n.size() - 13);
        bool nuestro = base == "zendral-prueba";
        for (const auto& archivo : Archivos()) {
            nuestro = nuestro || cp1252::EqualsNoCase(base, archivo);
        }
        std::error_code e2;
        if (nuestro && n[n.size() - 13] == '.' &&
            fs::symlink_status(it->path(), e2).type() == fs::file_type::regular) {
            sistema::Borrar(it->path());
        }
    }
}

Marca::Marca(const fs::path& dir, const std::string& proceso, const std::string& documento)
{
    const std::tm ahora = sistema::HoraLocal(std::time(nullptr));
    if (sistema::CrearDirectorio(CarpetaZendral(dir)) != 0) {
        throw Error("No se puede crear la carpeta " + CarpetaZendral(dir).string() + ": " +
                    SystemReason(errno));
    }
    m_archivo = CarpetaZendral(dir) / kMarca;
    WriteFileAtomically(m_archivo, "proceso=" + proceso + "\ninicio=" + Fecha(ahora, "%d/%m/%Y %H:%M:%S") +
                                       "\ndocumento=" + documento + "\n");
}

Marca::~Marca() { sistema::Borrar(m_archivo); }

std::optional<std::string> AvisoInterrumpido(const fs::path& dir)
{
    const fs::path marca = CarpetaZendral(dir) / kMarca;
    std::error_code ec;
    if (!fs::is_regular_file(marca, ec)) {
        return std::nullopt;
    }
    std::string proceso = "importación";
    std::string inicio;
    try {
        std::istringstream in(ReadWholeFile(marca));
        std::string linea;
        while (std::getline(in, linea)) {
            if (linea.rfind("proceso=", 0) == 0) {
                proceso = linea.substr(8);
            } else if (linea.rfind("inicio=", 0) == 0) {
                inicio = linea.substr(7);
            }
        }
    } catch (const Error&) {
    }
    return "¡Atención! Una " + proceso + " de las tablas de Velorin" +
           (inicio.empty() ? std::string() : " empezada el " + inicio) +
           " no terminó: las tablas pueden mezclar datos de antes y de después. Puede volver a las "
           "tablas anteriores restaurando la última copia.";
}

GuardaImportacion::GuardaImportacion(const fs::path& dir, const fs::path& documento)
    : m_dir(dir)
    , m_cerrojo(dir, Archivos())
{
    m_copia = Guardar(dir, "importación", documento.string());
    LimpiarRestos(dir);
    m_marca.emplace(dir, "importación", documento.string());
}

GuardaImportacion::~GuardaImportacion()
{
    if (m_copia) {
        Separar(m_dir, *m_copia);
    }
    m_marca.reset();
}

Copia Restaurar(const fs::path& dir, const std::string& nombre)
{
    const auto copias = Listar(dir);
    if (copias.empty()) {
        throw Error("No hay ninguna copia de las tablas en " + CarpetaCopias(dir).string());
    }
    const auto it = nombre.empty() ? copias.begin()
                                   : std::find_if(copias.begin(), copias.end(),
                                                  [&](const Copia& c) { return c.nombre == nombre; });
    if (it == copias.end()) {
        throw Error("No existe la copia " + nombre + " en " + CarpetaCopias(dir).string());
    }
    const Copia elegida = *it;
    // Read first: what goes back is in memory before anything changes.
    std::vector<std::pair<std::string, std::optional<std::string>>> archivos;
    for (const auto& archivo : Archivos()) {
        std::error_code ec;
        const fs::path p = elegida.carpeta / archivo;
        archivos.emplace_back(archivo,
                              fs::is_regular_file(p, ec) ? std::optional(ReadWholeFile(p)) : std::nullopt);
    }

    CerrojoRun cerrojo(dir, Archivos());
    const auto antes = Guardar(dir, "antes de restaurar la copia " + elegida.nombre, "", false);
    LimpiarRestos(dir);
    {
        Marca marca(dir, "restauración", "");
        const std::optional<std::string>* mdx = nullptr;
        for (const auto& [archivo, bytes] : archivos) {
            if (archivo == "MATIB.MDX") {
                mdx = &bytes;
            }
        }
        for (const auto& [archivo, bytes] : archivos) {
            const fs::path destino = BuscarArchivo(dir, archivo);
            if (archivo == "MATIB.MDX") {
                continue;
            }
            if (!bytes) {
                Desenlazar(destino);
                if (archivo == "MATIB.DBF") {
                    Desenlazar(BuscarArchivo(dir, "MATIB.MDX"));
                }
                continue;
            }
            if (archivo != "MATIB.DBF") {
                Poner(destino, *bytes);
                continue;
            }
            // MATIB: first the table without announcing its index, then the index, and only then
            // the announcement, so that it never announces an index that is not its own.
            const fs::path indice = BuscarArchivo(dir, "MATIB.MDX");
            const std::string sinIndice = SinIndice(*bytes);
            Poner(destino, sinIndice);
            if (*mdx) {
                Poner(indice, **mdx);
            } else {
                Desenlazar(indice);
            }
            if (sinIndice != *bytes) {
                const std::size_t largo = std::min<std::size_t>(
                    bytes->size(), bytes->size() >= 10 ? static_cast<unsigned char>((*bytes)[8]) |
                                                             static_cast<unsigned char>((*bytes)[9]) << 8
                                                       : 0);
                const int prestado = cerrojos::Prestado(destino);
                const int fd =
                    prestado >= 0 ? prestado : sistema::Abrir(destino, sistema::Apertura::LecturaEscritura);
                int err = fd < 0 ? errno : 0;
                if (err == 0) {
                    if (sistema::EscribirEn(fd, bytes->data(), largo, 0) !=
                            static_cast<std::int64_t>(largo) ||
                        sistema::SincronizarDatos(fd) != 0) {
                        err = errno != 0 ? errno : EIO;
                    }
                    sistema::Cerrar(fd);
                }
                if (err != 0) {
                    throw Error("No se puede restaurar el índice de la tabla MATIB: " + SystemReason(err));
                }
            }
        }
        sistema::SincronizarDirectorio(dir);
        if (antes) {
            Separar(dir, *antes);
        }
    }
    Podar(dir);
    return elegida;
}

} // namespace zendral::copias
