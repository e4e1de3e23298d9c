// Tokens and source marks produced by the scanner and consumed by both composers.
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
    Mark mark;                               // start of the token
    std::uint64_t end_offset = 0;            // indicators: equal to mark.offset
    // Scalar text, anchor or alias name, tag text, or the raw directive line
    // after '%'. Points into the input text or into ScanResult::arena.
    std::string_view text;
};

struct Comment {
    std::string_view text;  // after '#' and one following space; trailing white space removed
    std::uint64_t offset = 0;
    std::uint32_t file = 0;
    std::uint32_t line = 0;
    std::uint32_t column = 0;
};

struct ScanResult {
    std::vector<Token> tokens;      // StreamStart first, StreamEnd last
    std::vector<Comment> comments;  // only when comments were kept
    Arena arena;                    // owns texts that are not views into the input
    bool leading_bom = false;
};

// Builds the error value a scanner or composer reports at a mark.
inline Error syntax_error(std::string message, const Mark& m, int kind = syntax_kind::parse) {
    return Error::syntax(std::move(message), m.line, m.column, kind);
}

// Tokenizes the whole text. The text must be valid UTF-8 and outlive the result.
Result<ScanResult> scan_all(std::string_view text, bool keep_comments, std::uint32_t file = 0);

}  // namespace quarvel
