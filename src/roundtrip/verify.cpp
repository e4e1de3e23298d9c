#include "roundtrip/verify.hpp"

#include <optional>

#include "decode/decoder.hpp"
#include "support/stack.hpp"

namespace quarvel::roundtrip {

bool mark_modified(YamlNode& node) {
    node.comments.modified = true;
    for (YamlNode& child : node.children) {
        if (!ensure_stack([&] { return mark_modified(child); })) return false;
    }
    return true;
}

bool same_values(std::string_view a, std::string_view b) {
    const auto da = decode(a, {});
    const auto db = decode(b, {});
    if (!da || !db) return !da && !db;
    if (da->documents.size() != db->documents.size()) return false;
    for (std::size_t i = 0; i < da->documents.size(); ++i)
        if (!values_equal(da->documents[i], db->documents[i])) return false;
    return true;
}

}  // namespace quarvel::roundtrip
