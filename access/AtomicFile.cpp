#include "AtomicFile.h"

#include "Error.h"
#include "Sistema.h"

#include <cerrno>
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

} // namespace

void WriteFileAtomically(const std::filesystem::path& target, std::string_view contents)
{
    const std::string shown = target.string();
    TempFile tmp;
    tmp.path = target;
    tmp.path += ".tmp";
    tmp.fd = sistema::Abrir(tmp.path, sistema::Apertura::EscrituraNueva);
    if (tmp.fd < 0) {
        throw Error("No se puede escribir el archivo " + shown + ": " + Reason());
    }
    std::size_t written = 0;
    while (written < contents.size()) {
        const std::int64_t n =
            sistema::Escribir(tmp.fd, contents.data() + written, contents.size() - written);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw Error("No se puede escribir el archivo " + shown + ": " + Reason());
        }
        written += static_cast<std::size_t>(n);
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
