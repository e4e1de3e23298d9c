// The %YAML version named in a text's prologue, found without parsing it.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace quarvel {

struct YamlVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
};

// Looks at the lines before the first content or "---" line; only the first
// %YAML directive counts, and a malformed one gives no version.
std::optional<YamlVersion> sniff_version(std::string_view text);

}  // namespace quarvel
