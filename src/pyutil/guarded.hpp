// The trap at every entry point: no C++ exception crosses into the interpreter,
// and no result built while the stack ran out leaves it.
#pragma once

#include "pyutil/errors.hpp"
#include "support/stack.hpp"

namespace quarvel::py {

// Runs body() and turns a C++ exception that escapes it into a Python one. A
// step skipped for want of stack anywhere in the call makes it a MemoryError,
// whatever body() returned. The caller's own flag (a call made from a
// callback) is put back afterwards.
template <class F>
PyObject* guarded(F&& body) noexcept {
    const bool outer = stack_exhausted();
    clear_stack_exhausted();
    PyObject* result;
    try {
        result = body();
    } catch (...) {
        result = raise_internal_fault();
    }
    if (stack_exhausted()) result = raise_stack_exhausted(result);
    clear_stack_exhausted();
    if (outer) note_stack_exhausted();
    return result;
}

}  // namespace quarvel::py
