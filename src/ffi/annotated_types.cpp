// QuarvelAnnotatedDict and QuarvelAnnotatedList: genuine dict and list
// subclasses that annotated loading returns. Their type names carry the
// package name so pickle finds them as quarvel.QuarvelAnnotatedDict/List.
#include <atomic>

#include "ffi/types.hpp"
#include "pyutil/py_ref.hpp"

namespace quarvel::py {
namespace {

std::atomic<PyObject*> g_dict{nullptr};
std::atomic<PyObject*> g_list{nullptr};

const char kDictDoc[] =
    "QuarvelAnnotatedDict(*_args, **_kwargs)\n--\n\nA `dict` subclass carrying source-location "
    "metadata "
    "(`__line__`,\n`__column__`, `__file__`). Returned for mappings in annotated mode,\nmirroring "
    "Home "
    "Assistant's `NodeDictClass`.\n\nIt is a genuine `dict` subclass: constructible "
    "(`QuarvelAnnotatedDict()`),\nand round-trips through `copy`/`deepcopy`/`pickle` like any "
    "plain "
    "subclass,\nso consumers (voluptuous's `data.__class__()`, `copy`, serializers) can use "
    "it\ndirectly "
    "without converting to a built-in `dict` first. `module` is set so\npickle can locate the "
    "class by "
    "reference.";

const char kListDoc[] =
    "QuarvelAnnotatedList(*_args, **_kwargs)\n--\n\nA `list` subclass carrying source-location "
    "metadata, "
    "mirroring Home\nAssistant's `NodeListClass`. Like [`QuarvelAnnotatedDict`], it is a "
    "genuine\n`list` "
    "subclass: constructible and `copy`/`deepcopy`/`pickle`-able.";

PyType_Slot dict_slots[] = {{Py_tp_doc, const_cast<char*>(kDictDoc)}, {0, nullptr}};
PyType_Slot list_slots[] = {{Py_tp_doc, const_cast<char*>(kListDoc)}, {0, nullptr}};

PyType_Spec dict_spec = {"quarvel.QuarvelAnnotatedDict", 0, 0,
                         Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, dict_slots};
PyType_Spec list_spec = {"quarvel.QuarvelAnnotatedList", 0, 0,
                         Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE, list_slots};

PyObject* make_subclass(PyType_Spec* type_spec, PyObject* base) {
    Ref bases(PyTuple_Pack(1, base));
    if (!bases) return nullptr;
    return PyType_FromSpecWithBases(type_spec, bases.get());
}

PyObject* make_dict() {
    return make_subclass(&dict_spec, reinterpret_cast<PyObject*>(&PyDict_Type));
}
PyObject* make_list() {
    return make_subclass(&list_spec, reinterpret_cast<PyObject*>(&PyList_Type));
}

}  // namespace

PyTypeObject* annotated_dict_type() {
    return cached_type(g_dict, make_dict);
}
PyTypeObject* annotated_list_type() {
    return cached_type(g_list, make_list);
}

}  // namespace quarvel::py
