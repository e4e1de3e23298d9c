#include "pyutil/stack_protection.hpp"

#include "pyutil/python.hpp"
#include "support/stack.hpp"

namespace quarvel::py {

#if PY_VERSION_HEX >= 0x030E0100
namespace {

// CPython 3.14 checks the C stack pointer against the thread's own stack;
// Python code called while running on a segment would otherwise raise a
// false RecursionError. With the lock released there is no thread state and
// nothing to tell: the stages that run unlocked call no Python code, and a
// thread state's protection is only changed while it is attached, so it is
// always put back by the switch that undoes it. Versions before 3.14 count C
// recursion instead of looking at the stack pointer and need no telling.
void segment_entered(void* base, std::size_t size) {
    PyThreadState* ts = PyThreadState_GetUnchecked();
    if (!ts) return;
    // A refusal must not leave an exception behind, nor disturb one that is
    // on its way out of the segment.
    PyObject* pending = PyErr_GetRaisedException();
    if (PyUnstable_ThreadState_SetStackProtection(ts, base, size) < 0) PyErr_Clear();
    PyErr_SetRaisedException(pending);
}

void segment_left() {
    if (PyThreadState* ts = PyThreadState_GetUnchecked())
        PyUnstable_ThreadState_ResetStackProtection(ts);
}

}  // namespace

void install_stack_protection_hooks() {
    set_stack_switch_hooks({segment_entered, segment_left});
}
#else
void install_stack_protection_hooks() {}
#endif

}  // namespace quarvel::py
