#pragma once

#include "Avisos.h"

#include <filesystem>
#include <optional>
#include <string>

namespace zendral
{

class ControlCursos;

// Everything a person sees or answers during a run. The desktop program, the command line and
// the tests each pass their own.
class Prompter
{
public:
    virtual ~Prompter() = default;

    // The file dialog: the chosen file, or nothing when the user cancels.
    virtual std::optional<std::filesystem::path> ElegirArchivo() = 0;
    // A modal message with the application title and one "Aceptar" button. UTF-8.
    virtual void Mensaje(const std::string& texto) = 0;
    // The closing message of a run, with the run's warnings as details the user can open. With
    // no warnings it is Mensaje(texto).
    virtual void MensajeFinal(const std::string& texto, const ListaAvisos& /*avisos*/) { Mensaje(texto); }
    // The busy (hour-glass) cursor on or off.
    virtual void CursorOcupado(bool ocupado) = 0;
    // Shows the level/course dialog once, modally. The implementation calls dialogo.FormShow()
    // when it appears, edits CURSOST through dialogo.Tabla(), and ends with
    // dialogo.BitBtn1Click() (OK), dialogo.BitBtn2Click() (forced exit), or neither when the
    // window is simply closed.
    virtual void MostrarControlCursos(ControlCursos& dialogo) = 0;
    // The line-creation question: true for OK, false for Cancel or Escape.
    virtual bool ConfirmarLineas() = 0;
    // The step a run starts now, in words for people ("Profesores (PROFT)"). UTF-8.
    virtual void Etapa(const std::string& /*etapa*/) {}
    // The report the run has just written, which the closing message may offer to open.
    virtual void InformeEscrito(const std::filesystem::path& /*informe*/) {}
};

// Shows the busy cursor while it lives: the normal cursor comes back however the run ends.
class CursorOcupado
{
public:
    explicit CursorOcupado(Prompter& prompter)
        : m_prompter(prompter)
    {
        m_prompter.CursorOcupado(true);
    }
    CursorOcupado(const CursorOcupado&) = delete;
    CursorOcupado& operator=(const CursorOcupado&) = delete;
    ~CursorOcupado() { Restaurar(); }

    void Restaurar()
    {
        if (m_activo) {
            m_activo = false;
            m_prompter.CursorOcupado(false);
        }
    }

private:
    Prompter& m_prompter;
    bool m_activo = true;
};

} // namespace zendral
