// Float spelling shared by the YAML emitter, the JSON writer and the upgrade rule.
#pragma once

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "support/shortest_double.hpp"

namespace quarvel {

// The shortest decimal digits that read back to the same double: the digits
// go to a buffer the caller owns, and this says how many there are, the power
// of ten of the first one and the sign. 1234.5 is "12345" with exponent 3,
// 0.00012 is "12" with exponent -4, -0.0 is "0" with exponent 0 and the sign.
struct FloatShape {
    std::size_t count = 0;           // 1 to 17
    unsigned magnitude = 0;          // of the exponent
    bool negative_exponent = false;  // kept apart so the writers branch on it directly
    bool negative = false;

    int exponent() const {
        return negative_exponent ? -static_cast<int>(magnitude) : static_cast<int>(magnitude);
    }
};

// The size of the digit buffer: the digits of any double, then '0's to the
// end, so that the writers copy fixed lengths, in the 8-byte words the buffer
// was written in, rather than calling memcpy for each number.
inline constexpr std::size_t kMaxFloatDigits = 32;

// The longest positional spelling: 309 integer digits and ".0", or "0." with
// 323 zeros and up to 17 digits; with a sign, and rounded up. (The fixed-length
// copies of write_positional write at most 350 bytes.)
inline constexpr std::size_t kMaxPositionalFloat = 352;

namespace float_detail {

inline constexpr std::uint64_t kZeroDigits = 0x3030303030303030;  // "00000000"

// Stores the eight bytes of w at p, the lowest first: the order of the digit
// words of SeventeenDigits.
inline void store_word(char* p, std::uint64_t w) {
    if constexpr (std::endian::native == std::endian::big) w = std::byteswap(w);
    std::memcpy(p, &w, 8);
}

// Copies `words` 8-byte words. Reading the digit buffer back in the words it
// was stored in lets the processor hand the stored values straight on; a
// wider read across two stores would wait for them to reach the cache.
inline void copy_words(char* to, const char* from, std::size_t words) {
    for (std::size_t i = 0; i < words; ++i) {
        std::uint64_t w;
        std::memcpy(&w, from + 8 * i, 8);
        std::memcpy(to + 8 * i, &w, 8);
    }
}

}  // namespace float_detail

// Writes the shortest digits of x (finite) at `digits`, kMaxFloatDigits
// characters: the digits, then '0's. Their shape goes to `shape`. Inline, like
// write_positional, because the JSON writer calls the pair once per float; the
// shape is filled in place rather than returned so that its fields stay apart
// in registers there.
inline void shortest_digits(double x, char* digits, FloatShape& shape) {
    using float_detail::kZeroDigits;
    using float_detail::store_word;
    shape.negative = std::signbit(x);
    int exponent = 0;
    if (x == 0) {
        store_word(digits, kZeroDigits);
        store_word(digits + 8, kZeroDigits);
        store_word(digits + 16, kZeroDigits);
        shape.count = 1;
    } else {
        const DecimalDouble decimal = shortest_decimal(std::fabs(x));
        const SeventeenDigits d = seventeen_digits(decimal.significand);
        store_word(digits, d.first_eight + kZeroDigits);
        store_word(digits + 8, d.next_eight + kZeroDigits);
        store_word(digits + 16, d.last + kZeroDigits);
        shape.count = d.significant;
        exponent = decimal.exponent + static_cast<int>(d.length) - 1;
    }
    store_word(digits + 24, kZeroDigits);
    shape.negative_exponent = exponent < 0;
    shape.magnitude = static_cast<unsigned>(exponent < 0 ? -exponent : exponent);
}

// Writes the digits positionally, never with an exponent and always with a
// "." ("-120.0", "0.0012", "1.5"), at p, which has room for
// kMaxPositionalFloat bytes. Returns the end of what it wrote. `digits` is
// as shortest_digits leaves it (followed by '0's): most copies are of fixed
// length, and what they write past the end is not counted.
inline char* write_positional(const FloatShape& shape, const char* digits, char* p) {
    using float_detail::copy_words;
    const std::size_t count = shape.count;
    if (shape.negative) *p++ = '-';
    if (shape.negative_exponent) {
        const std::size_t zeros = shape.magnitude - 1;
        if (zeros <= 14) {
            std::memcpy(p, "0.00000000000000", 16);
        } else {
            std::memcpy(p, "0.", 2);
            std::memset(p + 2, '0', zeros);
        }
        p += 2 + zeros;
        copy_words(p, digits, 3);
        return p + count;
    }
    const std::size_t int_len = std::size_t{shape.magnitude} + 1;
    if (int_len >= count) {
        // The digits, then zeros up to the point: from the buffer up to 32.
        if (int_len <= kMaxFloatDigits) {
            copy_words(p, digits, kMaxFloatDigits / 8);
        } else {
            std::memcpy(p, digits, count);
            std::memset(p + count, '0', int_len - count);
        }
        p += int_len;
        std::memcpy(p, ".0", 2);
        return p + 2;
    }
    // 1 <= int_len < count <= 17: at most 16 digits on either side.
    copy_words(p, digits, 2);
    p += int_len;
    *p++ = '.';
    std::memcpy(p, digits + int_len, 16);
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
