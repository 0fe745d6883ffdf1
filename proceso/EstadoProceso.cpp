#include "EstadoProceso.h"

namespace zendral
{

bool CierraVentana(FinRun fin, const EstadoProceso& estado)
{
    return fin == FinRun::SalidaForzada || estado.lanzadoPorHost == 2;
}

} // namespace zendral
