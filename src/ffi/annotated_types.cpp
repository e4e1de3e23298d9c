// QuarvelAnnotatedDict and QuarvelAnnotatedList: genuine dict and list
// subclasses that annotated loading returns, each carrying the source location
// of its node. Their type names carry the package name so pickle finds them
// as quarvel.QuarvelAnnotatedDict/List.
#include <atomic>
#include <cstdint>
#include <utility>

#include "ffi/annotated.hpp"
#include "ffi/types.hpp"
#include "pyutil/borrow_flag.hpp"
#include "pyutil/py_ref.hpp"

// Interpreters whose deallocation bounds its own recursion no longer offer
// the trashcan macros; there the body runs as it is.
#ifdef Py_TRASHCAN_BEGIN
#define QUARVEL_TRASHCAN_BEGIN(op, dealloc) Py_TRASHCAN_BEGIN(op, dealloc)
#define QUARVEL_TRASHCAN_END Py_TRASHCAN_END
#else
#define QUARVEL_TRASHCAN_BEGIN(op, dealloc) {
#define QUARVEL_TRASHCAN_END }
#endif

namespace quarvel::py {
namespace {

// The record as stored after the base object. A zero-filled record is the
// empty one (all positions 0, the text fields None), so an instance is valid
// straight from the allocator, whichever way it was created.
struct StoredRecord {
    std::uint64_t line;
    std::uint64_t column;
    std::uint64_t end_line;
    std::uint64_t end_column;
    std::uint64_t offset;
    std::uint64_t end_offset;
    PyObject* file;  // owned str, or null for None
    PyObject* source_tag;
    PyObject* source_target;
    // Free-threaded builds only: readers hold it above zero, __setstate__
    // holds it at -1 while it swaps the fields.
    alignas(std::atomic_ref<std::int32_t>::required_alignment) std::int32_t borrow;
};

struct AnnotatedDictObject {
    PyDictObject base;
    StoredRecord record;
};

struct AnnotatedListObject {
    PyListObject base;
    StoredRecord record;
};

template <class Obj>
StoredRecord& record_of(PyObject* self) {
    return reinterpret_cast<Obj*>(self)->record;
}

PyObject* raise_already_borrowed() {
    PyErr_SetString(PyExc_RuntimeError, "already borrowed");
    return nullptr;
}

// Access to a record: shared for readers, exclusive for __setstate__. With
// the global lock every access is serialised and nothing can conflict;
// without it, a reader and __setstate__ on one object exclude each other and
// the loser gets "already borrowed".
class Borrow {
  public:
    enum Mode : bool { Shared, Exclusive };

    Borrow([[maybe_unused]] StoredRecord& r, [[maybe_unused]] Mode mode) noexcept {
#ifdef Py_GIL_DISABLED
        if (!acquire_borrow(r.borrow, mode == Exclusive)) return;
        held_ = &r.borrow;
        exclusive_ = mode == Exclusive;
#endif
    }
    ~Borrow() {
#ifdef Py_GIL_DISABLED
        if (held_) release_borrow(*held_, exclusive_);
#endif
    }
    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;

    bool ok() const noexcept {
#ifdef Py_GIL_DISABLED
        return held_ != nullptr;
#else
        return true;
#endif
    }

