#include "pyutil/stack_protection.hpp"

#include "pyutil/python.hpp"
#include "support/stack.hpp"

namespace quarvel::py {

#if PY_VERSION_HEX >= 0x030E0100
namespace {

// CPython 3.14 checks the C stack pointer against the thread's own stack;
// Python code called while running on a segment would otherwise raise a
// false RecursionError. With the lock released there is no thread state and
// nothing to tell.
void segment_entered(void* base, std::size_t size) {
    if (PyThreadState* ts = PyThreadState_GetUnchecked()) PyUnstable_ThreadState_SetStackProtection(ts, base, size);
}

void segment_left() {
    if (PyThreadState* ts = PyThreadState_GetUnchecked()) PyUnstable_ThreadState_ResetStackProtection(ts);
}

}  // namespace

void install_stack_protection_hooks() { set_stack_switch_hooks({segment_entered, segment_left}); }
#else
void install_stack_protection_hooks() {}
#endif

}  // namespace quarvel::py
