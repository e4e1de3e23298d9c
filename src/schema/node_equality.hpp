// Equality of two document nodes, as uniqueItems compares items: the
// equality of enum and const (an Int equals a Float of the same value,
// collections by content, mappings whatever their order), with a hash that
// agrees with it so that a long array is not compared pair by pair.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "schema/data_equality.hpp"
#include "schema/data_views.hpp"
#include "support/stack.hpp"

namespace quarvel {

template <class View>
class NodeEquality {
    using Node = typename View::Node;

  public:
    explicit NodeEquality(const View& view) : view_(view) {}

    std::uint64_t hash(Node n) const {
        const NodeKind kind = view_.kind(n);
        const std::uint32_t count = view_.count(n);
        if (kind == NodeKind::Sequence) {
            return ensure_stack([&] {
                std::uint64_t h = 0x5e9;
                for (std::uint32_t i = 0; i < count; ++i) h = h * 1000003 ^ hash(view_.child(n, i));
                return h;
            });
        }
        if (kind == NodeKind::Mapping) {
            // Entries in any order hash alike.
            return ensure_stack([&] {
                std::uint64_t h = 0x3a9;
                for (std::uint32_t i = 0; i + 1 < count; i += 2)
                    h += hash(view_.child(n, i)) * 31 ^ hash(view_.child(n, i + 1));
                return h;
            });
        }
        return data_hash(view_.value_of(n));
    }

    bool equal(Node a, Node b) const {
        const NodeKind kind = view_.kind(a);
        const std::uint32_t count = view_.count(a);
        const bool collection = kind == NodeKind::Sequence || kind == NodeKind::Mapping;
        const bool other =
            view_.kind(b) == NodeKind::Sequence || view_.kind(b) == NodeKind::Mapping;
        if (!collection || !other)
            return !collection && !other && data_equal(view_.value_of(a), view_.value_of(b));
        if (kind != view_.kind(b) || count != view_.count(b)) return false;
        return ensure_stack([&] {
            if (kind == NodeKind::Sequence) {
                for (std::uint32_t i = 0; i < count; ++i)
                    if (!equal(view_.child(a, i), view_.child(b, i))) return false;
                return true;
            }
            for (std::uint32_t i = 0; i + 1 < count; i += 2)
                if (!has_entry(b, view_.child(a, i), view_.child(a, i + 1))) return false;
            return true;
        });
    }

  private:
    bool has_entry(Node map, Node key, Node value) const {
        const std::uint32_t count = view_.count(map);
        for (std::uint32_t i = 0; i + 1 < count; i += 2)
            if (equal(view_.child(map, i), key)) return equal(view_.child(map, i + 1), value);
        return false;
    }

    const View& view_;
};

}  // namespace quarvel
