#pragma once

#include "Sistema.h"

// What the two sides of the system layer share; not for the rest of the core.
namespace zendral::sistema
{

// Called by every file-changing call before it acts: 0 to go on, or the errno the call is to
// fail with (see FijarCorte).
int AntesDeCambiar(const char* llamada, const std::filesystem::path& archivo);

} // namespace zendral::sistema
