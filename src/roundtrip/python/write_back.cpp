// dump_includes and dump_includes_map: writing edited include trees back.
#include "pyutil/args.hpp"
#include "pyutil/guarded.hpp"
#include "roundtrip/python/api.hpp"

namespace quarvel::py {
namespace {

constexpr const char* kDumpIncludesKeywords[] = {"include_dir"};
constexpr Signature kDumpIncludesSig{"dump_includes", "doc", kDumpIncludesKeywords};
constexpr Signature kDumpIncludesMapSig{"dump_includes_map", "doc", {}};

PyObject* needs_document(PyObject* /*doc*/) {
    PyErr_SetString(PyExc_NotImplementedError,
                    "writing include trees back is not available in this build");
    return nullptr;
}

}  // namespace

PyObject* dump_includes(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        PyObject* doc = nullptr;
        PyObject* kw[1];
        if (!bind_arguments(kDumpIncludesSig, args, nargs, kwnames, &doc, kw)) return nullptr;
        return needs_document(doc);
    });
}

PyObject* dump_includes_map(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
    return guarded([&]() -> PyObject* {
        PyObject* doc = nullptr;
        if (!bind_arguments(kDumpIncludesMapSig, args, nargs, kwnames, &doc, nullptr))
            return nullptr;
        return needs_document(doc);
    });
}

}  // namespace quarvel::py
