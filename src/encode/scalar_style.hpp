// Byte-level decisions about how a string can be written as a YAML scalar,
// shared by the block/flow emitter and its tests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quarvel::scalar_style {

// Byte classes used by the quoting scans.
inline constexpr std::uint8_t kControl = 1;        // below 0x20 or 0x7F
inline constexpr std::uint8_t kStartIndicator = 2;  // cannot begin a plain scalar
inline constexpr std::uint8_t kInnerSpecial = 4;    // '#' or ':' (context decides)
inline constexpr std::uint8_t kFlowIndicator = 8;   // , [ ] { }
inline constexpr std::uint8_t kEscape = 16;         // needs an escape inside double quotes

struct ByteTable {
    std::uint8_t cls[256];
};
const ByteTable& byte_table();

inline std::uint8_t byte_class(char c) { return byte_table().cls[static_cast<unsigned char>(c)]; }

// True when the text holds one of , [ ] { } (which end a plain scalar in flow context).
bool has_flow_indicator(std::string_view text);

// A literal block scalar can carry the text exactly.
bool fits_literal(std::string_view text);

// The text can sit between apostrophes without escapes or line breaks.
bool fits_single_quotes(std::string_view text);

// Appends the text with double-quote escapes (without the surrounding quotes).
void append_double_escaped(std::string_view text, std::string& out);

}  // namespace quarvel::scalar_style
