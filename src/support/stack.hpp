// Deep but legal input must not overflow the call stack: every recursive stage
// calls ensure_stack() around its recursive step. When less than 100 KiB of
// stack remain, the step continues on a freshly mapped 32 MiB segment with a
// guard page below it.
//
// When no segment can be mapped the step does not run at all: ensure_stack
// records "stack exhausted" for the thread and returns a value-initialised
// result (false, nullptr, 0, or nothing). A stage that gets such a result
// stops and reports stack_exhausted_error(); the entry point clears the flag
// when a call starts and turns a flag still set at its end into that error.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <type_traits>
#include <utility>

#include "support/error.hpp"

namespace quarvel {

inline constexpr std::size_t kMinStackLeft = 100 * 1024;
inline constexpr std::size_t kStackSegment = 32 * 1024 * 1024;

// Bytes of stack left below the current frame on this thread (or on the
// segment the thread is running on).
std::size_t stack_remaining() noexcept;

// The stack address below which fewer than `reserve` bytes would remain on
// the stack this thread now runs on (0 when that is not known). A walk that
// never leaves this stack reads it once and then compares frame addresses
// with it, which costs no thread-local lookup per step.
std::uintptr_t stack_floor(std::size_t reserve) noexcept;

inline std::uintptr_t frame_address() noexcept {
    return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
}

// Runs fn(arg) on a new stack segment. Returns false when no segment could be
// mapped (fn did not run). An exception fn throws is caught on the segment and
// rethrown here, on the caller's stack, once the segment is gone.
bool run_on_new_stack(void (*fn)(void*), void* arg);

// Whether a step on this thread was skipped for want of a stack segment since
// the flag was last cleared.
bool stack_exhausted() noexcept;
void clear_stack_exhausted() noexcept;
void note_stack_exhausted() noexcept;

// The error a stage reports when it stopped because the stack ran out
// (MemoryError in Python).
Error stack_exhausted_error();

// Called when the thread switches onto a segment and back, so the binding
// layer can tell the interpreter where the stack now is (CPython 3.14 checks
// the stack pointer against its own idea of the thread's stack).
struct StackSwitchHooks {
    void (*entered)(void* base, std::size_t size) = nullptr;
    void (*left)() = nullptr;
};
void set_stack_switch_hooks(StackSwitchHooks hooks) noexcept;

// Runs f() directly when enough stack remains, otherwise on a new segment.
// Without a segment f does not run: the flag is set and the result is R{}.
template <class F>
decltype(auto) ensure_stack(F&& f) {
    using R = std::invoke_result_t<F&>;
    if (stack_remaining() >= kMinStackLeft) return f();
    if constexpr (std::is_void_v<R>) {
        auto tramp = [](void* p) { (*static_cast<std::remove_reference_t<F>*>(p))(); };
        if (!run_on_new_stack(tramp, &f)) note_stack_exhausted();
    } else {
        static_assert(std::is_default_constructible_v<R>, "a failed step returns R{}");
        struct Frame {
            std::remove_reference_t<F>* fn;
            alignas(R) unsigned char storage[sizeof(R)];
        } frame{&f, {}};
        auto tramp = [](void* p) {
            auto* fr = static_cast<Frame*>(p);
            ::new (static_cast<void*>(fr->storage)) R((*fr->fn)());
        };
        if (!run_on_new_stack(tramp, &frame)) {
            note_stack_exhausted();
            return R{};
        }
        R* r = std::launder(reinterpret_cast<R*>(frame.storage));
        R out(std::move(*r));
        r->~R();
        return out;
    }
}

// A recursive walk that checks its stack at every step: it reads the
// thread's bounds once, when it starts, and afterwards compares frame
// addresses with them. A frame between the floor and the frame the walk
// started from is on the same stack with room to spare; any other frame
// (one on a segment that ensure_stack switched to) is not roomy, and the
// walk takes its next step through ensure_stack.
class StackRoom {
  public:
    StackRoom() noexcept : floor_(stack_floor(kMinStackLeft)), start_(frame_address()) {}

    // Whether the calling frame is on the walk's stack, with room to spare.
    [[gnu::always_inline]] bool roomy() const {
        const std::uintptr_t at = frame_address();
        return at > floor_ && at <= start_;
    }

    // f(), called here when this frame has room, else through ensure_stack.
    template <class F>
    [[gnu::always_inline]] decltype(auto) run(F&& f) const {
        if (roomy()) return f();
        return ensure_stack(std::forward<F>(f));
    }

  private:
    std::uintptr_t floor_;
    std::uintptr_t start_;
};

}  // namespace quarvel
