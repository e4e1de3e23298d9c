// Python objects for integers too large for 64 bits.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "pyutil/python.hpp"

namespace quarvel::py {

// Where a scalar begins, 0-based.
struct ScalarAt {
    std::uint32_t line = 0;
    std::uint32_t column = 0;
};

// The int that a big-integer scalar's `text` spells, in whichever base the
// resolver read it. Hexadecimal, octal and binary numbers convert at any
// length; a number with more decimal digits than the interpreter takes
// (sys.get_int_max_str_digits) is refused as json.loads refuses it: a parse
// error at the position `at` gives (asked only then; none when unknown). A
// new reference, or null with an exception set.
using ScalarPosition = std::function<std::optional<ScalarAt>()>;
PyObject* big_int_object(std::string_view text, const ScalarPosition& at);

}  // namespace quarvel::py
