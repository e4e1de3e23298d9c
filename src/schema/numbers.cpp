#include "schema/numbers.hpp"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <optional>

#include "schema/validate.hpp"
#include "support/big_int.hpp"
#include "support/float_format.hpp"

namespace quarvel {
namespace {

// A finite number split into sign and magnitude, with bounds on log2 of
// the magnitude that are cheap to find; the exact magnitude in decimal
// digits is spelled out only when those bounds cannot decide.
struct Magnitude {
    bool negative = false;
    bool zero = false;
    double low = 0, high = 0;  // 2^low <= |n| < 2^high, loosely
    bool fraction = false;     // a double with a fractional part: |n| > floor(|n|)
};

// Slack for the rounding of log2 on doubles.
constexpr double kSlack = 1e-6;

Magnitude magnitude_of(const Number& n) {
    Magnitude m;
    switch (n.kind) {
        case Number::Kind::Int: {
            m.negative = n.integer < 0;
            m.zero = n.integer == 0;
            const double l = std::log2(std::fabs(static_cast<double>(n.integer)));
            m.low = l - 1;
            m.high = l + 1;
            break;
        }
        case Number::Kind::Float: {
            m.negative = std::signbit(n.real) && n.real != 0;
            m.zero = n.real == 0;
            const double l = std::log2(std::fabs(n.real));
            m.low = l - kSlack;
            m.high = l + kSlack;
            m.fraction = std::trunc(n.real) != n.real;
            break;
        }
        case Number::Kind::Big: {
            const BigIntForm form = big_int_form(n.big);
            m.negative = form.negative;
            m.low = big_int_log2(form, false) - kSlack;
            m.high = big_int_log2(form, true) + kSlack;
            m.zero = m.high <= kSlack;
            break;
        }
    }
    return m;
}

// The integer part of |n| in decimal digits without leading zeros.
std::string integer_digits(const Number& n) {
    std::string out;
    switch (n.kind) {
        case Number::Kind::Int: {
            std::uint64_t u = n.integer < 0 ? 0 - static_cast<std::uint64_t>(n.integer)
                                            : static_cast<std::uint64_t>(n.integer);
            out = std::to_string(u);
            break;
        }
        case Number::Kind::Float: {
            // An integral double prints exactly; it has at most 309 digits.
            char buffer[400];
            const int size =
                std::snprintf(buffer, sizeof buffer, "%.0f", std::trunc(std::fabs(n.real)));
            out.assign(buffer, static_cast<std::size_t>(size));
            break;
        }
        case Number::Kind::Big: {
            // Only sizes that the other number matches get here, so the
            // change of base costs no more than that number's size.
            out = big_int_digits(n.big, n.big.size());
            if (!out.empty() && out[0] == '-') out.erase(0, 1);
            break;
        }
    }
    const std::size_t first = out.find_first_not_of('0');
    out.erase(0, first == std::string::npos ? out.size() : first);
    return out;
}

std::strong_ordering compare_digits(const std::string& a, const std::string& b) {
    if (a.size() != b.size()) return a.size() <=> b.size();
    const int c = a.compare(b);
    return c <=> 0;
}

// |a| against |b|, both finite and nonzero.
std::strong_ordering compare_magnitudes(const Number& a, const Magnitude& ma, const Number& b,
                                        const Magnitude& mb) {
    if (ma.high < mb.low) return std::strong_ordering::less;
    if (mb.high < ma.low) return std::strong_ordering::greater;
    const std::strong_ordering whole = compare_digits(integer_digits(a), integer_digits(b));
    if (whole != 0) return whole;
    // Equal integer parts: a fractional part makes the larger magnitude.
    return ma.fraction <=> mb.fraction;
}

}  // namespace

std::optional<Number> number_of(const YamlValue& v) {
    switch (v.kind) {
        case ValueKind::Int:
            return Number::from_int(v.integer);
        case ValueKind::Float:
            return Number::from_float(v.real);
        case ValueKind::BigInt:
            return Number::from_big(v.text());
        default:
            return std::nullopt;
    }
}

bool is_nan(const Number& n) {
    return n.kind == Number::Kind::Float && std::isnan(n.real);
}

bool within_bound(BoundKind kind, const Number& x, const Number& bound) {
    if (is_nan(x)) return true;
    const std::partial_ordering order = compare_numbers(x, bound);
    switch (kind) {
        case BoundKind::Minimum:
            return !(order < 0);
        case BoundKind::Maximum:
            return !(order > 0);
        case BoundKind::ExclusiveMinimum:
            return order > 0;
        case BoundKind::ExclusiveMaximum:
            return order < 0;
    }
    return true;
}

namespace {

// The first key in [low, high] where `holds` is true, for a predicate that
// is false up to some key and true from there on; none when it is false at
// `high`.
template <class Predicate>
std::optional<std::uint64_t> first_key(std::uint64_t low, std::uint64_t high, Predicate holds) {
    if (!holds(high)) return std::nullopt;
    while (low < high) {
        const std::uint64_t middle = low + (high - low) / 2;
        if (holds(middle)) {
            high = middle;
        } else {
            low = middle + 1;
        }
    }
    return low;
}

// Keys that order Int values, and non-NaN doubles, as the numbers order.
constexpr std::uint64_t kSign = std::uint64_t{1} << 63;
std::int64_t int_of_key(std::uint64_t k) {
    return static_cast<std::int64_t>(k ^ kSign);
}
std::uint64_t real_key(double d) {
    const auto bits = std::bit_cast<std::uint64_t>(d);
    return bits & kSign ? ~bits : bits | kSign;
}
double real_of_key(std::uint64_t k) {
    return std::bit_cast<double>(k & kSign ? k & ~kSign : ~k);
}

// Whether every lower (or every upper) bound admits x.
bool within_side(std::span<const Bound> bounds, const Number& x, bool lower) {
    for (const Bound& b : bounds) {
        const bool is_lower = b.kind == BoundKind::Minimum || b.kind == BoundKind::ExclusiveMinimum;
        if (is_lower == lower && !within_bound(b.kind, x, *b.value)) return false;
    }
    return true;
}

// The range of keys in [low, high] that both sides admit, with `number`
// turning a key into the number it stands for: the lower side admits from
// some key on, the upper side up to some key.
template <class ToNumber>
std::optional<std::pair<std::uint64_t, std::uint64_t>> admitted_keys(std::span<const Bound> bounds,
                                                                     std::uint64_t low,
                                                                     std::uint64_t high,
                                                                     ToNumber number) {
    const auto first =
        first_key(low, high, [&](std::uint64_t k) { return within_side(bounds, number(k), true); });
    const auto past = first_key(
        low, high, [&](std::uint64_t k) { return !within_side(bounds, number(k), false); });
    if (!first || past == low) return std::nullopt;
    const std::uint64_t last = past ? *past - 1 : high;
    if (*first > last) return std::nullopt;
    return std::pair{*first, last};
}

}  // namespace

NumberRange range_within(std::span<const Bound> bounds) {
    NumberRange range;
    const auto ints = admitted_keys(bounds, 0, ~std::uint64_t{0}, [](std::uint64_t k) {
        return Number::from_int(int_of_key(k));
    });
    if (ints) {
        range.int_lo = int_of_key(ints->first);
        range.int_hi = int_of_key(ints->second);
    } else {
        range.int_lo = 1;
        range.int_hi = 0;
    }
    constexpr double kInfinity = std::numeric_limits<double>::infinity();
    const auto reals =
        admitted_keys(bounds, real_key(-kInfinity), real_key(kInfinity),
                      [](std::uint64_t k) { return Number::from_float(real_of_key(k)); });
    if (reals) {
        range.real_lo = real_of_key(reals->first);
        range.real_hi = real_of_key(reals->second);
    } else {
        range.real_lo = kInfinity;
        range.real_hi = -kInfinity;
    }
    return range;
}

std::partial_ordering compare_mixed_numbers(const Number& a, const Number& b) {
    using K = Number::Kind;
    // An integer of at most 53 bits is exactly a double (and a NaN compares
    // unordered either way).
    constexpr std::int64_t kExact = std::int64_t{1} << 53;
    const auto exact = [](std::int64_t i) { return i > -kExact && i < kExact; };
    if (a.kind == K::Int && b.kind == K::Float && exact(a.integer))
        return static_cast<double>(a.integer) <=> b.real;
    if (a.kind == K::Float && b.kind == K::Int && exact(b.integer))
        return a.real <=> static_cast<double>(b.integer);
    if (is_nan(a) || is_nan(b)) return std::partial_ordering::unordered;
    // An infinity lies beyond every integer.
    if (a.kind == K::Float && std::isinf(a.real))
        return a.real > 0 ? std::partial_ordering::greater : std::partial_ordering::less;
    if (b.kind == K::Float && std::isinf(b.real))
        return b.real > 0 ? std::partial_ordering::less : std::partial_ordering::greater;
    const Magnitude ma = magnitude_of(a), mb = magnitude_of(b);
    auto sign = [](const Magnitude& m) { return m.zero ? 0 : m.negative ? -1 : 1; };
    if (sign(ma) != sign(mb)) return sign(ma) <=> sign(mb);
    if (ma.zero) return std::partial_ordering::equivalent;
    const std::strong_ordering by_size = compare_magnitudes(a, ma, b, mb);
    return ma.negative ? 0 <=> by_size : by_size;
}

std::string number_message_text(const Number& n) {
    switch (n.kind) {
        case Number::Kind::Int:
            return number_text(static_cast<double>(n.integer));
        case Number::Kind::Float:
            return number_text(n.real);
        case Number::Kind::Big: {
            const BigIntForm form = big_int_form(n.big);
            if (big_int_log2(form, true) < 1023) {
                const std::string digits = big_int_digits(n.big);
                double d = 0;
                const char* end = digits.data() + digits.size();
                auto [ptr, ec] = std::from_chars(digits.data(), end, d);
                if (ec == std::errc() && ptr == end) return number_text(d);
            }
            const std::string digits = big_int_digits(n.big);
            return digits.empty() ? std::string(n.big) : digits;
        }
    }
    return {};
}

}  // namespace quarvel

