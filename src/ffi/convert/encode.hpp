// Python objects to value trees, for dumps and to_json.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pyutil/py_ref.hpp"
#include "pyutil/python.hpp"
#include "support/arena.hpp"
#include "support/error.hpp"
#include "value/value.hpp"

namespace quarvel::py {

// Where the texts of an encoded tree live. Exact str objects are kept alive
// here and their UTF-8 buffers are viewed directly; every other text is
// copied into the arena. The tree must be dropped before `kept` is released,
// and `kept` may only be released with the interpreter lock held.
struct EncodeStorage {
    Arena arena;
    std::vector<Ref> kept;
};

struct EncodeContext {
    PyObject* default_fn = nullptr;  // borrowed callable, or null
    PyObject* tags = nullptr;        // borrowed dict (or subclass): type -> callback, or null
    std::uint32_t depth = 0;         // 0 for the argument itself
    bool serialize_numpy = false;
    bool omit_microseconds = false;
    bool naive_utc = false;
    bool utc_z = false;
    bool passthrough_datetime = false;
    bool passthrough_dataclass = false;
    bool tags_must_be_yaml = false;  // refuse tags that YAML cannot spell (dumps)
    // A list or dict met again is encoded once and its tree shared, so that
    // an object graph sharing containers costs its own size, not the size
    // of its expansion (schemas: nothing is written from the tree).
    bool share_repeated = false;
    EncodeStorage* storage = nullptr;  // required
};

// The six encoding flags of an option set (default, tags and storage unset).
EncodeContext encode_context_from_options(std::uint64_t option);

// Converts `object` (and everything it contains) with the lock held. An
// exception raised by Python code comes back as Error::python_raised() with
// the exception still set; running out of stack as stack_exhausted_error().
Result<YamlValue> encode_object(PyObject* object, const EncodeContext& context);

// The UTF-8 of a str (or subclass), each lone surrogate written as U+FFFD.
// False with an exception set only when the interpreter fails (memory).
bool lenient_utf8(PyObject* s, std::string& out);

// The date/time text rules applied to an isoformat() result.
struct DateTimeFlags {
    bool omit_microseconds = false;
    bool naive_utc = false;
    bool utc_z = false;
};
void normalise_isoformat(std::string_view text, const DateTimeFlags& flags, std::string& out);

}  // namespace quarvel::py
