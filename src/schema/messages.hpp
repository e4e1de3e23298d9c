// The texts of violations: document paths and type names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "value/value.hpp"

namespace quarvel {

// One step of a document path; the text is built only for a violation.
struct PathLink {
    const PathLink* parent = nullptr;
    std::string_view key;  // a mapping entry's key text
    std::uint32_t index = 0;
    bool is_key = false;
};

// "$", "$.server.port", "$.servers[2]".
std::string path_text(const PathLink* last);

const char* json_type_name(ValueKind kind);

}  // namespace quarvel
