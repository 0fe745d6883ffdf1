#include "ControlCursos.h"

#include "CodePage.h"
#include "Mensajes.h"
#include "Prompter.h"

namespace zendral
{
namespace
{

bool Editando(const dbf::Table& t)
{
    return t.CurrentState() == dbf::Table::State::Edit || t.CurrentState() == dbf::Table::State::Insert;
}

} // namespace

bool NivelCurso::Completo() const { return !cp1252::Trim(nivel).empty() && !cp1252::Trim(curso).empty(); }

ControlCursos::ControlCursos(const std::filesystem::path& workDir, bool cursosIncompletos, Prompter& prompter)
    : m_tabla("wwTableCursosT", workDir, "CURSOST")
    , m_prompter(prompter)
    , m_cursosIncompletos(cursosIncompletos)
{
}

ControlCursos::~ControlCursos() = default;

void ControlCursos::FormShow()
{
    m_tabla.Open(false);
    if (m_cursosIncompletos) {
        m_salidaVisible = true;
    }
}

void ControlCursos::Rellenar(const std::vector<NivelCurso>& niveles)
{
    std::size_t i = 0;
    for (m_tabla.First(); !m_tabla.Eof() && i < niveles.size(); m_tabla.Next(), ++i) {
        m_tabla.Edit();
        m_tabla.FieldByName("NIVEL").SetAsString(niveles[i].nivel);
        m_tabla.FieldByName("CURSO").SetAsString(niveles[i].curso);
        m_tabla.Post();
    }
}

void ControlCursos::CursosTDBGridEnter()
{
    if (Editando(m_tabla)) {
        return;
    }
    if (m_tabla.RecordCount() == 0) {
        m_tabla.Append();
    } else {
        m_tabla.Edit();
    }
}

void ControlCursos::CursosTDBGridExit()
{
    if (m_tabla.Active() && Editando(m_tabla)) {
        m_tabla.Post();
    }
}

bool ControlCursos::BitBtn1Click()
{
    // Pressing the button takes the focus from the grid, which saves the row being edited.
    CursosTDBGridExit();
    FaltaDato = false;
    for (m_tabla.First(); !m_tabla.Eof(); m_tabla.Next()) {
        if (!NivelCurso{m_tabla.FieldByName("NIVEL").AsString(), m_tabla.FieldByName("CURSO").AsString()}
                 .Completo()) {
            FaltaDato = true;
            break;
        }
    }
    if (FaltaDato) {
        m_incidenciasVisibles = true;
        m_prompter.Mensaje(msg::kFaltaDato);
        m_salidaVisible = true;
    }
    m_tabla.Close();
    return FaltaDato;
}

void ControlCursos::BitBtn2Click()
{
    CursosTDBGridExit();
    m_tabla.Close();
    FaltaDato = false;
    Salida = msg::kSalida;
}

} // namespace zendral
