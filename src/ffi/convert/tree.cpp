#include "ffi/convert/tree.hpp"

#include <optional>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "ffi/annotated.hpp"
#include "ffi/convert/collections.hpp"
#include "ffi/convert/key_cache.hpp"
#include "ffi/convert/strings.hpp"
#include "ffi/types.hpp"
#include "pyutil/big_int.hpp"
#include "pyutil/errors.hpp"
#include "pyutil/frozen.hpp"
#include "pyutil/py_ref.hpp"
#include "resolver/resolver.hpp"
#include "support/core_tag.hpp"
#include "support/seeded_hash.hpp"
#include "support/stack.hpp"
#include "syntax/anchors.hpp"

namespace quarvel::py {
namespace tree_detail {
namespace {

// The strings a record borrows while it is in use.
struct SourceTexts {
    Ref tag;
    Ref target;
};

// The object made for an anchor and its node count.
struct Made {
    Ref object;
    std::uint64_t nodes = 0;
    std::uint64_t at = 0;  // where the node starts in its text
};

}  // namespace

class TreeConverter {
  public:
    // A whole document, converted from its root down: an alias takes the
    // object of the last node converted under its name.
    explicit TreeConverter(const TreeConvertOptions& options) : options_(options) {}
    // Nodes of the tree of `root` in any order: an alias takes the object of
    // the definition it names, made when first needed.
    TreeConverter(const TreeConvertOptions& options, const YamlNode& root)
        : options_(options), root_(&root) {}

    // Every method returns a new reference, or null: with an exception set,
    // or without one when the stack ran out.
    PyObject* node(const YamlNode& n) {
        const std::uint64_t start = budget_.mark();
        PyObject* out = content(n);
        remember(n, out, start);
        return out;
    }

  private:
    friend class quarvel::py::TreeReader;  // reads keys too

    // Records `made` as the object of n's anchor, with what it counted since `start`.
    void remember(const YamlNode& n, PyObject* made, std::uint64_t start) {
        if (!made || !n.anchor()) return;
        Made m{Ref::borrow(made), budget_.made_since(start), n.span.offset};
        if (root_) {
            made_by_node_[&n] = std::move(m);
            return;
        }
        // A node is made once its children are: an anchor of the same name
        // inside it came later in the text and still names what follows.
        SeededMap<Made>& anchors = anchors_of(n);
        auto it = anchors.find(*n.anchor());
        if (it == anchors.end())
            anchors.emplace(*n.anchor(), std::move(m));
        else if (it->second.at <= m.at)
            it->second = std::move(m);
    }

    PyObject* content(const YamlNode& n) {
        if (n.kind != NodeKind::Alias) budget_.made();
        switch (n.kind) {
            case NodeKind::Scalar:
            case NodeKind::Null:
                return scalar(n);
            case NodeKind::Alias:
                return alias(n);
            case NodeKind::Sequence:
                return tagged(n, ensure_stack([&] { return sequence(n); }));
            case NodeKind::Mapping:
                return tagged(n, ensure_stack([&] { return mapping(n); }));
        }
        return nullptr;
    }

    // A collection under a custom tag goes through tag application.
    PyObject* tagged(const YamlNode& n, PyObject* made) {
        const std::string_view tag = n.effective_tag();
        if (!made || tag.empty() || is_standard_tag(tag)) return made;
        return apply_tag(tag, Ref(made), options_.tags);
    }

    // Two aliases of one anchor give the same object: the last node converted
    // under that name; an alias of no converted anchor is None.
    PyObject* alias(const YamlNode& n) {
        if (root_) return alias_in_tree(n);
        SeededMap<Made>& anchors = anchors_of(n);
        auto it = anchors.find(n.text);
        if (it == anchors.end()) return Py_NewRef(Py_None);
        return reused(n, it->second);
    }

    PyObject* reused(const YamlNode& alias, const Made& made) {
        if (!budget_.reuse(made.nodes)) return over_budget(alias);
        return Py_NewRef(made.object.get());
    }

    // The object of the definition the alias names, made now when this
    // conversion has not made it yet. An alias met again while its
    // definition is being made for it (only an edited tree can hold one)
    // gets None, as does a name with no definition.
    PyObject* alias_in_tree(const YamlNode& n) {
        if (!targets_) targets_.emplace(*root_);
        const YamlNode* target = targets_->of(n);
        if (!target) return Py_NewRef(Py_None);
        if (auto it = made_by_node_.find(target); it != made_by_node_.end())
            return reused(n, it->second);
        if (!open_.insert(target).second) return Py_NewRef(Py_None);
        const std::uint64_t start = budget_.begin_anew();
        Ref out(ensure_stack([&] { return node(*target); }));
        open_.erase(target);
        const bool within = budget_.end_anew(start);
        if (out && !within) return over_budget(n);
        return out.release();
    }

