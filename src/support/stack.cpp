#include "support/stack.hpp"

#include <pthread.h>
#include <sys/mman.h>
#include <ucontext.h>
#include <unistd.h>

#include <cstdint>

namespace quarvel {
namespace {

struct ThreadStack {
    std::uintptr_t low = 0;  // lowest usable address of the stack in use
    bool known = false;
    void* segment = nullptr;  // base of the segment in use, null on the thread's own stack
    std::size_t segment_size = 0;
};

thread_local ThreadStack t_stack;
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
    ucontext_t* back;
};

thread_local Trampoline* t_trampoline = nullptr;

void segment_entry() {
    Trampoline* t = t_trampoline;
    t->fn(t->arg);
}

}  // namespace

std::size_t stack_remaining() noexcept {
    if (!t_stack.known) learn_thread_stack();
    std::uintptr_t sp = current_sp();
    if (t_stack.low == 0 || sp <= t_stack.low) return 0;
    return sp - t_stack.low;
}

void set_stack_switch_hooks(StackSwitchHooks hooks) noexcept { g_hooks = hooks; }

bool run_on_new_stack(void (*fn)(void*), void* arg) noexcept {
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
    Trampoline tramp{fn, arg, &here};
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
    swapcontext(&here, &there);
    t_stack = saved;
    if (saved.segment != nullptr) {
        if (g_hooks.entered) g_hooks.entered(saved.segment, saved.segment_size);
    } else if (g_hooks.left) {
        g_hooks.left();
    }
    t_trampoline = saved_tramp;
    munmap(mem, size + page);
    return true;
}

}  // namespace quarvel
