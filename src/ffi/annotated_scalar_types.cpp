// The annotated str and float classes as extension types: the record lives
// inline in the instance, and an annotated str made by a load is one block of
// memory holding the object, its record and its characters.
//
// The package names these types QuarvelAnnotatedStr and QuarvelAnnotatedFloat
// and lends them its Python behaviour (the provenance flags, pickling) through
// a slot-less mixin, their second base; the type itself is created here, once
// per process, by `_annotated_scalar_class`. The built-in base comes first, so
// that its slots (hash, comparison, str()) are the ones the type inherits. Its instances are not
// tracked by the collector: the record holds only exact str objects and None, which cannot lead
// back to the instance.
//
// A str subtype cannot use the interpreter's compact layout (characters right
// after the header); its data pointer names a separate buffer, which the base
// deallocation frees. A load's instances put that buffer right after the
// record instead, in the same allocation, and mark it so: their deallocation
// detaches the buffer before the base type frees the object.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "ffi/annotated.hpp"
#include "pyutil/py_ref.hpp"

namespace quarvel::py {
namespace {

// The inline record: the positions, the three texts (exact str or null), the
// style. Lines and columns are 32-bit, as the reader counts them; offsets are
// 64-bit.
struct ScalarNote {
    std::uint32_t line;
    std::uint32_t column;
    std::uint32_t end_line;
    std::uint32_t end_column;
    std::uint64_t offset;
    std::uint64_t end_offset;
    PyObject* file;
    PyObject* source_tag;
    PyObject* source_target;
    ScalarStyle style;
    // A str's characters follow its struct in the same allocation.
    bool text_inline;
};

struct AnnotatedStrObject {
    PyUnicodeObject text;
    ScalarNote note;
};

struct AnnotatedFloatObject {
    PyFloatObject number;
    ScalarNote note;
};

void clear_note(ScalarNote& note) {
    Py_CLEAR(note.file);
    Py_CLEAR(note.source_tag);
    Py_CLEAR(note.source_target);
}

// Texts are stored as exact str so that no stored object can refer back to
// the instance; null stands for None.
PyObject* held_text(PyObject* text) {
    return text && text != Py_None ? Py_NewRef(text) : nullptr;
}

// Lines and columns beyond 32 bits are refused before a record is filled.
void fill_note(ScalarNote& note, const SourceRecord& r, ScalarStyle style) {
    note.line = static_cast<std::uint32_t>(r.line);
    note.column = static_cast<std::uint32_t>(r.column);
    note.end_line = static_cast<std::uint32_t>(r.end_line);
    note.end_column = static_cast<std::uint32_t>(r.end_column);
    note.offset = r.offset;
    note.end_offset = r.end_offset;
    note.file = held_text(r.file);
    note.source_tag = held_text(r.source_tag);
    note.source_target = held_text(r.source_target);
    note.style = style;
}

// ---- the str type ----------------------------------------------------------

char* inline_text(AnnotatedStrObject* o) {
    return reinterpret_cast<char*>(o + 1);
}

void annotated_str_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    auto* o = reinterpret_cast<AnnotatedStrObject*>(self);
    clear_note(o->note);
    if (o->note.text_inline) {
        // The characters are part of this block: the base deallocation must
        // not free them on their own, nor a UTF-8 form that shares them.
        PyCompactUnicodeObject& compact = o->text._base;
        if (compact.utf8 == inline_text(o)) {
            compact.utf8 = nullptr;
            compact.utf8_length = 0;
        }
        o->text.data.any = nullptr;
    }
    PyUnicode_Type.tp_dealloc(self);
    Py_DECREF(type);
}

void annotated_float_dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    clear_note(reinterpret_cast<AnnotatedFloatObject*>(self)->note);
    PyFloat_Type.tp_dealloc(self);
    Py_DECREF(type);
}

bool one_block_layout(PyTypeObject* type);

