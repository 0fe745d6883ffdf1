#include "ScriptedPrompter.h"

namespace zendral::test
{

std::optional<std::filesystem::path> ScriptedPrompter::ElegirArchivo() { return archivo; }

void ScriptedPrompter::Mensaje(const std::string& texto) { mensajes.push_back(texto); }

void ScriptedPrompter::CursorOcupado(bool ocupado)
{
    cursorOcupado = ocupado;
    if (ocupado) {
        ++vecesOcupado;
    }
}

void ScriptedPrompter::MensajeFinal(const std::string& texto, const ListaAvisos& avisos)
{
    detalles.push_back(avisos.empty() ? std::string() : avisos.Detalles());
    Mensaje(texto);
}

void ScriptedPrompter::MostrarControlCursos(ControlCursos& dialogo)
{
    Mostrar paso;
    if (!dialogos.empty()) {
        paso = dialogos.front();
        dialogos.pop_front();
    }
    dialogo.FormShow();
    salidaVisible.push_back(dialogo.SalidaVisible());
    dialogo.Rellenar(paso.niveles);
    switch (paso.fin) {
    case Mostrar::Fin::Aceptar:
        dialogo.BitBtn1Click();
        break;
    case Mostrar::Fin::Forzar:
        dialogo.BitBtn2Click();
        break;
    case Mostrar::Fin::Cerrar:
        break;
    }
}

bool ScriptedPrompter::ConfirmarLineas()
{
    ++preguntasLineas;
    return lineas;
}

} // namespace zendral::test
