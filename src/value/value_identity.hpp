// Whether two value trees are the same to the last bit: kinds, texts, the
// bits of every float, the order of entries, and which collections are
// shared. Two encodings of equal Python objects with the same aliasing are
// identical, so whatever was derived from one (rules read from a schema)
// serves the other unchanged.
#pragma once

#include <optional>

#include "value/value.hpp"

namespace quarvel {

// False as well when the stack runs out (ensure_stack's flag is then set).
bool identical_values(const YamlValue& a, const YamlValue& b);

// A copy of `v` whose texts and children all lie in `arena`, sharing what `v`
// shares: identical to `v`, and independent of whatever `v` pointed into.
// Null when the stack runs out.
std::optional<YamlValue> copy_value(Arena& arena, const YamlValue& v);

}  // namespace quarvel
