// The reading functions: loads, loads_all, yaml_version and schema_ref.
#include <algorithm>
#include <optional>
#include <string>

#include "decode/decoder.hpp"
#include "ffi/convert/decode.hpp"
#include "ffi/convert/tree.hpp"
#include "ffi/directive_frame.hpp"
#include "ffi/functions.hpp"
#include "ffi/input.hpp"
#include "ffi/roundtrip/api.hpp"
#include "ffi/schema_check.hpp"
#include "pyutil/args.hpp"
#include "pyutil/py_ref.hpp"
#include "roundtrip/document_state.hpp"
#include "scanner/prologue.hpp"
#include "schema/reference.hpp"
#include "support/options.hpp"
#include "syntax/checks.hpp"
#include "syntax/compose.hpp"

namespace quarvel::py {
namespace {

constexpr const char* kLoadsKeywords[] = {
    "option",          "include_dir",       "schema",
    "schema_resolver", "tag_handler",       "tags",
    "root_path",       "on_missing_secret", "on_missing_env_var"};
enum LoadsArg {
    kOption,
    kIncludeDir,
    kSchema,
    kSchemaResolver,
    kTagHandler,
    kTags,
    kRootPath,
    kOnMissingSecret,
    kOnMissingEnvVar,
    kLoadsArgCount
};

constexpr const char* kLoadsAllKeywords[] = {"option", "tag_handler", "tags"};
enum LoadsAllArg { kAllOption, kAllTagHandler, kAllTags, kLoadsAllArgCount };

constexpr Signature kLoadsSig{"loads", "data", kLoadsKeywords};
constexpr Signature kLoadsAllSig{"loads_all", "data", kLoadsAllKeywords};
constexpr Signature kYamlVersionSig{"yaml_version", "data", {}};
constexpr Signature kSchemaRefSig{"schema_ref", "data", {}};

constexpr std::uint64_t kDirectiveBits = opt::INCLUDES | opt::SECRETS | opt::ENV_VAR;
constexpr std::uint64_t kConfigBits = opt::ANNOTATED | kDirectiveBits;

// include_dir and root_path go through os.fspath at extraction.
bool check_path_argument(PyObject* value, const char* name) {
    if (!value) return true;
    Ref path(PyOS_FSPath(value));
    if (path) return true;
    PyErr_Clear();
    raise_argument_type("loads", name, "str or path-like", value);
    return false;
}

bool check_tags(PyObject* tags) {
    if (!tags || PyDict_Check(tags)) return true;
    raise(Error::argument("tags must be a dict (or Tags) mapping each tag name to a callable",
                          argument_kind::type_error));
    return false;
}

DecodeOptions decode_options(std::uint64_t option, const ModeChoice& mode) {
    DecodeOptions d;
    d.mode = mode.mode;
    d.duplicate_keys_error = option & opt::DUPLICATE_KEYS_ERROR;
    d.duplicate_keys_warn = !d.duplicate_keys_error && (option & opt::DUPLICATE_KEYS_WARN);
    d.reject_complex_keys = option & opt::REJECT_COMPLEX_KEYS;
    d.warn_1_1 = mode.warn_1_1;
    return d;
}

// Decodes every document with the interpreter lock released.
Result<DecodedStream> decode_released(std::string_view text, const DecodeOptions& options) {
    AllowThreads unlocked;
    return decode(text, options);
}

// Drops the value trees once they are converted, again without the lock:
// freeing a large tree touches no Python object.
void drop_released(Result<DecodedStream>& decoded) {
    AllowThreads unlocked;
    DecodedStream dropped = std::move(*decoded);
}

// A schema file its reader refused (an include-family error with no line
// of its own) is reported at the comment that names it: the error gets that
// comment's 1-based line and column, and its message says so.
void place_at_reference(std::string_view text, std::string_view ref) {
    PyObject* type = nullptr;
    PyObject* raised = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &raised, &traceback);
    PyErr_NormalizeException(&type, &raised, &traceback);
    PyObject* include_error = exception_class(ExcClass::IncludeError);
    if (!include_error) PyErr_Clear();
    if (!include_error || !raised || !PyErr_GivenExceptionMatches(raised, include_error)) {
        PyErr_Restore(type, raised, traceback);
        return;
    }
    const std::size_t at = static_cast<std::size_t>(ref.data() - text.data());
    const std::size_t line_start =
        text.rfind('\n', at) == std::string_view::npos ? 0 : text.rfind('\n', at) + 1;
    const std::size_t hash = text.find('#', line_start);
    const auto line = static_cast<unsigned long long>(
        std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at), '\n') + 1);
    Ref old_line(PyObject_GetAttrString(raised, "line"));
    if (!old_line) PyErr_Clear();
    if (!old_line || old_line.get() == Py_None) {
        Ref message(PyObject_Str(raised));
        Ref placed(message ? PyUnicode_FromFormat("%U (named by the schema comment at line %llu)",
                                                  message.get(), line)
                           : nullptr);
        Ref args(placed ? PyTuple_Pack(1, placed.get()) : nullptr);
        Ref number(PyLong_FromUnsignedLongLong(line));
        Ref column(PyLong_FromSize_t(hash - line_start + 1));
        if (!args || PyObject_SetAttrString(raised, "args", args.get()) < 0 || !number ||
            PyObject_SetAttrString(raised, "line", number.get()) < 0 || !column ||
            PyObject_SetAttrString(raised, "column", column.get()) < 0)
            PyErr_Clear();
    }
    PyErr_Restore(type, raised, traceback);
}

