#include "Comparacion.h"

#include "CodePage.h"
#include "DbfTable.h"
#include "WorkDir.h"

#include <algorithm>
#include <memory>
#include <string_view>
#include <unordered_map>

namespace zendral::comparacion
{
namespace
{

namespace fs = std::filesystem;

// What a table with GestIB codes is to people: the element it comes from, the field that holds
// its name and the abbreviation Velorin's own data refers to (none for CURSOST).
struct Conocida
{
    const char* tabla;
    const char* elemento;
    const char* nombre;
    const char* abreviatura;
};

constexpr Conocida kConocidas[] = {
    {"ASIGNOMT", "MATERIA", "NOMBRE", "COD"}, {"PROFT", "PLACA", "NOMBRE", "ABREV"},
    {"AULAT", "AULA", "NOMBRE", "ABREV"},     {"CURSOST", "CURS", "DESCRIPCIO", ""},
    {"GRUPOST", "GRUP", "DESCRIP", "ABREV"},
};

const Conocida* Buscar(const std::string& tabla)
{
    for (const Conocida& c : kConocidas) {
        if (tabla == c.tabla) {
            return &c;
        }
    }
    return nullptr;
}

// One side of a table: every record as its values in the order of the fields compared, each
// value written as two bytes of length and its bytes, so that equal records are equal texts.
struct Lado
{
    bool existe = false;
    std::string datos;
    std::vector<std::size_t> inicio{0};

    std::size_t Registros() const { return inicio.size() - 1; }
    std::string_view Registro(std::size_t i) const
    {
        return std::string_view(datos).substr(inicio[i], inicio[i + 1] - inicio[i]);
    }
    std::string_view Campo(std::size_t i, std::size_t campo) const
    {
        std::string_view r = Registro(i);
        for (std::size_t k = 0;; ++k) {
            const std::size_t largo = static_cast<unsigned char>(r[0]) |
                                      (static_cast<std::size_t>(static_cast<unsigned char>(r[1])) << 8);
            if (k == campo) {
                return r.substr(2, largo);
            }
            r.remove_prefix(2 + largo);
        }
    }
};

std::unique_ptr<dbf::Table> Abrir(const std::string& nombre, const std::optional<fs::path>& carpeta)
{
    std::error_code ec;
    if (!carpeta || !fs::is_regular_file(FindFile(*carpeta, nombre + ".DBF"), ec)) {
        return nullptr;
    }
    auto tabla = std::make_unique<dbf::Table>(nombre, *carpeta, nombre);
    tabla->Open(false);
    return tabla;
}

void Leer(dbf::Table* tabla, const std::vector<std::string>& campos, Lado& lado)
{
    if (tabla == nullptr) {
        return;
    }
    lado.existe = true;
    std::vector<int> indices;
    for (const std::string& campo : campos) {
        int indice = -1;
        const auto& info = tabla->Fields();
        for (std::size_t i = 0; i < info.size(); ++i) {
            if (info[i].name == campo) {
                indice = static_cast<int>(i);
            }
        }
        indices.push_back(indice);
    }
    // At most every field at its full width: the text grows once.
    std::size_t ancho = 0;
    for (const int indice : indices) {
        ancho +=
            2 + (indice < 0
                     ? 0
                     : static_cast<std::size_t>(tabla->Fields()[static_cast<std::size_t>(indice)].width));
    }
    lado.datos.reserve(ancho * tabla->RecordCount());
    lado.inicio.reserve(tabla->RecordCount() + 1);
    for (tabla->First(); !tabla->Eof(); tabla->Next()) {
        for (const int indice : indices) {
            const std::string valor = indice < 0 ? std::string() : dbf::Field(*tabla, indice).AsString();
            const std::size_t largo = std::min<std::size_t>(valor.size(), 0xFFFF);
            lado.datos += static_cast<char>(largo & 0xFF);
            lado.datos += static_cast<char>(largo >> 8);
            lado.datos.append(valor, 0, largo);
        }
        lado.inicio.push_back(lado.datos.size());
    }
    tabla->Close();
}

std::string Comillas(const std::string& texto) { return "«" + texto + "»"; }

std::string Plural(std::size_t n, const char* uno, const char* varios)
{
    return std::to_string(n) + " " + (n == 1 ? uno : varios);
}

// Reads both sides of one table and finds what changes.
class Comparador
{
public:
    Comparador(Tabla& resultado, const Conocida* conocida)
        : m_r(resultado)
        , m_conocida(conocida)
    {
    }

