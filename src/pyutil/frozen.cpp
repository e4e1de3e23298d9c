#include "pyutil/frozen.hpp"

#include "pyutil/py_ref.hpp"
#include "support/stack.hpp"

namespace quarvel::py {

PyObject* frozen(PyObject* o) {
    if (PyList_Check(o)) {
        const Py_ssize_t n = PyList_GET_SIZE(o);
        Ref tuple(PyTuple_New(n));
        if (!tuple) return nullptr;
        for (Py_ssize_t i = 0; i < n; ++i) {
            PyObject* item = ensure_stack([&] { return frozen(PyList_GET_ITEM(o, i)); });
            if (!item) return nullptr;
            PyTuple_SET_ITEM(tuple.get(), i, item);
        }
        return tuple.release();
    }
    if (PyDict_Check(o)) {
        Ref tuple(PyTuple_New(PyDict_GET_SIZE(o)));
        if (!tuple) return nullptr;
        Py_ssize_t pos = 0, i = 0;
        PyObject *k, *v;
        while (PyDict_Next(o, &pos, &k, &v)) {
            Ref fv(ensure_stack([&] { return frozen(v); }));
            if (!fv) return nullptr;
            PyObject* pair = PyTuple_Pack(2, k, fv.get());
            if (!pair) return nullptr;
            PyTuple_SET_ITEM(tuple.get(), i++, pair);
        }
        return tuple.release();
    }
    return Py_NewRef(o);
}

}  // namespace quarvel::py
