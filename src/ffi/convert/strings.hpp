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

}  // namespace quarvel::py
