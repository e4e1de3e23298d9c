// Syntax trees to Python objects: plain objects, or annotated containers and
// scalars that remember file, line and column.
#pragma once

#include <span>

#include "ffi/convert/decode.hpp"
#include "pyutil/py_ref.hpp"
#include "pyutil/python.hpp"
#include "resolver/resolver.hpp"
#include "syntax/node.hpp"

namespace quarvel::py {

struct TreeConvertOptions {
    ConvertOptions tags;  // tag application, as for value trees
    ResolverMode mode = ResolverMode::Core12;
    bool annotated = false;
    bool annotate_numbers = false;  // annotated ints and floats too
    PyObject* root_file = nullptr;  // borrowed: __file__ of nodes of file 0 (str or None)
    // __file__ by file number when directives read other files (borrowed);
    // takes the place of root_file when not empty.
    std::span<const Ref> file_names;
};

// One document's tree. A new reference, or null with an exception set.
PyObject* convert_tree(const YamlNode& root, const TreeConvertOptions& options);

}  // namespace quarvel::py