// An instance of the one-block `type` holding `length` characters of `kind`
// bytes each from `chars` (ASCII when `ascii`), with the str hash `hash` (-1:
// not computed yet) and an empty record for the caller to fill.
PyObject* one_block_chars(PyTypeObject* type, const void* chars, Py_ssize_t length, int kind,
                          bool ascii, Py_hash_t hash) {
    if (static_cast<std::size_t>(length) > (PY_SSIZE_T_MAX - sizeof(AnnotatedStrObject)) / 4)
        return PyErr_NoMemory();
    const auto bytes = static_cast<std::size_t>(length) * static_cast<std::size_t>(kind);
    void* block =
        PyObject_Malloc(sizeof(AnnotatedStrObject) + bytes + static_cast<std::size_t>(kind));
    if (!block) return PyErr_NoMemory();
    auto* o = static_cast<AnnotatedStrObject*>(block);
    // Every field of the str part past the object header starts out zero, as
    // the interpreter's own allocation leaves them.
    constexpr std::size_t kHeader = sizeof(PyObject);
    std::memset(reinterpret_cast<char*>(&o->text) + kHeader, 0, sizeof(PyUnicodeObject) - kHeader);
    PyObject* self = PyObject_Init(static_cast<PyObject*>(block), type);
    PyASCIIObject& head = o->text._base._base;
    head.length = length;
    head.hash = hash;
    head.state.kind = static_cast<unsigned>(kind);
    head.state.ascii = ascii ? 1U : 0U;
#if PY_VERSION_HEX < 0x030C0000
    head.state.ready = 1;
#endif
    char* data = inline_text(o);
    if (bytes != 0) std::memcpy(data, chars, bytes);
    std::memset(data + bytes, 0, static_cast<std::size_t>(kind));  // the terminating NUL
    o->text.data.any = data;
    o->note = ScalarNote{};
    o->note.text_inline = true;
    if (ascii) {
        // ASCII text is its own UTF-8 form.
        o->text._base.utf8 = data;
        o->text._base.utf8_length = length;
    }
    return self;
}

// The same holding the characters of the exact str `text`, its hash included.
PyObject* one_block_str(PyTypeObject* type, PyObject* text) {
    return one_block_chars(type, PyUnicode_DATA(text), PyUnicode_GET_LENGTH(text),
                           PyUnicode_KIND(text), PyUnicode_IS_ASCII(text),
                           reinterpret_cast<PyASCIIObject*>(text)->hash);
}

// An instance of `type` (ours or a subclass) holding the exact str `text`.
PyObject* str_instance(PyTypeObject* type, PyObject* text) {
    if (one_block_layout(type)) return one_block_str(type, text);
    Ref args(PyTuple_Pack(1, text));
    return args ? PyUnicode_Type.tp_new(type, args.get(), nullptr) : nullptr;
}

// ---- construction from Python ------------------------------------------------

constexpr const char* kArgumentNames[] = {"value",         "line",       "column",     "file",
                                          "end_line",      "end_column", "style",      "source_tag",
                                          "source_target", "offset",     "end_offset", nullptr};

bool read_unsigned(PyObject* item, const char* name, std::uint64_t& out,
                   std::uint64_t most = UINT64_MAX) {
    Ref number(PyNumber_Index(item));
    if (!number) return false;
    const unsigned long long v = PyLong_AsUnsignedLongLong(number.get());
    const bool failed = v == static_cast<unsigned long long>(-1) && PyErr_Occurred();
    if (failed && !PyErr_ExceptionMatches(PyExc_OverflowError)) return false;
    if (failed || v > most) {
        PyErr_Clear();
        PyErr_Format(PyExc_ValueError, "%s must be between 0 and %s", name,
                     most == UINT64_MAX ? "2**64-1" : "2**32-1");
        return false;
    }
    out = v;
    return true;
}

