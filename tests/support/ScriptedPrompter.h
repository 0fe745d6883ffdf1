#pragma once

#include "ControlCursos.h"
#include "Prompter.h"

#include <deque>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zendral::test
{

// One showing of the level/course dialog: the values typed per record (by position), then how
// the dialog ends.
struct Mostrar
{
    enum class Fin
    {
        Aceptar,
        Forzar,
        Cerrar,
    };
    std::vector<NivelCurso> niveles;
    Fin fin = Fin::Aceptar;
};

// Canned answers for a run, and a record of what was asked.
class ScriptedPrompter : public Prompter
{
public:
    std::optional<std::filesystem::path> archivo;
    // Showings in order; once used up, each further showing is answered with a plain OK.
    std::deque<Mostrar> dialogos;
    bool lineas = true;

    std::vector<std::string> mensajes;
    // The details of each closing message, as the desktop would list them (empty without warnings).
    std::vector<std::string> detalles;
    int preguntasLineas = 0;
    // Per showing: whether the forced-exit button was visible when it opened.
    std::vector<bool> salidaVisible;
    bool cursorOcupado = false;
    int vecesOcupado = 0;

    std::optional<std::filesystem::path> ElegirArchivo() override;
    void Mensaje(const std::string& texto) override;
    void MensajeFinal(const std::string& texto, const ListaAvisos& avisos) override;
    void CursorOcupado(bool ocupado) override;
    void MostrarControlCursos(ControlCursos& dialogo) override;
    bool ConfirmarLineas() override;
};

} // namespace zendral::test
