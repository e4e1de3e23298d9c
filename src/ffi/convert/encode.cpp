#include "ffi/convert/encode.hpp"

#include <algorithm>
#include <atomic>
#include <string>
#include <string_view>
#include <unordered_map>

#include "encode/emitter.hpp"
#include "ffi/convert/strings.hpp"
#include "ffi/types.hpp"
#include "pyutil/compact_int.hpp"
#include "support/limits.hpp"
#include "support/options.hpp"
#include "support/stack.hpp"
#include "support/utf8.hpp"

namespace quarvel::py {
namespace {

constexpr std::size_t kCopyLimit = 64;

constexpr const char* kTooDeep =
    "object is too deeply nested to serialize (possible self-reference)";
constexpr const char* kBadBytes =
    "cannot serialize bytes that are not valid UTF-8; decode them yourself (e.g. base64) before "
    "dumping";
constexpr const char* kBadTagsResult =
    "a tags callback must return a QuarvelTag or a (tag, value) tuple";

// ---------------------------------------------------------------------------
// Interned attribute names, made once per process.

enum class Name : int { isoformat, value, dataclass_fields, fspath, module, tolist, item, count };

constexpr const char* kNameTexts[] = {
    "isoformat", "value", "__dataclass_fields__", "__fspath__", "__module__", "tolist", "item"};

std::atomic<PyObject*> g_names[static_cast<int>(Name::count)];

// Borrowed; null with an exception set when the name could not be made.
PyObject* name(Name which) {
    const char* text = kNameTexts[static_cast<int>(which)];
    return once_object(g_names[static_cast<int>(which)],
                       [text] { return PyUnicode_InternFromString(text); });
}

// getattr(obj, name) where only AttributeError means "absent": returns 1 with
// `out` set, 0 when absent, -1 with an exception set.
int optional_attr(PyObject* obj, Name which, Ref& out) {
    PyObject* n = name(which);
    if (!n) return -1;
    out = Ref(PyObject_GetAttr(obj, n));
    if (out) return 1;
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    return 0;
}

// ---------------------------------------------------------------------------
// numpy's array and scalar base types, looked up once per process. A failed
// import leaves both null for the rest of the process.

struct NumpyTypes {
    PyObject* ndarray = nullptr;
    PyObject* generic = nullptr;
};

std::atomic<NumpyTypes*> g_numpy{nullptr};

const NumpyTypes& numpy_types() {
    if (NumpyTypes* cached = g_numpy.load(std::memory_order_acquire)) return *cached;
    auto* found = new NumpyTypes;
    Ref module(PyImport_ImportModule("numpy"));
    Ref ndarray = module ? Ref(PyObject_GetAttrString(module.get(), "ndarray")) : Ref();
    Ref generic = ndarray ? Ref(PyObject_GetAttrString(module.get(), "generic")) : Ref();
    if (ndarray && generic) {
        found->ndarray = ndarray.release();
        found->generic = generic.release();
    }
    PyErr_Clear();
    NumpyTypes* expected = nullptr;
    if (!g_numpy.compare_exchange_strong(expected, found, std::memory_order_acq_rel)) {
        Py_XDECREF(found->ndarray);
        Py_XDECREF(found->generic);
        delete found;
        return *expected;
    }
    return *found;
}

// ---------------------------------------------------------------------------
// Small helpers.

bool type_name_is(PyTypeObject* type, const char* expected) {
    Ref n(PyType_GetName(type));
    if (!n) {
        PyErr_Clear();
        return false;
    }
    return PyUnicode_CompareWithASCIIString(n.get(), expected) == 0;
}

// The type's __name__ as UTF-8, for messages.
std::string type_name(PyTypeObject* type) {
    Ref n(PyType_GetName(type));
    Py_ssize_t size = 0;
    const char* p = n ? PyUnicode_AsUTF8AndSize(n.get(), &size) : nullptr;
    if (!p) {
        PyErr_Clear();
        return type->tp_name;
    }
    return std::string(p, static_cast<std::size_t>(size));
}

// UTF-8 of a str with its lone surrogates replaced. A surrogate's 3-byte
// UTF-8 form is invalid, and each of those bytes becomes one U+FFFD, as a
// replacing UTF-8 decoder reads them: one surrogate gives three U+FFFD.
std::string replace_surrogates(PyObject* s) {
    std::string out;
    const int kind = PyUnicode_KIND(s);
    const void* data = PyUnicode_DATA(s);
    const Py_ssize_t n = PyUnicode_GET_LENGTH(s);
    out.reserve(static_cast<std::size_t>(n) + 8);
    for (Py_ssize_t i = 0; i < n; ++i) {
        Py_UCS4 cp = PyUnicode_READ(kind, data, i);
        if (cp >= 0xD800 && cp <= 0xDFFF) {
            for (int byte = 0; byte < 3; ++byte) utf8::append(out, 0xFFFD);
        } else {
            utf8::append(out, cp);
        }
    }
    return out;
}

bool is_digit(char c) {
    return c >= '0' && c <= '9';
}

// Length of a UTC offset "+HH:MM", "+HH:MM:SS" or "+HH:MM:SS.ffffff" (either
// sign) that ends `s`, or 0. Offsets with seconds are rare but legal; taking
// them as part of the body would let the microsecond cut drop them, or the
// naive-UTC rule append a second offset.
std::size_t offset_length(std::string_view s) {
    std::size_t end = s.size();
    std::size_t frac = end;
    while (frac > 0 && is_digit(s[frac - 1])) --frac;
    if (frac > 0 && frac < end && s[frac - 1] == '.') end = frac - 1;  // a fraction of the seconds
    auto hh_mm = [&](std::size_t at) {                                 // "+HH:MM" at s[at..at+6)
        return (s[at] == '+' || s[at] == '-') && is_digit(s[at + 1]) && is_digit(s[at + 2]) &&
               s[at + 3] == ':' && is_digit(s[at + 4]) && is_digit(s[at + 5]);
    };
    if (end >= 9 && s[end - 3] == ':' && is_digit(s[end - 2]) && is_digit(s[end - 1]) &&
        hh_mm(end - 9))
        return s.size() - (end - 9);
    if (s.size() >= 6 && hh_mm(s.size() - 6)) return 6;
    return 0;
}

std::string_view trim_offset(std::string_view s, std::string_view& offset) {
    if (!s.empty() && s.back() == 'Z') {
        offset = s.substr(s.size() - 1);
        return s.substr(0, s.size() - 1);
    }
    std::size_t n = offset_length(s);
    offset = s.substr(s.size() - n);
    return s.substr(0, s.size() - n);
}

// ---------------------------------------------------------------------------
// The conversion. Every object handed to encode() is kept alive by its
// caller for the duration of the call: containers are snapshotted into
// `held_` (strong references) before their members are converted.

class Encoder {
  public:
    explicit Encoder(const EncodeContext& context) : ctx_(context), storage_(*context.storage) {}

