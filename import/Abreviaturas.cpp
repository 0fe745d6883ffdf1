#include "Abreviaturas.h"

#include "CodePage.h"

#include <utility>

namespace zendral::abrev
{

ListaOcupados::ListaOcupados(std::size_t width, std::function<std::string(std::string_view)> acortar)
    : m_width(width)
    , m_acortar(std::move(acortar))
{
}

std::string ListaOcupados::Almacenado(std::string_view candidato) const { return m_acortar(candidato); }

std::string ListaOcupados::ClaveAlmacenada(std::string_view candidato) const
{
    const std::string almacenado = m_acortar(candidato);
    return cp1252::Upper(cp1252::TrimRightBlanks(cp1252::Left(almacenado, m_width)));
}

bool ListaOcupados::Ocupado(const std::string& candidatoMayus, bool comprobarAlmacenados) const
{
    if (m_lista.count(candidatoMayus) != 0) {
        return true;
    }
    // Shortening and cutting work by position, so the upper-case candidate gives the upper-case
    // stored code.
    return comprobarAlmacenados && m_almacenados.count(ClaveAlmacenada(candidatoMayus)) != 0;
}

std::string ListaOcupados::Asignar(std::string_view base, std::string_view prefijo)
{
    std::string candidato(base);
    if (Ocupado(cp1252::Upper(candidato), true)) {
        const std::string prefijoMayus = cp1252::Upper(prefijo);
        unsigned long& n = m_siguiente.try_emplace(prefijoMayus, 1).first->second;
        while (Ocupado(prefijoMayus + std::to_string(n), n <= kLimiteAlmacenados)) {
            ++n;
        }
        candidato = std::string(prefijo) + std::to_string(n);
    }
    const std::string mayus = cp1252::Upper(candidato);
    m_lista.insert(mayus);
    m_almacenados.insert(ClaveAlmacenada(mayus));
    return candidato;
}

std::string CodigoLargo(std::string_view curta, std::string_view descripcio)
{
    if (curta.size() <= 8) {
        return std::string(curta);
    }
    if (descripcio.empty()) {
        return {};
    }
    return std::string(cp1252::Left(descripcio, 7)) + descripcio.back();
}

std::string CodigoBase(std::string_view s)
{
    if (s.size() <= 4) {
        return std::string(s);
    }
    // Positions count from 1; past the end a position holds the empty text.
    const auto at = [&](std::size_t pos) {
        return pos <= s.size() ? std::string(1, s[pos - 1]) : std::string();
    };
    const auto separador = [](const std::string& c) {
        return c == "." || c == "-" || c == " " || c == "_" || c == ":";
    };
    std::string code(1, s[0]);
    for (std::size_t i = 2; i <= 8; ++i) {
        std::string c = at(i);
        if (separador(c)) {
            c = at(i + 1);
            ++i;
        }
        code += c;
    }
    return code.substr(0, 4);
}

std::string AcortarAsignatura(std::string_view candidato)
{
    if (candidato.size() <= 4) {
        return std::string(candidato);
    }
    return candidato.front() + std::string(cp1252::Right(candidato, 3));
}

std::string AcortarDosYDos(std::string_view candidato)
{
    if (candidato.size() <= 4) {
        return std::string(candidato);
    }
    return std::string(cp1252::Left(candidato, 2)) + std::string(cp1252::Right(candidato, 2));
}

} // namespace zendral::abrev
