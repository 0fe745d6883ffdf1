#include "Avisos.h"

#include <algorithm>

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
