#include "decode/value_builder.hpp"

#include <cmath>
#include <limits>
#include <utility>

#include "decode/merge.hpp"
#include "resolver/resolver.hpp"

namespace quarvel {

bool ValueBuilder::tag(Props& props, const Token& t, TagHandles& handles) {
    auto ex = handles.expand(t.text, arena_);
    if (ex.outcome == TagHandles::Outcome::UndefinedHandle)
        return errors_.fail("undefined tag handle: " + std::string(ex.handle), t.mark);
    props.tag = ex.tag;  // a second tag replaces the first
    props.has_tag = true;
    return true;
}

bool ValueBuilder::alias(const Token& t, YamlValue& out) {
    AnchorTable::Entry* e = anchors_.find(t.text);
    if (e == nullptr) return errors_.fail("unknown alias: *" + std::string(t.text), t.mark);
    const std::uint64_t n = e->node_count();
    expanded_ = n > std::numeric_limits<std::uint64_t>::max() - expanded_
                    ? std::numeric_limits<std::uint64_t>::max()
                    : expanded_ + n;
    if (expanded_ > kMaxExpandedNodes) return errors_.fail(std::string(kAliasBombMessage), t.mark);
    out = e->materialize();
    return true;
}

YamlValue ValueBuilder::resolve_scalar(std::string_view text, bool plain, const Props& props,
                                       const Mark& mark) {
    if (!props.has_tag) {
        if (text.empty() && plain) return YamlValue::null();
    } else if (!is_resolver_tag(props.tag)) {
        return YamlValue::tagged(arena_, props.tag, YamlValue::string(text));
    }
    const std::string_view tag = props.has_tag ? props.tag : std::string_view{};
    const Resolved r = resolve(options_.mode, text, plain, tag);
    if (options_.warn_1_1)
        if (auto w = difference_warning(options_.mode, text, plain, tag, mark.line, mark.column))
            warnings_.push_back(std::move(*w));
    switch (r.kind) {
        case ResolvedKind::Null:
            return YamlValue::null();
        case ResolvedKind::Bool:
            return YamlValue::from_bool(r.boolean);
        case ResolvedKind::Int:
            return YamlValue::from_int(r.integer);
        case ResolvedKind::BigInt:
            return YamlValue::big_int(text);
        case ResolvedKind::Float:
            return YamlValue::from_float(r.real);
        case ResolvedKind::Str:
            return YamlValue::string(text);
        case ResolvedKind::Merge:
            saw_merge_ = true;
            return merge_placeholder(arena_);
        case ResolvedKind::Invalid:
            errors_.fail(invalid_scalar_message(text, tag), mark);
            return YamlValue::null();
    }
    return YamlValue::string(text);
}

void ValueBuilder::collect(std::size_t base, ValueKind kind, const Props& props, YamlValue& out) {
    const std::size_t n = scratch_.size() - base;
    out = YamlValue::collection(kind, YamlValue::store_nodes(arena_, scratch_.data() + base, n), n);
    scratch_.resize(base);
    // Tags the resolver does not consume wrap the collection.
    if (props.has_tag && !is_resolver_tag(props.tag))
        out = YamlValue::tagged(arena_, props.tag, out);
}

bool ValueBuilder::complex_key(const YamlValue& key, const Mark& mark) {
    const char* what = key.kind == ValueKind::Sequence ? "a sequence" : "a mapping";
    return errors_.fail(std::string("complex mapping key (") + what + " used as a key)", mark,
                        syntax_kind::complex_key);
}

bool ValueBuilder::check_duplicate(Mapping& map, const YamlValue& key, const Mark& mark) {
    const std::size_t base = map.base;
    auto earlier = [&](std::size_t j) { return scratch_[base + 2 * j]; };
    const std::size_t index = (scratch_.size() - base) / 2;
    const auto added = map.keys.add(ValueKeyView{}, key, index, earlier);
    switch (added.seen) {
        case KeySet<ValueKeyView>::Seen::New:
            return true;
        case KeySet<ValueKeyView>::Seen::Duplicate:
            return report_duplicate(key, mark, key_marks_[map.marks_base + added.first]);
        case KeySet<ValueKeyView>::Seen::Stopped:
            break;
    }
    return errors_.fail(stack_exhausted_error());
}

bool ValueBuilder::report_duplicate(const YamlValue& key, const Mark& mark, const Mark& first) {
    std::string shown;
    if (!append_shown_key(ValueKeyView{}, key, shown)) return errors_.fail(stack_exhausted_error());
    const ErrorNote note = first_key_note(shown, first.line, first.column);
    if (options_.duplicate_keys_error) {
        Error e = syntax_error(duplicate_key_error_text(shown), mark, syntax_kind::duplicate_key);
        e.notes.push_back(note);
        return errors_.fail(std::move(e));
    }
    warnings_.push_back(Warning(duplicate_key_warning_text(shown, mark.line, mark.column), note));
    return true;
}

bool ValueBuilder::end_document(YamlValue&& root, bool, bool) {
    anchors_.clear();
    if (saw_merge_) apply_merge_keys(root, arena_);
    saw_merge_ = false;
    documents_.push_back(std::move(root));
    return true;
}

}  // namespace quarvel
