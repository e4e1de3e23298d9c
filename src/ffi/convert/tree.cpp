#include "ffi/convert/tree.hpp"

#include <atomic>

#include "ffi/convert/key_cache.hpp"
#include "ffi/convert/strings.hpp"
#include "ffi/types.hpp"
#include "pyutil/errors.hpp"
#include "pyutil/py_ref.hpp"
#include "support/core_tag.hpp"
#include "support/seeded_hash.hpp"
#include "support/stack.hpp"

namespace quarvel::py {
namespace {

// Standard tags are read by the resolver; every other tag is applied to the
// converted value afterwards.
bool is_standard_tag(std::string_view tag) {
    return tag.starts_with("!!") || tag.starts_with(kCoreTagPrefix);
}

const char* style_name(ScalarStyle s) {
    switch (s) {
        case ScalarStyle::Plain:
            return "plain";
        case ScalarStyle::SingleQuoted:
            return "single";
        case ScalarStyle::DoubleQuoted:
            return "double";
        case ScalarStyle::Literal:
            return "literal";
        case ScalarStyle::Folded:
            return "folded";
    }
    return "plain";
}

std::atomic<PyObject*> g_str_class{nullptr};
std::atomic<PyObject*> g_int_class{nullptr};
std::atomic<PyObject*> g_float_class{nullptr};

// The package's annotated scalar class of that name, kept for the process.
PyObject* package_class(std::atomic<PyObject*>& cell, const char* name) {
    return once_object(cell, [name]() -> PyObject* {
        Ref package(PyImport_ImportModule("quarvel"));
        if (!package) return nullptr;
        return PyObject_GetAttrString(package.get(), name);
    });
}

class TreeConverter {
  public:
    explicit TreeConverter(const TreeConvertOptions& options) : options_(options) {}

    // Every method returns a new reference, or null: with an exception set,
    // or without one when the stack ran out.
    PyObject* node(const YamlNode& n) {
        PyObject* out = content(n);
        if (out && n.anchor) anchors_[*n.anchor] = Ref::borrow(out);
        return out;
    }

  private:
    PyObject* content(const YamlNode& n) {
        switch (n.kind) {
            case NodeKind::Scalar:
            case NodeKind::Null:
                return scalar(n);
            case NodeKind::Alias:
                return alias(n);
            case NodeKind::Sequence:
                return ensure_stack([&] { return sequence(n); });
            case NodeKind::Mapping:
                return ensure_stack([&] { return mapping(n); });
        }
        return nullptr;
    }

    // Two aliases of one anchor give the same object: the last node converted
    // under that name; an alias of no converted anchor is None.
    PyObject* alias(const YamlNode& n) {
        auto it = anchors_.find(n.text);
        if (it == anchors_.end()) return Py_NewRef(Py_None);
        return Py_NewRef(it->second.get());
    }

    PyObject* scalar(const YamlNode& n) {
        const bool custom = n.tag && !is_standard_tag(*n.tag);
        if (custom) {
            Ref text(string(n.text, n));
            if (!text) return nullptr;
            return apply_tag(*n.tag, std::move(text), options_.tags);
        }
        const bool plain = n.kind == NodeKind::Null || n.scalar_style == ScalarStyle::Plain;
        const Resolved r = resolve(options_.mode, n.text, plain, n.tag ? *n.tag : "");
        switch (r.kind) {
            case ResolvedKind::Null:
                return Py_NewRef(Py_None);
            case ResolvedKind::Bool:
                return Py_NewRef(r.boolean ? Py_True : Py_False);
            case ResolvedKind::Int:
                return number(PyLong_FromLongLong(r.integer), n, g_int_class);
            case ResolvedKind::BigInt:
                return number(big_int_object(n.text), n, g_int_class);
            case ResolvedKind::Float:
                return number(PyFloat_FromDouble(r.real), n, g_float_class);
            case ResolvedKind::Merge:
                return string("<<", n);
            case ResolvedKind::Str:
                return string(n.text, n);
        }
        return string(n.text, n);
    }

