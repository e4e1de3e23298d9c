// The module's functions (fast call with keywords).
#pragma once

#include "pyutil/guarded.hpp"
#include "pyutil/python.hpp"

namespace quarvel::py {

using FastFunction = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*);

PyObject* loads(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* loads_all(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* dumps(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* to_json(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* schema_ref(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* yaml_version(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                       PyObject* kwnames);
// Private helpers of the Python package (positional arguments only).
PyObject* read_confined_file(PyObject* module, PyObject* args);
PyObject* write_confined_file(PyObject* module, PyObject* args);

}  // namespace quarvel::py
