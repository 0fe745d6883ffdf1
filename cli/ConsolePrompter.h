#pragma once

#include "CursosCsv.h"
#include "Prompter.h"

#include <filesystem>
#include <string>
#include <vector>

namespace zendral::cli
{

// Answers a run from the command line: the file given as argument, the levels and course
// numbers of the courses file, and a fixed answer to the line-creation question. Messages are
// kept for the caller to print where they belong.
class ConsolePrompter : public Prompter
{
public:
    ConsolePrompter(std::filesystem::path archivo, std::vector<csv::NivelCurso> niveles, bool crearLineas);

    std::optional<std::filesystem::path> ElegirArchivo() override;
    void Mensaje(const std::string& texto) override;
    void CursorOcupado(bool ocupado) override;
    void MostrarControlCursos(ControlCursos& dialogo) override;
    bool ConfirmarLineas() override;

    const std::vector<std::string>& Mensajes() const { return m_mensajes; }

private:
    std::filesystem::path m_archivo;
    std::vector<csv::NivelCurso> m_niveles;
    bool m_crearLineas;
    int m_mostrado = 0;
    std::vector<std::string> m_mensajes;
};

} // namespace zendral::cli
