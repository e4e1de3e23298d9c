// Text to syntax trees: the parser driven by the tree builder over a token
// stream that records comments, then comment attachment.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "scanner/token.hpp"
#include "support/error.hpp"
#include "syntax/line_starts.hpp"
#include "syntax/node.hpp"

namespace quarvel {

// How composition reads the text. Strict composition raises
// the errors the value decoder raises on the same text, with the same
// messages and positions, for everything but aliases (an undefined tag
// handle, and complex keys when they are rejected);
// a forest with aliases says so in `has_aliases`.
// Without `keep_comments` no comment is recorded or attached: loading that
// converts the tree to Python objects needs positions, not comments.
struct ComposeChecks {
    bool strict = false;
    bool reject_complex_keys = false;
    bool keep_comments = true;
};

// Composes every document of `text` (UTF-8; it must outlive the forest) read
// as file number `file`, and attaches its comments. Empty documents become
// null roots with `keep_empty` (loads_all) and are dropped without it.
Result<SyntaxForest> compose_text(std::string_view text, std::uint32_t file, bool keep_empty,
                                  const ComposeChecks& checks = {});

// Fills the Comments of every node from the comment list of the text the
// roots were composed from (in source order); comments no node takes land in
// the foot of the last root.
void attach_comments(NodeList& roots, std::span<const Comment> comments, std::string_view text,
                     const LineStarts& lines);

// Where a node ends, judged from the tree alone: (line, column), 0-based.
std::pair<std::uint32_t, std::uint32_t> approximate_end(const YamlNode& node);

}  // namespace quarvel
