// Anchor table of one document. An alias names the node whose anchor stands
// last before it in the text: a node is defined when it is complete, so an
// anchor of the same name inside it, defined first, still wins
// ("a: &x [k: &x 1]" then "*x" is 1).
//
// An entry is the anchored node itself: nodes
// are small and own nothing, and the children arrays they point to stay where
// they are in the arena, so an alias is a copy of the entry that shares the
// subtree. Defining an anchor is O(1), and the node count is computed when
// the first alias needs it.
#pragma once

#include <cstdint>
#include <string_view>

#include "support/seeded_hash.hpp"
#include "value/value.hpp"

namespace quarvel {

class AnchorTable {
  public:
    struct Entry {
        YamlValue node;
        std::uint64_t nodes = 0;  // 0 until first needed
        std::uint64_t at = 0;     // the anchor's offset in the text

        std::uint64_t node_count();  // 0 when the stack ran out
        YamlValue materialize() const { return node; }
    };

    void define(std::string_view name, const YamlValue& node, std::uint64_t at) {
        auto [it, added] = table_.try_emplace(name, Entry{node, 0, at});
        if (!added && it->second.at <= at) it->second = Entry{node, 0, at};
    }
    Entry* find(std::string_view name);
    void clear() { table_.clear(); }

  private:
    SeededMap<Entry> table_;
};

}  // namespace quarvel
