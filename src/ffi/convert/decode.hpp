// Value trees to Python objects, with tag application.
#pragma once

#include "pyutil/python.hpp"
#include "value/value.hpp"

namespace quarvel::py {

struct ConvertOptions {
    PyObject* tags = nullptr;         // borrowed dict (or subclass), or null
    PyObject* tag_handler = nullptr;  // borrowed callable, or null
    bool passthrough_tags = false;
};

// A new reference, or null with an exception set (MemoryError when the stack
// ran out). Call once per document:
// mapping key strings are shared across the document.
PyObject* convert_document(const YamlValue& root, const ConvertOptions& options);

}  // namespace quarvel::py
