// The equality of the values the checks compare, one rule for enum, const
// and uniqueItems: an Int equals a Float of the same value, big integers
// compare by their decimal digits, texts byte by byte; with a hash that
// agrees with it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "schema/data_views.hpp"
#include "support/big_int.hpp"

namespace quarvel {

// A scalar of the schema as the checks compare it; a collection or a tagged
// value keeps its kind, which no value of a document has.
inline DataValue data_of(const YamlValue& s) {
    DataValue d;
    d.kind = s.kind;
    switch (s.kind) {
        case ValueKind::Bool:
            d.boolean = s.boolean;
            break;
        case ValueKind::Int:
            d.integer = s.integer;
            break;
        case ValueKind::Float:
            d.real = s.real;
            break;
        case ValueKind::BigInt:
        case ValueKind::String:
            d.text = s.text();
            break;
        default:
            break;
    }
    return d;
}

inline bool data_equal(const DataValue& a, const DataValue& b) {
    if (a.kind == ValueKind::Int && b.kind == ValueKind::Float)
        return static_cast<double>(a.integer) == b.real;
    if (a.kind == ValueKind::Float && b.kind == ValueKind::Int)
        return a.real == static_cast<double>(b.integer);
    if (a.kind != b.kind) return false;
    switch (a.kind) {
        case ValueKind::Bool:
            return a.boolean == b.boolean;
        case ValueKind::Int:
            return a.integer == b.integer;
        case ValueKind::Float:
            return a.real == b.real;
        case ValueKind::BigInt:
            return big_int_digits(a.text) == big_int_digits(b.text);
        case ValueKind::String:
            return a.text == b.text;
        default:
            return true;  // Null, and the empty stand-ins of collections
    }
}

inline std::uint64_t data_hash(const DataValue& v) {
    const auto mix = [](std::uint64_t kind, std::size_t h) { return (kind << 56) ^ h; };
    switch (v.kind) {
        case ValueKind::Int:
            return mix(1, std::hash<double>{}(static_cast<double>(v.integer)));
        case ValueKind::Float:
            return mix(1, std::hash<double>{}(v.real == 0 ? 0.0 : v.real));
        case ValueKind::Bool:
            return mix(2, v.boolean ? 1 : 0);
        case ValueKind::BigInt:
            return mix(3, std::hash<std::string>{}(big_int_digits(v.text)));
        case ValueKind::String:
            return mix(4, std::hash<std::string_view>{}(v.text));
        default:
            return mix(5 + static_cast<std::uint64_t>(v.kind), 0);
    }
}

}  // namespace quarvel
