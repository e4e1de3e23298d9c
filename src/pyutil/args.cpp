#include "pyutil/args.hpp"

#include <cstring>

#include "pyutil/py_ref.hpp"

namespace quarvel::py {
namespace {

int keyword_index(const Signature& sig, PyObject* name) {
    for (std::size_t i = 0; i < sig.keywords.size(); ++i) {
        if (PyUnicode_CompareWithASCIIString(name, sig.keywords[i]) == 0)
            return static_cast<int>(i);
    }
    return -1;
}

}  // namespace

bool bind_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** positional, PyObject** keywords) {
    for (std::size_t i = 0; i < sig.keywords.size(); ++i) keywords[i] = nullptr;
    if (nargs > 1) {
        PyErr_Format(PyExc_TypeError, "%s() takes exactly 1 positional argument (%zd given)",
                     sig.function, nargs);
        return false;
    }
    Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t k = 0; k < nkw; ++k) {
        PyObject* name = PyTuple_GET_ITEM(kwnames, k);
        int index = keyword_index(sig, name);
        if (index < 0) {
            if (PyUnicode_CompareWithASCIIString(name, sig.positional) == 0) {
                PyErr_Format(
                    PyExc_TypeError,
                    "%s() got some positional-only arguments passed as keyword arguments: '%s'",
                    sig.function, sig.positional);
            } else {
                PyErr_Format(PyExc_TypeError, "%s() got an unexpected keyword argument '%U'",
                             sig.function, name);
            }
            return false;
        }
        PyObject* value = args[nargs + k];
        keywords[index] = value == Py_None ? nullptr : value;
    }
    if (nargs < 1) {
        PyErr_Format(PyExc_TypeError, "%s() missing required positional argument: '%s'",
                     sig.function, sig.positional);
        return false;
    }
    *positional = args[0];
    return true;
}

std::optional<std::uint64_t> read_u64(PyObject* value, const char* function, const char* name) {
    if (value == nullptr) return 0;
    if (!PyLong_Check(value) && !PyIndex_Check(value)) {
        PyErr_Format(PyExc_TypeError,
                     "%s() argument '%s': '%.200s' object cannot be interpreted as an integer",
                     function, name, Py_TYPE(value)->tp_name);
        return std::nullopt;
    }
    Ref index(PyNumber_Index(value));
    if (!index) return std::nullopt;
    unsigned long long v = PyLong_AsUnsignedLongLong(index.get());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return std::nullopt;
    return static_cast<std::uint64_t>(v);
}

void raise_argument_type(const char* function, const char* name, const char* what,
                         PyObject* value) {
    PyErr_Format(PyExc_TypeError, "%s() argument '%s' must be %s, not %.200s", function, name, what,
                 Py_TYPE(value)->tp_name);
}

}  // namespace quarvel::py
