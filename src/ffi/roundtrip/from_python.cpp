#include "ffi/roundtrip/from_python.hpp"

#include <cstring>
#include <string>

#include "encode/emitter.hpp"
#include "ffi/roundtrip/document_object.hpp"
#include "ffi/types.hpp"
#include "pyutil/compact_int.hpp"
#include "pyutil/errors.hpp"
#include "pyutil/py_ref.hpp"
#include "roundtrip/edits.hpp"
#include "roundtrip/value_tag.hpp"
#include "support/float_format.hpp"
#include "support/stack.hpp"

namespace quarvel::py {
namespace {

// numpy.bool_ (spelled numpy.bool since numpy 2) without importing numpy.
bool is_numpy_bool(PyObject* o) {
    const char* name = Py_TYPE(o)->tp_name;
    return std::strcmp(name, "numpy.bool_") == 0 || std::strcmp(name, "numpy.bool") == 0;
}

class NodeBuilder {
  public:
    explicit NodeBuilder(DocumentState& doc) : doc_(doc) {}

    // False with an exception set (or the stack ran out).
    bool build(PyObject* o, unsigned depth, YamlNode& out) {
        if (depth >= kAssignDepthLimit) {
            raise_text(PyExc_ValueError,
                       "value is too deeply nested to assign (possible self-reference)");
            return false;
        }
        if (o == Py_None) {
            out.kind = NodeKind::Null;
            out.synthetic = true;
            return true;
        }
        if (PyBool_Check(o) || is_numpy_bool(o)) {
            const int truth = PyObject_IsTrue(o);
            if (truth < 0) return false;
            return plain(truth ? "true" : "false", out);
        }
        if (PyLong_Check(o)) return integer(o, out);
        if (PyFloat_Check(o)) return real(PyFloat_AS_DOUBLE(o), out);
        if (PyUnicode_Check(o)) return string(o, out);
        if (PyDict_Check(o)) return ensure_stack([&] { return mapping(o, depth, out); });
        if (PyList_Check(o)) return ensure_stack([&] { return sequence(o, depth, out); });
        if (is_tag(o)) return ensure_stack([&] { return tagged(o, depth, out); });
        if (Py_TYPE(o)->tp_as_number && Py_TYPE(o)->tp_as_number->nb_float) {
            const double d = PyFloat_AsDouble(o);
            if (d == -1.0 && PyErr_Occurred()) return false;
            return real(d, out);
        }
        return unsupported(o);
    }

  private:
    bool plain(std::string_view text, YamlNode& out) {
        out.kind = NodeKind::Scalar;
        out.scalar_style = ScalarStyle::Plain;
        out.text = doc_.arena().store(text);
        return true;
    }

    // int's own decimal spelling: a subclass's __str__ is not asked.
    bool integer(PyObject* o, YamlNode& out) {
        long long small;
        if (compact_int_value(o, small)) return plain(std::to_string(small), out);
        int overflow = 0;
        const long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
        if (v == -1 && PyErr_Occurred()) return false;
        if (!overflow) return plain(std::to_string(v), out);
        Ref digits(PyLong_Type.tp_repr(o));
        if (!digits) return false;
        std::string_view text;
        return utf8_view(digits.get(), text) && plain(text, out);
    }

    bool real(double d, YamlNode& out) {
        std::string text;
        format_float(d, text);
        return plain(text, out);
    }

    bool string(PyObject* o, YamlNode& out) {
        std::string_view text;
        if (!utf8_view(o, text)) return false;
        out.kind = NodeKind::Scalar;
        out.scalar_style = style_for_new_text(text, doc_.settings);
        out.text = doc_.arena().store(text);
        return true;
    }

    // dict.items() of the dict itself (not an override), whose iterator
    // reports a dict changed by the conversion of its own entries.
    bool mapping(PyObject* o, unsigned depth, YamlNode& out) {
        out.kind = NodeKind::Mapping;
        out.children.reserve(2 * static_cast<std::size_t>(PyDict_GET_SIZE(o)));
        Ref items(PyObject_CallMethod(reinterpret_cast<PyObject*>(&PyDict_Type), "items", "O", o));
        if (!items) return false;
        Ref it(PyObject_GetIter(items.get()));
        if (!it) return false;
        while (Ref pair{PyIter_Next(it.get())}) {
            YamlNode key, value;
            if (!build(PyTuple_GET_ITEM(pair.get(), 0), depth + 1, key) ||
                !build(PyTuple_GET_ITEM(pair.get(), 1), depth + 1, value))
                return false;
            out.children.push_back(std::move(key));
            out.children.push_back(std::move(value));
        }
        return !PyErr_Occurred();
    }

    // The length is read again at every step: the list may change under us.
    bool sequence(PyObject* o, unsigned depth, YamlNode& out) {
        out.kind = NodeKind::Sequence;
        out.children.reserve(static_cast<std::size_t>(PyList_GET_SIZE(o)));
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(o); ++i) {
            Ref item = Ref::borrow(PyList_GET_ITEM(o, i));
            YamlNode node;
            if (!build(item.get(), depth + 1, node)) return false;
            out.children.push_back(std::move(node));
        }
        return true;
    }

    // QuarvelTag(tag, value): the value written under that tag, as written
    // when YAML can spell it so, else in the verbatim form !<...>. A tag the
    // value would not read back under is refused.
    bool tagged(PyObject* o, unsigned depth, YamlNode& out) {
        std::string_view tag;
        if (!utf8_view(tag_text(o), tag)) return false;
        // A YAML node has one tag: "!a !b x" is no YAML.
        if (is_tag(tag_value(o))) {
            PyErr_Format(PyExc_ValueError, "cannot write the tag %U on a value that has the tag %U",
                         tag_text(o), tag_text(tag_value(o)));
            return false;
        }
        if (!build(tag_value(o), depth + 1, out)) return false;
        const TagSpelling spelling = tag_spelling(tag);
        if (spelling == TagSpelling::None) {
            PyErr_Format(PyExc_ValueError, "cannot write the tag %U in YAML", tag_text(o));
            return false;
        }
        out.set_expanded_tag({});
        if (spelling == TagSpelling::Verbatim) {
            out.set_expanded_tag(doc_.arena().store(tag));
            out.set_tag(doc_.arena().store("!<" + std::string(tag) + ">"));
        } else {
            out.set_tag(doc_.arena().store(tag));
            if (tag.starts_with("!<"))
                out.set_expanded_tag(out.tag()->substr(2, out.tag()->size() - 3));
        }
        if (auto checked = check_explicit_tag(out, doc_.mode); !checked) {
            raise_fault(checked.error());
            return false;
        }
        if (auto checked = check_primary_handle(doc_.source, tag); !checked) {
            raise_fault(checked.error());
            return false;
        }
        return true;
    }

    static bool unsupported(PyObject* o) {
        Ref shown(PyObject_Repr(o));
        if (!shown) return false;
        PyErr_Format(PyExc_TypeError, "cannot convert %U to a YAML node", shown.get());
        return false;
    }

    DocumentState& doc_;
};

}  // namespace

std::optional<YamlNode> node_from_python(PyObject* value, DocumentState& doc) {
    YamlNode out;
    NodeBuilder builder(doc);
    if (!builder.build(value, 0, out)) {
        if (!PyErr_Occurred() && stack_exhausted()) raise_stack_exhausted(nullptr);
        return std::nullopt;
    }
    return out;
}

}  // namespace quarvel::py
