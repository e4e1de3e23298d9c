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
inline constexpr std::uint8_t kAwkwardLead = 64;  // may begin an awkward character

struct ByteTable {
    std::uint8_t cls[256];
};
const ByteTable& byte_table();

inline std::uint8_t byte_class(char c) {
    return byte_table().cls[static_cast<unsigned char>(c)];
}

// What one pass over a string finds; every style decision is made from it.
struct TextTraits {
    bool line_feed = false;  // holds a line feed
    // A control byte other than tab and line feed, 0x7F, or an awkward character.
    bool odd_control = false;
    bool control = false;          // any control byte, 0x7F or an awkward character
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

// Length of the awkward character starting at text[i], or 0. Awkward are the
// characters a reader may take for a line break or refuse unless escaped:
// the C1 controls (NEL among them, a break in YAML 1.1), U+2028, U+2029, a
// byte order mark, and the non-characters U+FFFE and U+FFFF. They are written
// only as double-quoted escapes.
std::size_t awkward_at(std::string_view text, std::size_t i);
bool has_awkward_unicode(std::string_view text);

// Appends the text with double-quote escapes (without the surrounding quotes):
// control bytes, '"', '\\' and the awkward characters.
void append_double_escaped(std::string_view text, std::string& out);

}  // namespace quarvel::scalar_style
