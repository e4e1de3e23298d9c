// Syntax trees to Python objects: plain objects, or annotated containers and
// scalars that remember file, line and column. Every path that reads a syntax
// tree as values (annotated loading, the configuration directives, the values
// of a document being edited) converts through here, so they agree.
#pragma once

#include <memory>
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

namespace tree_detail {
class TreeConverter;
}

// Values of nodes anywhere in one document's tree, which may be read in any
// order: an alias whose anchor this reader has not made yet is made from the
// definition it names (the last one before it, else the first after it, as a
// tree changed by edits may have it), and every alias of one definition gives
// the one object. The alias-expansion budget spans everything the reader makes.
// The reader keeps references to the tree and to `options`, which outlive it.
class TreeReader {
  public:
    TreeReader(const YamlNode& root, const TreeConvertOptions& options);
    ~TreeReader();
    TreeReader(const TreeReader&) = delete;
    TreeReader& operator=(const TreeReader&) = delete;

    // New references, or null: with an exception set, or without one when
    // the stack ran out.
    PyObject* value(const YamlNode& n);
    // A mapping key: collections become tuples so that it is hashable.
    PyObject* key(const YamlNode& k);

  private:
    std::unique_ptr<tree_detail::TreeConverter> converter_;
};

// One node of the tree of `root`, by a reader of its own. A new reference,
// or null with an exception set.
PyObject* convert_node(const YamlNode& root, const YamlNode& node,
                       const TreeConvertOptions& options);
// As convert_node, for a mapping key.
PyObject* convert_key(const YamlNode& root, const YamlNode& key, const TreeConvertOptions& options);

}  // namespace quarvel::py
