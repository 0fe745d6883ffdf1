#include "EstadoProceso.h"

#include "Prompter.h"

namespace zendral
{

const std::filesystem::path& ElegirArchivo(EstadoProceso& estado, Prompter& prompter)
{
    if (auto elegido = prompter.ElegirArchivo()) {
        estado.archivoElegido = *elegido;
    } else if (!estado.LanzadoPorHost()) {
        estado.archivoElegido.clear();
    }
    return estado.archivoElegido;
}

bool CierraVentana(FinRun fin, const EstadoProceso& estado)
{
    return fin == FinRun::SalidaForzada || estado.LanzadoPorHost();
}

} // namespace zendral
