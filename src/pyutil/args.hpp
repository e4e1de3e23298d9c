// Argument frames for the fast-call-with-keywords convention: one
// positional-only parameter, then keyword-only ones. None counts as absent.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "pyutil/python.hpp"

namespace quarvel::py {

struct Signature {
    const char* function;                   // "loads"
    const char* positional;                 // "data"
    std::span<const char* const> keywords;  // keyword-only parameter names
};

// Fills `positional` and `keywords[i]` (borrowed; null when absent or None).
// Returns false with a TypeError set on a bad call.
bool bind_arguments(const Signature& sig, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, PyObject** positional, PyObject** keywords);

// Reads an unsigned 64-bit integer through __index__; absent gives 0. On a
// wrong type the TypeError names the parameter; out of range gives the
// interpreter's OverflowError.
std::optional<std::uint64_t> read_u64(PyObject* value, const char* function, const char* name);

// Raises "function() argument 'name' must be <what>, not <type>".
void raise_argument_type(const char* function, const char* name, const char* what, PyObject* value);

}  // namespace quarvel::py
