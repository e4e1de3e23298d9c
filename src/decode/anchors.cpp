#include "decode/anchors.hpp"

namespace quarvel {

void AnchorTable::define(std::string_view name, const YamlValue& node) {
    Entry e;
    e.kind = node.kind;
    switch (node.kind) {
        case ValueKind::Bool:
            e.boolean = node.boolean;
            break;
        case ValueKind::Int:
            e.integer = node.integer;
            break;
        case ValueKind::Float:
            e.real = node.real;
            break;
        default:
            break;
    }
    e.text = node.text;
    e.children = node.children.data();
    e.child_count = node.children.size();
    table_.insert_or_assign(name, e);
}

AnchorTable::Entry* AnchorTable::find(std::string_view name) {
    auto it = table_.find(name);
    return it == table_.end() ? nullptr : &it->second;
}

std::uint64_t AnchorTable::Entry::node_count() {
    if (nodes == 0) {
        std::uint64_t n = 1;
        for (std::size_t i = 0; i < child_count; ++i) {
            std::uint64_t below = quarvel::node_count(children[i]);
            if (below == 0) return 0;  // the stack ran out: nothing is cached
            n += below;
        }
        nodes = n;
    }
    return nodes;
}

YamlValue AnchorTable::Entry::materialize() const {
    YamlValue v;
    v.kind = kind;
    switch (kind) {
        case ValueKind::Bool:
            v.boolean = boolean;
            break;
        case ValueKind::Int:
            v.integer = integer;
            break;
        case ValueKind::Float:
            v.real = real;
            break;
        default:
            break;
    }
    v.text = text;
    if (child_count != 0) v.children.assign(children, children + child_count);
    return v;
}

}  // namespace quarvel
