#include "roundtrip/node_path.hpp"

#include "support/stack.hpp"

namespace quarvel {

std::optional<std::size_t> find_entry(const YamlNode& mapping, std::string_view key) {
    for (std::size_t i = mapping.size(); i-- > 0;) {
        const YamlNode& k = mapping.key(i);
        if (k.kind == NodeKind::Scalar && k.text == key) return i;
    }
    return std::nullopt;
}

std::vector<bool> shadowed_entries(const YamlNode& mapping) {
    std::vector<bool> shadowed;
    SeenKeys seen;
    for (std::size_t i = mapping.size(); i-- > 0;) {
        const YamlNode& k = mapping.key(i);
        if (k.kind != NodeKind::Scalar || !seen.repeat(k.text)) continue;
        if (shadowed.empty()) shadowed.resize(mapping.size());
        shadowed[i] = true;
    }
    return shadowed;
}

YamlNode* step_into(YamlNode& node, const PathStep& step) {
    if (step.is_entry_key)
        return node.kind == NodeKind::Mapping && step.index < node.size() ? &node.key(step.index)
                                                                          : nullptr;
    if (node.kind == NodeKind::Mapping && !step.is_index) {
        auto entry = find_entry(node, step.key);
        return entry ? &node.value(*entry) : nullptr;
    }
    if (node.kind == NodeKind::Sequence && step.is_index && step.index < node.children.size())
        return &node.children[step.index];
    return nullptr;
}

YamlNode* resolve_path(std::vector<YamlNode>& roots, std::span<const PathStep> path) {
    if (roots.empty()) return nullptr;
    YamlNode* node = &roots.front();
    if (roots.size() > 1 && !path.empty()) {
        if (!path.front().is_index || path.front().index >= roots.size()) return nullptr;
        node = &roots[path.front().index];
        path = path.subspan(1);
    }
    for (const PathStep& step : path) {
        node = step_into(*node, step);
        if (!node) return nullptr;
    }
    return node;
}

std::size_t root_of(const std::vector<YamlNode>& roots, const NodePath& path) {
    if (roots.size() < 2 || path.empty() || !path.front().is_index) return 0;
    return path.front().index < roots.size() ? path.front().index : 0;
}

NodePath root_path(const std::vector<YamlNode>& roots, std::size_t root) {
    if (roots.size() < 2) return {};
    return {PathStep::of_index(root)};
}

Located find_anchor_definition(std::vector<YamlNode>& roots, std::size_t root,
                               std::string_view name) {
    Located found;
    if (root >= roots.size()) return found;
    NodePath path = root_path(roots, root);
    walk_addressable(roots[root], path, [&](YamlNode& n, const NodePath& p) {
        if (!n.anchor || *n.anchor != name) return true;
        found.node = &n;
        found.path = p;
        return false;
    });
    return found;
}

namespace {

const YamlNode* first_definition_in(const YamlNode& node, std::string_view name) {
    if (node.anchor && *node.anchor == name) return &node;
    for (const YamlNode& c : node.children) {
        const YamlNode* found = ensure_stack([&] { return first_definition_in(c, name); });
        if (found) return found;
    }
    return nullptr;
}

}  // namespace

const YamlNode* first_definition(const YamlNode& root, std::string_view name) {
    return first_definition_in(root, name);
}

}  // namespace quarvel
