// dumps and to_json: encode the object graph with the lock held, then write
// YAML or JSON with the lock released.
#include <cstdio>
#include <optional>
#include <string>

#include "encode/emitter.hpp"
#include "ffi/convert/encode.hpp"
#include "ffi/convert/json_direct.hpp"
#include "ffi/functions.hpp"
#include "ffi/roundtrip/api.hpp"
#include "ffi/types.hpp"
#include "pyutil/args.hpp"
#include "pyutil/py_ref.hpp"
#include "support/options.hpp"
#include "support/utf8.hpp"
#include "support/warm_memory.hpp"

namespace quarvel::py {
namespace {

constexpr const char* kDumpsKeywords[] = {"default", "option", "null_style", "tags", "width"};
enum DumpsArg { kDefault, kOption, kNullStyle, kTags, kWidth, kDumpsArgCount };

constexpr const char* kToJsonKeywords[] = {"default", "option"};
enum ToJsonArg { kJsonDefault, kJsonOption, kToJsonArgCount };

constexpr Signature kDumpsSig{"dumps", "obj", kDumpsKeywords};
constexpr Signature kToJsonSig{"to_json", "obj", kToJsonKeywords};

// 1 when obj is an instance of the class `get` returns, 0 when not, -1 failed.
int instance_of(PyObject* obj, PyTypeObject* (*get)()) {
    PyTypeObject* type = get();
    if (!type) return -1;
    return PyObject_TypeCheck(obj, type) ? 1 : 0;
}

std::optional<NullStyle> null_style_from_text(const std::string& text) {
    if (text == "null") return NullStyle::Keyword;
    if (text == "empty") return NullStyle::Empty;
    if (text == "~" || text == "tilde") return NullStyle::Tilde;
    raise(Error::argument("null_style must be 'null', 'empty', or '~', not " +
                          utf8::quoted_literal(text)));
    return std::nullopt;
}

std::optional<NullStyle> null_style_from_options(std::uint64_t option) {
    const bool keyword = option & opt::NULL_AS_KEYWORD;
    const bool tilde = option & opt::NULL_AS_TILDE;
    if (keyword && tilde) {
        raise(Error::argument("OPT_NULL_AS_KEYWORD and OPT_NULL_AS_TILDE are mutually exclusive"));
        return std::nullopt;
    }
    if (keyword) return NullStyle::Keyword;
    if (tilde) return NullStyle::Tilde;
    return NullStyle::Empty;
}

EmitterSettings emitter_settings(std::uint64_t option, std::uint64_t width, NullStyle null_style) {
    EmitterSettings s;
    s.indent = (option & opt::INDENT_4) ? 4 : 2;
    s.width = width;
    s.null_style = null_style;
    s.sort_keys = option & opt::SORT_KEYS;
    s.flow = option & opt::FLOW_STYLE;
    s.explicit_start = option & opt::EXPLICIT_START;
    s.explicit_end = option & opt::EXPLICIT_END;
    s.prefer_double_quotes = !(option & opt::SINGLE_QUOTES);
    s.indentless = option & opt::INDENTLESS_SEQUENCES;
    return s;
}

JsonSettings json_settings(std::uint64_t option) {
    JsonSettings s;
    s.indent = (option & opt::INDENT_4) ? 4 : (option & opt::INDENT_2) ? 2 : 0;
    s.sort_keys = option & opt::SORT_KEYS;
    return s;
}

PyObject* bytes_of(const std::string& text) {
    return PyBytes_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// obj.to_dict() for documents and views; null with the exception set.
Ref call_to_dict(PyObject* obj) {
    return Ref(PyObject_CallMethod(obj, "to_dict", nullptr));
}

// A document view is written as its to_dict() result; obj then points into
// `holder`. False with an exception set on failure.
bool replace_view(PyObject*& obj, Ref& holder) {
    int is_view = instance_of(obj, document_view_type);
    if (is_view < 0) return false;
    if (!is_view) return true;
    holder = call_to_dict(obj);
    if (!holder) return false;
    obj = holder.get();
    return true;
}

PyObject* dumps_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* obj = nullptr;
    PyObject* kw[kDumpsArgCount];
    if (!bind_arguments(kDumpsSig, args, nargs, kwnames, &obj, kw)) return nullptr;
    auto option = read_u64(kw[kOption], "dumps", "option");
    if (!option) return nullptr;
    std::optional<std::string> null_style_text;
    if (PyObject* ns = kw[kNullStyle]) {
        if (!PyUnicode_Check(ns)) {
            raise_argument_type("dumps", "null_style", "str", ns);
            return nullptr;
        }
        null_style_text.emplace();
        if (!lenient_utf8(ns, *null_style_text)) return nullptr;
    }
    if (kw[kTags] && !PyDict_Check(kw[kTags])) {
        raise_argument_type("dumps", "tags", "dict", kw[kTags]);
        return nullptr;
    }
    auto width = read_u64(kw[kWidth], "dumps", "width");
    if (!width) return nullptr;

    int is_document = instance_of(obj, document_type);
    if (is_document < 0) return nullptr;
    if (is_document) return document_yaml(obj);
    Ref replaced;
    if (!replace_view(obj, replaced)) return nullptr;

    auto null_style =
        null_style_text ? null_style_from_text(*null_style_text) : null_style_from_options(*option);
    if (!null_style) return nullptr;
    EmitterSettings settings = emitter_settings(*option, *width, *null_style);

    // Declared before the tree: the tree views texts the storage keeps alive.
    EncodeStorage storage;
    EncodeContext context = encode_context_from_options(*option);
    context.default_fn = kw[kDefault];
    context.tags = kw[kTags];
    context.tags_must_be_yaml = true;
    context.storage = &storage;
    auto tree = encode_object(obj, context);
    if (!tree) return raise(tree.error());

    warm::OutputBuffer buffer;
    std::string& out = buffer.text();
    Status written;
    {
        AllowThreads unlocked;
        written = emit_yaml(*tree, settings, out);
    }
    if (!written) return raise(written.error());
    return bytes_of(out);
}

PyObject* to_json_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* obj = nullptr;
    PyObject* kw[kToJsonArgCount];
    if (!bind_arguments(kToJsonSig, args, nargs, kwnames, &obj, kw)) return nullptr;
    auto option = read_u64(kw[kJsonOption], "to_json", "option");
    if (!option) return nullptr;
    bool gave_up = false;
    if (PyObject* bytes = json_bytes_direct(obj, json_settings(*option), gave_up)) return bytes;
    if (!gave_up) return nullptr;

