// The package's annotated scalar classes, looked up on first use, and the
// fast way of creating their instances.
#include <array>
#include <atomic>
#include <bit>
#include <cstddef>
#include <cstring>
#include <memory>
#include <utility>

#include "ffi/annotated.hpp"
#include "pyutil/py_ref.hpp"

namespace quarvel::py {
namespace {

constexpr std::size_t kStyles = 5;
constexpr const char* kStyleNames[kStyles] = {"plain", "single", "double", "literal", "folded"};
std::atomic<PyObject*> g_style_names[kStyles];

PyTypeObject* base_of(ScalarKind kind) {
    switch (kind) {
        case ScalarKind::Int:
            return &PyLong_Type;
        case ScalarKind::Float:
            return &PyFloat_Type;
        case ScalarKind::Str:
            break;
    }
    return &PyUnicode_Type;
}

// The entry `name` of the class's own namespace (not inherited): null without
// an exception when it is absent.
Ref own_attribute(PyTypeObject* type, const char* name) {
#if PY_VERSION_HEX >= 0x030C0000
    Ref dict(PyType_GetDict(type));
#else
    Ref dict = Ref::borrow(type->tp_dict);
#endif
    if (!dict) return Ref();
#if PY_VERSION_HEX >= 0x030D0000
    PyObject* found = nullptr;
    if (PyDict_GetItemStringRef(dict.get(), name, &found) < 0) return Ref();
    return Ref(found);
#else
    Ref key(PyUnicode_FromString(name));
    if (!key) return Ref();
    return Ref::borrow(PyDict_GetItemWithError(dict.get(), key.get()));
#endif
}

// Where the class keeps the attribute `name`: its slot offset (> 0), 0 for
// the instance dict, or -1 when instances cannot be filled directly (the
// name is some other class attribute, or there is nowhere to put it).
// -2 with an exception set on failure.
Py_ssize_t field_place(PyTypeObject* type, PyTypeObject* base, PyObject* name) {
    Ref found(PyObject_GetAttr(reinterpret_cast<PyObject*>(type), name));
    if (!found) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -2;
        PyErr_Clear();
        return type->tp_dictoffset != 0 ? 0 : -1;
    }
    if (!Py_IS_TYPE(found.get(), &PyMemberDescr_Type)) return -1;
    auto* descr = reinterpret_cast<PyMemberDescrObject*>(found.get());
    const PyMemberDef* member = descr->d_member;
    // An object slot of this class or one of its bases, lying in the part of
    // the instance that the class adds to its built-in base.
    if (member->type != T_OBJECT_EX || (member->flags & READONLY) ||
        !PyType_IsSubtype(type, PyDescr_TYPE(found.get())) || member->offset < base->tp_basicsize ||
        member->offset + static_cast<Py_ssize_t>(sizeof(PyObject*)) > type->tp_basicsize)
        return -1;
    return member->offset;
}

// Stores `value` (stolen) into the slot at `offset` of a new object.
void store_slot(PyObject* obj, Py_ssize_t offset, Ref value) {
    auto** place = reinterpret_cast<PyObject**>(reinterpret_cast<char*>(obj) + offset);
    Ref previous(std::exchange(*place, value.release()));
}

Ref number(std::uint64_t v) {
    return Ref(PyLong_FromUnsignedLongLong(v));
}

Ref text_or_none(PyObject* text) {
    return Ref::borrow(text ? text : Py_None);
}

// The six positions as 48 little-endian bytes.
Ref packed_positions(const SourceRecord& r) {
    const std::uint64_t values[] = {r.line,       r.column, r.end_line,
                                    r.end_column, r.offset, r.end_offset};
    Ref bytes(PyBytes_FromStringAndSize(nullptr, ScalarClass::kPackedPositions));
    if (!bytes) return bytes;
    auto* out = reinterpret_cast<unsigned char*>(PyBytes_AS_STRING(bytes.get()));
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out, values, sizeof values);
        return bytes;
    }
    for (std::uint64_t v : values) {
        for (int i = 0; i < 8; ++i) *out++ = static_cast<unsigned char>(v >> (8 * i));
    }
    return bytes;
}

