// Module initialisation: functions, option constants, classes and __all__.
#include <exception>

#include "ffi/annotated.hpp"
#include "ffi/functions.hpp"
#include "ffi/roundtrip/api.hpp"
#include "ffi/types.hpp"
#include "pyutil/errors.hpp"
#include "pyutil/py_ref.hpp"
#include "pyutil/stack_protection.hpp"
#include "support/options.hpp"

namespace quarvel::py {
namespace {

#define QUARVEL_FN(name, sig)                                                  \
    {#name, reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(name)), \
     METH_FASTCALL | METH_KEYWORDS, sig "\n--\n\n"}

PyMethodDef module_functions[] = {
    QUARVEL_FN(
        loads,
        "loads(data, /, *, option=None, include_dir=None, schema=None, schema_resolver=None, "
        "tag_handler=None, tags=None, root_path=None, on_missing_secret=None, "
        "on_missing_env_var=None)"),
    QUARVEL_FN(loads_all, "loads_all(data, /, *, option=None, tag_handler=None, tags=None)"),
    QUARVEL_FN(
        dumps,
        "dumps(obj, /, *, default=None, option=None, null_style=None, tags=None, width=None)"),
    QUARVEL_FN(to_json, "to_json(obj, /, *, default=None, option=None)"),
    QUARVEL_FN(schema_ref, "schema_ref(data, /)"),
    QUARVEL_FN(yaml_version, "yaml_version(data, /)"),
    QUARVEL_FN(dump_includes, "dump_includes(doc, /, *, include_dir=None)"),
    QUARVEL_FN(dump_includes_map, "dump_includes_map(doc, /)"),
    {"_read_confined", read_confined_file, METH_VARARGS,
     "_read_confined(root, name, max_bytes, /)\n--\n\n"},
    {"_write_confined", write_confined_file, METH_VARARGS,
     "_write_confined(root, name, data, /)\n--\n\n"},
    {"_annotated_scalar_class", annotated_scalar_class, METH_VARARGS,
     "_annotated_scalar_class(name, mixin, doc, /)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

#undef QUARVEL_FN

struct Constant {
    const char* name;
    unsigned long long value;
};

constexpr Constant option_constants[] = {
    {"OPT_YAML_1_1", opt::YAML_1_1},
    {"OPT_PYYAML_COMPAT", opt::PYYAML_COMPAT},
    {"OPT_UPGRADE_1_1", opt::UPGRADE_1_1},
    {"OPT_YAML_1_1_WARN", opt::YAML_1_1_WARN},
    {"OPT_ROUND_TRIP", opt::ROUND_TRIP},
    {"OPT_ANNOTATED", opt::ANNOTATED},
    {"OPT_ANNOTATE_NUMBERS", opt::ANNOTATE_NUMBERS},
    {"OPT_INCLUDES", opt::INCLUDES},
    {"OPT_INCLUDE_DIR_RECURSIVE", opt::INCLUDE_DIR_RECURSIVE},
    {"OPT_SECRETS", opt::SECRETS},
    {"OPT_ENV_VAR", opt::ENV_VAR},
    {"OPT_SECRET_NOT_FOUND_WARN", opt::SECRET_NOT_FOUND_WARN},
    {"OPT_ENV_VAR_NOT_FOUND_WARN", opt::ENV_VAR_NOT_FOUND_WARN},
    {"OPT_PASSTHROUGH_TAG", opt::PASSTHROUGH_TAG},
    {"OPT_DUPLICATE_KEYS_ERROR", opt::DUPLICATE_KEYS_ERROR},
    {"OPT_DUPLICATE_KEYS_WARN", opt::DUPLICATE_KEYS_WARN},
    {"OPT_REJECT_COMPLEX_KEYS", opt::REJECT_COMPLEX_KEYS},
    {"OPT_INDENT_2", opt::INDENT_2},
    {"OPT_INDENT_4", opt::INDENT_4},
    {"OPT_INDENTLESS_SEQUENCES", opt::INDENTLESS_SEQUENCES},
    {"OPT_FLOW_STYLE", opt::FLOW_STYLE},
    {"OPT_SORT_KEYS", opt::SORT_KEYS},
    {"OPT_EXPLICIT_START", opt::EXPLICIT_START},
    {"OPT_EXPLICIT_END", opt::EXPLICIT_END},
    {"OPT_SINGLE_QUOTES", opt::SINGLE_QUOTES},
    {"OPT_NULL_AS_KEYWORD", opt::NULL_AS_KEYWORD},
    {"OPT_NULL_AS_TILDE", opt::NULL_AS_TILDE},
    {"OPT_SERIALIZE_NUMPY", opt::SERIALIZE_NUMPY},
    {"OPT_PASSTHROUGH_DATETIME", opt::PASSTHROUGH_DATETIME},
    {"OPT_PASSTHROUGH_DATACLASS", opt::PASSTHROUGH_DATACLASS},
    {"OPT_OMIT_MICROSECONDS", opt::OMIT_MICROSECONDS},
    {"OPT_NAIVE_UTC", opt::NAIVE_UTC},
    {"OPT_UTC_Z", opt::UTC_Z},
    {"OPT_SCHEMA_FORMAT", opt::SCHEMA_FORMAT},
};

struct ClassEntry {
    const char* name;
    PyTypeObject* (*get)();
};

constexpr ClassEntry module_classes[] = {
    {"QuarvelDocument", document_type},
    {"QuarvelDocumentView", document_view_type},
    {"QuarvelNode", node_type},
    {"QuarvelTag", tag_type},
    {"QuarvelAnnotatedDict", annotated_dict_type},
    {"QuarvelAnnotatedList", annotated_list_type},
};

// Sets module.name = value (stealing value) and appends name to __all__,
// unless it is a private helper (a leading underscore).
bool add_public(PyObject* module, PyObject* all, const char* name, PyObject* value) {
    Ref owned(value);
    if (!owned || PyModule_AddObjectRef(module, name, owned.get()) < 0) return false;
    if (name[0] == '_') return true;
    Ref text(PyUnicode_FromString(name));
    return text && PyList_Append(all, text.get()) == 0;
}

PyObject* get_all_list(PyObject* module) {
    PyObject* dict = PyModule_GetDict(module);
    PyObject* all = PyDict_GetItemString(dict, "__all__");
    if (all) return Py_NewRef(all);
    Ref created(PyList_New(0));
    if (!created || PyDict_SetItemString(dict, "__all__", created.get()) < 0) return nullptr;
    return created.release();
}

int exec_module_body(PyObject* module) {
    if (!PyModule_Check(module)) {
        PyErr_Format(PyExc_TypeError, "argument is not a module: '%.200s' object",
                     Py_TYPE(module)->tp_name);
        return -1;
    }
    Ref all(get_all_list(module));
    if (!all) return -1;
    Ref module_name(PyModule_GetNameObject(module));
    if (!module_name) return -1;
    for (PyMethodDef* def = module_functions; def->ml_name; ++def) {
        if (!add_public(module, all.get(), def->ml_name,
                        PyCFunction_NewEx(def, module, module_name.get())))
            return -1;
    }
    for (const Constant& c : option_constants) {
        if (!add_public(module, all.get(), c.name, PyLong_FromUnsignedLongLong(c.value))) return -1;
    }
    for (const ClassEntry& c : module_classes) {
        PyTypeObject* type = c.get();
        if (!type ||
            !add_public(module, all.get(), c.name, Py_NewRef(reinterpret_cast<PyObject*>(type))))
            return -1;
    }
    install_stack_protection_hooks();
    return 0;
}

int exec_module(PyObject* module) noexcept {
    try {
        return exec_module_body(module);
    } catch (...) {
        raise_internal_fault();
        return -1;
    }
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},
#if PY_VERSION_HEX >= 0x030D0000
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef module_def = {
    PyModuleDef_HEAD_INIT, "_quarvel", "", 0, nullptr, module_slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace quarvel::py

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__quarvel() {
    return PyModuleDef_Init(&quarvel::py::module_def);
}
