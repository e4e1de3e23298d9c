#include "decode/anchors.hpp"

namespace quarvel {

AnchorTable::Entry* AnchorTable::find(std::string_view name) {
    auto it = table_.find(name);
    return it == table_.end() ? nullptr : &it->second;
}

std::uint64_t AnchorTable::Entry::node_count() {
    if (nodes == 0) nodes = quarvel::node_count(node);  // stays 0 when the stack ran out
    return nodes;
}

}  // namespace quarvel
