// UTF-8 helpers shared by the input decoder, the scanner and the emitters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "support/error.hpp"

namespace quarvel::utf8 {

// Writes the UTF-8 encoding of code point cp (which must be a scalar value)
// at d, and returns the end of what it wrote (1 to 4 bytes).
inline char* encode(char32_t cp, char* d) {
    if (cp < 0x80) {
        *d++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *d++ = static_cast<char>(0xC0 | (cp >> 6));
        *d++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *d++ = static_cast<char>(0xE0 | (cp >> 12));
        *d++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *d++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *d++ = static_cast<char>(0xF0 | (cp >> 18));
        *d++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *d++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *d++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return d;
}

// Appends the UTF-8 encoding of code point cp (which must be a scalar value).
inline void append(std::string& out, char32_t cp) {
    char bytes[4];
    out.append(bytes, encode(cp, bytes));
}

// Whether cp is a surrogate code point, which has no UTF-8 spelling.
constexpr bool is_surrogate(char32_t cp) {
    return (cp & 0xFFFFF800) == 0xD800;
}

// Length of the sequence introduced by lead byte b (1 for ASCII and, so that
// scanning always advances, for stray bytes).
inline std::size_t sequence_length(unsigned char b) {
    if (b < 0xC0) return 1;
    if (b < 0xE0) return 2;
    if (b < 0xF0) return 3;
    return 4;
}

// Decodes the code point at text[i] of valid UTF-8.
inline char32_t decode_at(std::string_view text, std::size_t i) {
    auto b = static_cast<unsigned char>(text[i]);
    if (b < 0x80) return b;
    std::size_t n = sequence_length(b);
    if (i + n > text.size()) return 0xFFFD;
    char32_t cp = b & (0x7F >> n);
    for (std::size_t k = 1; k < n; ++k)
        cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
    return cp;
}

// The text as a double-quoted literal with backslash escapes (quotes,
// backslashes, \n \r \t \0, other control characters as \u{hex}), for
// messages that show a value.
std::string quoted_literal(std::string_view text);

// Number of code points in valid UTF-8 text.
std::size_t count_chars(std::string_view text);

struct Utf8Fault {
    std::size_t valid_up_to;
    std::optional<std::size_t> error_len;  // none: the text ends inside a sequence
};

// Validates the whole text; returns the first fault, if any.
std::optional<Utf8Fault> validate(std::string_view bytes);

// "invalid utf-8 sequence of N bytes from index I" or
// "incomplete utf-8 byte sequence from index I".
std::string describe(const Utf8Fault& fault);

// Turns raw input bytes into UTF-8 text: byte order marks and zero-byte
// patterns select UTF-16 or UTF-32; anything else must be valid UTF-8.
// The code point of a byte order mark stays in the text.
Result<std::string> decode_input(std::string_view bytes);
// The same for bytes the caller gives up: UTF-8 becomes the text uncopied.
Result<std::string> decode_input(std::string&& bytes);

// The two halves of decode_input: text in UTF-16 or UTF-32 transcoded (none
// when the bytes are to be read as UTF-8), and the check of UTF-8 text.
std::optional<Result<std::string>> transcode_input(std::string_view bytes);
Status check_input(std::string_view bytes);

}  // namespace quarvel::utf8
