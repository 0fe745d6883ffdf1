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
    int fd = -1;
    std::filesystem::path prueba;
    try {
        prueba = CrearTemporal(directorio / "zendral-prueba", fd);
    } catch (const Error&) {
        throw Error("No se puede escribir en " + nombre + " " + directorio.string() + ": " +
                    SystemReason(errno));
    }
    sistema::Cerrar(fd);
    if (sistema::Borrar(prueba) != 0) {
        throw Error("No se puede escribir en " + nombre + " " + directorio.string() + ": " +
                    SystemReason(errno));
    }
}

CerrojoRun::CerrojoRun(const std::filesystem::path& directorio, const std::vector<std::string>& archivos,
                       bool escribe)
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
