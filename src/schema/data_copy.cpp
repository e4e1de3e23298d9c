#include "schema/data_copy.hpp"

#include <optional>
#include <string_view>

#include "support/stack.hpp"

namespace quarvel {
namespace {

struct TargetOf {
    const AliasTargets& targets;
    const YamlNode* operator()(const YamlNode& alias) const { return targets.of(alias); }
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
            const YamlNode* target = targets_.of(n);
            if (!target) return true;  // an unknown name reads as null
            // Aliases inside an expanded one are part of its count already.
            if (depth == 0 && !charge(n, *target)) return false;
            return copy(slot, *target, line, column, depth + 1);
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
    // Without aliases the walk that finds their targets is skipped.
    const AliasTargets targets = has_aliases ? AliasTargets(root) : AliasTargets();
    DataCopy out;
    out.nodes.resize(1);
    Copier copier(targets, out.nodes);
    if (!copier.copy(0, root, root.span.line, root.span.column, 0)) {
        if (copier.over_budget) return fail(ExpansionBudget::exceeded(*copier.over_budget));
        out.nodes.clear();
    }
    return out;
}

}  // namespace quarvel
