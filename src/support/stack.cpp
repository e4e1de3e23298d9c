#include "support/stack.hpp"

#include <pthread.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdint>
#include <exception>

// AddressSanitizer tracks which stack the thread is on; it is told about each
// switch, or it would take the segment's frames for stray writes.
#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#define QUARVEL_ASAN_FIBERS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/common_interface_defs.h>
#define QUARVEL_ASAN_FIBERS 1
#endif
#endif

namespace quarvel {
namespace {

struct ThreadStack {
    std::uintptr_t low = 0;  // lowest usable address of the stack in use
    bool known = false;
    void* segment = nullptr;  // base of the segment in use, null on the thread's own stack
    std::size_t segment_size = 0;
};

thread_local ThreadStack t_stack;
thread_local bool t_exhausted = false;
StackSwitchHooks g_hooks;

std::uintptr_t current_sp() noexcept {
    return reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
}

void learn_thread_stack() noexcept {
    t_stack.known = true;
    pthread_attr_t attr;
    if (pthread_getattr_np(pthread_self(), &attr) != 0) return;
    void* addr = nullptr;
    std::size_t size = 0;
    std::size_t guard = 0;
    if (pthread_attr_getstack(&attr, &addr, &size) == 0) {
        pthread_attr_getguardsize(&attr, &guard);
        t_stack.low = reinterpret_cast<std::uintptr_t>(addr) + guard;
    }
    pthread_attr_destroy(&attr);
}

struct Trampoline {
    void (*fn)(void*);
    void* arg;
    std::exception_ptr error;             // what fn threw, carried back to the caller's stack
    const void* caller_bottom = nullptr;  // the stack to return to, for the sanitizer
    std::size_t caller_size = 0;
};

thread_local Trampoline* t_trampoline = nullptr;

// The first frame on a segment. No exception may leave it: unwinding cannot
// cross the switch, so whatever fn throws is kept for the caller to rethrow.
void segment_entry() noexcept {
    Trampoline* t = t_trampoline;
#ifdef QUARVEL_ASAN_FIBERS
    __sanitizer_finish_switch_fiber(nullptr, &t->caller_bottom, &t->caller_size);
#endif
    try {
        t->fn(t->arg);
    } catch (...) {
        t->error = std::current_exception();
    }
#ifdef QUARVEL_ASAN_FIBERS
    // The segment is left for good: its fake stack frames can go.
    __sanitizer_start_switch_fiber(nullptr, t->caller_bottom, t->caller_size);
#endif
}

}  // namespace

std::size_t stack_remaining() noexcept {
    if (!t_stack.known) learn_thread_stack();
    std::uintptr_t sp = current_sp();
    if (t_stack.low == 0 || sp <= t_stack.low) return 0;
    return sp - t_stack.low;
}

std::uintptr_t stack_floor(std::size_t reserve) noexcept {
    if (!t_stack.known) learn_thread_stack();
    if (t_stack.low == 0) return UINTPTR_MAX;  // unknown: every check fails
    return t_stack.low + reserve;
}

void set_stack_switch_hooks(StackSwitchHooks hooks) noexcept {
    g_hooks = hooks;
}

bool stack_exhausted() noexcept {
    return t_exhausted;
}
void clear_stack_exhausted() noexcept {
    t_exhausted = false;
}
void note_stack_exhausted() noexcept {
    t_exhausted = true;
}

Error stack_exhausted_error() {
    return Error::memory("out of stack memory for deeply nested input");
}

bool run_on_new_stack(void (*fn)(void*), void* arg) {
    const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    const std::size_t size = (kStackSegment + page - 1) / page * page;
    void* mem = mmap(nullptr, size + page, PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (mem == MAP_FAILED) return false;
    // The lowest page stays inaccessible: running off the segment faults
    // instead of writing over whatever lies below it.
    mprotect(mem, page, PROT_NONE);
    char* base = static_cast<char*>(mem) + page;

    ucontext_t here;
    ucontext_t there;
    getcontext(&there);
    there.uc_stack.ss_sp = base;
    there.uc_stack.ss_size = size;
    there.uc_link = &here;
    Trampoline tramp{fn, arg, {}};
    Trampoline* saved_tramp = t_trampoline;
    t_trampoline = &tramp;
    makecontext(&there, segment_entry, 0);

    ThreadStack saved = t_stack;
    if (!saved.known) learn_thread_stack(), saved = t_stack;
    t_stack.low = reinterpret_cast<std::uintptr_t>(base);
    t_stack.known = true;
    t_stack.segment = base;
    t_stack.segment_size = size;
    if (g_hooks.entered) g_hooks.entered(base, size);
#ifdef QUARVEL_ASAN_FIBERS
    void* fake_stack = nullptr;
    __sanitizer_start_switch_fiber(&fake_stack, base, size);
#endif
    swapcontext(&here, &there);
#ifdef QUARVEL_ASAN_FIBERS
    __sanitizer_finish_switch_fiber(fake_stack, nullptr, nullptr);
#endif
    t_stack = saved;
    if (saved.segment != nullptr) {
        if (g_hooks.entered) g_hooks.entered(saved.segment, saved.segment_size);
    } else if (g_hooks.left) {
        g_hooks.left();
    }
    t_trampoline = saved_tramp;
    munmap(mem, size + page);
    if (tramp.error) std::rethrow_exception(std::move(tramp.error));
    return true;
}

}  // namespace quarvel
