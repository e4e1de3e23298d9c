// Pieces shared by the YAML 1.2 and YAML 1.1 resolvers.
#pragma once

#include <cstdint>
#include <limits>
#include <string_view>

#include "resolver/resolver.hpp"

namespace quarvel::resolver_detail {

inline constexpr std::uint64_t kInt64Max =
    static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

inline bool is_digit(char c) { return c >= '0' && c <= '9'; }
inline bool is_sign(char c) { return c == '+' || c == '-'; }

// The name after the core tag prefix or "!!"; empty for any other tag.
std::string_view core_tag_name(std::string_view tag);

// True when the text contains '.', 'e' or 'E' (the gate before any float parse).
bool has_float_mark(std::string_view text);

// Adds the digits of `text` in `base` to `magnitude`, skipping '_' when
// `skip_underscores`; false on a non-digit, on no digits at all, or when the
// magnitude would exceed the signed 64-bit maximum.
bool accumulate_digits(std::string_view text, unsigned base, bool skip_underscores,
                       std::uint64_t& magnitude);

// Applies a sign to a magnitude known to be at most INT64_MAX.
inline std::int64_t apply_sign(std::uint64_t magnitude, bool negative) {
    auto v = static_cast<std::int64_t>(magnitude);
    return negative ? -v : v;
}

// An optional sign, then decimal digits without a leading 0 unless the digits
// are exactly "0"; with `skip_underscores` every '_' is ignored first.
bool is_decimal_integer(std::string_view text, bool skip_underscores);

// The YAML 1.1 float syntax; `require_mark` applies the '.'/'e'/'E' gate that
// untagged scalars need (a scalar tagged as float may be written "5").
bool parse_float_11(std::string_view text, bool require_mark, double& out);

// Parses `text` as a scalar tagged as float in the core schema.
double core_tagged_float(std::string_view text);

Resolved resolve_core(std::string_view text, bool plain, std::string_view tag);
Resolved resolve_11(ResolverMode mode, std::string_view text, bool plain, std::string_view tag);

inline Resolved make_null() { return Resolved{ResolvedKind::Null}; }
inline Resolved make_merge() { return Resolved{ResolvedKind::Merge}; }
inline Resolved make_str() { return Resolved{ResolvedKind::Str}; }
inline Resolved make_big_int() { return Resolved{ResolvedKind::BigInt}; }
inline Resolved make_bool(bool b) {
    Resolved r{ResolvedKind::Bool};
    r.boolean = b;
    return r;
}
inline Resolved make_int(std::int64_t i) {
    Resolved r{ResolvedKind::Int};
    r.integer = i;
    return r;
}
inline Resolved make_float(double d) {
    Resolved r{ResolvedKind::Float};
    r.real = d;
    return r;
}

}  // namespace quarvel::resolver_detail
