#include "roundtrip/node_path.hpp"

#include <algorithm>
#include <string>
#include <unordered_map>

#include "support/stack.hpp"

namespace quarvel {

namespace {

// A key without content (": v") is the null scalar.
bool is_scalar_key(const YamlNode& key) {
    return key.kind == NodeKind::Scalar || key.kind == NodeKind::Null;
}

// Whether no two scalar keys of the mapping have the same text.
bool distinct_texts(const YamlNode& mapping) {
    std::vector<std::string_view> texts;
    texts.reserve(mapping.size());
    for (std::size_t i = 0; i < mapping.size(); ++i)
        if (mapping.key(i).kind == NodeKind::Scalar) texts.push_back(mapping.key(i).text);
    std::ranges::sort(texts);
    return std::ranges::adjacent_find(texts) == texts.end();
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

// The entries find_entry does not reach by their own key's text, computed
// for all keys at once: a text leads to its last entry, and from there to the
// last entry of that key (by the duplicate-key rule) when it reads as no
// string. A key of another text but the same identity ("2" then "!!int 2")
// can thus shadow an entry, and so can a later key of the same text but
// another identity ("2" then "! 2").
std::vector<bool> shadowed_entries(const YamlNode& mapping, ResolverMode mode) {
    const std::size_t n = mapping.size();
    std::vector<std::string> identity(n);
    bool any_identity = false;
    for (std::size_t i = 0; i < n; ++i) {
        const YamlNode& k = mapping.key(i);
        if (!is_scalar_key(k)) continue;
        identity[i] = other_key_identity(k, mode);
        any_identity = any_identity || !identity[i].empty();
    }
    // Most mappings have string keys of distinct texts, where every entry is
    // reached by its own text.
    if (!any_identity && distinct_texts(mapping)) return {};
    std::unordered_map<std::string_view, std::size_t> last_of_text;
    std::unordered_map<std::string, std::size_t> last_of_identity;
    for (std::size_t i = 0; i < n; ++i) {
        const YamlNode& k = mapping.key(i);
        if (!identity[i].empty()) last_of_identity[identity[i]] = i;
        if (k.kind == NodeKind::Scalar) last_of_text[k.text] = i;
    }
    std::vector<bool> shadowed;
    for (std::size_t i = 0; i < n; ++i) {
        const YamlNode& k = mapping.key(i);
        if (k.kind != NodeKind::Scalar) continue;
        const std::size_t last = last_of_text[k.text];
        const std::size_t reached =
            identity[last].empty() ? last : last_of_identity[identity[last]];
        if (reached == i) continue;
        if (shadowed.empty()) shadowed.resize(n);
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
        if (n.anchor() != name) return true;
        found.node = &n;
        found.path = p;
        return false;
    });
    return found;
}

namespace {

const YamlNode* first_definition_in(const YamlNode& node, std::string_view name) {
    if (node.anchor() == name) return &node;
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
