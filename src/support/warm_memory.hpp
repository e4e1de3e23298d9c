// Memory that stays warm between calls. Every call builds a tree, writes it
// and frees it again; handing that memory back to the system each time (as
// the C library does when the top of its heap or a large block is freed)
// means the next call takes a page fault for every page it touches, which
// costs more than the allocations themselves. Each thread therefore keeps the
// blocks it frees, sorted into size classes, up to kKeepBytes in all; past
// that, blocks go back to the system as usual, so one huge call does not pin
// its memory for the thread's lifetime. A thread's blocks are freed when the
// thread ends. A block may be freed by another thread than the one that took
// it: it then joins the cache of the thread that frees it.
#pragma once

#include <cstddef>
#include <limits>
#include <new>
#include <string>

namespace quarvel::warm {

inline constexpr std::size_t kKeepBytes = 32u << 20;

// At least `bytes` bytes (aligned for any fundamental type); std::bad_alloc
// when there is no memory.
void* allocate(std::size_t bytes);
// Gives back a block from allocate() with the same `bytes`.
void release(void* block, std::size_t bytes) noexcept;

// Bytes this thread keeps for reuse right now (for tests).
std::size_t kept_bytes() noexcept;

// A standard allocator over the thread caches.
template <class T>
struct Allocator {
    using value_type = T;
    Allocator() noexcept = default;
    template <class U>
    Allocator(const Allocator<U>&) noexcept {}
    T* allocate(std::size_t n) {
        if (n > std::numeric_limits<std::size_t>::max() / sizeof(T)) throw std::bad_alloc();
        return static_cast<T*>(warm::allocate(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept { warm::release(p, n * sizeof(T)); }
    template <class U>
    bool operator==(const Allocator<U>&) const noexcept {
        return true;
    }
};

// One output buffer per thread, leased for the length of a call and kept
// (emptied) afterwards unless it grew past kKeepBytes. A call made while the
// buffer is leased (a callback that writes again) gets a buffer of its own.
class OutputBuffer {
  public:
    OutputBuffer();
    ~OutputBuffer();
    OutputBuffer(const OutputBuffer&) = delete;
    OutputBuffer& operator=(const OutputBuffer&) = delete;
    std::string& text() { return *text_; }

  private:
    std::string* text_;
    bool leased_;
    std::string own_;
};

}  // namespace quarvel::warm
