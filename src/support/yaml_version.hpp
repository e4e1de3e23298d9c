// A %YAML version number, as named by a text's prologue.
#pragma once

#include <cstdint>

namespace quarvel {

struct YamlVersion {
    std::uint32_t major = 0;
    std::uint32_t minor = 0;
};

}  // namespace quarvel