struct SchemaChoice {
    Ref schema;                    // null: no validation
    PyObject* resolver = nullptr;  // for references to other documents (borrowed)
    bool assert_formats = false;

    SchemaCall call() const { return SchemaCall{schema.get(), resolver, assert_formats}; }
};

// schema / schema_resolver pairing; a None resolver result means no
// validation. The resolver also provides the other documents a schema's
// references name, whether the schema came from it or was given.
std::optional<SchemaChoice> choose_schema(PyObject* schema, PyObject* resolver,
                                          std::string_view text, std::uint64_t option) {
    SchemaChoice choice;
    choice.resolver = resolver;
    choice.assert_formats = option & opt::SCHEMA_FORMAT;
    if (schema && PyUnicode_Check(schema) &&
        PyUnicode_CompareWithASCIIString(schema, "auto") == 0) {
        if (!resolver) {
            raise(
                Error::argument("schema=\"auto\" requires a schema_resolver callable to resolve "
                                "the in-file reference"));
            return std::nullopt;
        }
        auto ref = find_schema_ref(text);
        if (!ref) return choice;
        Ref ref_text = str_from_utf8(*ref);
        if (!ref_text) return std::nullopt;
        Ref result(PyObject_CallOneArg(resolver, ref_text.get()));
        if (!result) {
            place_at_reference(text, *ref);
            return std::nullopt;
        }
        if (result.get() != Py_None) choice.schema = std::move(result);
        return choice;
    }
    if (!schema && resolver) {
        raise(Error::argument("schema_resolver requires schema=\"auto\""));
        return std::nullopt;
    }
    if (schema) choice.schema = Ref::borrow(schema);
    return choice;
}

ConvertOptions convert_options(PyObject* tags, PyObject* tag_handler, std::uint64_t option) {
    return ConvertOptions{tags, tag_handler, (option & opt::PASSTHROUGH_TAG) != 0, {}};
}

