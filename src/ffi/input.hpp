// The `data` argument of the reading functions, as owned UTF-8 text.
#pragma once

#include <string>

#include "pyutil/python.hpp"
#include "support/error.hpp"

namespace quarvel::py {

// str, bytes, bytearray or any buffer of unsigned bytes; bytes are decoded as
// UTF-8, UTF-16 or UTF-32 by their byte order mark or zero-byte pattern.
Result<std::string> read_input_text(PyObject* data);

}  // namespace quarvel::py
