// The namespace of the standard YAML tags: "!!int" stands for this prefix
// followed by "int".
#pragma once

#include <string_view>

namespace quarvel {

inline constexpr std::string_view kCoreTagPrefix = "tag:yaml.org,2002:";

}  // namespace quarvel
