// Stack segments: deep recursion on small threads, exceptions thrown on a
// segment, and what every recursive helper does when no segment can be mapped.
//
// Usage: stack_test --list | stack_test CASE. Each case runs in a process of
// its own (some cap the address space), exits 0 when it passes and prints
// what went wrong otherwise.
#include "support/stack.hpp"

#include <pthread.h>
#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "decode/merge.hpp"
#include "encode/emitter.hpp"
#include "value/value.hpp"

namespace {

using quarvel::YamlValue;

int g_failures = 0;

#define CHECK(cond)                                                                       \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            ++g_failures;                                                                 \
        }                                                                                 \
    } while (0)

// Runs fn on a new thread with a stack of `size` bytes and waits for it.
void on_thread(std::size_t size, const std::function<void()>& fn) {
    pthread_attr_t attr;
    pthread_attr_init(&attr);
    pthread_attr_setstacksize(&attr, size);
    pthread_t thread;
    auto run = [](void* p) -> void* {
        (*static_cast<const std::function<void()>*>(p))();
        return nullptr;
    };
    if (pthread_create(&thread, &attr, run, const_cast<std::function<void()>*>(&fn)) != 0) {
        std::fprintf(stderr, "cannot start a thread\n");
        std::exit(2);
    }
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attr);
}

// A thread stack small enough that the first ensure_stack already needs a
// segment, and one with a little room before it does.
constexpr std::size_t kTinyStack = 96 * 1024;
constexpr std::size_t kSmallStack = 128 * 1024;

