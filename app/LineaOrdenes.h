#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

namespace zendral
{

// "$" + `texto` read as a hexadecimal integer, the way the host passes its window: one or more
// hexadecimal digits, nothing else, and a value that fits in 32 bits. Nothing otherwise.
std::optional<std::uint32_t> LeerManejadorHex(const QString& texto);

// What the command line asks for. Only exactly two arguments count: the run and the host's window.
struct LineaOrdenes
{
    explicit LineaOrdenes(const QStringList& argumentos);

    // Exactly two arguments were given.
    bool dosArgumentos = false;
    // The first argument in lower case ("exportar", "importar", or anything else).
    QString orden;
    // The host's window; nothing when the second argument is not hexadecimal.
    std::optional<std::uint32_t> ventana;
    // The message for a second argument that is not hexadecimal; empty otherwise.
    QString error;
    // "--sin-memoria" among any other number of arguments: the centre import does not fill in
    // the level and course answers remembered from earlier imports.
    bool sinMemoria = false;
};

} // namespace zendral
