// Interpretation of the %YAML and %TAG lines in front of a document.
#pragma once

#include <optional>

#include "parser/tag_expansion.hpp"
#include "scanner/token.hpp"

namespace quarvel {

struct DirectiveRun {
    bool seen_yaml = false;  // a %YAML line was read in this run
};

// Applies one Directive token (text after '%') to the run and the handle
// table. Unknown directives and malformed %TAG lines are ignored.
std::optional<Error> apply_directive(const Token& token, DirectiveRun& run, TagHandles& handles);

}  // namespace quarvel
