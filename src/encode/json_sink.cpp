#include "encode/json_sink.hpp"

#include <array>
#include <bit>
#include <cmath>

#if defined(__SSE2__) && !defined(QUARVEL_NO_SIMD) && defined(__x86_64__)
#include <immintrin.h>
#endif

#include "support/float_format.hpp"
#include "support/utf8.hpp"

namespace quarvel {
namespace {

// Per byte: 0 copies unchanged; 1 is a control character written as \u00XX;
// 2 is the lead byte of U+2028/U+2029 candidates; other values are the
// letter of a short escape (\n, \", ...).
constexpr std::array<unsigned char, 256> make_escape_table() {
    std::array<unsigned char, 256> t{};
    for (int c = 0; c < 0x20; ++c) t[c] = 1;
    t['\b'] = 'b';
    t['\t'] = 't';
    t['\n'] = 'n';
    t['\f'] = 'f';
    t['\r'] = 'r';
    t['"'] = '"';
    t['\\'] = '\\';
    t[0xE2] = 2;
    return t;
}
constexpr auto kEscape = make_escape_table();

// Writes the escape of ASCII character c, whose kEscape code is 1 (a
// control character without a short escape) or a letter.
inline void put_ascii_escape(unsigned char c, unsigned char code, char*& d) {
    static constexpr char kHex[] = "0123456789abcdef";
    if (code == 1) {
        const char u[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
        std::memcpy(d, u, sizeof u);
        d += sizeof u;
    } else {
        *d++ = '\\';
        *d++ = static_cast<char>(code);
    }
}

// U+2028 and U+2029 end statements in JavaScript: they are written escaped.
inline void put_separator_escape(bool paragraph, char*& d) {
    std::memcpy(d, paragraph ? "\\u2029" : "\\u2028", 6);
    d += 6;
}

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

constexpr std::uint64_t has_zero_byte(std::uint64_t w) {
    return (w - kOnes) & ~w & kHighs;
}

// Whether any of eight bytes is a control character, '"', '\\' or 0xE2, so
// runs of plain text are skipped a word at a time. False positives only
// cost a byte-wise look.
bool word_may_need_escape(const char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    std::uint64_t control = (w - kOnes * 0x20) & ~w & kHighs;
    return (control | has_zero_byte(w ^ (kOnes * '"')) | has_zero_byte(w ^ (kOnes * '\\')) |
            has_zero_byte(w ^ (kOnes * 0xE2))) != 0;
}

#if defined(QUARVEL_SSE2) && defined(__x86_64__) && defined(__GNUC__)
#define QUARVEL_JSON_AVX2 1

// Whether this processor has AVX2, for texts of 32 bytes and more: asked
// once, as the module loads.
const bool kHasAvx2 = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}();

// special_bytes16 for 32 bytes.
[[gnu::target("avx2"), gnu::always_inline]] inline unsigned special_bytes32(__m256i v) {
    const __m256i limit = _mm256_set1_epi8(0x1F);
    const __m256i control = _mm256_cmpeq_epi8(_mm256_max_epu8(v, limit), limit);
    const __m256i quote = _mm256_cmpeq_epi8(v, _mm256_set1_epi8('"'));
    const __m256i backslash = _mm256_cmpeq_epi8(v, _mm256_set1_epi8('\\'));
    const __m256i lead = _mm256_cmpeq_epi8(v, _mm256_set1_epi8(static_cast<char>(0xE2)));
    const __m256i any =
        _mm256_or_si256(_mm256_or_si256(control, quote), _mm256_or_si256(backslash, lead));
    return static_cast<unsigned>(_mm256_movemask_epi8(any));
}

// copy_plain's loop with 32-byte blocks, for a text of 32 bytes or more:
// stops at the end or at a byte that needs a look.
[[gnu::target("avx2")]] const char* copy_plain_avx2(const char* p, const char* stop, char*& dst) {
    // The output cursor is kept here, not stored through `dst` each block.
    const char* const start = p;
    char* d = dst;
    while (stop - p >= 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), v);
        if (const unsigned mask = special_bytes32(v)) {
            const int plain = std::countr_zero(mask);
            dst = d + plain;
            return p + plain;
        }
        p += 32;
        d += 32;
    }
    if (p != stop && p - start >= 32) {
        const auto back = static_cast<unsigned>(32 - (stop - p));
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(stop - 32));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d - back), v);
        const unsigned mask = special_bytes32(v) >> back;
        const auto plain = mask != 0 ? static_cast<std::size_t>(std::countr_zero(mask))
                                     : static_cast<std::size_t>(stop - p);
        dst = d + plain;
        return p + plain;
    }
    dst = d;
    return p;
}
#endif