namespace quarvel {
namespace {

// digits * 10^exponent, digits in decimal without sign or leading zeros
// (empty for zero).
struct Decimal {
    std::string digits;
    long exponent = 0;
};

std::optional<Decimal> decimal_of(const Number& n) {
    Decimal d;
    switch (n.kind) {
        case Number::Kind::Int:
            d.digits = integer_digits(n);
            return d;
        case Number::Kind::Big: {
            // Empty when the text is too long to change base: undecided.
            d.digits = big_int_digits(n.big);
            if (d.digits.empty()) return std::nullopt;
            if (d.digits.front() == '-') d.digits.erase(0, 1);
            d.digits.erase(0, std::min(d.digits.find_first_not_of('0'), d.digits.size()));
            return d;
        }
        case Number::Kind::Float: {
            if (!std::isfinite(n.real)) return std::nullopt;
            if (n.real == 0) return d;
            char digits[kMaxFloatDigits];
            FloatShape shape;
            shortest_digits(n.real, digits, shape);
            d.digits.assign(digits, shape.count);
            d.exponent = shape.exponent() - static_cast<long>(shape.count) + 1;
            return d;
        }
    }
    return std::nullopt;
}

// Whether `divisor` (no leading zeros, not zero) divides the number whose
// decimal digits are `digits` followed by `zeros` zeros.
bool divides(const std::string& divisor, const std::string& digits, long zeros) {
    if (divisor.size() <= 18) {
        const std::uint64_t m = std::stoull(divisor);
        unsigned __int128 rem = 0;
        for (char c : digits) rem = (rem * 10 + static_cast<unsigned>(c - '0')) % m;
        for (long i = 0; i < zeros; ++i) rem = rem * 10 % m;
        return rem == 0;
    }
    // A divisor beyond 64 bits: long division on decimal texts.
    std::string rem;
    auto step = [&](char digit) {
        if (rem.empty() && digit == '0') return;
        rem.push_back(digit);
        while (compare_digits(rem, divisor) >= 0) {
            // rem -= divisor, digit by digit from the right.
            int borrow = 0;
            for (std::size_t i = 0; i < rem.size(); ++i) {
                const std::size_t ri = rem.size() - 1 - i;
                const int sub =
                    (i < divisor.size() ? divisor[divisor.size() - 1 - i] - '0' : 0) + borrow;
                int v = rem[ri] - '0' - sub;
                borrow = v < 0 ? 1 : 0;
                rem[ri] = static_cast<char>('0' + (v < 0 ? v + 10 : v));
            }
            rem.erase(0, std::min(rem.find_first_not_of('0'), rem.size()));
        }
    };
    for (char c : digits) step(c);
    for (long i = 0; i < zeros; ++i) step('0');
    return rem.empty();
}

}  // namespace

bool is_multiple_of(const Number& x, const Number& d) {
    const std::optional<Decimal> a = decimal_of(x), b = decimal_of(d);
    if (!a || !b || b->digits.empty()) return false;
    if (a->digits.empty()) return true;
    const long shift = a->exponent - b->exponent;
    if (shift >= 0) return divides(b->digits, a->digits, shift);
    // b * 10^-shift divides a: a needs that many trailing zeros, then b
    // divides what is left.
    const auto zeros = static_cast<std::size_t>(-shift);
    const std::size_t last = a->digits.find_last_not_of('0');
    if (a->digits.size() - 1 - last < zeros) return false;
    return divides(b->digits, a->digits.substr(0, a->digits.size() - zeros), 0);
}

}  // namespace quarvel
