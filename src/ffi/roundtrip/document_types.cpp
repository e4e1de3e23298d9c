// QuarvelDocument: the documents of one round-trip text. Created only by
// loads(..., option=OPT_ROUND_TRIP), never by calling the class.
#include <atomic>

#include "ffi/roundtrip/api.hpp"
#include "ffi/roundtrip/container_ops.hpp"
#include "ffi/roundtrip/emit_bindings.hpp"
#include "ffi/roundtrip/from_python.hpp"
#include "ffi/roundtrip/structure_ops.hpp"
#include "ffi/roundtrip/values.hpp"
#include "pyutil/args.hpp"
#include "pyutil/guarded.hpp"
#include "pyutil/py_ref.hpp"
#include "roundtrip/alias_refs.hpp"

namespace quarvel::py {
namespace {

std::atomic<PyObject*> g_document{nullptr};

void document_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete as_document(self)->state;
    type->tp_free(self);
    Py_DECREF(type);
}

bool single_root(const DocumentState& s) {
    return s.roots().size() == 1;
}

PyObject* document_subscript(PyObject* self, PyObject* key) {
    return guarded([&]() -> PyObject* {
        Borrow hold(self, Borrow::Shared);
        if (!hold.ok()) return nullptr;
        auto& roots = hold.state().roots();
        if (roots.size() == 1) {
            PathStep step;
            if (!convert_key(key, step)) return nullptr;
            return read_item(self, hold.state(), roots.front(), {}, step, key);
        }
        PathStep step;
        if (!PyIndex_Check(key) || !convert_key(key, step) || !step.is_index) {
            PyErr_Clear();
            return raise_text(PyExc_KeyError, "multi-document access requires an integer index");
        }
        if (step.index >= roots.size()) return raise_text(PyExc_IndexError, "index out of range");
        YamlNode& root = roots[step.index];
        if (root.is_collection()) return new_view(self, {step});
        return node_value(hold.state(), root, root);
    });
}

// Replaces a whole root of a document of several (or no) roots.
int assign_root(PyObject* self, PyObject* key, PyObject* value) {
    Borrow hold(self, Borrow::Exclusive);
    if (!hold.ok()) return -1;
    // Out-of-range integers clamp, and so fail as out of range below.
    const Py_ssize_t index = PyNumber_AsSsize_t(key, nullptr);
    if (index == -1 && PyErr_Occurred()) return -1;
    auto& roots = hold.state().roots();
    if (index < 0 || static_cast<std::size_t>(index) >= roots.size()) {
        raise_text(PyExc_IndexError, "index out of range");
        return -1;
    }
    const NodePath path{PathStep::of_index(static_cast<std::size_t>(index))};
    if (auto safe = check_replace(roots, hold.state().mode, path); !safe)
        return raise_fault(safe.error()), -1;
    auto fresh = node_from_python(value, hold.state());
    if (!fresh) return -1;
    replace_node(hold.state(), roots[static_cast<std::size_t>(index)], std::move(*fresh));
    return 0;
}

int document_ass_subscript(PyObject* self, PyObject* key, PyObject* value) {
    return guarded_status([&]() -> int {
        std::size_t count;
        {
            Borrow hold(self, Borrow::Shared);
            if (!hold.ok()) return -1;
            count = hold.state().roots().size();
        }
        if (count == 1) return assign_at(self, {}, key, value, "stale view");
        if (!value) {
            raise_text(PyExc_TypeError, "a document of a stream cannot be deleted");
            return -1;
        }
        return assign_root(self, key, value);
    });
}

Py_ssize_t document_length(PyObject* self) {
    Borrow hold(self, Borrow::Shared);
    if (!hold.ok()) return -1;
    const auto& roots = hold.state().roots();
    if (roots.size() == 1) return node_length(roots.front());
    return static_cast<Py_ssize_t>(roots.size());
}

int document_contains(PyObject* self, PyObject* key) {
    Borrow hold(self, Borrow::Shared);
    if (!hold.ok()) return -1;
    const auto& roots = hold.state().roots();
    return single_root(hold.state()) && has_text_key(roots.front(), key, hold.state().mode) ? 1 : 0;
}

PyObject* document_repr(PyObject* self) {
    Borrow hold(self, Borrow::Shared);
    if (!hold.ok()) return nullptr;
    return PyUnicode_FromFormat("QuarvelDocument(documents=%zu)", hold.state().roots().size());
}

PyObject* document_get(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    if (nargs < 1 || nargs > 2) {
        PyErr_Format(PyExc_TypeError, "get() takes 1 or 2 arguments (%zd given)", nargs);
        return nullptr;
    }
    PyObject* found = document_subscript(self, args[0]);
    if (found || !PyErr_ExceptionMatches(PyExc_Exception)) return found;
    PyErr_Clear();
    return Py_NewRef(nargs == 2 ? args[1] : Py_None);
}

PyObject* document_keys(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        Borrow hold(self, Borrow::Shared);
        if (!hold.ok()) return nullptr;
        const auto& roots = hold.state().roots();
        if (roots.size() != 1)
            return raise_text(PyExc_TypeError,
                              "keys() is only available on a single mapping document");
        return mapping_keys(hold.state(), roots.front(), roots.front());
    });
}

