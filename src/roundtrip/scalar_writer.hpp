// Scalar writers of the round-trip emitter. Each one guarantees that what it
// writes reads back as the same text: a style that cannot carry a text (a
// plain scalar holding ": ", a block scalar holding a carriage return) gives
// way to a quoted style that can.
#pragma once

#include <string>
#include <string_view>

namespace quarvel::roundtrip {

// Where a scalar is written: inside a flow collection, as an implicit key of
// a block mapping, or as a block node (value, item, root) that may span lines.
enum class ScalarPlace : unsigned char { Flow, Key, Block };

// The text reads back unchanged when written plain at that place.
bool fits_plain(std::string_view text, ScalarPlace place);

// The text reads back unchanged from a literal or folded block scalar.
bool fits_block(std::string_view text);

// "text" with every escape a reader needs, surrounding quotes included.
void write_double_quoted(std::string_view text, std::string& out);

// 'text' with apostrophes doubled; the caller has checked fits_single.
void write_single_quoted(std::string_view text, std::string& out);
bool fits_single(std::string_view text);

// A literal (folded = false) or folded block scalar: header, then the lines
// at `indent` spaces, ending with a line feed. `comment` (may be empty) is
// written on the header line, already formatted (" # text"). The caller has
// checked fits_block.
void write_block_scalar(std::string_view text, std::size_t indent, bool folded,
                        std::string_view comment, std::string& out);

}  // namespace quarvel::roundtrip
