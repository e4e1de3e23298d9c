// What the editing layer gives the module: its classes, round-trip loading
// and write-back functions.
#pragma once

#include <cstdint>
#include <functional>
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

// Resolves the configuration directives of a composed document in place and
// keeps its file table; false with an exception set.
using ResolveDirectives = std::function<bool(DocumentState&)>;

// The round-trip path of loads: `text` composed into a new QuarvelDocument,
// its directives resolved by `resolve` when that is given.
PyObject* load_document(std::string text, std::uint64_t option, const ModeChoice& mode,
                        const ResolveDirectives& resolve = {});

// QuarvelDocument.to_yaml() (and dumps of a document): the YAML bytes;
// with `normalize`, its layout normalised (to_yaml(normalize=True)).
PyObject* document_yaml(PyObject* document, bool normalize = false);

PyObject* dump_includes(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames);
PyObject* dump_includes_map(PyObject* module, PyObject* const* args, Py_ssize_t nargs,
                            PyObject* kwnames);

}  // namespace quarvel::py