PyObject* loads_plain(std::string_view text, std::uint64_t option, const ModeChoice& mode,
                      const SchemaChoice& schema, const ConvertOptions& convert) {
    auto decoded = decode_released(text, decode_options(option, mode));
    if (!decoded) return raise(decoded.error());
    log_warnings(decoded->warnings);
    if (decoded->documents.empty()) Py_RETURN_NONE;
    if (schema.schema &&
        !check_schema_of_text(schema.call(), text, decoded->documents.front(), mode.mode))
        return nullptr;
    ConvertOptions from_text = convert;
    from_text.source = text;
    PyObject* result = convert_document(decoded->documents.front(), from_text);
    drop_released(decoded);
    return result;
}

// Syntax errors and complex keys surface from a plain parse with the lock
// released before the tree is composed; its values and warnings are dropped.
bool early_parse(std::string_view text, std::uint64_t option, const ModeChoice& mode) {
    DecodeOptions d;
    d.mode = mode.mode;
    d.reject_complex_keys = option & opt::REJECT_COMPLEX_KEYS;
    auto decoded = decode_released(text, d);
    if (!decoded) {
        raise(decoded.error());
        return false;
    }
    drop_released(decoded);
    return true;
}

// A path argument as str (a bytes path decoded as the file system does).
Ref fs_path_str(PyObject* value) {
    Ref path(PyOS_FSPath(value));
    if (!path || !PyBytes_Check(path.get())) return path;
    return Ref(PyUnicode_DecodeFSDefaultAndSize(PyBytes_AS_STRING(path.get()),
                                                PyBytes_GET_SIZE(path.get())));
}

// __file__ of the root text: root_path, or the include directory joined with "<root>".
Ref root_file_name(PyObject* include_dir, PyObject* root_path) {
    if (root_path) return fs_path_str(root_path);
    Ref dir(include_dir ? fs_path_str(include_dir) : Ref(PyUnicode_FromString(".")));
    if (!dir) return {};
    Ref os_path(PyImport_ImportModule("os.path"));
    if (!os_path) return {};
    return Ref(PyObject_CallMethod(os_path.get(), "join", "Os", dir.get(), "<root>"));
}

TreeConvertOptions tree_options(std::uint64_t option, const ModeChoice& mode,
                                const ConvertOptions& convert, PyObject* root_file) {
    TreeConvertOptions t;
    t.tags = convert;
    t.mode = mode.mode;
    t.annotated = option & opt::ANNOTATED;
    t.annotate_numbers = option & opt::ANNOTATE_NUMBERS;
    t.root_file = root_file;
    return t;
}

// The configuration path: the text as a syntax tree, converted annotated or plain.
PyObject* loads_config(std::string_view text, const ModeChoice& mode, const SchemaChoice& schema,
                       const ConvertOptions& convert, const DirectiveCall& call) {
    const std::uint64_t option = call.option;
    // Syntax errors and complex keys surface as plain loading reports them,
    // whichever options chose this path: a text plain loading refuses (an
    // undefined tag handle, an unknown alias) is refused here too. Strict
    // composition raises those itself; the plain parse runs only where it may
    // find more: faults of aliases (unknown names, the expansion budget), and
    // which of several faults comes first.
    ComposeChecks checks;
    checks.strict = true;
    checks.reject_complex_keys = option & opt::REJECT_COMPLEX_KEYS;
    checks.keep_comments = false;
    // Empty documents stay, so the first document is the one plain loading reads.
    auto forest = compose_text(text, 0, /*keep_empty=*/true, checks);
    if ((!forest || forest->has_aliases) && !early_parse(text, option, mode)) return nullptr;
    if (!forest) return raise(forest.error());
    std::optional<DirectiveOutcome> directives;
    std::optional<std::vector<Ref>> files;
    if (option & kDirectiveBits) {
        directives = resolve_for_loads(*forest, call);
        if (!directives || !(files = file_names(directives->files))) return nullptr;
    }
    Warnings warnings;
    std::uint32_t error_file = 0;
    TreeCheckOptions tree_checks = tree_check_options(option, mode);
    std::vector<std::string> paths;
    if (directives) tree_checks.file_paths = paths = file_paths(directives->files);
    Status checked = check_tree(*forest, tree_checks, warnings, &error_file);
    log_warnings(warnings);
    if (forest->roots.empty()) Py_RETURN_NONE;
    if (!checked) {
        if (directives && error_file != 0)
            checked.error().file = directives->files.files[error_file].path;
        return raise(checked.error());
    }
    if (schema.schema &&
        !check_schema(schema.call(), forest->roots.front(), forest->has_aliases, mode.mode))
        return nullptr;
    Ref file = files ? Ref::borrow(files->front().get())
                     : root_file_name(call.include_dir, call.root_path);
    if (!file) return nullptr;
    TreeConvertOptions t = tree_options(option, mode, convert, file.get());
    if (files) t.file_names = *files;
    return convert_tree(forest->roots.front(), t);
}

