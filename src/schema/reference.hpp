// The in-file schema reference: a "# yaml-language-server: $schema=..."
// comment in the leading block of comments and blank lines.
#pragma once

#include <optional>
#include <string_view>

namespace quarvel {

std::optional<std::string_view> find_schema_ref(std::string_view text);

}  // namespace quarvel
