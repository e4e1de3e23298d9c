// Interpretation of the %YAML and %TAG lines in front of a document.
#pragma once

#include <optional>
#include <string_view>

#include "parser/tag_expansion.hpp"
#include "scanner/token.hpp"

namespace quarvel {

struct DirectiveRun {
    bool seen_yaml = false;  // a %YAML line was read in this run
};

// Applies one Directive token (text after '%') to the run and the handle
// table. Unknown directives and malformed %TAG lines are ignored.
std::optional<Error> apply_directive(const Token& token, DirectiveRun& run, TagHandles& handles);

// The handle a "%TAG" directive line (text after '%') defines, or nothing
// when the line is no well-formed one.
std::optional<std::string_view> tag_directive_handle(std::string_view directive);

}  // namespace quarvel