// Copies bytes that need no escape from [p, stop) to d, sixteen at a time,
// testing them as they go; stops at or before the first byte that needs a
// look and returns where. Each block is stored before it is tested: the bytes
// past a special one are written over later. When at least sixteen bytes
// were copied, the last part block is the sixteen bytes before `stop`, read
// again in part, so that no byte-wise loop runs at the end.
[[gnu::always_inline]] inline const char* copy_plain(const char* p, const char* stop, char*& d) {
#ifdef QUARVEL_JSON_AVX2
    if (stop - p >= 32 && kHasAvx2) {
        p = copy_plain_avx2(p, stop, d);
        if (p == stop) return p;
    }
#endif
#ifdef QUARVEL_SSE2
    const char* const start = p;
    // Two blocks a turn, tested together: one branch per 32 bytes.
    while (stop - p >= 32) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), a);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d + 16), b);
        if (json_detail::special_bytes16(a) | json_detail::special_bytes16(b)) break;
        p += 32;
        d += 32;
    }
    while (stop - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v);
        if (const unsigned mask = json_detail::special_bytes16(v)) {
            const int plain = std::countr_zero(mask);
            d += plain;
            return p + plain;
        }
        p += 16;
        d += 16;
    }
    if (p != stop && p - start >= 16) {
        const auto back = static_cast<unsigned>(16 - (stop - p));
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(stop - 16));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d - back), v);
        const unsigned mask = json_detail::special_bytes16(v) >> back;
        const auto plain = mask != 0 ? static_cast<std::size_t>(std::countr_zero(mask))
                                     : static_cast<std::size_t>(stop - p);
        d += plain;
        return p + plain;
    }
#endif
    const char* run = p;
    while (stop - p >= 8 && !word_may_need_escape(p)) p += 8;
    std::memcpy(d, run, static_cast<std::size_t>(p - run));
    d += p - run;
    return p;
}

// put_plain_quoted's ways, for 16 < n <= kPlainChunk. Each stores every
// block as it reads it and gathers the blocks' tests, so the loop takes no
// branch but its own; the last block is the one ending at p + n, read again
// in part. A text that needs escapes is written again by the escaping writer.
[[maybe_unused]] char* plain_quoted_bytewise(const char* p, std::size_t n, char* d) {
    bool special = false;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) special |= word_may_need_escape(p + i);
    for (; i < n; ++i) special |= kEscape[static_cast<unsigned char>(p[i])] != 0;
    if (special) return nullptr;
    *d++ = '"';
    std::memcpy(d, p, n);
    d += n;
    *d++ = '"';
    return d;
}

#ifdef QUARVEL_SSE2
char* plain_quoted_sse2(const char* p, std::size_t n, char* d) {
    const char* const stop = p + n;
    *d++ = '"';
    unsigned special = 0;
    while (stop - p > 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(d), v);
        special |= json_detail::special_bytes16(v);
        p += 16;
        d += 16;
    }
    const std::ptrdiff_t back = 16 - (stop - p);
    const __m128i last = _mm_loadu_si128(reinterpret_cast<const __m128i*>(stop - 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d - back), last);
    special |= json_detail::special_bytes16(last);
    if (special != 0) return nullptr;
    d += stop - p;
    *d++ = '"';
    return d;
}
#endif

#ifdef QUARVEL_JSON_AVX2
[[gnu::target("avx2")]] char* plain_quoted_avx2(const char* p, std::size_t n, char* d) {
    if (n < 32) return plain_quoted_sse2(p, n, d);
    const char* const stop = p + n;
    *d++ = '"';
    unsigned special = 0;
    while (stop - p > 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), v);
        special |= special_bytes32(v);
        p += 32;
        d += 32;
    }
    const std::ptrdiff_t back = 32 - (stop - p);
    const __m256i last = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(stop - 32));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(d - back), last);
    special |= special_bytes32(last);
    if (special != 0) return nullptr;
    d += stop - p;
    *d++ = '"';
    return d;
}
#endif

using PlainQuoted = char* (*)(const char*, std::size_t, char*);