PyObject* document_to_dict(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        Borrow hold(self, Borrow::Shared);
        if (!hold.ok()) return nullptr;
        const auto& roots = hold.state().roots();
        if (roots.size() == 1) return node_value(hold.state(), roots.front(), roots.front());
        Ref list(PyList_New(static_cast<Py_ssize_t>(roots.size())));
        if (!list) return nullptr;
        for (std::size_t i = 0; i < roots.size(); ++i) {
            PyObject* v = node_value(hold.state(), roots[i], roots[i]);
            if (!v) return nullptr;
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), v);
        }
        return list.release();
    });
}

PyObject* document_walk(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        Borrow hold(self, Borrow::Shared);
        if (!hold.ok()) return nullptr;
        const auto& roots = hold.state().roots();
        if (roots.empty()) return PyList_New(0);
        return walk_leaves(hold.state(), roots.front(), roots.front());
    });
}

PyObject* document_range(PyObject* self, PyObject*) {
    Borrow hold(self, Borrow::Shared);
    if (!hold.ok()) return nullptr;
    const auto& roots = hold.state().roots();
    if (roots.empty()) Py_RETURN_NONE;
    return range_tuple(roots.front());
}

PyObject* document_set_origin(PyObject* self, PyObject* path) {
    if (!PyUnicode_Check(path)) {
        raise_argument_type("set_origin", "path", "str", path);
        return nullptr;
    }
    std::string_view text;
    if (!utf8_view(path, text)) return nullptr;
    Borrow hold(self, Borrow::Exclusive);
    if (!hold.ok()) return nullptr;
    hold.state().origin = std::string(text);
    hold.state().origin_dir = origin_directory(hold.state().origin.value());
    Py_RETURN_NONE;
}

// to_yaml(*, normalize=False)
PyObject* document_to_yaml(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                           PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        if (nargs > 0)
            return raise_text(PyExc_TypeError, "to_yaml() takes no positional arguments");
        bool normalize = false;
        const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
        for (Py_ssize_t k = 0; k < nkw; ++k) {
            PyObject* name = PyTuple_GET_ITEM(kwnames, k);
            if (PyUnicode_CompareWithASCIIString(name, "normalize") != 0) {
                PyErr_Format(PyExc_TypeError, "to_yaml() got an unexpected keyword argument '%U'",
                             name);
                return nullptr;
            }
            const int truth = PyObject_IsTrue(args[k]);
            if (truth < 0) return nullptr;
            normalize = truth != 0;
        }
        return document_yaml(self, normalize);
    });
}

// save(path=None): one optional argument, by position or as "path".
PyObject* document_save(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        const Py_ssize_t nkw = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
        if (nargs + nkw > 1) {
            return raise_text(PyExc_TypeError, "save() takes at most 1 argument");
        }
        if (nkw == 1 && PyUnicode_CompareWithASCIIString(PyTuple_GET_ITEM(kwnames, 0), "path") != 0)
            return raise_text(PyExc_TypeError, "save() got an unexpected keyword argument");
        return save_document(self, nargs + nkw == 1 ? args[0] : nullptr);
    });
}

