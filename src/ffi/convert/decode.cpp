#include "ffi/convert/decode.hpp"

#include <optional>
#include <string>
#include <vector>

#include "ffi/convert/collections.hpp"
#include "ffi/convert/key_cache.hpp"
#include "ffi/convert/strings.hpp"
#include "ffi/types.hpp"
#include "pyutil/big_int.hpp"
#include "pyutil/errors.hpp"
#include "pyutil/py_ref.hpp"
#include "resolver/resolver.hpp"
#include "support/error.hpp"
#include "support/seeded_hash.hpp"
#include "support/stack.hpp"
#include "syntax/line_starts.hpp"

namespace quarvel::py {
namespace {

// Every method returns a new reference, or null: with an exception set, or
// without one when the stack ran out (the thread's flag says so).
class Converter {
  public:
    explicit Converter(const ConvertOptions& options) : options_(options) {}

    PyObject* value(const YamlValue& v) {
        switch (v.kind) {
            case ValueKind::Null:
                return Py_NewRef(Py_None);
            case ValueKind::Bool:
                return Py_NewRef(v.boolean ? Py_True : Py_False);
            case ValueKind::Int:
                return PyLong_FromLongLong(v.integer);
            case ValueKind::BigInt:
                return big_int_object(v.text(), [&] { return position_of(v.text()); });
            case ValueKind::Float:
                return PyFloat_FromDouble(v.real);
            case ValueKind::String:
                return new_str(v.text());
            case ValueKind::Sequence:
                return stack_.run([&] { return sequence(v); });
            case ValueKind::Mapping:
                return stack_.run([&] { return mapping(v); });
            case ValueKind::Tagged:
                return stack_.run([&] { return tagged(v); });
        }
        return nullptr;
    }

  private:
    PyObject* sequence(const YamlValue& v) {
        Ref list(PyList_New(static_cast<Py_ssize_t>(v.children().size())));
        if (!list) return nullptr;
        for (std::size_t i = 0; i < v.children().size(); ++i) {
            PyObject* item = value(v.children()[i]);
            if (!item) return nullptr;
            PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);
        }
        return list.release();
    }

    PyObject* mapping(const YamlValue& v) {
        Ref dict(PyDict_New());
        if (!dict) return nullptr;
        if (!fill_dict(
                dict.get(), v.children(), [&](const YamlValue& c) { return key(c); },
                [&](const YamlValue& c) { return value(c); }))
            return nullptr;
        return dict.release();
    }

    // Keys: strings are shared per document; collections become tuples.
    PyObject* key(const YamlValue& k) {
        switch (k.kind) {
            case ValueKind::String:
                return keys_.get(k.text());
            case ValueKind::Sequence:
                return stack_.run([&] { return sequence_key(k); });
            case ValueKind::Mapping:
                return stack_.run([&] { return mapping_key(k); });
            default:
                return value(k);
        }
    }

    PyObject* sequence_key(const YamlValue& k) {
        return items_tuple(k.children(), [&](const YamlValue& c) { return key(c); });
    }

    PyObject* mapping_key(const YamlValue& k) {
        return pairs_tuple(k.children(), [&](const YamlValue& c) { return key(c); });
    }

    PyObject* tagged(const YamlValue& v) {
        Ref inner(value(v.inner()));
        if (!inner) return nullptr;
        return apply_tag(v.text(), std::move(inner), options_);
    }

    // A scalar's position, when its text is a view into the source (a
    // scalar rewritten while scanning, such as a folded one, has none).
    std::optional<ScalarAt> position_of(std::string_view text) {
        const std::string_view source = options_.source;
        if (text.data() < source.data() || text.data() >= source.data() + source.size())
            return std::nullopt;
        if (!lines_) lines_.emplace(source);
        const auto offset = static_cast<std::uint64_t>(text.data() - source.data());
        const std::uint32_t line = lines_->line_of(offset);
        return ScalarAt{line, lines_->column_of(line, offset)};
    }

    const ConvertOptions& options_;
    StackRoom stack_;  // nested collections check the stack by frame address
    KeyCache keys_;
    std::optional<LineStarts> lines_;
};

}  // namespace

// A number past the interpreter's limit on decimal digits, or too long to
// change base, stays the text it was written as.
PyObject* apply_tag(std::string_view tag_text, Ref inner, const ConvertOptions& options) {
    if (!options.tags && !options.tag_handler && !options.passthrough_tags) return inner.release();
    Ref tag(new_str(tag_text));
    if (!tag) return nullptr;
    if (options.tags) {
        PyObject* handler = PyDict_GetItemWithError(options.tags, tag.get());
        if (handler) return PyObject_CallOneArg(handler, inner.get());
        if (PyErr_Occurred()) return nullptr;
    }
    if (options.tag_handler) {
        PyObject* args[] = {tag.get(), inner.get()};
        return PyObject_Vectorcall(options.tag_handler, args, 2, nullptr);
    }
    if (options.passthrough_tags) return new_tag(tag.get(), inner.get());
    return inner.release();
}

PyObject* convert_document(const YamlValue& root, const ConvertOptions& options) {
    GcPause pause;
    Converter converter(options);
    PyObject* result = converter.value(root);
    // A nested node that found no stack comes back as null without an exception.
    if (!result && stack_exhausted()) return raise_stack_exhausted(nullptr);
    return result;
}

}  // namespace quarvel::py
