#include "roundtrip/python/to_python.hpp"

#include <optional>

#include "pyutil/big_int.hpp"
#include "pyutil/errors.hpp"
#include "pyutil/frozen.hpp"
#include "pyutil/py_ref.hpp"
#include "resolver/resolver.hpp"
#include "support/seeded_hash.hpp"
#include "support/stack.hpp"
#include "syntax/anchors.hpp"

namespace quarvel::py {
namespace {

// One conversion: the objects made for anchors so far, and the bounds on
// alias expansion (as for the expanding copy: aliases nested more than
// kExpandDepthLimit deep, and nodes beyond kExpandBudget reached through
// aliases, become None).
class ValueReader {
  public:
    explicit ValueReader(const YamlNode& root) : root_(root) {}

    // Every method returns a new reference or null (an exception set, or the
    // stack ran out).
    PyObject* value(const YamlNode& n) {
        PyObject* out = content(n);
        if (out && n.anchor) anchors_[*n.anchor] = Ref::borrow(out);
        return out;
    }

    PyObject* key(const YamlNode& k) {
        Ref v(value(k));
        if (!v) return nullptr;
        return frozen(v.get());
    }

  private:
    PyObject* content(const YamlNode& n) {
        if (alias_depth_ > 0) {
            if (budget_ == 0) return Py_NewRef(Py_None);
            --budget_;
        }
        switch (n.kind) {
            case NodeKind::Null:
                return Py_NewRef(Py_None);
            case NodeKind::Scalar:
                return scalar(n);
            case NodeKind::Alias:
                return alias(n);
            case NodeKind::Sequence:
                return ensure_stack([&] { return sequence(n); });
            case NodeKind::Mapping:
                return ensure_stack([&] { return mapping(n); });
        }
        return Py_NewRef(Py_None);
    }

    static PyObject* scalar(const YamlNode& n) {
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
                break;
        }
        return str_from_utf8(n.text).release();
    }

    PyObject* alias(const YamlNode& n) {
        if (auto it = anchors_.find(n.text); it != anchors_.end())
            return Py_NewRef(it->second.get());
        if (!index_) index_.emplace(std::span<const YamlNode>(&root_, 1));
        const YamlNode* target = index_->find(n.text);
        if (!target || alias_depth_ >= kExpandDepthLimit) return Py_NewRef(Py_None);
        ++alias_depth_;
        PyObject* out = ensure_stack([&] { return value(*target); });
        --alias_depth_;
        return out;
    }

    PyObject* sequence(const YamlNode& n) {
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
    PyObject* mapping(const YamlNode& n) {
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

    const YamlNode& root_;
    SeededMap<Ref> anchors_;
    std::optional<AnchorIndex> index_;  // built at the first alias
    unsigned alias_depth_ = 0;
    std::uint64_t budget_ = kExpandBudget;
};

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
