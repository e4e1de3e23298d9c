#include "ffi/roundtrip/to_python.hpp"

#include "pyutil/big_int.hpp"
#include "pyutil/errors.hpp"
#include "pyutil/frozen.hpp"
#include "resolver/resolver.hpp"
#include "support/stack.hpp"

namespace quarvel::py {

PyObject* ValueReader::value(const YamlNode& n) {
    if (!n.anchor) return content(n);
    const std::uint64_t start = budget_.mark();
    PyObject* out = content(n);
    if (out) anchors_[*n.anchor] = Made{Ref::borrow(out), budget_.made_since(start)};
    return out;
}

PyObject* ValueReader::key(const YamlNode& k) {
    Ref v(value(k));
    if (!v) return nullptr;
    return frozen(v.get());
}

namespace {

PyObject* scalar(const YamlNode& n) {
    const bool plain = n.scalar_style == ScalarStyle::Plain;
    const Resolved r = resolve(ResolverMode::Core12, n.text, plain, n.effective_tag());
    switch (r.kind) {
        case ResolvedKind::Null:
            return Py_NewRef(Py_None);
        case ResolvedKind::Bool:
            return Py_NewRef(r.boolean ? Py_True : Py_False);
        case ResolvedKind::Int:
            return PyLong_FromLongLong(r.integer);
        case ResolvedKind::BigInt:
            return big_int_object(n.text, [&] { return ScalarAt{n.span.line, n.span.column}; });
        case ResolvedKind::Float:
            return PyFloat_FromDouble(r.real);
        case ResolvedKind::Str:
        case ResolvedKind::Merge:
        case ResolvedKind::Invalid:  // refused when the document was loaded
            break;
    }
    return str_from_utf8(n.text).release();
}

}  // namespace

PyObject* ValueReader::content(const YamlNode& n) {
    if (n.kind == NodeKind::Alias) return alias(n);
    budget_.made();
    switch (n.kind) {
        case NodeKind::Scalar:
            return scalar(n);
        case NodeKind::Sequence:
            return ensure_stack([&] { return sequence(n); });
        case NodeKind::Mapping:
            return ensure_stack([&] { return mapping(n); });
        case NodeKind::Null:
        case NodeKind::Alias:
            break;
    }
    return Py_NewRef(Py_None);
}

// An alias takes the object made for its anchor in this conversion; failing
// that, its anchor's first definition is made now (the value of a view may
// name anchors outside it). An undefined name has no value: None; so has an
// alias met again while its anchor is being made for it, which would
// otherwise repeat without end.
PyObject* ValueReader::alias(const YamlNode& n) {
    if (auto it = anchors_.find(n.text); it != anchors_.end()) {
        if (!budget_.reuse(it->second.nodes)) return raise(ExpansionBudget::exceeded(n));
        return Py_NewRef(it->second.object.get());
    }
    if (!index_) index_.emplace(std::span<const YamlNode>(&root_, 1));
    const YamlNode* target = index_->find(n.text);
    if (!target || !open_.insert(target).second) return Py_NewRef(Py_None);
    const std::uint64_t start = budget_.begin_anew();
    Ref out(ensure_stack([&] { return value(*target); }));
    open_.erase(target);
    const bool within = budget_.end_anew(start);
    if (out && !within) return raise(ExpansionBudget::exceeded(n));
    return out.release();
}

PyObject* ValueReader::sequence(const YamlNode& n) {
    const auto size = static_cast<Py_ssize_t>(n.children.size());
    Ref list(PyList_New(size));
    if (!list) return nullptr;
    for (Py_ssize_t i = 0; i < size; ++i) {
        PyObject* item = value(n.children[static_cast<std::size_t>(i)]);
        if (!item) return nullptr;
        PyList_SET_ITEM(list.get(), i, item);
    }
    return list.release();
}

// Later duplicate keys overwrite earlier ones.
PyObject* ValueReader::mapping(const YamlNode& n) {
    Ref dict(PyDict_New());
    if (!dict) return nullptr;
    for (std::size_t i = 0; i < n.size(); ++i) {
        Ref k(key(n.key(i)));
        if (!k) return nullptr;
        Ref v(value(n.value(i)));
        if (!v || PyDict_SetItem(dict.get(), k.get(), v.get()) < 0) return nullptr;
    }
    return dict.release();
}

namespace {

template <class F>
PyObject* converted(F&& convert) {
    GcPause pause;
    PyObject* out = convert();
    if (!out && stack_exhausted()) return raise_stack_exhausted(nullptr);
    return out;
}

}  // namespace

PyObject* node_value(const YamlNode& root, const YamlNode& node) {
    ValueReader reader(root);
    return converted([&] { return reader.value(node); });
}

PyObject* key_value(const YamlNode& root, const YamlNode& key) {
    ValueReader reader(root);
    return converted([&] { return reader.key(key); });
}

}  // namespace quarvel::py