// A text argument as an exact str (a str subclass is copied), or null for
// None; `ok` turns false with a TypeError set for anything else.
Ref read_text(PyObject* item, const char* name, bool none_allowed, bool& ok) {
    if (item == Py_None && none_allowed) return Ref();
    if (PyUnicode_CheckExact(item)) return Ref::borrow(item);
    if (PyUnicode_Check(item)) {
        Ref copy(PyUnicode_FromObject(item));
        ok = bool(copy);
        return copy;
    }
    PyErr_Format(PyExc_TypeError, "%s must be str%s, not %.200s", name,
                 none_allowed ? " or None" : "", Py_TYPE(item)->tp_name);
    ok = false;
    return Ref();
}

// The ten record arguments read into `r` and `style`; the held references
// keep its texts alive.
struct ParsedRecord {
    SourceRecord record;
    ScalarStyle style = ScalarStyle::Plain;
    Ref file, source_tag, source_target;
};

bool read_style(PyObject* item, ScalarStyle& out) {
    if (PyUnicode_Check(item)) {
        for (int i = 0; i <= static_cast<int>(ScalarStyle::Folded); ++i) {
            const auto style = static_cast<ScalarStyle>(i);
            if (PyUnicode_CompareWithASCIIString(item, scalar_style_text(style)) == 0) {
                out = style;
                return true;
            }
        }
    }
    PyErr_SetString(PyExc_ValueError,
                    "style must be 'plain', 'single', 'double', 'literal' or 'folded'");
    return false;
}

bool parse_record(PyObject* const* a, ParsedRecord& out) {
    constexpr std::uint64_t kMost32 = UINT32_MAX;
    SourceRecord& r = out.record;
    bool ok = read_unsigned(a[1], "line", r.line, kMost32) &&
              read_unsigned(a[2], "column", r.column, kMost32) &&
              read_unsigned(a[4], "end_line", r.end_line, kMost32) &&
              read_unsigned(a[5], "end_column", r.end_column, kMost32) &&
              read_unsigned(a[9], "offset", r.offset) &&
              read_unsigned(a[10], "end_offset", r.end_offset) && read_style(a[6], out.style);
    if (!ok) return false;
    out.file = read_text(a[3], "file", true, ok);
    if (ok) out.source_tag = read_text(a[7], "source_tag", true, ok);
    if (ok) out.source_target = read_text(a[8], "source_target", true, ok);
    r.file = out.file.get();
    r.source_tag = out.source_tag.get();
    r.source_target = out.source_target.get();
    return ok;
}

// `cls(value, line, column, file, end_line, end_column, style, source_tag,
// source_target, offset, end_offset)`, positionally or by name.
bool unpack_arguments(PyObject* args, PyObject* kwargs, PyObject** a) {
    return PyArg_ParseTupleAndKeywords(
               args, kwargs, "OOOOOOOOOOO", const_cast<char**>(kArgumentNames), &a[0], &a[1], &a[2],
               &a[3], &a[4], &a[5], &a[6], &a[7], &a[8], &a[9], &a[10]) != 0;
}

PyObject* annotated_str_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* a[11] = {};
    if (!unpack_arguments(args, kwargs, a)) return nullptr;
    ParsedRecord parsed;
    if (!parse_record(a, parsed)) return nullptr;
    Ref text(PyObject_Str(a[0]));
    if (!text) return nullptr;
    if (!PyUnicode_CheckExact(text.get())) text = Ref(PyUnicode_FromObject(text.get()));
    if (!text) return nullptr;
    PyObject* self = str_instance(type, text.get());
    if (self) {
        fill_note(reinterpret_cast<AnnotatedStrObject*>(self)->note, parsed.record, parsed.style);
    }
    return self;
}

PyObject* annotated_float_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    PyObject* a[11] = {};
    if (!unpack_arguments(args, kwargs, a)) return nullptr;
    ParsedRecord parsed;
    if (!parse_record(a, parsed)) return nullptr;
    Ref value_args(PyTuple_Pack(1, a[0]));
    if (!value_args) return nullptr;
    PyObject* self = PyFloat_Type.tp_new(type, value_args.get(), nullptr);
    if (self) {
        fill_note(reinterpret_cast<AnnotatedFloatObject*>(self)->note, parsed.record, parsed.style);
    }
    return self;
}

