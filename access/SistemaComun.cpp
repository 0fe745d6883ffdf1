#include "SistemaComun.h"

namespace zendral::sistema
{
namespace
{

Corte g_corte = nullptr;

} // namespace

void FijarCorte(Corte corte) { g_corte = corte; }

int AntesDeCambiar(const char* llamada, const std::filesystem::path& archivo)
{
    return g_corte != nullptr ? g_corte(llamada, archivo) : 0;
}

} // namespace zendral::sistema
