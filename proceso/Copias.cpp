#include "Copias.h"

#include "AtomicFile.h"
#include "BoundedRead.h"
#include "CarpetaZendral.h"
#include "CodePage.h"
#include "DbfFormat.h"
#include "Error.h"
#include "Mdx.h"
#include "System.h"
#include "WorkDir.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <set>
#include <sstream>

namespace zendral::copias
{
namespace
{

namespace fs = std::filesystem;

constexpr const char* kDescripcion = "copia.txt";
constexpr const char* kMarca = "proceso-en-curso.txt";
constexpr const char* kParcial = ".parcial";
constexpr const char* kIndice = "MATIB.MDX";

// A descriptor for reading `archivo`: the live run's own when it holds the file (Windows refuses
// reads through other handles of a file locked exclusively), a new one otherwise. -1 on failure.
int AbrirLectura(const fs::path& archivo)
{
    const int prestado = runlock::Borrow(archivo);
    return prestado >= 0 ? prestado : sys::Open(archivo, sys::OpenMode::Read);
}

std::optional<dbf::HeaderFacts> Cabecera(const fs::path& tabla)
{
    const int fd = AbrirLectura(tabla);
    if (fd < 0) {
        return std::nullopt;
    }
    auto h = dbf::ReadHeaderFacts(fd);
    sys::Close(fd);
    return h;
}

// The whole file, read as AbrirLectura opens it; nothing when it cannot be read.
std::optional<std::string> LeerArchivo(const fs::path& archivo)
{
    const int fd = AbrirLectura(archivo);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string datos;
    std::string buf(1 << 20, '\0');
    for (std::uint64_t pos = 0;;) {
        const std::int64_t n = sys::ReadAt(fd, buf.data(), buf.size(), pos);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            sys::Close(fd);
            return n == 0 ? std::optional(std::move(datos)) : std::nullopt;
        }
        datos.append(buf.data(), static_cast<std::size_t>(n));
        pos += static_cast<std::uint64_t>(n);
    }
}

bool Existe(const fs::path& p)
{
    std::error_code ec;
    return fs::is_regular_file(p, ec);
}

std::string Tabla(const std::string& archivo) { return archivo.substr(0, archivo.size() - 4); }
bool EsTabla(const std::string& archivo) { return archivo.ends_with(".DBF"); }

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

// "clave=valor" lines.
std::vector<std::pair<std::string, std::string>> Claves(const std::string& texto)
{
    std::vector<std::pair<std::string, std::string>> claves;
    std::istringstream in(texto);
    std::string linea;
    while (std::getline(in, linea)) {
        const auto igual = linea.find('=');
        if (igual != std::string::npos) {
            claves.emplace_back(linea.substr(0, igual), linea.substr(igual + 1));
        }
    }
    return claves;
}

Copia Leer(const fs::path& carpeta)
{
    Copia c;
    c.nombre = carpeta.filename().string();
    c.carpeta = carpeta;
    const fs::path desc = carpeta / kDescripcion;
    std::error_code ec;
    if (fs::symlink_status(desc, ec).type() != fs::file_type::regular) {
        c.defecto = "falta su descripción " + std::string(kDescripcion);
        return c;
    }
    std::string texto;
    try {
        texto = ReadBoundedFile(desc, kMegabyte, desc.string());
    } catch (const Error& e) {
        c.defecto = e.what();
        return c;
    }
    for (const auto& [clave, valor] : Claves(texto)) {
        if (clave == "fecha") {
            c.fecha = valor;
        } else if (clave == "motivo") {
            c.motivo = valor;
        } else if (clave == "documento") {
            c.documento = valor;
        } else if (clave == "ausente") {
            c.ausentes.push_back(valor);
        } else if (clave == "tabla") {
            const auto espacio = valor.find(' ');
            if (espacio != std::string::npos) {
                c.registros.emplace_back(
                    valor.substr(0, espacio),
                    static_cast<std::uint32_t>(std::strtoul(valor.c_str() + espacio + 1, nullptr, 10)));
            }
        }
    }
    if (c.fecha.empty()) {
        c.defecto = "su descripción " + std::string(kDescripcion) + " está incompleta";
    }
    return c;
}

bool Lista(const Copia& c, const std::string& tabla)
{
    return std::any_of(c.registros.begin(), c.registros.end(),
                       [&](const auto& r) { return r.first == tabla; });
}

bool Ausente(const Copia& c, const std::string& tabla)
{
    return std::find(c.ausentes.begin(), c.ausentes.end(), tabla) != c.ausentes.end();
}

// Whether the tables of `dir` are, file for file, those kept in `copia` (absent ones included).
bool Iguales(const fs::path& dir, const Copia& copia)
{
    if (!copia.defecto.empty()) {
        return false;
    }
    for (const auto& tabla : Tablas()) {
        const bool viva = Existe(FindFile(dir, tabla + ".DBF"));
        if (viva ? !Lista(copia, tabla) : !Ausente(copia, tabla)) {
            return false;
        }
    }
    for (const auto& archivo : Archivos()) {
        const fs::path vivo = FindFile(dir, archivo);
        const fs::path guardado = copia.carpeta / archivo;
        if (Existe(vivo) != Existe(guardado)) {
            return false;
        }
        std::error_code e1, e2;
        if (Existe(vivo) && fs::file_size(vivo, e1) != fs::file_size(guardado, e2)) {
            return false;
        }
    }
    for (const auto& archivo : Archivos()) {
        const fs::path vivo = FindFile(dir, archivo);
        if (Existe(vivo)) {
            const auto a = LeerArchivo(vivo);
            const auto b = LeerArchivo(copia.carpeta / archivo);
            if (!a || !b || *a != *b) {
                return false;
            }
        }
    }
    return true;
}

void Desenlazar(const fs::path& archivo)
{
    if (!Existe(archivo)) {
        return;
    }
    runlock::Release(archivo);
    if (sys::Remove(archivo) != 0) {
        const int err = errno;
        runlock::HoldFile(archivo);
        throw Error("No se puede borrar el archivo " + archivo.string() + ": " + SystemReason(err));
    }
}

// Puts the file `origen` in the place of `destino`, in one step, letting go of the run's lock on
// the old file and taking one on the new. With `sinIndice`, the new table does not announce its
// index yet.
void Poner(const fs::path& origen, const fs::path& destino, bool sinIndice = false)
{
    NewFile nuevo(destino);
    int err = nuevo.CopyFrom(origen);
    if (err == 0 && sinIndice) {
        const auto h = dbf::ReadHeaderFacts(nuevo.fd());
        std::string cabecera(h ? h->headerLength : 0, '\0');
        if (!h || sys::ReadAt(nuevo.fd(), cabecera.data(), cabecera.size(), 0) !=
                      static_cast<std::int64_t>(cabecera.size())) {
            err = EIO;
        } else {
            dbf::ClearIndexFlags(cabecera);
            err = dbf::WriteAt(nuevo.fd(), 0, cabecera.data(), cabecera.size());
        }
    }
    if (err == 0) {
        err = nuevo.Sync();
    }
    if (const int e = nuevo.Close(); err == 0) {
        err = e;
    }
    if (err == 0) {
        runlock::Release(destino);
        err = nuevo.Commit();
        runlock::HoldFile(destino);
    }
    if (err != 0) {
        throw Error("No se puede restaurar el archivo " + destino.string() + ": " + SystemReason(err));
    }
}

// Puts the set kept in `copia` in place of the live tables: each table atomically, MATIB without
// announcing its index until its own index is in place. Tables the copy records as absent are
// removed; tables it does not mention stay.
void Aplicar(const fs::path& dir, const Copia& copia)
{
    for (const auto& archivo : Archivos()) {
        if (!EsTabla(archivo)) {
            continue;
        }
        const std::string tabla = Tabla(archivo);
        const fs::path destino = FindFile(dir, archivo);
        const fs::path origen = copia.carpeta / archivo;
        if (Ausente(copia, tabla)) {
            Desenlazar(destino);
            if (tabla == "MATIB") {
                Desenlazar(FindFile(dir, kIndice));
            }
            continue;
        }
        if (!Lista(copia, tabla)) {
            continue;
        }
        if (tabla != "MATIB") {
            Poner(origen, destino);
            continue;
        }
        const auto h = Cabecera(origen);
        const bool conIndice = h && h->indexFlag;
        const fs::path indice = FindFile(dir, kIndice);
        Poner(origen, destino, conIndice);
        if (!conIndice) {
            Desenlazar(indice);
            continue;
        }
        Poner(copia.carpeta / kIndice, indice);
        // The index is MATIB's own now: the header announces it again, as in the copy.
        const auto cabecera = LeerArchivo(origen);
        const int prestado = runlock::Borrow(destino);
        const int fd = prestado >= 0 ? prestado : sys::Open(destino, sys::OpenMode::ReadWrite);
        int err = fd < 0 || !cabecera ? (errno != 0 ? errno : EIO) : 0;
        if (err == 0) {
            err = dbf::WriteAt(fd, 0, cabecera->data(), std::min(cabecera->size(), h->headerLength));
            if (err == 0 && sys::SyncData(fd) != 0) {
                err = errno;
            }
        }
        if (fd >= 0) {
            sys::Close(fd);
        }
        if (err != 0) {
            throw Error("No se puede restaurar el índice de la tabla MATIB: " + SystemReason(err));
        }
    }
    sys::SyncDirectory(dir);
}

struct MarcaLeida
{
    std::string proceso = "importación";
    std::string inicio;
    std::string copia;
};

std::optional<MarcaLeida> LeerMarca(const fs::path& dir)
{
    const fs::path marca = CarpetaZendral(dir) / kMarca;
    if (!Existe(marca)) {
        return std::nullopt;
    }
    MarcaLeida m;
    try {
        for (const auto& [clave, valor] : Claves(ReadBoundedFile(marca, kMegabyte, marca.string()))) {
            if (clave == "proceso") {
                m.proceso = valor;
            } else if (clave == "inicio") {
                m.inicio = valor;
            } else if (clave == "copia") {
                m.copia = valor;
            }
        }
    } catch (const Error&) {
    }
    return m;
}

// The marker of a run that is not going any more: one that was killed, or whose way back failed.
std::optional<MarcaLeida> MarcaSinRun(const fs::path& dir)
{
    auto m = LeerMarca(dir);
    if (m && runlock::RunInProgress(dir, ArchivoRun(dir))) {
        return std::nullopt;
    }
    return m;
}

// The calendar day of a copy's name, as days since the epoch.
// The name of a new copy made at `ahora`: its date and time, followed by -2, -3 ... when a copy,
// whole or partial, already has that name.
std::string NombreLibre(const fs::path& dir, const std::tm& ahora)
{
    const std::string base = Fecha(ahora, "%Y%m%d-%H%M%S");
    std::string nombre = base;
    std::error_code ec;
    for (int n = 2; fs::exists(CarpetaCopias(dir) / nombre, ec) ||
                    fs::exists(CarpetaCopias(dir) / (nombre + kParcial), ec);
         ++n) {
        nombre = base + "-" + std::to_string(n);
    }
    return nombre;
}

long Dia(const std::string& nombre)
{
    std::tm t = {};
    t.tm_year = std::atoi(nombre.substr(0, 4).c_str()) - 1900;
    t.tm_mon = std::atoi(nombre.substr(4, 2).c_str()) - 1;
    t.tm_mday = std::atoi(nombre.substr(6, 2).c_str());
    t.tm_hour = 12;
    return static_cast<long>(std::mktime(&t) / 86400);
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
        a.push_back(kIndice);
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
        if (EsNombreDeCopia(it->path().filename().string())) {
            copias.push_back(Leer(it->path()));
        }
    }
    std::sort(copias.begin(), copias.end(), MasNueva);
    return copias;
}

