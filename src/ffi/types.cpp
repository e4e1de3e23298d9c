#include "ffi/types.hpp"

#include "ffi/py_ref.hpp"

namespace quarvel::py {

PyTypeObject* cached_type(std::atomic<PyObject*>& cell, PyObject* (*make)()) {
    return reinterpret_cast<PyTypeObject*>(once_object(cell, make));
}

}  // namespace quarvel::py