    PyObject* string(std::string_view text, const YamlNode& n) {
        Ref value(new_str(text));
        if (!value || !options_.annotated) return value.release();
        return annotated_scalar(g_str_class, "QuarvelAnnotatedStr", std::move(value), n);
    }

    PyObject* number(PyObject* made, const YamlNode& n, std::atomic<PyObject*>& cell) {
        Ref value(made);
        if (!value || !options_.annotated || !options_.annotate_numbers) return value.release();
        // A big integer Python could not take stays a string.
        if (PyUnicode_Check(value.get()))
            return annotated_scalar(g_str_class, "QuarvelAnnotatedStr", std::move(value), n);
        const char* name = &cell == &g_int_class ? "QuarvelAnnotatedInt" : "QuarvelAnnotatedFloat";
        return annotated_scalar(cell, name, std::move(value), n);
    }

    PyObject* sequence(const YamlNode& n) {
        const Py_ssize_t size = static_cast<Py_ssize_t>(n.children.size());
        Ref list(options_.annotated ? annotated_container(annotated_list_type(), n)
                                    : PyList_New(size));
        if (!list) return nullptr;
        for (Py_ssize_t i = 0; i < size; ++i) {
            PyObject* item = node(n.children[static_cast<std::size_t>(i)]);
            if (!item) return nullptr;
            if (options_.annotated) {
                Ref owned(item);
                if (PyList_Append(list.get(), item) < 0) return nullptr;
            } else {
                PyList_SET_ITEM(list.get(), i, item);
            }
        }
        return list.release();
    }

    PyObject* mapping(const YamlNode& n) {
        Ref dict(options_.annotated ? annotated_container(annotated_dict_type(), n) : PyDict_New());
        if (!dict) return nullptr;
        for (std::size_t i = 0; i < n.size(); ++i) {
            Ref k(key(n.key(i)));
            if (!k) return nullptr;
            Ref v(node(n.value(i)));
            if (!v) return nullptr;
            if (PyDict_SetItem(dict.get(), k.get(), v.get()) < 0) {
                PyErr_Clear();
                return raise(Error::conversion("mapping key is not hashable in Python",
                                               conversion_kind::decode));
            }
        }
        return dict.release();
    }

    // Collection keys become tuples, annotated mode or not; string keys are
    // shared per document in plain mode.
    PyObject* key(const YamlNode& k) {
        if (k.kind == NodeKind::Sequence) return ensure_stack([&] { return sequence_key(k); });
        if (k.kind == NodeKind::Mapping) return ensure_stack([&] { return mapping_key(k); });
        if (k.kind == NodeKind::Alias) {
            PyObject* target = alias(k);
            if (!target || !(PyList_Check(target) || PyDict_Check(target))) return target;
            Ref held(target);
            return frozen(target);
        }
        if (!options_.annotated && k.kind == NodeKind::Scalar && !k.tag &&
            (k.scalar_style != ScalarStyle::Plain ||
             resolve(options_.mode, k.text, true).kind == ResolvedKind::Str)) {
            PyObject* s = keys_.get(k.text);
            if (s && k.anchor) anchors_[*k.anchor] = Ref::borrow(s);
            return s;
        }
        return node(k);
    }

    PyObject* sequence_key(const YamlNode& k) {
        Ref tuple(PyTuple_New(static_cast<Py_ssize_t>(k.children.size())));
        if (!tuple) return nullptr;
        for (std::size_t i = 0; i < k.children.size(); ++i) {
            PyObject* item = key(k.children[i]);
            if (!item) return nullptr;
            PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item);
        }
        return tuple.release();
    }