    // The alias-bomb error, naming the file of an included text.
    PyObject* over_budget(const YamlNode& alias) {
        Error e = ExpansionBudget::exceeded(alias);
        PyObject* file = alias.span.file_id != 0 ? file_of(alias) : nullptr;
        if (file && PyUnicode_Check(file)) {
            Py_ssize_t size = 0;
            const char* text = PyUnicode_AsUTF8AndSize(file, &size);
            if (!text) return nullptr;
            e.file = std::string(text, static_cast<std::size_t>(size));
        }
        return raise(e);
    }

    PyObject* scalar(const YamlNode& n) {
        const std::string_view tag = n.effective_tag();
        if (!tag.empty() && !is_standard_tag(tag)) {
            Ref text(string(n.text, n));
            if (!text) return nullptr;
            return apply_tag(tag, std::move(text), options_.tags);
        }
        const bool plain = n.kind == NodeKind::Null || n.scalar_style == ScalarStyle::Plain;
        const Resolved r = resolve(options_.mode, n.text, plain, tag);
        switch (r.kind) {
            case ResolvedKind::Null:
                return Py_NewRef(Py_None);
            case ResolvedKind::Bool:
                return Py_NewRef(r.boolean ? Py_True : Py_False);
            case ResolvedKind::Int:
                return number(PyLong_FromLongLong(r.integer), n);
            case ResolvedKind::BigInt:
                return number(
                    big_int_object(n.text, [&] { return ScalarAt{n.span.line, n.span.column}; }),
                    n);
            case ResolvedKind::Float:
                return number(PyFloat_FromDouble(r.real), n);
            case ResolvedKind::Merge:
                return string("<<", n);
            case ResolvedKind::Str:
            case ResolvedKind::Invalid:  // refused by the tree checks before conversion
                return string(n.text, n);
        }
        return string(n.text, n);
    }

    PyObject* string(std::string_view text, const YamlNode& n) {
        if (!options_.annotated) return new_str(text);
        SourceTexts tag;
        SourceRecord r;
        if (!record(n, tag, r)) return nullptr;
        if (is_ascii(text)) return new_annotated_ascii_str(text, r, style_of(n));
        Ref value(
            PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "strict"));
        return value ? new_annotated_str(value.get(), r, style_of(n)) : nullptr;
    }

    PyObject* number(PyObject* made, const YamlNode& n) {
        Ref value(made);
        if (!value || !options_.annotated || !options_.annotate_numbers) return value.release();
        SourceTexts tag;
        SourceRecord r;
        if (!record(n, tag, r)) return nullptr;
        if (PyFloat_Check(value.get()))
            return new_annotated_float(PyFloat_AS_DOUBLE(value.get()), r, style_of(n));
        return new_annotated_int(value.get(), r, style_of(n));
    }

    PyObject* sequence(const YamlNode& n) {
        const Py_ssize_t size = static_cast<Py_ssize_t>(n.children.size());
        Ref list(options_.annotated ? annotated_list(n, size) : PyList_New(size));
        if (!list) return nullptr;
        for (Py_ssize_t i = 0; i < size; ++i) {
            PyObject* item = node(n.children[static_cast<std::size_t>(i)]);
            if (!item) return nullptr;
            if (options_.annotated) {
                Ref owned(item);
                if (PyList_Append(list.get(), item) < 0) return nullptr;
            } else {
                PyList_SET_ITEM(list.get(), i, item);
            }
        }
        return list.release();
    }

    PyObject* mapping(const YamlNode& n) {
        Ref dict(options_.annotated ? annotated_dict(n) : PyDict_New());
        if (!dict) return nullptr;
        if (!has_merge_key(n)) {
            if (!fill_dict(
                    dict.get(), n.children, [&](const YamlNode& c) { return key(c); },
                    [&](const YamlNode& c) { return node(c); }))
                return nullptr;
            return dict.release();
        }
        return merged(n, std::move(dict));
    }

    // ---- merge keys ------------------------------------------------------------

    bool is_merge_key(const YamlNode& k) {
        if (k.kind != NodeKind::Scalar || k.scalar_style != ScalarStyle::Plain) return false;
        if (k.text != "<<" && !k.tag()) return false;
        return resolve(options_.mode, k.text, true, k.effective_tag()).kind == ResolvedKind::Merge;
    }

