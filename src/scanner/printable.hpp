// Characters a YAML stream may hold. Outside quoted scalars only printable
// characters are allowed: tab, line feed and carriage return, U+0020..U+007E,
// NEL (U+0085), U+00A0 and up, except the non-characters U+FFFE and U+FFFF.
// Quoted scalars also take DEL, the C1 controls and U+FFFE/U+FFFF, since JSON
// strings may hold them raw; the other C0 controls are refused everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace quarvel::scan {

struct Unprintable {
    std::size_t offset = 0;       // of the character's first byte
    char32_t code_point = 0;      // what it is, for the message
    bool allowed_quoted = false;  // DEL, C1, U+FFFE, U+FFFF
};

// The first character at or after byte `from` of valid UTF-8 `text` that is
// not printable; offset == text.size() when there is none. The common case,
// a text without any, is one pass of 16-byte blocks.
Unprintable next_unprintable(std::string_view text, std::size_t from);

// What a text written on one line outside quotes (a comment, an anchor name)
// cannot hold: an unprintable character, a line break of any kind (LF, CR,
// and NEL, U+2028, U+2029, which some readers take for one), or the byte
// order mark.
struct OffLine {
    char32_t code_point = 0;
    bool line_break = false;
};

// The first such character of valid UTF-8 `text`; nullopt when there is none.
std::optional<OffLine> first_off_line(std::string_view text);

}  // namespace quarvel::scan
