// The formatter: a YAML text written again with its layout normalised
// (EmitOptions::normalize_layout), kept only when the result is safe.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "roundtrip/emitter.hpp"
#include "support/error.hpp"
#include "syntax/node.hpp"

namespace quarvel::roundtrip {

// `text` with its layout normalised, or nothing when that cannot be done
// safely: the text does not compose, or the normalised text would not
// compose to the same trees (kinds, scalar texts and styles, flow or block,
// tags, anchors and aliases), hold the same comments in the same order,
// read as the same values, and come back unchanged when normalised again.
std::optional<std::string> format_text(std::string_view text);

// Both texts compose, to the same trees, and hold the same comments in the
// same order: what format_text requires of its result.
bool same_content(std::string_view a, std::string_view b);

// The stream as emit_stream writes it, then normalised by format_text; as
// emit_stream writes it when that is not safe.
Result<std::string> format_stream(std::span<const YamlNode> roots,
                                  std::optional<std::string_view> source,
                                  const EmitOptions& options);

}  // namespace quarvel::roundtrip
