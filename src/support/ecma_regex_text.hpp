// Reading code points from UTF-8 for the regular-expression engine: strictly
// for patterns (a malformed pattern is refused), and forgivingly for the
// searched text, where each byte that does not begin a well-formed sequence
// reads as one U+FFFD so that any bytes can be searched without harm.
#pragma once

#include <cstddef>
#include <string_view>

namespace quarvel::ecma_regex_detail {

// The well-formed sequence at s[i]: its code point in `out` and its length,
// or 0 when the bytes there are not one (overlong forms, surrogates, values
// past U+10FFFF, stray continuation bytes and truncated sequences included).
inline std::size_t decode_strict(std::string_view s, std::size_t i, char32_t& out) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
    unsigned char b = byte(0);
    if (b < 0x80) {
        out = b;
        return 1;
    }
    std::size_t n;
    char32_t cp;
    char32_t min;
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2, cp = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3, cp = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4, cp = b & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (std::size_t k = 1; k < n; ++k) {
        if ((byte(k) & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (byte(k) & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    out = cp;
    return n;
}

// The code point at text[i] (i < size) and its length; a malformed byte is
// one U+FFFD.
inline std::size_t decode_at(std::string_view text, std::size_t i, char32_t& out) {
    std::size_t n = decode_strict(text, i, out);
    if (n != 0) return n;
    out = 0xFFFD;
    return 1;
}

// The code point that ends at text[i] (i > 0) and its length, read so as to
// agree with decode_at reading forwards: a well-formed sequence ending at i,
// or else the single byte before i as U+FFFD.
inline std::size_t decode_before(std::string_view text, std::size_t i, char32_t& out) {
    for (std::size_t n = 2; n <= 4 && n <= i; ++n) {
        char32_t c = 0;
        if (decode_strict(text, i - n, c) == n) {
            out = c;
            return n;
        }
        if ((static_cast<unsigned char>(text[i - n + 1]) & 0xC0) != 0x80) break;
    }
    std::size_t n = decode_strict(text, i - 1, out);
    if (n == 1) return 1;
    out = 0xFFFD;
    return 1;
}

}  // namespace quarvel::ecma_regex_detail
