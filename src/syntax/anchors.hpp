// Anchors of a syntax tree: which node each name refers to, and the deep copy
// that replaces aliases by copies of the nodes they refer to.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "support/error.hpp"
#include "support/limits.hpp"
#include "support/stack.hpp"
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

// The definition each alias of one document's tree names: the last node
// before it in document order that carries the anchor, in the alias's own
// file (an included file's "&a" is not the "&a" of the file that includes it).
// An alias with no such definition, which only an edited tree can hold, names
// the first definition after it; one with neither names nothing.
//
// Holds pointers into the tree, as AnchorIndex does: build it after edits.
class AliasTargets {
  public:
    AliasTargets() = default;  // names nothing
    explicit AliasTargets(const YamlNode& root);

    // The node `alias` names, or null.
    const YamlNode* of(const YamlNode& alias) const;

    // Every alias of the tree in document order, with whether it is a
    // mapping key (a key that follows its anchor changes the mapping's keys).
    struct Use {
        const YamlNode* alias;
        bool is_key;
    };
    const std::vector<Use>& uses() const { return uses_; }

  private:
    std::unordered_map<const YamlNode*, const YamlNode*> targets_;
    std::vector<Use> uses_;
};

// The alias-expansion budget of one conversion of a tree into values, counted
// as plain loading counts it: every alias adds the node count of the value it
// stands for, and past kMaxExpandedNodes the conversion fails. A node of the
// tree counts one (a tag is no node of its own), a collection one plus its
// children, an alias the count of its value.
//
// Converters share one value between the aliases of an anchor rather than
// copying it, so counting must not walk the expansion either: the converter
// reports every node it makes (made) and every alias it satisfies, and
// remembers per anchor the count of the value it made for it (made_since
// across the anchored node). Counting then costs one addition per node, and
// the logical size of a shared graph is known without materialising it.
class ExpansionBudget {
  public:
    // One node made from the tree.
    void made() { ++made_; }

    // A position in the count; made_since(mark) is what was made after it,
    // aliases included at their full count.
    std::uint64_t mark() const { return made_; }
    std::uint64_t made_since(std::uint64_t mark) const { return made_ - mark; }

    // An alias stands for an already made value of `nodes` nodes. False
    // when the expansion total passes the budget.
    bool reuse(std::uint64_t nodes) {
        made_ = add(made_, nodes);
        return anew_ > 0 || expand(nodes);
    }

    // An alias whose value is made anew, from its anchor's node: begin_anew
    // before, end_anew(its result) after. The aliases met while making it are
    // part of its count, as those inside an anchored node are part of the
    // node's count in loading, and are charged with it once it is complete.
    // Making it visits each node of the tree once, so the work before that
    // charge is bounded by the tree, not by the expansion.
    std::uint64_t begin_anew() {
        ++anew_;
        return made_;
    }
    bool end_anew(std::uint64_t start) {
        --anew_;
        return anew_ > 0 || expand(made_ - start);
    }

    // Charges `nodes` of expansion directly. False past the budget.
    bool expand(std::uint64_t nodes) {
        expanded_ = add(expanded_, nodes);
        return expanded_ <= kMaxExpandedNodes;
    }

    // The error of an expansion past the budget, at the alias that passed it.
    static Error exceeded(const YamlNode& alias) {
        return Error::syntax(std::string(kAliasBombMessage), alias.span.line, alias.span.column);
    }

    // Node counts add up saturating, so no hostile count wraps around.
    static std::uint64_t add(std::uint64_t a, std::uint64_t b) {
        constexpr std::uint64_t top = std::numeric_limits<std::uint64_t>::max();
        return b > top - a ? top : a + b;
    }

  private:
    std::uint64_t made_ = 0;
    std::uint64_t expanded_ = 0;
    std::uint32_t anew_ = 0;  // aliases being made anew, nested
};

// Node counts of subtrees with their aliases expanded, as ExpansionBudget
// counts them, for code that copies an expansion and must charge it before
// building it. `target(alias)` gives the node an alias stands for, or null
// (an undefined alias counts one). Each anchored node is counted once, so
// counting costs one visit per node whatever the expansion; an alias back
// into a node still being counted counts one (copies cut such loops).
template <class Target>
class ExpandedSizes {
  public:
    explicit ExpandedSizes(Target target) : target_(std::move(target)) {}

    // nullopt when the stack ran out.
    std::optional<std::uint64_t> of(const YamlNode& n) {
        if (n.kind == NodeKind::Alias) {
            const YamlNode* target = target_(n);
            if (!target) return 1;
            return ensure_stack([&] { return of(*target); });
        }
        if (n.anchor()) {
            auto [known, fresh] = sizes_.try_emplace(&n, 1);  // 1 while being counted
            if (!fresh) return known->second;
        }
        std::uint64_t total = 1;
        for (const YamlNode& c : n.children) {
            const std::optional<std::uint64_t> size =
                c.children.empty() && c.kind != NodeKind::Alias
                    ? std::optional<std::uint64_t>(1)
                    : ensure_stack([&] { return of(c); });
            if (!size) return std::nullopt;
            total = ExpansionBudget::add(total, *size);
        }
        if (n.anchor()) sizes_[&n] = total;
        return total;
    }

  private:
    Target target_;
    std::unordered_map<const YamlNode*, std::uint64_t> sizes_;
};

// Limits of the expanding copy: aliases nested deeper than this many levels,
// and nodes beyond this many in one copy, become nulls.
inline constexpr unsigned kExpandDepthLimit = 100;
inline constexpr std::uint64_t kExpandBudget = 1'000'000;

enum class CopyAnchors : bool { Keep, Drop };

// Where a copy of a definition goes: Inside when it replaces an alias within
// that definition, so that an alias naming it in the copy is a cycle from the
// start, as reading the alias in place finds it.
enum class CopyPlace : bool { Outside, Inside };

// A deep copy of `node` in which every alias is replaced by a copy of the
// node its name refers to in `index` (a null when the name is not defined,
// and when it names a definition being copied around it: a cycle).
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

// The same copy with every alias standing for the node `targets` says it
// names (the nearest definition before it), as value conversion reads it.
// `node` must lie in the tree `targets` was built from.
YamlNode expanding_copy(const YamlNode& node, const AliasTargets& targets,
                        CopyAnchors anchors = CopyAnchors::Keep,
                        CopyPlace place = CopyPlace::Outside, std::uint64_t budget = kExpandBudget);

}  // namespace quarvel
