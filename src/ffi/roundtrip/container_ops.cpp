#include "ffi/roundtrip/container_ops.hpp"

#include <vector>

#include "ffi/roundtrip/from_python.hpp"
#include "ffi/roundtrip/structure_ops.hpp"
#include "ffi/roundtrip/values.hpp"
#include "pyutil/errors.hpp"
#include "roundtrip/alias_refs.hpp"
#include "support/stack.hpp"

namespace quarvel::py {

const YamlNode& root_for(const DocumentState& state, const NodePath& path) {
    return state.roots()[root_of(state.roots(), path)];
}

PyObject* read_item(PyObject* document, DocumentState& state, YamlNode& node, const NodePath& base,
                    const PathStep& step, PyObject* key) {
    YamlNode* child = step_into(node, step, state.mode);
    if (!child) {
        if (node.kind == NodeKind::Sequence)
            return raise_text(PyExc_IndexError, "index out of range");
        return raise_missing_key(key);
    }
    if (child->is_collection()) {
        NodePath path = base;
        path.push_back(step);
        return new_view(document, std::move(path));
    }
    if (child->kind == NodeKind::Alias) {
        // A view of the node the alias refers to: writes through it change
        // that node, and so every alias of it, as YAML aliases mean.
        NodePath path = base;
        path.push_back(step);
        Located target = alias_target(state.roots(), state.mode, path);
        if (target.node && target.node->is_collection())
            return new_view(document, std::move(target.path));
    }
    return node_value(state, root_for(state, base), *child);
}

PyObject* mapping_keys(const DocumentState& state, const YamlNode& root, const YamlNode& node) {
    if (node.kind != NodeKind::Mapping) return raise_text(PyExc_TypeError, "node is not a mapping");
    Ref list(PyList_New(static_cast<Py_ssize_t>(node.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < node.size(); ++i) {
        PyObject* k = key_value(state, root, node.key(i));
        if (!k) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), k);
    }
    return list.release();
}

bool has_text_key(const YamlNode& node, PyObject* key, ResolverMode mode) {
    if (node.kind != NodeKind::Mapping || !PyUnicode_Check(key)) return false;
    std::string_view text;
    if (!utf8_view(key, text)) {
        PyErr_Clear();  // a str with lone surrogates is no key of the tree
        return false;
    }
    return find_entry(node, text, mode).has_value();
}

Py_ssize_t node_length(const YamlNode& node) {
    return node.is_collection() ? static_cast<Py_ssize_t>(node.size()) : 1;
}

namespace {

class LeafWalk {
  public:
    LeafWalk(const DocumentState& state, const YamlNode& root)
        : options_(value_options(state)), values_(root, options_) {}

    // False with an exception set (or the stack ran out).
    bool visit(const YamlNode& n) {
        if (!n.is_collection()) return leaf(n);
        const bool mapping = n.kind == NodeKind::Mapping;
        // A repeated key's path is that of its last entry, the one kept.
        const std::vector<bool> shadowed =
            mapping ? shadowed_entries(n, options_.mode) : std::vector<bool>{};
        for (std::size_t i = 0; i < n.size(); ++i) {
            const YamlNode* child;
            if (mapping) {
                if (n.key(i).kind != NodeKind::Scalar || (!shadowed.empty() && shadowed[i]))
                    continue;
                steps_.emplace_back(str_from_utf8(n.key(i).text));
                child = &n.value(i);
            } else {
                steps_.emplace_back(PyLong_FromSize_t(i));
                child = &n.children[i];
            }
            if (!steps_.back()) return false;
            const bool ok = ensure_stack([&] { return visit(*child); });
            steps_.pop_back();
            if (!ok) return false;
        }
        return true;
    }

    Ref result{PyList_New(0)};

  private:
    bool leaf(const YamlNode& n) {
        Ref path(PyTuple_New(static_cast<Py_ssize_t>(steps_.size())));
        if (!path) return false;
        for (std::size_t i = 0; i < steps_.size(); ++i)
            PyTuple_SET_ITEM(path.get(), static_cast<Py_ssize_t>(i), Py_NewRef(steps_[i].get()));
        Ref value(values_.value(n));
        if (!value) return false;
        Ref pair(PyTuple_Pack(2, path.get(), value.get()));
        return pair && PyList_Append(result.get(), pair.get()) == 0;
    }

    // One conversion for every leaf: aliases of one anchor share its object,
    // and the alias-expansion budget covers the whole walk.
    TreeConvertOptions options_;
    TreeReader values_;
    std::vector<Ref> steps_;
};

}  // namespace

PyObject* walk_leaves(const DocumentState& state, const YamlNode& root, const YamlNode& node) {
    GcPause pause;
    LeafWalk walk(state, root);
    if (!walk.result) return nullptr;
    if (!walk.visit(node)) {
        if (!PyErr_Occurred() && stack_exhausted()) return raise_stack_exhausted(nullptr);
        return nullptr;
    }
    return walk.result.release();
}

int assign_at(PyObject* document, const NodePath& path, PyObject* key, PyObject* value,
              const char* stale) {
    if (!value) return delete_at(document, path, key, stale);
    Borrow hold(document, Borrow::Exclusive);
    if (!hold.ok()) return -1;
    DocumentState& state = hold.state();
    YamlNode* container = resolve_path(state.roots(), path, state.mode);
    if (!container) {
        raise_text(PyExc_KeyError, stale);
        return -1;
    }
    PathStep step;
    if (!convert_key(key, step)) return -1;
    if (auto checked = check_assignment(*container, step); !checked) {
        raise_fault(checked.error());
        return -1;
    }
    if (auto safe = check_assignment_refs(state.roots(), state.mode, path, step); !safe) {
        raise_fault(safe.error());
        return -1;
    }
    auto fresh = node_from_python(value, state);
    if (!fresh) return -1;
    if (auto done = assign_item(state, *container, step, std::move(*fresh)); !done) {
        raise_fault(done.error());
        return -1;
    }
    return 0;
}

}  // namespace quarvel::py
