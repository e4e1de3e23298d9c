// The trap at every entry point: no C++ exception crosses into the interpreter.
#pragma once

#include "pyutil/errors.hpp"

namespace quarvel::py {

// Runs body() and turns a C++ exception that escapes it into a Python one.
template <class F>
PyObject* guarded(F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return raise_internal_fault();
    }
}

}  // namespace quarvel::py
