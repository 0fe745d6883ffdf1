#include "Horario.h"

#include "DbfTable.h"

#include <cassert>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string_view>
#include <utility>

namespace zendral
{

const Horario& HorarioDeclarado()
{
    static const Horario horario{
        {{
            {"PROFT", "ABREV", "PROF", {{"CODI", "placa"}}, "profesor"},
            {"GRUPOST", "ABREV", "CODGRUPO", {{"CODI", "grup"}, {"CODICURS", "curs"}}, "grupo"},
            {"AULAT", "ABREV", "AULA", {{"CODI", "aula"}}, "aula"},
            {"ASIGNOMT", "COD", "ASIG", {{"CODI", "materia"}}, "materia"},
            {"DIASHORAST",
             "DIHO",
             nullptr,
             {{"DIA", "dia"}, {"HORADESDE", "hora"}, {"MINUTOS", "durada"}},
             "día y hora"},
        }},
        {
            {"placa", true},
            {"curs", false},
            {"grup", false},
            {"dia", true},
            {"hora", true},
            {"durada", true},
            {"aula", false},
            {"materia", false},
            {"activitat", true},
        },
        {"TAREA", "activitat"},
    };
    return horario;
}

std::vector<Horario::Origen> Horario::Origenes() const
{
    std::vector<Origen> origenes;
    for (const Atributo& atributo : atributos) {
        const std::string_view nombre = atributo.nombre;
        std::vector<Origen> encontrados;
        if (nombre == actividad.atributo) {
            encontrados.push_back({});
        }
        for (std::size_t b = 0; b < busquedas.size(); ++b) {
            for (std::size_t v = 0; v < busquedas[b].valores.size(); ++v) {
                if (nombre == busquedas[b].valores[v].atributo) {
                    encontrados.push_back({static_cast<Busqueda>(b), v});
                }
            }
        }
        if (encontrados.size() != 1) {
            throw std::logic_error(
                "El atributo " + std::string(nombre) +
                (encontrados.empty() ? " no sale de ningún campo" : " sale de varios campos"));
        }
        origenes.push_back(encontrados.front());
    }
    return origenes;
}

bool Horario::CuentaEnActividad(Busqueda b) const
{
    for (const Atributo& atributo : atributos) {
        for (const Valor& valor : busquedas[b].valores) {
            if (atributo.enActividad && std::string_view(atributo.nombre) == valor.atributo) {
                return true;
            }
        }
    }
    return false;
}

TablaBusqueda::TablaBusqueda(dbf::Table& tabla, const Horario::Tabla& declarada)
    : m_tabla(tabla)
    , m_declarada(declarada)
{
}

const std::vector<std::string>* TablaBusqueda::Buscar(const std::string& clave)
{
    if (!m_leida) {
        const bool abrir = !m_tabla.Active();
        if (abrir) {
            m_tabla.Open();
        }
        for (m_tabla.First(); !m_tabla.Eof(); m_tabla.Next()) {
            std::string k = m_tabla.FieldByName(m_declarada.clave).AsString();
            if (m_indice.count(k) != 0) {
                continue;
            }
            Registrado r{m_tabla.RecordNumber(), {}};
            for (const Horario::Valor& valor : m_declarada.valores) {
                r.valores.push_back(m_tabla.FieldByName(valor.campo).AsString());
            }
            m_indice.emplace(std::move(k), std::move(r));
        }
        if (abrir) {
            m_tabla.Close();
        }
        m_leida = true;
    }
    const auto it = m_indice.find(clave);
    return it == m_indice.end() ? nullptr : &it->second.valores;
}

std::size_t TablaBusqueda::Registro(const std::string& clave) const
{
    const auto it = m_indice.find(clave);
    return it == m_indice.end() ? 0 : it->second.numero;
}

bool TieneDia(dbf::Table& soluc) { return soluc.FieldByName(kCampoDia).AsInteger() != 0; }

bool MediasHoras(dbf::Table& soluc)
{
    for (soluc.First(); !soluc.Eof(); soluc.Next()) {
        const double hora = soluc.FieldByName(kCampoHora).AsFloat();
        if (hora != std::trunc(hora)) {
            return true;
        }
    }
    return false;
}

std::optional<std::string> TextoBuscado(const Horario::Tabla& tabla, dbf::Table& soluc, bool mediasHoras)
{
    if (tabla.soluc != nullptr) {
        return soluc.FieldByName(tabla.soluc).AsString();
    }
    const double hora = soluc.FieldByName(kCampoHora).AsFloat();
    if (!PeriodoEnRango(hora, mediasHoras)) {
        return std::nullopt;
    }
    return soluc.FieldByName(kCampoDia).AsString() + std::to_string(Periodo(hora, mediasHoras));
}

bool PeriodoEnRango(double hora, bool mediasHoras)
{
    // 2^63 and 2^62 are exact doubles; NaN fails every comparison. With half periods, 2 x whole
    // part must fit, also before the 1 is taken off.
    constexpr double kLimite = -static_cast<double>(std::numeric_limits<long long>::min());
    const double entera = std::trunc(hora);
    if (!mediasHoras) {
        return entera >= -kLimite && entera < kLimite;
    }
    return entera > -kLimite / 2 && entera < kLimite / 2;
}

long long Periodo(double hora, bool mediasHoras)
{
    assert(PeriodoEnRango(hora, mediasHoras));
    const double entera = std::trunc(hora);
    const auto w = static_cast<long long>(entera);
    if (!mediasHoras) {
        return w;
    }
    return hora - entera > 0 ? 2 * w : 2 * w - 1;
}

} // namespace zendral
