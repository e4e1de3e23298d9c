// QuarvelNode: a cursor on any node of a document, scalars included, with
// its comments, position, style, anchor, tag and directive provenance.
#include <atomic>

#include "ffi/roundtrip/api.hpp"
#include "ffi/roundtrip/container_ops.hpp"
#include "ffi/roundtrip/from_python.hpp"
#include "ffi/roundtrip/structure_ops.hpp"
#include "ffi/roundtrip/values.hpp"
#include "pyutil/args.hpp"
#include "pyutil/guarded.hpp"
#include "roundtrip/alias_refs.hpp"

namespace quarvel::py {
namespace {

std::atomic<PyObject*> g_node{nullptr};

// The cursor's node under a hold, or null with KeyError("stale node").
class NodeAccess {
  public:
    NodeAccess(PyObject* self, Borrow::Mode mode)
        : cursor_(as_handle(self)), hold_(cursor_->document, mode) {
        if (!hold_.ok()) return;
        node_ = resolve_path(hold_.state().roots(), cursor_->path, hold_.state().mode);
        if (!node_) raise_text(PyExc_KeyError, "stale node");
    }
    YamlNode* node() const { return node_; }
    DocumentState& state() const { return hold_.state(); }
    const YamlNode& root() const { return root_for(hold_.state(), cursor_->path); }
    const NodePath& path() const { return cursor_->path; }
    PyObject* document() const { return cursor_->document; }

  private:
    HandleObject* cursor_;
    Borrow hold_;
    YamlNode* node_ = nullptr;
};

PyObject* optional_text(const std::optional<std::string_view>& text) {
    if (!text) Py_RETURN_NONE;
    return str_from_utf8(*text).release();
}

// Setters take a str or None; the argument error names the value parameter.
bool optional_str_argument(PyObject* value, const char* what, const char* name,
                           std::optional<std::string_view>& out) {
    if (!value) {
        raise_text(PyExc_AttributeError, "can't delete attribute");
        return false;
    }
    if (value == Py_None) return true;
    if (!PyUnicode_Check(value)) {
        raise_argument_type(what, name, "str or None", value);
        return false;
    }
    std::string_view text;
    if (!utf8_view(value, text)) return false;
    out = text;
    return true;
}

int status_to_int(const EditStatus& status) {
    if (status) return 0;
    raise_fault(status.error());
    return -1;
}

// ---- reading -------------------------------------------------------------------

PyObject* node_get_value(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        NodeAccess at(self, Borrow::Shared);
        if (!at.node()) return nullptr;
        return node_value(at.state(), at.root(), *at.node());
    });
}

template <class F>
PyObject* read_field(PyObject* self, F&& field) {
    NodeAccess at(self, Borrow::Shared);
    if (!at.node()) return nullptr;
    return field(at, *at.node());
}

PyObject* node_line(PyObject* self, void*) {
    return read_field(self, [](const NodeAccess&, const YamlNode& n) {
        return PyLong_FromUnsignedLongLong(std::uint64_t{n.span.line} + 1);
    });
}
PyObject* node_column(PyObject* self, void*) {
    return read_field(self, [](const NodeAccess&, const YamlNode& n) {
        return PyLong_FromUnsignedLongLong(std::uint64_t{n.span.column} + 1);
    });
}
PyObject* node_offset(PyObject* self, void*) {
    return read_field(self, [](const NodeAccess&, const YamlNode& n) {
        return PyLong_FromUnsignedLongLong(n.span.offset);
    });
}
PyObject* node_end_offset(PyObject* self, void*) {
    return read_field(self, [](const NodeAccess&, const YamlNode& n) {
        return PyLong_FromUnsignedLongLong(n.end_offset);
    });
}

PyObject* node_file(PyObject* self, void*) {
    return read_field(self, [](const NodeAccess& at, const YamlNode& n) -> PyObject* {
        const auto& files = at.state().files.files;
        if (n.span.file_id >= files.size()) Py_RETURN_NONE;
        const std::string& path = files[n.span.file_id].path;
        return PyUnicode_DecodeUTF8(path.data(), static_cast<Py_ssize_t>(path.size()), "replace");
    });
}

