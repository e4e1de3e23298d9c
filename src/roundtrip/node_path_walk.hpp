// The template walk over addressable nodes declared in node_path.hpp.
#pragma once

#include "roundtrip/node_path.hpp"
#include "support/stack.hpp"

namespace quarvel {

template <class Visit>
bool walk_addressable(YamlNode& node, NodePath& path, Visit&& visit) {
    if (!visit(node, static_cast<const NodePath&>(path))) return false;
    const bool mapping = node.kind == NodeKind::Mapping;
    if (!mapping && node.kind != NodeKind::Sequence) return true;
    for (std::size_t i = 0; i < node.size(); ++i) {
        YamlNode* child;
        if (mapping) {
            const YamlNode& key = node.key(i);
            if (key.kind != NodeKind::Scalar) continue;
            path.push_back(PathStep::of_key(key.text));
            child = &node.value(i);
        } else {
            path.push_back(PathStep::of_index(i));
            child = &node.children[i];
        }
        const bool go_on = ensure_stack([&] { return walk_addressable(*child, path, visit); });
        path.pop_back();
        if (!go_on) return false;
    }
    return true;
}

}  // namespace quarvel