    std::vector<std::string> campos;
    std::vector<char> tipos;
    Lado antes;
    Lado despues;

    void Campos(const dbf::Table* a, const dbf::Table* d)
    {
        for (const dbf::Table* t : {d, a}) {
            if (t == nullptr) {
                continue;
            }
            for (const auto& f : t->Fields()) {
                if (std::find(campos.begin(), campos.end(), f.name) == campos.end()) {
                    campos.push_back(f.name);
                    tipos.push_back(f.type);
                }
            }
        }
    }

    void Comparar()
    {
        m_r.antes = antes.existe;
        m_r.despues = despues.existe;
        m_r.registrosAntes = antes.Registros();
        m_r.registrosDespues = despues.Registros();
        m_codigo = Indice("CODI");
        m_r.conCodigo = m_codigo >= 0;
        if (m_conocida != nullptr) {
            m_nombre = Indice(m_conocida->nombre);
            m_abreviatura = Indice(m_conocida->abreviatura);
        }
        m_tarea = m_r.nombre == "ASIGNOMT" ? Indice("ESTAREA") : -1;
        // A table that comes or goes whole is told by its count alone.
        const bool detalle = antes.existe && despues.existe;
        if (m_r.conCodigo) {
            PorCodigo(detalle);
        } else {
            PorRegistro(detalle);
        }
    }

private:
    int Indice(const std::string& campo) const
    {
        const auto it = std::find(campos.begin(), campos.end(), campo);
        return it == campos.end() || campo.empty() ? -1 : static_cast<int>(it - campos.begin());
    }

    std::string Mostrar(std::size_t campo, std::string_view valor) const
    {
        if (tipos[campo] == 'L') {
            return valor == "T" ? "sí" : valor == "F" ? "no" : "";
        }
        return TextoVisible(cp1252::ToUtf8(valor));
    }

    std::string Elemento(const Lado& lado, std::size_t i) const
    {
        std::string elemento = m_conocida != nullptr ? m_conocida->elemento : "registro";
        if (m_tarea >= 0 && lado.Campo(i, static_cast<std::size_t>(m_tarea)) == "T") {
            elemento = "ACTIVITAT";
        }
        const std::string codigo =
            Mostrar(static_cast<std::size_t>(m_codigo), lado.Campo(i, static_cast<std::size_t>(m_codigo)));
        elemento += codigo.empty() ? " sin código" : " " + codigo;
        if (m_nombre >= 0) {
            std::string nombre = Mostrar(static_cast<std::size_t>(m_nombre),
                                         lado.Campo(i, static_cast<std::size_t>(m_nombre)));
            // Rooms and groups carry their code at the start of their name: said once is enough.
            if (const std::string prefijo = "(" + codigo + ") "; nombre.starts_with(prefijo)) {
                nombre.erase(0, prefijo.size());
            }
            if (!nombre.empty()) {
                elemento += " (" + nombre + ")";
            }
        }
        return elemento;
    }

    // A record that comes or goes: its fields that are not empty.
    Cambio Entero(Clase clase, const Lado& lado, std::size_t i) const
    {
        Cambio c{clase, m_r.nombre, m_r.conCodigo ? Elemento(lado, i) : std::string(), {}, {}};
        for (std::size_t k = 0; k < campos.size(); ++k) {
            const std::string valor = Mostrar(k, lado.Campo(i, k));
            if (!valor.empty()) {
                c.valores.push_back(clase == Clase::Nuevo ? Valor{campos[k], "", valor}
                                                          : Valor{campos[k], valor, ""});
            }
        }
        return c;
    }

