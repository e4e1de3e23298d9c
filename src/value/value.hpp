// The resolved document model: one YamlValue tree per document.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "support/arena.hpp"
#include "support/warm_memory.hpp"

namespace quarvel {

enum class ValueKind : std::uint8_t {
    Null,
    Bool,
    Int,
    BigInt,
    Float,
    String,
    Sequence,
    Mapping,
    Tagged
};

// Texts are views: into the decoded input, or into an Arena that travels with
// the tree (DecodedStream::arena, or the encoder's arena). A tree never
// outlives the storage its views point into.
struct YamlValue;

// Children live in memory the thread keeps warm between calls.
using ValueList = std::vector<YamlValue, warm::Allocator<YamlValue>>;

struct YamlValue {
    ValueKind kind = ValueKind::Null;
    union {
        bool boolean;
        std::int64_t integer;
        double real;
    };
    std::string_view text;  // BigInt digits, String text, Tagged tag
    // Sequence: the items. Mapping: key, value, key, value, ... in order.
    // Tagged: exactly one element, the inner value.
    ValueList children;

    YamlValue() : integer(0) {}
    // Deep copy, safe for deep trees. When the stack runs out (see
    // support/stack.hpp) the copy stops short and the thread's flag says so.
    YamlValue(const YamlValue& other);
    YamlValue(YamlValue&& other) noexcept = default;
    YamlValue& operator=(const YamlValue& other);
    YamlValue& operator=(YamlValue&& other) noexcept = default;
    ~YamlValue() {
        if (!children.empty()) destroy_children();
    }

    static YamlValue null() { return {}; }
    static YamlValue from_bool(bool b) {
        YamlValue v;
        v.kind = ValueKind::Bool;
        v.boolean = b;
        return v;
    }
    static YamlValue from_int(std::int64_t i) {
        YamlValue v;
        v.kind = ValueKind::Int;
        v.integer = i;
        return v;
    }
    static YamlValue from_float(double d) {
        YamlValue v;
        v.kind = ValueKind::Float;
        v.real = d;
        return v;
    }
    static YamlValue string(std::string_view s) {
        YamlValue v;
        v.kind = ValueKind::String;
        v.text = s;
        return v;
    }
    static YamlValue big_int(std::string_view digits) {
        YamlValue v;
        v.kind = ValueKind::BigInt;
        v.text = digits;
        return v;
    }
    static YamlValue sequence(ValueList items = {}) {
        YamlValue v;
        v.kind = ValueKind::Sequence;
        v.children = std::move(items);
        return v;
    }
    static YamlValue mapping() {
        YamlValue v;
        v.kind = ValueKind::Mapping;
        return v;
    }
    static YamlValue tagged(std::string_view tag, YamlValue inner) {
        YamlValue v;
        v.kind = ValueKind::Tagged;
        v.text = tag;
        v.children.push_back(std::move(inner));
        return v;
    }

    bool is_collection() const { return kind == ValueKind::Sequence || kind == ValueKind::Mapping; }
    std::size_t map_size() const { return children.size() / 2; }
    const YamlValue& key(std::size_t i) const { return children[2 * i]; }
    const YamlValue& value(std::size_t i) const { return children[2 * i + 1]; }
    YamlValue& key(std::size_t i) { return children[2 * i]; }
    YamlValue& value(std::size_t i) { return children[2 * i + 1]; }
    void add_entry(YamlValue k, YamlValue v) {
        children.push_back(std::move(k));
        children.push_back(std::move(v));
    }
    const YamlValue& inner() const { return children.front(); }
    YamlValue& inner() { return children.front(); }

  private:
    void destroy_children() noexcept;  // out of line: deep trees free without deep recursion
};

// The helpers below recurse through ensure_stack (support/stack.hpp). When the
// stack runs out they stop at once and say so by their result; the thread's
// "stack exhausted" flag is set as well.

// 1 per scalar, 1 plus the children for collections and tagged nodes; 0 when
// the stack ran out.
std::uint64_t node_count(const YamlValue& v);

// Appends a serialisation that is equal for two keys exactly when they have
// the same variant and equal content. False (with `out` cut short) when the
// stack ran out.
bool append_canonical_key(const YamlValue& v, std::string& out);

// Int(42), String("a"), Sequence([String("a")]), ...; false (cut short) when
// the stack ran out.
bool append_display_form(const YamlValue& v, std::string& out);

// Two trees with equal canonical key text (false when the stack ran out).
bool values_equal(const YamlValue& a, const YamlValue& b);

}  // namespace quarvel
