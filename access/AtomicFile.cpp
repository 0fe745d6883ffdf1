#include "AtomicFile.h"

#include "Cerrojos.h"
#include "CodePage.h"
#include "Error.h"
#include "Sistema.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <random>
#include <string>

namespace zendral
{
namespace
{

std::string Reason() { return SystemReason(errno); }

// Eight hex digits that differ from one call to the next and from one process to another.
std::string Sufijo()
{
    static std::mt19937_64 azar{std::random_device{}()};
    char texto[17];
    std::snprintf(texto, sizeof texto, "%08x", static_cast<unsigned>(azar() & 0xFFFFFFFFu));
    return texto;
}

// Whether `nombre` is "BASE.xxxxxxxx.tmp" with one of `bases` (any letter case; any base when
// there are none).
bool NombreTemporal(const std::string& nombre, const std::vector<std::string>& bases)
{
    constexpr std::size_t kCola = 13; // ".xxxxxxxx.tmp"
    if (nombre.size() <= kCola || nombre.compare(nombre.size() - 4, 4, ".tmp") != 0 ||
        nombre[nombre.size() - kCola] != '.') {
        return false;
    }
    for (std::size_t i = nombre.size() - kCola + 1; i < nombre.size() - 4; ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(nombre[i]))) {
            return false;
        }
    }
    const std::string base = nombre.substr(0, nombre.size() - kCola);
    return bases.empty() || std::any_of(bases.begin(), bases.end(),
                                        [&](const std::string& b) { return cp1252::EqualsNoCase(base, b); });
}

} // namespace

ArchivoNuevo::ArchivoNuevo(std::filesystem::path destino)
    : m_destino(std::move(destino))
{
    for (int intento = 0; intento < 100; ++intento) {
        std::filesystem::path tmp = m_destino;
        tmp += "." + Sufijo() + ".tmp";
        m_fd = sistema::Abrir(tmp, sistema::Apertura::CreaExclusiva);
        if (m_fd >= 0) {
            m_temporal = std::move(tmp);
            // Nobody else has the new file yet, so the lock is free: it only tells a cleanup
            // that the file has a live owner.
            sistema::Bloquear(m_fd, true);
            return;
        }
        if (errno != EEXIST) {
            break;
        }
    }
    throw Error("No se puede escribir el archivo " + m_destino.string() + ": " + Reason());
}

ArchivoNuevo::~ArchivoNuevo()
{
    Cerrar();
    if (!m_confirmado) {
        sistema::Borrar(m_temporal);
    }
}

int ArchivoNuevo::Escribir(std::string_view datos) { return EscribirTodo(m_fd, datos); }

int ArchivoNuevo::CopiarDe(const std::filesystem::path& origen) { return CopiarBytes(origen, m_fd); }

int ArchivoNuevo::Sincronizar() { return sistema::Sincronizar(m_fd) != 0 ? errno : 0; }

int ArchivoNuevo::Cerrar()
{
    if (m_fd < 0) {
        return 0;
    }
    const int fd = m_fd;
    m_fd = -1;
    return sistema::Cerrar(fd) != 0 ? errno : 0;
}

int ArchivoNuevo::Entregar()
{
    const int fd = m_fd;
    m_fd = -1;
    return fd;
}

int ArchivoNuevo::Confirmar(bool sincronizarCarpeta)
{
    if (m_fd >= 0 && sistema::Sincronizar(m_fd) != 0) {
        return errno;
    }
    if (sistema::Reemplazar(m_temporal, m_destino) != 0) {
        return errno;
    }
    m_confirmado = true;
    if (sincronizarCarpeta) {
        sistema::SincronizarDirectorio(m_destino.parent_path());
    }
    return 0;
}

bool Huerfano(const std::filesystem::path& archivo, const std::vector<std::string>& bases)
{
    std::error_code ec;
    if (!NombreTemporal(archivo.filename().string(), bases) ||
        std::filesystem::symlink_status(archivo, ec).type() != std::filesystem::file_type::regular) {
        return false;
    }
    const int fd = sistema::Abrir(archivo, sistema::Apertura::Lectura);
    if (fd < 0) {
        return false;
    }
    // A shared lock is refused while the owner holds its exclusive one.
    const bool libre = sistema::Bloquear(fd, false) == 0;
    sistema::Cerrar(fd);
    return libre;
}

void BorrarHuerfanos(const std::filesystem::path& directorio, const std::vector<std::string>& bases) noexcept
{
    std::error_code ec;
    std::vector<std::filesystem::path> restos;
    for (auto it = std::filesystem::directory_iterator(directorio, ec);
         !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        if (Huerfano(it->path(), bases)) {
            restos.push_back(it->path());
        }
    }
    for (const auto& resto : restos) {
        sistema::Borrar(resto);
    }
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

int CopiarBytes(const std::filesystem::path& origen, int fd)
{
    // Read through the live run's own descriptor when it holds the file (Windows refuses reads
    // through other handles of a file locked exclusively).
    const int prestado = cerrojos::Prestado(origen);
    const int in = prestado >= 0 ? prestado : sistema::Abrir(origen, sistema::Apertura::Lectura);
    if (in < 0) {
        return errno;
    }
    if (sistema::Clonar(in, fd) == 0) {
        sistema::Cerrar(in);
        return 0;
    }
    std::string buf(1 << 20, '\0');
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
    return err;
}

void WriteFileAtomically(const std::filesystem::path& target, std::string_view contents)
{
    ArchivoNuevo nuevo(target);
    const std::string shown = target.string();
    if (const int err = nuevo.Escribir(contents); err != 0) {
        throw Error("No se puede escribir el archivo " + shown + ": " + SystemReason(err));
    }
    int err = nuevo.Sincronizar();
    if (const int e = nuevo.Cerrar(); err == 0) {
        err = e;
    }
    if (err != 0) {
        throw Error("No se puede escribir el archivo " + shown + ": " + SystemReason(err));
    }
    if ((err = nuevo.Confirmar()) != 0) {
        throw Error("No se puede reemplazar el archivo " + shown + ": " + SystemReason(err));
    }
}

} // namespace zendral
