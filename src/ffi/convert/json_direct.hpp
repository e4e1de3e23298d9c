// to_json straight from the objects for graphs of exact built-in types.
#pragma once

#include <string>

#include "encode/emitter.hpp"
#include "pyutil/python.hpp"

namespace quarvel::py {

// Writes `root` as JSON into `out` when it and everything it holds are exact
// dict, list, tuple, str, int, float, bool or None: no value tree, no copies
// of the strings, the lock held. No user code runs on those types, so when
// the writer meets anything else (another type, a lone surrogate, a key that
// JSON cannot spell, nesting too deep) it stops and returns false with `out`
// unchanged and no exception set; the general path then runs from the start
// and gives the output, or the error, it always gives.
bool write_json_direct(PyObject* root, const JsonSettings& settings, std::string& out);

}  // namespace quarvel::py
