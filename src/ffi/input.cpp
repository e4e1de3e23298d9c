#include "ffi/input.hpp"

#include <cstring>

#include "pyutil/py_ref.hpp"
#include "support/utf8.hpp"

namespace quarvel::py {
namespace {

constexpr const char* kWrongInput =
    "loads() requires str, bytes, bytearray, or a buffer (e.g. memoryview)";

bool is_unsigned_byte_format(const char* format) {
    if (format == nullptr) return true;
    // An optional byte-order or alignment prefix, then "B".
    if (*format == '@' || *format == '=' || *format == '<' || *format == '>' || *format == '!')
        ++format;
    return std::strcmp(format, "B") == 0;
}

// Copies any buffer of unsigned bytes (contiguous or not) in C order.
Result<std::string> read_buffer(PyObject* data) {
    Py_buffer view;
    if (PyObject_GetBuffer(data, &view, PyBUF_FULL_RO) < 0) {
        PyErr_Clear();
        return fail(Error::argument(kWrongInput, argument_kind::type_error));
    }
    if (view.itemsize != 1 || !is_unsigned_byte_format(view.format)) {
        PyBuffer_Release(&view);
        return fail(Error::argument(kWrongInput, argument_kind::type_error));
    }
    std::string bytes(static_cast<std::size_t>(view.len), '\0');
    int rc = PyBuffer_ToContiguous(bytes.data(), &view, view.len, 'C');
    PyBuffer_Release(&view);
    if (rc < 0) return fail(Error::python_raised());
    return bytes;
}

}  // namespace

namespace {

// Bytes as text: transcoded from UTF-16 or UTF-32, else checked as UTF-8 and
// kept as they are (a view of immutable bytes, or the copy made of a buffer).
Result<InputText> text_of_bytes(std::string_view bytes, std::string* copy) {
    if (auto transcoded = utf8::transcode_input(bytes)) {
        if (!*transcoded) return fail(std::move(transcoded->error()));
        return InputText(std::move(**transcoded));
    }
    if (auto checked = utf8::check_input(bytes); !checked) return fail(std::move(checked.error()));
    return copy ? InputText(std::move(*copy)) : InputText(bytes);
}

}  // namespace

Result<InputText> read_input_text(PyObject* data) {
    if (PyUnicode_Check(data)) {
        Py_ssize_t size = 0;
        const char* utf8 = PyUnicode_AsUTF8AndSize(data, &size);
        if (utf8 == nullptr) return fail(Error::python_raised());  // lone surrogates
        return InputText(std::string_view(utf8, static_cast<std::size_t>(size)));
    }
    if (PyBytes_Check(data))
        return text_of_bytes(
            {PyBytes_AS_STRING(data), static_cast<std::size_t>(PyBytes_GET_SIZE(data))}, nullptr);
    // A bytearray or other buffer may change while the lock is released: it is
    // read from a copy.
    auto bytes =
        PyByteArray_Check(data)
            ? Result<std::string>(std::string(PyByteArray_AS_STRING(data),
                                              static_cast<std::size_t>(PyByteArray_GET_SIZE(data))))
            : read_buffer(data);
    if (!bytes) return fail(std::move(bytes.error()));
    return text_of_bytes(*bytes, &*bytes);
}

}  // namespace quarvel::py
