// The module boundary: error values become Python exceptions here, and
// warnings go to the "quarvel" logger.
#pragma once

#include "pyutil/python.hpp"
#include "support/error.hpp"

namespace quarvel::py {

enum class ExcClass : int {
    ParseError,
    DecodeError,
    EncodeError,
    EnvVarError,
    SchemaError,
    IncludeError,
    ComplexKeyError,
    DuplicateKeyError,
    IncludeDepthError,
    SecretNotFoundError,
    UnserializableError,
    CircularIncludeError,
    IncludeNotFoundError,
    IncludeConfinementError,
};

// The class object from quarvel.exceptions (borrowed, cached for the process),
// or null with an exception set.
PyObject* exception_class(ExcClass which);

// Sets the Python exception for `error`; always returns null so callers can
// `return raise(error);`.
PyObject* raise(const Error& error);
// A directive-family error whose message stands alone: no " in " + file
// suffix and no include stack; `file`, when set, becomes the attribute.
PyObject* raise_unplaced(const Error& error);

// logging.getLogger("quarvel").warning(text) for each text; never raises.
void log_warnings(const Warnings& warnings);

// The trap for a C++ exception that reached the boundary (call it only inside a
// catch block): std::bad_alloc becomes MemoryError, anything else the internal
// fault "uncaught panic at ffi boundary". Always returns null.
PyObject* raise_internal_fault() noexcept;

// Ends a call whose stack ran out: whatever it returned (a new reference or
// null) or raised is dropped for a MemoryError. Returns null.
PyObject* raise_stack_exhausted(PyObject* result) noexcept;

}  // namespace quarvel::py
