#include "ffi/convert/json_direct.hpp"

#include <algorithm>
#include <charconv>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "encode/json_sink.hpp"
#include "ffi/convert/strings.hpp"
#include "pyutil/compact_int.hpp"
#include "pyutil/py_ref.hpp"
#include "support/limits.hpp"
#include "support/stack.hpp"
#include "support/utf8.hpp"
#include "support/warm_memory.hpp"

namespace quarvel::py {
namespace {

// The store of the direct writer: the bytes object it returns, written in
// place, grown by reallocation and cut to its length at the end, so that the
// text is never copied out of a buffer of its own. Needs the lock throughout.
//
// How it grows keeps large texts' memory mapped from one call to the next
// (with the C library's heap: glibc's). A bytes object starts small and
// doubles; past kSmallBytes it grows at once to the longest output this
// thread has written (up to kKeepBytes), and past that by 64 KiB once (the
// slack the writers reserve at the end of a text as long as the last), then
// doubling again. Calls that write no more than an earlier one then take
// their memory from the top of the heap, where the earlier output was freed.
// A block doubled past the largest one freed so far is mapped afresh and each
// of its pages faulted in: 8.7 MB of text took 4.4 ms a call that way, 1.9 ms
// copied out of a kept buffer, and 1.2 ms written in place like this. (A call
// after a much longer one reserves that length for a moment, untouched.)
class BytesStore final : public TextStore {
  public:
    BytesStore() = default;
    ~BytesStore() { Py_XDECREF(bytes_); }
    BytesStore(const BytesStore&) = delete;
    BytesStore& operator=(const BytesStore&) = delete;

    char* grow(std::size_t, std::size_t& size) override {
        size = std::max(size, next_size());
        if (!bytes_) {
            bytes_ = PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
        } else if (_PyBytes_Resize(&bytes_, static_cast<Py_ssize_t>(size)) < 0) {
            bytes_ = nullptr;
        }
        if (!bytes_) {
            PyErr_Clear();
            throw std::bad_alloc();
        }
        size_ = size;
        return PyBytes_AS_STRING(bytes_);
    }
    void finish(std::size_t used) override { used_ = used; }

    // The bytes written, cut to their length; null with an exception set.
    PyObject* take() {
        if (!bytes_) return PyBytes_FromStringAndSize(nullptr, 0);
        if (_PyBytes_Resize(&bytes_, static_cast<Py_ssize_t>(used_)) < 0) return nullptr;
        longest = std::min(std::max(longest, used_), warm::kKeepBytes);
        return std::exchange(bytes_, nullptr);
    }

  private:
    static constexpr std::size_t kSmallBytes = 128 << 10;
    static constexpr std::size_t kSlack = 64 << 10;

    std::size_t next_size() {
        if (size_ == 0) return 256;
        if (size_ < kSmallBytes) {
            const std::size_t doubled = 2 * size_;
            return doubled < kSmallBytes ? doubled : std::max(doubled, longest);
        }
        if (!past_longest_) {
            past_longest_ = true;
            return size_ + kSlack;
        }
        return 2 * size_;
    }

    static thread_local std::size_t longest;

    PyObject* bytes_ = nullptr;
    std::size_t size_ = 0;
    std::size_t used_ = 0;
    bool past_longest_ = false;
};

thread_local std::size_t BytesStore::longest = 0;

// Layout is JsonLayout or CompactJsonLayout: the compact one, by far the most
// used, is a type of its own so that its walk tests no indentation.
template <class Layout>
class DirectJsonWriter {
  public:
    DirectJsonWriter(bool sort_keys, Layout layout, TextStore& out)
        : sort_keys_(sort_keys),
          layout_(layout),
          out_(out),
          stack_floor_(stack_floor(kMinStackLeft)) {}

    // False: the general path must write this graph.
    // Scalars are written here, inline in the loops over containers, and a
    // container is looked at once (not again as a possible scalar).
    [[gnu::always_inline]] bool value(PyObject* o, std::size_t depth) {
        // Nesting past the limit is the general path's error to raise.
        if (depth >= kMaxDepth) return false;
        const int done = scalar(o);
        return done >= 0 ? done != 0 : container(o, depth);
    }

  private:
    bool container(PyObject* o, std::size_t depth) {
        PyTypeObject* t = Py_TYPE(o);
        // The general path grows the stack where this one gives up.
        if (frame_address() <= stack_floor_) return false;
        if (t == &PyDict_Type) return mapping(o, depth);
        if (t == &PyList_Type) return items(o, PyList_GET_SIZE(o), &list_item, depth);
        if (t == &PyTuple_Type) return items(o, PyTuple_GET_SIZE(o), &tuple_item, depth);
        return false;
    }

    // 1 when `o` is a scalar this path wrote, 0 when it is one this path
    // gives up on, -1 when it is no scalar.
    [[gnu::always_inline]] int scalar(PyObject* o) {
        PyTypeObject* t = Py_TYPE(o);
        if (t == &PyUnicode_Type) return string(o);
        if (t == &PyLong_Type) return integer(o, out_);
        if (t == &PyFloat_Type) {
            put_json_float(PyFloat_AS_DOUBLE(o), out_);
            return 1;
        }
        if (o == Py_None) {
            out_.put("null");
            return 1;
        }
        if (t == &PyBool_Type) {
            out_.put(o == Py_True ? std::string_view("true") : std::string_view("false"));
            return 1;
        }
        return -1;
    }

