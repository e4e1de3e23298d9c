// Merge keys ("<<"): the placeholder the composer leaves for them and the pass
// that applies them to a finished document.
#pragma once

#include "parser/tag_expansion.hpp"
#include "value/value.hpp"

namespace quarvel {

inline constexpr std::string_view kMergeTag = "tag:yaml.org,2002:merge";

inline YamlValue merge_placeholder(Arena& arena) {
    return YamlValue::tagged(arena, kMergeTag, YamlValue::string("<<"));
}

inline bool is_merge_placeholder(const YamlValue& v) {
    return v.kind == ValueKind::Tagged && v.text() == kMergeTag;
}

// Applies every merge key of the tree, innermost mappings first, and turns the
// placeholders that are not mapping keys into the string "<<". False when the
// stack ran out (support/stack.hpp): the tree is then only partly merged.
// Merged mappings get new children arrays in `arena`; the arrays they had are
// left as they were, so subtrees that aliases share are never edited twice
// in different ways.
bool apply_merge_keys(YamlValue& root, Arena& arena);

}  // namespace quarvel
