// Deleting and inserting through documents and views (del, pop, append,
// insert, extend), and renaming an anchor with its aliases through a cursor.
// A document acts on its first root.
#pragma once

#include "ffi/roundtrip/document_object.hpp"
#include "pyutil/python.hpp"

namespace quarvel::py {

// del node-at-path[key] under an exclusive hold: a sequence index (negative
// counts from the end) or a mapping key. 0, or -1 with an exception set.
int delete_at(PyObject* document, const NodePath& path, PyObject* key, const char* stale);

// The methods of QuarvelDocumentView (self a view) and of QuarvelDocument
// (self a document, acting on its first root).
PyObject* view_pop(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
PyObject* view_append(PyObject* self, PyObject* value);
PyObject* view_insert(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
PyObject* view_extend(PyObject* self, PyObject* items);
PyObject* document_pop(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
PyObject* document_append(PyObject* self, PyObject* value);
PyObject* document_insert(PyObject* self, PyObject* const* args, Py_ssize_t nargs);
PyObject* document_extend(PyObject* self, PyObject* items);

// Their docstrings, shared by the two classes' method tables.
extern const char kPopDoc[];
extern const char kAppendDoc[];
extern const char kInsertDoc[];
extern const char kExtendDoc[];

}  // namespace quarvel::py
