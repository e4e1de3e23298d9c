// Annotated objects: containers and scalars that remember where in the source
// they came from. The containers are the module's QuarvelAnnotatedDict and
// QuarvelAnnotatedList; the scalars are the package's QuarvelAnnotatedStr,
// QuarvelAnnotatedInt and QuarvelAnnotatedFloat.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include "pyutil/py_ref.hpp"
#include "pyutil/python.hpp"
#include "scanner/token.hpp"

namespace quarvel::py {

// The source location of one node. Lines and columns are 1-based, offsets
// 0-based byte offsets; the end is just past the node's last character. The
// three text fields are borrowed: a str, or null for None. The creators below
// take references of their own.
struct SourceRecord {
    std::uint64_t line = 0;
    std::uint64_t column = 0;
    std::uint64_t end_line = 0;
    std::uint64_t end_column = 0;
    std::uint64_t offset = 0;
    std::uint64_t end_offset = 0;
    PyObject* file = nullptr;
    PyObject* source_tag = nullptr;
    PyObject* source_target = nullptr;
};

// An empty QuarvelAnnotatedDict carrying `record`: a new reference, or null
// with an exception set.
PyObject* new_annotated_dict(const SourceRecord& record);

// An empty QuarvelAnnotatedList carrying `record`, with room for `reserve`
// elements so that appending that many does not reallocate (where the
// interpreter's list layout allows it).
PyObject* new_annotated_list(const SourceRecord& record, Py_ssize_t reserve);

bool is_annotated_dict(PyObject* obj);
bool is_annotated_list(PyObject* obj);

// The package's annotated scalars for a plain value (a str, an int, a float),
// with the record and the scalar's presentation style. A new reference, or
// null with an exception set (the package cannot be imported, lacks the
// class, or the class raised).
PyObject* new_annotated_str(PyObject* value, const SourceRecord& record, ScalarStyle style);
// The annotated str of `ascii` (ASCII text only), without an intermediate
// str where the package's class is the extension's own.
PyObject* new_annotated_ascii_str(std::string_view ascii, const SourceRecord& record,
                                  ScalarStyle style);
PyObject* new_annotated_int(PyObject* value, const SourceRecord& record, ScalarStyle style);
PyObject* new_annotated_float(double value, const SourceRecord& record, ScalarStyle style);

// How an annotated scalar class is instantiated. The package's classes name,
// in a `_quarvel_layout` tuple of their own namespace, five attributes: the
// first holds the six positions as 48 bytes (line, column, end line, end
// column, offset, end offset; unsigned 64-bit little-endian), the others the
// file, the style, the source tag and the source target. When each of them is
// a slot of the class, or can live in the instance dict, instances are built
// directly: the built-in base type's allocation, then the fields stored in
// place, with no Python-level __new__ or __init__. Any other class is called
// with the eleven positional arguments.
enum class ScalarKind : std::uint8_t { Str, Int, Float };

struct ScalarClass {
    static constexpr std::size_t kFields = 5;
    static constexpr std::size_t kPackedPositions = 48;

    Ref cls;
    ScalarKind kind = ScalarKind::Str;
    bool direct = false;
    // The class is the extension's own str or float type (see below): its
    // instances are made in place, with no layout to consult.
    bool native = false;
    // Per field: the byte offset of its slot, or 0 when it is set by name
    // (into the instance dict); names[i] is the interned attribute name.
    std::array<Py_ssize_t, kFields> slot{};
    std::array<Ref, kFields> names;
};

// Inspects `cls` for the scalar kind; null with an exception set on failure.
std::unique_ptr<ScalarClass> describe_scalar_class(PyObject* cls, ScalarKind kind);

// One instance of a described class. `value` is the plain value (for Float it
// may be null, `number` then gives it). With `allow_direct` false the class is
// always called, whatever its layout.
PyObject* build_annotated_scalar(const ScalarClass& cls, PyObject* value, double number,
                                 const SourceRecord& record, ScalarStyle style,
                                 bool allow_direct = true);

// The extension's annotated str and float types, which the package adopts as
// QuarvelAnnotatedStr and QuarvelAnnotatedFloat: the record is part of the
// instance, and a str instance is one allocation with its characters.
// `_annotated_scalar_class(name, mixin, doc)` creates the type named `name`
// once per process, its bases the built-in type and `mixin`.
PyObject* annotated_scalar_class(PyObject* module, PyObject* args);

// Whether `cls` is one of those types (not a subclass) for `kind`.
bool is_native_scalar_class(PyObject* cls, ScalarKind kind);

// An instance of such a type (`cls` must be one) holding the exact str `text`
// (or `value`), with the record and the style name. A new reference, or null
// with an exception set.
PyObject* new_native_str(PyObject* cls, PyObject* text, const SourceRecord& record,
                         ScalarStyle style);
PyObject* new_native_float(PyObject* cls, double value, const SourceRecord& record,
                           ScalarStyle style);
// The same for the str of ASCII text, read straight from the text: no str is
// made first.
PyObject* new_native_ascii_str(PyObject* cls, std::string_view ascii, const SourceRecord& record,
                               ScalarStyle style);

// A style's name ("plain", "single", "double", "literal", "folded"): as C
// text, and as an interned str kept for the process (borrowed; null with an
// exception set when it cannot be made).
const char* scalar_style_text(ScalarStyle style);
PyObject* scalar_style_name(ScalarStyle style);

// The state tuple of __setstate__ read into a record: (line, column, file,
// end line, end column, source tag, source target, offset, end offset),
// whose text fields the held references keep alive. False with a TypeError (or
// OverflowError) set when the tuple is malformed.
struct HeldRecord {
    SourceRecord record;
    Ref file, source_tag, source_target;
};
bool read_state(PyObject* state, HeldRecord& out);

}  // namespace quarvel::py
