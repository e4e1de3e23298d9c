// The short exact path for the shortest digits of a float must agree with the
// library's shortest spelling on every double, whichever path it takes:
// random bit patterns, short decimals, products that pick up a long tail
// (0.1 * 3), powers of ten and their neighbours, and values just below a
// power of ten that round up to it.
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "check.hpp"
#include "support/float_format.hpp"

using namespace quarvel;

namespace {

std::string spelled(const char* digits, const FloatShape& s) {
    return std::string(s.negative ? "-" : "") + std::string(digits, s.count) + "e" +
           std::to_string(s.exponent());
}

void agree(double x) {
    char fast[kMaxFloatDigits], library[kMaxFloatDigits];
    FloatShape a, b;
    shortest_digits(x, fast, a);
    float_detail::library_digits(x, library, b);
    check::Case c(std::to_string(x));
    CHECK_EQ(spelled(fast, a), spelled(library, b));
}

double with_bits(std::uint64_t bits) {
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

}  // namespace

int main() {
    std::mt19937_64 rng(12);
    for (int i = 0; i < 200000; ++i) {
        const double random = with_bits(rng());
        if (std::isfinite(random)) agree(random);
        agree(static_cast<double>(rng() % 100000000) / float_detail::kPowersOfTen[rng() % 13]);
        agree(static_cast<double>(rng() % 100000) * 1.1);
        agree(-std::ldexp(static_cast<double>(rng() >> 11), -static_cast<int>(rng() % 80)));
    }
    for (int k = -7; k <= 17; ++k) {
        const double power = std::pow(10.0, k);
        double above = power, below = power;
        for (int step = 0; step < 50; ++step) {
            agree(above);
            agree(below);
            above = std::nextafter(above, 1e300);
            below = std::nextafter(below, 0.0);
        }
        agree(power * 0.999999999999999);
        agree(power * 0.9999999999999999);
    }
    for (double x :
         {0.0, -0.0, 1e-5, 9.99999999999999e14, 1e15, 0.1 * 3, 5e-324, 1.7976931348623157e308})
        agree(x);
    return check::finish("float_digits_test");
}
