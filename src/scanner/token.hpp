// Tokens, comments and source marks produced by the scanner and handed to the
// composers through TokenStream.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "support/arena.hpp"
#include "support/error.hpp"

namespace quarvel {

// Positions: byte offset into the UTF-8 text, 0-based line, 0-based column
// counted in characters, and the number of the text the mark belongs to.
struct Mark {
    std::uint64_t offset = 0;
    std::uint32_t file = 0;
    std::uint32_t line = 0;
    std::uint32_t column = 0;
};

enum class TokenKind : std::uint8_t {
    StreamStart,
    StreamEnd,
    DocumentStart,
    DocumentEnd,
    Directive,
    BlockMappingStart,
    BlockSequenceStart,
    BlockEnd,
    BlockEntry,
    FlowMappingStart,
    FlowMappingEnd,
    FlowSequenceStart,
    FlowSequenceEnd,
    FlowEntry,
    Key,
    Value,
    Anchor,
    Alias,
    Tag,
    Scalar,
};

enum class ScalarStyle : std::uint8_t { Plain, SingleQuoted, DoubleQuoted, Literal, Folded };

struct Token {
    TokenKind kind = TokenKind::StreamStart;
    ScalarStyle style = ScalarStyle::Plain;  // scalars only
    // The column just past a plain or quoted scalar that ends on the line it
    // starts on, as the scanner counted it on its way; 0 for any other token
    // (such a scalar ends past its start column, so 0 says "not counted").
    std::uint32_t end_column = 0;
    Mark mark;  // start of the token
    // Just past the token's source text. Indicators and the tokens without
    // source text (Key or BlockMappingStart of an implicit key, BlockEnd,
    // StreamEnd) end where they start; anchors, aliases and tags end after
    // their name, a directive at its line break, a quoted scalar after its
    // closing quote, a plain scalar after its last non-blank character, and a
    // block scalar where its scan stopped (past its trailing line breaks and
    // empty lines, and past the leading spaces of the line that ended it, up
    // to the content indentation).
    std::uint64_t end_offset = 0;
    // Scalar text, anchor or alias name, tag text, or the raw directive line
    // after '%'. Points into the input text or into the scanner's arena.
    std::string_view text;
};

// A comment: a '#' at the start of the text (after a byte order mark, if
// any) or after a space, tab or line break, up to the end of its line.
struct Comment {
    std::string_view text;     // after '#' and one following space; trailing white space removed
    std::uint64_t offset = 0;  // of the '#'
    std::uint32_t file = 0;
    std::uint32_t line = 0;
    std::uint32_t column = 0;
};

// Builds the error value a scanner or composer reports at a mark.
inline Error syntax_error(std::string message, const Mark& m, int kind = syntax_kind::parse) {
    return Error::syntax(std::move(message), m.line, m.column, kind);
}

}  // namespace quarvel
