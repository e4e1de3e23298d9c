// The editing classes. Documents, views and node cursors are only created by
// loads(..., option=OPT_ROUND_TRIP) and by the documents themselves, never
// by calling the class.
#include <atomic>

#include "pyutil/py_ref.hpp"
#include "roundtrip/python/api.hpp"

namespace quarvel::py {
namespace {

std::atomic<PyObject*> g_document{nullptr};
std::atomic<PyObject*> g_view{nullptr};
std::atomic<PyObject*> g_node{nullptr};

PyType_Slot plain_slots[] = {{0, nullptr}};

PyType_Spec document_spec = {"_quarvel.QuarvelDocument", sizeof(PyObject), 0,
                             Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, plain_slots};
PyType_Spec view_spec = {"_quarvel.QuarvelDocumentView", sizeof(PyObject), 0,
                         Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, plain_slots};
PyType_Spec node_spec = {"_quarvel.QuarvelNode", sizeof(PyObject), 0,
                         Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, plain_slots};

PyObject* make_document() {
    return PyType_FromSpec(&document_spec);
}
PyObject* make_view() {
    return PyType_FromSpec(&view_spec);
}
PyObject* make_node() {
    return PyType_FromSpec(&node_spec);
}

}  // namespace

PyTypeObject* document_type() {
    return cached_type(g_document, make_document);
}
PyTypeObject* document_view_type() {
    return cached_type(g_view, make_view);
}
PyTypeObject* node_type() {
    return cached_type(g_node, make_node);
}

}  // namespace quarvel::py
