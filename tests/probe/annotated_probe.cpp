// _quarvel_probe: reaches the C++ entry points of the annotated objects that
// have no Python name, for the tests and for timing the scalar creation.
// Built next to _quarvel in development builds; never installed.
#include <chrono>
#include <cstdint>
#include <memory>
#include <new>
#include <utility>
#include <vector>

#include "ffi/annotated.hpp"
#include "pyutil/py_ref.hpp"
#include "pyutil/python.hpp"

namespace quarvel::py {
namespace {

template <class F>
PyObject* trapped(F&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (...) {
        PyErr_SetString(PyExc_RuntimeError, "unexpected C++ exception in the probe");
        return nullptr;
    }
}

bool read_kind(PyObject* text, ScalarKind& kind) {
    if (PyUnicode_Check(text)) {
        if (PyUnicode_CompareWithASCIIString(text, "str") == 0) return kind = ScalarKind::Str, true;
        if (PyUnicode_CompareWithASCIIString(text, "int") == 0) return kind = ScalarKind::Int, true;
        if (PyUnicode_CompareWithASCIIString(text, "float") == 0)
            return kind = ScalarKind::Float, true;
    }
    PyErr_SetString(PyExc_ValueError, "kind must be 'str', 'int' or 'float'");
    return false;
}

bool read_style(PyObject* index, ScalarStyle& style) {
    long v = PyLong_AsLong(index);
    if (v == -1 && PyErr_Occurred()) return false;
    if (v < 0 || v > static_cast<long>(ScalarStyle::Folded)) {
        PyErr_SetString(PyExc_ValueError, "style index out of range");
        return false;
    }
    style = static_cast<ScalarStyle>(v);
    return true;
}

bool check_nargs(const char* name, Py_ssize_t nargs, Py_ssize_t want) {
    if (nargs == want) return true;
    PyErr_Format(PyExc_TypeError, "%s() takes %zd arguments (%zd given)", name, want, nargs);
    return false;
}

// new_scalar(kind, value, state, style): through the package's class, as the
// converter creates them.
PyObject* new_scalar(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return trapped([&]() -> PyObject* {
        ScalarKind kind;
        HeldRecord held;
        ScalarStyle style;
        if (!check_nargs("new_scalar", nargs, 4) || !read_kind(args[0], kind) ||
            !read_state(args[2], held) || !read_style(args[3], style))
            return nullptr;
        switch (kind) {
            case ScalarKind::Str:
                return new_annotated_str(args[1], held.record, style);
            case ScalarKind::Int:
                return new_annotated_int(args[1], held.record, style);
            case ScalarKind::Float: {
                double v = PyFloat_AsDouble(args[1]);
                if (v == -1.0 && PyErr_Occurred()) return nullptr;
                return new_annotated_float(v, held.record, style);
            }
        }
        return nullptr;
    });
}

// build(cls, kind, value, state, style, direct): any class, described afresh.
PyObject* build(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return trapped([&]() -> PyObject* {
        ScalarKind kind;
        HeldRecord held;
        ScalarStyle style;
        if (!check_nargs("build", nargs, 6) || !read_kind(args[1], kind) ||
            !read_state(args[3], held) || !read_style(args[4], style))
            return nullptr;
        int direct = PyObject_IsTrue(args[5]);
        if (direct < 0) return nullptr;
        std::unique_ptr<ScalarClass> cls = describe_scalar_class(args[0], kind);
        if (!cls) return nullptr;
        return build_annotated_scalar(*cls, args[2], 0.0, held.record, style, direct != 0);
    });
}

// describe(cls, kind) -> (direct, native, slot offsets): how instances would be made.
PyObject* describe(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return trapped([&]() -> PyObject* {
        ScalarKind kind;
        if (!check_nargs("describe", nargs, 2) || !read_kind(args[1], kind)) return nullptr;
        std::unique_ptr<ScalarClass> cls = describe_scalar_class(args[0], kind);
        if (!cls) return nullptr;
        Ref slots(PyTuple_New(ScalarClass::kFields));
        if (!slots) return nullptr;
        for (std::size_t i = 0; i < ScalarClass::kFields; ++i) {
            PyObject* offset = PyLong_FromSsize_t(cls->slot[i]);
            if (!offset) return nullptr;
            PyTuple_SET_ITEM(slots.get(), static_cast<Py_ssize_t>(i), offset);
        }
        return Py_BuildValue("(OOO)", cls->direct ? Py_True : Py_False,
                             cls->native ? Py_True : Py_False, slots.get());
    });
}

// time_scalars(kind, count, mode) -> seconds for creating `count` instances
// of the package's class, kept alive as a load's result would be (their
// release is not timed). mode "direct" uses the fast path, "call" calls the
// class with its eleven arguments, "plain" makes only the plain values. The
// records vary like a real file's: growing lines and offsets.
PyObject* time_scalars(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return trapped([&]() -> PyObject* {
        ScalarKind kind;
        if (!check_nargs("time_scalars", nargs, 3) || !read_kind(args[0], kind)) return nullptr;
        Py_ssize_t count = PyLong_AsSsize_t(args[1]);
        if (count == -1 && PyErr_Occurred()) return nullptr;
        bool plain = PyUnicode_CompareWithASCIIString(args[2], "plain") == 0;
        bool direct = PyUnicode_CompareWithASCIIString(args[2], "direct") == 0;
        static const char* const names[] = {"QuarvelAnnotatedStr", "QuarvelAnnotatedInt",
                                            "QuarvelAnnotatedFloat"};
        Ref package(PyImport_ImportModule("quarvel"));
        if (!package) return nullptr;
        Ref cls(PyObject_GetAttrString(package.get(), names[static_cast<int>(kind)]));
        if (!cls) return nullptr;
        std::unique_ptr<ScalarClass> described = describe_scalar_class(cls.get(), kind);
        if (!described) return nullptr;
        Ref file(PyUnicode_FromString("/config/configuration.yaml"));
        if (!file) return nullptr;
        SourceRecord record;
        record.file = file.get();
        std::vector<Ref> made;
        made.reserve(static_cast<std::size_t>(count));
        auto start = std::chrono::steady_clock::now();
        for (Py_ssize_t i = 0; i < count; ++i) {
            auto n = static_cast<std::uint64_t>(i);
            record.line = record.end_line = n / 4 + 1;
            record.column = 3;
            record.end_column = 9;
            record.offset = n * 12;
            record.end_offset = n * 12 + 6;
            Ref value;
            switch (kind) {
                case ScalarKind::Str:
                    value = Ref(PyUnicode_FromStringAndSize("sensor", 6));
                    break;
                case ScalarKind::Int:
                    value = Ref(PyLong_FromSsize_t(i));
                    break;
                case ScalarKind::Float:
                    value = Ref(PyFloat_FromDouble(static_cast<double>(i) + 0.5));
                    break;
            }
            if (!value) return nullptr;
            if (!plain) {
                value = Ref(build_annotated_scalar(*described, value.get(), 0.0, record,
                                                   ScalarStyle::Plain, direct));
                if (!value) return nullptr;
            }
            made.push_back(std::move(value));
        }
        std::chrono::duration<double> spent = std::chrono::steady_clock::now() - start;
        return PyFloat_FromDouble(spent.count());
    });
}

// new_dict(state) / new_list(state, reserve): containers through the C++ API.
// They are this module's own copies of the classes, distinct type objects
// from _quarvel's.
PyObject* new_dict(PyObject*, PyObject* state) {
    return trapped([&]() -> PyObject* {
        HeldRecord held;
        if (!read_state(state, held)) return nullptr;
        return new_annotated_dict(held.record);
    });
}

PyObject* new_list(PyObject*, PyObject* const* args, Py_ssize_t nargs) {
    return trapped([&]() -> PyObject* {
        HeldRecord held;
        if (!check_nargs("new_list", nargs, 2) || !read_state(args[0], held)) return nullptr;
        Py_ssize_t reserve = PyLong_AsSsize_t(args[1]);
        if (reserve == -1 && PyErr_Occurred()) return nullptr;
        return new_annotated_list(held.record, reserve);
    });
}

PyMethodDef probe_functions[] = {
    {"new_scalar", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(new_scalar)),
     METH_FASTCALL, nullptr},
    {"build", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(build)), METH_FASTCALL,
     nullptr},
    {"describe", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(describe)),
     METH_FASTCALL, nullptr},
    {"time_scalars", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(time_scalars)),
     METH_FASTCALL, nullptr},
    {"new_dict", new_dict, METH_O, nullptr},
    {"new_list", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(new_list)),
     METH_FASTCALL, nullptr},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef_Slot probe_slots[] = {
#if PY_VERSION_HEX >= 0x030D0000
    {Py_mod_gil, Py_MOD_GIL_NOT_USED},
#endif
    {0, nullptr},
};

PyModuleDef probe_def = {
    PyModuleDef_HEAD_INIT, "_quarvel_probe", "",      0,       probe_functions,
    probe_slots,           nullptr,          nullptr, nullptr,
};

}  // namespace
}  // namespace quarvel::py

extern "C" __attribute__((visibility("default"))) PyObject* PyInit__quarvel_probe() {
    return PyModuleDef_Init(&quarvel::py::probe_def);
}