    bool encode(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out);

    Error take_error() { return std::move(error_); }

  private:
    // Fails with the pending Python exception.
    bool python_failed() {
        error_ = Error::python_raised();
        return false;
    }
    bool fail_with(const char* message, int kind) {
        error_ = Error::conversion(message, kind);
        return false;
    }

    bool child(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out) {
        bool ok;
        if (depth < kMaxDepth && exact_scalar(o, out, ok)) return ok;
        return nested(o, depth, dflt, out);
    }
    // Out of line, so that the scalars' path through child stays small.
    [[gnu::noinline]] bool nested(PyObject* o, std::uint32_t depth, PyObject* dflt,
                                  YamlValue& out) {
        return stack_.run([&] { return encode(o, depth, dflt, out); });
    }

    bool exact_scalar(PyObject* o, YamlValue& out, bool& ok);
    bool view_str(PyObject* s, std::string_view& out);
    // Makes `out` a collection of `count` null nodes in the arena, to be filled.
    YamlValue* new_items(YamlValue& out, ValueKind kind, std::size_t count) {
        YamlValue* items = YamlValue::store_nodes(storage_.arena, nullptr, count);
        for (std::size_t i = 0; i < count; ++i) items[i] = YamlValue::null();
        out = YamlValue::collection(kind, items, count);
        return items;
    }
    bool take_str(Ref s, std::string_view& out);
    // A rule result (1, or -1 on failure) with `out` the String of `s`.
    int string_result(Ref s, YamlValue& out) {
        std::string_view text;
        if (!take_str(std::move(s), text)) return -1;
        out = YamlValue::string(text);
        return 1;
    }
    bool integer(PyObject* o, YamlValue& out);
    bool str_subclass(PyObject* o, YamlValue& out);
    bool bytes(PyObject* o, YamlValue& out);
    bool container(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out);
    bool exact_list(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out);
    bool exact_tuple(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out);
    bool iterated(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out);
    bool mapping(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out);
    bool subclass_rules(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out, bool& ok);
    bool tagged(PyObject* tag, PyObject* value, std::uint32_t depth, PyObject* dflt,
                YamlValue& out);
    int tags_callback(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out);
    int date_time(PyObject* o, YamlValue& out);
    int enum_member(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out);
    int dataclass(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out);
    int numpy_value(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out);
    int module_type(PyObject* o, const char* type, const char* module);
    int uuid_or_decimal(PyObject* o, YamlValue& out);
    int path_like(PyObject* o, YamlValue& out);
    bool fallback(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out);

