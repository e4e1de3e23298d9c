// Hashable stand-ins for converted containers used as mapping keys.
#pragma once

#include "pyutil/python.hpp"

namespace quarvel::py {

// `o` with every list made a tuple and every dict a tuple of (key, value)
// pairs, recursively; anything else as it is. A new reference, or null (an
// exception set, or the stack ran out).
PyObject* frozen(PyObject* o);

}  // namespace quarvel::py
