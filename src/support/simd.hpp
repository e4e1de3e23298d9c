// What the vector code of the scanner and the writers may use here: SSE2
// (every x86-64 processor has it), and whether a short text may be read
// sixteen bytes at a time past its end.
#pragma once

#include <cstdint>

#if defined(__SSE2__) && !defined(QUARVEL_NO_SIMD)
#include <emmintrin.h>
#define QUARVEL_SSE2 1
#endif

// A short text is read sixteen bytes at a time, past its end when those bytes
// lie in the same page (so the read cannot fault). The sanitizers would
// report the bytes past the end: their builds take the byte-wise way.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define QUARVEL_NO_OVERREAD 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || \
    __has_feature(memory_sanitizer)
#define QUARVEL_NO_OVERREAD 1
#endif
#endif

namespace quarvel {

// Whether the sixteen bytes from p lie in p's page, so reading them cannot
// fault even where the text is shorter.
inline bool sixteen_in_page(const void* p) {
    constexpr std::uintptr_t kPage = 4096;
    return (reinterpret_cast<std::uintptr_t>(p) & (kPage - 1)) <= kPage - 16;
}

}  // namespace quarvel
