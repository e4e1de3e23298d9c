// Syntax tree nodes to plain Python values, read by the YAML 1.2 core rules.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_set>

#include "pyutil/py_ref.hpp"
#include "pyutil/python.hpp"
#include "support/seeded_hash.hpp"
#include "syntax/anchors.hpp"
#include "syntax/node.hpp"

namespace quarvel::py {

// One conversion of nodes of the tree of `root`: aliases resolve within that
// tree, every alias of an anchor giving the one object made for it, and the
// alias-expansion budget spans every value the conversion makes.
class ValueReader {
  public:
    explicit ValueReader(const YamlNode& root) : root_(root) {}

    // New references, or null: with an exception set, or without one when
    // the stack ran out.
    PyObject* value(const YamlNode& n);
    // As value, with lists and dicts made into tuples so the key is hashable.
    PyObject* key(const YamlNode& k);

  private:
    // The object made for an anchor and its node count.
    struct Made {
        Ref object;
        std::uint64_t nodes = 0;
    };

    PyObject* content(const YamlNode& n);
    PyObject* alias(const YamlNode& n);
    PyObject* sequence(const YamlNode& n);
    PyObject* mapping(const YamlNode& n);

    const YamlNode& root_;
    SeededMap<Made> anchors_;
    std::optional<AnchorIndex> index_;  // built at the first alias not yet made
    // Anchors being made for an alias: an alias inside one of them that
    // names it again gets None.
    std::unordered_set<const YamlNode*> open_;
    ExpansionBudget budget_;
};

// The value of `node`, which lies in the tree of `root`, by a conversion of
// its own. A new reference, or null with an exception set.
PyObject* node_value(const YamlNode& root, const YamlNode& node);

// The value of a mapping key: as node_value, with lists and dicts made into
// tuples so that the key is hashable.
PyObject* key_value(const YamlNode& root, const YamlNode& key);

}  // namespace quarvel::py
