// Unicode White_Space, for trimming text that comes from comments.
#pragma once

#include <string_view>

#include "support/utf8.hpp"

namespace quarvel {

inline bool is_unicode_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F ||
           c == 0x205F || c == 0x3000;
}

// Byte length of the white-space run at the start of valid UTF-8 text.
inline std::size_t leading_space_bytes(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        char32_t c = utf8::decode_at(s, i);
        if (!is_unicode_space(c)) break;
        i += utf8::sequence_length(static_cast<unsigned char>(s[i]));
    }
    return i;
}

// Byte length of the text once trailing white space is removed.
inline std::size_t length_without_trailing_space(std::string_view s) {
    std::size_t end = s.size();
    while (end > 0) {
        std::size_t start = end - 1;
        while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80) --start;
        if (!is_unicode_space(utf8::decode_at(s, start))) break;
        end = start;
    }
    return end;
}

inline std::string_view trim_unicode_space(std::string_view s) {
    s.remove_prefix(leading_space_bytes(s));
    return s.substr(0, length_without_trailing_space(s));
}

}  // namespace quarvel
