// QuarvelTag: a custom-tagged value handed to Python, and accepted back by dumps.
#include <atomic>

#include "ffi/types.hpp"
#include "pyutil/py_ref.hpp"

namespace quarvel::py {
namespace {

struct TagObject {
    PyObject_HEAD PyObject* tag;
    PyObject* value;
};

std::atomic<PyObject*> g_tag_type{nullptr};

PyObject* make_tag(PyTypeObject* type, PyObject* tag, PyObject* value) {
    auto* self = reinterpret_cast<TagObject*>(type->tp_alloc(type, 0));
    if (!self) return nullptr;
    self->tag = Py_NewRef(tag);
    self->value = Py_NewRef(value);
    return reinterpret_cast<PyObject*>(self);
}

PyObject* tag_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    static const char* names[] = {"tag", "value", nullptr};
    PyObject* tag = nullptr;
    PyObject* value = nullptr;
    if (!PyArg_ParseTupleAndKeywords(args, kwargs, "UO:QuarvelTag", const_cast<char**>(names), &tag,
                                     &value))
        return nullptr;
    return make_tag(type, tag, value);
}

int tag_traverse(PyObject* self, visitproc visit, void* arg) {
    auto* t = reinterpret_cast<TagObject*>(self);
    Py_VISIT(t->tag);
    Py_VISIT(t->value);
#if PY_VERSION_HEX >= 0x03090000
    Py_VISIT(Py_TYPE(self));
#endif
    return 0;
}

int tag_clear(PyObject* self) {
    auto* t = reinterpret_cast<TagObject*>(self);
    Py_CLEAR(t->tag);
    Py_CLEAR(t->value);
    return 0;
}

void tag_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    tag_clear(self);
    type->tp_free(self);
    Py_DECREF(type);
}

PyObject* tag_repr(PyObject* self) {
    auto* t = reinterpret_cast<TagObject*>(self);
    return PyUnicode_FromFormat("QuarvelTag('%U', ...)", t->tag);
}

PyMemberDef tag_members[] = {
    {"tag", T_OBJECT_EX, offsetof(TagObject, tag), READONLY, nullptr},
    {"value", T_OBJECT_EX, offsetof(TagObject, value), READONLY, nullptr},
    {nullptr, 0, 0, 0, nullptr},
};

const char kTagDoc[] =
    "QuarvelTag(tag, value)\n--\n\nA custom-tagged YAML value, returned when `OPT_PASSTHROUGH_TAG` "
    "is set and\n"
    "accepted by `dumps` to emit a `!tag value` back out.\n\nHolds the original tag (e.g. "
    "`!mytag`) and the "
    "resolved inner `value`.";

PyType_Slot tag_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(tag_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(tag_dealloc)},
    {Py_tp_traverse, reinterpret_cast<void*>(tag_traverse)},
    {Py_tp_clear, reinterpret_cast<void*>(tag_clear)},
    {Py_tp_repr, reinterpret_cast<void*>(tag_repr)},
    {Py_tp_members, tag_members},
    {Py_tp_doc, const_cast<char*>(kTagDoc)},
    {0, nullptr},
};

PyType_Spec tag_spec = {
    "_quarvel.QuarvelTag",
    sizeof(TagObject),
    0,
    Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC,
    tag_slots,
};

PyObject* create_tag_type() {
    return PyType_FromSpec(&tag_spec);
}

}  // namespace

PyTypeObject* tag_type() {
    return cached_type(g_tag_type, create_tag_type);
}

PyObject* new_tag(PyObject* tag, PyObject* value) {
    PyTypeObject* type = tag_type();
    if (!type) return nullptr;
    return make_tag(type, tag, value);
}

bool is_tag(PyObject* obj) {
    PyTypeObject* type = tag_type();
    return type && PyObject_TypeCheck(obj, type);
}

PyObject* tag_text(PyObject* obj) {
    return reinterpret_cast<TagObject*>(obj)->tag;
}
PyObject* tag_value(PyObject* obj) {
    return reinterpret_cast<TagObject*>(obj)->value;
}

}  // namespace quarvel::py