// The eleven constructor arguments: value, line, column, file, end line, end
// column, style, source tag, source target, offset, end offset.
PyObject* call_class(const ScalarClass& c, PyObject* value, const SourceRecord& r,
                     PyObject* style) {
    Ref line = number(r.line);
    Ref column = number(r.column);
    Ref end_line = number(r.end_line);
    Ref end_column = number(r.end_column);
    Ref offset = number(r.offset);
    Ref end_offset = number(r.end_offset);
    if (!line || !column || !end_line || !end_column || !offset || !end_offset) return nullptr;
    PyObject* args[] = {value,
                        line.get(),
                        column.get(),
                        r.file ? r.file : Py_None,
                        end_line.get(),
                        end_column.get(),
                        style,
                        r.source_tag ? r.source_tag : Py_None,
                        r.source_target ? r.source_target : Py_None,
                        offset.get(),
                        end_offset.get()};
    return PyObject_Vectorcall(c.cls.get(), args, std::size(args), nullptr);
}

// An instance holding `value`, made by the built-in base type for the class,
// with its added fields still empty.
Ref allocate(const ScalarClass& c, PyObject* value, double fvalue) {
    auto* type = reinterpret_cast<PyTypeObject*>(c.cls.get());
    if (c.kind == ScalarKind::Float) {
        Ref obj(type->tp_alloc(type, 0));
        if (obj) reinterpret_cast<PyFloatObject*>(obj.get())->ob_fval = fvalue;
        return obj;
    }
    Ref args(PyTuple_Pack(1, value));
    if (!args) return args;
    return Ref(base_of(c.kind)->tp_new(type, args.get(), nullptr));
}

std::atomic<ScalarClass*> g_classes[3];
constexpr const char* kClassNames[3] = {"QuarvelAnnotatedStr", "QuarvelAnnotatedInt",
                                        "QuarvelAnnotatedFloat"};

// The package's class for `kind`, described once for the process; a racing
// thread's description is discarded.
const ScalarClass* package_class(ScalarKind kind) {
    auto index = static_cast<std::size_t>(kind);
    std::atomic<ScalarClass*>& cell = g_classes[index];
    if (ScalarClass* cached = cell.load(std::memory_order_acquire)) return cached;
    Ref package(PyImport_ImportModule("quarvel"));
    if (!package) return nullptr;
    Ref cls(PyObject_GetAttrString(package.get(), kClassNames[index]));
    if (!cls) return nullptr;
    std::unique_ptr<ScalarClass> described = describe_scalar_class(cls.get(), kind);
    if (!described) return nullptr;
    ScalarClass* expected = nullptr;
    if (cell.compare_exchange_strong(expected, described.get(), std::memory_order_acq_rel))
        return described.release();
    return expected;
}

}  // namespace

const char* scalar_style_text(ScalarStyle style) {
    auto index = static_cast<std::size_t>(style);
    return kStyleNames[index < kStyles ? index : 0];
}

PyObject* scalar_style_name(ScalarStyle style) {
    auto index = static_cast<std::size_t>(style);
    if (index >= kStyles) index = 0;
    return once_object(g_style_names[index],
                       [&] { return PyUnicode_InternFromString(kStyleNames[index]); });
}

std::unique_ptr<ScalarClass> describe_scalar_class(PyObject* cls, ScalarKind kind) {
    auto out = std::make_unique<ScalarClass>();
    out->cls = Ref::borrow(cls);
    out->kind = kind;
    if (is_native_scalar_class(cls, kind)) {
        out->direct = out->native = true;
        return out;
    }
    PyTypeObject* base = base_of(kind);
    if (!PyType_Check(cls) || !PyType_IsSubtype(reinterpret_cast<PyTypeObject*>(cls), base))
        return out;
    auto* type = reinterpret_cast<PyTypeObject*>(cls);
    Ref layout = own_attribute(type, "_quarvel_layout");
    if (!layout) return PyErr_Occurred() ? nullptr : std::move(out);
    if (!PyTuple_Check(layout.get()) || PyTuple_GET_SIZE(layout.get()) != ScalarClass::kFields)
        return out;
    std::array<Py_ssize_t, ScalarClass::kFields> slot{};
    std::array<Ref, ScalarClass::kFields> names;
    for (std::size_t i = 0; i < ScalarClass::kFields; ++i) {
        PyObject* name = PyTuple_GET_ITEM(layout.get(), static_cast<Py_ssize_t>(i));
        if (!PyUnicode_CheckExact(name)) return out;
        PyObject* interned = Ref::borrow(name).release();
        PyUnicode_InternInPlace(&interned);
        names[i] = Ref(interned);
        Py_ssize_t place = field_place(type, base, names[i].get());
        if (place == -2) return nullptr;
        if (place < 0) return out;
        slot[i] = place;
    }
    out->slot = slot;
    out->names = std::move(names);
    out->direct = true;
    return out;
}

