#include "schema/enum_index.hpp"

#include <functional>
#include <string>
#include <string_view>

#include "support/big_int.hpp"

namespace quarvel {
namespace {

// Values that scalars_equal finds equal hash alike: an Int and a Float by
// the double they compare as, big integers by their decimal digits.
std::uint64_t mix(std::uint64_t kind, std::size_t h) {
    return (kind << 56) ^ h;
}

std::uint64_t number_hash(double d) {
    if (d == 0) d = 0;  // -0.0 equals 0.0
    return mix(1, std::hash<double>{}(d));
}

std::uint64_t text_hash(ValueKind kind, std::string_view text) {
    return mix(static_cast<std::uint64_t>(kind) + 2, std::hash<std::string_view>{}(text));
}

std::uint64_t item_hash(const YamlValue& s) {
    switch (s.kind) {
        case ValueKind::Int:
            return number_hash(static_cast<double>(s.integer));
        case ValueKind::Float:
            return number_hash(s.real);
        case ValueKind::Bool:
            return mix(0, s.boolean ? 2 : 1);
        case ValueKind::Null:
            return mix(0, 0);
        default:
            return text_hash(s.kind, s.text());
    }
}

bool is_scalar(const YamlValue& s) {
    return !s.is_collection() && s.kind != ValueKind::Tagged;
}

}  // namespace

bool scalars_equal(const DataValue& d, const YamlValue& s) {
    if (d.kind == ValueKind::Int && s.kind == ValueKind::Float)
        return static_cast<double>(d.integer) == s.real;
    if (d.kind == ValueKind::Float && s.kind == ValueKind::Int)
        return d.real == static_cast<double>(s.integer);
    if (d.kind != s.kind) return false;
    switch (d.kind) {
        case ValueKind::Null:
            return true;
        case ValueKind::Bool:
            return d.boolean == s.boolean;
        case ValueKind::Int:
            return d.integer == s.integer;
        case ValueKind::Float:
            return d.real == s.real;
        case ValueKind::BigInt:
            return big_int_digits(d.text) == s.text();
        case ValueKind::String:
            return d.text == s.text();
        default:
            return false;
    }
}

EnumIndex::EnumIndex(const YamlValue& values) {
    for (const YamlValue& item : values.children()) {
        if (is_scalar(item)) {
            scalars_.emplace(item_hash(item), &item);
        } else {
            others_.push_back(&item);
        }
    }
}

bool EnumIndex::has_scalar(const DataValue& v) const {
    std::uint64_t h = 0;
    switch (v.kind) {
        case ValueKind::Int:
            h = number_hash(static_cast<double>(v.integer));
            break;
        case ValueKind::Float:
            h = number_hash(v.real);
            break;
        case ValueKind::Bool:
            h = mix(0, v.boolean ? 2 : 1);
            break;
        case ValueKind::Null:
            h = mix(0, 0);
            break;
        case ValueKind::BigInt:
            h = text_hash(v.kind, big_int_digits(v.text));
            break;
        case ValueKind::String:
            h = text_hash(v.kind, v.text);
            break;
        default:
            return false;
    }
    auto [first, last] = scalars_.equal_range(h);
    for (auto it = first; it != last; ++it)
        if (scalars_equal(v, *it->second)) return true;
    return false;
}

}  // namespace quarvel
