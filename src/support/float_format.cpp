// Float spelling: the shortest digits that read back to the same double,
// written positionally for moderate exponents and with an exponent otherwise,
// always with a "." so that YAML readers keep the value a float.
#include <charconv>
#include <cmath>
#include <cstdlib>

#include "support/float_format.hpp"

namespace quarvel {
namespace {

struct Digits {
    bool negative = false;
    const char* digits = nullptr;  // significant digits without the point
    char buf[32];
    std::size_t count = 0;
    int exponent = 0;  // decimal exponent in scientific notation
};

// Splits the shortest scientific spelling ("-1.2345e+04") into digits and exponent.
void shortest_digits(double x, Digits& d) {
    char sci[40];
    auto res = std::to_chars(sci, sci + sizeof sci, x, std::chars_format::scientific);
    const char* p = sci;
    const char* end = res.ptr;
    if (*p == '-') {
        d.negative = true;
        ++p;
    }
    for (; p < end && *p != 'e'; ++p)
        if (*p != '.') d.buf[d.count++] = *p;
    d.digits = d.buf;
    // p points at 'e'; the exponent text is a sign and at least two digits.
    std::from_chars(p + (p[1] == '+' ? 2 : 1), end, d.exponent);
}

void append_zeros(std::string& out, std::size_t n) { out.append(n, '0'); }

void append_positional(const Digits& d, std::string& out) {
    const std::string_view digits(d.digits, d.count);
    if (d.exponent < 0) {
        out += "0.";
        append_zeros(out, static_cast<std::size_t>(-d.exponent - 1));
        out += digits;
        return;
    }
    const std::size_t int_len = static_cast<std::size_t>(d.exponent) + 1;
    if (digits.size() <= int_len) {
        out += digits;
        append_zeros(out, int_len - digits.size());
        out += ".0";
        return;
    }
    out += digits.substr(0, int_len);
    out += '.';
    out += digits.substr(int_len);
}

void append_exponential(const Digits& d, std::string& out) {
    out += d.digits[0];
    out += '.';
    if (d.count > 1)
        out.append(d.digits + 1, d.count - 1);
    else
        out += '0';
    out += 'e';
    out += d.exponent < 0 ? '-' : '+';
    const int mag = std::abs(d.exponent);
    if (mag < 10) out += '0';
    char buf[8];
    auto res = std::to_chars(buf, buf + sizeof buf, mag);
    out.append(buf, res.ptr);
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
    Digits d;
    shortest_digits(x, d);
    if (d.negative) out += '-';
    if (d.exponent >= -4 && d.exponent <= 15)
        append_positional(d, out);
    else
        append_exponential(d, out);
}

}  // namespace quarvel
