// What the editing layer gives the module: its classes, round-trip loading
// and write-back functions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "pyutil/python.hpp"
#include "resolver/resolver.hpp"

namespace quarvel {
struct DocumentState;
}

namespace quarvel::py {

PyTypeObject* document_type();
PyTypeObject* document_view_type();
PyTypeObject* node_type();

// A new QuarvelDocument owning `state`.
PyObject* new_document(std::unique_ptr<DocumentState> state);

// The number of roots of a QuarvelDocument; -1 with an exception set.
Py_ssize_t document_root_count(PyObject* document);

// The round-trip path of loads: `text` composed into a new QuarvelDocument.
PyObject* load_document(std::string text, std::uint64_t option, const ModeChoice& mode);

PyObject* dump_includes(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames);
PyObject* dump_includes_map(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames);

}  // namespace quarvel::py
