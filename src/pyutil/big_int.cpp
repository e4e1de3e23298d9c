#include "pyutil/big_int.hpp"

#include "pyutil/py_ref.hpp"

namespace quarvel::py {

PyObject* big_int_object(const std::string& digits, std::string_view text) {
    if (!digits.empty() && digits.find('\0') == std::string::npos) {
        if (PyObject* n = PyLong_FromString(digits.c_str(), nullptr, 10)) return n;
        PyErr_Clear();
    }
    return str_from_utf8(text).release();
}

}  // namespace quarvel::py