  private:
#ifdef Py_GIL_DISABLED
    std::int32_t* held_ = nullptr;
    bool exclusive_ = false;
#endif
};

PyObject* text_or_none(PyObject* text) {
    return Py_NewRef(text ? text : Py_None);
}

// Stores a record into a new, unshared object, whose record is still empty.
void store_record(StoredRecord& dst, const SourceRecord& src) {
    dst.line = src.line;
    dst.column = src.column;
    dst.end_line = src.end_line;
    dst.end_column = src.end_column;
    dst.offset = src.offset;
    dst.end_offset = src.end_offset;
    dst.file = Ref::borrow(src.file).release();
    dst.source_tag = Ref::borrow(src.source_tag).release();
    dst.source_target = Ref::borrow(src.source_target).release();
}

void clear_record(StoredRecord& r) {
    Py_CLEAR(r.file);
    Py_CLEAR(r.source_tag);
    Py_CLEAR(r.source_target);
}

// ---- getters -------------------------------------------------------------

template <class Obj, std::uint64_t StoredRecord::* Field>
PyObject* get_number(PyObject* self, void*) {
    StoredRecord& r = record_of<Obj>(self);
    Borrow borrow(r, Borrow::Shared);
    if (!borrow.ok()) return raise_already_borrowed();
    return PyLong_FromUnsignedLongLong(r.*Field);
}

template <class Obj, PyObject* StoredRecord::* Field>
PyObject* get_text(PyObject* self, void*) {
    StoredRecord& r = record_of<Obj>(self);
    Borrow borrow(r, Borrow::Shared);
    if (!borrow.ok()) return raise_already_borrowed();
    return text_or_none(r.*Field);
}

constexpr const char* kIncludeTags[] = {
    "!include",
    "!include_dir_list",
    "!include_dir_named",
    "!include_dir_merge_list",
    "!include_dir_merge_named",
};

bool tag_is(PyObject* tag, const char* text) {
    return tag && PyUnicode_CompareWithASCIIString(tag, text) == 0;
}

bool tag_is_secret(PyObject* tag) {
    return tag_is(tag, "!secret");
}
bool tag_is_env_var(PyObject* tag) {
    return tag_is(tag, "!env_var");
}
bool tag_is_include(PyObject* tag) {
    for (const char* t : kIncludeTags) {
        if (tag_is(tag, t)) return true;
    }
    return false;
}

template <class Obj, bool (*Test)(PyObject*)>
PyObject* get_flag(PyObject* self, void*) {
    StoredRecord& r = record_of<Obj>(self);
    Borrow borrow(r, Borrow::Shared);
    if (!borrow.ok()) return raise_already_borrowed();
    return PyBool_FromLong(Test(r.source_tag));
}

const char kIsSecretDoc[] = "Whether this node's value was produced by a `!secret` directive.";
const char kIsEnvVarDoc[] = "Whether this node's value was produced by an `!env_var` directive.";
const char kIsIncludeDoc[] = "Whether this node's value was produced by any `!include` directive.";

template <class Obj>
PyGetSetDef getset_table[] = {
    {"__line__", get_number<Obj, &StoredRecord::line>, nullptr, nullptr, nullptr},
    {"__column__", get_number<Obj, &StoredRecord::column>, nullptr, nullptr, nullptr},
    {"__file__", get_text<Obj, &StoredRecord::file>, nullptr, nullptr, nullptr},
    {"__end_line__", get_number<Obj, &StoredRecord::end_line>, nullptr, nullptr, nullptr},
    {"__end_column__", get_number<Obj, &StoredRecord::end_column>, nullptr, nullptr, nullptr},
    {"__offset__", get_number<Obj, &StoredRecord::offset>, nullptr, nullptr, nullptr},
    {"__end_offset__", get_number<Obj, &StoredRecord::end_offset>, nullptr, nullptr, nullptr},
    {"__source_tag__", get_text<Obj, &StoredRecord::source_tag>, nullptr, nullptr, nullptr},
    {"__source_target__", get_text<Obj, &StoredRecord::source_target>, nullptr, nullptr, nullptr},
    {"is_secret", get_flag<Obj, tag_is_secret>, nullptr, kIsSecretDoc, nullptr},
    {"is_env_var", get_flag<Obj, tag_is_env_var>, nullptr, kIsEnvVarDoc, nullptr},
    {"is_include", get_flag<Obj, tag_is_include>, nullptr, kIsIncludeDoc, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

// ---- pickling and copying ------------------------------------------------

// The 9-tuple __setstate__ takes back: (line, column, file, end line, end
// column, source tag, source target, offset, end offset).
Ref state_of(StoredRecord& r) {
    Borrow borrow(r, Borrow::Shared);
    if (!borrow.ok()) return Ref(raise_already_borrowed());
    Ref items[] = {
        Ref(PyLong_FromUnsignedLongLong(r.line)),
        Ref(PyLong_FromUnsignedLongLong(r.column)),
        Ref(text_or_none(r.file)),
        Ref(PyLong_FromUnsignedLongLong(r.end_line)),
        Ref(PyLong_FromUnsignedLongLong(r.end_column)),
        Ref(text_or_none(r.source_tag)),
        Ref(text_or_none(r.source_target)),
        Ref(PyLong_FromUnsignedLongLong(r.offset)),
        Ref(PyLong_FromUnsignedLongLong(r.end_offset)),
    };
    Ref state(PyTuple_New(9));
    if (!state) return state;
    for (Py_ssize_t i = 0; i < 9; ++i) {
        if (!items[i]) return Ref();
        PyTuple_SET_ITEM(state.get(), i, items[i].release());
    }
    return state;
}

// (class, (), state, list items, dict items): the protocol's 5-tuple.
PyObject* reduce_tuple(PyObject* self, StoredRecord& r, Ref list_items, Ref dict_items) {
    Ref state = state_of(r);
    if (!state) return nullptr;
    Ref no_args(PyTuple_New(0));
    if (!no_args) return nullptr;
    if (!list_items) list_items = Ref::borrow(Py_None);
    if (!dict_items) dict_items = Ref::borrow(Py_None);
    return PyTuple_Pack(5, reinterpret_cast<PyObject*>(Py_TYPE(self)), no_args.get(), state.get(),
                        list_items.get(), dict_items.get());
}

PyObject* dict_reduce(PyObject* self, PyObject*) {
    Ref items(PyObject_CallMethod(self, "items", nullptr));
    if (!items) return nullptr;
    Ref iter(PyObject_GetIter(items.get()));
    if (!iter) return nullptr;
    return reduce_tuple(self, record_of<AnnotatedDictObject>(self), Ref(), std::move(iter));
}

PyObject* list_reduce(PyObject* self, PyObject*) {
    Ref iter(PyObject_GetIter(self));
    if (!iter) return nullptr;
    return reduce_tuple(self, record_of<AnnotatedListObject>(self), std::move(iter), Ref());
}

template <class Obj>
PyObject* setstate(PyObject* self, PyObject* state) {
    HeldRecord incoming;
    if (!read_state(state, incoming)) return nullptr;
    StoredRecord& r = record_of<Obj>(self);
    // The replaced texts are released only after the borrow ends: dropping
    // the last reference to a str subclass may run arbitrary code.
    Ref old_file, old_tag, old_target;
    {
        Borrow borrow(r, Borrow::Exclusive);
        if (!borrow.ok()) return raise_already_borrowed();
        const SourceRecord& s = incoming.record;
        r.line = s.line;
        r.column = s.column;
        r.end_line = s.end_line;
        r.end_column = s.end_column;
        r.offset = s.offset;
        r.end_offset = s.end_offset;
        old_file = Ref(std::exchange(r.file, incoming.file.release()));
        old_tag = Ref(std::exchange(r.source_tag, incoming.source_tag.release()));
        old_target = Ref(std::exchange(r.source_target, incoming.source_target.release()));
    }
    Py_RETURN_NONE;
}

const char kDictReduceDoc[] =
    "__reduce__($self)\n--\n\nDrive `pickle` and, by fallback, `copy`/`deepcopy`: rebuild via "
    "the\nno-argument constructor, repopulate the entries through the dict-items\niterator (so "
    "`copy` reuses values and `deepcopy` recurses into them), and\nrestore the annotations via "
    "`__setstate__`.";

const char kListReduceDoc[] =
    "__reduce__($self)\n--\n\nDrive `pickle`/`copy`/`deepcopy`: rebuild empty, repopulate "
    "through the\nlist-items iterator, restore annotations via `__setstate__`.";

const char kSetstateDoc[] =
    "__setstate__($self, state)\n--\n\nRestore the source-location fields when unpickling or "
    "copying (the items\nare repopulated separately by the reduce protocol's dict-items "
    "iterator).";

PyMethodDef dict_methods[] = {
    {"__reduce__", dict_reduce, METH_NOARGS, kDictReduceDoc},
    {"__setstate__", setstate<AnnotatedDictObject>, METH_O, kSetstateDoc},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef list_methods[] = {
    {"__reduce__", list_reduce, METH_NOARGS, kListReduceDoc},
    {"__setstate__", setstate<AnnotatedListObject>, METH_O, kSetstateDoc},
    {nullptr, nullptr, 0, nullptr},
};

// ---- object lifecycle ----------------------------------------------------

// Creation ignores the arguments: the base type's __init__ fills the
// container from them afterwards.
template <PyTypeObject* Base>
PyObject* annotated_new(PyTypeObject* type, PyObject*, PyObject* kwargs) {
    if (kwargs && kwargs != Py_None && !PyDict_Check(kwargs)) {
        PyErr_Format(PyExc_TypeError, "%s() argument after ** must be a dict, not %.200s",
                     type->tp_name, Py_TYPE(kwargs)->tp_name);
        return nullptr;
    }
    Ref no_args(PyTuple_New(0));
    if (!no_args) return nullptr;
    return Base->tp_new(type, no_args.get(), nullptr);
}

template <class Obj, PyTypeObject* Base>
int annotated_traverse(PyObject* self, visitproc visit, void* arg) {
    StoredRecord& r = record_of<Obj>(self);
    Py_VISIT(r.file);
    Py_VISIT(r.source_tag);
    Py_VISIT(r.source_target);
    Py_VISIT(Py_TYPE(self));
    return Base->tp_traverse(self, visit, arg);
}

template <class Obj, PyTypeObject* Base>
int annotated_clear(PyObject* self) {
    clear_record(record_of<Obj>(self));
    return Base->tp_clear(self);
}

// The base type's deallocation frees the object; the heap type reference the
// instance held is dropped here. The trashcan bounds the recursion when a
// long chain of nested containers is released.
template <class Obj, PyTypeObject* Base>
void annotated_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    PyObject_GC_UnTrack(self);
    QUARVEL_TRASHCAN_BEGIN(self, (annotated_dealloc<Obj, Base>))
    clear_record(record_of<Obj>(self));
    Base->tp_dealloc(self);
    Py_DECREF(type);
    QUARVEL_TRASHCAN_END
}

const char kDictDoc[] =
    "QuarvelAnnotatedDict(*_args, **_kwargs)\n--\n\nA `dict` subclass carrying source-location "
    "metadata (`__line__`,\n`__column__`, `__file__`). Returned for mappings in annotated "
    "mode,\nmirroring Home Assistant's `NodeDictClass`.\n\nIt is a genuine `dict` subclass: "
    "constructible (`QuarvelAnnotatedDict()`),\nand round-trips through "
    "`copy`/`deepcopy`/`pickle` like any plain subclass,\nso consumers (voluptuous's "
    "`data.__class__()`, `copy`, serializers) can use it\ndirectly without converting to a "
    "built-in `dict` first. `module` is set so\npickle can locate the class by reference.";

const char kListDoc[] =
    "QuarvelAnnotatedList(*_args, **_kwargs)\n--\n\nA `list` subclass carrying source-location "
    "metadata, mirroring Home\nAssistant's `NodeListClass`. Like [`QuarvelAnnotatedDict`], it "
    "is a genuine\n`list` subclass: constructible and `copy`/`deepcopy`/`pickle`-able.";

PyType_Slot dict_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(annotated_new<&PyDict_Type>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(annotated_dealloc<AnnotatedDictObject, &PyDict_Type>)},
    {Py_tp_traverse,
     reinterpret_cast<void*>(annotated_traverse<AnnotatedDictObject, &PyDict_Type>)},
    {Py_tp_clear, reinterpret_cast<void*>(annotated_clear<AnnotatedDictObject, &PyDict_Type>)},
    {Py_tp_getset, getset_table<AnnotatedDictObject>},
    {Py_tp_methods, dict_methods},
    {Py_tp_doc, const_cast<char*>(kDictDoc)},
    {0, nullptr},
};

PyType_Slot list_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(annotated_new<&PyList_Type>)},
    {Py_tp_dealloc, reinterpret_cast<void*>(annotated_dealloc<AnnotatedListObject, &PyList_Type>)},
    {Py_tp_traverse,
     reinterpret_cast<void*>(annotated_traverse<AnnotatedListObject, &PyList_Type>)},
    {Py_tp_clear, reinterpret_cast<void*>(annotated_clear<AnnotatedListObject, &PyList_Type>)},
    {Py_tp_getset, getset_table<AnnotatedListObject>},
    {Py_tp_methods, list_methods},
    {Py_tp_doc, const_cast<char*>(kListDoc)},
    {0, nullptr},
};

constexpr unsigned kFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE | Py_TPFLAGS_HAVE_GC;

PyType_Spec dict_spec = {"quarvel.QuarvelAnnotatedDict", sizeof(AnnotatedDictObject), 0, kFlags,
                         dict_slots};
PyType_Spec list_spec = {"quarvel.QuarvelAnnotatedList", sizeof(AnnotatedListObject), 0, kFlags,
                         list_slots};

PyObject* make_subclass(PyType_Spec* type_spec, PyTypeObject* base) {
    Ref bases(PyTuple_Pack(1, reinterpret_cast<PyObject*>(base)));
    if (!bases) return nullptr;
    return PyType_FromSpecWithBases(type_spec, bases.get());
}

PyObject* make_dict_type() {
    return make_subclass(&dict_spec, &PyDict_Type);
}
PyObject* make_list_type() {
    return make_subclass(&list_spec, &PyList_Type);
}

std::atomic<PyObject*> g_dict{nullptr};
std::atomic<PyObject*> g_list{nullptr};

// ---- reading the state tuple ----------------------------------------------

PyObject* raise_state_item(Py_ssize_t index, const char* what, PyObject* item) {
    PyErr_Format(PyExc_TypeError,
                 "__setstate__() argument 'state': item %zd must be %s, not %.200s", index, what,
                 Py_TYPE(item)->tp_name);
    return nullptr;
}

bool read_position(PyObject* state, Py_ssize_t index, std::uint64_t& out) {
    PyObject* item = PyTuple_GET_ITEM(state, index);
    if (!PyLong_Check(item) && !PyIndex_Check(item)) {
        raise_state_item(index, "int", item);
        return false;
    }
    Ref number(PyNumber_Index(item));
    if (!number) return false;
    unsigned long long v = PyLong_AsUnsignedLongLong(number.get());
    if (v == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return false;
    out = v;
    return true;
}

bool read_text(PyObject* state, Py_ssize_t index, Ref& held, PyObject*& out) {
    PyObject* item = PyTuple_GET_ITEM(state, index);
    if (item == Py_None) {
        out = nullptr;
        return true;
    }
    if (!PyUnicode_Check(item)) {
        raise_state_item(index, "str or None", item);
        return false;
    }
    held = Ref::borrow(item);
    out = item;
    return true;
}

}  // namespace

bool read_state(PyObject* state, HeldRecord& out) {
    if (!PyTuple_Check(state)) {
        PyErr_Format(PyExc_TypeError, "__setstate__() argument 'state' must be tuple, not %.200s",
                     Py_TYPE(state)->tp_name);
        return false;
    }
    if (PyTuple_GET_SIZE(state) != 9) {
        PyErr_Format(PyExc_TypeError,
                     "__setstate__() argument 'state' must be a tuple of 9 items, not %zd",
                     PyTuple_GET_SIZE(state));
        return false;
    }
    SourceRecord& r = out.record;
    return read_position(state, 0, r.line) && read_position(state, 1, r.column) &&
           read_text(state, 2, out.file, r.file) && read_position(state, 3, r.end_line) &&
           read_position(state, 4, r.end_column) &&
           read_text(state, 5, out.source_tag, r.source_tag) &&
           read_text(state, 6, out.source_target, r.source_target) &&
           read_position(state, 7, r.offset) && read_position(state, 8, r.end_offset);
}

PyTypeObject* annotated_dict_type() {
    return cached_type(g_dict, make_dict_type);
}
PyTypeObject* annotated_list_type() {
    return cached_type(g_list, make_list_type);
}

bool is_annotated_dict(PyObject* obj) {
    PyTypeObject* type = annotated_dict_type();
    return type && PyObject_TypeCheck(obj, type);
}

bool is_annotated_list(PyObject* obj) {
    PyTypeObject* type = annotated_list_type();
    return type && PyObject_TypeCheck(obj, type);
}

PyObject* new_annotated_dict(const SourceRecord& record) {
    PyTypeObject* type = annotated_dict_type();
    if (!type) return nullptr;
    Ref no_args(PyTuple_New(0));
    if (!no_args) return nullptr;
    Ref obj(PyDict_Type.tp_new(type, no_args.get(), nullptr));
    if (!obj) return nullptr;
    store_record(record_of<AnnotatedDictObject>(obj.get()), record);
    return obj.release();
}

PyObject* new_annotated_list(const SourceRecord& record, Py_ssize_t reserve) {
    PyTypeObject* type = annotated_list_type();
    if (!type) return nullptr;
    Ref no_args(PyTuple_New(0));
    if (!no_args) return nullptr;
    Ref obj(PyList_Type.tp_new(type, no_args.get(), nullptr));
    if (!obj) return nullptr;
#ifndef Py_GIL_DISABLED
    // With the global lock a list's item array is a plain PyMem block, which
    // list growth reallocates and deallocation frees; a block of the final
    // size up front spares the regrowth. (Free-threaded builds keep a header
    // before the items, so the list grows as usual there.)
    if (reserve > 0) {
        auto* list = reinterpret_cast<PyListObject*>(obj.get());
        list->ob_item = PyMem_New(PyObject*, static_cast<std::size_t>(reserve));
        if (!list->ob_item) return PyErr_NoMemory();
        list->allocated = reserve;
    }
#else
    (void)reserve;
#endif
    store_record(record_of<AnnotatedListObject>(obj.get()), record);
    return obj.release();
}

}  // namespace quarvel::py
