// The thread-kept memory: blocks are reused within a thread, the kept total
// never passes its bound (a huge call is handed back, small ones stay warm),
// threads keep separate caches, blocks may be freed on another thread than
// the one that took them, and a thread's blocks go when the thread ends (the
// sanitizer build reports any that do not).
#include "support/warm_memory.hpp"

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "check.hpp"
#include "value/value.hpp"

using namespace quarvel;

namespace {

void reuse_within_a_thread() {
    check::Case c("reuse");
    void* a = warm::allocate(100);
    std::memset(a, 1, 100);
    const std::size_t before = warm::kept_bytes();
    warm::release(a, 100);
    CHECK(warm::kept_bytes() > before);
    void* b = warm::allocate(97);  // the same size class
    CHECK(a == b);
    CHECK_EQ(warm::kept_bytes(), before);
    warm::release(b, 97);
}

void sizes_round_up_and_stay_usable() {
    check::Case c("sizes");
    std::vector<std::pair<void*, std::size_t>> blocks;
    for (std::size_t n : {1u, 31u, 32u, 33u, 56u, 57u, 1000u, 65536u, 65537u, 3000000u}) {
        void* p = warm::allocate(n);
        std::memset(p, 0xAB, n);  // the sanitizer build checks the block is large enough
        blocks.emplace_back(p, n);
    }
    for (auto [p, n] : blocks) warm::release(p, n);
}

void huge_call_then_small_ones() {
    check::Case c("bound");
    // More than the bound, in blocks of one class: the excess goes back.
    std::vector<void*> big;
    const std::size_t block = 1u << 20;
    for (std::size_t i = 0; i < 2 * warm::kKeepBytes / block; ++i)
        big.push_back(warm::allocate(block));
    for (void* p : big) warm::release(p, block);
    CHECK(warm::kept_bytes() <= warm::kKeepBytes);
    // One block larger than a quarter of the bound is never kept.
    const std::size_t before = warm::kept_bytes();
    void* huge = warm::allocate(warm::kKeepBytes);
    warm::release(huge, warm::kKeepBytes);
    CHECK_EQ(warm::kept_bytes(), before);
    // Small calls afterwards still reuse kept blocks.
    for (int round = 0; round < 100; ++round) {
        Arena arena;
        ValueList items(50);
        for (auto& v : items) v = YamlValue::sequence(arena, ValueList(3));
    }
    CHECK(warm::kept_bytes() <= warm::kKeepBytes);
}

void threads_and_cross_thread_release() {
    check::Case c("threads");
    std::vector<std::thread> threads;
    std::vector<void*> handed(4, nullptr);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &handed] {
            CHECK_EQ(warm::kept_bytes(), std::size_t{0});  // a new thread starts empty
            for (int round = 0; round < 200; ++round) {
                Arena arena;
                ValueList entries;
                for (int i = 0; i < 20; ++i) {
                    entries.push_back(YamlValue::from_int(i));
                    entries.push_back(YamlValue::sequence(arena, ValueList(i + 1)));
                }
                const YamlValue root = YamlValue::mapping(arena, entries);
                CHECK_EQ(root.map_size(), std::size_t{20});
                for (int i = 0; i < 50; ++i) arena.store(std::string(100 + i * 40, 'x'));
            }
            handed[static_cast<std::size_t>(t)] = warm::allocate(200);
            // The thread ends with blocks in its cache: they must be freed.
        });
    }
    for (auto& th : threads) th.join();
    // Blocks taken by ended threads are freed here, into this thread's cache.
    for (void* p : handed) warm::release(p, 200);
}

void output_buffer_lease() {
    check::Case c("output buffer");
    std::string* first;
    {
        warm::OutputBuffer outer;
        first = &outer.text();
        outer.text() = "outer";
        {
            warm::OutputBuffer inner;  // leased already: a buffer of its own
            CHECK(&inner.text() != first);
            inner.text() = "inner";
        }
        CHECK(outer.text() == "outer");
    }
    {
        warm::OutputBuffer again;
        CHECK(&again.text() == first);
        CHECK(again.text().empty());
        again.text().assign(warm::kKeepBytes + 1, 'z');  // too large to keep
    }
    warm::OutputBuffer after;
    CHECK(after.text().capacity() <= warm::kKeepBytes);
}

}  // namespace

int main() {
    reuse_within_a_thread();
    sizes_round_up_and_stay_usable();
    huge_call_then_small_ones();
    threads_and_cross_thread_release();
    output_buffer_lease();
    return check::finish("warm_memory_test");
}
