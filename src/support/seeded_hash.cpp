#include "support/seeded_hash.hpp"

#include <chrono>
#include <cstring>
#include <random>

namespace quarvel {
namespace {

struct Key {
    std::uint64_t k0;
    std::uint64_t k1;
};

std::uint64_t mix64(std::uint64_t x) noexcept {
    x ^= x >> 30;
    x *= 0xbf58476d1ce4e5b9ULL;
    x ^= x >> 27;
    x *= 0x94d049bb133111ebULL;
    x ^= x >> 31;
    return x;
}

Key make_key() {
    static int anchor;
    std::uint64_t a = reinterpret_cast<std::uintptr_t>(&anchor);
    std::uint64_t t =
        static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::uint64_t r0 = 0;
    std::uint64_t r1 = 0;
    try {
        std::random_device rd;
        r0 = (static_cast<std::uint64_t>(rd()) << 32) ^ rd();
        r1 = (static_cast<std::uint64_t>(rd()) << 32) ^ rd();
    } catch (...) {
        // No entropy source: the address and the clock still vary per process.
    }
    return {mix64(a ^ r0 ^ 0x736f6d6570736575ULL), mix64(t ^ r1 ^ 0x646f72616e646f6dULL)};
}

const Key& process_key() {
    static const Key key = make_key();
    return key;
}

inline std::uint64_t rotl(std::uint64_t x, int b) noexcept {
    return (x << b) | (x >> (64 - b));
}

struct SipState {
    std::uint64_t v0, v1, v2, v3;
    void round() noexcept {
        v0 += v1;
        v1 = rotl(v1, 13);
        v1 ^= v0;
        v0 = rotl(v0, 32);
        v2 += v3;
        v3 = rotl(v3, 16);
        v3 ^= v2;
        v0 += v3;
        v3 = rotl(v3, 21);
        v3 ^= v0;
        v2 += v1;
        v1 = rotl(v1, 17);
        v1 ^= v2;
        v2 = rotl(v2, 32);
    }
    void absorb(std::uint64_t m) noexcept {
        v3 ^= m;
        round();
        v0 ^= m;
    }
};

}  // namespace

std::uint64_t seeded_hash(std::string_view bytes) noexcept {
    const Key& key = process_key();
    SipState s{key.k0 ^ 0x736f6d6570736575ULL, key.k1 ^ 0x646f72616e646f6dULL,
               key.k0 ^ 0x6c7967656e657261ULL, key.k1 ^ 0x7465646279746573ULL};
    const char* p = bytes.data();
    std::size_t n = bytes.size();
    std::size_t whole = n & ~std::size_t{7};
    for (std::size_t i = 0; i < whole; i += 8) {
        std::uint64_t m;
        std::memcpy(&m, p + i, 8);
        s.absorb(m);
    }
    std::uint64_t last = static_cast<std::uint64_t>(n) << 56;
    for (std::size_t i = whole; i < n; ++i)
        last |= static_cast<std::uint64_t>(static_cast<unsigned char>(p[i])) << (8 * (i - whole));
    s.absorb(last);
    s.v2 ^= 0xff;
    s.round();
    s.round();
    s.round();
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

namespace {

std::uint64_t load64(const char* p) noexcept {
    std::uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

std::uint64_t load32(const char* p) noexcept {
    std::uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// The high and low halves of a 64 x 64 bit product, folded together.
std::uint64_t fold_multiply(std::uint64_t a, std::uint64_t b) noexcept {
    const unsigned __int128 r = static_cast<unsigned __int128>(a) * b;
    return static_cast<std::uint64_t>(r) ^ static_cast<std::uint64_t>(r >> 64);
}

}  // namespace

std::uint64_t quick_seeded_hash(std::string_view bytes) noexcept {
    const Key& key = process_key();
    const char* p = bytes.data();
    std::size_t n = bytes.size();
    std::uint64_t seed = key.k0 ^ n;
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    if (n <= 16) {
        if (n >= 8) {  // two loads that may overlap
            a = load64(p);
            b = load64(p + n - 8);
        } else if (n >= 4) {
            a = load32(p);
            b = load32(p + n - 4);
        } else if (n > 0) {
            const auto byte = [&](std::size_t i) { return std::uint64_t{(unsigned char)p[i]}; };
            a = byte(0) << 16 | byte(n / 2) << 8 | byte(n - 1);
        }
    } else {
        for (; n > 16; p += 16, n -= 16)
            seed = fold_multiply(load64(p) ^ key.k1, load64(p + 8) ^ seed);
        a = load64(p + n - 16);
        b = load64(p + n - 8);
    }
    return fold_multiply(a ^ key.k1 ^ 0xa0761d6478bd642fULL, b ^ seed ^ 0xe7037ed1a0b428dbULL);
}

}  // namespace quarvel
