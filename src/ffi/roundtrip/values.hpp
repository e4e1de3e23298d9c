// The values of a document being edited: its nodes read as loading reads
// them, by the mode the document was loaded in.
#pragma once

#include "ffi/convert/tree.hpp"
#include "pyutil/python.hpp"
#include "roundtrip/document_state.hpp"

namespace quarvel::py {

// Plain values, resolved by the document's mode. Tag options are not kept
// with a document: a node under a custom tag reads as its untagged value.
TreeConvertOptions value_options(const DocumentState& state);

// The value of `node`, which lies in the tree of `root`. A new reference, or
// null with an exception set.
PyObject* node_value(const DocumentState& state, const YamlNode& root, const YamlNode& node);

// The value of a mapping key: as node_value, with lists and dicts made into
// tuples so that the key is hashable.
PyObject* key_value(const DocumentState& state, const YamlNode& root, const YamlNode& key);

}  // namespace quarvel::py
