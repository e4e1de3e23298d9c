#include "support/hash.hpp"

#include <chrono>
#include <random>

namespace quarvel {

std::uint64_t process_hash_seed() noexcept {
    static const std::uint64_t seed = [] {
        std::uint64_t s = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
        try {
            std::random_device rd;
            s ^= (std::uint64_t(rd()) << 32) ^ rd();
        } catch (...) {
            // No entropy source: the clock and the address below still vary per process.
        }
        s ^= reinterpret_cast<std::uintptr_t>(&s);
        return mix64(s, 0x9E3779B97F4A7C15ULL) | 1;
    }();
    return seed;
}

}  // namespace quarvel
