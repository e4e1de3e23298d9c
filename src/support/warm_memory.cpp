#include "support/warm_memory.hpp"

#include <bit>
#include <cstdint>
#include <cstdlib>

#if defined(__SANITIZE_ADDRESS__)
#define QUARVEL_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUARVEL_ASAN 1
#endif
#endif
#ifdef QUARVEL_ASAN
#include <sanitizer/asan_interface.h>
#endif

namespace quarvel::warm {
namespace {

// Under the address sanitizer a kept block is poisoned (all but its link to
// the next kept block), so a use after release is still reported.
void poison(void* block, std::size_t bytes) noexcept {
#ifdef QUARVEL_ASAN
    ASAN_POISON_MEMORY_REGION(static_cast<char*>(block) + sizeof(void*), bytes - sizeof(void*));
#else
    (void)block;
    (void)bytes;
#endif
}

void unpoison(void* block, std::size_t bytes) noexcept {
#ifdef QUARVEL_ASAN
    ASAN_UNPOISON_MEMORY_REGION(block, bytes);
#else
    (void)block;
    (void)bytes;
#endif
}

// Size classes: 32 bytes, then four per power of two (40, 48, 56, 64, 80,
// ...), so a block is at most a quarter larger than asked for.
constexpr std::size_t kSmallest = 32;
constexpr int kClasses = 4 * 64;

struct SizeClass {
    int index;
    std::size_t bytes;
};

SizeClass size_class(std::size_t bytes) noexcept {
    if (bytes <= kSmallest) return {0, kSmallest};
    const std::size_t b = bytes - 1;
    const int msb = std::bit_width(b) - 1;  // 5 or more
    const int shift = msb - 2;
    const std::size_t quarter = b >> shift;  // 4 to 7
    return {1 + (msb - 5) * 4 + static_cast<int>(quarter - 4), (quarter + 1) << shift};
}

struct FreeBlock {
    FreeBlock* next;
};

struct Cache {
    FreeBlock* heads[kClasses] = {};
    std::size_t kept = 0;

    ~Cache();
};

// Set once the thread's cache is destroyed: blocks freed later in the
// thread's exit go straight back to the system. A plain flag needs no
// destructor, so it stays readable to the end.
thread_local bool cache_gone = false;
thread_local Cache cache;

Cache::~Cache() {
    cache_gone = true;
    for (FreeBlock*& head : heads) {
        while (head) {
            FreeBlock* next = head->next;
            std::free(head);
            head = next;
        }
    }
    kept = 0;
}

thread_local std::string output_text;
thread_local bool output_leased = false;

}  // namespace

void* allocate(std::size_t bytes) {
    const SizeClass c = size_class(bytes);
    if (c.bytes < bytes) throw std::bad_alloc();  // the rounding overflowed
    if (!cache_gone) {
        Cache& k = cache;
        if (FreeBlock* b = k.heads[c.index]) {
            k.heads[c.index] = b->next;
            k.kept -= c.bytes;
            unpoison(b, c.bytes);
            return b;
        }
    }
    void* p = std::malloc(c.bytes);
    if (!p) throw std::bad_alloc();
    return p;
}

void release(void* block, std::size_t bytes) noexcept {
    if (!block) return;
    const SizeClass c = size_class(bytes);
    if (cache_gone || c.bytes > kKeepBytes / 4) {
        std::free(block);
        return;
    }
    Cache& k = cache;
    if (k.kept + c.bytes > kKeepBytes) {
        std::free(block);
        return;
    }
    auto* b = static_cast<FreeBlock*>(block);
    b->next = k.heads[c.index];
    k.heads[c.index] = b;
    k.kept += c.bytes;
    poison(b, c.bytes);
}

std::size_t kept_bytes() noexcept {
    return cache_gone ? 0 : cache.kept;
}

OutputBuffer::OutputBuffer() : text_(&own_), leased_(false) {
    if (!output_leased) {
        output_leased = true;
        leased_ = true;
        text_ = &output_text;
        text_->clear();
    }
}

OutputBuffer::~OutputBuffer() {
    if (!leased_) return;
    if (text_->capacity() > kKeepBytes) std::string().swap(*text_);
    text_->clear();
    output_leased = false;
}

}  // namespace quarvel::warm
