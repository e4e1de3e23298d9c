// UTF-8 helpers shared by the input decoder, the scanner and the emitters.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
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

namespace word {

constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;
constexpr std::uint64_t kLowBits = 0x0101010101010101ULL;

inline std::uint64_t load(const char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, 8);
    return w;
}

// Continuation bytes (10xxxxxx) in a word: the high bit set, the next one
// clear. Each byte's flag moved to its low bit, the multiplication sums the
// eight bytes into the top one (a builtin popcount is a library call in a
// build for the baseline x86-64).
inline unsigned continuation_bytes(std::uint64_t w) {
    const std::uint64_t flags = (w & ~(w << 1) & kHighBits) >> 7;
    return static_cast<unsigned>((flags * kLowBits) >> 56);
}

// Whether some byte of the word is '\n' or '\r'.
inline bool has_break(std::uint64_t w) {
    const std::uint64_t lf = w ^ (kLowBits * '\n');
    const std::uint64_t cr = w ^ (kLowBits * '\r');
    return (((lf - kLowBits) & ~lf) | ((cr - kLowBits) & ~cr)) & kHighBits;
}

}  // namespace word

// Number of code points in valid UTF-8 text: a character starts at every
// byte that is not a continuation byte, counted eight bytes at a time.
inline std::size_t count_chars(std::string_view text) {
    const char* p = text.data();
    const std::size_t n = text.size();
    std::size_t continuations = 0;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) continuations += word::continuation_bytes(word::load(p + i));
    for (; i < n; ++i) continuations += (static_cast<unsigned char>(p[i]) & 0xC0) == 0x80;
    return n - continuations;
}

// The characters of text[begin, end) when they hold no line break ('\n' or
// '\r'); none when they do. Columns of a node that ends on the line it starts
// on. Words are read from `text` even past `end` (those bytes are masked
// off), so a short range costs one or two words, not a loop per byte.
inline std::optional<std::size_t> count_chars_on_one_line(std::string_view text, std::size_t begin,
                                                          std::size_t end) {
    end = end < text.size() ? end : text.size();
    if (begin >= end) return 0;
    const char* p = text.data();
    std::size_t continuations = 0;
    std::size_t i = begin;
    for (; i + 8 <= end; i += 8) {
        const std::uint64_t w = word::load(p + i);
        if (word::has_break(w)) return std::nullopt;
        continuations += word::continuation_bytes(w);
    }
    if (i < end && i + 8 <= text.size() && std::endian::native == std::endian::little) {
        // The low bytes of a little-endian word come first; zero bytes are
        // neither breaks nor continuation bytes.
        const std::uint64_t w = word::load(p + i) & (~std::uint64_t{0} >> (8 * (8 - (end - i))));
        if (word::has_break(w)) return std::nullopt;
        return end - begin - continuations - word::continuation_bytes(w);
    }
    for (; i < end; ++i) {
        const auto c = static_cast<unsigned char>(p[i]);
        if (c == '\n' || c == '\r') return std::nullopt;
        continuations += (c & 0xC0) == 0x80;
    }
    return end - begin - continuations;
}

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