    static PyObject* list_item(PyObject* o, Py_ssize_t i) { return PyList_GET_ITEM(o, i); }
    static PyObject* tuple_item(PyObject* o, Py_ssize_t i) { return PyTuple_GET_ITEM(o, i); }

    bool string(PyObject* s) {
        if (PyUnicode_IS_COMPACT_ASCII(s)) {
            put_json_string(ascii_text(s), out_);
            return true;
        }
        return wide_string(s);
    }

    // A str that is not ASCII: from the UTF-8 copy it keeps, if it has one,
    // else from the code points it stores, without making it keep a copy
    // (which would stay with the caller's object). A lone surrogate is the
    // general path's to write.
    [[gnu::noinline]] bool wide_string(PyObject* s) {
        if (!PyUnicode_IS_COMPACT(s)) {
            std::string_view text;
            if (borrowed_utf8(s, text) <= 0) return give_up();
            put_json_string(text, out_);
            return true;
        }
        std::size_t size = 0;
        if (const char* utf8 = kept_utf8(s, size)) {
            put_json_string(std::string_view(utf8, size), out_);
            return true;
        }
        const auto n = static_cast<std::size_t>(PyUnicode_GET_LENGTH(s));
        const void* data = PyUnicode_DATA(s);
        bool written = false;
        switch (PyUnicode_KIND(s)) {
            case PyUnicode_1BYTE_KIND:
                written = put_json_string(static_cast<const std::uint8_t*>(data), n, out_);
                break;
            case PyUnicode_2BYTE_KIND:
                written = put_json_string(static_cast<const std::uint16_t*>(data), n, out_);
                break;
            default:
                written = put_json_string(static_cast<const std::uint32_t*>(data), n, out_);
                break;
        }
        return written || give_up();
    }

    static std::string_view ascii_text(PyObject* s) {
        return {static_cast<const char*>(PyUnicode_DATA(s)),
                static_cast<std::size_t>(PyUnicode_GET_LENGTH(s))};
    }

    // Digits of an exact int; one beyond 64 bits through str(). Inline for
    // the ints the interpreter keeps in one digit (below 2^30).
    template <class Out>
    [[gnu::always_inline]] bool integer(PyObject* o, Out& out) {
        long long small;
        if (compact_int_value(o, small)) {
            put_digits(small, out);
            return true;
        }
        return wide_integer(o, out);
    }

    // An int of more than one digit of the interpreter's, out of line.
    template <class Out>
    [[gnu::noinline]] bool wide_integer(PyObject* o, Out& out) {
        int overflow = 0;
        const long long v = PyLong_AsLongLongAndOverflow(o, &overflow);
        if (overflow == 0) {
            if (v == -1 && PyErr_Occurred()) return give_up();
            put_digits(v, out);
            return true;
        }
        Ref digits(PyObject_Str(o));
        std::string_view text;
        if (!digits || borrowed_utf8(digits.get(), text) <= 0) return give_up();
        put_text(text, out);
        return true;
    }

    template <class Get>
    bool items(PyObject* o, Py_ssize_t n, Get get, std::size_t depth) {
        if (n == 0) {
            out_.put("[]");
            return true;
        }
        out_.put('[');
        for (Py_ssize_t i = 0; i < n; ++i) {
            layout_.open_member(out_, i == 0, depth);
            if (!value(get(o, i), depth + 1)) return false;
        }
        layout_.close(out_, ']', depth);
        return true;
    }

    bool mapping(PyObject* o, std::size_t depth) {
        const Py_ssize_t n = PyDict_GET_SIZE(o);
        if (n == 0) {
            out_.put("{}");
            return true;
        }
        if (sort_keys_ && n >= 2) return sorted_mapping(o, depth);
        out_.put('{');
        Py_ssize_t pos = 0;
        PyObject *key, *item;
        // No code of the caller's runs during the walk, so the dict keeps its
        // n entries: the loop takes them without the call that finds the end.
        for (Py_ssize_t i = 0; i < n; ++i) {
            if (!PyDict_Next(o, &pos, &key, &item)) return false;
            if (!short_compact_key(key, i == 0)) {
                layout_.open_member(out_, i == 0, depth);
                if (!write_key(key)) return false;
                layout_.key_separator(out_);
            }
            if (!value(item, depth + 1)) return false;
        }
        layout_.close(out_, '}', depth);
        return true;
    }

    // Most keys of a compact mapping: a short str, written with the
    // separators around it in one step.
    [[gnu::always_inline]] bool short_compact_key(PyObject* key, bool first) {
        if constexpr (!std::is_same_v<Layout, CompactJsonLayout>) {
            return false;
        } else {
            if (Py_TYPE(key) != &PyUnicode_Type || !PyUnicode_IS_COMPACT_ASCII(key)) return false;
            const std::string_view text = ascii_text(key);
            return json_detail::put_short_key(text.data(), text.size(), first, out_);
        }
    }

