// dumps and to_json.
#include "ffi/functions.hpp"

namespace quarvel::py {

PyObject* dumps(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
    PyErr_SetString(PyExc_NotImplementedError, "dumps is not available in this build");
    return nullptr;
}

PyObject* to_json(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) {
    PyErr_SetString(PyExc_NotImplementedError, "to_json is not available in this build");
    return nullptr;
}

}  // namespace quarvel::py
