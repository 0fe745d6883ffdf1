#include "Tablas.h"

#include <stdexcept>

namespace zendral::tablas
{

using dbf::FieldType;

const Disposicion kAsignomt{"ASIGNOMT",
                            {{"COD", FieldType::String, 4},
                             {"CODLARGO", FieldType::String, 8},
                             {"NOMBRE", FieldType::String, 40},
                             {"CODI", FieldType::String, 20},
                             {"HORAS", FieldType::String, 8},
                             {"CODICURS", FieldType::String, 20},
                             {"ESTAREA", FieldType::Boolean}},
                            {}};

const Disposicion kProft{"PROFT",
                         {{"ABREV", FieldType::String, 4},
                          {"NOMBRE", FieldType::String, 40},
                          {"DEPART", FieldType::String, 40},
                          {"DNI", FieldType::Integer},
                          {"CODI", FieldType::String, 40}},
                         {}};

const Disposicion kAulat{"AULAT",
                         {{"ABREV", FieldType::String, 4},
                          {"NOMBRE", FieldType::String, 40},
                          {"EDIFICIO", FieldType::String, 1},
                          {"MAXALUM", FieldType::Integer},
                          {"CODI", FieldType::String, 60}},
                         {}};

const Disposicion kCursost{"CURSOST",
                           {{"CODI", FieldType::String, 20},
                            {"DESCRIPCIO", FieldType::String, 100},
                            {"NIVEL", FieldType::String, 5},
                            {"CURSO", FieldType::String, 3}},
                           {}};

const Disposicion kGrupost{"GRUPOST",
                           {{"ABREV", FieldType::String, 4},
                            {"TURNO", FieldType::String, 1},
                            {"NIVEL", FieldType::String, 5},
                            {"CURSO", FieldType::String, 3},
                            {"GRUPO", FieldType::String, 2},
                            {"CODI", FieldType::String, 20},
                            {"CODICURS", FieldType::String, 20},
                            {"DESCRIP", FieldType::String, 40}},
                           {}};

const Disposicion kMatib{"MATIB",
                         {{"ABREV", FieldType::String, 4},
                          {"ABREV8", FieldType::String, 8},
                          {"NOMBRE", FieldType::String, 40},
                          {"NIVEL", FieldType::String, 5},
                          {"CURSO", FieldType::String, 3}},
                         {{"ABREV", "ABREV"}}};

const Disposicion kAsigt{"ASIGT",
                         {{"CASIG", FieldType::String, 4},
                          {"CPROF", FieldType::String, 4},
                          {"CGRUP", FieldType::String, 4},
                          {"CAULA", FieldType::String, 4},
                          {"TURNO", FieldType::String, 1},
                          {"NIVEL", FieldType::String, 5},
                          {"CURSO", FieldType::String, 3},
                          {"GRUPO", FieldType::String, 2},
                          {"HORAS", FieldType::Float},
                          {"SESIONES", FieldType::String, 20}},
                         {}};

const Disposicion kDiashorast{"DIASHORAST",
                              {{"DIHO", FieldType::String, 10},
                               {"CODDIHO", FieldType::String, 10},
                               {"DIA", FieldType::String, 20},
                               {"TEXTODIA", FieldType::String, 20},
                               {"HORA", FieldType::String, 8},
                               {"HORADESDE", FieldType::String, 8},
                               {"HORAHASTA", FieldType::String, 8},
                               {"MINUTOS", FieldType::String, 8}},
                              {}};

// Written by Velorin; the export only reads it.
const Disposicion kSoluc{"SOLUC",
                         {{"DIA", FieldType::Integer},
                          {"HORA", FieldType::Float},
                          {"PROF", FieldType::String, 4},
                          {"CODGRUPO", FieldType::String, 4},
                          {"AULA", FieldType::String, 4},
                          {"ASIG", FieldType::String, 4},
                          {"TAREA", FieldType::String, 10}},
                         {}};

const Seccion kMateries{"/CENTRE/MATERIES/MATERIA",
                        kAsignomt,
                        "las materias",
                        {{"CODI", "codi", Dato::Codigo},
                         {"CODICURS", "curs", Dato::Referencia},
                         {"NOMBRE", "descripcio"},
                         {"CODLARGO", "curta"}}};

const Seccion kActivitats{"/CENTRE/ACTIVITATS/ACTIVITAT",
                          kAsignomt,
                          "las actividades",
                          {{"CODI", "codi", Dato::Codigo}, {"NOMBRE", "descripcio"}, {"CODLARGO", "curta"}}};

const Seccion kPlaces{"/CENTRE/PLACES/PLACA",
                      kProft,
                      "los profesores",
                      {{"CODI", "codi", Dato::Codigo}, {"NOMBRE", "descripcio"}, {"ABREV", "curta"}}};

const Seccion kAules{
    "/CENTRE/AULES/AULA", kAulat, "las aulas", {{"CODI", "codi", Dato::Codigo}, {"NOMBRE", "descripcio"}}};

const Seccion kCursos{"/CENTRE/CURSOS/CURS",
                      kCursost,
                      "los cursos y sus grupos",
                      {{"CODI", "codi", Dato::Codigo}, {"DESCRIPCIO", "descripcio"}}};

// CODICURS of a group is its course's code.
const Seccion kGrups{
    "GRUP", kGrupost, "los grupos", {{"CODI", "codi", Dato::Codigo}, {"GRUPO", "nom"}}, &kCursos};

const std::vector<const Seccion*>& SeccionesCentro()
{
    static const std::vector<const Seccion*> kTodas = {&kMateries, &kActivitats, &kPlaces,
                                                       &kAules,    &kCursos,     &kGrups};
    return kTodas;
}

const dbf::FieldDef* Disposicion::Campo(std::string_view campo) const
{
    for (const auto& c : campos) {
        if (c.name == campo) {
            return &c;
        }
    }
    return nullptr;
}

std::size_t Disposicion::Ancho(std::string_view campo) const
{
    const dbf::FieldDef* c = Campo(campo);
    if (c == nullptr) {
        throw std::logic_error(nombre + " no tiene el campo " + std::string(campo));
    }
    return static_cast<std::size_t>(c->size);
}

std::string Seccion::Elemento() const { return ruta.substr(ruta.rfind('/') + 1); }

std::string Seccion::RutaSeccion() const
{
    const auto barra = ruta.rfind('/');
    return !ruta.empty() && ruta.front() == '/' && barra != std::string::npos ? ruta.substr(0, barra)
                                                                              : std::string();
}

std::string Seccion::Nombre() const
{
    const std::string seccion = RutaSeccion();
    return seccion.substr(seccion.rfind('/') + 1);
}

std::size_t Seccion::Indice(std::string_view campo) const
{
    for (std::size_t i = 0; i < origenes.size(); ++i) {
        if (origenes[i].campo == campo) {
            return i;
        }
    }
    throw std::logic_error(Elemento() + " no da ningún atributo al campo " + std::string(campo));
}

void Definir(dbf::Table& tabla, const Disposicion& disposicion)
{
    tabla.ClearFieldDefs();
    for (const auto& campo : disposicion.campos) {
        tabla.AddFieldDef(campo.name, campo.type, campo.size);
    }
    for (const auto& indice : disposicion.indices) {
        tabla.AddIndexDef(indice.name, indice.fields, indice.options);
    }
}

} // namespace zendral::tablas
