// Float spelling shared by the YAML emitter, the JSON writer and the upgrade rule.
#pragma once

#include <charconv>
#include <cstddef>
#include <cstring>
#include <string>

namespace quarvel {

// The shortest decimal digits that read back to the same double are split out
// of the scientific spelling: the digits go to a buffer the caller owns, and
// this says how many there are, the power of ten of the first one and the
// sign. 1234.5 is "12345" with exponent 3, 0.00012 is "12" with exponent -4,
// -0.0 is "0" with exponent 0 and the sign.
struct FloatShape {
    std::size_t count = 0;           // 1 to 17
    unsigned magnitude = 0;          // of the exponent
    bool negative_exponent = false;  // kept apart so the writers branch on it directly
    bool negative = false;

    int exponent() const {
        return negative_exponent ? -static_cast<int>(magnitude) : static_cast<int>(magnitude);
    }
};

// Room for the digits of any double.
inline constexpr std::size_t kMaxFloatDigits = 20;

// The longest positional spelling: 309 integer digits and ".0", or "0." with
// 323 zeros and up to 17 digits; with a sign, and rounded up.
inline constexpr std::size_t kMaxPositionalFloat = 352;

// Writes the shortest digits of x (finite) at `digits`, which has room for
// kMaxFloatDigits, and their shape to `shape`. Inline, like write_positional,
// because the JSON writer calls the pair once per float; the shape is filled in
// place rather than returned so that its fields stay apart in registers there.
inline void shortest_digits(double x, char* digits, FloatShape& shape) {
    // Fixed notation in to_chars would print the exact binary value of large
    // numbers; the scientific form gives the shortest digits, "-1.2345e+04".
    char sci[32];
    const char* end = std::to_chars(sci, sci + sizeof sci, x, std::chars_format::scientific).ptr;
    const char* s = sci;
    shape.negative = false;
    if (*s == '-') {
        shape.negative = true;
        ++s;
    }
    std::size_t count = 0;
    for (; *s != 'e'; ++s) {
        if (*s != '.') digits[count++] = *s;
    }
    shape.count = count;
    ++s;  // 'e'; a sign and at least two digits follow
    shape.negative_exponent = *s == '-';
    unsigned magnitude = 0;
    for (++s; s != end; ++s) magnitude = magnitude * 10 + static_cast<unsigned>(*s - '0');
    shape.magnitude = magnitude;
}

// Writes the digits positionally, never with an exponent and always with a
// "." ("-120.0", "0.0012", "1.5"), at p, which has room for
// kMaxPositionalFloat bytes. Returns the end of what it wrote.
inline char* write_positional(const FloatShape& shape, const char* digits, char* p) {
    const std::size_t count = shape.count;
    if (shape.negative) *p++ = '-';
    if (shape.negative_exponent) {
        const std::size_t zeros = shape.magnitude - 1;
        *p++ = '0';
        *p++ = '.';
        std::memset(p, '0', zeros);
        p += zeros;
        std::memcpy(p, digits, count);
        return p + count;
    }
    const std::size_t int_len = std::size_t{shape.magnitude} + 1;
    if (int_len >= count) {
        std::memcpy(p, digits, count);
        std::memset(p + count, '0', int_len - count);
        p += int_len;
        *p++ = '.';
        *p++ = '0';
        return p;
    }
    std::memcpy(p, digits, int_len);
    p += int_len;
    *p++ = '.';
    std::memcpy(p, digits + int_len, count - int_len);
    return p + (count - int_len);
}

// The YAML spelling: the shortest digits, positional for exponents from -4 to
// 15 and with an exponent otherwise ("1.0e+16"), always with a "." (or as
// .nan, .inf, -.inf) so that YAML readers keep the value a float.
void format_float(double x, std::string& out);

// The display form of a float in messages: the shortest digits, with ".0"
// added to integral values, "NaN", "inf" and "-inf".
void append_display_float(std::string& out, double d);

}  // namespace quarvel
