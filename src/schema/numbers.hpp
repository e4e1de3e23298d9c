// Numbers as the numeric keywords compare them: exactly, whatever their size
// and base, so that an integer too large for a double is still ordered
// against every bound.
#pragma once

#include <cmath>
#include <compare>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "value/value.hpp"

namespace quarvel {

struct Number {
    enum class Kind : std::uint8_t { Int, Float, Big };
    Kind kind = Kind::Int;
    std::int64_t integer = 0;
    double real = 0.0;
    std::string_view big;  // a big integer's text as written, in any base

    static Number from_int(std::int64_t i) { return {Kind::Int, i, 0.0, {}}; }
    static Number from_float(double d) { return {Kind::Float, 0, d, {}}; }
    static Number from_big(std::string_view text) { return {Kind::Big, 0, 0.0, text}; }
};

// An Int, Float or BigInt value as a number; none for other values.
std::optional<Number> number_of(const YamlValue& v);

// The exact order of two numbers; unordered when either is a NaN. Two
// integers or two doubles compare here, inline; the mixed cases out of line.
std::partial_ordering compare_mixed_numbers(const Number& a, const Number& b);
inline std::partial_ordering compare_numbers(const Number& a, const Number& b) {
    if (a.kind == Number::Kind::Int && b.kind == Number::Kind::Int) return a.integer <=> b.integer;
    if (a.kind == Number::Kind::Float && b.kind == Number::Kind::Float) return a.real <=> b.real;
    return compare_mixed_numbers(a, b);
}

bool is_nan(const Number& n);

// The four numeric bounds, and whether a number lies on the side a bound
// allows. A NaN lies within every bound, being neither above nor below one;
// a NaN bound is met by every number as a minimum or maximum and by none as
// an exclusive bound.
enum class BoundKind : std::uint8_t { Minimum, Maximum, ExclusiveMinimum, ExclusiveMaximum };
bool within_bound(BoundKind kind, const Number& x, const Number& bound);

struct Bound {
    BoundKind kind;
    const Number* value;
};

// The Int values and the Float values that a rule's bounds admit, as two
// closed ranges found once from the bounds (with within_bound, so exactly
// the numbers it admits), so that checking an Int or a Float against all
// of them is two comparisons.
struct NumberRange {
    std::int64_t int_lo = std::numeric_limits<std::int64_t>::min();  // int_lo > int_hi: none
    std::int64_t int_hi = std::numeric_limits<std::int64_t>::max();
    double real_lo = -std::numeric_limits<double>::infinity();  // real_lo > real_hi: none
    double real_hi = std::numeric_limits<double>::infinity();

    bool admits(std::int64_t i) const { return int_lo <= i && i <= int_hi; }
    bool admits(double d) const { return std::isnan(d) || (real_lo <= d && d <= real_hi); }
};
NumberRange range_within(std::span<const Bound> bounds);

// Whether x is an integer multiple of d (d above zero), decided exactly on
// decimals: a double counts as the shortest decimal that reads back to it,
// so 0.3 is a multiple of 0.1 and 0.0075 one of 0.0001. An infinity or a NaN
// is a multiple of nothing.
bool is_multiple_of(const Number& x, const Number& d);

// A number as messages write it: a double's shortest decimal form (see
// number_text), or for an integer beyond a double's range its decimal digits
// (the text as written when it is too long to change base).
std::string number_message_text(const Number& n);

}  // namespace quarvel
