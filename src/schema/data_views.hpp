// The two views validation reads a document through: the copy of its syntax
// tree (positions, key texts as written) and its value tree (a quick verdict
// without composing the syntax tree). Both give each node a kind, children
// and the value the checks compare.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <string_view>

#include "resolver/resolver.hpp"
#include "schema/data_copy.hpp"
#include "value/value.hpp"

namespace quarvel {

// What the value checks compare: a scalar as the resolver reads it; a
// collection as an empty one of its kind.
struct DataValue {
    ValueKind kind = ValueKind::Null;
    bool boolean = false;
    std::int64_t integer = 0;
    double real = 0.0;
    std::string_view text;  // String text; BigInt text as written
};

class SyntaxView {
  public:
    using Node = std::uint32_t;  // index into the copy

    SyntaxView(const DataCopy& copy, ResolverMode mode) : nodes_(copy.nodes), mode_(mode) {}

    Node root() const { return 0; }
    NodeKind kind(Node n) const { return nodes_[n].kind; }
    std::uint32_t count(Node n) const { return nodes_[n].count; }  // children
    Node child(Node n, std::uint32_t i) const { return nodes_[n].first + i; }
    std::uint32_t line(Node n) const { return nodes_[n].line; }
    std::uint32_t column(Node n) const { return nodes_[n].column; }
    // Keys that can name a property are scalars; their text as written.
    bool is_key(Node n) const { return nodes_[n].kind == NodeKind::Scalar; }
    std::string_view key_text(Node n) const { return nodes_[n].source->text; }
    bool unreadable() const { return false; }

    ValueKind value_kind(Node at) const { return value_of(at).kind; }
    DataValue value_of(Node at) const {
        const DataNode& n = nodes_[at];
        DataValue v;
        if (n.kind == NodeKind::Sequence) {
            v.kind = ValueKind::Sequence;
        } else if (n.kind == NodeKind::Mapping) {
            v.kind = ValueKind::Mapping;
        } else if (n.kind == NodeKind::Scalar) {
            read_scalar(v, n.source->text, n.source->scalar_style == ScalarStyle::Plain,
                        n.source->effective_tag());
        } else if (n.source && !n.source->effective_tag().empty()) {
            // An empty node under a tag reads as an empty scalar under it,
            // as loading reads it ("!!str" alone is the empty string).
            read_scalar(v, {}, true, n.source->effective_tag());
        }
        return v;
    }

  private:
    void read_scalar(DataValue& v, std::string_view text, bool plain, std::string_view tag) const;

    const std::vector<DataNode>& nodes_;
    ResolverMode mode_;
};

// A value tree stands in for the syntax tree only where both read alike: a
// node under a custom tag (a string in the syntax tree, its own value in the
// value tree) or a key that is not a string (its text as written is gone)
// makes the view unreadable, and the verdict is left to the syntax tree.
class ValueView {
  public:
    using Node = const YamlValue*;

    explicit ValueView(const YamlValue& root) : root_(&root) {}

    Node root() const { return root_; }
    NodeKind kind(Node n) const {
        if (n->kind == ValueKind::Tagged) [[unlikely]] {
            unreadable_ = true;
            return NodeKind::Null;
        }
        return node_kind(n->kind);
    }
    ValueKind value_kind(Node n) const {
        if (n->kind == ValueKind::Tagged) [[unlikely]]
            unreadable_ = true;
        return n->kind;
    }
    std::uint32_t count(Node n) const { return static_cast<std::uint32_t>(n->children().size()); }
    // Only collections are asked for children (a Tagged node reads as no
    // collection).
    Node child(Node n, std::uint32_t i) const { return n->items + i; }
    std::uint32_t line(Node) const { return 0; }
    std::uint32_t column(Node) const { return 0; }
    bool is_key(Node n) const {
        if (n->kind != ValueKind::String) unreadable_ = true;
        return !unreadable_;
    }
    std::string_view key_text(Node n) const { return {n->chars, n->size}; }  // after is_key
    bool unreadable() const { return unreadable_; }

    // The kind changes from node to node, so a switch on it would be an
    // indirect jump mispredicted at about every other scalar. Instead the
    // node's word is read every way a kind may mean it; the checks read only
    // the field of the value's kind.
    [[gnu::always_inline]] DataValue value_of(Node n) const {
        DataValue v;
        v.kind = n->kind;
        if (v.kind == ValueKind::Tagged) [[unlikely]] {
            unreadable_ = true;
            v.text = n->text();
            return v;
        }
        std::uint64_t word = 0;
        std::memcpy(&word, n, sizeof word);  // the bytes of the value's union
        unsigned char first = 0;
        std::memcpy(&first, n, 1);  // a Bool's byte
        v.boolean = first != 0;
        v.integer = static_cast<std::int64_t>(word);
        v.real = std::bit_cast<double>(word);
        // All ones for a String or a BigInt, else zero: their text, else none.
        const std::uint64_t keep =
            0 - std::uint64_t{v.kind == ValueKind::String || v.kind == ValueKind::BigInt};
        v.text = {reinterpret_cast<const char*>(reinterpret_cast<std::uintptr_t>(n->chars) & keep),
                  static_cast<std::size_t>(n->size & keep)};
        return v;
    }

  private:
    static NodeKind node_kind(ValueKind kind) {
        static constexpr NodeKind kinds[] = {
            NodeKind::Null,   NodeKind::Scalar, NodeKind::Scalar,   NodeKind::Scalar,
            NodeKind::Scalar, NodeKind::Scalar, NodeKind::Sequence, NodeKind::Mapping,
            NodeKind::Null,  // Tagged
        };
        static_assert(std::size(kinds) == static_cast<std::size_t>(ValueKind::Tagged) + 1);
        return kinds[static_cast<std::size_t>(kind)];
    }

    Node root_;
    mutable bool unreadable_ = false;
};

// One string as a document of its own: a property name as propertyNames
// checks it.
class NameView {
  public:
    using Node = std::uint32_t;

    explicit NameView(std::string_view name) : name_(name) {}

    Node root() const { return 0; }
    NodeKind kind(Node) const { return NodeKind::Scalar; }
    std::uint32_t count(Node) const { return 0; }
    Node child(Node, std::uint32_t) const { return 0; }
    std::uint32_t line(Node) const { return 0; }
    std::uint32_t column(Node) const { return 0; }
    bool is_key(Node) const { return false; }
    std::string_view key_text(Node) const { return {}; }
    bool unreadable() const { return false; }

    ValueKind value_kind(Node) const { return ValueKind::String; }
    DataValue value_of(Node) const {
        DataValue v;
        v.kind = ValueKind::String;
        v.text = name_;
        return v;
    }

  private:
    std::string_view name_;
};

}  // namespace quarvel
