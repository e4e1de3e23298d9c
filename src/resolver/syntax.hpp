// Pieces shared by the YAML 1.2 and YAML 1.1 resolvers.
#pragma once

#include <cstdint>
#include <limits>
#include <string_view>

#include "resolver/resolver.hpp"

namespace quarvel::resolver_detail {

inline constexpr std::uint64_t kInt64Max =
    static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

inline bool is_digit(char c) {
    return c >= '0' && c <= '9';
}
inline bool is_sign(char c) {
    return c == '+' || c == '-';
}

// The value of a hexadecimal digit, or 99 for any other character.
inline unsigned digit_value(char c) {
    if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
    if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F') return static_cast<unsigned>(c - 'A' + 10);
    return 99;
}

// The three spellings of a fixed word ("true", "True", "TRUE").
inline bool is_one_of(std::string_view text, std::string_view a, std::string_view b,
                      std::string_view c) {
    return text == a || text == b || text == c;
}

// The name after the core tag prefix or "!!"; empty for any other tag.
std::string_view core_tag_name(std::string_view tag);

// Applies a sign to a magnitude known to be at most INT64_MAX.
inline std::int64_t apply_sign(std::uint64_t magnitude, bool negative) {
    auto v = static_cast<std::int64_t>(magnitude);
    return negative ? -v : v;
}

// Reads `text` as a scalar tagged as float in the core schema (Invalid when it is none).
Resolved core_tagged_float(std::string_view text);

Resolved resolve_core(std::string_view text, bool plain, std::string_view tag);
Resolved resolve_11(ResolverMode mode, std::string_view text, bool plain, std::string_view tag);

inline Resolved make_null() {
    return Resolved{ResolvedKind::Null};
}
inline Resolved make_merge() {
    return Resolved{ResolvedKind::Merge};
}
inline Resolved make_str() {
    return Resolved{ResolvedKind::Str};
}
inline Resolved make_big_int() {
    return Resolved{ResolvedKind::BigInt};
}
inline Resolved make_invalid() {
    return Resolved{ResolvedKind::Invalid};
}
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