std::string Describir(const Copia& copia)
{
    if (!copia.defecto.empty()) {
        return copia.nombre + "  (dañada: " + copia.defecto + ")";
    }
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

void Comprobar(const Copia& copia)
{
    const std::string inicio = "La copia " + copia.nombre + " no se puede restaurar: ";
    if (!copia.defecto.empty()) {
        throw Error(inicio + copia.defecto);
    }
    for (const auto& [tabla, registros] : copia.registros) {
        const std::string archivo = tabla + ".DBF";
        const fs::path p = copia.carpeta / archivo;
        const auto fallo = [&](const std::string& que) { return Error(inicio + archivo + " " + que); };
        std::error_code ec;
        const auto tipo = fs::symlink_status(p, ec).type();
        if (tipo == fs::file_type::not_found) {
            throw fallo("falta en la copia");
        }
        if (tipo != fs::file_type::regular) {
            throw fallo("no es un archivo normal");
        }
        const int fd = sys::Open(p, sys::OpenMode::Read);
        if (fd < 0) {
            throw fallo("no se puede leer: " + SystemReason(errno));
        }
        dbf::Contents c;
        try {
            c = dbf::ReadContents(fd, tabla);
        } catch (const Error& e) {
            sys::Close(fd);
            throw fallo(std::string("no es una tabla legible: ") + e.what());
        }
        sys::Close(fd);
        if (c.RecordCount() != registros) {
            throw fallo("tiene " + std::to_string(c.RecordCount()) + " registros y la copia dice " +
                        std::to_string(registros));
        }
        if (tabla != "MATIB" || !c.indexFlag) {
            continue;
        }
        const fs::path indice = copia.carpeta / kIndice;
        if (fs::symlink_status(indice, ec).type() != fs::file_type::regular) {
            throw Error(inicio + "falta el índice " + kIndice + " que anuncia la tabla MATIB");
        }
        try {
            const std::string bytes = ReadBoundedFile(indice, 2048 * kMegabyte, indice.string());
            dbf::mdx::ReadTags(bytes, c.fields);
            // The index names its table in its header.
            if (bytes.size() < 20 || std::string(bytes.data() + 4, 16).substr(0, 5) != "MATIB" ||
                (bytes[9] != '\0' && bytes[9] != ' ')) {
                throw Error("es el índice de otra tabla");
            }
        } catch (const Error& e) {
            throw Error(inicio + kIndice + " no es el índice de la tabla MATIB: " + e.what());
        }
    }
}

Copia Guardar(const fs::path& dir, const std::string& motivo, const std::string& documento, bool podar)
{
    const auto copias = Listar(dir);
    const auto valida =
        std::find_if(copias.begin(), copias.end(), [](const Copia& c) { return c.defecto.empty(); });
    if (valida != copias.end() && valida == copias.begin() && Iguales(dir, *valida)) {
        return *valida;
    }
    const auto fallo = [](const fs::path& p, int err) {
        return Error("No se puede guardar la copia de las tablas en " + p.string() + ": " +
                     SystemReason(err));
    };
    for (const fs::path& p : {CarpetaZendral(dir), CarpetaCopias(dir)}) {
        if (sys::MakeDirectory(p) != 0) {
            throw fallo(p, errno);
        }
    }
    const std::tm ahora = sys::LocalTime(std::time(nullptr));
    const std::string nombre = NombreLibre(dir, ahora);
    std::error_code ec;
    // Made under a name the listing skips and renamed when complete: a copy that is listed is whole.
    const fs::path parcial = CarpetaCopias(dir) / (nombre + kParcial);
    if (sys::MakeDirectory(parcial) != 0) {
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
        for (const auto& archivo : Archivos()) {
            const fs::path origen = FindFile(dir, archivo);
            if (!Existe(origen)) {
                if (EsTabla(archivo)) {
                    copia.ausentes.push_back(Tabla(archivo));
                    desc += "ausente=" + Tabla(archivo) + "\n";
                }
                continue;
            }
            NewFile nuevo(parcial / archivo);
            int err = nuevo.CopyFrom(origen);
            if (err == 0) {
                err = nuevo.Sync();
            }
            if (const int e = nuevo.Close(); err == 0) {
                err = e;
            }
            if (err == 0) {
                // The folder is synced once, before it is renamed into the listing.
                err = nuevo.Commit(false);
            }
            if (err != 0) {
                throw Error("No se puede copiar el archivo " + origen.string() + " en " +
                            (parcial / archivo).string() + ": " + SystemReason(err));
            }
            if (EsTabla(archivo)) {
                // The count as the table's header gives it, read from the file just copied.
                const auto h = Cabecera(parcial / archivo);
                const std::uint32_t registros = h ? h->recordCount : 0;
                copia.registros.emplace_back(Tabla(archivo), registros);
                desc += "tabla=" + Tabla(archivo) + " " + std::to_string(registros) + "\n";
            }
        }
        WriteFileAtomically(parcial / kDescripcion, desc);
        sys::SyncDirectory(parcial);
        if (sys::Replace(parcial, copia.carpeta) != 0) {
            throw fallo(copia.carpeta, errno);
        }
    } catch (...) {
        fs::remove_all(parcial, ec);
        throw;
    }
    sys::SyncDirectory(CarpetaCopias(dir));
    if (podar) {
        Podar(dir);
    }
    return copia;
}

void Podar(const fs::path& dir)
{
    const auto copias = Listar(dir);
    const auto marca = LeerMarca(dir);
    const long hoy = Dia(Fecha(sys::LocalTime(std::time(nullptr)), "%Y%m%d"));
    std::set<long> dias;
    std::error_code ec;
    for (std::size_t i = 0; i < copias.size(); ++i) {
        const long dia = Dia(copias[i].nombre);
        bool guardar = i < kCopiasGuardadas || (marca && marca->copia == copias[i].nombre);
        if (!guardar && hoy - dia < kDiasGuardados && !dias.count(dia)) {
            guardar = true;
        }
        if (guardar) {
            dias.insert(dia);
        } else {
            fs::remove_all(copias[i].carpeta, ec);
        }
    }
}

void LimpiarRestos(const fs::path& dir) noexcept
{
    std::vector<std::string> bases = Archivos();
    bases.push_back("zendral-prueba");
    RemoveOrphans(dir, bases);
    RemoveOrphans(CarpetaZendral(dir));
    RemoveOrphans(CarpetaZendral(dir) / "informes");
    // Copies a killed run left unfinished.
    std::error_code ec;
    for (auto it = fs::directory_iterator(CarpetaCopias(dir), ec); !ec && it != fs::directory_iterator();
         it.increment(ec)) {
        const std::string n = it->path().filename().string();
        if (n.ends_with(kParcial)) {
            std::error_code e2;
            fs::remove_all(it->path(), e2);
        }
    }
}

Marca::Marca(const fs::path& dir, const std::string& proceso, const std::string& documento,
             const std::string& copia)
{
    const std::tm ahora = sys::LocalTime(std::time(nullptr));
    if (sys::MakeDirectory(CarpetaZendral(dir)) != 0) {
        throw Error("No se puede crear la carpeta " + CarpetaZendral(dir).string() + ": " +
                    SystemReason(errno));
    }
    m_archivo = CarpetaZendral(dir) / kMarca;
    WriteFileAtomically(m_archivo, "proceso=" + proceso + "\ninicio=" + Fecha(ahora, "%d/%m/%Y %H:%M:%S") +
                                       "\ndocumento=" + documento + "\ncopia=" + copia + "\n");
}

Marca::~Marca()
{
    // Once more if the first removal fails: a marker left behind would tell of a run that did
    // not end.
    if (!m_conservar && sys::Remove(m_archivo) != 0) {
        sys::Remove(m_archivo);
    }
}

std::optional<std::string> AvisoInterrumpido(const fs::path& dir)
{
    const auto m = MarcaSinRun(dir);
    if (!m) {
        return std::nullopt;
    }
    return "¡Atención! Una " + m->proceso + " de las tablas de Velorin" +
           (m->inicio.empty() ? std::string() : " empezada el " + m->inicio) +
           " no terminó: las tablas pueden mezclar datos de antes y de después. Puede volver a las "
           "tablas anteriores restaurando " +
           (m->copia.empty() ? std::string("la última copia") : "la copia " + m->copia) + ".";
}

GuardaImportacion::GuardaImportacion(const fs::path& dir, const fs::path& documento)
    : m_dir(dir)
    , m_cerrojo(dir, Archivos(), true, ArchivoRun(dir))
{
    LimpiarRestos(dir);
    m_copia = Guardar(dir, "importación", documento.string());
    m_marca.emplace(dir, "importación", documento.string(), m_copia.nombre);
}

GuardaImportacion::~GuardaImportacion() = default;

std::string GuardaImportacion::Deshacer() noexcept
{
    if (!runlock::AnyReleased()) {
        return {};
    }
    try {
        Aplicar(m_dir, m_copia);
        return "Se han vuelto a poner las tablas que había antes de la importación.";
    } catch (const std::exception& e) {
        if (m_marca) {
            m_marca->Conservar();
        }
        return std::string("Tampoco se han podido volver a poner las tablas que había antes (") + e.what() +
               "): restaure la copia " + m_copia.nombre +
               " con «Restaurar tablas anteriores…» o con «zendral-cli restaurar».";
    }
}

Copia Elegir(const fs::path& dir, const std::string& nombre)
{
    const auto copias = Listar(dir);
    if (copias.empty()) {
        throw Error("No hay ninguna copia de las tablas en " + CarpetaCopias(dir).string());
    }
    // Without a name: the copy a run that did not end points at (the set from before it), else
    // the newest.
    std::string buscada = nombre;
    if (buscada.empty()) {
        if (const auto m = LeerMarca(dir); m && !m->copia.empty()) {
            buscada = m->copia;
        }
    }
    const auto it = buscada.empty() ? copias.begin()
                                    : std::find_if(copias.begin(), copias.end(),
                                                   [&](const Copia& c) { return c.nombre == buscada; });
    if (it == copias.end()) {
        throw Error("No existe la copia " + buscada + " en " + CarpetaCopias(dir).string());
    }
    return *it;
}

Copia Restaurar(const fs::path& dir, const std::string& nombre)
{
    RunLock cerrojo(dir, Archivos(), true, ArchivoRun(dir));
    LimpiarRestos(dir);
    const Copia elegida = Elegir(dir, nombre);
    Comprobar(elegida);

    const Copia antes = Guardar(dir, "antes de restaurar la copia " + elegida.nombre, "", false);
    {
        Marca marca(dir, "restauración", "", elegida.nombre);
        try {
            Aplicar(dir, elegida);
        } catch (const Error& e) {
            try {
                Aplicar(dir, antes);
            } catch (const Error& e2) {
                marca.Conservar();
                throw Error(std::string(e.what()) +
                            ". Tampoco se han podido volver a poner las tablas que había antes (" +
                            e2.what() + "): vuelva a restaurar la copia " + elegida.nombre +
                            " para terminar la restauración.");
            }
            throw Error(std::string(e.what()) +
                        ". Se han vuelto a poner las tablas que había antes de restaurar.");
        }
    }
    Podar(dir);
    return elegida;
}

} // namespace zendral::copias
