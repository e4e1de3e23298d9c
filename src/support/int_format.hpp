// Decimal digits of 64-bit integers, eight at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "support/float_format.hpp"
#include "support/shortest_double.hpp"

namespace quarvel {

// The longest text write_decimal writes, with what its last 8-byte store may
// write past it: "-9223372036854775808" is 20 bytes.
inline constexpr std::size_t kMaxDecimalRoom = 24;

namespace int_detail {

// The digits of 0 <= n < 10^8 without leading zeros ("0" for 0) at p, in one
// 8-byte store: the eight digits of n, their leading zeros shifted out.
inline char* up_to_eight_digits(std::uint32_t n, char* p) {
    const std::size_t count = n == 0 ? 1 : decimal_digit_count(n);
    const std::uint64_t digits = eight_digit_values(n) + float_detail::kZeroDigits;
    float_detail::store_word(p, digits >> (8 * (8 - count)));
    return p + count;
}

inline char* eight_digits(std::uint32_t n, char* p) {
    float_detail::store_word(p, eight_digit_values(n) + float_detail::kZeroDigits);
    return p + 8;
}

}  // namespace int_detail

// Writes v in decimal at p, which has room for kMaxDecimalRoom bytes, and
// returns the end of the digits. Without the loop of one or two digits per
// step that std::to_chars runs: most numbers take one store of eight digits.
inline char* write_decimal(std::int64_t v, char* p) {
    using int_detail::eight_digits;
    using int_detail::up_to_eight_digits;
    constexpr std::uint64_t kE8 = 100000000;
    *p = '-';
    p += v < 0 ? 1 : 0;
    const std::uint64_t u =
        v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    if (u < kE8) return up_to_eight_digits(static_cast<std::uint32_t>(u), p);
    if (u < kE8 * kE8) {
        p = up_to_eight_digits(static_cast<std::uint32_t>(u / kE8), p);
        return eight_digits(static_cast<std::uint32_t>(u % kE8), p);
    }
    const std::uint64_t rest = u % (kE8 * kE8);
    p = up_to_eight_digits(static_cast<std::uint32_t>(u / (kE8 * kE8)), p);
    p = eight_digits(static_cast<std::uint32_t>(rest / kE8), p);
    return eight_digits(static_cast<std::uint32_t>(rest % kE8), p);
}

}  // namespace quarvel
