#include "roundtrip/node_path.hpp"

#include "support/stack.hpp"

namespace quarvel {

namespace {

// A key without content (": v") is the null scalar.
bool is_scalar_key(const YamlNode& key) {
    return key.kind == NodeKind::Scalar || key.kind == NodeKind::Null;
}

}  // namespace

std::string other_key_identity(const YamlNode& key, ResolverMode mode) {
    std::string id;
    if (key_reads_as_string(key, mode) || !append_key_identity(key, mode, id)) id.clear();
    return id;
}

std::size_t kept_entry(const YamlNode& mapping, std::size_t i, ResolverMode mode) {
    const std::string wanted = other_key_identity(mapping.key(i), mode);
    if (wanted.empty()) return i;
    std::size_t kept = i;
    for (std::size_t j = i + 1; j < mapping.size(); ++j) {
        const YamlNode& k = mapping.key(j);
        if (is_scalar_key(k) && other_key_identity(k, mode) == wanted) kept = j;
    }
    return kept;
}

std::optional<std::size_t> find_entry(const YamlNode& mapping, std::string_view key,
                                      ResolverMode mode) {
    for (std::size_t i = mapping.size(); i-- > 0;) {
        const YamlNode& k = mapping.key(i);
        if (k.kind == NodeKind::Scalar && k.text == key) return kept_entry(mapping, i, mode);
    }
    return std::nullopt;
}

std::vector<bool> shadowed_entries(const YamlNode& mapping, ResolverMode mode) {
    std::vector<bool> shadowed;
    SeenKeys seen;
    std::unordered_set<std::string> seen_other;
    for (std::size_t i = mapping.size(); i-- > 0;) {
        const YamlNode& k = mapping.key(i);
        if (!is_scalar_key(k)) continue;
        const std::string other = other_key_identity(k, mode);
        const bool repeated =
            other.empty() ? seen.repeat(k.text) : !seen_other.insert(other).second;
        if (!repeated) continue;
        if (shadowed.empty()) shadowed.resize(mapping.size());
        shadowed[i] = true;
    }
    return shadowed;
}

YamlNode* step_into(YamlNode& node, const PathStep& step, ResolverMode mode) {
    if (step.is_entry_key)
        return node.kind == NodeKind::Mapping && step.index < node.size() ? &node.key(step.index)
                                                                          : nullptr;
    if (node.kind == NodeKind::Mapping && !step.is_index) {
        auto entry = find_entry(node, step.key, mode);
        return entry ? &node.value(*entry) : nullptr;
    }
    if (node.kind == NodeKind::Sequence && step.is_index && step.index < node.children.size())
        return &node.children[step.index];
    return nullptr;
}

YamlNode* resolve_path(NodeList& roots, std::span<const PathStep> path, ResolverMode mode) {
    if (roots.empty()) return nullptr;
    YamlNode* node = &roots.front();
    if (roots.size() > 1 && !path.empty()) {
        if (!path.front().is_index || path.front().index >= roots.size()) return nullptr;
        node = &roots[path.front().index];
        path = path.subspan(1);
    }
    for (const PathStep& step : path) {
        node = step_into(*node, step, mode);
        if (!node) return nullptr;
    }
    return node;
}

std::size_t root_of(const NodeList& roots, const NodePath& path) {
    if (roots.size() < 2 || path.empty() || !path.front().is_index) return 0;
    return path.front().index < roots.size() ? path.front().index : 0;
}

NodePath root_path(const NodeList& roots, std::size_t root) {
    if (roots.size() < 2) return {};
    return {PathStep::of_index(root)};
}

Located find_anchor_definition(NodeList& roots, std::size_t root, std::string_view name,
                               ResolverMode mode) {
    Located found;
    if (root >= roots.size()) return found;
    NodePath path = root_path(roots, root);
    walk_addressable(roots[root], path, mode, [&](YamlNode& n, const NodePath& p) {
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
