// A fast hash for tables keyed by document text, seeded once per process so
// that crafted keys cannot force collisions.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace quarvel {

std::uint64_t process_hash_seed() noexcept;

inline std::uint64_t mix64(std::uint64_t a, std::uint64_t b) {
    __uint128_t r = static_cast<__uint128_t>(a) * b;
    return static_cast<std::uint64_t>(r) ^ static_cast<std::uint64_t>(r >> 64);
}

inline std::uint64_t hash_text(std::string_view s) {
    constexpr std::uint64_t k1 = 0xa0761d6478bd642fULL;
    constexpr std::uint64_t k2 = 0xe7037ed1a0b428dbULL;
    std::uint64_t h = process_hash_seed() ^ (s.size() * k1);
    const char* p = s.data();
    std::size_t n = s.size();
    while (n >= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        h = mix64(h ^ w, k2);
        p += 8;
        n -= 8;
    }
    if (n) {
        std::uint64_t w = 0;
        std::memcpy(&w, p, n);
        h = mix64(h ^ w ^ (std::uint64_t(n) << 56), k2);
    }
    return mix64(h, k1);
}

// For std::unordered_map / unordered_set keyed by text.
struct TextHash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const noexcept { return hash_text(s); }
};

}  // namespace quarvel
