// The %YAML version named in a text's prologue, found without parsing it.
#pragma once

#include <optional>
#include <string_view>

#include "support/yaml_version.hpp"

namespace quarvel {

// Looks at the lines before the first content or "---" line; only the first
// %YAML directive counts, and a malformed one gives no version.
std::optional<YamlVersion> sniff_version(std::string_view text);

}  // namespace quarvel
