#include "pyutil/errors.hpp"

#include <atomic>
#include <exception>
#include <new>
#include <string>

#include "pyutil/py_ref.hpp"
#include "support/stack.hpp"

namespace quarvel::py {
namespace {

constexpr const char* kClassNames[] = {
    "QuarvelParseError",           "QuarvelDecodeError",
    "QuarvelEncodeError",          "QuarvelEnvVarError",
    "QuarvelSchemaError",          "QuarvelIncludeError",
    "QuarvelComplexKeyError",      "QuarvelDuplicateKeyError",
    "QuarvelIncludeDepthError",    "QuarvelSecretNotFoundError",
    "QuarvelUnserializableError",  "QuarvelCircularIncludeError",
    "QuarvelIncludeNotFoundError", "QuarvelIncludeConfinementError",
};
constexpr int kClassCount = sizeof(kClassNames) / sizeof(kClassNames[0]);

// Where every internal fault ends: SystemError with the fault's message. A C
// string, so that the trap for escaped C++ exceptions needs no allocation.
PyObject* raise_internal(const char* message) noexcept {
    PyErr_SetString(PyExc_SystemError, message);
    return nullptr;
}

// Once-only cells: a racing thread's value is simply discarded.
std::atomic<PyObject*> g_classes[kClassCount];

PyObject* load_class(const char* name) {
    Ref module(PyImport_ImportModule("quarvel.exceptions"));
    Ref cls;
    if (module) cls = Ref(PyObject_GetAttrString(module.get(), name));
    if (!cls || !PyType_Check(cls.get())) {
        PyErr_Clear();
        return raise(
            Error::internal(std::string("failed to import exception quarvel.exceptions.") + name));
    }
    return cls.release();
}

ExcClass syntax_class(int selector) {
    switch (selector) {
        case syntax_kind::duplicate_key:
            return ExcClass::DuplicateKeyError;
        case syntax_kind::complex_key:
            return ExcClass::ComplexKeyError;
        default:
            return ExcClass::ParseError;
    }
}

ExcClass directive_class(int selector) {
    switch (selector) {
        case directive_kind::include_not_found:
            return ExcClass::IncludeNotFoundError;
        case directive_kind::circular_include:
            return ExcClass::CircularIncludeError;
        case directive_kind::include_depth:
            return ExcClass::IncludeDepthError;
        case directive_kind::include_confinement:
            return ExcClass::IncludeConfinementError;
        case directive_kind::secret_not_found:
            return ExcClass::SecretNotFoundError;
        case directive_kind::env_var:
            return ExcClass::EnvVarError;
        default:
            return ExcClass::IncludeError;
    }
}

ExcClass conversion_class(int selector) {
    switch (selector) {
        case conversion_kind::encode:
            return ExcClass::EncodeError;
        case conversion_kind::unserializable:
            return ExcClass::UnserializableError;
        default:
            return ExcClass::DecodeError;
    }
}

std::string position_suffix(const Error& e) {
    return " at line " + std::to_string(std::uint64_t(e.line) + 1) + ", column " +
           std::to_string(std::uint64_t(e.column) + 1);
}

// Attribute failures never stop the exception from being raised.
void set_attr(PyObject* exc, const char* name, Ref value) {
    if (!value || PyObject_SetAttrString(exc, name, value.get()) < 0) PyErr_Clear();
}

Ref optional_str(const std::optional<std::string>& s) {
    if (!s) return Ref::borrow(Py_None);
    return Ref(PyUnicode_DecodeFSDefaultAndSize(s->data(), static_cast<Py_ssize_t>(s->size())));
}

Ref path_str(const std::string& s) {
    return Ref(PyUnicode_DecodeFSDefaultAndSize(s.data(), static_cast<Py_ssize_t>(s.size())));
}

Ref one_based(std::uint32_t v) {
    return Ref(PyLong_FromUnsignedLongLong(std::uint64_t(v) + 1));
}

Ref include_stack_list(const Error& e) {
    Ref list(PyList_New(0));
    if (!list) return list;
    for (const auto& frame : e.include_stack) {
        Ref item(Py_BuildValue("(NK)", path_str(frame.path).release(),
                               static_cast<unsigned long long>(frame.line) + 1));
        if (!item || PyList_Append(list.get(), item.get()) < 0) return Ref();
    }
    return list;
}

namespace {

// How a note reads under its message: "the '[' at line 1, column 8 is never closed".
Ref note_text(const ErrorNote& note) {
    return str_from_utf8(note.subject + " at line " + std::to_string(std::uint64_t(note.line) + 1) +
                         ", column " + std::to_string(std::uint64_t(note.column) + 1) + " " +
                         note.remark);
}

}  // namespace

// Each note of the error as a note of the exception (shown under its
// message in a traceback): its text and where it points.
void add_notes(PyObject* exc, const Error& e) {
    for (const ErrorNote& note : e.notes) {
        Ref shown = note_text(note);
        Ref done(shown ? PyObject_CallMethod(exc, "add_note", "O", shown.get()) : nullptr);
        if (!done) PyErr_Clear();  // a note is never worth losing the error for
    }
}

std::string directive_message(const Error& e) {
    std::string m = e.message + " in " + e.file.value_or(std::string());
    for (const auto& frame : e.include_stack)
        m += "\n  included from " + frame.path + ", line " +
             std::to_string(std::uint64_t(frame.line) + 1);
    return m;
}

// Builds and sets an instance of `cls` with `message`, then its attributes.
template <class SetAttrs>
PyObject* raise_instance(ExcClass which, const std::string& message, SetAttrs set_attrs) {
    PyObject* cls = exception_class(which);
    if (!cls) return nullptr;
    Ref text = str_from_utf8(message);
    if (!text) return nullptr;
    Ref exc(PyObject_CallOneArg(cls, text.get()));
    if (!exc) return nullptr;
    set_attrs(exc.get());
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(exc.get())), exc.get());
    return nullptr;
}

}  // namespace

