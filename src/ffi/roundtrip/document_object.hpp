// The native layout of the editing classes and what their methods share:
// the document's borrow flag, handle creation and raising edit refusals.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "pyutil/guarded.hpp"
#include "pyutil/py_ref.hpp"
#include "pyutil/python.hpp"
#include "roundtrip/document_state.hpp"
#include "roundtrip/edits.hpp"
#include "roundtrip/node_path.hpp"

namespace quarvel::py {

struct DocumentObject {
    PyObject_HEAD DocumentState* state;  // owned
    // Readers hold it above zero, an editor holds it at -1. Checked with the
    // global lock too: a callback run in the middle of an edit (a user's
    // __index__, __float__, __repr__, or a finaliser) must not see or change
    // a half-edited tree.
    alignas(std::atomic_ref<std::int32_t>::required_alignment) std::int32_t borrow;
};

// QuarvelDocumentView and QuarvelNode: the document and a path.
struct HandleObject {
    PyObject_HEAD PyObject* document;  // owned
    NodePath path;
};

inline DocumentObject* as_document(PyObject* o) {
    return reinterpret_cast<DocumentObject*>(o);
}
inline HandleObject* as_handle(PyObject* o) {
    return reinterpret_cast<HandleObject*>(o);
}

// A shared (reader) or exclusive (editor) hold on a document's trees. When it
// cannot be had, ok() is false and RuntimeError("already borrowed") is set.
class Borrow {
  public:
    enum Mode : bool { Shared, Exclusive };
    Borrow(PyObject* document, Mode mode) noexcept;
    ~Borrow();
    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;

    bool ok() const noexcept { return held_ != nullptr; }
    DocumentState& state() const noexcept { return *doc_->state; }

  private:
    DocumentObject* doc_;
    std::int32_t* held_ = nullptr;
    bool exclusive_ = false;
};

// guarded() for slots that return 0 or -1 (setters, item assignment).
template <class F>
int guarded_status(F&& body) noexcept {
    PyObject* r = guarded([&]() -> PyObject* { return body() < 0 ? nullptr : Py_NewRef(Py_None); });
    if (!r) return -1;
    Py_DECREF(r);
    return 0;
}

// New handles on `document` (a new reference, or null with an exception set).
PyObject* new_view(PyObject* document, NodePath path);
PyObject* new_node(PyObject* document, NodePath path);

// tp_dealloc of views and node cursors.
void handle_dealloc(PyObject* self);

// Sets the exception an edit refusal stands for; returns null.
PyObject* raise_fault(const EditFault& fault);

// Sets KeyError with str(key) as its argument; returns null.
PyObject* raise_missing_key(PyObject* key);

// Sets an exception of `type` whose argument is the text; returns null.
PyObject* raise_text(PyObject* type, const char* text);

// Key conversion: a non-negative integer (through __index__) is an index
// step, a str a key step; anything else is a TypeError. False with an
// exception set.
bool convert_key(PyObject* key, PathStep& out);

// A str as UTF-8; false with an exception set.
bool utf8_view(PyObject* s, std::string_view& out);

// The "kind" word of reprs: scalar, sequence, mapping, alias or null.
const char* kind_word(const YamlNode& node);

// (start_line, start_col, end_line, end_col), 1-based.
PyObject* range_tuple(const YamlNode& node);

}  // namespace quarvel::py
