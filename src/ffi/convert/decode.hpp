// Value trees to Python objects, with tag application.
#pragma once

#include <string_view>

#include "pyutil/big_int.hpp"
#include "pyutil/py_ref.hpp"
#include "pyutil/python.hpp"
#include "value/value.hpp"

namespace quarvel::py {

struct ConvertOptions {
    PyObject* tags = nullptr;         // borrowed dict (or subclass), or null
    PyObject* tag_handler = nullptr;  // borrowed callable, or null
    bool passthrough_tags = false;
    // The text the value trees were decoded from, which their scalar texts
    // view: where an error about a scalar points. Empty when unknown.
    std::string_view source;
};

// A new reference, or null with an exception set (MemoryError when the stack
// ran out). Call once per document:
// mapping key strings are shared across the document.
PyObject* convert_document(const YamlValue& root, const ConvertOptions& options);

// The value of a node under a tag the resolver does not consume: through the
// `tags` table, the tag handler, or as a QuarvelTag with passthrough; else the
// value itself. A new reference, or null with an exception set.
PyObject* apply_tag(std::string_view tag, Ref inner, const ConvertOptions& options);

}  // namespace quarvel::py
