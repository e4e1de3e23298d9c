// Decimal digits of 64-bit integers, eight at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "support/float_format.hpp"
#include "support/shortest_double.hpp"

namespace quarvel {

// The longest text write_decimal writes, with what its last 8-byte store may
// write past it: "-9223372036854775808" is 20 bytes.
inline constexpr std::size_t kMaxDecimalRoom = 24;

namespace int_detail {

// "00" to "99", then one byte more, so that two bytes can be read at any
// place up to the last pair's second digit.
inline constexpr auto kDigitPairs = [] {
    std::array<char, 201> pairs{};
    for (int i = 0; i < 100; ++i) {
        pairs[2 * i] = static_cast<char>('0' + i / 10);
        pairs[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
    return pairs;
}();

// The digits of n < 100 at p in one 2-byte copy: from the pair of n, or, for
// one digit, from the pair's second byte on (the byte after it is not
// counted).
inline char* below_hundred(std::uint32_t n, char* p) {
    const bool one_digit = n < 10;
    std::memcpy(p, &kDigitPairs[2 * n + (one_digit ? 1 : 0)], 2);
    return p + (one_digit ? 1 : 2);
}

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
// step that std::to_chars runs: a number below 100 is one 2-byte copy, and
// one below 10^8 a single store of eight digits.
inline char* write_decimal(std::int64_t v, char* p) {
    using int_detail::below_hundred;
    using int_detail::eight_digits;
    using int_detail::up_to_eight_digits;
    constexpr std::uint64_t kE8 = 100000000;
    *p = '-';
    p += v < 0 ? 1 : 0;
    const std::uint64_t u =
        v < 0 ? 0 - static_cast<std::uint64_t>(v) : static_cast<std::uint64_t>(v);
    // Small numbers (counts, flags, indexes) are common enough for a way of
    // their own, a third of the work of eight digits.
    if (u < 100) return below_hundred(static_cast<std::uint32_t>(u), p);
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
