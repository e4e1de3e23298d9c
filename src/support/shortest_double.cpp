// The shortest decimal of a double, after Giulietti's Schubfach method.
//
// A positive double is v = c * 2^q (c its integer significand). Every real
// number in its rounding interval R, from halfway down to the double below to
// halfway up to the double above, reads back as v; the ends themselves do when
// c is even (a tie goes to the even significand). So the task is to find the
// decimal in R with the fewest digits, and of those the one nearest v.
//
// Pick k so that a step of 10^k is no wider than R but a step of 10^(k+1) is
// wider: k = floor(log10 2^q), R being 2^q wide. In units of 10^k, R then has
// a width between 1 and 10. So R holds at most one multiple of 10 (of 10^(k+1)
// in real terms), and if it holds one, that is the shortest decimal there is
// (a multiple of 100 would be a multiple of 10 too; its trailing zeros come
// off). If it holds none, the answer is a whole number of 10^k, and one of the
// two around v, s = floor(v / 10^k) or s + 1, lies in R: the nearer to v of
// those that do.
//
// Take 0.3, the double c * 2^-54 with c = 5404319552844595, about
// 0.299999999999999988898. k = floor(-54 log10 2) = -17, and in units of
// 10^-17, v is 29999999999999998.89 and R runs from 29999999999999996.11 to
// 30000000000000001.67: it holds 30000000000000000, which loses its zeros to
// 3 * 10^-1. The next double up, 0.1 + 0.2, is 30000000000000004.44 with R
// from ...01.67 to ...07.22 in those units: no multiple of 10, both
// 30000000000000004 and ...05 in R, and the first is nearer, so the answer
// has seventeen digits, 0.30000000000000004.
//
// All of this needs v, the ends of R, and the multiples compared with them in
// units of 10^k. They are computed as four times those numbers (the ends of R
// are then whole multiples of 2^q: 4c - 2 and 4c + 2, quarter units) times an
// approximation g of 10^-k, and kept rounded to odd: the integer part, with
// its last bit set when a fraction was cut off. Such a number compares with
// every even integer exactly as the true value does, and the candidates in
// these units are all multiples of 4; rounding to odd keeps that true through
// the approximation: tools/gen_pow10_table.py checks, for every exponent, that
// the true products are integers or far enough from them for the error of g
// never to show.
//
// Where c = 2^52 (a power of two, not the smallest normal one) the double
// below is half as far away as the one above, so R reaches down only a quarter
// step: 4c - 1 in quarter units. R is then 3/4 * 2^q wide, and k is taken
// from that width.
//
// Schubfach rather than Dragonbox: both find the digits with 128-bit
// multiplications by a table of powers of ten, and Dragonbox saves two of the
// three multiplications on most inputs, at the price of more separate cases
// (the ends of R, a parity check for ties) and a longer correctness argument.
// Here the three multiplications are a small part of the cost of writing a
// float (the seventeen digits and the text around them cost more), and
// Schubfach's one fact about the table is checked exactly, for every
// exponent, by the script that writes the table.
#include "support/shortest_double.hpp"

#include <bit>
#include <cstdint>

#include "support/pow10_table.hpp"

