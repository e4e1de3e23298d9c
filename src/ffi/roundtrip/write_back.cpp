// dump_includes and dump_includes_map: writing edited include trees back.
#include "ffi/roundtrip/api.hpp"
#include "ffi/roundtrip/emit_bindings.hpp"
#include "pyutil/args.hpp"
#include "pyutil/guarded.hpp"
#include "pyutil/py_ref.hpp"

namespace quarvel::py {
namespace {

constexpr const char* kDumpIncludesKeywords[] = {"include_dir"};
constexpr Signature kDumpIncludesSig{"dump_includes", "doc", kDumpIncludesKeywords};
constexpr Signature kDumpIncludesMapSig{"dump_includes_map", "doc", {}};

// include_dir is accepted as None, str or path-like; it does not change
// where files are written.
bool check_include_dir(PyObject* value) {
    if (!value || value == Py_None) return true;
    Ref path(PyOS_FSPath(value));
    if (path) return true;
    PyErr_Clear();
    raise_argument_type("dump_includes", "include_dir", "str or path-like", value);
    return false;
}

}  // namespace

PyObject* dump_includes(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        PyObject* doc = nullptr;
        PyObject* kw[1];
        if (!bind_arguments(kDumpIncludesSig, args, nargs, kwnames, &doc, kw)) return nullptr;
        if (!check_include_dir(kw[0])) return nullptr;
        return write_included_files(doc);
    });
}

PyObject* dump_includes_map(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        PyObject* doc = nullptr;
        if (!bind_arguments(kDumpIncludesMapSig, args, nargs, kwnames, &doc, nullptr))
            return nullptr;
        return included_files_map(doc);
    });
}

}  // namespace quarvel::py