    void PorCodigo(bool detalle)
    {
        const auto codigo = static_cast<std::size_t>(m_codigo);
        // Records of each code before, in order; the n-th one after takes the n-th one before.
        std::unordered_map<std::string_view, std::pair<std::vector<std::size_t>, std::size_t>> porCodigo;
        for (std::size_t i = 0; i < antes.Registros(); ++i) {
            porCodigo[antes.Campo(i, codigo)].first.push_back(i);
        }
        // Who has each abbreviation afterwards, the first record that has it.
        std::unordered_map<std::string_view, std::size_t> duenos;
        if (m_abreviatura >= 0 && detalle) {
            for (std::size_t j = 0; j < despues.Registros(); ++j) {
                duenos.try_emplace(despues.Campo(j, static_cast<std::size_t>(m_abreviatura)), j);
            }
        }
        std::vector<char> emparejado(antes.Registros(), 0);
        for (std::size_t j = 0; j < despues.Registros(); ++j) {
            const auto it = porCodigo.find(despues.Campo(j, codigo));
            if (it == porCodigo.end() || it->second.second == it->second.first.size()) {
                ++m_r.nuevos;
                if (detalle) {
                    m_r.cambios.push_back(Entero(Clase::Nuevo, despues, j));
                }
                continue;
            }
            const std::size_t i = it->second.first[it->second.second++];
            emparejado[i] = 1;
            if (antes.Registro(i) != despues.Registro(j)) {
                Cambiado(i, j, duenos);
            }
        }
        for (std::size_t i = 0; i < antes.Registros(); ++i) {
            if (emparejado[i] == 0) {
                ++m_r.eliminados;
                if (detalle) {
                    m_r.cambios.push_back(Entero(Clase::Eliminado, antes, i));
                }
            }
        }
    }

    void Cambiado(std::size_t i, std::size_t j,
                  const std::unordered_map<std::string_view, std::size_t>& duenos)
    {
        Cambio c{Clase::Cambiado, m_r.nombre, Elemento(despues, j), {}, {}};
        for (std::size_t k = 0; k < campos.size(); ++k) {
            const std::string_view a = antes.Campo(i, k);
            const std::string_view d = despues.Campo(j, k);
            if (a == d) {
                continue;
            }
            Valor v{campos[k], Mostrar(k, a), Mostrar(k, d)};
            if (static_cast<int>(k) == m_abreviatura) {
                c.clase = Clase::Abreviatura;
                c.valores.insert(c.valores.begin(), std::move(v));
                if (const auto dueno = duenos.find(a); dueno != duenos.end()) {
                    c.ocupante = Elemento(despues, dueno->second);
                }
            } else {
                c.valores.push_back(std::move(v));
            }
        }
        ++(c.clase == Clase::Abreviatura ? m_r.abreviaturas : m_r.cambiados);
        m_r.cambios.push_back(std::move(c));
    }

    void PorRegistro(bool detalle)
    {
        std::unordered_map<std::string_view, std::size_t> cuentas;
        for (std::size_t i = 0; i < antes.Registros(); ++i) {
            ++cuentas[antes.Registro(i)];
        }
        std::vector<Cambio> nuevos;
        for (std::size_t j = 0; j < despues.Registros(); ++j) {
            const auto it = cuentas.find(despues.Registro(j));
            if (it != cuentas.end() && it->second > 0) {
                --it->second;
                continue;
            }
            if (++m_r.nuevos <= kPrimeros && detalle) {
                nuevos.push_back(Entero(Clase::Nuevo, despues, j));
            }
        }
        // What is left of the counts is what goes, in the order it stood.
        for (std::size_t i = 0; i < antes.Registros(); ++i) {
            auto& quedan = cuentas[antes.Registro(i)];
            if (quedan == 0) {
                continue;
            }
            --quedan;
            if (++m_r.eliminados <= kPrimeros && detalle) {
                m_r.cambios.push_back(Entero(Clase::Eliminado, antes, i));
            }
        }
        for (auto& c : nuevos) {
            m_r.cambios.push_back(std::move(c));
        }
    }

