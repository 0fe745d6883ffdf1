#pragma once

#include <stdexcept>
#include <string>

namespace zendral
{

// Every failure the user may see. what() is the Spanish text shown as it is.
class Error : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

} // namespace zendral

namespace zendral
{

// A Spanish description of an operating-system error number, for messages such as
// "No se puede abrir la tabla PROFT: permiso denegado".
std::string SystemReason(int err);

} // namespace zendral
