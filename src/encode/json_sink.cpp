#include "encode/json_sink.hpp"

#include <array>
#include <bit>
#include <cmath>

#if defined(__SSE2__) && !defined(QUARVEL_NO_SIMD) && defined(__x86_64__)
#include <immintrin.h>
#endif

#include "support/float_format.hpp"

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

#if defined(QUARVEL_JSON_SSE2) && defined(__x86_64__) && defined(__GNUC__)
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
[[gnu::target("avx2")]] const char* copy_plain_avx2(const char* p, const char* stop, char*& d) {
    const char* const start = p;
    while (stop - p >= 32) {
        const __m256i v = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(d), v);
        if (const unsigned mask = special_bytes32(v)) {
            const int plain = std::countr_zero(mask);
            d += plain;
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
        d += plain;
        return p + plain;
    }
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
    const char* const start = p;
#ifdef QUARVEL_JSON_SSE2
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

// Escapes [p, stop) into dst, which has room for 6 bytes per input byte
// (a U+2028 sequence may run up to two bytes past `stop`, within `end`).
// Returns the input position reached.
const char* escape_run(const char* p, const char* stop, const char* end, char*& dst) {
    static constexpr char kHex[] = "0123456789abcdef";
    char* d = dst;
    while (p < stop) {
        p = copy_plain(p, stop, d);
        while (p != stop && kEscape[static_cast<unsigned char>(*p)] == 0) *d++ = *p++;
        if (p == stop) break;
        unsigned char code = kEscape[static_cast<unsigned char>(*p)];
        if (code == 2) {
            // U+2028 and U+2029 (E2 80 A8/A9) end statements in JavaScript.
            if (end - p >= 3 && static_cast<unsigned char>(p[1]) == 0x80 &&
                (static_cast<unsigned char>(p[2]) == 0xA8 ||
                 static_cast<unsigned char>(p[2]) == 0xA9)) {
                std::memcpy(d, p[2] == '\xA8' ? "\\u2028" : "\\u2029", 6);
                d += 6;
                p += 3;
            } else {
                *d++ = *p++;
            }
        } else if (code == 1) {
            char u[6] = {'\\', 'u', '0', '0', kHex[(*p >> 4) & 0xF], kHex[*p & 0xF]};
            std::memcpy(d, u, sizeof u);
            d += sizeof u;
            ++p;
        } else {
            *d++ = '\\';
            *d++ = static_cast<char>(code);
            ++p;
        }
    }
    dst = d;
    return p;
}

}  // namespace

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
    constexpr std::size_t kChunk = 4096;
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

}  // namespace quarvel