    Tabla& m_r;
    const Conocida* m_conocida;
    int m_codigo = -1;
    int m_nombre = -1;
    int m_abreviatura = -1;
    int m_tarea = -1;
};

std::string DetalleAbreviatura(const Cambio& c)
{
    const Valor& v = c.valores.front();
    std::string detalle = "pasa a ser " + Comillas(v.despues);
    if (c.ocupante.empty()) {
        return detalle + ": lo que Velorin tenga con " + Comillas(v.antes) +
               " ya no apunta a ningún elemento";
    }
    return detalle + ", y " + Comillas(v.antes) + " es ahora de " + c.ocupante +
           ": lo que Velorin tenga con " + Comillas(v.antes) + " apunta a otro elemento";
}

std::string Cambios(const std::vector<Valor>& valores, std::size_t desde)
{
    std::string texto;
    for (std::size_t k = desde; k < valores.size(); ++k) {
        texto += (k == desde ? "" : "; ") + valores[k].campo + " " + Comillas(valores[k].antes) + " → " +
                 Comillas(valores[k].despues);
    }
    return texto;
}

} // namespace

std::string Cambio::Linea() const
{
    std::string linea = elemento.empty() ? std::string() : elemento + ": ";
    switch (clase) {
    case Clase::Abreviatura: {
        linea = tabla + "." + valores.front().campo + ", " + elemento + ", " +
                Comillas(valores.front().antes) + ": " + DetalleAbreviatura(*this);
        if (valores.size() > 1) {
            linea += "; además " + Cambios(valores, 1);
        }
        return linea;
    }
    case Clase::Cambiado:
        return linea + Cambios(valores, 0);
    case Clase::Eliminado:
    case Clase::Nuevo:
        for (std::size_t k = 0; k < valores.size(); ++k) {
            linea += (k == 0 ? "" : ", ") + valores[k].campo + " " +
                     Comillas(clase == Clase::Nuevo ? valores[k].despues : valores[k].antes);
        }
        return valores.empty() ? linea + "(vacío)" : linea;
    }
    return linea;
}

bool Tabla::SinCambios() const
{
    return antes == despues && abreviaturas + eliminados + nuevos + cambiados == 0;
}

std::string Tabla::Cuenta() const
{
    if (!antes && !despues) {
        return "no existe";
    }
    if (!antes) {
        return registrosDespues == 0 ? "tabla nueva, vacía"
                                     : "tabla nueva, " + Plural(nuevos, "nuevo", "nuevos");
    }
    if (!despues) {
        return registrosAntes == 0 ? "la tabla desaparece (estaba vacía)"
                                   : "la tabla desaparece, " + Plural(eliminados, "eliminado", "eliminados");
    }
    if (SinCambios()) {
        return "sin cambios";
    }
    std::vector<std::string> partes;
    if (abreviaturas > 0) {
        partes.push_back(Plural(abreviaturas, "abreviatura cambiada", "abreviaturas cambiadas"));
    }
    if (eliminados > 0) {
        partes.push_back(Plural(eliminados, "eliminado", "eliminados"));
    }
    if (nuevos > 0) {
        partes.push_back(Plural(nuevos, "nuevo", "nuevos"));
    }
    if (cambiados > 0) {
        partes.push_back(Plural(cambiados, "cambiado", "cambiados"));
    }
    std::string cuenta;
    for (std::size_t i = 0; i < partes.size(); ++i) {
        cuenta += (i == 0 ? "" : ", ") + partes[i];
    }
    return cuenta;
}

bool Comparacion::SinCambios() const
{
    return std::all_of(tablas.begin(), tablas.end(), [](const Tabla& t) { return t.SinCambios(); });
}

std::size_t Comparacion::TablasCambiadas() const
{
    return static_cast<std::size_t>(
        std::count_if(tablas.begin(), tablas.end(), [](const Tabla& t) { return !t.SinCambios(); }));
}

std::string Comparacion::DiasHorasPerdidos() const
{
    for (const Tabla& t : tablas) {
        if (t.nombre == "DIASHORAST" && t.antes && t.registrosAntes > 0 && t.registrosDespues == 0) {
            if (t.registrosAntes == 1) {
                return "DIASHORAST se queda sin el registro de días y horas que tenía: lo pone Velorin, y "
                       "habrá que volver a ponerlo en Velorin antes de exportar el horario.";
            }
            return "DIASHORAST se queda sin los " + std::to_string(t.registrosAntes) +
                   " registros de días y horas que tenía: los pone Velorin, y habrá que volver a ponerlos en "
                   "Velorin antes de exportar el horario.";
        }
    }
    return {};
}

std::string Comparacion::Cuentas(const std::string& sangria) const
{
    std::string texto;
    for (const Tabla& t : tablas) {
        texto += sangria + t.nombre + ": " + t.Cuenta() + "\n";
    }
    if (const std::string dias = DiasHorasPerdidos(); !dias.empty()) {
        texto += sangria + dias + "\n";
    }
    return texto;
}

std::vector<Grupo> Comparacion::Grupos() const
{
    std::vector<Grupo> grupos;
    Grupo abreviaturas;
    for (const Tabla& t : tablas) {
        for (const Cambio& c : t.cambios) {
            if (c.clase == Clase::Abreviatura) {
                abreviaturas.lineas.push_back(c.Linea());
            }
        }
    }
    if (!abreviaturas.lineas.empty()) {
        abreviaturas.titulo = std::string(NombreTipo(TipoAviso::Abreviatura)) + " (" +
                              std::to_string(abreviaturas.lineas.size()) + ")";
        grupos.push_back(std::move(abreviaturas));
    }
    for (const Tabla& t : tablas) {
        if (t.SinCambios()) {
            continue;
        }
        Grupo g{t.nombre + ": " + t.Cuenta(), {}};
        if (!t.conCodigo && (t.nuevos > kPrimeros || t.eliminados > kPrimeros) && !t.cambios.empty()) {
            g.titulo += " (los " + std::to_string(kPrimeros) + " primeros de cada lado)";
        }
        for (const Clase clase : {Clase::Eliminado, Clase::Nuevo, Clase::Cambiado}) {
            const char* nombre = clase == Clase::Eliminado ? "eliminado: "
                                 : clase == Clase::Nuevo   ? "nuevo: "
                                                           : "cambiado: ";
            for (const Cambio& c : t.cambios) {
                if (c.clase == clase) {
                    g.lineas.push_back(nombre + c.Linea());
                }
            }
        }
        grupos.push_back(std::move(g));
    }
    return grupos;
}

std::string Comparacion::Lista() const
{
    std::string texto;
    for (const Grupo& g : Grupos()) {
        texto += g.titulo + "\n";
        for (const std::string& linea : g.lineas) {
            texto += "  - " + linea + "\n";
        }
    }
    return texto;
}

ListaAvisos Comparacion::AvisosAbreviaturas() const
{
    ListaAvisos avisos;
    for (const Tabla& t : tablas) {
        for (const Cambio& c : t.cambios) {
            if (c.clase == Clase::Abreviatura) {
                avisos.Agregar({TipoAviso::Abreviatura, c.tabla, c.elemento, c.valores.front().campo,
                                c.valores.front().antes, DetalleAbreviatura(c)});
            }
        }
    }
    return avisos;
}

Tabla CompararTabla(const std::string& nombre, const std::optional<fs::path>& antes,
                    const std::optional<fs::path>& despues)
{
    Tabla resultado;
    resultado.nombre = nombre;
    const auto a = Abrir(nombre, antes);
    const auto d = Abrir(nombre, despues);
    Comparador comparador(resultado, Buscar(nombre));
    comparador.Campos(a.get(), d.get());
    Leer(a.get(), comparador.campos, comparador.antes);
    Leer(d.get(), comparador.campos, comparador.despues);
    comparador.Comparar();
    return resultado;
}

Comparacion Comparar(const fs::path& antes, const fs::path& despues)
{
    Comparacion c;
    for (const std::string& tabla : copias::Tablas()) {
        c.tablas.push_back(CompararTabla(tabla, antes, despues));
    }
    return c;
}

Comparacion CompararRestauracion(const fs::path& dir, const copias::Copia& copia)
{
    Comparacion c;
    for (const std::string& tabla : copias::Tablas()) {
        std::optional<fs::path> despues = dir;
        if (std::find(copia.ausentes.begin(), copia.ausentes.end(), tabla) != copia.ausentes.end()) {
            despues.reset();
        } else if (std::any_of(copia.registros.begin(), copia.registros.end(),
                               [&](const auto& r) { return r.first == tabla; })) {
            despues = copia.carpeta;
        }
        c.tablas.push_back(CompararTabla(tabla, dir, despues));
    }
    return c;
}

} // namespace zendral::comparacion
