// Python objects for integers too large for 64 bits.
#pragma once

#include <string>
#include <string_view>

#include "pyutil/python.hpp"

namespace quarvel::py {

// The int that the decimal `digits` of a big-integer scalar spell; the
// scalar's `text` as a str when there are none or Python will not take the
// number (too many digits for the interpreter's limit). A new reference, or
// null with an exception set.
PyObject* big_int_object(const std::string& digits, std::string_view text);

}  // namespace quarvel::py
