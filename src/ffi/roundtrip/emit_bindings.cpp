#include "ffi/roundtrip/emit_bindings.hpp"

#include <optional>
#include <string>
#include <vector>

#include "directives/confine.hpp"
#include "ffi/roundtrip/api.hpp"
#include "ffi/roundtrip/document_object.hpp"
#include "pyutil/args.hpp"
#include "pyutil/errors.hpp"
#include "roundtrip/atomic_write.hpp"
#include "roundtrip/emitter.hpp"
#include "roundtrip/format.hpp"
#include "roundtrip/write_back.hpp"

namespace quarvel::py {
namespace {

roundtrip::EmitOptions emit_options(const DocumentState& state) {
    roundtrip::EmitOptions o;
    o.null_style = static_cast<NullStyle>(static_cast<std::uint8_t>(state.settings.null_style));
    o.declare_1_2 = state.settings.declare_1_2;
    o.prefer_double_quotes = state.settings.prefer_double_quotes;
    if (!state.text_as_read.empty()) o.text_as_read = state.text_as_read;
    return o;
}

// The text of file `id` as loaded, when the document kept it.
std::optional<std::string_view> text_of(const DocumentState& state, std::uint32_t id) {
    if (id == 0) return std::string_view(state.source);
    if (id < state.files.files.size() && state.files.files[id].text)
        return std::string_view(*state.files.files[id].text);
    return std::nullopt;
}

std::vector<roundtrip::FileRecord> file_records(const DocumentState& state) {
    std::vector<roundtrip::FileRecord> out;
    out.reserve(state.files.files.size());
    for (std::uint32_t id = 0; id < state.files.files.size(); ++id)
        out.push_back({state.files.files[id].path, text_of(state, id)});
    return out;
}

PyObject* bytes_of(const std::string& s) {
    return PyBytes_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

PyObject* path_text(const std::string& path) {
    return PyUnicode_DecodeUTF8(path.data(), static_cast<Py_ssize_t>(path.size()), "replace");
}

// The confinement error for a write that would have gone through a link or
// out of the directory it is confined to; nothing was written.
PyObject* raise_refused_write(const std::string& path) {
    Error e;
    e.family = ErrorFamily::Directive;
    e.selector = directive_kind::include_confinement;
    e.message = outside_message(path);
    e.file = path;
    return raise_unplaced(e);
}

// Writes every file in order; the paths written, or null with `failure`'s
// exception type set for the first file that could not be written.
PyObject* write_all(const std::vector<roundtrip::FileBytes>& files, PyObject* failure,
                    bool list_paths) {
    Ref written(PyList_New(0));
    if (!written) return nullptr;
    for (const roundtrip::FileBytes& f : files) {
        auto done = roundtrip::write_file(f);
        if (!done && done.error().refused) return raise_refused_write(f.path);
        if (!done) return raise_text(failure, done.error().message.c_str());
        if (!list_paths) continue;
        Ref name(path_text(f.path));
        if (!name || PyList_Append(written.get(), name.get()) < 0) return nullptr;
    }
    return written.release();
}

// The document of `doc`, which must be a QuarvelDocument.
bool check_document(const char* function, PyObject* doc) {
    PyTypeObject* type = document_type();
    if (!type) return false;
    if (PyObject_TypeCheck(doc, type)) return true;
    raise_argument_type(function, "doc", "QuarvelDocument", doc);
    return false;
}

// Every included file of `doc` (a QuarvelDocument, else the argument error
// naming `function`); nullopt with an exception set.
std::optional<std::vector<roundtrip::FileBytes>> included_files(const char* function,
                                                                PyObject* doc) {
    if (!check_document(function, doc)) return std::nullopt;
    Borrow hold(doc, Borrow::Shared);
    if (!hold.ok()) return std::nullopt;
    const auto records = file_records(hold.state());
    auto files =
        roundtrip::collect_included_files(hold.state().roots(), records, hold.state().files.root);
    if (!files) {
        raise(files.error());
        return std::nullopt;
    }
    return std::move(*files);
}

}  // namespace

PyObject* document_yaml(PyObject* document, bool normalize) {
    Borrow hold(document, Borrow::Shared);
    if (!hold.ok()) return nullptr;
    const DocumentState& state = hold.state();
    const std::string_view source(state.source);
    auto text = normalize ? roundtrip::format_stream(state.roots(), source, emit_options(state))
                          : roundtrip::emit_stream(state.roots(), source, emit_options(state));
    if (!text) return raise(text.error());
    return bytes_of(*text);
}

PyObject* node_yaml(const DocumentState& state, const YamlNode& node) {
    std::string out;
    std::optional<roundtrip::SourceText> source;
    if (auto text = text_of(state, node.span.file_id))
        source = roundtrip::SourceText{*text, node.span.file_id};
    if (auto st = roundtrip::emit_root(node, emit_options(state), out, source); !st)
        return raise(st.error());
    return bytes_of(out);
}

PyObject* save_document(PyObject* document, PyObject* path) {
    std::optional<std::string> target;
    if (path && path != Py_None) {
        std::string_view text;
        if (!PyUnicode_Check(path)) {
            raise_argument_type("save", "path", "str", path);
            return nullptr;
        }
        if (!utf8_view(path, text)) return nullptr;
        target = std::string(text);
    }
    Borrow hold(document, Borrow::Shared);
    if (!hold.ok()) return nullptr;
    const DocumentState& state = hold.state();
    const auto records = file_records(state);
    roundtrip::SaveInput input;
    input.roots = state.roots();
    input.files = records;
    input.root_text = std::string_view(state.source);
    input.options = emit_options(state);
    input.path = target;
    input.origin = state.origin;
    input.include_root = state.files.root;
    input.origin_dir = state.origin_dir;
    auto plan = roundtrip::plan_save(input);
    if (!plan) return raise(plan.error());
    return write_all(*plan, PyExc_OSError, true);
}

PyObject* write_included_files(PyObject* doc) {
    auto files = included_files("dump_includes", doc);
    if (!files) return nullptr;
    Ref written(write_all(*files, PyExc_ValueError, false));
    if (!written) return nullptr;
    Py_RETURN_NONE;
}

PyObject* included_files_map(PyObject* doc) {
    auto files = included_files("dump_includes_map", doc);
    if (!files) return nullptr;
    Ref map(PyDict_New());
    if (!map) return nullptr;
    for (const roundtrip::FileBytes& f : *files) {
        Ref name(path_text(f.path));
        Ref content(bytes_of(f.bytes));
        if (!name || !content || PyDict_SetItem(map.get(), name.get(), content.get()) < 0)
            return nullptr;
    }
    return map.release();
}

}  // namespace quarvel::py
