// The inner loop of plain scalars: the end of a run of ordinary content.
// With SSE2 (always there on x86-64) sixteen bytes are checked at a time;
// the portable loop looks each byte up in the stop table. Both report
// whether the run was all ASCII, so the column can follow without counting
// characters byte by byte.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "scanner/char_class.hpp"
#include "support/simd.hpp"
#include "support/utf8.hpp"

namespace quarvel::scan {

struct PlainRun {
    std::size_t end;
    bool ascii;
};

inline PlainRun plain_run_portable(bool flow, const char* s, std::size_t i, std::size_t n) {
    const auto& stop = flow ? kPlainStop.flow : kPlainStop.block;
    const auto* u = reinterpret_cast<const unsigned char*>(s);
    unsigned high = 0;
    while (i < n && !stop[u[i]]) high |= u[i++];
    return {i, (high & 0x80) == 0};
}

#ifdef QUARVEL_SSE2
inline PlainRun plain_run_sse2(bool flow, const char* s, std::size_t i, std::size_t n) {
    const auto eq = [](__m128i v, char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    unsigned high = 0;
    while (i + 16 <= n) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
        __m128i m = _mm_or_si128(_mm_or_si128(eq(v, ' '), eq(v, '\t')),
                                 _mm_or_si128(_mm_or_si128(eq(v, '\n'), eq(v, '\r')), eq(v, ':')));
        if (flow)
            m = _mm_or_si128(
                m, _mm_or_si128(_mm_or_si128(eq(v, ','), eq(v, '[')),
                                _mm_or_si128(_mm_or_si128(eq(v, ']'), eq(v, '{')), eq(v, '}'))));
        const auto stops = static_cast<unsigned>(_mm_movemask_epi8(m));
        const auto highs = static_cast<unsigned>(_mm_movemask_epi8(v));
        if (stops != 0) {
            const unsigned k = static_cast<unsigned>(__builtin_ctz(stops));
            high |= highs & ((1u << k) - 1);
            return {i + k, high == 0};
        }
        high |= highs;
        i += 16;
    }
    const PlainRun tail = plain_run_portable(flow, s, i, n);
    return {tail.end, high == 0 && tail.ascii};
}
#endif

inline PlainRun plain_run(bool flow, const char* s, std::size_t i, std::size_t n) {
#ifdef QUARVEL_SSE2
    return plain_run_sse2(flow, s, i, n);
#else
    return plain_run_portable(flow, s, i, n);
#endif
}

// Characters in a byte range of valid UTF-8 (its bytes less the continuation
// bytes).
inline std::uint32_t count_chars(const char* p, std::size_t n) {
    return static_cast<std::uint32_t>(utf8::count_chars(std::string_view(p, n)));
}

}  // namespace quarvel::scan