PlainQuoted choose_plain_quoted() {
#ifdef QUARVEL_JSON_AVX2
    if (kHasAvx2) return &plain_quoted_avx2;
#endif
#ifdef QUARVEL_SSE2
    return &plain_quoted_sse2;
#else
    return &plain_quoted_bytewise;
#endif
}

// Escapes [p, stop) into dst, which has room for 6 bytes per input byte
// (a U+2028 sequence may run up to two bytes past `stop`, within `end`).
// Returns the input position reached.
const char* escape_run(const char* p, const char* stop, const char* end, char*& dst) {
    char* d = dst;
    while (p < stop) {
        p = copy_plain(p, stop, d);
        while (p != stop && kEscape[static_cast<unsigned char>(*p)] == 0) *d++ = *p++;
        if (p == stop) break;
        const unsigned char code = kEscape[static_cast<unsigned char>(*p)];
        if (code == 2) {
            if (end - p >= 3 && static_cast<unsigned char>(p[1]) == 0x80 &&
                (static_cast<unsigned char>(p[2]) == 0xA8 ||
                 static_cast<unsigned char>(p[2]) == 0xA9)) {
                put_separator_escape(p[2] == '\xA9', d);
                p += 3;
            } else {
                *d++ = *p++;
            }
        } else {
            put_ascii_escape(static_cast<unsigned char>(*p), code, d);
            ++p;
        }
    }
    dst = d;
    return p;
}

// Writes code point c as UTF-8 with put_json_string's escapes; false for a
// surrogate.
[[gnu::always_inline]] inline bool put_code_point(char32_t c, char*& d) {
    if (c < 0x80) {
        if (const unsigned char code = kEscape[c]) {
            put_ascii_escape(static_cast<unsigned char>(c), code, d);
        } else {
            *d++ = static_cast<char>(c);
        }
        return true;
    }
    if (utf8::is_surrogate(c)) return false;
    if ((c | 1) == 0x2029) {
        put_separator_escape(c == 0x2029, d);
        return true;
    }
    d = utf8::encode(c, d);
    return true;
}

#ifdef QUARVEL_JSON_AVX2

// How four code points below U+10000, each spread over the low bytes of a
// 32-bit lane, are packed into their UTF-8 bytes: indexed by one bit per
// lane for "below U+0080" (bits 0-3) and one for "below U+0800" (bits 4-7).
// `mask` picks the bytes for a byte shuffle; `length` is their count.
struct Utf8Packing {
    alignas(16) unsigned char mask[16];
    unsigned char length;
};

constexpr std::array<Utf8Packing, 256> make_utf8_packings() {
    std::array<Utf8Packing, 256> table{};
    for (unsigned index = 0; index < 256; ++index) {
        Utf8Packing& entry = table[index];
        unsigned at = 0;
        for (unsigned lane = 0; lane < 4; ++lane) {
            const unsigned bytes = (index >> lane & 1) ? 1 : (index >> (lane + 4) & 1) ? 2 : 3;
            for (unsigned b = 0; b < bytes; ++b)
                entry.mask[at++] = static_cast<unsigned char>(4 * lane + b);
        }
        for (unsigned rest = at; rest < 16; ++rest) entry.mask[rest] = 0x80;
        entry.length = static_cast<unsigned char>(at);
    }
    return table;
}
constexpr auto kUtf8Packings = make_utf8_packings();

// Whether any of eight code points, one per 32-bit lane, is one that
// put_code_point writes other than as its plain UTF-8 bytes (an ASCII
// character it escapes, U+2028/U+2029, a surrogate) or one past U+FFFF,
// which the packing below does not spell. Units of one byte hold none but
// the first kind, and of two bytes none past U+FFFF.
template <class Unit>
[[gnu::target("avx2"), gnu::always_inline]] inline bool needs_look8(__m256i u) {
    const __m256i control = _mm256_cmpeq_epi32(_mm256_srli_epi32(u, 5), _mm256_setzero_si256());
    const __m256i quote = _mm256_cmpeq_epi32(u, _mm256_set1_epi32('"'));
    const __m256i backslash = _mm256_cmpeq_epi32(u, _mm256_set1_epi32('\\'));
    __m256i any = _mm256_or_si256(control, _mm256_or_si256(quote, backslash));
    if constexpr (sizeof(Unit) > 1) {
        // U+2028/U+2029 and the surrogates U+D800-U+DFFF by their top bits.
        const __m256i separator =
            _mm256_cmpeq_epi32(_mm256_srli_epi32(u, 1), _mm256_set1_epi32(0x2028 >> 1));
        const __m256i surrogate =
            _mm256_cmpeq_epi32(_mm256_srli_epi32(u, 11), _mm256_set1_epi32(0xD800 >> 11));
        any = _mm256_or_si256(any, _mm256_or_si256(separator, surrogate));
    }
    if constexpr (sizeof(Unit) > 2)
        any = _mm256_or_si256(any, _mm256_cmpgt_epi32(u, _mm256_set1_epi32(0xFFFF)));
    return !_mm256_testz_si256(any, any);
}