    PyObject* mapping_key(const YamlNode& k) {
        Ref tuple(PyTuple_New(static_cast<Py_ssize_t>(k.size())));
        if (!tuple) return nullptr;
        for (std::size_t i = 0; i < k.size(); ++i) {
            Ref a(key(k.key(i)));
            if (!a) return nullptr;
            Ref b(key(k.value(i)));
            if (!b) return nullptr;
            PyObject* pair = PyTuple_Pack(2, a.get(), b.get());
            if (!pair) return nullptr;
            PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), pair);
        }
        return tuple.release();
    }

    // A list or dict already converted (an alias used as a key), as tuples.
    PyObject* frozen(PyObject* o) {
        if (PyList_Check(o)) {
            const Py_ssize_t n = PyList_GET_SIZE(o);
            Ref tuple(PyTuple_New(n));
            if (!tuple) return nullptr;
            for (Py_ssize_t i = 0; i < n; ++i) {
                PyObject* item = ensure_stack([&] { return frozen(PyList_GET_ITEM(o, i)); });
                if (!item) return nullptr;
                PyTuple_SET_ITEM(tuple.get(), i, item);
            }
            return tuple.release();
        }
        if (PyDict_Check(o)) {
            Ref tuple(PyTuple_New(PyDict_GET_SIZE(o)));
            if (!tuple) return nullptr;
            Py_ssize_t pos = 0, i = 0;
            PyObject *k, *v;
            while (PyDict_Next(o, &pos, &k, &v)) {
                Ref fv(ensure_stack([&] { return frozen(v); }));
                if (!fv) return nullptr;
                PyObject* pair = PyTuple_Pack(2, k, fv.get());
                if (!pair) return nullptr;
                PyTuple_SET_ITEM(tuple.get(), i++, pair);
            }
            return tuple.release();
        }
        return Py_NewRef(o);
    }

    // ---- annotation ----------------------------------------------------------

    PyObject* file_of(const YamlNode& n) {
        if (n.span.file_id == 0 && options_.root_file) return options_.root_file;
        return Py_None;
    }

    // The source tag: the node's own tag unless it is a standard one.
    PyObject* source_tag(const YamlNode& n) {
        if (!n.tag || is_standard_tag(*n.tag)) return Py_NewRef(Py_None);
        return new_str(*n.tag);
    }

    PyObject* annotated_container(PyTypeObject* type, const YamlNode& n) {
        if (!type) return nullptr;
        Ref obj(PyObject_CallNoArgs(reinterpret_cast<PyObject*>(type)));
        if (!obj) return nullptr;
        Ref tag(source_tag(n));
        if (!tag) return nullptr;
        Ref state(Py_BuildValue("(IIOIIOOKK)", n.span.line + 1, n.span.column + 1, file_of(n),
                                n.end_line + 1, n.end_column + 1, tag.get(), Py_None,
                                static_cast<unsigned long long>(n.span.offset),
                                static_cast<unsigned long long>(n.end_offset)));
        if (!state) return nullptr;
        Ref done(PyObject_CallMethod(obj.get(), "__setstate__", "O", state.get()));
        if (!done) return nullptr;
        return obj.release();
    }

    PyObject* annotated_scalar(std::atomic<PyObject*>& cell, const char* name, Ref value,
                               const YamlNode& n) {
        PyObject* cls = package_class(cell, name);
        if (!cls) return nullptr;
        Ref tag(source_tag(n));
        if (!tag) return nullptr;
        Ref args(Py_BuildValue(
            "(OIIOIIsOOKK)", value.get(), n.span.line + 1, n.span.column + 1, file_of(n),
            n.end_line + 1, n.end_column + 1,
            style_name(n.kind == NodeKind::Null ? ScalarStyle::Plain : n.scalar_style), tag.get(),
            Py_None, static_cast<unsigned long long>(n.span.offset),
            static_cast<unsigned long long>(n.end_offset)));
        if (!args) return nullptr;
        return PyObject_Call(cls, args.get(), nullptr);
    }

    const TreeConvertOptions& options_;
    SeededMap<Ref> anchors_;
    KeyCache keys_;
};

}  // namespace

PyObject* convert_tree(const YamlNode& root, const TreeConvertOptions& options) {
    GcPause pause;
    TreeConverter converter(options);
    PyObject* result = converter.node(root);
    if (!result && stack_exhausted()) return raise_stack_exhausted(nullptr);
    return result;
}

}  // namespace quarvel::py
