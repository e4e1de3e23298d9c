// Python values to new syntax tree nodes, for assignments.
#pragma once

#include "pyutil/python.hpp"
#include "roundtrip/document_state.hpp"
#include "support/expected.hpp"
#include "syntax/node.hpp"

namespace quarvel::py {

// Nesting at which an assigned value is refused.
inline constexpr unsigned kAssignDepthLimit = 1000;

// The node for `value`: texts go to the document's arena, new strings are
// quoted by its preference, nulls are marked synthetic. Runs Python code
// (__float__, __repr__, dict iteration), so the caller holds the document
// exclusively. Nothing on failure (an exception set).
std::optional<YamlNode> node_from_python(PyObject* value, DocumentState& doc);

}  // namespace quarvel::py
