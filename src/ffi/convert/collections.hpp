// Mappings and collection keys, shared by the value-tree and syntax-tree
// converters, whose mapping children alternate key and value: a dict filled
// pair by pair, a sequence key as a tuple of its items, a mapping key as a
// tuple of (key, value) pairs.
#pragma once

#include "pyutil/errors.hpp"
#include "pyutil/py_ref.hpp"
#include "pyutil/python.hpp"

namespace quarvel::py {

// `key(child)` converts one child by the key rule: a new reference or null.
template <class Children, class Key>
PyObject* items_tuple(const Children& items, Key&& key) {
    Ref tuple(PyTuple_New(static_cast<Py_ssize_t>(items.size())));
    if (!tuple) return nullptr;
    for (std::size_t i = 0; i < items.size(); ++i) {
        PyObject* item = key(items[i]);
        if (!item) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), item);
    }
    return tuple.release();
}

template <class Children, class Key>
PyObject* pairs_tuple(const Children& children, Key&& key) {
    const std::size_t pairs = children.size() / 2;
    Ref tuple(PyTuple_New(static_cast<Py_ssize_t>(pairs)));
    if (!tuple) return nullptr;
    for (std::size_t i = 0; i < pairs; ++i) {
        Ref a(key(children[2 * i]));
        if (!a) return nullptr;
        Ref b(key(children[2 * i + 1]));
        if (!b) return nullptr;
        PyObject* pair = PyTuple_Pack(2, a.get(), b.get());
        if (!pair) return nullptr;
        PyTuple_SET_ITEM(tuple.get(), static_cast<Py_ssize_t>(i), pair);
    }
    return tuple.release();
}

// Sets each converted pair on `dict`; false with an exception set on failure.
template <class Children, class Key, class Value>
bool fill_dict(PyObject* dict, const Children& children, Key&& key, Value&& value) {
    for (std::size_t i = 0; i + 1 < children.size(); i += 2) {
        Ref k(key(children[i]));
        if (!k) return false;
        Ref v(value(children[i + 1]));
        if (!v) return false;
        if (PyDict_SetItem(dict, k.get(), v.get()) < 0) {
            PyErr_Clear();
            raise(Error::conversion("mapping key is not hashable in Python",
                                    conversion_kind::decode));
            return false;
        }
    }
    return true;
}

}  // namespace quarvel::py
