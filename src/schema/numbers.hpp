// Numbers as the numeric keywords compare them: exactly, whatever their size
// and base, so that an integer too large for a double is still ordered
// against every bound.
#pragma once

#include <compare>
#include <cstdint>
#include <optional>
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
