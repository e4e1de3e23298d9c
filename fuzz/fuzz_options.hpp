// Option switches taken from the first bytes of a fuzz input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "decode/decoder.hpp"
#include "encode/emitter.hpp"

namespace quarvel::fuzz {

struct Input {
    std::uint8_t flags = 0;
    std::uint8_t layout = 0;
    std::string_view text;
};

inline Input split_input(const std::uint8_t* data, std::size_t size) {
    Input in;
    if (size >= 1) in.flags = data[0];
    if (size >= 2) in.layout = data[1];
    std::size_t skip = size >= 2 ? 2 : size;
    in.text = {reinterpret_cast<const char*>(data) + skip, size - skip};
    return in;
}

inline DecodeOptions decode_options(std::uint8_t flags) {
    DecodeOptions o;
    o.mode = static_cast<ResolverMode>((flags & 3) % 3);
    o.duplicate_keys_error = flags & 4;
    o.duplicate_keys_warn = !o.duplicate_keys_error && (flags & 8);
    o.reject_complex_keys = flags & 16;
    o.warn_1_1 = o.mode != ResolverMode::Core12 && (flags & 32);
    return o;
}

inline EmitterSettings emitter_settings(std::uint8_t layout) {
    EmitterSettings s;
    s.indent = (layout & 1) ? 4 : 2;
    s.flow = layout & 2;
    s.indentless = layout & 4;
    s.prefer_double_quotes = !(layout & 8);
    s.null_style = static_cast<NullStyle>(((layout >> 4) & 3) % 3);
    s.explicit_start = layout & 64;
    s.explicit_end = layout & 128;
    static constexpr std::uint64_t widths[] = {0, 1, 8, 20, 40, 80};
    s.width = widths[(layout >> 2) % 6];
    return s;
}

}  // namespace quarvel::fuzz
