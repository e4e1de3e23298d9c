#include "ffi/types.hpp"

namespace quarvel::py {

PyTypeObject* cached_type(std::atomic<PyObject*>& cell, PyObject* (*make)()) {
    if (PyObject* t = cell.load(std::memory_order_acquire)) return reinterpret_cast<PyTypeObject*>(t);
    PyObject* made = make();
    if (!made) return nullptr;
    PyObject* expected = nullptr;
    if (!cell.compare_exchange_strong(expected, made, std::memory_order_acq_rel)) {
        Py_DECREF(made);
        return reinterpret_cast<PyTypeObject*>(expected);
    }
    return reinterpret_cast<PyTypeObject*>(made);
}

}  // namespace quarvel::py
