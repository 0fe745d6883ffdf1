#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Exact decimal numbers, so that numeric fields are read and written without binary rounding.
namespace zendral::dbf
{

// A decimal number kept as its digits.
struct Decimal
{
    bool negative = false;
    std::string whole;    // digits before the point, without leading zeros
    std::string fraction; // digits after the point, without trailing zeros
};

// Reads "[sign] digits [. digits] [e [sign] digits]" with nothing around it (no blanks, "." as
// the only decimal point); nullopt for anything else. Exponents beyond 400 are refused so that a
// hostile text cannot ask for millions of digits.
std::optional<Decimal> ParseDecimal(std::string_view s);

// Rounds to `places` decimals: halves go away from zero, or to the even neighbour.
Decimal Round(Decimal d, std::size_t places, bool halfEven);

// Shortest form: "3", "1.5", "-2", "0.25".
std::string ShortestText(const Decimal& d);

// As a numeric field stores it: exactly `decimals` digits after the point, halves rounded away
// from zero.
std::string FixedText(const Decimal& value, std::size_t decimals);

// The nearest double; nullopt when the value lies beyond the range of doubles.
std::optional<double> ToDouble(const Decimal& d);

// The shortest decimal that reads back as `v`; nullopt for infinities and NaN.
std::optional<Decimal> FromDouble(double v);

Decimal FromInteger(std::int64_t v);

// An integer counted in units of 10^-scale (FoxPro currency).
Decimal FromScaled(std::int64_t v, std::size_t scale);

} // namespace zendral::dbf
