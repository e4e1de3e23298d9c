// The value composer: the parser's builder that makes resolved YamlValue
// documents. It resolves scalars by the chosen mode, expands tags through the
// %TAG handles, copies anchored values for aliases (bounded by the expansion
// budget), applies the duplicate- and complex-key policies, drops empty bare
// documents and runs the merge-key pass on each finished document.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "decode/anchors.hpp"
#include "decode/decoder.hpp"
#include "decode/value_key_view.hpp"
#include "parser/parser.hpp"

namespace quarvel {

class ValueBuilder {
  public:
    using Node = YamlValue;

    struct Props {
        std::string_view anchor;
        std::string_view tag;         // expanded
        std::uint64_t anchor_at = 0;  // where the anchor stands in the text
        bool has_anchor = false;
        bool has_tag = false;
        bool any() const { return has_anchor || has_tag; }
    };

    // Children are gathered on one scratch stack; a collection remembers
    // where its own run begins and moves the run into an exactly sized
    // vector when it ends.
    struct Sequence {
        std::size_t base;
    };
    // Duplicate-key bookkeeping of one mapping, active only with a policy;
    // the earlier keys are read where they lie (in scratch_).
    struct Mapping {
        std::size_t base;
        std::size_t marks_base;  // where its keys' marks begin in key_marks_
        bool check = false;
        KeySet<ValueKeyView> keys{};
    };

    ValueBuilder(const DecodeOptions& options, Arena& arena, Warnings& warnings,
                 ParseErrors& errors, std::vector<YamlValue>& documents)
        : options_(options),
          arena_(arena),
          warnings_(warnings),
          errors_(errors),
          documents_(documents),
          check_duplicates_(options.duplicate_keys_error || options.duplicate_keys_warn) {}

    bool anchor(Props& props, const Token& t) {
        props.anchor = t.text;
        props.anchor_at = t.mark.offset;
        props.has_anchor = true;
        return true;
    }
    bool tag(Props& props, const Token& t, TagHandles& handles);

    bool scalar(const Token& t, const Props& props, YamlValue& out) {
        out = resolve_scalar(t.text, t.style == ScalarStyle::Plain, props, t.mark);
        return !errors_.failed();
    }
    bool alias(const Token& t, YamlValue& out);
    // Properties without content: an empty plain scalar under the tag, or null.
    void empty(const Props& props, const Mark& mark, YamlValue& out) {
        if (!props.has_tag)
            out = YamlValue::null();
        else
            out = resolve_scalar({}, true, props, mark);
    }
    void node_done(const Props& props, const YamlValue& out) {
        if (props.has_anchor) anchors_.define(props.anchor, out, props.anchor_at);
    }

    Sequence begin_sequence(const Props&, const Token&, CollectionStyle) {
        return Sequence{scratch_.size()};
    }
    bool item(Sequence&, YamlValue&& item, const Mark&, const Mark*) {
        scratch_.push_back(std::move(item));
        return true;
    }
    bool pair_item(Sequence&, YamlValue&& key, const Mark&, YamlValue&& value) {
        YamlValue* entry = YamlValue::store_nodes(arena_, nullptr, 2);
        entry[0] = key;
        entry[1] = value;
        scratch_.push_back(YamlValue::collection(ValueKind::Mapping, entry, 2));
        return true;
    }
    bool end_sequence(Sequence& seq, const Props& props, YamlValue& out) {
        collect(seq.base, ValueKind::Sequence, props, out);
        return true;
    }

    Mapping begin_mapping(const Props&, const Token&, CollectionStyle) {
        return Mapping{scratch_.size(), key_marks_.size(), check_duplicates_};
    }
    bool key(const YamlValue& key, const Mark& mark) {
        return !options_.reject_complex_keys || !key.is_collection() || complex_key(key, mark);
    }
    bool pair(Mapping& map, YamlValue&& key, const Mark& key_mark, YamlValue&& value, const Mark&) {
        if (map.check) {
            if (!check_duplicate(map, key, key_mark)) return false;
            key_marks_.push_back(key_mark);
        }
        scratch_.push_back(std::move(key));
        scratch_.push_back(std::move(value));
        return true;
    }
    bool end_mapping(Mapping& map, const Props& props, YamlValue& out) {
        key_marks_.resize(map.marks_base);
        collect(map.base, ValueKind::Mapping, props, out);
        return true;
    }

    bool end_document(YamlValue&& root, bool has_root, bool explicit_start);

  private:
    YamlValue resolve_scalar(std::string_view text, bool plain, const Props& props,
                             const Mark& mark);
    void collect(std::size_t base, ValueKind kind, const Props& props, YamlValue& out);
    bool complex_key(const YamlValue& key, const Mark& mark);
    bool check_duplicate(Mapping& map, const YamlValue& key, const Mark& mark);
    bool report_duplicate(const YamlValue& key, const Mark& mark, const Mark& first);

    const DecodeOptions& options_;
    Arena& arena_;
    Warnings& warnings_;
    ParseErrors& errors_;
    std::vector<YamlValue>& documents_;
    bool check_duplicates_;
    bool saw_merge_ = false;      // the current document holds a merge placeholder
    std::uint64_t expanded_ = 0;  // alias nodes copied so far, for the whole call
    AnchorTable anchors_;
    ValueList scratch_;
    std::vector<Mark> key_marks_;  // of the open mappings' keys, while duplicates are checked
};

}  // namespace quarvel
