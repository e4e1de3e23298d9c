// The classes the module registers. Each type object is created from its
// type description on first request and kept for the process.
#pragma once

#include "pyutil/py_ref.hpp"
#include "pyutil/python.hpp"

namespace quarvel::py {

PyTypeObject* tag_type();
PyTypeObject* annotated_dict_type();
PyTypeObject* annotated_list_type();

// QuarvelTag(tag, value) with a str tag; null with an exception set on failure.
PyObject* new_tag(PyObject* tag, PyObject* value);
bool is_tag(PyObject* obj);
PyObject* tag_text(PyObject* tag_obj);   // borrowed
PyObject* tag_value(PyObject* tag_obj);  // borrowed

}  // namespace quarvel::py