    bool has_merge_key(const YamlNode& n) {
        for (std::size_t i = 0; i < n.size(); ++i)
            if (is_merge_key(n.key(i))) return true;
        return false;
    }

    // "<<" entries merge their mapping (or sequence of mappings) into the
    // mapping as plain loading does: the mapping's own keys win, then earlier
    // sources over later ones; a value that cannot merge stays under "<<".
    PyObject* merged(const YamlNode& n, Ref dict) {
        std::vector<Ref> sources;
        for (std::size_t i = 0; i < n.size(); ++i) {
            if (is_merge_key(n.key(i))) {
                budget_.made();  // the "<<" key
                Ref v(node(n.value(i)));
                if (!v) return nullptr;
                sources.push_back(std::move(v));
                continue;
            }
            Ref k(key(n.key(i)));
            if (!k) return nullptr;
            Ref v(node(n.value(i)));
            if (!v || !set_item(dict.get(), k.get(), v.get())) return nullptr;
        }
        for (Ref& source : sources) {
            Ref rest(merge_source(dict.get(), source.get()));
            if (!rest) return nullptr;
            if (rest.get() == Py_None) continue;
            Ref merge_key(string("<<", n));
            if (!merge_key || !set_item(dict.get(), merge_key.get(), rest.get())) return nullptr;
        }
        return dict.release();
    }

    // Merges one source; returns None when all of it merged, else what could not.
    PyObject* merge_source(PyObject* dict, PyObject* source) {
        if (source == Py_None) return Py_NewRef(Py_None);
        if (PyDict_Check(source)) {
            Py_ssize_t pos = 0;
            PyObject *k, *v;
            while (PyDict_Next(source, &pos, &k, &v))
                if (PyDict_SetDefault(dict, k, v) == nullptr) return nullptr;
            return Py_NewRef(Py_None);
        }
        if (!PyList_Check(source)) return Py_NewRef(source);
        Ref rest(PyList_New(0));
        if (!rest) return nullptr;
        for (Py_ssize_t i = 0; i < PyList_GET_SIZE(source); ++i) {
            PyObject* item = PyList_GET_ITEM(source, i);
            if (PyDict_Check(item)) {
                Ref done(merge_source(dict, item));
                if (!done) return nullptr;
            } else if (PyList_Append(rest.get(), item) < 0) {
                return nullptr;
            }
        }
        if (PyList_GET_SIZE(rest.get()) == 0) return Py_NewRef(Py_None);
        return rest.release();
    }

    static bool set_item(PyObject* dict, PyObject* k, PyObject* v) {
        if (PyDict_SetItem(dict, k, v) == 0) return true;
        PyErr_Clear();
        raise(Error::conversion("mapping key is not hashable in Python", conversion_kind::decode));
        return false;
    }

    // Collection keys become tuples, annotated mode or not; the text of string
    // keys is made once per document.
    PyObject* key(const YamlNode& k) {
        const std::string_view tag = k.effective_tag();
        // Under a custom tag a collection key is the application's value, as
        // in plain loading.
        const std::uint64_t start = budget_.mark();
        if (k.is_collection() && (tag.empty() || is_standard_tag(tag))) {
            budget_.made();
            PyObject* t = k.kind == NodeKind::Sequence
                              ? ensure_stack([&] { return sequence_key(k); })
                              : ensure_stack([&] { return mapping_key(k); });
            remember(k, t, start);
            return t;
        }
        if (k.kind == NodeKind::Alias) {
            PyObject* target = alias(k);
            if (!target || !(PyList_Check(target) || PyDict_Check(target))) return target;
            Ref held(target);
            return frozen(target);
        }
        if (k.kind == NodeKind::Scalar && !k.tag() &&
            (k.scalar_style != ScalarStyle::Plain ||
             resolve(options_.mode, k.text, true).kind == ResolvedKind::Str)) {
            budget_.made();
            PyObject* s = options_.annotated ? annotated_key(k) : keys_.get(k.text);
            remember(k, s, start);
            return s;
        }
        return node(k);
    }

    // An annotated copy of the document's shared key str: the copy takes its
    // hash along, so the dict does not hash the key text again.
    PyObject* annotated_key(const YamlNode& k) {
        Ref shared(keys_.get(k.text));
        if (!shared) return nullptr;
        SourceTexts tag;
        SourceRecord r;
        if (!record(k, tag, r)) return nullptr;
        return new_annotated_str(shared.get(), r, style_of(k));
    }