    int is_document = instance_of(obj, document_type);
    if (is_document < 0) return nullptr;
    Ref replaced;
    if (is_document) {
        // An empty stream is null; otherwise the document's values are written.
        const Py_ssize_t roots = document_root_count(obj);
        if (roots < 0) return nullptr;
        if (roots == 0) return PyBytes_FromString("null");
        replaced = call_to_dict(obj);
        if (!replaced) return nullptr;
        obj = replaced.get();
    } else if (!replace_view(obj, replaced)) {
        return nullptr;
    }

    EncodeStorage storage;
    EncodeContext context = encode_context_from_options(*option);
    context.default_fn = kw[kJsonDefault];
    context.storage = &storage;
    JsonSettings settings = json_settings(*option);
    auto tree = encode_object(obj, context);
    if (!tree) return raise(tree.error());

    warm::OutputBuffer buffer;
    std::string& out = buffer.text();
    Status written;
    {
        AllowThreads unlocked;
        written = write_json(*tree, settings, out);
    }
    if (!written) return raise(written.error());
    return bytes_of(out);
}

}  // namespace

PyObject* dumps(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] { return dumps_body(args, nargs, kwnames); });
}

PyObject* to_json(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] { return to_json_body(args, nargs, kwnames); });
}

}  // namespace quarvel::py
