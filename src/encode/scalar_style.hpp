// Byte-level decisions about how a string can be written as a YAML scalar,
// shared by the block/flow emitter and its tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quarvel::scalar_style {

// Byte classes used by the quoting scans.
inline constexpr std::uint8_t kControl = 1;         // below 0x20 or 0x7F
inline constexpr std::uint8_t kStartIndicator = 2;  // cannot begin a plain scalar
inline constexpr std::uint8_t kInnerSpecial = 4;    // '#' or ':' (context decides)
inline constexpr std::uint8_t kFlowIndicator = 8;   // , [ ] { }
inline constexpr std::uint8_t kEscape = 16;         // needs an escape inside double quotes
inline constexpr std::uint8_t kApostrophe = 32;

struct ByteTable {
    std::uint8_t cls[256];
};
const ByteTable& byte_table();

inline std::uint8_t byte_class(char c) {
    return byte_table().cls[static_cast<unsigned char>(c)];
}

// What one pass over a string finds; every style decision is made from it.
struct TextTraits {
    bool line_feed = false;        // holds a line feed
    bool odd_control = false;      // a control byte other than tab and line feed, or 0x7F
    bool control = false;          // any control byte or 0x7F
    bool inner_indicator = false;  // a control byte after the first, " #", ": " or a final ":"
    bool flow_indicator = false;   // one of , [ ] { }
    bool apostrophe = false;
};
TextTraits scan_text(std::string_view text);

// needs_quotes with the scan already made.
bool needs_quotes(std::string_view text, const TextTraits& traits);

// A literal block scalar can carry the text exactly.
bool fits_literal(std::string_view text, const TextTraits& traits);
inline bool fits_literal(std::string_view text) {
    return fits_literal(text, scan_text(text));
}

// The text can sit between apostrophes without escapes or line breaks.
inline bool fits_single_quotes(const TextTraits& traits) {
    return !traits.apostrophe && !traits.control;
}

// Appends the text with double-quote escapes (without the surrounding quotes).
void append_double_escaped(std::string_view text, std::string& out);

}  // namespace quarvel::scalar_style
