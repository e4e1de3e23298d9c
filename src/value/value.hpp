// The resolved document model: one YamlValue tree per document.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
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

struct YamlValue;

// The children of a node, where they lie in an Arena.
class ValueSpan {
  public:
    ValueSpan() = default;
    ValueSpan(YamlValue* data, std::size_t size) : data_(data), size_(size) {}
    YamlValue* begin() const { return data_; }
    inline YamlValue* end() const;
    YamlValue* data() const { return data_; }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    inline YamlValue& operator[](std::size_t i) const;
    inline YamlValue& front() const;
    inline YamlValue& back() const;

  private:
    YamlValue* data_ = nullptr;
    std::size_t size_ = 0;
};

// Nodes being gathered before they are stored; the memory stays warm.
using ValueList = std::vector<YamlValue, warm::Allocator<YamlValue>>;

// A node in 16 bytes: a payload word, then the text length or child count
// packed with the kind. Nodes own nothing: texts are views (into the input,
// or into an Arena), and the children of collections and tagged nodes are
// arrays in an Arena that travels with the tree (DecodedStream::arena, or the
// encoder's arena). Copying a node copies the reference to its children, so
// a tree never outlives the arena its children were stored in, and trees are
// freed all at once with it, however deep they are.
struct YamlValue {
    union {
        bool boolean;
        std::int64_t integer;
        double real;
        const char* chars;  // String, BigInt
        YamlValue* items;   // Sequence, Mapping; Tagged: {String(tag), inner}
    };
    std::uint64_t size : 56 = 0;  // text bytes, or children
    ValueKind kind : 8 = ValueKind::Null;

    YamlValue() : integer(0) {}

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
    static YamlValue string(std::string_view s) { return with_text(ValueKind::String, s); }
    static YamlValue big_int(std::string_view digits) {
        return with_text(ValueKind::BigInt, digits);
    }
    // A collection over `count` nodes stored at `items` (see store_nodes).
    static YamlValue collection(ValueKind kind, YamlValue* items, std::size_t count) {
        YamlValue v;
        v.kind = kind;
        v.items = items;
        v.size = count;
        return v;
    }
    static YamlValue sequence(Arena& arena, const ValueList& items) {
        return collection(ValueKind::Sequence, store_nodes(arena, items.data(), items.size()),
                          items.size());
    }
    // Keys and values alternate in `entries`.
    static YamlValue mapping(Arena& arena, const ValueList& entries) {
        return collection(ValueKind::Mapping, store_nodes(arena, entries.data(), entries.size()),
                          entries.size());
    }
    static YamlValue empty_mapping() { return collection(ValueKind::Mapping, nullptr, 0); }
    static YamlValue empty_sequence() { return collection(ValueKind::Sequence, nullptr, 0); }
    static YamlValue tagged(Arena& arena, std::string_view tag, const YamlValue& inner) {
        const YamlValue pair[2] = {string(tag), inner};
        YamlValue v;
        v.kind = ValueKind::Tagged;
        v.items = store_nodes(arena, pair, 2);
        v.size = 1;
        return v;
    }
    // Room for `count` nodes in the arena, copied from `from` when given.
    static YamlValue* store_nodes(Arena& arena, const YamlValue* from, std::size_t count);

    // String, BigInt: the text. Tagged: the tag. Otherwise empty.
    std::string_view text() const {
        if (kind == ValueKind::String || kind == ValueKind::BigInt) return {chars, size};
        if (kind == ValueKind::Tagged) return items[0].text();
        return {};
    }
    // Sequence: the items. Mapping: key, value, key, value, ... in order.
    // Tagged: exactly one element, the inner value. Otherwise empty.
    ValueSpan children() const {
        if (kind == ValueKind::Sequence || kind == ValueKind::Mapping) return {items, size};
        if (kind == ValueKind::Tagged) return {items + 1, 1};
        return {};
    }

    bool is_collection() const { return kind == ValueKind::Sequence || kind == ValueKind::Mapping; }
    bool has_children() const {
        return (is_collection() && size != 0) || kind == ValueKind::Tagged;
    }
    std::size_t map_size() const { return size / 2; }
    const YamlValue& key(std::size_t i) const { return items[2 * i]; }
    const YamlValue& value(std::size_t i) const { return items[2 * i + 1]; }
    YamlValue& key(std::size_t i) { return items[2 * i]; }
    YamlValue& value(std::size_t i) { return items[2 * i + 1]; }
    const YamlValue& inner() const { return items[1]; }
    YamlValue& inner() { return items[1]; }

  private:
    static YamlValue with_text(ValueKind kind, std::string_view s) {
        YamlValue v;
        v.kind = kind;
        v.chars = s.data();
        v.size = s.size();
        return v;
    }
};

inline YamlValue* ValueSpan::end() const {
    return data_ + size_;
}
inline YamlValue& ValueSpan::operator[](std::size_t i) const {
    return data_[i];
}
inline YamlValue& ValueSpan::front() const {
    return data_[0];
}
inline YamlValue& ValueSpan::back() const {
    return data_[size_ - 1];
}

static_assert(sizeof(YamlValue) == 16);
static_assert(std::is_trivially_copyable_v<YamlValue> &&
              std::is_trivially_destructible_v<YamlValue>);

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
