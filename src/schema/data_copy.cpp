#include "schema/data_copy.hpp"

#include <optional>
#include <string_view>
#include <unordered_map>

#include "support/stack.hpp"

namespace quarvel {
namespace {

using AliasTargets = std::unordered_map<const YamlNode*, const YamlNode*>;

// Records the target of every alias as loading resolves it: the latest
// definition of the name before the alias.
class AliasWalk {
  public:
    explicit AliasWalk(AliasTargets& out) : out_(out) {}

    bool walk(const YamlNode& n) {
        if (n.anchor) defined_[*n.anchor] = &n;
        if (n.kind == NodeKind::Alias) {
            auto it = defined_.find(n.text);
            if (it != defined_.end()) out_[&n] = it->second;
            return true;
        }
        return n.children.empty() || ensure_stack([&] {
                   for (const YamlNode& c : n.children)
                       if (!walk(c)) return false;
                   return true;
               });
    }

  private:
    std::unordered_map<std::string_view, const YamlNode*> defined_;
    AliasTargets& out_;
};

struct TargetOf {
    const AliasTargets& targets;
    const YamlNode* operator()(const YamlNode& alias) const {
        auto it = targets.find(&alias);
        return it == targets.end() ? nullptr : it->second;
    }
};

class Copier {
  public:
    Copier(const AliasTargets& targets, std::vector<DataNode>& nodes)
        : targets_(targets), nodes_(nodes), sizes_(TargetOf{targets}) {}

    // The alias whose expansion passed the loading budget, if one did.
    const YamlNode* over_budget = nullptr;

    // Fills nodes_[slot] from `n`, shown at (line, column). False when the
    // stack ran out or an alias passed the budget.
    bool copy(std::uint32_t slot, const YamlNode& n, std::uint32_t line, std::uint32_t column,
              std::uint32_t depth) {
        DataNode& d = nodes_[slot];
        d.line = line;
        d.column = column;
        if (depth > 0) {
            if (depth > kExpandDepthLimit || budget_ == 0) return true;  // stays a cut-off null
            --budget_;
        }
        if (n.kind == NodeKind::Alias) {
            auto it = targets_.find(&n);
            if (it == targets_.end()) return true;  // an unknown name reads as null
            // Aliases inside an expanded one are part of its count already.
            if (depth == 0 && !charge(n, *it->second)) return false;
            return copy(slot, *it->second, line, column, depth + 1);
        }
        d.source = &n;
        d.kind = n.kind;
        if (!n.is_collection() || n.children.empty()) return true;
        const auto first = static_cast<std::uint32_t>(nodes_.size());
        const auto count = static_cast<std::uint32_t>(n.children.size());
        d.first = first;
        d.count = count;
        nodes_.resize(nodes_.size() + count);  // `d` is stale from here on
        return ensure_stack([&] {
            for (std::uint32_t i = 0; i < count; ++i) {
                const YamlNode& c = n.children[i];
                if (!copy(first + i, c, c.span.line, c.span.column, depth)) return false;
            }
            return true;
        });
    }

  private:
    // Counts what `alias` expands to, before any of it is copied, against the
    // budget of loading: a document that loading refuses as an alias bomb is
    // refused here with the same error, not validated as a cut-down copy.
    bool charge(const YamlNode& alias, const YamlNode& target) {
        const std::optional<std::uint64_t> nodes = sizes_.of(target);
        if (!nodes) return false;
        if (expansion_.expand(*nodes)) return true;
        over_budget = &alias;
        return false;
    }

    const AliasTargets& targets_;
    std::vector<DataNode>& nodes_;
    std::uint64_t budget_ = kExpandBudget;
    ExpandedSizes<TargetOf> sizes_;
    ExpansionBudget expansion_;
};

}  // namespace

Result<DataCopy> copy_for_validation(const YamlNode& root, bool has_aliases) {
    AliasTargets targets;
    DataCopy out;
    if (has_aliases && !AliasWalk(targets).walk(root)) return out;
    out.nodes.resize(1);
    Copier copier(targets, out.nodes);
    if (!copier.copy(0, root, root.span.line, root.span.column, 0)) {
        if (copier.over_budget) return fail(ExpansionBudget::exceeded(*copier.over_budget));
        out.nodes.clear();
    }
    return out;
}

}  // namespace quarvel
