// Deep but legal input must not overflow the call stack: every recursive stage
// calls ensure_stack() around its recursive step. When less than 100 KiB of
// stack remain, the step continues on a freshly mapped 32 MiB segment with a
// guard page below it.
#pragma once

#include <cstddef>
#include <new>
#include <type_traits>
#include <utility>

namespace quarvel {

inline constexpr std::size_t kMinStackLeft = 100 * 1024;
inline constexpr std::size_t kStackSegment = 32 * 1024 * 1024;

// Bytes of stack left below the current frame on this thread (or on the
// segment the thread is running on).
std::size_t stack_remaining() noexcept;

// Runs fn(arg) on a new stack segment. Returns false when no segment could be
// mapped (fn did not run).
bool run_on_new_stack(void (*fn)(void*), void* arg) noexcept;

// Called when the thread switches onto a segment and back, so the binding
// layer can tell the interpreter where the stack now is (CPython 3.14 checks
// the stack pointer against its own idea of the thread's stack).
struct StackSwitchHooks {
    void (*entered)(void* base, std::size_t size) = nullptr;
    void (*left)() = nullptr;
};
void set_stack_switch_hooks(StackSwitchHooks hooks) noexcept;

// Runs f() directly when enough stack remains, otherwise on a new segment.
template <class F>
decltype(auto) ensure_stack(F&& f) {
    using R = std::invoke_result_t<F&>;
    if (stack_remaining() >= kMinStackLeft) return f();
    if constexpr (std::is_void_v<R>) {
        auto tramp = [](void* p) { (*static_cast<std::remove_reference_t<F>*>(p))(); };
        if (!run_on_new_stack(tramp, &f)) f();
    } else {
        struct Frame {
            std::remove_reference_t<F>* fn;
            alignas(R) unsigned char storage[sizeof(R)];
            bool done = false;
        } frame{&f, {}};
        auto tramp = [](void* p) {
            auto* fr = static_cast<Frame*>(p);
            ::new (static_cast<void*>(fr->storage)) R((*fr->fn)());
            fr->done = true;
        };
        if (!run_on_new_stack(tramp, &frame) || !frame.done) return f();
        R* r = std::launder(reinterpret_cast<R*>(frame.storage));
        R out(std::move(*r));
        r->~R();
        return out;
    }
}

}  // namespace quarvel
