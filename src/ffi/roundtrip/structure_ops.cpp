#include "ffi/roundtrip/structure_ops.hpp"

#include <vector>

#include "ffi/roundtrip/container_ops.hpp"
#include "ffi/roundtrip/from_python.hpp"
#include "ffi/roundtrip/values.hpp"
#include "pyutil/args.hpp"
#include "roundtrip/alias_refs.hpp"
#include "roundtrip/structure_edits.hpp"

namespace quarvel::py {

const char kPopDoc[] =
    "pop($self, key=..., default=..., /)\n--\n\n"
    "Removes the mapping entry with the key and returns its value (default when there is "
    "none, if given). On a sequence: pop(index=-1) removes and returns the item.";
const char kAppendDoc[] = "append($self, value, /)\n--\n\nAppends an item to the sequence.";
const char kInsertDoc[] =
    "insert($self, index, /, *entry)\n--\n\n"
    "Sequence: insert(index, value) as list.insert. Mapping: insert(position, key, value) "
    "puts a new entry at the position; the key must not be present (ValueError).";
const char kExtendDoc[] =
    "extend($self, items, /)\n--\n\nAppends every item of an iterable to the sequence.";

namespace {

const char kStaleView[] = "stale view";

// The container at a path under an exclusive hold, or null with KeyError.
class ContainerEdit {
  public:
    ContainerEdit(PyObject* document, const NodePath& path, const char* stale)
        : hold_(document, Borrow::Exclusive) {
        if (!hold_.ok()) return;
        node_ = resolve_path(hold_.state().roots(), path, hold_.state().mode);
        if (!node_) raise_text(PyExc_KeyError, stale);
    }
    YamlNode* node() const { return node_; }
    DocumentState& state() const { return hold_.state(); }

