// Creating Python str objects from UTF-8 text quickly.
#pragma once

#include <cstring>
#include <string_view>

#include "pyutil/python.hpp"

namespace quarvel::py {

inline bool is_ascii(std::string_view s) {
    const char* p = s.data();
    std::size_t n = s.size();
    std::uint64_t acc = 0;
    while (n >= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        acc |= w;
        p += 8;
        n -= 8;
    }
    while (n--) acc |= static_cast<unsigned char>(*p++);
    return (acc & 0x8080808080808080ULL) == 0;
}

// A new str from valid UTF-8 text; ASCII text is copied straight in.
inline PyObject* new_str(std::string_view s) {
    if (is_ascii(s)) {
        PyObject* o = PyUnicode_New(static_cast<Py_ssize_t>(s.size()), 127);
        if (o && !s.empty()) std::memcpy(PyUnicode_1BYTE_DATA(o), s.data(), s.size());
        return o;
    }
    return PyUnicode_DecodeUTF8(s.data(), static_cast<Py_ssize_t>(s.size()), "strict");
}

// The UTF-8 buffer of a str (valid while it lives): 1, or 0 when it holds a
// lone surrogate, or -1 with an exception set.
inline int borrowed_utf8(PyObject* s, std::string_view& out) {
    if (PyUnicode_IS_COMPACT_ASCII(s)) {
        out = {static_cast<const char*>(PyUnicode_DATA(s)),
               static_cast<std::size_t>(PyUnicode_GET_LENGTH(s))};
        return 1;
    }
    Py_ssize_t size = 0;
    if (const char* p = PyUnicode_AsUTF8AndSize(s, &size)) {
        out = {p, static_cast<std::size_t>(size)};
        return 1;
    }
    if (!PyErr_ExceptionMatches(PyExc_UnicodeEncodeError)) return -1;
    PyErr_Clear();
    return 0;
}

// The UTF-8 copy that a compact str which is not ASCII already keeps (made by
// an earlier PyUnicode_AsUTF8AndSize), without making one: null when it has
// none. Read from the object's fields, laid out so from 3.11 through 3.14;
// other versions, and builds without the lock (where the copy is set
// concurrently), always have none here.
inline const char* kept_utf8(PyObject* s, std::size_t& size) {
#if PY_VERSION_HEX >= 0x030B0000 && PY_VERSION_HEX < 0x030F0000 && !defined(Py_GIL_DISABLED)
    const auto* compact = reinterpret_cast<const PyCompactUnicodeObject*>(s);
    size = static_cast<std::size_t>(compact->utf8_length);
    return compact->utf8;
#else
    (void)s;
    (void)size;
    return nullptr;
#endif
}

}  // namespace quarvel::py