    PyObject* sequence_key(const YamlNode& k) {
        return items_tuple(k.children, [&](const YamlNode& c) { return key(c); });
    }

    PyObject* mapping_key(const YamlNode& k) {
        return pairs_tuple(k.children, [&](const YamlNode& c) { return key(c); });
    }

    // ---- annotation ----------------------------------------------------------

    // __file__ of the node's text: borrowed, null for None.
    PyObject* file_of(const YamlNode& n) {
        if (!options_.file_names.empty())
            return n.span.file_id < options_.file_names.size()
                       ? options_.file_names[n.span.file_id].get()
                       : nullptr;
        if (n.span.file_id != 0 || options_.root_file == Py_None) return nullptr;
        return options_.root_file;
    }

    static ScalarStyle style_of(const YamlNode& n) {
        return n.kind == NodeKind::Null ? ScalarStyle::Plain : n.scalar_style;
    }

    // Fills the node's record; `tag` holds the source tag's str (and the
    // source target's) while the record is in use. False with an exception
    // set on failure.
    bool record(const YamlNode& n, SourceTexts& tag, SourceRecord& r) {
        r.line = std::uint64_t{n.span.line} + 1;
        r.column = std::uint64_t{n.span.column} + 1;
        r.end_line = std::uint64_t{n.end_line} + 1;
        r.end_column = std::uint64_t{n.end_column} + 1;
        r.offset = n.span.offset;
        r.end_offset = n.end_offset;
        r.file = file_of(n);
        if (const IncludeSource* source = n.source()) {
            // A directive produced the node.
            tag.tag = Ref(new_str(source->tag));
            tag.target = Ref(new_str(source->target));
            if (!tag.tag || !tag.target) return false;
            r.source_tag = tag.tag.get();
            r.source_target = tag.target.get();
        } else if (const auto own = n.tag(); own && !is_standard_tag(n.effective_tag())) {
            tag.tag = Ref(new_str(*own));
            if (!tag.tag) return false;
            r.source_tag = tag.tag.get();
        }
        return true;
    }

    PyObject* annotated_dict(const YamlNode& n) {
        SourceTexts tag;
        SourceRecord r;
        if (!record(n, tag, r)) return nullptr;
        return new_annotated_dict(r);
    }

    PyObject* annotated_list(const YamlNode& n, Py_ssize_t size) {
        SourceTexts tag;
        SourceRecord r;
        if (!record(n, tag, r)) return nullptr;
        return new_annotated_list(r, size);
    }

    const TreeConvertOptions& options_;
    // Anchor names are per file: an included file's "&a" is not the "&a" of
    // the file that includes it.
    SeededMap<Made>& anchors_of(const YamlNode& n) {
        if (n.span.file_id >= anchors_.size()) anchors_.resize(n.span.file_id + 1);
        return anchors_[n.span.file_id];
    }

    std::vector<SeededMap<Made>> anchors_;
    KeyCache keys_;
    ExpansionBudget budget_;

    // Reading nodes in any order: the tree, what its aliases name, the
    // objects made for definitions, and the definitions being made for an alias.
    const YamlNode* root_ = nullptr;
    std::optional<AliasTargets> targets_;
    std::unordered_map<const YamlNode*, Made> made_by_node_;
    std::unordered_set<const YamlNode*> open_;
};

}  // namespace tree_detail

namespace {

// A conversion's result; a conversion that ran out of stack raises here.
PyObject* finished(PyObject* result) {
    if (!result && stack_exhausted()) return raise_stack_exhausted(nullptr);
    return result;
}

}  // namespace

PyObject* convert_tree(const YamlNode& root, const TreeConvertOptions& options) {
    GcPause pause;
    tree_detail::TreeConverter converter(options);
    return finished(converter.node(root));
}

TreeReader::TreeReader(const YamlNode& root, const TreeConvertOptions& options)
    : converter_(std::make_unique<tree_detail::TreeConverter>(options, root)) {}

TreeReader::~TreeReader() = default;

PyObject* TreeReader::value(const YamlNode& n) {
    return converter_->node(n);
}

PyObject* TreeReader::key(const YamlNode& k) {
    return converter_->key(k);
}

PyObject* convert_node(const YamlNode& root, const YamlNode& node,
                       const TreeConvertOptions& options) {
    GcPause pause;
    TreeReader reader(root, options);
    return finished(reader.value(node));
}

PyObject* convert_key(const YamlNode& root, const YamlNode& key,
                      const TreeConvertOptions& options) {
    GcPause pause;
    TreeReader reader(root, options);
    return finished(reader.key(key));
}

}  // namespace quarvel::py
