// QuarvelDocumentView: a live proxy onto one mapping or sequence of a
// document, found again by its path before every operation.
#include <atomic>

#include "ffi/roundtrip/api.hpp"
#include "ffi/roundtrip/container_ops.hpp"
#include "ffi/roundtrip/emit_bindings.hpp"
#include "ffi/roundtrip/structure_ops.hpp"
#include "ffi/roundtrip/values.hpp"
#include "pyutil/guarded.hpp"

namespace quarvel::py {
namespace {

std::atomic<PyObject*> g_view{nullptr};

// The view's node under a shared hold, or null with KeyError("stale view").
class ViewRead {
  public:
    explicit ViewRead(PyObject* self)
        : view_(as_handle(self)), hold_(view_->document, Borrow::Shared) {
        if (!hold_.ok()) return;
        node_ = resolve_path(hold_.state().roots(), view_->path, hold_.state().mode);
        if (!node_) raise_text(PyExc_KeyError, "stale view");
    }
    YamlNode* node() const { return node_; }
    const YamlNode& root() const { return root_for(hold_.state(), view_->path); }
    DocumentState& state() const { return hold_.state(); }

  private:
    HandleObject* view_;
    Borrow hold_;
    YamlNode* node_ = nullptr;
};

PyObject* view_subscript(PyObject* self, PyObject* key) {
    return guarded([&]() -> PyObject* {
        ViewRead read(self);
        if (!read.node()) return nullptr;
        // The view stood for a mapping or sequence; one replaced by a scalar
        // has nothing left to index.
        if (!read.node()->is_collection()) return raise_text(PyExc_KeyError, "stale view");
        PathStep step;
        if (!convert_key(key, step)) return nullptr;
        HandleObject* h = as_handle(self);
        return read_item(h->document, read.state(), *read.node(), h->path, step, key);
    });
}

int view_ass_subscript(PyObject* self, PyObject* key, PyObject* value) {
    return guarded_status([&] {
        HandleObject* h = as_handle(self);
        return assign_at(h->document, h->path, key, value, "stale view");
    });
}

Py_ssize_t view_length(PyObject* self) {
    ViewRead read(self);
    return read.node() ? node_length(*read.node()) : -1;
}

int view_contains(PyObject* self, PyObject* key) {
    ViewRead read(self);
    if (!read.node()) return -1;
    return has_text_key(*read.node(), key, read.state().mode) ? 1 : 0;
}

PyObject* view_repr(PyObject* self) {
    HandleObject* h = as_handle(self);
    Borrow hold(h->document, Borrow::Shared);
    if (!hold.ok()) return nullptr;
    const YamlNode* node = resolve_path(hold.state().roots(), h->path, hold.state().mode);
    if (!node) return PyUnicode_FromString("QuarvelDocumentView(<stale>)");
    return PyUnicode_FromFormat("QuarvelDocumentView(%s)", kind_word(*node));
}

PyObject* view_get(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs < 1 || nargs > 2) {
        PyErr_Format(PyExc_TypeError, "get() takes 1 or 2 arguments (%zd given)", nargs);
        return nullptr;
    }
    PyObject* found = view_subscript(self, args[0]);
    if (found || !PyErr_ExceptionMatches(PyExc_Exception)) return found;
    PyErr_Clear();
    return Py_NewRef(nargs == 2 ? args[1] : Py_None);
}

PyObject* view_keys(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        ViewRead read(self);
        if (!read.node()) return nullptr;
        return mapping_keys(read.state(), read.root(), *read.node());
    });
}

PyObject* view_unwrap(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        ViewRead read(self);
        if (!read.node()) return nullptr;
        return node_value(read.state(), read.root(), *read.node());
    });
}

PyObject* view_range(PyObject* self, PyObject*) {
    ViewRead read(self);
    if (!read.node()) return nullptr;
    return range_tuple(*read.node());
}

PyObject* view_walk(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        ViewRead read(self);
        if (!read.node()) return nullptr;
        return walk_leaves(read.state(), read.root(), *read.node());
    });
}

PyObject* view_to_yaml(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        ViewRead read(self);
        if (!read.node()) return nullptr;
        return node_yaml(read.state(), *read.node());
    });
}

PyObject* view_node(PyObject* self, void*) {
    {
        ViewRead read(self);
        if (!read.node()) return nullptr;
    }
    HandleObject* h = as_handle(self);
    return new_node(h->document, h->path);
}

PyMethodDef view_methods[] = {
    {"get", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(view_get)), METH_FASTCALL,
     "get($self, key, default)\n--\n\nThe value at key, or default when there is none."},
    {"keys", view_keys, METH_NOARGS, "The keys of the mapping."},
    {"unwrap", view_unwrap, METH_NOARGS, "The node as plain Python values."},
    {"to_dict", view_unwrap, METH_NOARGS, "The node as plain Python values."},
    {"range", view_range, METH_NOARGS, "(start_line, start_col, end_line, end_col), 1-based."},
    {"walk", view_walk, METH_NOARGS, "(path, value) for every leaf below the node."},
    {"to_yaml", view_to_yaml, METH_NOARGS, "The node alone as YAML bytes."},
    {"pop", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(quarvel::py::view_pop)),
     METH_FASTCALL, kPopDoc},
    {"append", quarvel::py::view_append, METH_O, kAppendDoc},
    {"insert",
     reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(quarvel::py::view_insert)),
     METH_FASTCALL, kInsertDoc},
    {"extend", quarvel::py::view_extend, METH_O, kExtendDoc},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef view_getset[] = {
    {"node", view_node, nullptr, "The node cursor at the view's path.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot view_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(handle_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(view_repr)},
    {Py_tp_methods, view_methods},
    {Py_tp_getset, view_getset},
    {Py_mp_subscript, reinterpret_cast<void*>(view_subscript)},
    {Py_mp_ass_subscript, reinterpret_cast<void*>(view_ass_subscript)},
    {Py_mp_length, reinterpret_cast<void*>(view_length)},
    {Py_sq_contains, reinterpret_cast<void*>(view_contains)},
    {Py_tp_doc, const_cast<char*>("A live view of one mapping or sequence of a document.")},
    {0, nullptr},
};

PyType_Spec view_spec = {"_quarvel.QuarvelDocumentView", sizeof(HandleObject), 0,
                         Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, view_slots};

PyObject* make_view() {
    return PyType_FromSpec(&view_spec);
}

}  // namespace

PyTypeObject* document_view_type() {
    return cached_type(g_view, make_view);
}

}  // namespace quarvel::py