PyObject* build_annotated_scalar(const ScalarClass& c, PyObject* value, double number,
                                 const SourceRecord& record, ScalarStyle style, bool allow_direct) {
    Ref made_value;
    if (c.kind == ScalarKind::Float) {
        if (value) {
            number = PyFloat_AsDouble(value);
            if (number == -1.0 && PyErr_Occurred()) return nullptr;
        } else {
            made_value = Ref(PyFloat_FromDouble(number));
            if (!made_value) return nullptr;
            value = made_value.get();
        }
    }
    if (c.native && allow_direct) {
        if (c.kind == ScalarKind::Float)
            return new_native_float(c.cls.get(), number, record, style);
        if (PyUnicode_CheckExact(value)) return new_native_str(c.cls.get(), value, record, style);
    }
    PyObject* style_text = scalar_style_name(style);
    if (!style_text) return nullptr;
    if (!c.direct || c.native || !allow_direct) return call_class(c, value, record, style_text);
    Ref fields[ScalarClass::kFields] = {packed_positions(record), text_or_none(record.file),
                                        Ref::borrow(style_text), text_or_none(record.source_tag),
                                        text_or_none(record.source_target)};
    if (!fields[0]) return nullptr;
    Ref obj = allocate(c, value, number);
    if (!obj) return nullptr;
    // Fields without a slot go into one new instance dict, set in one step:
    // cheaper than storing them one attribute at a time.
    Ref dict;
    for (std::size_t i = 0; i < ScalarClass::kFields; ++i) {
        if (c.slot[i] > 0) {
            store_slot(obj.get(), c.slot[i], std::move(fields[i]));
            continue;
        }
        if (!dict) dict = Ref(PyDict_New());
        if (!dict || PyDict_SetItem(dict.get(), c.names[i].get(), fields[i].get()) < 0)
            return nullptr;
    }
    if (dict && PyObject_GenericSetDict(obj.get(), dict.get(), nullptr) < 0) return nullptr;
    return obj.release();
}

PyObject* new_annotated_str(PyObject* value, const SourceRecord& record, ScalarStyle style) {
    const ScalarClass* c = package_class(ScalarKind::Str);
    return c ? build_annotated_scalar(*c, value, 0.0, record, style) : nullptr;
}

PyObject* new_annotated_ascii_str(std::string_view ascii, const SourceRecord& record,
                                  ScalarStyle style) {
    const ScalarClass* c = package_class(ScalarKind::Str);
    if (!c) return nullptr;
    if (c->native) return new_native_ascii_str(c->cls.get(), ascii, record, style);
    Ref value(PyUnicode_FromStringAndSize(ascii.data(), static_cast<Py_ssize_t>(ascii.size())));
    return value ? build_annotated_scalar(*c, value.get(), 0.0, record, style) : nullptr;
}

PyObject* new_annotated_int(PyObject* value, const SourceRecord& record, ScalarStyle style) {
    const ScalarClass* c = package_class(ScalarKind::Int);
    return c ? build_annotated_scalar(*c, value, 0.0, record, style) : nullptr;
}

PyObject* new_annotated_float(double value, const SourceRecord& record, ScalarStyle style) {
    const ScalarClass* c = package_class(ScalarKind::Float);
    return c ? build_annotated_scalar(*c, nullptr, value, record, style) : nullptr;
}

}  // namespace quarvel::py
