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
