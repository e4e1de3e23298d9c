#include "ffi/schema_check.hpp"

#include <algorithm>
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ffi/convert/encode.hpp"
#include "pyutil/errors.hpp"
#include "pyutil/py_ref.hpp"
#include "schema/validate.hpp"
#include "support/stack.hpp"
#include "syntax/compose.hpp"
#include "value/value_identity.hpp"

namespace quarvel::py {
namespace {

std::atomic<PyObject*> g_violation_type;

// quarvel.exceptions.SchemaViolation, the record type of `errors`.
PyObject* violation_type() {
    return once_object(g_violation_type, []() -> PyObject* {
        Ref module(PyImport_ImportModule("quarvel.exceptions"));
        return module ? PyObject_GetAttrString(module.get(), "SchemaViolation") : nullptr;
    });
}

Ref violation_record(PyObject* type, const SchemaViolation& v) {
    Ref message = str_from_utf8(v.message);
    Ref path = str_from_utf8(v.path);
    Ref schema_path = str_from_utf8(v.schema_path);
    if (!message || !path || !schema_path) return {};
    return Ref(PyObject_CallFunction(
        type, "OOKKO", message.get(), path.get(), static_cast<unsigned long long>(v.line) + 1,
        static_cast<unsigned long long>(v.column) + 1, schema_path.get()));
}

Ref violation_list(const std::vector<SchemaViolation>& violations) {
    PyObject* type = violation_type();
    if (!type) return {};
    Ref list(PyList_New(static_cast<Py_ssize_t>(violations.size())));
    if (!list) return {};
    for (std::size_t i = 0; i < violations.size(); ++i) {
        Ref record = violation_record(type, violations[i]);
        if (!record) return {};
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), record.release());
    }
    return list;
}

// Sets `errors` on the exception just raised. Like the other attributes, a
// failure to build it leaves the exception as it is, without the attribute.
void set_errors(PyObject* exc, const std::vector<SchemaViolation>& violations) {
    Ref list = violation_list(violations);
    if (!list || PyObject_SetAttrString(exc, "errors", list.get()) < 0) PyErr_Clear();
}

void attach_errors(const std::vector<SchemaViolation>& violations) {
#if PY_VERSION_HEX >= 0x030C0000
    PyObject* exc = PyErr_GetRaisedException();
    if (exc) set_errors(exc, violations);
    PyErr_SetRaisedException(exc);
#else
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (value) set_errors(value, violations);
    PyErr_Restore(type, value, traceback);
#endif
}

// A Python object as a value tree, with the storage its texts view.
struct EncodedValue {
    EncodeStorage storage;
    YamlValue value;  // declared after `storage`: dropped before it

    Result<const YamlValue*> encode(PyObject* object) {
        EncodeContext context;
        context.storage = &storage;
        context.share_repeated = true;
        auto encoded = encode_object(object, context);
        if (!encoded) return fail(encoded.error());
        value = std::move(*encoded);
        return &value;
    }
};

Error schema_fault(std::string message) {
    Error e;
    e.family = ErrorFamily::Schema;
    e.message = std::move(message);
    return e;
}

// Other documents a schema refers to, from the caller's schema_resolver,
// encoded as the schema is; they live as long as the rules that point in.
class ResolverFetcher final : public SchemaFetcher {
  public:
    explicit ResolverFetcher(PyObject* resolver) : resolver_(resolver) {}

    Result<const YamlValue*> fetch(const std::string& uri) override {
        asked_ = true;
        Ref text = str_from_utf8(uri);
        if (!text) return fail(Error::python_raised());
        Ref result(PyObject_CallOneArg(resolver_, text.get()));
        if (!result) return fail(Error::python_raised());
        if (result.get() == Py_None)
            return fail(
                schema_fault("the schema refers to '" + uri +
                             "', which schema_resolver did not provide (it returned None)"));
        return documents_.emplace_back().encode(result.get());
    }

    // Whether reading the schema asked for any other document.
    bool asked() const { return asked_; }

  private:
    PyObject* resolver_;
    std::deque<EncodedValue> documents_;
    bool asked_ = false;
};

// An error that is not a violation; a schema fault gets an empty `errors`,
// so that every QuarvelSchemaError can be asked for it.
bool raise_fault(const Error& e) {
    raise(e);
    if (e.family == ErrorFamily::Schema) attach_errors({});
    return false;
}

