// Anchor table of one document. An entry does not copy the anchored node: it
// records the node's scalar payload and the address of its children array.
// A finished node is only ever moved into its parent, and moving a vector
// keeps its buffer, so that array stays put (with everything below it) until
// the document is done; the table is emptied before the merge pass edits the
// tree. Defining an anchor is O(1), and the node count is computed when the
// first alias needs it.
#pragma once

#include <cstdint>
#include <string_view>

#include "support/seeded_hash.hpp"
#include "value/value.hpp"

namespace quarvel {

class AnchorTable {
  public:
    struct Entry {
        ValueKind kind = ValueKind::Null;
        bool boolean = false;
        std::int64_t integer = 0;
        double real = 0.0;
        std::string_view text;
        const YamlValue* children = nullptr;
        std::size_t child_count = 0;
        std::uint64_t nodes = 0;  // 0 until first needed

        std::uint64_t node_count();     // 0 when the stack ran out
        YamlValue materialize() const;  // a deep copy of the anchored node
    };

    void define(std::string_view name, const YamlValue& node);
    Entry* find(std::string_view name);
    void clear() { table_.clear(); }

  private:
    SeededMap<Entry> table_;
};

}  // namespace quarvel
