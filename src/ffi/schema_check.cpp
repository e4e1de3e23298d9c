#include "ffi/schema_check.hpp"

#include <atomic>
#include <string>
#include <vector>

#include "ffi/convert/encode.hpp"
#include "pyutil/errors.hpp"
#include "pyutil/py_ref.hpp"
#include "schema/validate.hpp"
#include "syntax/compose.hpp"

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
    if (!message || !path) return {};
    return Ref(PyObject_CallFunction(type, "OOKK", message.get(), path.get(),
                                     static_cast<unsigned long long>(v.line) + 1,
                                     static_cast<unsigned long long>(v.column) + 1));
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

// The schema object as a value tree, with the storage its texts view.
struct EncodedSchema {
    EncodeStorage storage;
    YamlValue value;  // declared after `storage`: dropped before it

    // False with the encoder's exception set.
    bool encode(PyObject* schema) {
        EncodeContext context;
        context.storage = &storage;
        context.share_repeated = true;
        auto encoded = encode_object(schema, context);
        if (!encoded) {
            raise(encoded.error());
            return false;
        }
        value = std::move(*encoded);
        return true;
    }
};

bool validate(const EncodedSchema& schema, const YamlNode& root, bool has_aliases,
              ResolverMode mode) {
    auto violations = validate_document(root, has_aliases, schema.value, mode);
    if (!violations) {
        raise(violations.error());
        return false;
    }
    if (violations->empty()) return true;
    raise(schema_violation_error(violations->front()));
    attach_errors(*violations);
    return false;
}

}  // namespace

bool check_schema(PyObject* schema, const YamlNode& root, bool has_aliases, ResolverMode mode) {
    EncodedSchema encoded;
    return encoded.encode(schema) && validate(encoded, root, has_aliases, mode);
}

bool check_schema_of_text(PyObject* schema, std::string_view text, const YamlValue& document,
                          ResolverMode mode) {
    EncodedSchema encoded;
    if (!encoded.encode(schema)) return false;
    // A valid document is told from the value tree alone; the syntax tree,
    // with the positions messages need, is composed only when it is not.
    if (quick_verdict(text, document, encoded.value, mode) == true) return true;
    auto forest = compose_text(text, 0, /*keep_empty=*/true);
    if (!forest) {
        raise(forest.error());
        return false;
    }
    if (forest->roots.empty()) return true;
    return validate(encoded, forest->roots.front(), forest->has_aliases, mode);
}

}  // namespace quarvel::py
