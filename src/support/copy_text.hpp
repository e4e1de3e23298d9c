// Copying short texts without a call into the C library: most keys and
// values are a few bytes long, and a call to memcpy costs more than moving
// them.
#pragma once

#include <cstddef>
#include <cstring>

namespace quarvel {

namespace copy_detail {

template <std::size_t N>
inline void copy_fixed(char* to, const char* from) {
    char bytes[N];
    std::memcpy(bytes, from, N);
    std::memcpy(to, bytes, N);
}

}  // namespace copy_detail

inline constexpr std::size_t kShortCopy = 32;

// Copies n bytes, 1 <= n <= kShortCopy, as two fixed-size moves that overlap
// in the middle (the first and the last 16, 8 or 4 bytes), reading nothing
// past the end of the text.
inline void copy_short(char* to, const char* from, std::size_t n) {
    using copy_detail::copy_fixed;
    if (n >= 16) {
        copy_fixed<16>(to, from);
        copy_fixed<16>(to + n - 16, from + n - 16);
    } else if (n >= 8) {
        copy_fixed<8>(to, from);
        copy_fixed<8>(to + n - 8, from + n - 8);
    } else if (n >= 4) {
        copy_fixed<4>(to, from);
        copy_fixed<4>(to + n - 4, from + n - 4);
    } else {
        to[0] = from[0];
        to[n / 2] = from[n / 2];
        to[n - 1] = from[n - 1];
    }
}

// Copies n bytes of text, short ones without calling memcpy.
inline void copy_text(char* to, const char* from, std::size_t n) {
    if (n - 1 < kShortCopy) {
        copy_short(to, from, n);
    } else if (n != 0) {
        std::memcpy(to, from, n);
    }
}

}  // namespace quarvel
