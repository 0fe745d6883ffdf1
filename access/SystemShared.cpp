#include "SystemShared.h"

namespace zendral::sys
{
namespace
{

FaultHook g_hook = nullptr;

} // namespace

void SetFaultHook(FaultHook hook) { g_hook = hook; }

int BeforeChange(const char* call, const std::filesystem::path& file)
{
    return g_hook != nullptr ? g_hook(call, file) : 0;
}

} // namespace zendral::sys
