// Readings of a big integer's text (a number too large for 64 bits, in any
// of the forms the resolvers accept): its parts, its decimal digits, and
// bounds on its size.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace quarvel {

// The decimal digits of a text that a resolver read as a big integer, in
// whichever form it was written (decimal, 0x, 0b, leading-0 octal, base 60):
// a '-' when negative, no '+' and no '_'.
// Changing the base costs time quadratic in the length, so a number written
// in another base than 10 is converted only up to `max_converted` characters
// (empty beyond).
inline constexpr std::size_t kMaxConvertedText = 4096;
std::string big_int_digits(std::string_view text, std::size_t max_converted = kMaxConvertedText);

// A big integer's text taken apart: the resolvers write one in base 10, 16
// (0x), 2 (0b), 8 (a leading 0) or 60 (decimal parts joined by ':').
struct BigIntForm {
    bool negative = false;
    unsigned base = 10;
    std::string_view body;  // after the sign and the 0x or 0b prefix
};
BigIntForm big_int_form(std::string_view text);

// The body's digits without underscores and leading zeros (bases 2 to 16).
std::string significant_digits(const BigIntForm& form);

// A bound on log2 of the magnitude, read from the number of digits alone:
// the magnitude is at least 2^big_int_log2(form, false) and below
// 2^big_int_log2(form, true). Zero gives -1 and 0.
double big_int_log2(const BigIntForm& form, bool upper);

}  // namespace quarvel
