// Float spelling shared by the YAML emitter, the JSON writer and the upgrade rule.
#pragma once

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
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

namespace float_detail {

inline constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,
                                          1e7,  1e8,  1e9,  1e10, 1e11, 1e12, 1e13,
                                          1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20};
// The doubles nearest 10^-k: thresholds only, a misjudged boundary is caught.
inline constexpr double kNegativePowersOfTen[] = {1e0, 1e-1, 1e-2, 1e-3, 1e-4, 1e-5};

// The digits of x through the library's shortest scientific spelling,
// "-1.2345e+04".
inline void library_digits(double x, char* digits, FloatShape& shape) {
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

// The shortest digits of a positive x in [1e-5, 1e15) that has at most 15
// significant digits; false for any other x. With e the power of ten of the
// first digit, x * 10^(14-e) lies in [1e14, 1e15): every product there is
// within 0.25 of the exact value, so its nearest integer d is the one
// 15-digit decimal that can read back as x, and the shortest decimal, padded
// with zeros to 15 digits, is that d. Both d and the power of ten are exact
// doubles, so the correctly rounded quotient d / 10^(14-e) is what a reader
// of the decimal gets: when it equals x, d without its trailing zeros is the
// answer.
inline bool short_digits(double x, char* digits, FloatShape& shape) {
    if (!(x >= 1e-5 && x < 1e15)) return false;
    int e = 14;
    if (x >= 1.0) {
        while (x < kPowersOfTen[e]) --e;
    } else {
        e = -1;
        while (e > -5 && x < kNegativePowersOfTen[-e]) --e;
    }
    const int scale = 14 - e;  // 0 to 19
    const double scaled = x * kPowersOfTen[scale];
    auto d = static_cast<std::uint64_t>(scaled + 0.5);
    if (static_cast<double>(d) / kPowersOfTen[scale] != x) return false;
    // Outside [1e14, 1e15) the power of ten was misjudged at a boundary;
    // exactly 1e15 is x rounded up to the next power of ten, one digit.
    if (d == 1000000000000000ULL) {
        d = 100000000000000ULL;
        ++e;
    } else if (d > 1000000000000000ULL || d < 100000000000000ULL) {
        return false;
    }
    char buf[16];
    char* end = std::to_chars(buf, buf + sizeof buf, d).ptr;
    while (end > buf + 1 && end[-1] == '0') --end;
    const auto count = static_cast<std::size_t>(end - buf);
    std::memcpy(digits, buf, count);
    shape.count = count;
    shape.negative_exponent = e < 0;
    shape.magnitude = static_cast<unsigned>(e < 0 ? -e : e);
    return true;
}

}  // namespace float_detail

// Writes the shortest digits of x (finite) at `digits`, which has room for
// kMaxFloatDigits, and their shape to `shape`. Inline, like write_positional,
// because the JSON writer calls the pair once per float; the shape is filled in
// place rather than returned so that its fields stay apart in registers there.
// Numbers with up to 15 significant digits (most numbers people write) take a
// short exact path; the others the library's shortest spelling.
inline void shortest_digits(double x, char* digits, FloatShape& shape) {
    const bool negative = std::signbit(x);
    if (float_detail::short_digits(negative ? -x : x, digits, shape)) {
        shape.negative = negative;
        return;
    }
    float_detail::library_digits(x, digits, shape);
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
