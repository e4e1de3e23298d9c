#include "ffi/directive_frame.hpp"

#include <string>
#include <utility>

#include "decode/decoder.hpp"
#include "pyutil/errors.hpp"
#include "resolver/resolver.hpp"
#include "scanner/prologue.hpp"
#include "support/options.hpp"

namespace quarvel::py {
namespace {

// A path argument as the file system's bytes; "." when absent.
std::optional<std::string> fs_bytes(PyObject* value) {
    if (!value) return std::string(".");
    Ref path(PyOS_FSPath(value));
    if (!path) return std::nullopt;
    Ref bytes;
    if (PyBytes_Check(path.get())) {
        bytes = std::move(path);
    } else {
        bytes = Ref(PyUnicode_EncodeFSDefault(path.get()));
        if (!bytes) return std::nullopt;
    }
    return std::string(PyBytes_AS_STRING(bytes.get()),
                       static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
}

// root_path, or the include directory joined with "<root>" (as os.path.join).
std::optional<std::string> root_file(const DirectiveCall& call, const std::string& dir) {
    if (call.root_path) return fs_bytes(call.root_path);
    if (dir.empty()) return std::string("<root>");
    return dir.back() == '/' ? dir + "<root>" : dir + "/<root>";
}

// Callbacks first, then the warning, for each missing name in order.
bool report(const std::vector<MissingValue>& missing, PyObject* callback, bool warn,
            const char* what_prefix, const char* what_suffix) {
    for (const MissingValue& m : missing) {
        if (callback) {
            Ref name = str_from_utf8(m.name);
            Ref file(PyUnicode_DecodeFSDefaultAndSize(m.file.data(),
                                                      static_cast<Py_ssize_t>(m.file.size())));
            Ref line(PyLong_FromUnsignedLongLong(std::uint64_t{m.line} + 1));
            if (!name || !file || !line) return false;
            Ref done(PyObject_CallFunctionObjArgs(callback, name.get(), file.get(), line.get(),
                                                  nullptr));
            if (!done) return false;
        }
        if (warn)
            log_warnings({what_prefix + m.name + what_suffix + m.file + ":" +
                          std::to_string(std::uint64_t{m.line} + 1)});
    }
    return true;
}

// Syntax faults and complex keys in included texts surface as they would in
// the root text, naming the file; the plain decoder runs without the lock,
// over the texts strict composition could not vouch for.
bool check_included(const FileTable& table, std::uint64_t option) {
    for (std::size_t i = 1; i < table.files.size(); ++i) {
        const SourceFile& f = table.files[i];
        if (!f.recheck) continue;
        const ModeChoice mode = choose_mode(option, sniff_version(*f.text));
        DecodeOptions d;
        d.mode = mode.mode;
        d.reject_complex_keys = option & opt::REJECT_COMPLEX_KEYS;
        Result<DecodedStream> decoded = [&] {
            AllowThreads unlocked;
            return decode(*f.text, d);
        }();
        if (!decoded) {
            Error e = std::move(decoded.error());
            e.file = f.path;
            raise(e);
            return false;
        }
        AllowThreads unlocked;
        DecodedStream dropped = std::move(*decoded);
    }
    return true;
}

}  // namespace

std::optional<DirectiveInput> directive_input(const DirectiveCall& call) {
    DirectiveInput input;
    auto dir = fs_bytes(call.include_dir);
    if (!dir) return std::nullopt;
    auto root = root_file(call, *dir);
    if (!root) return std::nullopt;
    input.include_dir = std::move(*dir);
    input.root_file = std::move(*root);
    const std::uint64_t o = call.option;
    input.options.includes = o & opt::INCLUDES;
    input.options.secrets = o & opt::SECRETS;
    input.options.env_vars = o & opt::ENV_VAR;
    input.options.recursive_dirs = o & opt::INCLUDE_DIR_RECURSIVE;
    input.options.soft_secrets = call.on_missing_secret || (o & opt::SECRET_NOT_FOUND_WARN);
    input.options.soft_env_vars = call.on_missing_env_var || (o & opt::ENV_VAR_NOT_FOUND_WARN);
    // Loading composes included files as strictly as the root text; a
    // document to edit reads them leniently unless complex keys are refused.
    input.options.strict =
        !(o & opt::ROUND_TRIP) || (o & (opt::ANNOTATED | opt::REJECT_COMPLEX_KEYS));
    input.options.reject_complex_keys = o & opt::REJECT_COMPLEX_KEYS;
    input.options.keep_comments = o & opt::ROUND_TRIP;
    // Files read ahead touch no Python object: other threads run meanwhile.
    input.while_reading = [](void (*work)(void*), void* arg) {
        AllowThreads unlocked;
        work(arg);
    };
    return input;
}

std::optional<DirectiveOutcome> resolve_for_loads(SyntaxForest& forest, const DirectiveCall& call) {
    const auto input = directive_input(call);
    if (!input) return std::nullopt;
    const std::uint64_t o = call.option;
    // The lock stays held, but while a directory walk reads ahead: the
    // environment is read here, and another thread may change it only
    // through the interpreter.
    auto fs = posix_file_system();
    auto outcome = resolve_directives(forest, *input, *fs, process_environment());
    if (!outcome) {
        raise(outcome.error());
        return std::nullopt;
    }
    log_warnings(outcome->warnings);
    if (!report(outcome->missing_secrets, call.on_missing_secret, o & opt::SECRET_NOT_FOUND_WARN,
                "secret '", "' is not defined in any secrets.yaml at ") ||
        !report(outcome->missing_env_vars, call.on_missing_env_var, o & opt::ENV_VAR_NOT_FOUND_WARN,
                "environment variable '", "' is not defined at "))
        return std::nullopt;
    outcome->missing_secrets.clear();
    outcome->missing_env_vars.clear();
    if (input->options.strict && !check_included(outcome->files, o)) return std::nullopt;
    return std::move(*outcome);
}

std::optional<std::vector<Ref>> file_names(const FileTable& table) {
    std::vector<Ref> names;
    names.reserve(table.files.size());
    for (const SourceFile& f : table.files) {
        Ref name(PyUnicode_DecodeFSDefaultAndSize(f.path.data(),
                                                  static_cast<Py_ssize_t>(f.path.size())));
        if (!name) return std::nullopt;
        names.push_back(std::move(name));
    }
    return names;
}

}  // namespace quarvel::py
