// Float spelling: the shortest digits that read back to the same double, split
// out of the scientific form, then laid out positionally or with an exponent.
#include "support/float_format.hpp"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace quarvel {
namespace {

// "d.ddde+XX": the first digit, the point, the rest (or "0"), and an exponent
// of at least two digits.
char* write_exponential(const FloatShape& shape, const char* digits, char* p) {
    if (shape.negative) *p++ = '-';
    *p++ = digits[0];
    *p++ = '.';
    if (shape.count > 1) {
        std::memcpy(p, digits + 1, shape.count - 1);
        p += shape.count - 1;
    } else {
        *p++ = '0';
    }
    *p++ = 'e';
    *p++ = shape.negative_exponent ? '-' : '+';
    if (shape.magnitude < 10) *p++ = '0';
    return std::to_chars(p, p + 4, shape.magnitude).ptr;
}

}  // namespace

void format_float(double x, std::string& out) {
    if (std::isnan(x)) {
        out += ".nan";
        return;
    }
    if (std::isinf(x)) {
        out += x > 0 ? ".inf" : "-.inf";
        return;
    }
    char digits[kMaxFloatDigits];
    FloatShape shape;
    shortest_digits(x, digits, shape);
    char buf[kMaxPositionalFloat];
    const int exponent = shape.exponent();
    const char* end = exponent >= -4 && exponent <= 15 ? write_positional(shape, digits, buf)
                                                       : write_exponential(shape, digits, buf);
    out.append(buf, static_cast<std::size_t>(end - buf));
}

void append_display_float(std::string& out, double d) {
    if (std::isnan(d)) {
        out += "NaN";
        return;
    }
    if (std::isinf(d)) {
        out += d < 0 ? "-inf" : "inf";
        return;
    }
    char buf[64];
    auto [p, ec] = std::to_chars(buf, buf + sizeof buf, d);
    std::string_view s(buf, static_cast<std::size_t>(p - buf));
    out += s;
    if (s.find_first_of(".eE") == std::string_view::npos && s.find("inf") == std::string_view::npos)
        out += ".0";
}

}  // namespace quarvel
