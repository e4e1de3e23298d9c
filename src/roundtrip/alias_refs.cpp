#include "roundtrip/alias_refs.hpp"

#include <string>
#include <unordered_map>
#include <unordered_set>

namespace quarvel {
namespace {

using NodeSet = std::unordered_set<const YamlNode*>;

// " at line L, column C" of a node's start, 1-based.
std::string position_of(const YamlNode& n) {
    return " at line " + std::to_string(std::uint64_t{n.span.line} + 1) + ", column " +
           std::to_string(std::uint64_t{n.span.column} + 1);
}

std::string alias_at(const YamlNode& alias) {
    return "alias *" + std::string(alias.text) + position_of(alias);
}

// The anchored nodes and the aliases of some subtrees, by an explicit-stack
// walk (any depth). With `tops_kept` the tops' own anchors are left out.
struct SubtreeNodes {
    NodeSet anchored;
    NodeSet aliases;

    SubtreeNodes(std::span<const YamlNode* const> tops, bool tops_kept) {
        std::vector<const YamlNode*> pending(tops.begin(), tops.end());
        const NodeSet top_set(tops.begin(), tops.end());
        while (!pending.empty()) {
            const YamlNode* n = pending.back();
            pending.pop_back();
            if (n->kind == NodeKind::Alias) aliases.insert(n);
            if (n->anchor() && !(tops_kept && top_set.contains(n))) anchored.insert(n);
            for (const YamlNode& c : n->children) pending.push_back(&c);
        }
    }
};

// The tree a path lies in and the anchored nodes from its root down to the
// node the path addresses (included); no root when the path does not resolve.
struct AnchoredChain {
    YamlNode* root = nullptr;
    std::vector<const YamlNode*> anchored;
};

AnchoredChain anchored_chain(NodeList& roots, ResolverMode mode, std::span<const PathStep> path) {
    AnchoredChain chain;
    if (roots.empty()) return chain;
    YamlNode* node = &roots.front();
    if (roots.size() > 1 && !path.empty()) {
        if (!path.front().is_index || path.front().index >= roots.size()) return chain;
        node = &roots[path.front().index];
        path = path.subspan(1);
    }
    YamlNode* root = node;
    if (node->anchor()) chain.anchored.push_back(node);
    for (const PathStep& step : path) {
        node = step_into(*node, step, mode);
        if (!node) return chain;
        if (node->anchor()) chain.anchored.push_back(node);
    }
    chain.root = root;
    return chain;
}

YamlNode* root_node(NodeList& roots, const NodePath& path) {
    const std::size_t root = root_of(roots, path);
    return root < roots.size() ? &roots[root] : nullptr;
}

// An alias of the same file as `node` named `name` that refers to nothing:
// giving `node` that name would make it refer to `node`.
std::optional<AliasTargets::Use> unresolved_named(const AliasRefs& refs, const YamlNode& node,
                                                  std::string_view name) {
    for (const AliasTargets::Use& use : refs.targets().uses()) {
        const YamlNode& alias = *use.alias;
        if (alias.text == name && alias.span.file_id == node.span.file_id && !refs.target(alias))
            return use;
    }
    return std::nullopt;
}

EditStatus refuse_capture(std::string_view name, const YamlNode& alias) {
    return edit_fault(EditFaultKind::Value, "anchor name '" + std::string(name) +
                                                "' would be taken by " + alias_at(alias) +
                                                ", which refers to no anchor");
}

}  // namespace

std::vector<AliasTargets::Use> AliasRefs::aliases_of(const YamlNode& anchored) const {
    std::vector<AliasTargets::Use> found;
    for (const AliasTargets::Use& use : targets_.uses())
        if (targets_.of(*use.alias) == &anchored) found.push_back(use);
    return found;
}

std::optional<AliasTargets::Use> AliasRefs::outside_ref_into(
    std::span<const YamlNode* const> removed, bool tops_kept) const {
    const SubtreeNodes inside(removed, tops_kept);
    if (inside.anchored.empty()) return std::nullopt;
    for (const AliasTargets::Use& use : targets_.uses()) {
        if (inside.aliases.contains(use.alias)) continue;
        if (inside.anchored.contains(targets_.of(*use.alias))) return use;
    }
    return std::nullopt;
}

std::optional<AliasTargets::Use> AliasRefs::key_alias_of(
    std::span<const YamlNode* const> anchored) const {
    if (anchored.empty()) return std::nullopt;
    const NodeSet wanted(anchored.begin(), anchored.end());
    for (const AliasTargets::Use& use : targets_.uses())
        if (use.is_key && wanted.contains(targets_.of(*use.alias))) return use;
    return std::nullopt;
}

EditStatus check_alias_refs(NodeList& roots, ResolverMode mode, std::span<const PathStep> path,
                            std::span<const YamlNode* const> removed, TopAnchors tops) {
    const AnchoredChain chain = anchored_chain(roots, mode, path);
    if (!chain.root) return {};  // the caller reports the stale path
    const bool tops_kept = tops == TopAnchors::Kept;
    // Without an anchor among the nodes the edit changes or drops no alias
    // can be affected, and the tree need not be walked.
    if (chain.anchored.empty() && SubtreeNodes(removed, tops_kept).anchored.empty()) return {};
    const AliasRefs refs(*chain.root);
    if (auto use = refs.outside_ref_into(removed, tops_kept)) {
        const YamlNode& alias = *use->alias;
        return edit_fault(EditFaultKind::Value, "the edit would remove anchor '&" +
                                                    std::string(alias.text) + "', which " +
                                                    alias_at(alias) + " refers to");
    }
    if (auto use = refs.key_alias_of(chain.anchored)) {
        const YamlNode& alias = *use->alias;
        return edit_fault(EditFaultKind::Value, "the edit would change '&" +
                                                    std::string(alias.text) + "', which " +
                                                    alias_at(alias) + " uses as a mapping key");
    }
    return {};
}

EditStatus check_replace(NodeList& roots, ResolverMode mode, const NodePath& path,
                         TopAnchors tops) {
    if (!path.empty() && path.back().is_entry_key)
        return edit_fault(EditFaultKind::Value, "a mapping key cannot be replaced");
    const YamlNode* node = resolve_path(roots, path, mode);
    if (!node) return {};  // the caller reports the stale path
    const YamlNode* const replaced[] = {node};
    return check_alias_refs(roots, mode, path, replaced, tops);
}

EditStatus check_assignment_refs(NodeList& roots, ResolverMode mode, const NodePath& path,
                                 const PathStep& step) {
    YamlNode* container = resolve_path(roots, path, mode);
    if (!container) return {};
    if (!step_into(*container, step, mode)) return check_alias_refs(roots, mode, path);
    NodePath child = path;
    child.push_back(step);
    return check_replace(roots, mode, child);
}

EditStatus check_anchor_change(NodeList& roots, ResolverMode mode, const NodePath& path,
                               std::optional<std::string_view> name, bool renaming) {
    YamlNode* node = resolve_path(roots, path, mode);
    if (!node) return {};  // the caller reports the stale path
    if (name && node->kind == NodeKind::Alias)
        return edit_fault(EditFaultKind::Value, "an alias cannot carry an anchor");
    const std::optional<std::string_view> old = node->anchor();
    if (old == name) return {};
    const bool orphans = old && !renaming;
    if (!orphans && !name) return {};
    const AliasRefs refs(*root_node(roots, path));
    if (orphans) {
        const std::vector<AliasTargets::Use> users = refs.aliases_of(*node);
        if (!users.empty()) {
            const std::string shown = "anchor '&" + std::string(*old) + "'";
            const std::string by = alias_at(*users.front().alias);
            if (!name)
                return edit_fault(EditFaultKind::Value,
                                  shown + " cannot be removed: " + by + " refers to it");
            return edit_fault(EditFaultKind::Value, shown + " cannot be renamed: " + by +
                                                        " refers to it (rename_anchor() renames "
                                                        "its aliases too)");
        }
    }
    if (name)
        if (auto use = unresolved_named(refs, *node, *name))
            return refuse_capture(*name, *use->alias);
    return {};
}

EditStatus rename_anchor(DocumentState& doc, const NodePath& path, std::string_view name) {
    auto& roots = doc.roots();
    YamlNode* node = resolve_path(roots, path, doc.mode);
    if (!node) return edit_fault(EditFaultKind::Key, "stale node");
    if (!node->anchor())
        return edit_fault(EditFaultKind::Value, "the node has no anchor to rename");
    if (*node->anchor() == name) return {};
    if (auto checked = check_new_anchor(doc, path, name); !checked) return checked;
    if (auto checked = check_anchor_change(roots, doc.mode, path, name, true); !checked)
        return checked;
    const AliasRefs refs(*root_node(roots, path));
    const std::string_view stored = doc.arena().store(name);
    for (const AliasTargets::Use& use : refs.aliases_of(*node)) {
        // The analysis hands out read-only nodes of a tree this edit owns.
        YamlNode& alias = const_cast<YamlNode&>(*use.alias);
        alias.text = stored;
        alias.comments.modified = true;
    }
    node->set_anchor(stored);
    node->comments.modified = true;
    return {};
}

Located alias_target(NodeList& roots, ResolverMode mode, const NodePath& path) {
    Located found;
    const YamlNode* alias = resolve_path(roots, path, mode);
    if (!alias || alias->kind != NodeKind::Alias) return found;
    const std::size_t root = root_of(roots, path);
    const YamlNode* target = AliasTargets(roots[root]).of(*alias);
    if (!target) return found;
    NodePath at = root_path(roots, root);
    walk_addressable(roots[root], at, mode, [&](YamlNode& n, const NodePath& p) {
        if (&n != target) return true;
        found.node = &n;
        found.path = p;
        return false;
    });
    return found;
}

std::vector<NodePath> alias_paths(NodeList& roots, ResolverMode mode, const NodePath& path) {
    const YamlNode* anchored = resolve_path(roots, path, mode);
    if (!anchored || !anchored->anchor()) return {};
    const std::size_t root = root_of(roots, path);
    const AliasRefs refs(roots[root]);
    const std::vector<AliasTargets::Use> users = refs.aliases_of(*anchored);
    if (users.empty()) return {};
    std::unordered_map<const YamlNode*, std::optional<NodePath>> paths;
    for (const AliasTargets::Use& use : users) paths.emplace(use.alias, std::nullopt);
    NodePath at = root_path(roots, root);
    walk_addressable(roots[root], at, mode, [&](YamlNode& n, const NodePath& p) {
        if (auto it = paths.find(&n); it != paths.end()) it->second = p;
        if (n.kind != NodeKind::Mapping) return true;
        for (std::size_t i = 0; i < n.size(); ++i) {
            auto it = paths.find(&n.key(i));
            if (it == paths.end()) continue;
            it->second = p;
            it->second->push_back(PathStep::of_entry_key(i));
        }
        return true;
    });
    std::vector<NodePath> ordered;
    for (const AliasTargets::Use& use : users) {
        // An alias no path addresses (inside the value of a non-scalar key)
        // is left out.
        if (std::optional<NodePath>& p = paths[use.alias]) ordered.push_back(std::move(*p));
    }
    return ordered;
}

}  // namespace quarvel
