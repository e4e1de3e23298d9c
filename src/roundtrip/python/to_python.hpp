// Syntax tree nodes to plain Python values, read by the YAML 1.2 core rules.
#pragma once

#include "pyutil/python.hpp"
#include "syntax/node.hpp"

namespace quarvel::py {

// The value of `node`, which lies in the tree of `root`: aliases resolve
// within that tree, two aliases of one anchor giving one object. A new
// reference, or null with an exception set.
PyObject* node_value(const YamlNode& root, const YamlNode& node);

// The value of a mapping key: as node_value, with lists and dicts made into
// tuples so that the key is hashable.
PyObject* key_value(const YamlNode& root, const YamlNode& key);

}  // namespace quarvel::py