// Writes eight code points below U+10000 that need no escape as UTF-8 at d
// (storing 32 bytes, of which up to 24 are the text); returns the end.
// Latin-1 units take one or two bytes each: their three-byte form is not made.
template <class Unit>
[[gnu::target("avx2"), gnu::always_inline]] inline char* put_utf8_8(__m256i u, char* d) {
    const __m256i one_byte = _mm256_cmpeq_epi32(_mm256_srli_epi32(u, 7), _mm256_setzero_si256());
    const auto ones = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(one_byte)));
    if (ones == 0xFF) {
        // Eight ASCII characters, common in texts with a few wider ones:
        // their low bytes, narrowed without the packing table.
        const __m256i words = _mm256_packus_epi32(u, u);
        const __m256i bytes = _mm256_packus_epi16(words, words);
        const __m128i both =
            _mm_unpacklo_epi32(_mm256_castsi256_si128(bytes), _mm256_extracti128_si256(bytes, 1));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(d), both);
        return d + 8;
    }
    const __m256i low6 = _mm256_set1_epi32(0x3F);
    const __m256i follow = _mm256_set1_epi32(0x80);
    const __m256i last = _mm256_or_si256(_mm256_and_si256(u, low6), follow);
    const __m256i two =
        _mm256_or_si256(_mm256_or_si256(_mm256_srli_epi32(u, 6), _mm256_set1_epi32(0xC0)),
                        _mm256_slli_epi32(last, 8));
    __m256i spread;
    unsigned twos = 0xFF;
    if constexpr (sizeof(Unit) == 1) {
        spread = _mm256_blendv_epi8(two, u, one_byte);
    } else {
        const __m256i middle =
            _mm256_or_si256(_mm256_and_si256(_mm256_srli_epi32(u, 6), low6), follow);
        const __m256i three = _mm256_or_si256(
            _mm256_or_si256(_mm256_srli_epi32(u, 12), _mm256_set1_epi32(0xE0)),
            _mm256_or_si256(_mm256_slli_epi32(middle, 8), _mm256_slli_epi32(last, 16)));
        const __m256i two_bytes =
            _mm256_cmpeq_epi32(_mm256_srli_epi32(u, 11), _mm256_setzero_si256());
        spread = _mm256_blendv_epi8(_mm256_blendv_epi8(three, two, two_bytes), u, one_byte);
        twos = static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(two_bytes)));
    }
    const Utf8Packing& low = kUtf8Packings[(ones & 0xF) | (twos & 0xF) << 4];
    const Utf8Packing& high = kUtf8Packings[(ones >> 4) | (twos >> 4) << 4];
    const __m256i mask = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(low.mask))),
        _mm_load_si128(reinterpret_cast<const __m128i*>(high.mask)), 1);
    const __m256i packed = _mm256_shuffle_epi8(spread, mask);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm256_castsi256_si128(packed));
    d += low.length;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(d), _mm256_extracti128_si256(packed, 1));
    return d + high.length;
}

// Eight code units from p, one per 32-bit lane.
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i load8(const std::uint8_t* p) {
    return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)));
}
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i load8(const std::uint16_t* p) {
    return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}
