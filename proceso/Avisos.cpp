#include "Avisos.h"

#include "CodePage.h"

#include <algorithm>
#include <cstdio>

namespace zendral
{

const char* NombreTipo(TipoAviso tipo)
{
    switch (tipo) {
    case TipoAviso::Seccion:
        return "Secciones que faltan en el documento";
    case TipoAviso::Conversion:
        return "Caracteres que Velorin no puede guardar";
    case TipoAviso::Recorte:
        return "Códigos recortados";
    case TipoAviso::Repetido:
        return "Códigos de GestIB repetidos";
    case TipoAviso::SinNivel:
        return "Grupos sin nivel, curso o abreviatura";
    case TipoAviso::SinGrupo:
        return "Materias cuyo curso no tiene grupos";
    case TipoAviso::Memoria:
        return "Niveles y cursos recordados";
    case TipoAviso::SinRegistro:
        return "Sesiones sin registro en las tablas";
    case TipoAviso::Abreviatura:
        return "Abreviaturas cambiadas";
    case TipoAviso::Informe:
        return "Informe del proceso";
    }
    return "";
}

std::string Aviso::Linea() const
{
    std::string linea = NombreTipo(tipo);
    linea += ": ";
    std::string donde = tabla;
    if (!campo.empty()) {
        donde += (donde.empty() ? "" : ".") + campo;
    }
    if (!elemento.empty()) {
        donde += (donde.empty() ? "" : ", ") + elemento;
    }
    if (!donde.empty()) {
        linea += donde;
        linea += ", ";
    }
    linea += "«" + valor + "»: " + detalle;
    return linea;
}

std::string TextoVisible(std::string_view utf8)
{
    std::string texto;
    texto.reserve(utf8.size());
    for (std::size_t i = 0; i < utf8.size();) {
        char32_t cp = 0;
        const std::size_t len = cp1252::DecodeUtf8(utf8, i, cp);
        if (len == 0) {
            // Not UTF-8: the byte stands for itself, as the code page would show it.
            texto += cp1252::ToUtf8(utf8.substr(i, 1));
            ++i;
            continue;
        }
        if (cp < 0x20 || (cp >= 0x7F && cp <= 0x9F)) {
            char referencia[12];
            std::snprintf(referencia, sizeof referencia, "&#x%X;", static_cast<unsigned>(cp));
            texto += referencia;
        } else {
            texto.append(utf8.substr(i, len));
        }
        i += len;
    }
    return texto;
}

void ListaAvisos::Agregar(const ListaAvisos& otros)
{
    m_avisos.insert(m_avisos.end(), otros.m_avisos.begin(), otros.m_avisos.end());
}

std::string ListaAvisos::Cuenta() const
{
    return std::to_string(m_avisos.size()) + (m_avisos.size() == 1 ? " aviso" : " avisos");
}

std::string ListaAvisos::Detalles() const
{
    std::vector<const Aviso*> ordenados;
    for (const Aviso& a : m_avisos) {
        ordenados.push_back(&a);
    }
    std::stable_sort(ordenados.begin(), ordenados.end(),
                     [](const Aviso* a, const Aviso* b) { return a->tipo < b->tipo; });
    std::string texto = Cuenta() + "\n";
    for (std::size_t i = 0; i < ordenados.size();) {
        const TipoAviso tipo = ordenados[i]->tipo;
        std::size_t fin = i;
        while (fin < ordenados.size() && ordenados[fin]->tipo == tipo) {
            ++fin;
        }
        texto += "\n" + std::string(NombreTipo(tipo)) + " (" + std::to_string(fin - i) + "):\n";
        for (; i < fin; ++i) {
            const std::string linea = ordenados[i]->Linea();
            // The heading already names the kind.
            texto += "  - " + linea.substr(std::string(NombreTipo(tipo)).size() + 2) + "\n";
        }
    }
    return texto;
}

} // namespace zendral
