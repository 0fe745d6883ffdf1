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

// The Spanish text for an exception that is not an Error: a system error says its Spanish
// reason (and the files it names), lack of memory says so, anything else follows
// "Error inesperado: ".
std::string ExceptionMessage(const std::exception& e);

} // namespace zendral
