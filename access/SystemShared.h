#pragma once

#include "System.h"

// What the two sides of the system layer share; not for the rest of the core.
namespace zendral::sys
{

// Called by every file-changing call before it acts: 0 to go on, or the errno the call is to
// fail with (see SetFaultHook).
int BeforeChange(const char* call, const std::filesystem::path& file);

} // namespace zendral::sys
