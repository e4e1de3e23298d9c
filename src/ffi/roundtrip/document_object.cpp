#include "ffi/roundtrip/document_object.hpp"

#include "ffi/roundtrip/api.hpp"
#include "pyutil/borrow_flag.hpp"

namespace quarvel::py {

Borrow::Borrow(PyObject* document, Mode mode) noexcept : doc_(as_document(document)) {
    if (!acquire_borrow(doc_->borrow, mode == Exclusive)) {
        raise_text(PyExc_RuntimeError, "already borrowed");
        return;
    }
    held_ = &doc_->borrow;
    exclusive_ = mode == Exclusive;
}

Borrow::~Borrow() {
    if (held_) release_borrow(*held_, exclusive_);
}

namespace {

PyObject* new_handle(PyTypeObject* type, PyObject* document, NodePath path) {
    if (!type) return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    HandleObject* h = as_handle(self);
    h->document = Py_NewRef(document);
    new (&h->path) NodePath(std::move(path));
    return self;
}

}  // namespace

PyObject* new_view(PyObject* document, NodePath path) {
    return new_handle(document_view_type(), document, std::move(path));
}

PyObject* new_node(PyObject* document, NodePath path) {
    return new_handle(node_type(), document, std::move(path));
}

PyObject* raise_text(PyObject* type, const char* text) {
    Ref arg(PyUnicode_FromString(text));
    if (arg) PyErr_SetObject(type, arg.get());
    return nullptr;
}

PyObject* raise_fault(const EditFault& fault) {
    PyObject* type = PyExc_ValueError;
    switch (fault.kind) {
        case EditFaultKind::Type:
            type = PyExc_TypeError;
            break;
        case EditFaultKind::Value:
            type = PyExc_ValueError;
            break;
        case EditFaultKind::Key:
            type = PyExc_KeyError;
            break;
        case EditFaultKind::Index:
            type = PyExc_IndexError;
            break;
    }
    Ref arg = str_from_utf8(fault.message);
    if (arg) PyErr_SetObject(type, arg.get());
    return nullptr;
}

PyObject* raise_missing_key(PyObject* key) {
    Ref text(PyObject_Str(key));
    if (text) PyErr_SetObject(PyExc_KeyError, text.get());
    return nullptr;
}

bool convert_key(PyObject* key, PathStep& out) {
    if (PyIndex_Check(key)) {
        Ref index(PyNumber_Index(key));
        if (!index) return false;
        const unsigned long long n = PyLong_AsUnsignedLongLong(index.get());
        if (n == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
            // Negative or beyond 64 bits: neither a position nor a key.
            PyErr_Clear();
            raise_text(PyExc_TypeError, "mapping keys must be str or int");
            return false;
        }
        out = PathStep::of_index(n);
        return true;
    }
    if (PyUnicode_Check(key)) {
        std::string_view text;
        if (!utf8_view(key, text)) return false;
        out = PathStep::of_key(text);
        return true;
    }
    raise_text(PyExc_TypeError, "mapping keys must be str or int");
    return false;
}

bool utf8_view(PyObject* s, std::string_view& out) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(s, &size);
    if (!data) return false;
    out = std::string_view(data, static_cast<std::size_t>(size));
    return true;
}

const char* kind_word(const YamlNode& node) {
    switch (node.kind) {
        case NodeKind::Scalar:
            return "scalar";
        case NodeKind::Sequence:
            return "sequence";
        case NodeKind::Mapping:
            return "mapping";
        case NodeKind::Alias:
            return "alias";
        case NodeKind::Null:
            return "null";
    }
    return "null";
}

PyObject* range_tuple(const YamlNode& node) {
    return Py_BuildValue("(KKKK)", static_cast<unsigned long long>(node.span.line) + 1,
                         static_cast<unsigned long long>(node.span.column) + 1,
                         static_cast<unsigned long long>(node.end_line) + 1,
                         static_cast<unsigned long long>(node.end_column) + 1);
}

}  // namespace quarvel::py

namespace quarvel::py {

void handle_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    HandleObject* h = as_handle(self);
    h->path.~NodePath();
    Py_XDECREF(h->document);
    type->tp_free(self);
    Py_DECREF(type);
}

}  // namespace quarvel::py
