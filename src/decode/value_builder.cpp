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

bool ValueBuilder::alias(const Token& t, const Props& props, YamlValue& out) {
    if (props.any()) return errors_.fail("an alias node cannot have an anchor or tag", t.mark);
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

namespace {

bool is_scalar_key(const YamlValue& v) {
    return v.kind != ValueKind::Sequence && v.kind != ValueKind::Mapping &&
           v.kind != ValueKind::Tagged;
}

// The same answer as comparing canonical key texts, for two scalars.
bool same_scalar_key(const YamlValue& a, const YamlValue& b) {
    if (a.kind != b.kind) return false;
    switch (a.kind) {
        case ValueKind::Null:
            return true;
        case ValueKind::Bool:
            return a.boolean == b.boolean;
        case ValueKind::Int:
            return a.integer == b.integer;
        case ValueKind::Float:  // 0.0 and -0.0 are one key, and so are all NaNs
            return a.real == b.real || (std::isnan(a.real) && std::isnan(b.real));
        default:
            return a.text() == b.text();
    }
}

}  // namespace

bool ValueBuilder::seen_before(Mapping& map, const YamlValue& key) {
    const std::size_t end = scratch_.size();
    if (!map.set && is_scalar_key(key) && end - map.base < 2 * kLinearKeys) {
        bool linear = true;
        for (std::size_t i = map.base; i < end; i += 2) {
            const YamlValue& earlier = scratch_[i];
            if (is_merge_placeholder(earlier)) continue;
            if (!is_scalar_key(earlier)) {
                linear = false;
                break;
            }
            if (same_scalar_key(earlier, key)) return true;
        }
        if (linear) return false;
    }
    if (!map.set) {
        map.set = std::make_unique<KeyCheck>();
        for (std::size_t i = map.base; i < end; i += 2) {
            if (is_merge_placeholder(scratch_[i])) continue;
            map.set->scratch.clear();
            append_canonical_key(scratch_[i], map.set->scratch);
            map.set->seen.insert(map.set->scratch);
        }
    }
    KeyCheck& check = *map.set;
    check.scratch.clear();
    append_canonical_key(key, check.scratch);
    return !check.seen.insert(check.scratch).second;
}

bool ValueBuilder::check_duplicate(Mapping& map, const YamlValue& key, const Mark& mark) {
    if (is_merge_placeholder(key)) return true;  // merge keys may repeat
    return !seen_before(map, key) || report_duplicate(key, mark);
}

bool ValueBuilder::report_duplicate(const YamlValue& key, const Mark& mark) {
    std::string shown;
    if (key.kind == ValueKind::String)
        shown.assign(key.text());
    else
        append_display_form(key, shown);
    if (options_.duplicate_keys_error)
        return errors_.fail("duplicate mapping key: " + shown, mark, syntax_kind::duplicate_key);
    warnings_.push_back("duplicate mapping key '" + shown + "' at line " +
                        std::to_string(mark.line + 1) + ", column " +
                        std::to_string(mark.column + 1) + "; keeping the last value");
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
