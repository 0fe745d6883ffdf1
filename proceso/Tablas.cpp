#include "Tablas.h"

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

const dbf::FieldDef* Disposicion::Campo(const std::string& campo) const
{
    for (const auto& c : campos) {
        if (c.name == campo) {
            return &c;
        }
    }
    return nullptr;
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