PyObject* exception_class(ExcClass which) {
    const char* name = kClassNames[static_cast<int>(which)];
    return once_object(g_classes[static_cast<int>(which)], [name] { return load_class(name); });
}

PyObject* raise_unplaced(const Error& e) {
    return raise_instance(directive_class(e.selector), e.message, [&](PyObject* x) {
        if (e.file) set_attr(x, "file", path_str(*e.file));
    });
}

PyObject* raise(const Error& e) {
    switch (e.family) {
        case ErrorFamily::Python:
            if (PyErr_Occurred()) return nullptr;
            return raise_internal("error reported without an exception");
        case ErrorFamily::Internal:
            return raise_internal(e.message.c_str());
        case ErrorFamily::Memory:
            PyErr_SetString(PyExc_MemoryError, e.message.c_str());
            return nullptr;
        case ErrorFamily::Argument: {
            PyObject* cls =
                e.selector == argument_kind::type_error ? PyExc_TypeError : PyExc_ValueError;
            Ref text = str_from_utf8(e.message);
            if (text) PyErr_SetObject(cls, text.get());
            return nullptr;
        }
        case ErrorFamily::Conversion:
            return raise_instance(conversion_class(e.selector), e.message, [](PyObject*) {});
        case ErrorFamily::Syntax:
            return raise_instance(syntax_class(e.selector), e.message + position_suffix(e),
                                  [&](PyObject* x) {
                                      set_attr(x, "file", optional_str(e.file));
                                      set_attr(x, "line", one_based(e.line));
                                      set_attr(x, "column", one_based(e.column));
                                      add_notes(x, e);
                                  });
        case ErrorFamily::Directive:
            return raise_instance(directive_class(e.selector), directive_message(e),
                                  [&](PyObject* x) {
                                      set_attr(x, "file", path_str(e.file.value_or(std::string())));
                                      if (e.has_position) {
                                          set_attr(x, "line", one_based(e.line));
                                          set_attr(x, "column", one_based(e.column));
                                      }
                                      if (e.selector != directive_kind::secret_not_found &&
                                          e.selector != directive_kind::env_var)
                                          set_attr(x, "include_stack", include_stack_list(e));
                                  });
        case ErrorFamily::Schema: {
            // A schema that cannot be used (no node of the document at fault).
            if (!e.has_position)
                return raise_instance(ExcClass::SchemaError, e.message, [&](PyObject* x) {
                    set_attr(x, "schema_path", str_from_utf8(""));
                });
            std::string message = "schema validation failed: " + e.message + " at " +
                                  e.schema_path + " (line " +
                                  std::to_string(std::uint64_t(e.line) + 1) + ", column " +
                                  std::to_string(std::uint64_t(e.column) + 1) + ")";
            return raise_instance(ExcClass::SchemaError, message, [&](PyObject* x) {
                set_attr(x, "schema_path", str_from_utf8(e.schema_path));
                set_attr(x, "line", one_based(e.line));
                set_attr(x, "column", one_based(e.column));
            });
        }
    }
    return nullptr;
}

namespace {

// One warning through the logger. Its notes travel as the record's
// `quarvel_notes` attribute (texts as under an exception's message), so a
// handler can show where they point while the message stays as it is.
Ref log_warning(PyObject* logger, PyObject* message, const std::vector<ErrorNote>& notes) {
    if (notes.empty()) return Ref(PyObject_CallMethod(logger, "warning", "O", message));
    Ref list(PyList_New(0));
    if (!list) return Ref();
    for (const ErrorNote& note : notes) {
        Ref text = note_text(note);
        if (!text || PyList_Append(list.get(), text.get()) < 0) return Ref();
    }
    Ref extra(Py_BuildValue("{sO}", "quarvel_notes", list.get()));
    Ref method(PyObject_GetAttrString(logger, "warning"));
    Ref args(PyTuple_Pack(1, message));
    Ref kwargs(extra ? Py_BuildValue("{sO}", "extra", extra.get()) : nullptr);
    if (!method || !args || !kwargs) return Ref();
    return Ref(PyObject_Call(method.get(), args.get(), kwargs.get()));
}

}  // namespace

void log_warnings(const Warnings& warnings) {
    if (warnings.empty()) return;
    SavedException keep;  // a warning never disturbs the caller's exception state
    Ref logging(PyImport_ImportModule("logging"));
    Ref logger =
        logging ? Ref(PyObject_CallMethod(logging.get(), "getLogger", "s", "quarvel")) : Ref();
    if (!logger) {
        PyErr_Clear();
        return;
    }
    for (const Warning& warning : warnings) {
        Ref message = str_from_utf8(warning.text);
        Ref result = message ? log_warning(logger.get(), message.get(), warning.notes) : Ref();
        if (!result) PyErr_Clear();
    }
}

PyObject* raise_stack_exhausted(PyObject* result) noexcept {
    Py_XDECREF(result);
    PyErr_Clear();  // whatever a stage raised after running short of stack is a consequence
    try {
        return raise(stack_exhausted_error());
    } catch (...) {
        return PyErr_NoMemory();
    }
}

PyObject* raise_internal_fault() noexcept {
    try {
        throw;
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (...) {
        raise_internal("uncaught panic at ffi boundary");
    }
    return nullptr;
}

}  // namespace quarvel::py