const char* style_word(const YamlNode& n) {
    switch (n.kind) {
        case NodeKind::Alias:
            return "alias";
        case NodeKind::Null:
            return "null";
        case NodeKind::Sequence:
        case NodeKind::Mapping:
            return n.style == CollectionStyle::Flow ? "flow" : "block";
        case NodeKind::Scalar:
            break;
    }
    switch (n.scalar_style) {
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

PyObject* node_style(PyObject* self, void*) {
    return read_field(self, [](const NodeAccess&, const YamlNode& n) {
        return PyUnicode_FromString(style_word(n));
    });
}

PyObject* node_tag(PyObject* self, void*) {
    return read_field(self,
                      [](const NodeAccess&, const YamlNode& n) { return optional_text(n.tag()); });
}

// The directive tag that made the node, or its own tag when that is an
// application tag rather than a standard one.
std::optional<std::string_view> source_tag_of(const YamlNode& n) {
    if (const IncludeSource* source = n.source()) return source->tag;
    const auto own = n.tag();
    if (!own) return std::nullopt;
    const std::string_view t = *own;
    if (t.size() < 2 || t.starts_with("!!") || t.starts_with("tag:yaml.org,2002:"))
        return std::nullopt;
    return t;
}

PyObject* node_source_tag(PyObject* self, void*) {
    return read_field(
        self, [](const NodeAccess&, const YamlNode& n) { return optional_text(source_tag_of(n)); });
}

PyObject* node_source_target(PyObject* self, void*) {
    return read_field(self, [](const NodeAccess&, const YamlNode& n) {
        const IncludeSource* source = n.source();
        return optional_text(source ? std::optional(source->target) : std::nullopt);
    });
}

template <class Test>
PyObject* source_test(PyObject* self, Test&& test) {
    return read_field(self, [&](const NodeAccess&, const YamlNode& n) {
        const auto tag = source_tag_of(n);
        return PyBool_FromLong(tag && test(*tag));
    });
}

PyObject* node_is_secret(PyObject* self, void*) {
    return source_test(self, [](std::string_view t) { return t == "!secret"; });
}
PyObject* node_is_env_var(PyObject* self, void*) {
    return source_test(self, [](std::string_view t) { return t == "!env_var"; });
}
PyObject* node_is_include(PyObject* self, void*) {
    return source_test(self, [](std::string_view t) {
        return t == "!include" || t == "!include_dir_list" || t == "!include_dir_named" ||
               t == "!include_dir_merge_list" || t == "!include_dir_merge_named";
    });
}
PyObject* node_is_alias(PyObject* self, void*) {
    return read_field(self, [](const NodeAccess&, const YamlNode& n) {
        return PyBool_FromLong(n.kind == NodeKind::Alias);
    });
}

PyObject* node_target(PyObject* self, void*) {
    return read_field(self, [](const NodeAccess& at, const YamlNode& n) -> PyObject* {
        if (n.kind != NodeKind::Alias) Py_RETURN_NONE;
        Located def = alias_target(at.state().roots(), at.state().mode, at.path());
        if (!def.node) Py_RETURN_NONE;
        return new_node(at.document(), std::move(def.path));
    });
}

PyObject* node_aliases(PyObject* self, void*) {
    return guarded([&]() -> PyObject* {
        NodeAccess at(self, Borrow::Shared);
        if (!at.node()) return nullptr;
        Ref list(PyList_New(0));
        if (!list) return nullptr;
        for (NodePath& p : alias_paths(at.state().roots(), at.state().mode, at.path())) {
            Ref cursor(new_node(at.document(), std::move(p)));
            if (!cursor || PyList_Append(list.get(), cursor.get()) != 0) return nullptr;
        }
        return list.release();
    });
}

PyObject* node_get_comment(PyObject* self, void*) {
    return read_field(self, [](const NodeAccess&, const YamlNode& n) -> PyObject* {
        if (!n.comments.has_inline()) Py_RETURN_NONE;
        return str_from_utf8(*n.comments.text->inline_text).release();
    });
}

PyObject* node_get_comment_before(PyObject* self, void*) {
    return read_field(self, [](const NodeAccess& at, const YamlNode&) -> PyObject* {
        const YamlNode* target = comment_before_target(at.state(), at.path());
        if (!target || !target->comments.has_head()) Py_RETURN_NONE;
        const auto& head = target->comments.text->head;
        std::string joined(head.front());
        for (std::size_t i = 1; i < head.size(); ++i) {
            joined += '\n';
            joined += head[i];
        }
        return str_from_utf8(joined).release();
    });
}

PyObject* node_get_anchor(PyObject* self, void*) {
    return read_field(
        self, [](const NodeAccess&, const YamlNode& n) { return optional_text(n.anchor()); });
}

PyObject* node_repr(PyObject* self) {
    HandleObject* h = as_handle(self);
    Borrow hold(h->document, Borrow::Shared);
    if (!hold.ok()) return nullptr;
    const YamlNode* node = resolve_path(hold.state().roots(), h->path, hold.state().mode);
    if (!node) return PyUnicode_FromString("QuarvelNode(<stale>)");
    return PyUnicode_FromFormat("QuarvelNode(%s)", kind_word(*node));
}

// The path indexing starts from: an alias's is that of the node it refers
// to, so cursors index through aliases.
NodePath canonical_path(DocumentState& state, const NodePath& path) {
    auto& roots = state.roots();
    const YamlNode* node = resolve_path(roots, path, state.mode);
    if (!node || node->kind != NodeKind::Alias) return path;
    Located def = alias_target(roots, state.mode, path);
    return def.node ? std::move(def.path) : path;
}

PyObject* node_subscript(PyObject* self, PyObject* key) {
    return guarded([&]() -> PyObject* {
        HandleObject* h = as_handle(self);
        Borrow hold(h->document, Borrow::Shared);
        if (!hold.ok()) return nullptr;
        NodePath path = canonical_path(hold.state(), h->path);
        YamlNode* node = resolve_path(hold.state().roots(), path, hold.state().mode);
        if (!node) return raise_text(PyExc_KeyError, "stale node");
        PathStep step;
        if (!convert_key(key, step)) return nullptr;
        if (step_into(*node, step, hold.state().mode)) {
            path.push_back(std::move(step));
            return new_node(h->document, std::move(path));
        }
        if (node->kind == NodeKind::Sequence)
            return raise_text(PyExc_IndexError, "index out of range");
        return raise_missing_key(key);
    });
}

int node_contains(PyObject* self, PyObject* key) {
    NodeAccess at(self, Borrow::Shared);
    if (!at.node()) return -1;
    return has_text_key(*at.node(), key, at.state().mode) ? 1 : 0;
}

// ---- editing -------------------------------------------------------------------

int node_set_value(PyObject* self, PyObject* value, void*) {
    return guarded_status([&]() -> int {
        if (!value) {
            raise_text(PyExc_AttributeError, "can't delete attribute");
            return -1;
        }
        NodeAccess at(self, Borrow::Exclusive);
        if (!at.node()) return -1;
        if (status_to_int(check_replace(at.state().roots(), at.state().mode, at.path())) < 0)
            return -1;
        auto fresh = node_from_python(value, at.state());
        if (!fresh) return -1;
        replace_node(at.state(), *at.node(), std::move(*fresh));
        return 0;
    });
}

int node_set_comment(PyObject* self, PyObject* value, void*) {
    return guarded_status([&]() -> int {
        std::optional<std::string_view> text;
        if (!optional_str_argument(value, "comment", "text", text)) return -1;
        NodeAccess at(self, Borrow::Exclusive);
        if (!at.node()) return -1;
        if (text && status_to_int(check_comment_place(at.state().roots(), at.state().mode,
                                                      at.path(), true)) < 0)
            return -1;
        return status_to_int(set_inline_comment(at.state(), *at.node(), text));
    });
}

int node_set_comment_before(PyObject* self, PyObject* value, void*) {
    return guarded_status([&]() -> int {
        std::optional<std::string_view> text;
        if (!optional_str_argument(value, "comment_before", "text", text)) return -1;
        NodeAccess at(self, Borrow::Exclusive);
        if (!at.node()) return -1;
        if (text && status_to_int(check_comment_place(at.state().roots(), at.state().mode,
                                                      at.path(), false)) < 0)
            return -1;
        YamlNode* target = comment_before_target(at.state(), at.path());
        return status_to_int(set_head_comments(at.state(), *target, text));
    });
}

int node_set_anchor(PyObject* self, PyObject* value, void*) {
    return guarded_status([&]() -> int {
        std::optional<std::string_view> name;
        if (!optional_str_argument(value, "anchor", "name", name)) return -1;
        HandleObject* h = as_handle(self);
        Borrow hold(h->document, Borrow::Exclusive);
        if (!hold.ok()) return -1;
        return status_to_int(set_anchor(hold.state(), h->path, name));
    });
}

// A node method taking one str argument that edits the node's document.
template <class Edit>
PyObject* edit_with_name(PyObject* self, PyObject* name, const char* method, Edit&& edit) {
    return guarded([&]() -> PyObject* {
        if (!PyUnicode_Check(name)) {
            raise_argument_type(method, "name", "str", name);
            return nullptr;
        }
        std::string_view text;
        if (!utf8_view(name, text)) return nullptr;
        HandleObject* h = as_handle(self);
        Borrow hold(h->document, Borrow::Exclusive);
        if (!hold.ok()) return nullptr;
        if (status_to_int(edit(hold.state(), h->path, text)) < 0) return nullptr;
        Py_RETURN_NONE;
    });
}

PyObject* node_make_alias(PyObject* self, PyObject* name) {
    return edit_with_name(self, name, "make_alias", make_alias);
}

PyObject* node_rename_anchor(PyObject* self, PyObject* name) {
    return edit_with_name(self, name, "rename_anchor", rename_anchor);
}

PyObject* node_detach(PyObject* self, PyObject*) {
    return guarded([&]() -> PyObject* {
        HandleObject* h = as_handle(self);
        {
            Borrow hold(h->document, Borrow::Exclusive);
            if (!hold.ok()) return nullptr;
            if (status_to_int(detach_alias(hold.state(), h->path)) < 0) return nullptr;
        }
        return new_node(h->document, h->path);
    });
}

PyMethodDef node_methods[] = {
    {"make_alias", node_make_alias, METH_O,
     "make_alias($self, name)\n--\n\nTurns the node into an alias of the anchor name."},
    {"detach", node_detach, METH_NOARGS,
     "detach($self)\n--\n\nReplaces an alias by a copy of what it refers to."},
    {"rename_anchor", node_rename_anchor, METH_O,
     "rename_anchor($self, name, /)\n--\n\nRenames the node's anchor and every alias of it."},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef node_getset[] = {
    {"value", node_get_value, node_set_value, "The node's value as plain Python values.", nullptr},
    {"line", node_line, nullptr, "1-based line of the node's start.", nullptr},
    {"column", node_column, nullptr, "1-based column of the node's start.", nullptr},
    {"offset", node_offset, nullptr, "Byte offset of the node's first character.", nullptr},
    {"end_offset", node_end_offset, nullptr, "Byte offset just past the node.", nullptr},
    {"file", node_file, nullptr, "The file the node came from, or None.", nullptr},
    {"style", node_style, nullptr, "How the node is written.", nullptr},
    {"tag", node_tag, nullptr, "The explicit tag as written, or None.", nullptr},
    {"source_tag", node_source_tag, nullptr, "The directive tag that made the node.", nullptr},
    {"source_target", node_source_target, nullptr, "The directive's argument.", nullptr},
    {"is_secret", node_is_secret, nullptr, "Made by !secret.", nullptr},
    {"is_env_var", node_is_env_var, nullptr, "Made by !env_var.", nullptr},
    {"is_include", node_is_include, nullptr, "Made by an include directive.", nullptr},
    {"is_alias", node_is_alias, nullptr, "The node is an alias.", nullptr},
    {"target", node_target, nullptr, "The node an alias refers to, or None.", nullptr},
    {"aliases", node_aliases, nullptr, "The aliases of the node's anchor.", nullptr},
    {"comment", node_get_comment, node_set_comment, "The comment after the node.", nullptr},
    {"comment_before", node_get_comment_before, node_set_comment_before,
     "The comment lines above the entry.", nullptr},
    {"anchor", node_get_anchor, node_set_anchor, "The node's anchor name.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot node_slots[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(handle_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(node_repr)},
    {Py_tp_methods, node_methods},
    {Py_tp_getset, node_getset},
    {Py_mp_subscript, reinterpret_cast<void*>(node_subscript)},
    {Py_sq_contains, reinterpret_cast<void*>(node_contains)},
    {Py_tp_doc, const_cast<char*>("A cursor on one node of a document.")},
    {0, nullptr},
};

PyType_Spec node_spec = {"_quarvel.QuarvelNode", sizeof(HandleObject), 0,
                         Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION, node_slots};

PyObject* make_node() {
    return PyType_FromSpec(&node_spec);
}

}  // namespace

PyTypeObject* node_type() {
    return cached_type(g_node, make_node);
}

}  // namespace quarvel::py
