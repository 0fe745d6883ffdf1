#include "ConsolePrompter.h"

#include "ControlCursos.h"

#include <utility>

namespace zendral::cli
{

ConsolePrompter::ConsolePrompter(std::filesystem::path archivo, std::vector<csv::NivelCurso> niveles,
                                 bool crearLineas)
    : m_archivo(std::move(archivo))
    , m_niveles(std::move(niveles))
    , m_crearLineas(crearLineas)
{
}

std::optional<std::filesystem::path> ConsolePrompter::ElegirArchivo() { return m_archivo; }

void ConsolePrompter::Mensaje(const std::string& texto) { m_mensajes.push_back(texto); }

void ConsolePrompter::CursorOcupado(bool) {}

void ConsolePrompter::MostrarControlCursos(ControlCursos& dialogo)
{
    dialogo.FormShow();
    // The courses file was checked before the run; should a course still lack data, a second
    // showing cannot do better, so it leaves by the forced exit instead of asking forever.
    if (m_mostrado++ > 0) {
        dialogo.BitBtn2Click();
        return;
    }
    // CURSOST holds one record per course, in document order.
    dialogo.Rellenar(m_niveles);
    dialogo.BitBtn1Click();
}

bool ConsolePrompter::ConfirmarLineas() { return m_crearLineas; }

} // namespace zendral::cli