PyObject* document_anchors(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        Borrow hold(self, Borrow::Shared);
        if (!hold.ok()) return nullptr;
        Ref dict(PyDict_New());
        if (!dict) return nullptr;
        auto& roots = hold.state().roots();
        if (roots.empty()) return dict.release();
        NodePath path = root_path(roots, 0);
        bool ok = true;
        walk_addressable(roots.front(), path, hold.state().mode,
                         [&](YamlNode& n, const NodePath& p) {
                             if (!n.anchor()) return true;
                             Ref name = str_from_utf8(*n.anchor());
                             Ref node(name ? new_node(self, p) : nullptr);
                             ok = node && PyDict_SetItem(dict.get(), name.get(), node.get()) == 0;
                             return ok;
                         });
        if (!ok) return nullptr;
        return dict.release();
    });
}

// With several documents a path starts with the document's number.
PyObject* document_node(PyObject* self, void*) {
    Borrow hold(self, Borrow::Shared);
    if (!hold.ok()) return nullptr;
    return new_node(self, root_path(hold.state().roots(), 0));
}

PyObject* document_origin(PyObject* self, void*) {
    Borrow hold(self, Borrow::Shared);
    if (!hold.ok()) return nullptr;
    if (!hold.state().origin) Py_RETURN_NONE;
    return PyUnicode_DecodeFSDefault(hold.state().origin->c_str());
}

PyMethodDef document_methods[] = {
    {"get", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(document_get)),
     METH_FASTCALL,
     "get($self, key, default)\n--\n\nThe value at key, or default when there is none."},
    {"keys", document_keys, METH_NOARGS, "The keys of a single mapping document."},
    {"to_dict", document_to_dict, METH_NOARGS,
     "The document as plain Python values (a list of them for several documents)."},
    {"walk", document_walk, METH_NOARGS, "(path, value) for every leaf of the first document."},
    {"range", document_range, METH_NOARGS,
     "(start_line, start_col, end_line, end_col) of the first document, 1-based."},
    {"set_origin", document_set_origin, METH_O, "Records the path the document belongs to."},
    {"to_yaml", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(document_to_yaml)),
     METH_FASTCALL | METH_KEYWORDS,
     "to_yaml($self, /, *, normalize=False)\n--\n\nThe document as YAML bytes; with normalize, "
     "its layout normalised."},
    {"pop", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(document_pop)),
     METH_FASTCALL, kPopDoc},
    {"append", document_append, METH_O, kAppendDoc},
    {"insert", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(document_insert)),
     METH_FASTCALL, kInsertDoc},
    {"extend", document_extend, METH_O, kExtendDoc},
    {"save", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(document_save)),
     METH_FASTCALL | METH_KEYWORDS, "save($self, path=None)\n--\n\nWrites changed files back."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef document_getset[] = {
    {"anchors", document_anchors, nullptr, "Every anchor name with a node cursor on its node.",
     nullptr},
    {"node", document_node, nullptr, "The node cursor of the first document.", nullptr},
    {"origin", document_origin, nullptr, "The path recorded for the document, or None.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot document_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(document_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(document_repr)},
    {Py_tp_methods, document_methods},
    {Py_tp_getset, document_getset},
    {Py_mp_subscript, reinterpret_cast<void*>(document_subscript)},
    {Py_mp_ass_subscript, reinterpret_cast<void*>(document_ass_subscript)},
    {Py_mp_length, reinterpret_cast<void*>(document_length)},
    {Py_sq_contains, reinterpret_cast<void*>(document_contains)},
    {Py_tp_doc, const_cast<char*>("A round-trip YAML document.")},
    {0, nullptr},
};

PyType_Spec document_spec = {"_quarvel.QuarvelDocument", sizeof(DocumentObject), 0,
                             Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION,
                             document_slots};

PyObject* make_document() {
    return PyType_FromSpec(&document_spec);
}

}  // namespace

PyTypeObject* document_type() {
    return cached_type(g_document, make_document);
}

PyObject* new_document(std::unique_ptr<DocumentState> state) {
    PyTypeObject* type = document_type();
    if (!type) return nullptr;
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    as_document(self)->state = state.release();
    as_document(self)->borrow = 0;
    return self;
}

Py_ssize_t document_root_count(PyObject* document) {
    Borrow hold(document, Borrow::Shared);
    if (!hold.ok()) return -1;
    return static_cast<Py_ssize_t>(hold.state().roots().size());
}

}  // namespace quarvel::py