    // Lists and dicts already encoded, when they are shared.
    struct Encoded {
        YamlValue value;
        std::uint32_t height;  // levels below the container itself
    };
    std::unordered_map<PyObject*, Encoded> encoded_;
    std::uint32_t deepest_ = 0;  // the deepest level encoded, while sharing

    // Drops the references a snapshot pushed onto held_.
    struct Held {
        std::vector<PyObject*>& v;
        std::size_t base;
        ~Held() {
            for (std::size_t i = base; i < v.size(); ++i) Py_DECREF(v[i]);
            v.resize(base);
        }
    };

    const EncodeContext& ctx_;
    EncodeStorage& storage_;
    std::vector<PyObject*> held_;
    Error error_;
    // Nested containers check the stack by frame address, not by a
    // thread-local lookup each.
    StackRoom stack_;
};

// Exact None, str, int, float and bool: no Python code runs for these.
bool Encoder::exact_scalar(PyObject* o, YamlValue& out, bool& ok) {
    PyTypeObject* t = Py_TYPE(o);
    if (o == Py_None) {
        out = YamlValue::null();
        ok = true;
    } else if (t == &PyUnicode_Type) {
        std::string_view text;
        ok = view_str(o, text);
        out = YamlValue::string(text);
    } else if (t == &PyLong_Type) {
        ok = integer(o, out);
    } else if (t == &PyFloat_Type) {
        out = YamlValue::from_float(PyFloat_AS_DOUBLE(o));
        ok = true;
    } else if (t == &PyBool_Type) {
        out = YamlValue::from_bool(o == Py_True);
        ok = true;
    } else {
        return false;
    }
    return true;
}

// Views the UTF-8 of a str that is kept alive in storage; lone surrogates
// make a replaced copy in the arena instead.
bool Encoder::view_str(PyObject* s, std::string_view& out) {
    int r = borrowed_utf8(s, out);
    if (r < 0) return python_failed();
    if (r > 0) {
        // Short texts are cheaper to copy than to keep alive: the copy is
        // sequential, while releasing a reference later touches the object again.
        if (out.size() <= kCopyLimit) {
            out = storage_.arena.store(out);
        } else {
            storage_.kept.push_back(Ref::borrow(s));
        }
    } else {
        out = storage_.arena.store(replace_surrogates(s));
    }
    return true;
}

bool Encoder::take_str(Ref s, std::string_view& out) {
    if (!s) return python_failed();
    return view_str(s.get(), out);
}

// Signed 64-bit when it fits, else the decimal text of int(o).
bool Encoder::integer(PyObject* o, YamlValue& out) {
    long long small;
    if (compact_int_value(o, small)) {
        out = YamlValue::from_int(small);
        return true;
    }
    int overflow = 0;
    long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
    if (overflow == 0) {
        if (v == -1 && PyErr_Occurred()) return python_failed();
        out = YamlValue::from_int(v);
        return true;
    }
    Ref as_int(PyNumber_Long(o));
    if (!as_int) return python_failed();
    Ref digits(PyObject_Str(as_int.get()));
    std::string_view text;
    if (!take_str(std::move(digits), text)) return false;
    out = YamlValue::big_int(text);
    return true;
}

// str(o) decides the text; a failing __str__ is reported as unraisable.
bool Encoder::str_subclass(PyObject* o, YamlValue& out) {
    std::string_view view;
    Ref text(PyObject_Str(o));
    if (text) {
        if (!view_str(text.get(), view)) return false;
        out = YamlValue::string(view);
        return true;
    }
    PyErr_WriteUnraisable(o);
    Ref n(PyType_GetName(Py_TYPE(o)));
    Ref fallback = n ? Ref(PyUnicode_FromFormat("<unprintable %U object>", n.get())) : Ref();
    if (!fallback) {
        PyErr_Clear();
        out = YamlValue::string("<unprintable object>");
        return true;
    }
    if (!view_str(fallback.get(), view)) return false;
    out = YamlValue::string(view);
    return true;
}

bool Encoder::bytes(PyObject* o, YamlValue& out) {
    std::string_view content(PyBytes_AS_STRING(o), static_cast<std::size_t>(PyBytes_GET_SIZE(o)));
    if (utf8::validate(content)) return fail_with(kBadBytes, conversion_kind::encode);
    storage_.kept.push_back(Ref::borrow(o));  // bytes are immutable: the view stays valid
    out = YamlValue::string(content);
    return true;
}

bool Encoder::container(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out) {
    const bool list = Py_TYPE(o) == &PyList_Type;
    if (!ctx_.share_repeated)
        return list ? exact_list(o, depth, dflt, out) : mapping(o, depth, dflt, out);
    // A tree fits wherever its height (and its scalars a level below)
    // stays within the depth limit.
    auto it = encoded_.find(o);
    if (it != encoded_.end() && depth + it->second.height + 1 < kMaxDepth) {
        out = it->second.value;
        deepest_ = std::max(deepest_, depth + it->second.height);
        return true;
    }
    const std::uint32_t outer = std::max(deepest_, depth);
    deepest_ = depth;
    if (!(list ? exact_list(o, depth, dflt, out) : mapping(o, depth, dflt, out))) return false;
    const std::uint32_t height = deepest_ - depth;
    deepest_ = std::max(outer, deepest_);
    if (it == encoded_.end()) {
        // Held while the tree is, so that no other object takes its address.
        storage_.kept.push_back(Ref::borrow(o));
        encoded_.emplace(o, Encoded{out, height});
    }
    return true;
}

bool Encoder::exact_list(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out) {
    Held held{held_, held_.size()};
    Py_ssize_t n;
    QUARVEL_BEGIN_CRITICAL_SECTION(o);
    n = PyList_GET_SIZE(o);
    held_.reserve(held.base + static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) held_.push_back(Py_NewRef(PyList_GET_ITEM(o, i)));
    QUARVEL_END_CRITICAL_SECTION();
    YamlValue* items = new_items(out, ValueKind::Sequence, static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (!child(held_[held.base + i], depth + 1, dflt, items[i])) return false;
    }
    return true;
}

// A tuple never changes, and the caller keeps it alive, so its items are too.
bool Encoder::exact_tuple(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out) {
    const Py_ssize_t n = PyTuple_GET_SIZE(o);
    YamlValue* items = new_items(out, ValueKind::Sequence, static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (!child(PyTuple_GET_ITEM(o, i), depth + 1, dflt, items[i])) return false;
    }
    return true;
}

// Subclasses, sets and frozensets: iterated into a private list first, so the
// conversion cannot disturb the iteration.
bool Encoder::iterated(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out) {
    Ref items(PySequence_List(o));
    if (!items) return python_failed();
    const Py_ssize_t n = PyList_GET_SIZE(items.get());
    YamlValue* nodes = new_items(out, ValueKind::Sequence, static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        if (!child(PyList_GET_ITEM(items.get(), i), depth + 1, dflt, nodes[i])) return false;
    }
    return true;
}

// The dict's own storage in insertion order (overridden items() or __iter__
// of a subclass are not used), snapshotted before any key is converted.
bool Encoder::mapping(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out) {
    Held held{held_, held_.size()};
    QUARVEL_BEGIN_CRITICAL_SECTION(o);
    held_.reserve(held.base + 2 * static_cast<std::size_t>(PyDict_GET_SIZE(o)));
    Py_ssize_t pos = 0;
    PyObject* key;
    PyObject* value;
    while (PyDict_Next(o, &pos, &key, &value)) {
        held_.push_back(Py_NewRef(key));
        held_.push_back(Py_NewRef(value));
    }
    QUARVEL_END_CRITICAL_SECTION();
    const std::size_t count = held_.size() - held.base;
    YamlValue* items = new_items(out, ValueKind::Mapping, count);
    for (std::size_t i = 0; i < count; ++i) {
        if (!child(held_[held.base + i], depth + 1, dflt, items[i])) return false;
    }
    return true;
}

// The subclass rules; returns false when none applies.
bool Encoder::subclass_rules(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out,
                             bool& ok) {
    if (PyLong_Check(o)) {
        ok = integer(o, out);
    } else if (PyFloat_Check(o)) {
        double d = PyFloat_AsDouble(o);
        ok = !(d == -1.0 && PyErr_Occurred()) || python_failed();
        out = YamlValue::from_float(d);
    } else if (PyUnicode_Check(o)) {
        ok = str_subclass(o, out);
    } else if (PyBytes_Check(o)) {
        ok = bytes(o, out);
    } else if (PyTuple_CheckExact(o)) {
        ok = exact_tuple(o, depth, dflt, out);
    } else if (PyList_Check(o) || PyTuple_Check(o)) {
        ok = iterated(o, depth, dflt, out);
    } else if (PyDict_Check(o)) {
        ok = mapping(o, depth, dflt, out);
    } else if (PyAnySet_Check(o)) {
        ok = iterated(o, depth, dflt, out);
    } else {
        return false;
    }
    return true;
}

bool Encoder::tagged(PyObject* tag, PyObject* value, std::uint32_t depth, PyObject* dflt,
                     YamlValue& out) {
    std::string_view text;
    if (!view_str(tag, text)) return false;
    // A tag YAML has no spelling for would come out as text that reads back
    // as something else; JSON drops tags, so only YAML output refuses it.
    if (ctx_.tags_must_be_yaml && tag_spelling(text) == TagSpelling::None)
        return fail_with(("cannot write the tag " + std::string(text) + " in YAML").c_str(),
                         conversion_kind::encode);
    out = YamlValue::tagged(storage_.arena, text, YamlValue::null());
    if (!child(value, depth + 1, dflt, out.inner())) return false;
    // A YAML node has one tag: "!a !b x" is no YAML.
    if (ctx_.tags_must_be_yaml && out.inner().kind == ValueKind::Tagged)
        return fail_with(("cannot write the tag " + std::string(text) +
                          " on a value that has the tag " + std::string(out.inner().text()))
                             .c_str(),
                         conversion_kind::encode);
    return true;
}

// Rule results: 1 handled, 0 does not apply, -1 failed (error_ set).
int Encoder::tags_callback(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out) {
    PyObject* found = PyDict_GetItemWithError(ctx_.tags, reinterpret_cast<PyObject*>(Py_TYPE(o)));
    if (!found) return PyErr_Occurred() ? (python_failed(), -1) : 0;
    Ref callback = Ref::borrow(found);  // the callback may drop its own dict entry
    Ref result(PyObject_CallOneArg(callback.get(), o));
    if (!result) return python_failed(), -1;
    PyObject* r = result.get();
    if (is_tag(r)) return tagged(tag_text(r), tag_value(r), depth, dflt, out) ? 1 : -1;
    if (PyErr_Occurred()) return python_failed(), -1;
    if (!PyTuple_Check(r) || PyTuple_GET_SIZE(r) != 2)
        return fail_with(kBadTagsResult, conversion_kind::encode), -1;
    PyObject* tag = PyTuple_GET_ITEM(r, 0);
    if (!PyUnicode_Check(tag)) {
        PyErr_Format(PyExc_TypeError, "'%.200s' object cannot be converted to 'str'",
                     Py_TYPE(tag)->tp_name);
        return python_failed(), -1;
    }
    return tagged(tag, PyTuple_GET_ITEM(r, 1), depth, dflt, out) ? 1 : -1;
}

int Encoder::date_time(PyObject* o, YamlValue& out) {
    PyObject* n = name(Name::isoformat);
    if (!n) return python_failed(), -1;
    Ref method(PyObject_GetAttr(o, n));
    if (!method) {
        PyErr_Clear();  // any failing lookup counts as "no isoformat"
        return 0;
    }
    Ref text(PyObject_CallNoArgs(method.get()));
    if (!text) return python_failed(), -1;
    if (!PyUnicode_Check(text.get())) return 0;
    std::string raw;
    if (!lenient_utf8(text.get(), raw)) return python_failed(), -1;
    std::string normal;
    normalise_isoformat(raw, {ctx_.omit_microseconds, ctx_.naive_utc, ctx_.utc_z}, normal);
    out = YamlValue::string(storage_.arena.store(normal));
    return 1;
}

int Encoder::enum_member(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out) {
    PyTypeObject* meta = Py_TYPE(Py_TYPE(o));
    if (meta == &PyType_Type) return 0;
    if (!type_name_is(meta, "EnumType") && !type_name_is(meta, "EnumMeta")) return 0;
    PyObject* n = name(Name::value);
    if (!n) return python_failed(), -1;
    Ref value(PyObject_GetAttr(o, n));
    if (!value) return python_failed(), -1;
    return child(value.get(), depth + 1, dflt, out) ? 1 : -1;
}

int Encoder::dataclass(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out) {
    Ref fields;
    int has = optional_attr(o, Name::dataclass_fields, fields);
    if (has < 0) return python_failed(), -1;
    if (has == 0 || PyType_Check(o)) return 0;
    Ref names(PySequence_List(fields.get()));
    if (!names) return python_failed(), -1;
    const Py_ssize_t n = PyList_GET_SIZE(names.get());
    YamlValue* items = new_items(out, ValueKind::Mapping, 2 * static_cast<std::size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyObject* field = PyList_GET_ITEM(names.get(), i);
        if (!PyUnicode_Check(field)) {
            PyErr_Format(PyExc_TypeError, "'%.200s' object cannot be converted to 'str'",
                         Py_TYPE(field)->tp_name);
            return python_failed(), -1;
        }
        std::string_view key;
        if (!view_str(field, key)) return -1;
        items[2 * i] = YamlValue::string(key);
        Ref value(PyObject_GetAttr(o, field));
        if (!value) return python_failed(), -1;
        if (!child(value.get(), depth + 1, dflt, items[2 * i + 1])) return -1;
    }
    return 1;
}

int Encoder::numpy_value(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out) {
    const NumpyTypes& np = numpy_types();
    if (!np.ndarray) return 0;
    int is = PyObject_IsInstance(o, np.ndarray);
    if (is == 0) is = PyObject_IsInstance(o, np.generic);
    if (is < 0) return python_failed(), -1;
    if (is == 0) return 0;
    Ref plain(PyObject_CallMethodNoArgs(o, name(Name::tolist)));
    if (!plain) {
        PyErr_Clear();
        plain = Ref(PyObject_CallMethodNoArgs(o, name(Name::item)));
    }
    if (!plain) {
        PyErr_Clear();
        return 0;
    }
    return child(plain.get(), depth + 1, dflt, out) ? 1 : -1;
}

// 1 when type(o).__name__ is `type` and type(o).__module__ is the str `module`.
int Encoder::module_type(PyObject* o, const char* type, const char* module) {
    if (!type_name_is(Py_TYPE(o), type)) return 0;
    PyObject* n = name(Name::module);
    if (!n) return python_failed(), -1;
    Ref mod(PyObject_GetAttr(reinterpret_cast<PyObject*>(Py_TYPE(o)), n));
    if (!mod) return python_failed(), -1;
    return PyUnicode_Check(mod.get()) && PyUnicode_CompareWithASCIIString(mod.get(), module) == 0
               ? 1
               : 0;
}

int Encoder::uuid_or_decimal(PyObject* o, YamlValue& out) {
    int is_uuid = module_type(o, "UUID", "uuid");
    if (is_uuid < 0) return -1;
    if (is_uuid) {
        return string_result(Ref(PyObject_Str(o)), out);
    }
    int is_decimal = module_type(o, "Decimal", "decimal");
    if (is_decimal <= 0) return is_decimal;
    double d = PyFloat_AsDouble(o);
    if (!(d == -1.0 && PyErr_Occurred())) {
        out = YamlValue::from_float(d);
        return 1;
    }
    PyErr_Clear();  // a signalling NaN has no float value: keep its text
    return string_result(Ref(PyObject_Str(o)), out);
}

int Encoder::path_like(PyObject* o, YamlValue& out) {
    Ref method;
    int has = optional_attr(o, Name::fspath, method);
    if (has <= 0) return has < 0 ? (python_failed(), -1) : 0;
    Ref path(PyObject_CallNoArgs(method.get()));
    if (!path) return python_failed(), -1;
    if (!PyUnicode_Check(path.get())) return 0;
    return string_result(std::move(path), out);
}

// default(o) converted without default: it applies at most once per object.
bool Encoder::fallback(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out) {
    if (!dflt) {
        std::string message = "type " + type_name(Py_TYPE(o)) + " is not YAML serializable";
        return fail_with(message.c_str(), conversion_kind::unserializable);
    }
    Ref replacement(PyObject_CallOneArg(dflt, o));
    if (!replacement) return python_failed();
    return child(replacement.get(), depth + 1, nullptr, out);
}

bool Encoder::encode(PyObject* o, std::uint32_t depth, PyObject* dflt, YamlValue& out) {
    // depth counts from 0: kMaxDepth levels are allowed
    if (depth >= kMaxDepth) return fail_with(kTooDeep, conversion_kind::encode);
    if (depth > deepest_) deepest_ = depth;
    bool ok = false;
    if (exact_scalar(o, out, ok)) return ok;
    PyTypeObject* t = Py_TYPE(o);
    if (t == &PyList_Type || t == &PyDict_Type) return container(o, depth, dflt, out);
    if (subclass_rules(o, depth, dflt, out, ok)) return ok;
    if (is_tag(o)) return tagged(tag_text(o), tag_value(o), depth, dflt, out);
    if (PyErr_Occurred()) return python_failed();  // the tag type could not be made

    int r = 0;
    if (ctx_.tags && (r = tags_callback(o, depth, dflt, out)) != 0) return r > 0;
    if (!ctx_.passthrough_datetime && (r = date_time(o, out)) != 0) return r > 0;
    if ((r = enum_member(o, depth, dflt, out)) != 0) return r > 0;
    if (!ctx_.passthrough_dataclass && (r = dataclass(o, depth, dflt, out)) != 0) return r > 0;
    if (ctx_.serialize_numpy && (r = numpy_value(o, depth, dflt, out)) != 0) return r > 0;
    if ((r = uuid_or_decimal(o, out)) != 0) return r > 0;
    if ((r = path_like(o, out)) != 0) return r > 0;
    return fallback(o, depth, dflt, out);
}

}  // namespace

EncodeContext encode_context_from_options(std::uint64_t option) {
    EncodeContext c;
    c.serialize_numpy = option & opt::SERIALIZE_NUMPY;
    c.omit_microseconds = option & opt::OMIT_MICROSECONDS;
    c.naive_utc = option & opt::NAIVE_UTC;
    c.utc_z = option & opt::UTC_Z;
    c.passthrough_datetime = option & opt::PASSTHROUGH_DATETIME;
    c.passthrough_dataclass = option & opt::PASSTHROUGH_DATACLASS;
    return c;
}

Result<YamlValue> encode_object(PyObject* object, const EncodeContext& context) {
    Encoder encoder(context);
    YamlValue out;
    bool ok = ensure_stack(
        [&] { return encoder.encode(object, context.depth, context.default_fn, out); });
    // A nested object that found no stack fails without an error of its own.
    if (!ok && stack_exhausted()) return fail(stack_exhausted_error());
    if (!ok) return fail(encoder.take_error());
    return out;
}

bool lenient_utf8(PyObject* s, std::string& out) {
    std::string_view view;
    int r = borrowed_utf8(s, view);
    if (r < 0) return false;
    if (r > 0) {
        out.assign(view);
    } else {
        out = replace_surrogates(s);
    }
    return true;
}

void normalise_isoformat(std::string_view text, const DateTimeFlags& flags, std::string& out) {
    std::string_view offset;
    std::string_view body = trim_offset(text, offset);
    const bool date_and_time = body.find('T') != std::string_view::npos;
    if (flags.omit_microseconds) body = body.substr(0, body.find('.'));
    if (flags.naive_utc && offset.empty() && date_and_time) offset = "+00:00";
    if (flags.utc_z && offset == "+00:00") offset = "Z";
    out.reserve(body.size() + offset.size());
    out.append(body);
    out.append(offset);
}

}  // namespace quarvel::py
