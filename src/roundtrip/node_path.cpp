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

// Every node of one root in document order (node before children, a key
// before its value), tracking the path while the node is addressable.
class AliasTargetWalk {
  public:
    explicit AliasTargetWalk(const YamlNode& alias) : alias_(alias) {}

    Located run(YamlNode& root, NodePath path) {
        path_ = std::move(path);
        visit(root, true);
        return reached_ ? std::move(found_) : Located{};
    }

  private:
    // False once the alias is reached.
    bool visit(YamlNode& n, bool addressable) {
        if (&n == &alias_) {
            reached_ = true;
            return false;
        }
        if (n.anchor && *n.anchor == alias_.text) {
            found_.node = addressable ? &n : nullptr;
            if (addressable) found_.path = path_;
        }
        if (n.kind == NodeKind::Sequence) {
            for (std::size_t i = 0; i < n.children.size(); ++i)
                if (!child(n.children[i], addressable, PathStep::of_index(i))) return false;
        } else if (n.kind == NodeKind::Mapping) {
            const std::vector<bool> shadowed = shadowed_entries(n);
            for (std::size_t i = 0; i < n.size(); ++i) {
                if (!ensure_stack([&] { return visit(n.key(i), false); })) return false;
                const bool by_key =
                    n.key(i).kind == NodeKind::Scalar && (shadowed.empty() || !shadowed[i]);
                if (!child(n.value(i), addressable && by_key, PathStep::of_key(n.key(i).text)))
                    return false;
            }
        }
        return true;
    }

    bool child(YamlNode& c, bool addressable, PathStep step) {
        if (addressable) path_.push_back(std::move(step));
        const bool go_on = ensure_stack([&] { return visit(c, addressable); });
        if (addressable) path_.pop_back();
        return go_on;
    }

    const YamlNode& alias_;
    NodePath path_;
    Located found_;
    bool reached_ = false;
};

const YamlNode* first_definition_in(const YamlNode& node, std::string_view name) {
    if (node.anchor && *node.anchor == name) return &node;
    for (const YamlNode& c : node.children) {
        const YamlNode* found = ensure_stack([&] { return first_definition_in(c, name); });
        if (found) return found;
    }
    return nullptr;
}

}  // namespace

Located find_alias_target(std::vector<YamlNode>& roots, std::size_t root, const YamlNode& alias) {
    if (alias.kind != NodeKind::Alias || root >= roots.size()) return {};
    return AliasTargetWalk(alias).run(roots[root], root_path(roots, root));
}

const YamlNode* first_definition(const YamlNode& root, std::string_view name) {
    return first_definition_in(root, name);
}

}  // namespace quarvel
