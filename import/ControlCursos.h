#pragma once

#include "DbfTable.h"

#include <filesystem>
#include <string>
#include <vector>

namespace zendral
{

class Prompter;

// A course's level and course number as CURSOST stores them (windows-1252).
struct NivelCurso
{
    std::string nivel;
    std::string curso;
    // A course lacks data when its level or its course number is blank after trimming.
    bool Completo() const;
};

// What the level/course dialog does with CURSOST, apart from drawing it. One object stands for
// one showing of the dialog.
class ControlCursos
{
public:
    // `cursosIncompletos`: an earlier showing in this process ended with data missing.
    ControlCursos(const std::filesystem::path& workDir, bool cursosIncompletos, Prompter& prompter);
    // Releasing the dialog closes its table if it is still open.
    ~ControlCursos();

    // Opens CURSOST (shared: the dialog edits while nobody else holds it exclusively).
    void FormShow();
    // Types `niveles` into CURSOST by position, the first pair into the first record; records
    // past the end of the list keep what they hold.
    void Rellenar(const std::vector<NivelCurso>& niveles);
    // The grid got the focus: start editing the current record, or a new one on an empty table.
    void CursosTDBGridEnter();
    // The grid lost the focus: save the pending change.
    void CursosTDBGridExit();
    // OK: saves what is pending, checks that every record has a level and a course number and,
    // when one lacks either, shows the notice. Closes the table. Returns FaltaDato.
    bool BitBtn1Click();
    // Forced exit: closes the table and marks the dialog "fuera".
    void BitBtn2Click();

    dbf::Table& Tabla() { return m_tabla; }

    // BitBtn2 ("Forzar Salida ...") and Label8.
    bool SalidaVisible() const { return m_salidaVisible; }
    // Label2 and Label3, the notice that data is missing.
    bool IncidenciasVisibles() const { return m_incidenciasVisibles; }

    bool FaltaDato = false;
    std::string Salida;

private:
    dbf::Table m_tabla;
    Prompter& m_prompter;
    bool m_cursosIncompletos;
    bool m_salidaVisible = false;
    bool m_incidenciasVisibles = false;
};

} // namespace zendral
