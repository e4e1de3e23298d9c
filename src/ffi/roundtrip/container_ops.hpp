// What documents and views share: reading, testing, counting, listing and
// assigning the entries of the node they stand for.
#pragma once

#include "ffi/roundtrip/document_object.hpp"
#include "pyutil/python.hpp"

namespace quarvel::py {

// The tree a path lies in (aliases resolve within it).
const YamlNode& root_for(const DocumentState& state, const NodePath& path);

// node[step], where `node` is at `base`: a view for a mapping or sequence,
// and for an alias of one a view of the node it refers to; else the Python
// value (an alias resolved). `key` is the Python key the step came from, for
// the KeyError.
PyObject* read_item(PyObject* document, DocumentState& state, YamlNode& node, const NodePath& base,
                    const PathStep& step, PyObject* key);

// The keys of a mapping as Python values; TypeError "node is not a mapping".
PyObject* mapping_keys(const DocumentState& state, const YamlNode& root, const YamlNode& node);

// Whether `key` is a str equal to the text of some scalar key of a mapping.
bool has_text_key(const YamlNode& node, PyObject* key, ResolverMode mode);

// Entries or items; 1 for scalars, aliases and nulls.
Py_ssize_t node_length(const YamlNode& node);

// The (path, value) pairs of the leaves below `node`, paths relative to it.
PyObject* walk_leaves(const DocumentState& state, const YamlNode& root, const YamlNode& node);

// node-at-path[key] = value under an exclusive hold. `stale` is the message
// for a path that no longer resolves. 0, or -1 with an exception set.
int assign_at(PyObject* document, const NodePath& path, PyObject* key, PyObject* value,
              const char* stale);

}  // namespace quarvel::py
