#include "LineaOrdenes.h"

namespace zendral
{

std::optional<std::uint32_t> LeerManejadorHex(const QString& texto)
{
    if (texto.isEmpty()) {
        return std::nullopt;
    }
    std::uint64_t valor = 0;
    for (const QChar c : texto) {
        const char16_t u = c.unicode();
        int digito = -1;
        if (u >= u'0' && u <= u'9') {
            digito = u - u'0';
        } else if (u >= u'a' && u <= u'f') {
            digito = u - u'a' + 10;
        } else if (u >= u'A' && u <= u'F') {
            digito = u - u'A' + 10;
        }
        if (digito < 0) {
            return std::nullopt;
        }
        valor = valor * 16 + static_cast<std::uint64_t>(digito);
        if (valor > 0xFFFFFFFFu) {
            return std::nullopt;
        }
    }
    return static_cast<std::uint32_t>(valor);
}

LineaOrdenes::LineaOrdenes(const QStringList& argumentos)
{
    if (argumentos.size() != 2) {
        // Only a person types this: the host's command line always has exactly two arguments,
        // and those are never read as options.
        sinMemoria = argumentos.contains(QStringLiteral("--sin-memoria"));
        return;
    }
    dosArgumentos = true;
    orden = argumentos[0].toLower();
    ventana = LeerManejadorHex(argumentos[1]);
    if (!ventana) {
        error = QStringLiteral("'$%1' no es un valor entero válido").arg(argumentos[1]);
    }
}

} // namespace zendral
