#include "Cerrojos.h"

#include "AtomicFile.h"
#include "CodePage.h"
#include "Error.h"
#include "Sistema.h"

#include <cerrno>
#include <map>
#include <utility>

namespace zendral
{
namespace
{

// The files the live run holds, by a key that ignores letter case in the name and spelling
// differences in the directory.
struct Sostenidos
{
    std::filesystem::path directorio;
    std::map<std::string, LockedFile> archivos;
    int runs = 0;
    bool cambios = false; // the run has let go of a file to replace or remove it
};

Sostenidos& Registro()
{
    static Sostenidos registro;
    return registro;
}

std::string Clave(const std::filesystem::path& archivo)
{
    std::error_code ec;
    std::filesystem::path p = std::filesystem::absolute(archivo, ec);
    if (ec) {
        p = archivo;
    }
    p = p.lexically_normal();
    std::string nombre = p.filename().string();
    for (char& c : nombre) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return (p.parent_path() / nombre).string();
}

bool MismoDirectorio(const std::filesystem::path& a, const std::filesystem::path& b)
{
    return !a.empty() && !b.empty() && Clave(a / "x") == Clave(b / "x");
}

// How the run names a held file in its refusal: tables by their name, other files whole.
std::string Nombre(const std::filesystem::path& archivo)
{
    std::string nombre = archivo.filename().string();
    const std::string ext = nombre.size() > 4 ? nombre.substr(nombre.size() - 4) : "";
    if (cp1252::EqualsNoCase(ext, ".DBF")) {
        return "La tabla " + nombre.substr(0, nombre.size() - 4);
    }
    return "El archivo " + nombre;
}

} // namespace

const std::string kOtroRun = "Otro proceso de Zendral está en curso sobre las tablas de ";

std::filesystem::path BuscarArchivo(const std::filesystem::path& directorio, const std::string& nombre)
{
    std::filesystem::path exacto = directorio / nombre;
    std::error_code ec;
    if (std::filesystem::exists(exacto, ec)) {
        return exacto;
    }
    for (auto it = std::filesystem::directory_iterator(directorio, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (cp1252::EqualsNoCase(it->path().filename().string(), nombre)) {
            return it->path();
        }
    }
    return exacto;
}

void ComprobarDirectorioEscribible(const std::filesystem::path& directorio, const std::string& nombre)
{
    std::error_code ec;
    if (!std::filesystem::exists(directorio, ec)) {
        throw Error("No existe " + nombre + " " + directorio.string());
    }
    if (!std::filesystem::is_directory(directorio, ec)) {
        throw Error("No es un directorio: " + directorio.string());
    }
    try {
        ArchivoNuevo prueba(directorio / "zendral-prueba");
    } catch (const Error&) {
        throw Error("No se puede escribir en " + nombre + " " + directorio.string() + ": " +
                    SystemReason(errno));
    }
}

CerrojoRun::CerrojoRun(const std::filesystem::path& directorio, const std::vector<std::string>& archivos,
                       bool escribe, const std::filesystem::path& archivoRun)
    : m_directorio(directorio)
{
    Sostenidos& r = Registro();
    if (r.runs > 0) {
        throw Error("Ya hay un proceso en marcha sobre las tablas");
    }
    std::error_code ec;
    if (!escribe && !std::filesystem::is_directory(directorio, ec)) {
        throw Error("No existe el directorio de trabajo " + directorio.string());
    }
    if (escribe) {
        try {
            ComprobarDirectorioEscribible(directorio);
        } catch (const Error& e) {
            throw Error(std::string("No se pueden cambiar las tablas: ") + e.what());
        }
    }
    if (!archivoRun.empty()) {
        TomarRun(archivoRun, escribe);
    }
    std::map<std::string, LockedFile> tomados;
    for (const std::string& nombre : archivos) {
        const std::filesystem::path archivo = BuscarArchivo(directorio, nombre);
        if (!std::filesystem::exists(archivo, ec)) {
            continue;
        }
        LockedFile f = LockedFile::Open(archivo, LockedFile::Mode::Exclusive);
        // A file the run will replace must also be free of opens that forbid its replacement:
        // found only at the rename, the run would stop with some tables already replaced.
        if (!f.isOpen() || (escribe && sistema::ReemplazoImpedido(archivo))) {
            throw Error(Nombre(archivo) + " está en uso por otro programa");
        }
        m_archivos.push_back(archivo);
        tomados.emplace(Clave(archivo), std::move(f));
    }
    r.directorio = directorio;
    r.archivos = std::move(tomados);
    r.runs = 1;
    r.cambios = false;
}

void CerrojoRun::TomarRun(const std::filesystem::path& archivoRun, bool escribe)
{
    if (escribe && sistema::CrearDirectorio(archivoRun.parent_path()) != 0) {
        throw Error("No se pueden cambiar las tablas: no se puede escribir en " +
                    archivoRun.parent_path().string() + ": " + SystemReason(errno));
    }
    // A run that only reads and finds no such file can meet no run that writes: that one would
    // have made it.
    const int fd = sistema::Abrir(archivoRun, escribe ? sistema::Apertura::LecturaEscrituraCrea
                                                      : sistema::Apertura::Lectura);
    if (fd < 0) {
        if (escribe) {
            throw Error("No se pueden cambiar las tablas: no se puede escribir el archivo " +
                        archivoRun.string() + ": " + SystemReason(errno));
        }
        return;
    }
    const int err = sistema::Bloquear(fd, escribe);
    if (err != 0) {
        sistema::Cerrar(fd);
        if (err == EAGAIN || err == EACCES || err == EWOULDBLOCK) {
            throw Error(kOtroRun + m_directorio.string() + ": espere a que termine y vuelva a intentarlo");
        }
        throw Error("No se puede bloquear el archivo " + archivoRun.string() + ": " + SystemReason(err));
    }
    m_run = LockedFile::Own(fd);
}

CerrojoRun::~CerrojoRun()
{
    Sostenidos& r = Registro();
    r.archivos.clear();
    r.directorio.clear();
    r.runs = 0;
}

namespace cerrojos
{

bool RunEnCurso(const std::filesystem::path& directorio, const std::filesystem::path& archivoRun)
{
    const Sostenidos& r = Registro();
    if (r.runs > 0 && MismoDirectorio(r.directorio, directorio)) {
        return true;
    }
    const int fd = sistema::Abrir(archivoRun, sistema::Apertura::Lectura);
    if (fd < 0) {
        return false;
    }
    const int err = sistema::Bloquear(fd, false);
    sistema::Cerrar(fd);
    return err == EAGAIN || err == EACCES || err == EWOULDBLOCK;
}

int Prestado(const std::filesystem::path& archivo)
{
    Sostenidos& r = Registro();
    if (r.runs == 0) {
        return -1;
    }
    const auto it = r.archivos.find(Clave(archivo));
    if (it == r.archivos.end() || !it->second.isOpen()) {
        return -1;
    }
    return sistema::Duplicar(it->second.fd());
}

bool HuboCambios() { return Registro().runs > 0 && Registro().cambios; }

bool Sostenido(const std::filesystem::path& archivo)
{
    const Sostenidos& r = Registro();
    return r.runs > 0 && MismoDirectorio(r.directorio, archivo.parent_path());
}

void Soltar(const std::filesystem::path& archivo)
{
    Sostenidos& r = Registro();
    if (r.runs > 0) {
        r.archivos.erase(Clave(archivo));
        r.cambios = true;
    }
}

void Sostener(const std::filesystem::path& archivo, int fd)
{
    Sostenidos& r = Registro();
    if (!Sostenido(archivo)) {
        return;
    }
    const int copia = sistema::Duplicar(fd);
    if (copia >= 0) {
        r.archivos[Clave(archivo)] = LockedFile::Adopt(copia);
    }
}

void SostenerArchivo(const std::filesystem::path& archivo)
{
    Sostenidos& r = Registro();
    if (!Sostenido(archivo)) {
        return;
    }
    try {
        LockedFile f = LockedFile::Open(archivo, LockedFile::Mode::Exclusive);
        if (f.isOpen()) {
            r.archivos[Clave(archivo)] = std::move(f);
        }
    } catch (const Error&) {
        // The file is in place; only its lock for the rest of the run is missing.
    }
}

} // namespace cerrojos

} // namespace zendral
