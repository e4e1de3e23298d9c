// The module's functions (fast call with keywords).
#pragma once

#include "ffi/python.hpp"

namespace quarvel::py {

using FastFunction = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

PyObject* loads(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* loads_all(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* dumps(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* to_json(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* schema_ref(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* yaml_version(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* dump_includes(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* dump_includes_map(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// Runs body() and turns a C++ exception that escapes it into a Python one.
template <class F>
PyObject* guarded(F&& body) noexcept;

}  // namespace quarvel::py

#include "ffi/errors.hpp"

namespace quarvel::py {

template <class F>
PyObject* guarded(F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return raise_internal_fault();
    }
}

}  // namespace quarvel::py
