// shortest_digits must spell every double exactly as the standard library's
// shortest scientific form does (the same digits, count and exponent; the
// library breaks ties between two nearest candidates towards the even one),
// and write_positional must lay those digits out as the plain way does.
// Compared here on random bit patterns, on random doubles of every exponent
// (subnormals included), on every power of two with its neighbours, on the
// doubles around every power of ten and around the thresholds the writers
// use (1e-5, 1e15, 1e16, 1e17), on short decimals and on decimals of 16 and
// 17 digits read from text.
//
// float_digits_test [COUNT [SEED]] compares COUNT random bit patterns
// (default 1,000,000) besides the fixed sets; run it with 100000000 by hand
// after changing the float code.
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <ostream>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "support/float_format.hpp"
#include "support/shortest_double.hpp"

using namespace quarvel;
using quarvel::shortest_detail::kPowersOfTen;

namespace {

// The library's shortest scientific spelling, "-1.2345e+04", as a sign,
// digits and an exponent.
struct Spelling {
    bool negative;
    std::string digits;
    int exponent;

    bool operator==(const Spelling&) const = default;
};

std::ostream& operator<<(std::ostream& o, const Spelling& s) {
    return o << (s.negative ? "-" : "") << s.digits << "e" << s.exponent;
}

Spelling library_spelling(double x) {
    char sci[32];
    const char* end = std::to_chars(sci, sci + sizeof sci, x, std::chars_format::scientific).ptr;
    Spelling out{sci[0] == '-', "", 0};
    const char* s = sci + out.negative;
    for (; *s != 'e'; ++s) {
        if (*s != '.') out.digits += *s;
    }
    out.exponent = std::atoi(std::string(s + 1, end).c_str());
    return out;
}

// The positional form of a spelling, put together the plain way.
std::string positional(const Spelling& s) {
    const std::string sign = s.negative ? "-" : "";
    const auto length = static_cast<int>(s.digits.size());
    if (s.exponent < 0) return sign + "0." + std::string(-s.exponent - 1, '0') + s.digits;
    if (s.exponent + 1 >= length)
        return sign + s.digits + std::string(s.exponent + 1 - length, '0') + ".0";
    return sign + s.digits.substr(0, s.exponent + 1) + "." + s.digits.substr(s.exponent + 1);
}

long compared = 0;

// shortest_digits and write_positional against the library's digits.
void agree(double x) {
    if (!std::isfinite(x)) return;
    ++compared;
    char digits[kMaxFloatDigits];
    FloatShape shape;
    shortest_digits(x, digits, shape);
    const Spelling ours{shape.negative, std::string(digits, shape.count), shape.exponent()};
    const Spelling library = library_spelling(x);
    char text[kMaxPositionalFloat];
    const std::string_view written(text, write_positional(shape, digits, text) - text);
    if (ours == library && written == positional(library)) return;
    char bits[32];
    std::snprintf(bits, sizeof bits, "%a", x);
    check::Case c(bits);
    CHECK_EQ(ours, library);
    CHECK_EQ(written, positional(library));
}

double with_bits(std::uint64_t bits) {
    return std::bit_cast<double>(bits);
}

// A double with the given biased exponent (0 to 2046) and 52 fraction bits.
double from_parts(std::uint64_t biased, std::uint64_t fraction) {
    return with_bits(biased << 52 | (fraction & ((std::uint64_t{1} << 52) - 1)));
}

// x and the `steps` doubles on either side of it.
void around(double x, int steps) {
    double above = x, below = x;
    for (int i = 0; i <= steps; ++i) {
        agree(above);
        agree(-below);
        above = std::nextafter(above, std::numeric_limits<double>::infinity());
        below = std::nextafter(below, 0.0);
    }
}

void random_bit_patterns(long count, std::mt19937_64& rng) {
    for (long i = 0; i < count; ++i) agree(with_bits(rng()));
}

void every_exponent(std::mt19937_64& rng) {
    for (std::uint64_t biased = 0; biased <= 2046; ++biased) {
        for (int i = 0; i < 200; ++i) agree(from_parts(biased, rng()));
        // Significands with few bits set, and all bits set.
        agree(from_parts(biased, 0));
        agree(from_parts(biased, 1));
        agree(from_parts(biased, ~std::uint64_t{0}));
        agree(from_parts(biased, std::uint64_t{1} << (rng() % 52)));
    }
    // Subnormals of every size.
    for (int bits = 1; bits <= 52; ++bits) {
        for (int i = 0; i < 200; ++i) agree(from_parts(0, rng() >> (64 - bits)));
    }
}

void powers_of_two() {
    for (int e = -1074; e <= 1023; ++e) around(std::ldexp(1.0, e), 3);
    around(std::numeric_limits<double>::denorm_min(), 50);
    around(std::numeric_limits<double>::min(), 50);
    around(std::numeric_limits<double>::max(), 50);
}

void powers_of_ten() {
    // Read from text so that each is the double nearest the power.
    for (int e = -323; e <= 308; ++e) {
        const std::string text = "1e" + std::to_string(e);
        around(std::strtod(text.c_str(), nullptr), e >= -5 && e <= 17 ? 300 : 5);
    }
    for (double x :
         {0.0, -0.0, 0.1 * 3, 0.1 + 0.2, 1.7976931348623157e308, 5e-324, 2.2250738585072014e-308})
        agree(x);
}

void decimals(std::mt19937_64& rng) {
    char text[64];
    for (int i = 0; i < 200000; ++i) {
        // Short decimals, as people write them, and their products.
        const double short_decimal =
            static_cast<double>(rng() % 100000000) / static_cast<double>(kPowersOfTen[rng() % 13]);
        agree(short_decimal);
        agree(short_decimal * 1.1);
        agree(static_cast<double>(rng() >> 11) * 0x1p-53);  // Python's random.random()
        // Decimals of 15, 16 and 17 digits at any exponent.
        const int digits = 15 + static_cast<int>(rng() % 3);
        const std::uint64_t significand =
            kPowersOfTen[digits - 1] + rng() % (9 * kPowersOfTen[digits - 1]);
        const int exponent = static_cast<int>(rng() % 640) - 340;
        std::snprintf(text, sizeof text, "%llue%d", static_cast<unsigned long long>(significand),
                      exponent);
        agree(std::strtod(text, nullptr));
    }
    // Where a significand of six decimals meets 2^50, and one decimal more.
    for (int i = 0; i < 20000; ++i) {
        const std::uint64_t m = (std::uint64_t{1} << 48) + (rng() >> 12) % (std::uint64_t{3} << 50);
        around(static_cast<double>(m) / static_cast<double>(kPowersOfTen[rng() % 8]), 2);
    }
}

// The digits of a word of SeventeenDigits, in order.
std::string digit_text(std::uint64_t word) {
    std::string out;
    for (int i = 0; i < 8; ++i) out += static_cast<char>('0' + ((word >> (8 * i)) & 0xFF));
    return out;
}

// The digit counter on both ends of every bit length and around every power
// of ten; the digit splitter on those below 10^17 and on their trailing zeros.
void digit_writer() {
    std::vector<std::uint64_t> numbers;
    for (int bits = 1; bits <= 64; ++bits) {
        const std::uint64_t top = bits == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << bits) - 1;
        numbers.insert(numbers.end(), {top, (top >> 1) + 1});
    }
    for (std::uint64_t p = 1; p <= 1000000000000000000ULL; p *= 10) {
        numbers.insert(numbers.end(), {p, p + 1, 2 * p - 1, 9 * p, 10 * p - 1});
        if (p <= 100000000000000ULL) numbers.push_back(12345 * p);
    }
    for (std::uint64_t n : numbers) {
        const std::string text = std::to_string(n);
        check::Case c(text);
        CHECK_EQ(decimal_digit_count(n), text.size());
        if (n >= 100000000000000000ULL) continue;
        const SeventeenDigits d = seventeen_digits(n);
        const std::string digits =
            digit_text(d.first_eight) + digit_text(d.next_eight) + static_cast<char>('0' + d.last);
        CHECK_EQ(d.length, text.size());
        CHECK_EQ(digits, text + std::string(17 - text.size(), '0'));
        CHECK_EQ(d.significant, text.find_last_not_of('0') + 1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const long count = argc > 1 ? std::atol(argv[1]) : 1000000;
    std::mt19937_64 rng(argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 12);
    digit_writer();
    powers_of_two();
    powers_of_ten();
    every_exponent(rng);
    decimals(rng);
    random_bit_patterns(count, rng);
    std::printf("float_digits_test: %ld doubles compared with the library\n", compared);
    return check::finish("float_digits_test");
}