    bool write_key(PyObject* key) {
        if (Py_TYPE(key) == &PyUnicode_Type) return string(key);
        scratch_.clear();
        if (!key_text(key, scratch_)) return false;
        put_json_string(scratch_, out_);
        return true;
    }

    // The text a scalar key stands for: "1", "1.5", "true", "null".
    bool key_text(PyObject* key, std::string& out) {
        PyTypeObject* t = Py_TYPE(key);
        if (t == &PyUnicode_Type) return str_text(key, out);
        if (t == &PyLong_Type) return integer(key, out);
        if (t == &PyFloat_Type) {
            json_float(PyFloat_AS_DOUBLE(key), out);
            return true;
        }
        if (key == Py_None) {
            out.append("null");
            return true;
        }
        if (t == &PyBool_Type) {
            out.append(key == Py_True ? "true" : "false");
            return true;
        }
        return false;
    }

    // Appends the UTF-8 text of str `s` to `out`, as wide_string reads it.
    static bool str_text(PyObject* s, std::string& out) {
        if (PyUnicode_IS_COMPACT_ASCII(s)) {
            out.append(ascii_text(s));
            return true;
        }
        std::size_t size = 0;
        const char* utf8 = PyUnicode_IS_COMPACT(s) ? kept_utf8(s, size) : nullptr;
        if (utf8 || !PyUnicode_IS_COMPACT(s)) {
            std::string_view text(utf8, size);
            if (!utf8 && borrowed_utf8(s, text) <= 0) return give_up();
            out.append(text);
            return true;
        }
        const int kind = PyUnicode_KIND(s);
        const void* data = PyUnicode_DATA(s);
        const Py_ssize_t n = PyUnicode_GET_LENGTH(s);
        for (Py_ssize_t i = 0; i < n; ++i) {
            const Py_UCS4 c = PyUnicode_READ(kind, data, i);
            if (utf8::is_surrogate(c)) return false;
            utf8::append(out, c);
        }
        return true;
    }

    struct Member {
        std::size_t offset;
        std::size_t length;
        PyObject* value;
    };

    // Key texts go into one buffer per object; sorting moves small records.
    bool sorted_mapping(PyObject* o, std::size_t depth) {
        std::string keys;
        std::vector<Member> members;
        members.reserve(static_cast<std::size_t>(PyDict_GET_SIZE(o)));
        Py_ssize_t pos = 0;
        PyObject *key, *item;
        while (PyDict_Next(o, &pos, &key, &item)) {
            const std::size_t start = keys.size();
            if (!key_text(key, keys)) return false;
            members.push_back({start, keys.size() - start, item});
        }
        auto text_of = [&keys](const Member& m) {
            return std::string_view(keys).substr(m.offset, m.length);
        };
        std::stable_sort(members.begin(), members.end(),
                         [&](const Member& a, const Member& b) { return text_of(a) < text_of(b); });
        out_.put('{');
        for (std::size_t i = 0; i < members.size(); ++i) {
            layout_.open_member(out_, i == 0, depth);
            put_json_string(text_of(members[i]), out_);
            layout_.key_separator(out_);
            if (!value(members[i].value, depth + 1)) return false;
        }
        layout_.close(out_, '}', depth);
        return true;
    }

    static void put_digits(long long v, TextSink& out) { put_json_int(v, out); }
    static void put_digits(long long v, std::string& out) {
        char buf[24];
        out.append(buf, std::to_chars(buf, buf + sizeof buf, v).ptr);
    }
    static void put_text(std::string_view t, TextSink& out) { out.put(t); }
    static void put_text(std::string_view t, std::string& out) { out.append(t); }

    // Drops a Python error this path met: the general path meets it again.
    static bool give_up() {
        PyErr_Clear();
        return false;
    }

    bool sort_keys_;
    Layout layout_;
    TextSink out_;
    std::string scratch_;
    // This walk stays on the stack it started on: below this address, the
    // general path (which can move to a new segment) takes over.
    const std::uintptr_t stack_floor_;
};

// Writes `root` into `store`; false when the general path must write it.
template <class Layout>
bool write_direct(PyObject* root, bool sort_keys, Layout layout, TextStore& store) {
    DirectJsonWriter<Layout> writer(sort_keys, layout, store);
    return writer.value(root, 0);
}

}  // namespace

PyObject* json_bytes_direct(PyObject* root, const JsonSettings& settings, bool& gave_up) {
    gave_up = true;
#ifdef Py_GIL_DISABLED
    // Without the lock, another thread may change a container mid-walk.
    (void)root;
    (void)settings;
    return nullptr;
#else
    BytesStore store;
    const bool written =
        settings.indent == 0
            ? write_direct(root, settings.sort_keys, CompactJsonLayout{}, store)
            : write_direct(root, settings.sort_keys, JsonLayout{settings.indent}, store);
    if (!written) return nullptr;
    gave_up = false;
    return store.take();
#endif
}

}  // namespace quarvel::py