PyObject* loads_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* data = nullptr;
    PyObject* kw[kLoadsArgCount];
    if (!bind_arguments(kLoadsSig, args, nargs, kwnames, &data, kw)) return nullptr;
    auto option = read_u64(kw[kOption], "loads", "option");
    if (!option) return nullptr;
    if (!check_path_argument(kw[kIncludeDir], "include_dir") ||
        !check_path_argument(kw[kRootPath], "root_path"))
        return nullptr;

    auto input = read_input_text(data);
    if (!input) return raise(input.error());
    const std::string_view text = input->view();
    auto schema = choose_schema(kw[kSchema], kw[kSchemaResolver], text, *option);
    if (!schema) return nullptr;
    ModeChoice mode = choose_mode(*option, sniff_version(text));
    if (!check_tags(kw[kTags])) return nullptr;

    if (*option & opt::ROUND_TRIP) {
        if ((*option & opt::NULL_AS_KEYWORD) && (*option & opt::NULL_AS_TILDE))
            return raise(Error::argument(
                "OPT_NULL_AS_KEYWORD and OPT_NULL_AS_TILDE are mutually exclusive"));
        const bool directives = *option & kDirectiveBits;
        if (!directives && !schema->schema)
            return load_document(std::move(*input).take(), *option, mode);
        const DirectiveCall call{*option, kw[kIncludeDir], kw[kRootPath], kw[kOnMissingSecret],
                                 kw[kOnMissingEnvVar]};
        return load_document(std::move(*input).take(), *option, mode, [&](DocumentState& state) {
            // Include boundaries (`source`) and the file table stay in the
            // document, for writing edits back to the files they came from.
            if (directives) {
                auto outcome = resolve_for_loads(state.forest, call);
                if (!outcome) return false;
                state.files = std::move(outcome->files);
            }
            // A schema given for a document to edit is checked as for any
            // other load, rather than ignored.
            const SyntaxForest& forest = state.forest;
            return !schema->schema || forest.roots.empty() ||
                   check_schema(schema->call(), forest.roots.front(), forest.has_aliases,
                                mode.mode);
        });
    }
    if (*option & kConfigBits)
        return loads_config(text, mode, *schema,
                            convert_options(kw[kTags], kw[kTagHandler], *option),
                            DirectiveCall{*option, kw[kIncludeDir], kw[kRootPath],
                                          kw[kOnMissingSecret], kw[kOnMissingEnvVar]});
    return loads_plain(text, *option, mode, *schema,
                       convert_options(kw[kTags], kw[kTagHandler], *option));
}