// ---- the types -----------------------------------------------------------------

template <class Obj>
struct Members {
    static constexpr Py_ssize_t at(std::size_t field) {
        return static_cast<Py_ssize_t>(offsetof(Obj, note) + field);
    }

    static inline PyMemberDef table[] = {
        {"__line__", T_UINT, at(offsetof(ScalarNote, line)), READONLY,
         "The 1-based line where the scalar starts."},
        {"__column__", T_UINT, at(offsetof(ScalarNote, column)), READONLY,
         "The 1-based column where the scalar starts."},
        {"__end_line__", T_UINT, at(offsetof(ScalarNote, end_line)), READONLY,
         "The 1-based line where the scalar ends."},
        {"__end_column__", T_UINT, at(offsetof(ScalarNote, end_column)), READONLY,
         "The 1-based column just past the scalar."},
        {"__offset__", T_ULONGLONG, at(offsetof(ScalarNote, offset)), READONLY,
         "The 0-based byte offset where the scalar starts."},
        {"__end_offset__", T_ULONGLONG, at(offsetof(ScalarNote, end_offset)), READONLY,
         "The 0-based byte offset just past it."},
        {"__file__", T_OBJECT, at(offsetof(ScalarNote, file)), READONLY,
         "The file the scalar was read from: root_path, an included file, or '<root>' inside "
         "the include directory."},
        {"__source_tag__", T_OBJECT, at(offsetof(ScalarNote, source_tag)), READONLY,
         "The directive that produced the value, such as '!secret', or None."},
        {"__source_target__", T_OBJECT, at(offsetof(ScalarNote, source_target)), READONLY,
         "The directive's argument (file, directory, secret or variable name), or None."},
        {nullptr, 0, 0, 0, nullptr},
    };

    static PyObject* style(PyObject* self, void*) {
        return Py_XNewRef(scalar_style_name(reinterpret_cast<Obj*>(self)->note.style));
    }

    static inline PyGetSetDef getset[] = {
        {"style", style, nullptr,
         "How the scalar was written: 'plain', 'single', 'double', 'literal' or 'folded'.",
         nullptr},
        {nullptr, nullptr, nullptr, nullptr, nullptr},
    };
};

// Whether instances of `type` are laid out here in one block: the type
// itself, not a subclass that adds fields or is tracked by the collector.
bool one_block_layout(PyTypeObject* type) {
    return is_native_scalar_class(reinterpret_cast<PyObject*>(type), ScalarKind::Str);
}

PyType_Slot str_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(annotated_str_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(annotated_str_dealloc)},
    {Py_tp_members, Members<AnnotatedStrObject>::table},
    {Py_tp_getset, Members<AnnotatedStrObject>::getset},
    {0, nullptr},
};

PyType_Slot float_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(annotated_float_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(annotated_float_dealloc)},
    {Py_tp_members, Members<AnnotatedFloatObject>::table},
    {Py_tp_getset, Members<AnnotatedFloatObject>::getset},
    {0, nullptr},
};

constexpr unsigned kFlags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;

std::atomic<PyObject*> g_str_type{nullptr};
std::atomic<PyObject*> g_float_type{nullptr};

// The type named `name` with instances of `size` bytes and the given slots
// (ending in a zero slot), its bases the built-in base and the mixin, its
// docstring `doc` (the type keeps its own copy).
PyObject* make_type(const char* name, std::size_t size, const PyType_Slot* slots,
                    PyTypeObject* base, PyObject* mixin, const char* doc) {
    Ref bases(PyTuple_Pack(2, reinterpret_cast<PyObject*>(base), mixin));
    if (!bases) return nullptr;
    std::vector<PyType_Slot> with_doc;
    for (const PyType_Slot* slot = slots; slot->slot != 0; ++slot) with_doc.push_back(*slot);
    with_doc.push_back({Py_tp_doc, const_cast<char*>(doc)});
    with_doc.push_back({0, nullptr});
    PyType_Spec layout = {name, static_cast<int>(size), 0, kFlags, with_doc.data()};
    return PyType_FromSpecWithBases(&layout, bases.get());
}

}  // namespace