[[gnu::target("avx2"), gnu::always_inline]] inline __m256i load8(const std::uint32_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// put_code_points' loop with blocks of eight code points: a block that
// needs a look goes through put_code_point one by one. Returns where it
// stopped (fewer than eight before `stop`), or null at a surrogate.
template <class Unit>
[[gnu::target("avx2")]] const Unit* put_code_points_avx2(const Unit* p, const Unit* stop,
                                                         char*& dst) {
    char* d = dst;
    while (stop - p >= 8) {
        const __m256i u = load8(p);
        if (needs_look8<Unit>(u)) [[unlikely]] {
            for (const Unit* block_end = p + 8; p != block_end; ++p)
                if (!put_code_point(*p, d)) return nullptr;
        } else {
            d = put_utf8_8<Unit>(u, d);
            p += 8;
        }
    }
    dst = d;
    return p;
}
#endif

// Writes the code points [p, stop) as UTF-8 with escapes into d, which has
// room for 6 bytes per code point and 16 more; false at a surrogate.
template <class Unit>
bool put_code_points(const Unit* p, const Unit* stop, char*& d) {
#ifdef QUARVEL_JSON_AVX2
    if (kHasAvx2 && !(p = put_code_points_avx2(p, stop, d))) return false;
#endif
    for (; p != stop; ++p)
        if (!put_code_point(*p, d)) return false;
    return true;
}

// A double-quoted JSON string of n code points from p; false, with the sink
// as it was, when the text holds a surrogate.
template <class Unit>
bool put_json_code_points(const Unit* p, std::size_t n, TextSink& out) {
    // Long texts go in chunks so the worst-case room stays small.
    constexpr std::size_t kChunk = 4096;
    const std::size_t start = out.position();
    out.put('"');
    for (const Unit* end = p + n; p != end;) {
        const Unit* stop = static_cast<std::size_t>(end - p) > kChunk ? p + kChunk : end;
        char* d = out.room(6 * static_cast<std::size_t>(stop - p) + 16);
        if (!put_code_points(p, stop, d)) {
            out.truncate(start);
            return false;
        }
        out.commit(d);
        p = stop;
    }
    out.put('"');
    return true;
}
}  // namespace

namespace json_detail {
char* (*const put_plain_quoted)(const char*, std::size_t, char*) = choose_plain_quoted();
}  // namespace json_detail

void put_json_float(double x, TextSink& out) {
    if (!std::isfinite(x)) {
        out.put("null");
        return;
    }
    char digits[kMaxFloatDigits];
    FloatShape shape;
    shortest_digits(x, digits, shape);
    out.commit(write_positional(shape, digits, out.room(kMaxPositionalFloat)));
}

void put_json_string_escaped(std::string_view text, TextSink& out) {
    // Long texts go in chunks so the worst-case room stays small; a shorter
    // one takes one reservation for its quotes and any escapes.
    constexpr std::size_t kChunk = json_detail::kPlainChunk;
    const char* p = text.data();
    const char* end = p + text.size();
    if (text.size() <= kChunk) {
        char* dst = out.room(6 * text.size() + 2);
        *dst++ = '"';
        // Most keys and values are short and plain: copy and test in one
        // loop, and escape (over the copy) only when some byte needs it.
        if (text.size() > 16) {
            // Plain texts are copied whole here; escaping goes on from the
            // first byte that needs a look.
            p = copy_plain(p, end, dst);
            if (p == end) {
                *dst++ = '"';
                out.commit(dst);
                return;
            }
        } else {
            unsigned char special = 0;
            for (std::size_t i = 0; i < text.size(); ++i) {
                const auto c = static_cast<unsigned char>(p[i]);
                special |= kEscape[c];
                dst[i] = static_cast<char>(c);
            }
            if (special == 0) {
                dst[text.size()] = '"';
                out.commit(dst + text.size() + 1);
                return;
            }
        }
        escape_run(p, end, end, dst);
        *dst++ = '"';
        out.commit(dst);
        return;
    }
    out.put('"');
    while (p < end) {
        const char* stop = end - p > static_cast<std::ptrdiff_t>(kChunk) ? p + kChunk : end;
        char* dst = out.room(6 * (static_cast<std::size_t>(stop - p) + 2));
        p = escape_run(p, stop, end, dst);
        out.commit(dst);
    }
    out.put('"');
}

bool put_json_string(const std::uint8_t* latin1, std::size_t n, TextSink& out) {
    return put_json_code_points(latin1, n, out);
}
bool put_json_string(const std::uint16_t* ucs2, std::size_t n, TextSink& out) {
    return put_json_code_points(ucs2, n, out);
}
bool put_json_string(const std::uint32_t* ucs4, std::size_t n, TextSink& out) {
    return put_json_code_points(ucs4, n, out);
}

}  // namespace quarvel