  private:
    Borrow hold_;
    YamlNode* node_ = nullptr;
};

bool done(const EditStatus& status) {
    if (status) return true;
    raise_fault(status.error());
    return false;
}

// A Python integer as a sequence position, negative counting from the end.
// False with IndexError when it falls outside.
bool item_index(PyObject* key, std::size_t size, std::uint64_t& out) {
    const Py_ssize_t i = PyNumber_AsSsize_t(key, PyExc_IndexError);
    if (i == -1 && PyErr_Occurred()) return false;
    const auto n = static_cast<Py_ssize_t>(size);
    const Py_ssize_t at = i < 0 ? i + n : i;
    if (at < 0 || at >= n) {
        raise_text(PyExc_IndexError, "index out of range");
        return false;
    }
    out = static_cast<std::uint64_t>(at);
    return true;
}

// The step `key` removes from the container. False with the exception
// Python would raise for that key.
bool removal_step(const YamlNode& container, PyObject* key, PathStep& out) {
    if (container.kind == NodeKind::Sequence) {
        if (!PyIndex_Check(key)) {
            raise_text(PyExc_TypeError, "sequence indices must be integers");
            return false;
        }
        std::uint64_t at = 0;
        if (!item_index(key, container.children.size(), at)) return false;
        out = PathStep::of_index(at);
        return true;
    }
    if (container.kind != NodeKind::Mapping) {
        raise_text(PyExc_TypeError, "node is not a mapping or sequence");
        return false;
    }
    std::string_view text;
    if (!PyUnicode_Check(key) || !utf8_view(key, text)) {
        PyErr_Clear();
        raise_missing_key(key);
        return false;
    }
    out = PathStep::of_key(text);
    return true;
}

int delete_in(ContainerEdit& edit, const NodePath& path, PyObject* key) {
    PathStep step;
    if (!removal_step(*edit.node(), key, step)) return -1;
    if (auto checked = check_removal(*edit.node(), step, edit.state().mode); !checked) {
        // A missing key is reported with str(key), as dict does.
        if (checked.error().kind == EditFaultKind::Key) return raise_missing_key(key), -1;
        return raise_fault(checked.error()), -1;
    }
    return done(remove_item(edit.state(), path, step)) ? 0 : -1;
}

PyObject* pop_at(PyObject* document, const NodePath& path, PyObject* const* args,
                 Py_ssize_t nargs) {
    ContainerEdit edit(document, path, kStaleView);
    if (!edit.node()) return nullptr;
    YamlNode& node = *edit.node();
    const bool sequence = node.kind == NodeKind::Sequence;
    if (sequence ? nargs > 1 : (nargs < 1 || nargs > 2)) {
        PyErr_Format(PyExc_TypeError, "pop() takes %s arguments (%zd given)",
                     sequence ? "at most 1" : "1 or 2", nargs);
        return nullptr;
    }
    Ref last;
    PyObject* key = nargs ? args[0] : nullptr;
    if (!key) {
        last = Ref(PyLong_FromLong(-1));
        if (!last) return nullptr;
        key = last.get();
    }
    PathStep step;
    if (!removal_step(node, key, step)) {
        if (nargs == 2 && PyErr_ExceptionMatches(PyExc_KeyError)) {
            PyErr_Clear();
            return Py_NewRef(args[1]);
        }
        return nullptr;
    }
    if (!check_removal(node, step, edit.state().mode)) {  // only a missing mapping key gets here
        if (nargs == 2) return Py_NewRef(args[1]);
        return raise_missing_key(key);
    }
    const YamlNode* child = step_into(node, step, edit.state().mode);
    Ref value(child ? node_value(edit.state(), root_for(edit.state(), path), *child) : nullptr);
    if (!value) return nullptr;
    if (!done(remove_item(edit.state(), path, step))) return nullptr;
    return value.release();
}

// Inserts already converted items; the kind check comes before conversion
// so that a wrong target is reported as such.
PyObject* insert_converted(PyObject* document, const NodePath& path, std::int64_t at,
                           PyObject* const* values, Py_ssize_t count) {
    ContainerEdit edit(document, path, kStaleView);
    if (!edit.node()) return nullptr;
    if (edit.node()->kind != NodeKind::Sequence)
        return raise_text(PyExc_TypeError, "node is not a sequence");
    NodeList items;
    items.reserve(static_cast<std::size_t>(count));
    for (Py_ssize_t i = 0; i < count; ++i) {
        auto fresh = node_from_python(values[i], edit.state());
        if (!fresh) return nullptr;
        items.push_back(std::move(*fresh));
    }
    const std::size_t size = edit.node()->children.size();
    if (!done(insert_items(edit.state(), path, insert_position(at, size), std::move(items))))
        return nullptr;
    Py_RETURN_NONE;
}

bool position_argument(PyObject* arg, std::int64_t& out) {
    const Py_ssize_t i = PyNumber_AsSsize_t(arg, nullptr);  // clamps, as list.insert does
    if (i == -1 && PyErr_Occurred()) return false;
    out = i;
    return true;
}

PyObject* insert_entry_at(PyObject* document, const NodePath& path, PyObject* const* args) {
    std::int64_t at = 0;
    if (!position_argument(args[0], at)) return nullptr;
    if (!PyUnicode_Check(args[1])) return raise_text(PyExc_TypeError, "mapping keys must be str");
    std::string_view key;
    if (!utf8_view(args[1], key)) return nullptr;
    ContainerEdit edit(document, path, kStaleView);
    if (!edit.node()) return nullptr;
    if (edit.node()->kind != NodeKind::Mapping)
        return raise_text(PyExc_TypeError, "node is not a mapping");
    if (find_entry(*edit.node(), key, edit.state().mode)) {
        PyErr_Format(PyExc_ValueError, "key '%U' already exists", args[1]);
        return nullptr;
    }
    auto fresh = node_from_python(args[2], edit.state());
    if (!fresh) return nullptr;
    const std::size_t size = edit.node()->size();
    if (!done(insert_entry(edit.state(), path, insert_position(at, size), key, std::move(*fresh))))
        return nullptr;
    Py_RETURN_NONE;
}

// insert(index, value) on a sequence, insert(position, key, value) on a mapping.
PyObject* insert_at(PyObject* document, const NodePath& path, PyObject* const* args,
                    Py_ssize_t nargs) {
    if (nargs == 3) return insert_entry_at(document, path, args);
    if (nargs != 2) {
        PyErr_Format(PyExc_TypeError, "insert() takes 2 or 3 arguments (%zd given)", nargs);
        return nullptr;
    }
    std::int64_t at = 0;
    if (!position_argument(args[0], at)) return nullptr;
    return insert_converted(document, path, at, args + 1, 1);
}

PyObject* extend_at(PyObject* document, const NodePath& path, PyObject* items) {
    // Taken out before the edit holds the document: iterating may read it
    // (extending by a view of the same document).
    Ref list(PySequence_Fast(items, "extend() argument must be iterable"));
    if (!list) return nullptr;
    return insert_converted(document, path, PY_SSIZE_T_MAX, PySequence_Fast_ITEMS(list.get()),
                            PySequence_Fast_GET_SIZE(list.get()));
}

PyObject* append_at(PyObject* document, const NodePath& path, PyObject* value) {
    return insert_converted(document, path, PY_SSIZE_T_MAX, &value, 1);
}

HandleObject* view(PyObject* self) {
    return as_handle(self);
}

}  // namespace

int delete_at(PyObject* document, const NodePath& path, PyObject* key, const char* stale) {
    ContainerEdit edit(document, path, stale);
    if (!edit.node()) return -1;
    return delete_in(edit, path, key);
}

PyObject* view_pop(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    return guarded([&] { return pop_at(view(self)->document, view(self)->path, args, nargs); });
}
PyObject* view_append(PyObject* self, PyObject* value) {
    return guarded([&] { return append_at(view(self)->document, view(self)->path, value); });
}
PyObject* view_insert(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    return guarded([&] { return insert_at(view(self)->document, view(self)->path, args, nargs); });
}
PyObject* view_extend(PyObject* self, PyObject* items) {
    return guarded([&] { return extend_at(view(self)->document, view(self)->path, items); });
}

PyObject* document_pop(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    return guarded([&] { return pop_at(self, {}, args, nargs); });
}
PyObject* document_append(PyObject* self, PyObject* value) {
    return guarded([&] { return append_at(self, {}, value); });
}
PyObject* document_insert(PyObject* self, PyObject* const* args, Py_ssize_t nargs) {
    return guarded([&] { return insert_at(self, {}, args, nargs); });
}
PyObject* document_extend(PyObject* self, PyObject* items) {
    return guarded([&] { return extend_at(self, {}, items); });
}

}  // namespace quarvel::py
