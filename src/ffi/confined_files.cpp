// _read_confined and _write_confined: the confined reader and writer of the
// directives and of write-back, for the Python helpers that read a schema
// file named by a document or write a file back where it was loaded from.
#include <cerrno>
#include <string>

#include "directives/confine.hpp"
#include "directives/file_system.hpp"
#include "directives/paths.hpp"
#include "ffi/functions.hpp"
#include "pyutil/errors.hpp"
#include "pyutil/py_ref.hpp"
#include "roundtrip/atomic_write.hpp"

namespace quarvel::py {
namespace {

// The file system's bytes of a path argument (str, bytes or path-like).
bool fs_argument(PyObject* value, std::string& out) {
    PyObject* bytes = nullptr;
    if (!PyUnicode_FSConverter(value, &bytes)) return false;
    Ref held(bytes);
    out.assign(PyBytes_AS_STRING(bytes), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes)));
    return true;
}

PyObject* read_confined_body(PyObject* args) {
    PyObject* root_arg = nullptr;
    PyObject* name_arg = nullptr;
    unsigned long long max_bytes = 0;
    if (!PyArg_ParseTuple(args, "OOK:_read_confined", &root_arg, &name_arg, &max_bytes))
        return nullptr;
    std::string root;
    std::string name;
    if (!fs_argument(root_arg, root) || !fs_argument(name_arg, name)) return nullptr;
    auto fs = posix_file_system();
    auto bytes = read_confined(*fs, root, name, max_bytes);
    if (!bytes) return raise_unplaced(bytes.error());
    return PyBytes_FromStringAndSize(bytes->data(), static_cast<Py_ssize_t>(bytes->size()));
}

PyObject* write_confined_body(PyObject* args) {
    PyObject* root_arg = nullptr;
    PyObject* name_arg = nullptr;
    Py_buffer data{};
    if (!PyArg_ParseTuple(args, "OOy*:_write_confined", &root_arg, &name_arg, &data))
        return nullptr;
    struct Release {
        Py_buffer* b;
        ~Release() { PyBuffer_Release(b); }
    } release{&data};
    std::string root;
    std::string name;
    if (!fs_argument(root_arg, root) || !fs_argument(name_arg, name)) return nullptr;
    const std::string shown = paths::join(root, name);
    auto fs = posix_file_system();
    const std::string absolute = paths::normalise(paths::join(fs->current_directory(), root));
    const std::string dir = fs->canonical(absolute).value_or(absolute);
    const std::string_view bytes(static_cast<const char*>(data.buf),
                                 static_cast<std::size_t>(data.len));
    auto done = name.starts_with('/') ? roundtrip::write_file_beneath(dir, "..", shown, bytes)
                                      : roundtrip::write_file_beneath(dir, name, shown, bytes);
    if (done) Py_RETURN_NONE;
    if (done.error().refused) {
        Error e;
        e.family = ErrorFamily::Directive;
        e.selector = directive_kind::include_confinement;
        e.message = outside_message(shown);
        e.file = shown;
        return raise_unplaced(e);
    }
    errno = done.error().error_number;
    Ref path(PyUnicode_DecodeFSDefaultAndSize(shown.data(), static_cast<Py_ssize_t>(shown.size())));
    return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, path.get());
}

}  // namespace

PyObject* read_confined_file(PyObject*, PyObject* args) {
    return guarded([&] { return read_confined_body(args); });
}

PyObject* write_confined_file(PyObject*, PyObject* args) {
    return guarded([&] { return write_confined_body(args); });
}

}  // namespace quarvel::py
