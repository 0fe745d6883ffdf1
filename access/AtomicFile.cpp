#include "AtomicFile.h"

#include "Error.h"
#include "Sistema.h"

#include <cerrno>
#include <cstdio>
#include <random>
#include <string>

namespace zendral
{
namespace
{

std::string Reason() { return SystemReason(errno); }

// Closes the descriptor and removes the unfinished file unless the write went through.
struct TempFile
{
    std::filesystem::path path;
    int fd = -1;
    bool done = false;

    ~TempFile()
    {
        if (fd >= 0) {
            sistema::Cerrar(fd);
        }
        if (!done) {
            sistema::Borrar(path);
        }
    }
};

// Eight hex digits that differ from one call to the next and from one process to another.
std::string Sufijo()
{
    static std::mt19937_64 azar{std::random_device{}()};
    char texto[17];
    std::snprintf(texto, sizeof texto, "%08x", static_cast<unsigned>(azar() & 0xFFFFFFFFu));
    return texto;
}

} // namespace

std::filesystem::path CrearTemporal(const std::filesystem::path& target, int& fd)
{
    for (int intento = 0; intento < 100; ++intento) {
        std::filesystem::path tmp = target;
        tmp += "." + Sufijo() + ".tmp";
        fd = sistema::Abrir(tmp, sistema::Apertura::CreaExclusiva);
        if (fd >= 0) {
            return tmp;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    throw Error("No se puede escribir el archivo " + target.string() + ": " + Reason());
}

int EscribirTodo(int fd, std::string_view data)
{
    std::size_t written = 0;
    while (written < data.size()) {
        const std::int64_t n = sistema::Escribir(fd, data.data() + written, data.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        written += static_cast<std::size_t>(n);
    }
    return 0;
}

void WriteFileAtomically(const std::filesystem::path& target, std::string_view contents)
{
    const std::string shown = target.string();
    TempFile tmp;
    tmp.path = CrearTemporal(target, tmp.fd);
    if (const int err = EscribirTodo(tmp.fd, contents); err != 0) {
        throw Error("No se puede escribir el archivo " + shown + ": " + SystemReason(err));
    }
    if (sistema::Sincronizar(tmp.fd) != 0 || sistema::Cerrar(tmp.fd) != 0) {
        tmp.fd = -1;
        throw Error("No se puede escribir el archivo " + shown + ": " + Reason());
    }
    tmp.fd = -1;
    if (sistema::Reemplazar(tmp.path, target) != 0) {
        throw Error("No se puede reemplazar el archivo " + shown + ": " + Reason());
    }
    tmp.done = true;
    // Make the rename itself durable.
    sistema::SincronizarDirectorio(target.parent_path());
}

std::string ReadWholeFile(const std::filesystem::path& file)
{
    const int fd = sistema::Abrir(file, sistema::Apertura::Lectura);
    if (fd < 0) {
        throw Error("No se puede leer el archivo " + file.string() + ": " + Reason());
    }
    std::string data;
    char buf[65536];
    for (;;) {
        const std::int64_t n = sistema::Leer(fd, buf, sizeof buf);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            const std::string reason = Reason();
            sistema::Cerrar(fd);
            throw Error("No se puede leer el archivo " + file.string() + ": " + reason);
        }
        if (n == 0) {
            break;
        }
        data.append(buf, static_cast<std::size_t>(n));
    }
    sistema::Cerrar(fd);
    return data;
}

} // namespace zendral
