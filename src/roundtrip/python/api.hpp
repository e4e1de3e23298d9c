// What the editing layer gives the module: its classes and write-back functions.
#pragma once

#include "pyutil/python.hpp"

namespace quarvel::py {

PyTypeObject* document_type();
PyTypeObject* document_view_type();
PyTypeObject* node_type();

PyObject* dump_includes(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames);
PyObject* dump_includes_map(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames);

}  // namespace quarvel::py