// Schemas read into rules, kept for the loads that follow: a program that
// loads many documents against one schema reads it once. A schema is found
// again by its encoding, compared to the last bit with the kept copy (so a
// schema object changed in place since is read anew). Only rules read
// without asking schema_resolver for another document are kept: those
// depend on the schema alone, while the resolver's answers may change. The
// copy owns its texts, so the cache holds no Python object. The most recent
// few are kept.
struct CachedSchema {
    Arena arena;
    YamlValue value;  // the schema as encoded, copied into `arena`
    bool assert_formats = false;
    std::unique_ptr<CompiledSchema> rules;
};

class SchemaCache {
  public:
    std::shared_ptr<const CachedSchema> find(const YamlValue& schema, bool assert_formats) {
        const std::lock_guard<std::mutex> lock(mutex_);
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if ((*it)->assert_formats != assert_formats || !identical_values((*it)->value, schema))
                continue;
            std::rotate(entries_.begin(), it, it + 1);  // most recent first
            return entries_.front();
        }
        return nullptr;
    }

    void add(std::shared_ptr<const CachedSchema> entry) {
        const std::lock_guard<std::mutex> lock(mutex_);
        if (entries_.size() == kKept) entries_.pop_back();
        entries_.insert(entries_.begin(), std::move(entry));
    }

  private:
    static constexpr std::size_t kKept = 8;
    std::mutex mutex_;
    std::vector<std::shared_ptr<const CachedSchema>> entries_;
};

SchemaCache& schema_cache() {
    static auto* cache = new SchemaCache();  // never destroyed: it outlives every load
    return *cache;
}

// The schema object encoded and read into rules, or found in the cache.
struct PreparedSchema {
    EncodedValue encoded;
    std::unique_ptr<ResolverFetcher> fetcher;  // the other documents `read` points into
    std::shared_ptr<const CachedSchema> read;
    const CompiledSchema* rules = nullptr;

    // False with the exception set: the encoder's, the resolver's, or a
    // QuarvelSchemaError for a schema that cannot be used.
    bool prepare(const SchemaCall& call) {
        auto value = encoded.encode(call.schema);
        if (!value) return raise_fault(value.error());
        if ((read = schema_cache().find(**value, call.assert_formats))) {
            rules = read->rules.get();
            return true;
        }
        if (stack_exhausted()) return raise_fault(stack_exhausted_error());
        auto entry = std::make_shared<CachedSchema>();
        const std::optional<YamlValue> copy = copy_value(entry->arena, **value);
        if (!copy) return raise_fault(stack_exhausted_error());
        entry->value = *copy;
        entry->assert_formats = call.assert_formats;
        if (call.resolver) fetcher = std::make_unique<ResolverFetcher>(call.resolver);
        auto compiled = CompiledSchema::compile(entry->value, fetcher.get(),
                                                SchemaOptions{call.assert_formats});
        if (!compiled) return raise_fault(compiled.error());
        entry->rules = std::move(*compiled);
        rules = entry->rules.get();
        if (!fetcher || !fetcher->asked()) schema_cache().add(entry);
        read = std::move(entry);
        return true;
    }
};

bool validate(const PreparedSchema& schema, const YamlNode& root, bool has_aliases,
              ResolverMode mode) {
    auto violations = validate_document(root, has_aliases, *schema.rules, mode);
    if (!violations) return raise_fault(violations.error());
    if (violations->empty()) return true;
    raise(schema_violation_error(violations->front()));
    attach_errors(*violations);
    return false;
}

}  // namespace

bool check_schema(const SchemaCall& call, const YamlNode& root, bool has_aliases,
                  ResolverMode mode) {
    PreparedSchema prepared;
    return prepared.prepare(call) && validate(prepared, root, has_aliases, mode);
}

bool check_schema_of_text(const SchemaCall& call, std::string_view text, const YamlValue& document,
                          ResolverMode mode) {
    PreparedSchema prepared;
    if (!prepared.prepare(call)) return false;
    // A valid document is told from the value tree alone; the syntax tree,
    // with the positions messages need, is composed only when it is not.
    if (quick_verdict(text, document, *prepared.rules, mode) == true) return true;
    auto forest = compose_text(text, 0, /*keep_empty=*/true);
    if (!forest) {
        raise(forest.error());
        return false;
    }
    if (forest->roots.empty()) return true;
    return validate(prepared, forest->roots.front(), forest->has_aliases, mode);
}

}  // namespace quarvel::py
