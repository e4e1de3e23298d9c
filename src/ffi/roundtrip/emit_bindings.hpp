// YAML output of documents and views, and writing documents back to files.
#pragma once

#include "pyutil/python.hpp"
#include "roundtrip/document_state.hpp"

namespace quarvel::py {

// One node of a document written as a document root: bytes, or null with an
// exception set.
PyObject* node_yaml(const DocumentState& state, const YamlNode& node);

// QuarvelDocument.save(path=None): the paths written, as a list of str.
PyObject* save_document(PyObject* document, PyObject* path);

// dump_includes (None) and dump_includes_map (path -> bytes) of `doc`.
PyObject* write_included_files(PyObject* doc);
PyObject* included_files_map(PyObject* doc);

}  // namespace quarvel::py
