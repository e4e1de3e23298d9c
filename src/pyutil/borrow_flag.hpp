// A borrow flag: any number of readers, or one writer. Readers hold it above
// zero, a writer holds it at -1; a conflicting request is refused, never
// waited for.
#pragma once

#include <atomic>
#include <cstdint>

namespace quarvel::py {

inline bool acquire_borrow(std::int32_t& cell, bool exclusive) noexcept {
    std::atomic_ref<std::int32_t> flag(cell);
    if (exclusive) {
        std::int32_t expected = 0;
        return flag.compare_exchange_strong(expected, -1, std::memory_order_acquire,
                                            std::memory_order_relaxed);
    }
    std::int32_t seen = flag.load(std::memory_order_relaxed);
    do {
        if (seen < 0) return false;
    } while (!flag.compare_exchange_weak(seen, seen + 1, std::memory_order_acquire,
                                         std::memory_order_relaxed));
    return true;
}

inline void release_borrow(std::int32_t& cell, bool exclusive) noexcept {
    std::atomic_ref<std::int32_t> flag(cell);
    if (exclusive)
        flag.store(0, std::memory_order_release);
    else
        flag.fetch_sub(1, std::memory_order_release);
}

}  // namespace quarvel::py