std::size_t vm_size() {
    std::FILE* f = std::fopen("/proc/self/status", "r");
    char line[256];
    std::size_t kib = 0;
    while (f && std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmSize:", 7) == 0) kib = std::strtoull(line + 7, nullptr, 10);
    if (f) std::fclose(f);
    return kib * 1024;
}

// Leaves room for ordinary allocations but none for a stack segment.
void cap_address_space() {
    rlimit limit;
    getrlimit(RLIMIT_AS, &limit);
    limit.rlim_cur = vm_size() + 16 * 1024 * 1024;
    if (setrlimit(RLIMIT_AS, &limit) != 0) {
        std::fprintf(stderr, "cannot cap the address space\n");
        std::exit(2);
    }
}

// Each level keeps a 4 KiB buffer live, so a few thousand levels need
// several segments one inside the other. Returns the depth it started at.
[[gnu::noinline]] std::uint64_t deep_sum(unsigned depth, unsigned throw_at, bool bad_alloc) {
    volatile char buffer[4096];
    buffer[0] = 1;
    if (depth == throw_at) {
        if (bad_alloc) throw std::bad_alloc();
        throw std::runtime_error("thrown at the bottom");
    }
    if (depth == 0) return 0;
    return buffer[0] +
           quarvel::ensure_stack([&] { return deep_sum(depth - 1, throw_at, bad_alloc); });
}

constexpr unsigned kDeep = 20000;  // about 80 MiB of frames: three segments or more

// Trees built here live in this arena until the program ends.
quarvel::Arena& tree_arena() {
    static quarvel::Arena arena;
    return arena;
}

// Built from the bottom up: a node's children are stored before the node.
YamlValue chain(std::size_t depth) {
    YamlValue at = YamlValue::empty_sequence();
    for (std::size_t i = 0; i < depth; ++i) at = YamlValue::sequence(tree_arena(), {at});
    return at;
}

// A mapping whose every value holds a scalar key and the next level, with a
// few leaves beside it: deep and wide at once.
YamlValue comb(std::size_t depth, std::size_t width) {
    YamlValue at = YamlValue::empty_mapping();
    for (std::size_t i = 0; i < depth; ++i) {
        quarvel::ValueList entries;
        for (std::size_t w = 0; w < width; ++w) {
            entries.push_back(YamlValue::from_int(std::int64_t(w)));
            entries.push_back(YamlValue::string("leaf"));
        }
        entries.push_back(YamlValue::string("next"));
        entries.push_back(at);
        at = YamlValue::mapping(tree_arena(), entries);
    }
    return at;
}

// ---- cases ----------------------------------------------------------------

void deep_recursion_moves_to_segments() {
    on_thread(kSmallStack, [] {
        CHECK(quarvel::ensure_stack([] { return deep_sum(kDeep, kDeep + 1, false); }) == kDeep);
        CHECK(!quarvel::stack_exhausted());
        CHECK(quarvel::stack_remaining() < kSmallStack);  // back on the thread's own stack
    });
}

template <bool BadAlloc>
void exception_returns_to_the_caller() {
    on_thread(kSmallStack, [] {
        const std::size_t before = vm_size();
        for (int round = 0; round < 3; ++round) {
            bool caught = false;
            try {
                quarvel::ensure_stack([] { return deep_sum(kDeep, 7, BadAlloc); });
            } catch (const std::bad_alloc&) {
                caught = BadAlloc;
            } catch (const std::runtime_error& e) {
                caught = !BadAlloc && std::string_view(e.what()) == "thrown at the bottom";
            }
            CHECK(caught);
            CHECK(quarvel::stack_remaining() < kSmallStack);
        }
        // Every segment the exception passed through was unmapped.
        CHECK(vm_size() < before + quarvel::kStackSegment);
        // The thread goes on using segments normally.
        CHECK(quarvel::ensure_stack([] { return deep_sum(kDeep, kDeep + 1, false); }) == kDeep);
        CHECK(!quarvel::stack_exhausted());
    });
}

void unmappable_segment_skips_the_step() {
    cap_address_space();
    on_thread(kTinyStack, [] {
        CHECK(quarvel::stack_remaining() < quarvel::kMinStackLeft);
        CHECK(!quarvel::stack_exhausted());
        int runs = 0;

        quarvel::ensure_stack([&] { ++runs; });
        CHECK(runs == 0 && quarvel::stack_exhausted());
        quarvel::clear_stack_exhausted();
        CHECK(!quarvel::stack_exhausted());

        CHECK(!quarvel::ensure_stack([&] { return ++runs, true; }));
        CHECK(quarvel::ensure_stack([&] { return ++runs, &runs; }) == nullptr);
        CHECK(quarvel::ensure_stack([&] { return ++runs, std::uint64_t{7}; }) == 0);
        CHECK(quarvel::ensure_stack([&] { return ++runs, std::string("x"); }).empty());
        CHECK(runs == 0 && quarvel::stack_exhausted());
        quarvel::clear_stack_exhausted();
    });
    // With enough stack nothing needs mapping, and the flag stays clear.
    on_thread(1024 * 1024, [] {
        CHECK(quarvel::ensure_stack([] { return 5; }) == 5 && !quarvel::stack_exhausted());
    });
}

// Each recursive helper of the value tree and the encoders stops and says so.
// The thread has room for some levels, so the failure comes from deep inside.
void value_helpers_report_exhaustion() {
    const YamlValue trees[] = {chain(5000), comb(5000, 2)};
    YamlValue merged = YamlValue::sequence(
        tree_arena(), {comb(5000, 1), quarvel::merge_placeholder(tree_arena())});
    cap_address_space();
    on_thread(kSmallStack, [&] {
        using quarvel::clear_stack_exhausted;
        using quarvel::stack_exhausted;
        for (const YamlValue& deep : trees) {
            CHECK(quarvel::node_count(deep) == 0 && stack_exhausted());
            clear_stack_exhausted();

            std::string text;
            CHECK(!quarvel::append_canonical_key(deep, text) && stack_exhausted());
            clear_stack_exhausted();
            CHECK(!quarvel::append_display_form(deep, text) && stack_exhausted());
            clear_stack_exhausted();
            CHECK(!quarvel::values_equal(deep, deep) && stack_exhausted());
            clear_stack_exhausted();

            for (bool flow : {false, true}) {
                quarvel::EmitterSettings settings;
                settings.flow = flow;
                std::string out;
                auto emitted = quarvel::emit_yaml(deep, settings, out);
                CHECK(!emitted && emitted.error().family == quarvel::ErrorFamily::Memory);
                clear_stack_exhausted();
            }
            std::string json = "kept";
            auto written = quarvel::write_json(deep, {}, json);
            CHECK(!written && written.error().family == quarvel::ErrorFamily::Memory);
            CHECK(written.error().message == "out of stack memory for deeply nested input");
            CHECK(json == "kept");
            clear_stack_exhausted();
        }
        CHECK(!quarvel::apply_merge_keys(merged, tree_arena()) && stack_exhausted());
        clear_stack_exhausted();
    });
}

// Trees far deeper than any stack are freed on small threads, with or without
// segments to be had: their arena goes at once, whatever their shape.
void deep_trees_free_without_recursion() {
    auto build_and_free_on_small_thread = [](std::size_t depth) {
        on_thread(kSmallStack, [&] {
            {
                quarvel::Arena arena;
                YamlValue at = YamlValue::empty_sequence();
                for (std::size_t i = 0; i < depth; ++i) at = YamlValue::sequence(arena, {at});
            }
            CHECK(!quarvel::stack_exhausted());
        });
    };
    build_and_free_on_small_thread(300'000);
    cap_address_space();
    build_and_free_on_small_thread(100'000);
}

// Deep trees are compared and counted across segments.
void deep_compare_across_segments() {
    const YamlValue tree = comb(20'000, 2);
    const YamlValue twin = comb(20'000, 2);
    on_thread(kSmallStack, [&] {
        CHECK(quarvel::values_equal(twin, tree));
        CHECK(!quarvel::stack_exhausted());
        CHECK(quarvel::node_count(twin) == quarvel::node_count(tree));
        CHECK(quarvel::node_count(tree) == 20'000 * 6 + 1);
    });
}

struct Case {
    const char* name;
    void (*run)();
};

constexpr Case kCases[] = {
    {"deep_recursion_moves_to_segments", deep_recursion_moves_to_segments},
    {"runtime_error_returns_to_the_caller", exception_returns_to_the_caller<false>},
    {"bad_alloc_returns_to_the_caller", exception_returns_to_the_caller<true>},
    {"unmappable_segment_skips_the_step", unmappable_segment_skips_the_step},
    {"value_helpers_report_exhaustion", value_helpers_report_exhaustion},
    {"deep_trees_free_without_recursion", deep_trees_free_without_recursion},
    {"deep_compare_across_segments", deep_compare_across_segments},
};

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--list") {
        for (const Case& c : kCases) std::puts(c.name);
        return 0;
    }
    if (argc == 2) {
        for (const Case& c : kCases) {
            if (std::string_view(argv[1]) != c.name) continue;
            c.run();
            return g_failures == 0 ? 0 : 1;
        }
    }
    std::fprintf(stderr, "usage: %s --list | CASE\n", argv[0]);
    return 2;
}
