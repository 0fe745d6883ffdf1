#include "Velorin.h"

#include "CodePage.h"
#include "DbfTable.h"
#include "Error.h"
#include "Tablas.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zendral::host
{
namespace
{

namespace fs = std::filesystem;

constexpr const char* kNombresDias[kDias] = {"Dilluns", "Dimarts", "Dimecres", "Dijous", "Divendres"};
constexpr int kInicioDia = 8 * 60;
constexpr int kMinutosRecreo = 30;
// Task written when ASIGNOMT holds no activity.
constexpr const char* kTareaPorDefecto = "GUARDIA";

std::string Reloj(int minutos)
{
    char texto[16];
    std::snprintf(texto, sizeof texto, "%02d:%02d", minutos / 60, minutos % 60);
    return texto;
}

// A whole number written as text, blanks around allowed.
std::optional<int> Entero(std::string_view texto)
{
    texto = cp1252::Trim(texto);
    int valor = 0;
    const auto [fin, ec] = std::from_chars(texto.data(), texto.data() + texto.size(), valor);
    if (texto.empty() || ec != std::errc() || fin != texto.data() + texto.size()) {
        return std::nullopt;
    }
    return valor;
}

// Calls `leer` on every record of a table of the working directory.
template <class Lector> void Recorrer(const fs::path& workDir, const std::string& nombre, Lector leer)
{
    dbf::Table tabla(nombre, workDir, nombre);
    tabla.Open(false);
    for (tabla.First(); !tabla.Eof(); tabla.Next()) {
        leer(tabla);
    }
    tabla.Close();
}

struct Casilla
{
    int dia = 0;
    int periodo = 0;
};

// The week as DIASHORAST gives it: slots ordered by day and period, and the slots of each day.
struct Rejilla
{
    std::vector<Casilla> casillas;
    std::vector<std::vector<std::size_t>> porDia;
};

Rejilla LeerRejilla(const fs::path& workDir)
{
    std::set<std::pair<int, int>> vistas;
    Recorrer(workDir, "DIASHORAST", [&](dbf::Table& t) {
        const std::string dia = t.FieldByName("DIA").AsString();
        const std::string hora = t.FieldByName("HORA").AsString();
        const auto d = Entero(dia);
        const auto p = Entero(hora);
        if (!d || !p || *d <= 0 || *p <= 0) {
            throw Error("La tabla DIASHORAST tiene un registro con DIA «" + cp1252::ToUtf8(dia) +
                        "» y HORA «" + cp1252::ToUtf8(hora) +
                        "»: se esperaba un número de día y uno de periodo");
        }
        vistas.emplace(*d, *p);
    });
    if (vistas.empty()) {
        throw Error(
            "La tabla DIASHORAST está vacía: antes de generar SOLUC hay que llenar los días y las horas");
    }
    Rejilla rejilla;
    for (const auto& [dia, periodo] : vistas) {
        if (rejilla.casillas.empty() || rejilla.casillas.back().dia != dia) {
            rejilla.porDia.emplace_back();
        }
        rejilla.porDia.back().push_back(rejilla.casillas.size());
        rejilla.casillas.push_back({dia, periodo});
    }
    return rejilla;
}

// The distinct non-blank abbreviations of a table, in table order.
std::vector<std::string> LeerAbreviaturas(const fs::path& workDir, const std::string& tabla)
{
    std::vector<std::string> abreviaturas;
    std::set<std::string> vistas;
    Recorrer(workDir, tabla, [&](dbf::Table& t) {
        std::string abrev(cp1252::Trim(t.FieldByName("ABREV").AsString()));
        if (!abrev.empty() && vistas.insert(abrev).second) {
            abreviaturas.push_back(std::move(abrev));
        }
    });
    return abreviaturas;
}

// The GestIB codes of the activities in ASIGNOMT, in table order.
std::vector<std::string> LeerTareas(const fs::path& workDir)
{
    std::vector<std::string> tareas;
    Recorrer(workDir, "ASIGNOMT", [&](dbf::Table& t) {
        std::string codi(cp1252::Trim(t.FieldByName("CODI").AsString()));
        if (t.FieldByName("ESTAREA").AsBoolean() && !codi.empty()) {
            tareas.push_back(std::move(codi));
        }
    });
    if (tareas.empty()) {
        tareas.emplace_back(kTareaPorDefecto);
    }
    return tareas;
}

struct Linea
{
    std::string asig;
    std::string prof;
    std::string grupo;
    std::string aula;
    double horas = 0;
};

std::vector<Linea> LeerLineas(const fs::path& workDir)
{
    std::vector<Linea> lineas;
    Recorrer(workDir, "ASIGT", [&](dbf::Table& t) {
        lineas.push_back({std::string(cp1252::Trim(t.FieldByName("CASIG").AsString())),
                          std::string(cp1252::Trim(t.FieldByName("CPROF").AsString())),
                          std::string(cp1252::Trim(t.FieldByName("CGRUP").AsString())),
                          std::string(cp1252::Trim(t.FieldByName("CAULA").AsString())),
                          t.FieldByName("HORAS").AsFloat()});
    });
    return lineas;
}

// Sessions a line asks for: ceil(horas), none for a value that is not positive, and never more
// than the week holds, since the rest could never be placed.
std::size_t SesionesPedidas(double horas, std::size_t casillas)
{
    if (!(horas > 0)) {
        return 0;
    }
    const double techo = std::ceil(horas);
    return techo >= static_cast<double>(casillas) ? casillas : static_cast<std::size_t>(techo);
}

// Teachers, rooms or groups, and the slots each one already holds. The first members, read from
// their table, are the ones handed out to sessions that have none; names met later (a fixed
// teacher or room of a line, a group) are only tracked.
class Ocupacion
{
public:
    Ocupacion(std::vector<std::string> reparto, std::size_t casillas)
        : m_casillas(casillas)
    {
        for (auto& nombre : reparto) {
            Indice(nombre);
        }
        m_reparto = m_nombres.size();
    }

    std::size_t Reparto() const { return m_reparto; }

    std::size_t Indice(const std::string& nombre)
    {
        const auto [it, nuevo] = m_indices.try_emplace(nombre, m_nombres.size());
        if (nuevo) {
            m_nombres.push_back(nombre);
            m_ocupado.emplace_back(m_casillas, false);
        }
        return it->second;
    }

    const std::string& Nombre(std::size_t i) const { return m_nombres[i]; }
    bool Libre(std::size_t i, std::size_t casilla) const { return !m_ocupado[i][casilla]; }
    void Ocupar(std::size_t i, std::size_t casilla) { m_ocupado[i][casilla] = true; }

    // The first member handed out, from `desde` round to the start again, free in `casilla`.
    std::optional<std::size_t> PrimeroLibre(std::size_t desde, std::size_t casilla) const
    {
        for (std::size_t k = 0; k < m_reparto; ++k) {
            const std::size_t i = (desde + k) % m_reparto;
            if (Libre(i, casilla)) {
                return i;
            }
        }
        return std::nullopt;
    }

private:
    std::size_t m_casillas;
    std::size_t m_reparto = 0;
    std::vector<std::string> m_nombres;
    std::unordered_map<std::string, std::size_t> m_indices;
    std::vector<std::vector<bool>> m_ocupado;
};

// One SOLUC record; no slot means unplaced (DIA 0).
struct Sesion
{
    std::optional<std::size_t> casilla;
    std::string prof;
    std::string grupo;
    std::string aula;
    std::string asig;
    std::string tarea;
};

class TablaSoluc
{
public:
    TablaSoluc(const fs::path& workDir, const Rejilla& rejilla, bool medias)
        : m_tabla("SOLUC", workDir, "SOLUC")
        , m_rejilla(rejilla)
        , m_medias(medias)
    {
        tablas::Definir(m_tabla, tablas::kSoluc);
        m_tabla.CreateTable();
        m_tabla.Open();
    }

    void Escribir(const Sesion& s, Resumen& resumen)
    {
        m_tabla.Append();
        if (s.casilla) {
            const Casilla& c = m_rejilla.casillas[*s.casilla];
            m_tabla.FieldByName("DIA").SetAsInteger(c.dia);
            m_tabla.FieldByName("HORA").SetAsFloat(HoraDePeriodo(c.periodo, m_medias));
        } else {
            m_tabla.FieldByName("DIA").SetAsInteger(0);
            m_tabla.FieldByName("HORA").SetAsFloat(0);
            ++resumen.sinColocar;
        }
        m_tabla.FieldByName("PROF").SetAsString(s.prof);
        m_tabla.FieldByName("CODGRUPO").SetAsString(s.grupo);
        m_tabla.FieldByName("AULA").SetAsString(s.aula);
        m_tabla.FieldByName("ASIG").SetAsString(s.asig);
        m_tabla.FieldByName("TAREA").SetAsString(s.tarea);
        m_tabla.Post();
        ++resumen.registros;
    }

    void Cerrar() { m_tabla.Close(); }

private:
    dbf::Table m_tabla;
    const Rejilla& m_rejilla;
    bool m_medias;
};

struct Eleccion
{
    std::optional<std::size_t> prof;
    std::optional<std::size_t> aula;
};

// The week as the greedy pass fills it: who holds which slot.
struct Semana
{
    const Rejilla& rejilla;
    Ocupacion profesores;
    Ocupacion aulas;
    Ocupacion grupos;
};

// What the sessions of one line keep to: its group, its fixed teacher and room, and otherwise the
// teacher and room it takes first.
struct Requisitos
{
    std::optional<std::size_t> grupo;
    std::optional<std::size_t> profFijo;
    std::optional<std::size_t> aulaFija;
    std::size_t profPreferido = 0;
    std::size_t aulaPreferida = 0;
};

// The teacher and room of a session in slot `c`; nothing when the slot cannot take it. A missing
// room does not stop a session, a missing teacher does.
std::optional<Eleccion> Elegir(const Semana& semana, const Requisitos& r, std::size_t c)
{
    if (r.grupo && !semana.grupos.Libre(*r.grupo, c)) {
        return std::nullopt;
    }
    Eleccion e;
    if (r.profFijo) {
        if (!semana.profesores.Libre(*r.profFijo, c)) {
            return std::nullopt;
        }
        e.prof = r.profFijo;
    } else if (semana.profesores.Reparto() > 0) {
        e.prof = semana.profesores.PrimeroLibre(r.profPreferido, c);
        if (!e.prof) {
            return std::nullopt;
        }
    }
    if (r.aulaFija) {
        if (!semana.aulas.Libre(*r.aulaFija, c)) {
            return std::nullopt;
        }
        e.aula = r.aulaFija;
    } else if (semana.aulas.Reparto() > 0) {
        e.aula = semana.aulas.PrimeroLibre(r.aulaPreferida, c);
    }
    return e;
}

// Writes the sessions line number `l` asks for, each in the first slot that takes it, or unplaced.
void ColocarLinea(Semana& semana, std::size_t l, const Linea& linea, TablaSoluc& soluc, Resumen& resumen)
{
    Ocupacion& profesores = semana.profesores;
    Ocupacion& aulas = semana.aulas;
    Ocupacion& grupos = semana.grupos;
    const std::size_t dias = semana.rejilla.porDia.size();
    const std::size_t pedidas = SesionesPedidas(linea.horas, semana.rejilla.casillas.size());
    resumen.sesiones += pedidas;

    Requisitos r;
    if (!linea.grupo.empty()) {
        r.grupo = grupos.Indice(linea.grupo);
    }
    if (!linea.prof.empty()) {
        r.profFijo = profesores.Indice(linea.prof);
    }
    if (!linea.aula.empty()) {
        r.aulaFija = aulas.Indice(linea.aula);
    }
    // Lines take teachers in turn; a group keeps to one room while it is free.
    r.profPreferido = profesores.Reparto() > 0 ? l % profesores.Reparto() : 0;
    r.aulaPreferida = aulas.Reparto() > 0 ? (r.grupo ? *r.grupo : l) % aulas.Reparto() : 0;

    std::vector<bool> diaUsado(dias, false);
    for (std::size_t k = 0; k < pedidas; ++k) {
        Sesion sesion{std::nullopt, "", linea.grupo, linea.aula, linea.asig, ""};
        if (r.profFijo) {
            sesion.prof = linea.prof;
        } else if (profesores.Reparto() > 0) {
            sesion.prof = profesores.Nombre(r.profPreferido);
        }
        std::size_t diaElegido = 0;
        std::optional<Eleccion> eleccion;
        // First pass: days without a session of this line yet; the first day turns with the
        // line so that the week fills evenly.
        for (int pasada = 0; pasada < 2 && !eleccion; ++pasada) {
            for (std::size_t i = 0; i < dias && !eleccion; ++i) {
                const std::size_t d = (l + i) % dias;
                if (pasada == 0 && diaUsado[d]) {
                    continue;
                }
                for (const std::size_t c : semana.rejilla.porDia[d]) {
                    if ((eleccion = Elegir(semana, r, c))) {
                        sesion.casilla = c;
                        diaElegido = d;
                        break;
                    }
                }
            }
        }
        if (eleccion) {
            diaUsado[diaElegido] = true;
            const std::size_t c = *sesion.casilla;
            if (r.grupo) {
                grupos.Ocupar(*r.grupo, c);
            }
            if (eleccion->prof) {
                profesores.Ocupar(*eleccion->prof, c);
                sesion.prof = profesores.Nombre(*eleccion->prof);
            }
            if (eleccion->aula) {
                aulas.Ocupar(*eleccion->aula, c);
                sesion.aula = aulas.Nombre(*eleccion->aula);
            }
            ++resumen.colocadas;
        }
        soluc.Escribir(sesion, resumen);
    }
}

// Activities: a teacher each, in turn, at the first slot where that teacher is free. One more
// than asked for is written unplaced, as a solver leaves what it could not fit.
void ColocarActividades(Semana& semana, std::size_t actividades, const std::vector<std::string>& tareas,
                        TablaSoluc& soluc, Resumen& resumen)
{
    Ocupacion& profesores = semana.profesores;
    const std::size_t dias = semana.rejilla.porDia.size();
    for (std::size_t a = 0; a <= actividades; ++a) {
        Sesion sesion;
        sesion.tarea = tareas[a % tareas.size()];
        std::optional<std::size_t> prof;
        if (profesores.Reparto() > 0) {
            prof = a % profesores.Reparto();
            sesion.prof = profesores.Nombre(*prof);
        }
        for (std::size_t i = 0; a < actividades && i < dias && !sesion.casilla; ++i) {
            for (const std::size_t c : semana.rejilla.porDia[(a + i) % dias]) {
                if (!prof || profesores.Libre(*prof, c)) {
                    sesion.casilla = c;
                    break;
                }
            }
        }
        if (sesion.casilla) {
            if (prof) {
                profesores.Ocupar(*prof, *sesion.casilla);
            }
            ++resumen.actividades;
        }
        soluc.Escribir(sesion, resumen);
    }
}

} // namespace

double HoraDePeriodo(int periodo, bool medias)
{
    if (!medias) {
        return periodo;
    }
    return (periodo + 1) / 2 + (periodo % 2 == 0 ? 0.5 : 0.0);
}

void LlenarDiasHoras(const fs::path& workDir, int periodos, bool medias)
{
    if (periodos < 1 || periodos > kMaxPeriodos) {
        throw Error("El número de periodos debe estar entre 1 y " + std::to_string(kMaxPeriodos) +
                    " (se pidió " + std::to_string(periodos) + ")");
    }
    const int casillas = medias ? 2 * periodos : periodos;
    const int minutos = medias ? kMinutosMedia : kMinutosPeriodo;
    // The break comes after three periods' worth of slots.
    const int recreoTras = medias ? 6 : 3;

    dbf::Table tabla("DIASHORAST", workDir, "DIASHORAST");
    // The layout the centre import gives the table.
    tablas::Definir(tabla, tablas::kDiashorast);
    tabla.CreateTable();
    tabla.Open();
    for (int dia = 1; dia <= kDias; ++dia) {
        for (int periodo = 1; periodo <= casillas; ++periodo) {
            const int desde =
                kInicioDia + (periodo - 1) * minutos + (periodo > recreoTras ? kMinutosRecreo : 0);
            const std::string clave = std::to_string(dia) + std::to_string(periodo);
            tabla.Append();
            tabla.FieldByName("DIHO").SetAsString(clave);
            tabla.FieldByName("CODDIHO").SetAsString(clave);
            tabla.FieldByName("DIA").SetAsString(std::to_string(dia));
            tabla.FieldByName("TEXTODIA").SetAsString(kNombresDias[dia - 1]);
            tabla.FieldByName("HORA").SetAsString(std::to_string(periodo));
            tabla.FieldByName("HORADESDE").SetAsString(Reloj(desde));
            tabla.FieldByName("HORAHASTA").SetAsString(Reloj(desde + minutos));
            tabla.FieldByName("MINUTOS").SetAsString(std::to_string(minutos));
            tabla.Post();
        }
    }
    tabla.Close();
}

Resumen GenerarSoluc(const fs::path& workDir, const Opciones& opciones)
{
    const Rejilla rejilla = LeerRejilla(workDir);
    const std::size_t casillas = rejilla.casillas.size();
    const std::vector<Linea> lineas = LeerLineas(workDir);
    Semana semana{rejilla, Ocupacion(LeerAbreviaturas(workDir, "PROFT"), casillas),
                  Ocupacion(LeerAbreviaturas(workDir, "AULAT"), casillas), Ocupacion({}, casillas)};
    const std::vector<std::string> tareas = LeerTareas(workDir);

    Resumen resumen;
    resumen.lineas = lineas.size();
    TablaSoluc soluc(workDir, rejilla, opciones.medias);
    for (std::size_t l = 0; l < lineas.size(); ++l) {
        ColocarLinea(semana, l, lineas[l], soluc, resumen);
    }
    const std::size_t actividades =
        opciones.actividades > 0 ? static_cast<std::size_t>(opciones.actividades) : 0;
    ColocarActividades(semana, actividades, tareas, soluc, resumen);
    soluc.Cerrar();
    return resumen;
}

} // namespace zendral::host
