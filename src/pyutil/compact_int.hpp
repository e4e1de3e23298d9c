// Reading a small int without a call.
#pragma once

#include "pyutil/python.hpp"

namespace quarvel::py {

// The value of an int object `o` (an int or a subclass) when the interpreter
// stores it in one digit, as it does every int below 2^30 in magnitude: read
// inline, it saves writers a call and its overflow checks per number. False
// for larger ints, which the caller reads the general way.
inline bool compact_int_value(PyObject* o, long long& value) {
    auto* n = reinterpret_cast<PyLongObject*>(o);
#if PY_VERSION_HEX >= 0x030C0000
    if (!PyUnstable_Long_IsCompact(n)) return false;
    value = static_cast<long long>(PyUnstable_Long_CompactValue(n));
    return true;
#else
    const Py_ssize_t size = Py_SIZE(o);
    if (size < -1 || size > 1) return false;
    value = static_cast<long long>(size) * static_cast<long long>(n->ob_digit[0]);
    return true;
#endif
}

}  // namespace quarvel::py
