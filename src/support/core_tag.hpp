// The namespace of the standard YAML tags: "!!int" stands for this prefix
// followed by "int".
#pragma once

#include <string_view>

namespace quarvel {

inline constexpr std::string_view kCoreTagPrefix = "tag:yaml.org,2002:";

// Standard tags ("!!str", "tag:yaml.org,2002:str") are read by the resolver;
// any other tag is the application's.
inline bool is_standard_tag(std::string_view tag) {
    return tag.starts_with("!!") || tag.starts_with(kCoreTagPrefix);
}

}  // namespace quarvel
