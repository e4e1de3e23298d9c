// The shortest decimal that reads back as a given double, as an integer and a
// power of ten, and the writing of that integer's digits.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

namespace quarvel {

// significand * 10^exponent.
struct DecimalDouble {
    std::uint64_t significand;
    int exponent;
};

// For x positive and finite: the decimal with the fewest significant digits
// that a reader rounding to nearest (ties to even) turns back into x; of two
// such decimals the one nearer x, and of two as near the one whose last digit
// is even. Its significand is below 10^17 and may end in zeros, which
// seventeen_digits counts off: 0.3 is {30000000000000000, -17}, 1234.5 is
// {12345000000000000, -13}, 5e-324 is {5, -324}.
DecimalDouble shortest_decimal(double x);

namespace shortest_detail {

// 10^0 to 10^19.
inline constexpr auto kPowersOfTen = [] {
    std::array<std::uint64_t, 20> powers{};
    powers[0] = 1;
    for (std::size_t i = 1; i < powers.size(); ++i) powers[i] = powers[i - 1] * 10;
    return powers;
}();

}  // namespace shortest_detail

// How many decimal digits n > 0 has. An n of b bits has t or t + 1 digits,
// t = floor(b log10 2) (1233 / 4096 is log10 2 rounded down); it has t + 1
// when it reaches 10^t.
inline std::size_t decimal_digit_count(std::uint64_t n) {
    const auto bits = static_cast<unsigned>(std::bit_width(n));
    const unsigned t = (bits * 1233) >> 12;
    return t + (n >= shortest_detail::kPowersOfTen[t] ? 1 : 0);
}

// The eight decimal digits of n < 10^8, leading zeros included, as byte
// values 0 to 9 in one word, the first digit in the lowest byte. Two digits
// at a time, and then one: the word holds [n / 10^4, n % 10^4] in 32-bit
// lanes, each lane is split the same way into 16-bit lanes and those into
// bytes. A quotient is a multiply and a shift, exact over the lane's range
// (x * 5243 >> 19 is x / 100 for x < 10^4, x * 103 >> 10 is x / 10 for
// x < 100), and no lane's product reaches into the next lane.
inline std::uint64_t eight_digit_values(std::uint32_t n) {
    const std::uint64_t fours = (n / 10000) | (std::uint64_t{n % 10000} << 32);
    const std::uint64_t hundreds = ((fours * 5243) >> 19) & 0x0000007F0000007F;
    const std::uint64_t pairs = hundreds | ((fours - 100 * hundreds) << 16);
    const std::uint64_t tens = ((pairs * 103) >> 10) & 0x000F000F000F000F;
    return tens | ((pairs - 10 * tens) << 8);
}

// The digits of a significand 0 < n < 10^17 in one fixed layout, worked out
// without loops, and without branches that go one way or the other from one
// number to the next (mispredicted ones would cost more than the arithmetic):
// n scaled up to exactly 17 digits, as two words of eight digit values (see
// eight_digit_values) and the last digit.
struct SeventeenDigits {
    std::uint64_t first_eight;
    std::uint64_t next_eight;
    unsigned last;
    std::size_t length;       // the digits of n
    std::size_t significant;  // the digits of n without its trailing zeros
};

inline SeventeenDigits seventeen_digits(std::uint64_t n) {
    SeventeenDigits d;
    d.length = decimal_digit_count(n);
    const std::uint64_t scaled = n * shortest_detail::kPowersOfTen[17 - d.length];
    const auto rest = static_cast<std::uint32_t>(scaled % 1000000000);
    d.first_eight = eight_digit_values(static_cast<std::uint32_t>(scaled / 1000000000));
    d.next_eight = eight_digit_values(rest / 10);
    d.last = rest % 10;
    // Zero digits are zero bytes. The last eight digits, and the eight before
    // them, in words with the last digit in the highest byte, so that their
    // leading zero bits count trailing zero digits (the first digit is not
    // zero). Whether eight of them are zero holds for most numbers of a set
    // alike; whether the last digit alone is zero does not, and is no branch.
    const std::uint64_t last_eight = (d.next_eight >> 8) | (std::uint64_t{d.last} << 56);
    const std::uint64_t eight_before = (d.first_eight >> 8) | (d.next_eight << 56);
    const auto zero_bytes = [](std::uint64_t w) {
        return static_cast<unsigned>(std::countl_zero(w)) / 8;
    };
    const unsigned trailing =
        last_eight != 0 ? zero_bytes(last_eight) : 8 + zero_bytes(eight_before);
    d.significant = 17 - trailing;
    return d;
}

}  // namespace quarvel
