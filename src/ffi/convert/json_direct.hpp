// to_json straight from the objects for graphs of exact built-in types.
#pragma once

#include "encode/emitter.hpp"
#include "pyutil/python.hpp"

namespace quarvel::py {

// `root` as JSON in a new bytes object, when it and everything it holds are
// exact dict, list, tuple, str, int, float, bool or None: no value tree, no
// copies of the strings, the text written into the bytes object itself, the
// lock held. No user code runs on those types, so when the writer meets
// anything else (another type, a lone surrogate, a key that JSON cannot
// spell, nesting too deep) it stops and returns null with `gave_up` set and
// no exception; the general path then runs from the start and gives the
// output, or the error, it always gives. Null without `gave_up` is a failure
// with the exception set; std::bad_alloc when memory runs out mid-write.
PyObject* json_bytes_direct(PyObject* root, const JsonSettings& settings, bool& gave_up);

}  // namespace quarvel::py
