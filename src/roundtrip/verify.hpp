// Checks on re-emitted text: marking trees modified so that they re-emit in
// full, and comparing what two texts read as.
#pragma once

#include <string_view>

#include "syntax/node.hpp"

namespace quarvel::roundtrip {

// Sets `modified` on the node and everything below it (false when the stack
// ran out part way).
bool mark_modified(YamlNode& node);

// Both texts decode (YAML 1.2) to equal documents, or both fail to decode.
bool same_values(std::string_view a, std::string_view b);

}  // namespace quarvel::roundtrip
