#include "value/value.hpp"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <new>

#include "support/float_format.hpp"
#include "support/stack.hpp"
#include "support/utf8.hpp"

namespace quarvel {

YamlValue* YamlValue::store_nodes(Arena& arena, const YamlValue* from, std::size_t count) {
    YamlValue* to = arena.allocate_array<YamlValue>(count);
    if (from && count) std::memcpy(static_cast<void*>(to), from, count * sizeof(YamlValue));
    return to;
}

std::uint64_t node_count(const YamlValue& v) {
    std::uint64_t n = 1;
    for (const auto& c : v.children()) {
        if (!c.has_children()) {
            ++n;
            continue;
        }
        std::uint64_t below = ensure_stack([&] { return node_count(c); });
        if (below == 0) return 0;
        n += below;
    }
    return n;
}

namespace {

void append_u64(std::string& out, std::uint64_t n) {
    char buf[24];
    auto [p, ec] = std::to_chars(buf, buf + sizeof buf, n);
    out.append(buf, p);
}

}  // namespace

bool append_canonical_key(const YamlValue& v, std::string& out) {
    // Kind letter, then a length-prefixed payload, so no two different
    // values share a serialisation.
    out.push_back(static_cast<char>('A' + static_cast<int>(v.kind)));
    switch (v.kind) {
        case ValueKind::Null:
            break;
        case ValueKind::Bool:
            out.push_back(v.boolean ? '1' : '0');
            break;
        case ValueKind::Int: {
            char buf[24];
            auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v.integer);
            out.append(buf, p);
            out.push_back(';');
            break;
        }
        case ValueKind::Float: {
            std::uint64_t bits;
            static_assert(sizeof bits == sizeof v.real);
            double d = v.real == 0.0 ? 0.0 : v.real;  // 0.0 and -0.0 are the same key
            std::memcpy(&bits, &d, sizeof bits);
            if (std::isnan(d)) bits = 0x7FF8000000000000ULL;
            append_u64(out, bits);
            out.push_back(';');
            break;
        }
        case ValueKind::BigInt:
        case ValueKind::String:
            append_u64(out, v.text().size());
            out.push_back(':');
            out += v.text();
            break;
        case ValueKind::Tagged:
            append_u64(out, v.text().size());
            out.push_back(':');
            out += v.text();
            return ensure_stack([&] { return append_canonical_key(v.inner(), out); });
        case ValueKind::Sequence:
        case ValueKind::Mapping:
            append_u64(out, v.children().size());
            out.push_back('[');
            for (const auto& c : v.children())
                if (!ensure_stack([&] { return append_canonical_key(c, out); })) return false;
            out.push_back(']');
            break;
    }
    return true;
}

bool append_display_form(const YamlValue& v, std::string& out) {
    switch (v.kind) {
        case ValueKind::Null:
            out += "Null";
            return true;
        case ValueKind::Bool:
            out += v.boolean ? "Bool(true)" : "Bool(false)";
            return true;
        case ValueKind::Int: {
            out += "Int(";
            char buf[24];
            auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v.integer);
            out.append(buf, p);
            out += ")";
            return true;
        }
        case ValueKind::BigInt:
            out += "BigInt(";
            out += utf8::quoted_literal(v.text());
            out += ")";
            return true;
        case ValueKind::Float:
            out += "Float(";
            append_display_float(out, v.real);
            out += ")";
            return true;
        case ValueKind::String:
            out += "String(";
            out += utf8::quoted_literal(v.text());
            out += ")";
            return true;
        case ValueKind::Sequence:
            out += "Sequence([";
            for (std::size_t i = 0; i < v.children().size(); ++i) {
                if (i) out += ", ";
                if (!ensure_stack([&] { return append_display_form(v.children()[i], out); }))
                    return false;
            }
            out += "])";
            return true;
        case ValueKind::Mapping:
            out += "Mapping([";
            for (std::size_t i = 0; i < v.map_size(); ++i) {
                if (i) out += ", ";
                out += "(";
                if (!ensure_stack([&] { return append_display_form(v.key(i), out); })) return false;
                out += ", ";
                if (!ensure_stack([&] { return append_display_form(v.value(i), out); }))
                    return false;
                out += ")";
            }
            out += "])";
            return true;
        case ValueKind::Tagged:
            out += "Tagged(";
            out += utf8::quoted_literal(v.text());
            out += ", ";
            if (!ensure_stack([&] { return append_display_form(v.inner(), out); })) return false;
            out += ")";
            return true;
    }
    return true;
}

bool values_equal(const YamlValue& a, const YamlValue& b) {
    std::string ka, kb;
    return append_canonical_key(a, ka) && append_canonical_key(b, kb) && ka == kb;
}

}  // namespace quarvel