namespace quarvel {
namespace {

using shortest_detail::kPow10Table;
using shortest_detail::kPow10TableMin;
using shortest_detail::Pow10Entry;

// floor(q log10 2) and floor(q log10 2 + log10 3/4) for the exponents of
// doubles, and floor(e log2 10) for the exponents of the table: fixed-point
// logarithms, each checked for its whole range by tools/gen_pow10_table.py.
int floor_log10_pow2(int q) {
    return (q * 315653) >> 20;
}
int floor_log10_three_quarters_pow2(int q) {
    return (q * 315653 - 131008) >> 20;
}
int floor_log2_pow10(int e) {
    return (e * 1741647) >> 19;
}

// floor(x * g / 2^128) with the last bit set when the product is not a whole
// number: rounded to odd. The product is computed in full (192 bits); its
// fraction, the low 128 bits, counts as zero below 2^-68, the most that the
// error of g can add to a whole number (gen_pow10_table.py checks that no
// product that is not whole comes nearer than that).
std::uint64_t times_pow10_to_odd(std::uint64_t x, Pow10Entry g) {
    using u128 = unsigned __int128;
    const u128 low = static_cast<u128>(x) * g.low;
    const u128 high = static_cast<u128>(x) * g.high;
    // The product's three words: whole, fraction_high, fraction_low.
    const auto carried = static_cast<std::uint64_t>(low >> 64);
    const std::uint64_t fraction_high = carried + static_cast<std::uint64_t>(high);
    const std::uint64_t whole =
        static_cast<std::uint64_t>(high >> 64) + (fraction_high < carried ? 1 : 0);
    const auto fraction_low = static_cast<std::uint64_t>(low);
    const bool cut = (fraction_high | (fraction_low >> 60)) != 0;
    return whole | static_cast<std::uint64_t>(cut);
}

// A double as c * 2^q, and whether the double below it is nearer than the
// one above (c = 2^52 with a smaller normal exponent below).
struct BinaryDouble {
    std::uint64_t c;
    int q;
    bool closer_below;
};

BinaryDouble split(double x) {
    const auto bits = std::bit_cast<std::uint64_t>(x);
    const std::uint64_t fraction = bits & ((std::uint64_t{1} << 52) - 1);
    const auto biased = static_cast<int>(bits >> 52);
    if (biased == 0) return {fraction, -1074, false};
    return {fraction | (std::uint64_t{1} << 52), biased - 1075, fraction == 0 && biased > 1};
}

// R in units of 10^k, times 4, its ends narrowed to what may be taken: a
// candidate m (a whole number of 10^k) is in R when lowest <= 4m <= highest.
// The ends and the middle are rounded to odd, so comparing them with the even
// numbers 4m is exact; an end counts only when c is even (a tie reads back as
// the even significand), else 4m must lie strictly inside, a unit further in.
struct ScaledInterval {
    std::uint64_t lowest;
    std::uint64_t middle;  // 4v, rounded to odd
    std::uint64_t highest;
    int k;
};

ScaledInterval scale(const BinaryDouble& v) {
    const int k = v.closer_below ? floor_log10_three_quarters_pow2(v.q) : floor_log10_pow2(v.q);
    const Pow10Entry g = kPow10Table[-k - kPow10TableMin];
    // g is 10^-k * 2^(127 - floor(log2 10^-k)); shifting the factor left by h
    // puts the units of the product at bit 128.
    const int h = v.q + floor_log2_pow10(-k) + 1;
    const std::uint64_t past_end = v.c & 1;
    const std::uint64_t lower = times_pow10_to_odd((4 * v.c - (v.closer_below ? 1 : 2)) << h, g);
    const std::uint64_t upper = times_pow10_to_odd((4 * v.c + 2) << h, g);
    return {lower + past_end, times_pow10_to_odd((4 * v.c) << h, g), upper - past_end, k};
}

// The shortest decimal in R, as a whole number of 10^k.
std::uint64_t shortest_in(const ScaledInterval& r) {
    // At most one multiple of 10 in R: the one at or below v, or the one above.
    const std::uint64_t s = r.middle >> 2;
    const std::uint64_t tens = s / 10;
    const bool tens_above_in = 40 * tens + 40 <= r.highest;
    const bool tens_in = (r.lowest <= 40 * tens) | tens_above_in;
    // Else s or s + 1, whichever is in R, or the nearer to v when both are;
    // the even one on a tie. middle is 4s + (middle & 3): past the midpoint
    // when that is 3, on it when 2, where s + 1 is taken if s is odd. So s + 1
    // is nearer (or as near and even) when middle & 7, which holds s's last
    // bit above those two, is 3, 6 or 7: the bits set in 0b11001000.
    const bool below_in = r.lowest <= 4 * s;
    const bool above_in = 4 * s + 4 <= r.highest;
    const bool nearer_above = ((0b11001000 >> (r.middle & 7)) & 1) != 0;
    // Both answers are worked out and one picked without a branch (bitwise &
    // and | rather than && and ||, which compile to jumps): which one it is
    // varies from number to number, and mispredicted jumps cost more.
    const std::uint64_t by_tens = 10 * (tens + tens_above_in);
    const std::uint64_t by_units = s + (above_in & (!below_in | nearer_above));
    const std::uint64_t take_tens = 0 - static_cast<std::uint64_t>(tens_in);  // all ones or 0
    return (by_tens & take_tens) | (by_units & ~take_tens);
}

}  // namespace

// Most doubles in configuration and data were written with a few decimals:
// 123.456, 0.25, 8080. Such an x is, read back, m / 10^6 for an integer m,
// and when m < 2^50 that decimal is x's shortest. x's rounding interval is
// then narrower than x * 2^-52, less than a quarter of 10^-6: two decimals
// whose last digits stand at 10^-6 or coarser are too far apart to both lie
// in it, and one with fewer digits whose last digit stands finer would lie
// below the power of ten at or under m / 10^6, no nearer. One multiplication
// proposes m (when x * 10^6 rounds to an integer), and one division, rounded
// correctly, checks that m / 10^6 reads back as x; any other double takes
// the general method, for a few instructions more.
DecimalDouble shortest_decimal(double x) {
    const double scaled = x * 1e6;
    if (scaled < 0x1p50) {
        // Signed, which converts in one instruction; scaled is above 0.
        const auto m = static_cast<std::int64_t>(scaled);
        if (static_cast<double>(m) == scaled && static_cast<double>(m) / 1e6 == x)
            return {static_cast<std::uint64_t>(m), -6};
    }
    const ScaledInterval r = scale(split(x));
    return {shortest_in(r), r.k};
}

}  // namespace quarvel
