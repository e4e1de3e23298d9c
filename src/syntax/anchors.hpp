// Anchors of a syntax tree: which node each name refers to, and the deep copy
// that replaces aliases by copies of the nodes they refer to.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "syntax/node.hpp"

namespace quarvel {

// Every anchor name of a forest with the first node, in document order, that
// defines it (a node comes before its children, a key before its value).
// Later definitions of a name do not replace the first.
//
// The index holds pointers into the tree: any edit that adds, removes, moves
// or replaces nodes (including one that grows a children vector) invalidates
// it. Build a new index after edits.
class AnchorIndex {
  public:
    AnchorIndex() = default;
    explicit AnchorIndex(std::span<const YamlNode> roots);

    // The first node defining `name`, or null.
    const YamlNode* find(std::string_view name) const;
    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }

  private:
    struct Entry {
        std::string_view name;
        const YamlNode* node;
    };
    std::vector<Entry> entries_;  // sorted by name, one entry per name
};

// Limits of the expanding copy: aliases nested deeper than this many levels,
// and nodes beyond this many in one copy, become nulls.
inline constexpr unsigned kExpandDepthLimit = 100;
inline constexpr std::uint64_t kExpandBudget = 1'000'000;

enum class CopyAnchors : bool { Keep, Drop };

// A deep copy of `node` in which every alias is replaced by a copy of the
// node its name refers to in `index` (a null when the name is not defined).
// Copies keep tags, styles, comments, sources and positions; anchors too
// unless `anchors` is Drop. The flags that only a document root can carry
// (explicit start, byte order mark) are cleared, since the copy is put
// elsewhere.
//
// The copy never fails. A node reached through more than kExpandDepthLimit
// nested aliases, every node after the first `budget` nodes, and every node
// left when the stack runs out (the thread's stack-exhausted flag is then
// set) is copied as a bare null at the node's start position.
YamlNode expanding_copy(const YamlNode& node, const AnchorIndex& index,
                        CopyAnchors anchors = CopyAnchors::Keep,
                        std::uint64_t budget = kExpandBudget);

}  // namespace quarvel