// Every document of the stream, annotated; empty explicit documents are None.
PyObject* loads_all_annotated(std::string_view text, std::uint64_t option, const ModeChoice& mode,
                              const ConvertOptions& convert) {
    ComposeChecks reading;
    reading.keep_comments = false;
    auto forest = compose_text(text, 0, /*keep_empty=*/true, reading);
    if (!forest) return raise(forest.error());
    // The decode before this one has logged the warnings; only the upgrade
    // rewrite is wanted from the checks here.
    TreeCheckOptions checks = tree_check_options(option, mode);
    checks.warn_1_1 = checks.duplicate_keys_warn = checks.duplicate_keys_error = false;
    Warnings ignored;
    if (auto st = check_tree(*forest, checks, ignored); !st) return raise(st.error());
    Ref file = root_file_name(nullptr, nullptr);
    if (!file) return nullptr;
    const TreeConvertOptions t = tree_options(option, mode, convert, file.get());
    Ref list(PyList_New(static_cast<Py_ssize_t>(forest->roots.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < forest->roots.size(); ++i) {
        PyObject* doc = convert_tree(forest->roots[i], t);
        if (!doc) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), doc);
    }
    return list.release();
}

PyObject* loads_all_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* data = nullptr;
    PyObject* kw[kLoadsAllArgCount];
    if (!bind_arguments(kLoadsAllSig, args, nargs, kwnames, &data, kw)) return nullptr;
    auto option = read_u64(kw[kAllOption], "loads_all", "option");
    if (!option) return nullptr;
    auto input = read_input_text(data);
    if (!input) return raise(input.error());
    const std::string_view text = input->view();
    if (*option & (opt::ROUND_TRIP | opt::INCLUDES | opt::SECRETS | opt::ENV_VAR))
        return raise(
            Error::argument("loads_all() does not support OPT_INCLUDES, OPT_SECRETS, OPT_ENV_VAR, "
                            "or OPT_ROUND_TRIP; use loads() "
                            "for include resolution and round-trip editing"));
    ModeChoice mode = choose_mode(*option, sniff_version(text));
    if (!check_tags(kw[kAllTags])) return nullptr;
    auto decoded = decode_released(text, decode_options(*option, mode));
    if (!decoded) return raise(decoded.error());
    log_warnings(decoded->warnings);
    ConvertOptions convert = convert_options(kw[kAllTags], kw[kAllTagHandler], *option);
    convert.source = text;
    if (*option & opt::ANNOTATED) return loads_all_annotated(text, *option, mode, convert);
    Ref list(PyList_New(static_cast<Py_ssize_t>(decoded->documents.size())));
    if (!list) return nullptr;
    for (std::size_t i = 0; i < decoded->documents.size(); ++i) {
        PyObject* doc = convert_document(decoded->documents[i], convert);
        if (!doc) return nullptr;
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), doc);
    }
    drop_released(decoded);
    return list.release();
}

// The single `data` argument of yaml_version and schema_ref, as text.
std::optional<std::string> single_text_argument(const Signature& sig, PyObject* const* args,
                                                Py_ssize_t nargs, PyObject* kwnames) {
    PyObject* data = nullptr;
    if (!bind_arguments(sig, args, nargs, kwnames, &data, nullptr)) return std::nullopt;
    auto text = read_input_text(data);
    if (!text) {
        raise(text.error());
        return std::nullopt;
    }
    return std::move(*text).take();
}

PyObject* yaml_version_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    auto text = single_text_argument(kYamlVersionSig, args, nargs, kwnames);
    if (!text) return nullptr;
    auto version = sniff_version(*text);
    if (!version) Py_RETURN_NONE;
    std::string formatted = std::to_string(version->major) + "." + std::to_string(version->minor);
    return str_from_utf8(formatted).release();
}

PyObject* schema_ref_body(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    auto text = single_text_argument(kSchemaRefSig, args, nargs, kwnames);
    if (!text) return nullptr;
    auto ref = find_schema_ref(*text);
    if (!ref) Py_RETURN_NONE;
    return str_from_utf8(*ref).release();
}

}  // namespace

PyObject* loads(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] { return loads_body(args, nargs, kwnames); });
}

PyObject* loads_all(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] { return loads_all_body(args, nargs, kwnames); });
}

PyObject* yaml_version(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] { return yaml_version_body(args, nargs, kwnames); });
}

PyObject* schema_ref(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&] { return schema_ref_body(args, nargs, kwnames); });
}

}  // namespace quarvel::py
