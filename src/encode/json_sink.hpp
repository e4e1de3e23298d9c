// The spellings of JSON scalars, shared by the writer of value trees and the
// direct writer of Python objects.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "encode/text_sink.hpp"
#include "support/int_format.hpp"
#include "support/simd.hpp"

namespace quarvel {

inline void put_json_int(std::int64_t i, TextSink& out) {
    out.commit(write_decimal(i, out.room(kMaxDecimalRoom)));
}

// NaN and the infinities as null; else the shortest digits that read back,
// positional, with ".0" when they would read as an integer.
void put_json_float(double x, TextSink& out);

namespace json_detail {

#ifdef QUARVEL_SSE2
// One bit per byte of v that is a control character, '"', '\\' or 0xE2
// (the lead byte of U+2028 and U+2029, which are escaped).
inline unsigned special_bytes16(__m128i v) {
    const __m128i limit = _mm_set1_epi8(0x1F);
    const __m128i control = _mm_cmpeq_epi8(_mm_max_epu8(v, limit), limit);
    const __m128i quote = _mm_cmpeq_epi8(v, _mm_set1_epi8('"'));
    const __m128i backslash = _mm_cmpeq_epi8(v, _mm_set1_epi8('\\'));
    const __m128i lead = _mm_cmpeq_epi8(v, _mm_set1_epi8(static_cast<char>(0xE2)));
    const __m128i any = _mm_or_si128(_mm_or_si128(control, quote), _mm_or_si128(backslash, lead));
    return static_cast<unsigned>(_mm_movemask_epi8(any));
}
#endif

#if defined(QUARVEL_SSE2) && !defined(QUARVEL_NO_OVERREAD)
// Reads the 16 bytes at p into v when the text of n bytes there (1 to 16)
// needs no escape and the read stays within p's page. An empty text may have
// no readable byte at all (a null pointer, or one just past the end of a
// mapping).
inline bool short_plain_block(const char* p, std::size_t n, __m128i& v) {
    if (n == 0 || n > 16 || !sixteen_in_page(p)) return false;
    v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    return (special_bytes16(v) & ((1U << n) - 1)) == 0;
}

// Writes the text of 1 to 16 bytes at p, quoted, when short_plain_block
// takes it. False, with nothing committed, when the caller must take the
// general way.
inline bool put_short_plain(const char* p, std::size_t n, TextSink& out) {
    __m128i v;
    if (!short_plain_block(p, n, v)) return false;
    char* dst = out.room(18);
    dst[0] = '"';
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 1), v);
    dst[n + 1] = '"';
    out.commit(dst + n + 2);
    return true;
}

// Writes a compact mapping's `,"key":` (without the comma before the first
// member) for a key that short_plain_block takes: one reservation for the
// separators and the key. False, with nothing committed, otherwise.
inline bool put_short_key(const char* p, std::size_t n, bool first, TextSink& out) {
    __m128i v;
    if (!short_plain_block(p, n, v)) return false;
    char* dst = out.room(20);
    dst[0] = ',';
    char* at = first ? dst : dst + 1;
    at[0] = '"';
    _mm_storeu_si128(reinterpret_cast<__m128i*>(at + 1), v);
    at[n + 1] = '"';
    at[n + 2] = ':';
    out.commit(at + n + 3);
    return true;
}
#else
// Without SSE2, or where no byte past a text may be read: the general way.
inline bool put_short_plain(const char*, std::size_t, TextSink&) {
    return false;
}
inline bool put_short_key(const char*, std::size_t, bool, TextSink&) {
    return false;
}
#endif

}  // namespace json_detail

namespace json_detail {

// Texts up to this long are written in one reservation.
inline constexpr std::size_t kPlainChunk = 4096;

// Writes the n bytes at p (16 < n <= kPlainChunk), quoted, at d, which has
// room for n + 2 bytes, when none of them needs escaping: returns the end of
// what it wrote, or null (with bytes written past d that the caller does not
// commit) when some byte needs a look. Chosen once for the processor.
extern char* (*const put_plain_quoted)(const char* p, std::size_t n, char* d);

}  // namespace json_detail

// A double-quoted JSON string of UTF-8 text; the general way, which escapes.
void put_json_string_escaped(std::string_view text, TextSink& out);

// A double-quoted JSON string of UTF-8 text. Plain texts, most keys and
// values, are copied without the escaping writer's set-up: short ones inline,
// longer ones by a copy that tests each block as it stores it.
inline void put_json_string(std::string_view text, TextSink& out) {
    const std::size_t n = text.size();
    if (json_detail::put_short_plain(text.data(), n, out)) return;
    if (n > 16 && n <= json_detail::kPlainChunk) {
        if (char* end = json_detail::put_plain_quoted(text.data(), n, out.room(n + 2))) {
            out.commit(end);
            return;
        }
    }
    put_json_string_escaped(text, out);
}

// A double-quoted JSON string of n code points stored one per unit (Latin-1
// bytes, UCS-2 or UCS-4, as a Python str keeps its text), written as UTF-8
// with the escapes of the UTF-8 writer above. False, with the sink as it was,
// when the text holds a surrogate code point, which has no UTF-8 spelling.
bool put_json_string(const std::uint8_t* latin1, std::size_t n, TextSink& out);
bool put_json_string(const std::uint16_t* ucs2, std::size_t n, TextSink& out);
bool put_json_string(const std::uint32_t* ucs4, std::size_t n, TextSink& out);

// The layout between members: compact, or indented by `indent` spaces per level.
struct JsonLayout {
    unsigned indent = 0;

    void line_break(TextSink& out, std::size_t depth) const {
        out.put('\n');
        out.spaces(depth * indent);
    }
    void open_member(TextSink& out, bool first, std::size_t depth) const {
        if (!first) out.put(',');
        if (indent != 0) line_break(out, depth + 1);
    }
    void close(TextSink& out, char bracket, std::size_t depth) const {
        if (indent != 0) line_break(out, depth);
        out.put(bracket);
    }
    void key_separator(TextSink& out) const {
        if (indent != 0) {
            out.put(": ");
        } else {
            out.put(':');
        }
    }
};

// JsonLayout without indentation, known to have none where the code is
// compiled, for writers that are built for each layout.
struct CompactJsonLayout {
    static void open_member(TextSink& out, bool first, std::size_t) {
        if (!first) out.put(',');
    }
    static void close(TextSink& out, char bracket, std::size_t) { out.put(bracket); }
    static void key_separator(TextSink& out) { out.put(':'); }
};

}  // namespace quarvel
