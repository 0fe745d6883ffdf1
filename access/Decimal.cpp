#include "Decimal.h"

#include <algorithm>
#include <charconv>
#include <cmath>

namespace zendral::dbf
{
namespace
{

void Normalize(Decimal& d)
{
    d.whole.erase(0, std::min(d.whole.find_first_not_of('0'), d.whole.size()));
    const std::size_t last = d.fraction.find_last_not_of('0');
    d.fraction.resize(last == std::string::npos ? 0 : last + 1);
    if (d.whole.empty() && d.fraction.empty()) {
        d.negative = false;
    }
}

bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

} // namespace

std::optional<Decimal> ParseDecimal(std::string_view s)
{
    constexpr int kMaxExponent = 400;
    Decimal d;
    std::size_t i = 0;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        d.negative = s[i] == '-';
        ++i;
    }
    while (i < s.size() && IsDigit(s[i])) {
        d.whole += s[i++];
    }
    if (i < s.size() && s[i] == '.') {
        ++i;
        while (i < s.size() && IsDigit(s[i])) {
            d.fraction += s[i++];
        }
    }
    if (d.whole.empty() && d.fraction.empty()) {
        return std::nullopt;
    }
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        bool negativeExponent = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
            negativeExponent = s[i] == '-';
            ++i;
        }
        if (i == s.size()) {
            return std::nullopt;
        }
        int exponent = 0;
        for (; i < s.size() && IsDigit(s[i]); ++i) {
            exponent = exponent * 10 + (s[i] - '0');
            if (exponent > kMaxExponent) {
                return std::nullopt;
            }
        }
        // Move the point: digits stay, only the split between whole and fraction changes.
        const std::string digits = d.whole + d.fraction;
        const long point = static_cast<long>(d.whole.size()) + (negativeExponent ? -exponent : exponent);
        if (point <= 0) {
            d.whole.clear();
            d.fraction = std::string(static_cast<std::size_t>(-point), '0') + digits;
        } else if (static_cast<std::size_t>(point) >= digits.size()) {
            d.whole = digits + std::string(static_cast<std::size_t>(point) - digits.size(), '0');
            d.fraction.clear();
        } else {
            d.whole = digits.substr(0, static_cast<std::size_t>(point));
            d.fraction = digits.substr(static_cast<std::size_t>(point));
        }
    }
    if (i != s.size()) {
        return std::nullopt;
    }
    Normalize(d);
    return d;
}

Decimal Round(Decimal d, std::size_t places, bool halfEven)
{
    if (d.fraction.size() <= places) {
        return d;
    }
    const char next = d.fraction[places];
    // The fraction has no trailing zeros, so any digit after `next` makes it more than a half.
    const bool moreThanHalf = d.fraction.size() > places + 1;
    d.fraction.resize(places);
    bool up = next > '5';
    if (next == '5') {
        if (moreThanHalf || !halfEven) {
            up = true;
        } else {
            const std::string& kept = places > 0 ? d.fraction : d.whole;
            up = !kept.empty() && (kept.back() - '0') % 2 == 1;
        }
    }
    if (up) {
        std::string digits = d.whole + d.fraction;
        std::size_t i = digits.size();
        while (i > 0 && digits[i - 1] == '9') {
            digits[--i] = '0';
        }
        if (i == 0) {
            digits.insert(digits.begin(), '1');
        } else {
            ++digits[i - 1];
        }
        d.whole = digits.substr(0, digits.size() - places);
        d.fraction = digits.substr(digits.size() - places);
    }
    Normalize(d);
    return d;
}

std::string ShortestText(const Decimal& d)
{
    std::string s = d.negative ? "-" : "";
    s += d.whole.empty() ? "0" : d.whole;
    if (!d.fraction.empty()) {
        s += '.' + d.fraction;
    }
    return s;
}

std::string FixedText(const Decimal& value, std::size_t decimals)
{
    Decimal d = Round(value, decimals, false);
    std::string s = d.negative ? "-" : "";
    s += d.whole.empty() ? "0" : d.whole;
    if (decimals > 0) {
        d.fraction.resize(decimals, '0');
        s += '.' + d.fraction;
    }
    return s;
}

std::optional<Decimal> FromDouble(double v)
{
    if (!std::isfinite(v)) {
        return std::nullopt;
    }
    // The shortest fixed form that reads back as the same double; 1e308 and 5e-324 both fit.
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, v, std::chars_format::fixed);
    if (result.ec != std::errc()) {
        return std::nullopt;
    }
    return ParseDecimal(std::string_view(buffer, static_cast<std::size_t>(result.ptr - buffer)));
}

std::optional<double> ToDouble(const Decimal& d)
{
    const std::string plain = ShortestText(d);
    double result = 0;
    const auto parsed = std::from_chars(plain.data(), plain.data() + plain.size(), result);
    if (parsed.ec != std::errc()) {
        return std::nullopt;
    }
    return result;
}

Decimal FromInteger(std::int64_t v) { return *ParseDecimal(std::to_string(v)); }

Decimal FromScaled(std::int64_t v, std::size_t scale)
{
    Decimal d;
    d.negative = v < 0;
    const std::uint64_t magnitude =
        d.negative ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    std::string digits = std::to_string(magnitude);
    if (digits.size() <= scale) {
        digits.insert(0, scale + 1 - digits.size(), '0');
    }
    d.whole = digits.substr(0, digits.size() - scale);
    d.fraction = digits.substr(digits.size() - scale);
    Normalize(d);
    return d;
}

} // namespace zendral::dbf
