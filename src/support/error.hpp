// Error values carried from every stage to the module boundary, where one
// function (raise in pyutil/errors.cpp) turns them into Python exceptions.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "support/expected.hpp"

namespace quarvel {

enum class ErrorFamily : std::uint8_t {
    Syntax,      // scanner, parser, composer, resolver
    Directive,   // includes, secrets, environment variables
    Schema,      // schema validation
    Conversion,  // to or from Python objects
    Argument,    // bad arguments: ValueError / TypeError
    Python,      // a Python exception is already set (callbacks); pass it on
    Memory,      // out of memory (a stack segment could not be mapped): MemoryError
    Internal,    // a fault inside the library
};

// Class selectors within each family.
namespace syntax_kind {
inline constexpr int parse = 0;
inline constexpr int duplicate_key = 1;
inline constexpr int complex_key = 2;
}  // namespace syntax_kind

namespace directive_kind {
inline constexpr int include_not_found = 0;
inline constexpr int circular_include = 1;
inline constexpr int include_depth = 2;
inline constexpr int include_confinement = 3;
inline constexpr int secret_not_found = 4;
inline constexpr int env_var = 5;
inline constexpr int include_other = 6;
}  // namespace directive_kind

namespace conversion_kind {
inline constexpr int decode = 0;
inline constexpr int encode = 1;
inline constexpr int unserializable = 2;
}  // namespace conversion_kind

namespace argument_kind {
inline constexpr int value_error = 0;
inline constexpr int type_error = 1;
}  // namespace argument_kind

struct IncludeFrame {
    std::string path;
    std::uint32_t line = 0;  // 0-based
};

// A second place an error points at, as compilers add one: what stands
// there, where, and what is said of it ("the '['", "is never closed"), in the
// error's file.
struct ErrorNote {
    std::string subject;
    std::string remark;
    std::uint32_t line = 0;    // 0-based
    std::uint32_t column = 0;  // 0-based
};

struct Error {
    ErrorFamily family = ErrorFamily::Internal;
    int selector = 0;
    std::string message;
    bool has_position = false;
    std::uint32_t line = 0;    // 0-based
    std::uint32_t column = 0;  // 0-based
    std::optional<std::string> file;
    std::vector<IncludeFrame> include_stack;
    std::string schema_path;
    std::vector<ErrorNote> notes;

    static Error syntax(std::string message, std::uint32_t line, std::uint32_t column,
                        int kind = syntax_kind::parse) {
        Error e;
        e.family = ErrorFamily::Syntax;
        e.selector = kind;
        e.message = std::move(message);
        e.has_position = true;
        e.line = line;
        e.column = column;
        return e;
    }
    static Error conversion(std::string message, int kind) {
        Error e;
        e.family = ErrorFamily::Conversion;
        e.selector = kind;
        e.message = std::move(message);
        return e;
    }
    static Error argument(std::string message, int kind = argument_kind::value_error) {
        Error e;
        e.family = ErrorFamily::Argument;
        e.selector = kind;
        e.message = std::move(message);
        return e;
    }
    static Error memory(std::string message) {
        Error e;
        e.family = ErrorFamily::Memory;
        e.message = std::move(message);
        return e;
    }
    // A fault inside the library: a state the code should never reach, or a
    // piece of the module's own setup that is missing. Every such fault is
    // reported this way, as a value returned up to the module boundary like any
    // other error, where it becomes SystemError(message). Nothing is thrown and
    // nothing aborts. The one other path is the trap at each entry point
    // (py::guarded, py::raise_internal_fault) for a C++ exception that escapes
    // anyway, such as std::bad_alloc from the standard library; it ends in the
    // same SystemError, with a fixed message, or in MemoryError.
    static Error internal(std::string message) {
        Error e;
        e.family = ErrorFamily::Internal;
        e.message = std::move(message);
        return e;
    }
    // A Python exception has been set by the binding layer and must pass unchanged.
    static Error python_raised() {
        Error e;
        e.family = ErrorFamily::Python;
        return e;
    }
};

template <class T>
using Result = detail::expected<T, Error>;
using Status = detail::expected<void, Error>;

inline detail::unexpected<Error> fail(Error e) {
    return detail::unexpected<Error>(std::move(e));
}

// A non-fatal finding: its text, and notes that point at related places
// (the first of two duplicate keys).
struct Warning {
    std::string text;
    std::vector<ErrorNote> notes;

    Warning() = default;
    Warning(std::string t) : text(std::move(t)) {}  // NOLINT: most warnings are only text
    Warning(std::string t, ErrorNote note) : text(std::move(t)), notes{std::move(note)} {}
};

// Non-fatal findings, logged in order by the frame once the lock is held again.
using Warnings = std::vector<Warning>;

}  // namespace quarvel