// A type made by `make_type` is known by its layout: the size of its
// instances, no collector tracking (a Python subclass always has it), and the
// record's first member where this file puts it. Subclasses are not native:
// their instances are made through the class.
bool is_native_scalar_class(PyObject* cls, ScalarKind kind) {
    if (!PyType_Check(cls) || kind == ScalarKind::Int) return false;
    auto* type = reinterpret_cast<PyTypeObject*>(cls);
    const bool str = kind == ScalarKind::Str;
    const auto size =
        static_cast<Py_ssize_t>(str ? sizeof(AnnotatedStrObject) : sizeof(AnnotatedFloatObject));
    const Py_ssize_t first =
        str ? Members<AnnotatedStrObject>::at(0) : Members<AnnotatedFloatObject>::at(0);
    const PyMemberDef* members = type->tp_members;
    return type->tp_basicsize == size && type->tp_itemsize == 0 &&
           !(type->tp_flags & Py_TPFLAGS_HAVE_GC) &&
           PyType_IsSubtype(type, str ? &PyUnicode_Type : &PyFloat_Type) && members &&
           members[0].name && std::string_view(members[0].name) == "__line__" &&
           members[0].offset == first && members[0].type == T_UINT;
}

PyObject* new_native_str(PyObject* cls, PyObject* text, const SourceRecord& record,
                         ScalarStyle style) {
    PyObject* self = one_block_str(reinterpret_cast<PyTypeObject*>(cls), text);
    if (self) fill_note(reinterpret_cast<AnnotatedStrObject*>(self)->note, record, style);
    return self;
}

PyObject* new_native_ascii_str(PyObject* cls, std::string_view ascii, const SourceRecord& record,
                               ScalarStyle style) {
    PyObject* self =
        one_block_chars(reinterpret_cast<PyTypeObject*>(cls), ascii.data(),
                        static_cast<Py_ssize_t>(ascii.size()), PyUnicode_1BYTE_KIND, true, -1);
    if (self) fill_note(reinterpret_cast<AnnotatedStrObject*>(self)->note, record, style);
    return self;
}

PyObject* new_native_float(PyObject* cls, double value, const SourceRecord& record,
                           ScalarStyle style) {
    auto* type = reinterpret_cast<PyTypeObject*>(cls);
    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    auto* o = reinterpret_cast<AnnotatedFloatObject*>(self);
    o->number.ob_fval = value;
    fill_note(o->note, record, style);
    return self;
}

PyObject* annotated_scalar_class(PyObject*, PyObject* args) {
    const char* name = nullptr;
    PyObject* mixin = nullptr;
    const char* doc = nullptr;
    if (!PyArg_ParseTuple(args, "sO!s:_annotated_scalar_class", &name, &PyType_Type, &mixin, &doc))
        return nullptr;
    const std::string_view which(name);
    if (which == "QuarvelAnnotatedStr") {
        return Py_XNewRef(once_object(g_str_type, [&] {
            return make_type("quarvel.QuarvelAnnotatedStr", sizeof(AnnotatedStrObject), str_slots,
                             &PyUnicode_Type, mixin, doc);
        }));
    }
    if (which == "QuarvelAnnotatedFloat") {
        return Py_XNewRef(once_object(g_float_type, [&] {
            return make_type("quarvel.QuarvelAnnotatedFloat", sizeof(AnnotatedFloatObject),
                             float_slots, &PyFloat_Type, mixin, doc);
        }));
    }
    PyErr_Format(PyExc_ValueError, "no annotated scalar class is named '%s'", name);
    return nullptr;
}

}  // namespace quarvel::py
