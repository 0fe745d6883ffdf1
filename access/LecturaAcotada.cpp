#include "LecturaAcotada.h"

#include "Error.h"
#include "Sistema.h"

#include <cerrno>

namespace zendral
{
namespace
{

std::string Prefijo(const std::string& nombre) { return "No se puede leer el archivo " + nombre + ": "; }

// What a name that is not a regular file stands for, as the refusal says it.
std::string QueEs(const std::filesystem::path& archivo)
{
    std::error_code ec;
    switch (std::filesystem::status(archivo, ec).type()) {
    case std::filesystem::file_type::directory:
        return "es una carpeta";
    case std::filesystem::file_type::fifo:
        return "es una tubería (FIFO)";
    case std::filesystem::file_type::character:
    case std::filesystem::file_type::block:
        return "es un dispositivo";
    case std::filesystem::file_type::socket:
        return "es un socket";
    default:
        // Windows devices such as NUL, which no status names.
        return "";
    }
}

std::string NoNormal(const std::filesystem::path& archivo, const std::string& nombre)
{
    const std::string que = QueEs(archivo);
    return Prefijo(nombre) + (que.empty() ? "no es un archivo normal" : que + ", no un archivo normal");
}

std::string Grande(std::uint64_t limite, const std::string& nombre)
{
    return Prefijo(nombre) + "es demasiado grande (más de " + std::to_string(limite / kMegabyte) + " MB)";
}

// Closes the descriptor however the read ends.
struct Descriptor
{
    int fd;
    ~Descriptor() { sistema::Cerrar(fd); }
};

} // namespace

std::string LeerArchivoAcotado(const std::filesystem::path& archivo, std::uint64_t limite,
                               const std::string& nombre)
{
    // Told apart before the open, which on Windows refuses a folder as "permission denied".
    std::error_code ec;
    const auto tipo = std::filesystem::status(archivo, ec).type();
    if (tipo != std::filesystem::file_type::regular && tipo != std::filesystem::file_type::not_found &&
        tipo != std::filesystem::file_type::none) {
        throw Error(NoNormal(archivo, nombre));
    }
    const int fd = sistema::Abrir(archivo, sistema::Apertura::LecturaSinEspera);
    if (fd < 0) {
        throw Error(Prefijo(nombre) + SystemReason(errno));
    }
    const Descriptor abierto{fd};
    // What was opened decides: the name may have changed since it was looked at.
    bool normal = false;
    const std::int64_t tam = sistema::Tamano(fd, normal);
    if (tam < 0) {
        throw Error(Prefijo(nombre) + SystemReason(errno));
    }
    if (!normal) {
        throw Error(NoNormal(archivo, nombre));
    }
    if (static_cast<std::uint64_t>(tam) > limite) {
        throw Error(Grande(limite, nombre));
    }
    // The file may grow while it is read: no more than the limit is ever taken.
    std::string datos;
    datos.reserve(static_cast<std::size_t>(tam));
    char buf[65536];
    for (;;) {
        const std::int64_t n = sistema::Leer(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw Error(Prefijo(nombre) + SystemReason(errno));
        }
        if (n == 0) {
            return datos;
        }
        if (datos.size() + static_cast<std::uint64_t>(n) > limite) {
            throw Error(Grande(limite, nombre));
        }
        datos.append(buf, static_cast<std::size_t>(n));
    }
}

} // namespace zendral
