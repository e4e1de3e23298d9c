// The classes the module registers. Each type object is created from its
// type description on first request and kept for the process.
#pragma once

#include <atomic>

#include "ffi/python.hpp"

namespace quarvel::py {

// Returns the cached type built by `make` (a new reference or null with an
// exception set); a racing thread's type is discarded.
PyTypeObject* cached_type(std::atomic<PyObject*>& cell, PyObject* (*make)());

PyTypeObject* document_type();
PyTypeObject* document_view_type();
PyTypeObject* node_type();
PyTypeObject* tag_type();
PyTypeObject* annotated_dict_type();
PyTypeObject* annotated_list_type();

// QuarvelTag(tag, value) with a str tag; null with an exception set on failure.
PyObject* new_tag(PyObject* tag, PyObject* value);
bool is_tag(PyObject* obj);
PyObject* tag_text(PyObject* tag_obj);   // borrowed
PyObject* tag_value(PyObject* tag_obj);  // borrowed

}  // namespace quarvel::py
