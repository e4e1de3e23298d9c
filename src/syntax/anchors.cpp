#include "syntax/anchors.hpp"

#include <algorithm>

#include "support/stack.hpp"

namespace quarvel {

AnchorIndex::AnchorIndex(std::span<const YamlNode> roots) {
    // Pre-order walk with an explicit stack, so no tree is too deep for it.
    // Only nodes that carry an anchor or have children are visited.
    std::vector<const YamlNode*> pending;
    for (auto it = roots.rbegin(); it != roots.rend(); ++it) pending.push_back(&*it);
    while (!pending.empty()) {
        const YamlNode* n = pending.back();
        pending.pop_back();
        if (n->anchor()) entries_.push_back({*n->anchor(), n});
        for (auto it = n->children.rbegin(); it != n->children.rend(); ++it) {
            if (it->anchor() || !it->children.empty()) pending.push_back(&*it);
        }
    }
    // Entries are in document order; a stable sort keeps the first definition
    // of each name in front of the later ones, which unique then drops.
    std::stable_sort(entries_.begin(), entries_.end(),
                     [](const Entry& a, const Entry& b) { return a.name < b.name; });
    auto last = std::unique(entries_.begin(), entries_.end(),
                            [](const Entry& a, const Entry& b) { return a.name == b.name; });
    entries_.erase(last, entries_.end());
    entries_.shrink_to_fit();
}

AliasTargets::AliasTargets(const YamlNode& root) {
    // A definition counts once its node is complete (an alias inside the
    // node it names would make a cycle); of the complete ones, the one whose
    // anchor comes last in document order wins, so "&x [k: &x 1]" defines
    // x as 1 for what follows.
    struct Defined {
        const YamlNode* node;
        std::uint64_t order;
    };
    struct Names {
        std::unordered_map<std::string_view, Defined> last;           // so far in the walk
        std::unordered_map<std::string_view, const YamlNode*> first;  // in the whole tree
    };
    std::vector<Names> files;
    std::vector<const YamlNode*> before_definition;
    // Pre-order walk with an explicit stack: document order, any depth; an
    // anchored node comes back once its children are done.
    struct Pending {
        const YamlNode* node;
        bool is_key;
        std::uint64_t done_order;  // nonzero: the node's children are done
    };
    std::uint64_t order = 0;
    std::vector<Pending> pending{{&root, false, 0}};
    while (!pending.empty()) {
        const auto [n, is_key, done_order] = pending.back();
        pending.pop_back();
        if (n->span.file_id >= files.size()) files.resize(n->span.file_id + 1);
        Names& names = files[n->span.file_id];
        if (done_order != 0) {
            auto [it, added] = names.last.try_emplace(*n->anchor(), Defined{n, done_order});
            if (!added && it->second.order < done_order) it->second = Defined{n, done_order};
            continue;
        }
        if (n->kind == NodeKind::Alias) {
            uses_.push_back({n, is_key});
            if (auto it = names.last.find(n->text); it != names.last.end())
                targets_.emplace(n, it->second.node);
            else
                before_definition.push_back(n);
        } else if (n->anchor()) {
            pending.push_back({n, false, ++order});
            names.first.try_emplace(*n->anchor(), n);
        }
        const bool mapping = n->kind == NodeKind::Mapping;
        for (std::size_t i = n->children.size(); i-- > 0;)
            pending.push_back({&n->children[i], mapping && i % 2 == 0, 0});
    }
    for (const YamlNode* alias : before_definition) {
        const auto& first = files[alias->span.file_id].first;
        if (auto it = first.find(alias->text); it != first.end())
            targets_.emplace(alias, it->second);
    }
}

const YamlNode* AliasTargets::of(const YamlNode& alias) const {
    auto it = targets_.find(&alias);
    return it == targets_.end() ? nullptr : it->second;
}

const YamlNode* AnchorIndex::find(std::string_view name) const {
    auto it = std::lower_bound(entries_.begin(), entries_.end(), name,
                               [](const Entry& e, std::string_view n) { return e.name < n; });
    if (it == entries_.end() || it->name != name) return nullptr;
    return it->node;
}

namespace {

// What stands in for a node the copy does not reach: a null with the node's
// start as its whole extent, and nothing else.
YamlNode bare_null(const YamlNode& at) {
    YamlNode out;
    out.kind = NodeKind::Null;
    out.span = at.span;
    out.end_offset = at.span.offset;
    out.end_line = at.span.line;
    out.end_column = at.span.column;
    return out;
}

// `Target(alias)` gives the node an alias stands for, or null.
template <class Target>
class Expander {
  public:
    Expander(Target target, CopyAnchors anchors, std::uint64_t budget)
        : target_(std::move(target)),
          drop_anchors_(anchors == CopyAnchors::Drop),
          budget_(budget) {}

    // The copy of `root`; put Inside it, an alias that names `root` is a
    // cycle from the start.
    YamlNode copy_root(const YamlNode& root, CopyPlace place) {
        if (place == CopyPlace::Inside) open_.push_back(&root);
        return copy(root, 0);
    }

  private:
    YamlNode copy(const YamlNode& n, unsigned depth) {
        if (depth > kExpandDepthLimit || budget_ == 0) return bare_null(n);
        --budget_;
        if (n.kind == NodeKind::Alias) {
            const YamlNode* target = target_(n);
            // An alias inside the definition it names ("&a [x, *a]", which
            // only a round-trip tree holds) reads as null, as converting the
            // tree to values reads it; expanding it again would copy the
            // definition into itself until the budget ran out.
            if (target == nullptr || std::ranges::find(open_, target) != open_.end())
                return bare_null(n);
            open_.push_back(target);
            YamlNode out = nested(*target, depth + 1);
            open_.pop_back();
            return out;
        }
        YamlNode out = n.copy_shallow();
        out.explicit_start = false;
        out.leading_bom = false;
        if (drop_anchors_) out.set_anchor(std::nullopt);
        if (!n.children.empty()) {
            out.children.reserve(n.children.size());
            for (const YamlNode& c : n.children) {
                // Leaves are copied in this frame; only collections and
                // aliases recurse.
                if (c.children.empty() && c.kind != NodeKind::Alias)
                    out.children.push_back(copy(c, depth));
                else
                    out.children.push_back(nested(c, depth));
            }
        }
        return out;
    }

    YamlNode nested(const YamlNode& n, unsigned depth) {
        bool ran = false;
        YamlNode out = ensure_stack([&] {
            ran = true;
            return copy(n, depth);
        });
        if (!ran) {
            // No stack segment could be mapped: stop copying; whatever is
            // left becomes nulls, which need no recursion.
            budget_ = 0;
            return bare_null(n);
        }
        return out;
    }

    Target target_;
    bool drop_anchors_;
    std::uint64_t budget_;
    std::vector<const YamlNode*> open_;  // the definitions being copied, outermost first
};

}  // namespace

YamlNode expanding_copy(const YamlNode& node, const AnchorIndex& index, CopyAnchors anchors,
                        std::uint64_t budget) {
    auto by_name = [&index](const YamlNode& alias) { return index.find(alias.text); };
    Expander<decltype(by_name)> expander(by_name, anchors, budget);
    return expander.copy_root(node, CopyPlace::Outside);
}

YamlNode expanding_copy(const YamlNode& node, const AliasTargets& targets, CopyAnchors anchors,
                        CopyPlace place, std::uint64_t budget) {
    auto named = [&targets](const YamlNode& alias) { return targets.of(alias); };
    Expander<decltype(named)> expander(named, anchors, budget);
    return expander.copy_root(node, place);
}

}  // namespace quarvel
