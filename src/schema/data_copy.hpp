// The document as validation sees it: a flat copy of the syntax tree with
// every alias replaced by a copy of the node it names, so that an aliased
// mapping is checked like the mapping itself.
//
// Aliases are bounded as in the expanding copy of syntax/anchors.hpp: a node
// reached through more than kExpandDepthLimit nested aliases, and any node
// past kExpandBudget nodes brought in by aliases, is copied as a null at its
// place. Unlike that copy, nodes written out in the document cost nothing,
// so a large document without aliases is validated in full, and the copy
// keeps no comments, only what validation reads. A document whose aliases
// expand past the budget of loading (kMaxExpandedNodes, counted as loading
// counts it) is not copied at all: the copy fails with the alias-bomb error.
#pragma once

#include <cstdint>
#include <vector>

#include "support/error.hpp"
#include "syntax/anchors.hpp"
#include "syntax/node.hpp"

namespace quarvel {

struct DataNode {
    const YamlNode* source = nullptr;  // text, style and tag; null for a cut-off node
    std::uint32_t first = 0;           // index of the first child in the copy
    std::uint32_t count = 0;           // children; a mapping has key, value, key, value, ...
    std::uint32_t line = 0;            // 0-based position shown for the node
    std::uint32_t column = 0;
    NodeKind kind = NodeKind::Null;  // never Alias

    std::uint32_t key(std::uint32_t i) const { return first + 2 * i; }
    std::uint32_t value(std::uint32_t i) const { return first + 2 * i + 1; }
    std::uint32_t entries() const { return count / 2; }
};

// nodes[0] is the root. Empty when the stack ran out (the thread's flag says so).
struct DataCopy {
    std::vector<DataNode> nodes;
};

// An alias names the nearest node before it in document order (a node comes
// before its children, a key before its value) that defines the anchor, as
// loading reads it. `has_aliases` false skips the alias bookkeeping.
Result<DataCopy> copy_for_validation(const YamlNode& root, bool has_aliases);

}  // namespace quarvel
