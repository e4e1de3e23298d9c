#include "decode/composer.hpp"

#include <limits>
#include <utility>

#include "parser/directives.hpp"
#include "decode/merge.hpp"
#include "resolver/resolver.hpp"
#include "support/stack.hpp"

namespace quarvel {
namespace {

bool ends_document(TokenKind k) {
    return k == TokenKind::StreamEnd || k == TokenKind::DocumentStart ||
           k == TokenKind::DocumentEnd || k == TokenKind::Directive;
}

const char* describe(TokenKind k) {
    switch (k) {
        case TokenKind::StreamStart: return "stream start";
        case TokenKind::StreamEnd: return "end of input";
        case TokenKind::DocumentStart: return "'---'";
        case TokenKind::DocumentEnd: return "'...'";
        case TokenKind::Directive: return "directive";
        case TokenKind::BlockMappingStart: return "block mapping";
        case TokenKind::BlockSequenceStart: return "block sequence";
        case TokenKind::BlockEnd: return "end of block collection";
        case TokenKind::BlockEntry: return "'-'";
        case TokenKind::FlowMappingStart: return "'{'";
        case TokenKind::FlowMappingEnd: return "'}'";
        case TokenKind::FlowSequenceStart: return "'['";
        case TokenKind::FlowSequenceEnd: return "']'";
        case TokenKind::FlowEntry: return "','";
        case TokenKind::Key: return "'?'";
        case TokenKind::Value: return "':'";
        case TokenKind::Anchor: return "anchor";
        case TokenKind::Alias: return "alias";
        case TokenKind::Tag: return "tag";
        case TokenKind::Scalar: return "scalar";
    }
    return "token";
}

std::string unexpected(TokenKind k, const char* where) {
    return std::string("unexpected ") + describe(k) + " in " + where;
}

// Depth of nested nodes; the counter goes back down when the node is done.
struct DepthScope {
    std::uint32_t& depth;
    explicit DepthScope(std::uint32_t& d) : depth(d) { ++depth; }
    ~DepthScope() { --depth; }
};

}  // namespace

Composer::Composer(TokenStream& tokens, const DecodeOptions& options, Arena& arena,
                   Warnings& warnings)
    : tokens_(tokens), options_(options), arena_(arena), warnings_(warnings) {
    check_duplicates_ = options.duplicate_keys_error || options.duplicate_keys_warn;
}

bool Composer::fail(std::string message, const Mark& mark, int kind) {
    if (!error_) error_ = syntax_error(std::move(message), mark, kind);
    return false;
}

// ---- stream and documents ------------------------------------------------

Status Composer::compose_stream(std::vector<YamlValue>& documents) {
    if (kind() == TokenKind::StreamStart) advance();
    bool directives_allowed = true;
    while (kind() != TokenKind::StreamEnd) {
        if (kind() == TokenKind::DocumentEnd) {  // a stray "..." closes nothing
            advance();
            directives_allowed = true;
            continue;
        }
        if (kind() == TokenKind::Directive && !read_directives(directives_allowed))
            return quarvel::fail(*std::move(error_));
        if (!compose_document(documents)) return quarvel::fail(*std::move(error_));
        directives_allowed = false;
        if (kind() == TokenKind::DocumentEnd) {
            advance();
            directives_allowed = true;
        }
    }
    return {};
}

bool Composer::read_directives(bool allowed) {
    if (!allowed)
        return fail(
            "a directive must be at the start of the stream or follow a document-end marker (...)",
            cur().mark);
    DirectiveRun run;
    while (kind() == TokenKind::Directive) {
        if (auto err = apply_directive(cur(), run, handles_)) {
            error_ = std::move(err);
            return false;
        }
        advance();
    }
    if (kind() != TokenKind::DocumentStart)
        return fail("directive must be followed by a document start (---)", cur().mark);
    return true;
}

bool Composer::compose_document(std::vector<YamlValue>& documents) {
    bool explicit_start = kind() == TokenKind::DocumentStart;
    if (explicit_start) advance();
    YamlValue root;
    Mark mark;
    if (!ends_document(kind())) {
        if (!node(Slot::Block, root, mark)) return false;
    } else if (!explicit_start) {
        return true;  // nothing but comments: no document
    }
    if (!ends_document(kind())) return fail("trailing content after document", cur().mark);
    anchors_.clear();
    handles_.clear();
    if (saw_merge_) apply_merge_keys(root);
    saw_merge_ = false;
    documents.push_back(std::move(root));
    return true;
}

// ---- nodes ------------------------------------------------------------------

bool Composer::starts_node(TokenKind k, Slot slot) const {
    switch (k) {
        case TokenKind::Anchor:
        case TokenKind::Tag:
        case TokenKind::Alias:
        case TokenKind::Scalar:
        case TokenKind::FlowSequenceStart:
        case TokenKind::FlowMappingStart: return true;
        case TokenKind::BlockSequenceStart:
        case TokenKind::BlockMappingStart: return slot != Slot::Flow;
        case TokenKind::BlockEntry: return slot == Slot::BlockValue || slot == Slot::BlockKey;
        default: return false;
    }
}

bool Composer::read_property(Props& props) {
    const Token& t = cur();
    if (t.kind == TokenKind::Anchor) {
        if (props.has_anchor) return fail("a node cannot have two anchors", t.mark);
        props.anchor = t.text;
        props.has_anchor = true;
    } else {
        auto ex = handles_.expand(t.text, arena_);
        if (ex.outcome == TagHandles::Outcome::UndefinedHandle)
            return fail("undefined tag handle: " + std::string(ex.handle), t.mark);
        props.tag = ex.tag;  // a second tag replaces the first
        props.has_tag = true;
    }
    advance();
    return true;
}

// A Key indicator and the key after it: 1 when one was read (the key may be
// empty), 0 when there is none here, -1 on error. In flow context an implicit
// key's Key token comes after the key's anchor and tag, so properties in front
// of a Key indicator belong to the key.
int Composer::take_key_indicator(YamlValue& key, Mark& key_mark, Slot slot) {
    Props pre;
    if (kind() != TokenKind::Key) {
        std::size_t j = pos_;
        while (tokens_.at(j).kind == TokenKind::Anchor || tokens_.at(j).kind == TokenKind::Tag) ++j;
        if (j == pos_ || tokens_.at(j).kind != TokenKind::Key) return 0;
        while (pos_ < j)
            if (!read_property(pre)) return -1;
    }
    advance();  // Key
    key_mark = cur().mark;
    if (pre.has_anchor || pre.has_tag || starts_node(kind(), slot))
        return node(slot, key, key_mark, pre) ? 1 : -1;
    return 1;
}

bool Composer::node_or_null(Slot slot, YamlValue& out, Mark& mark) {
    if (starts_node(kind(), slot)) return node(slot, out, mark);
    out = YamlValue::null();
    mark = cur().mark;
    return true;
}

bool Composer::node(Slot slot, YamlValue& out, Mark& mark, const Props& pre) {
    DepthScope scope(depth_);
    if (depth_ > kMaxDepth)
        return fail("maximum nesting depth (" + std::to_string(kMaxDepth) + ") exceeded", cur().mark);
    Props props = pre;
    while (kind() == TokenKind::Anchor || kind() == TokenKind::Tag)
        if (!read_property(props)) return false;
    mark = cur().mark;
    if (!content(slot, props, out)) return false;
    if (props.has_anchor) anchors_.define(props.anchor, out);
    return true;
}

bool Composer::content(Slot slot, const Props& props, YamlValue& out) {
    const Token& t = cur();
    bool ok = true;
    switch (t.kind) {
        case TokenKind::Alias:
            if (props.has_anchor || props.has_tag)
                return fail("an alias node cannot have an anchor or tag", t.mark);
            return alias(out);
        case TokenKind::Scalar:
            out = scalar(t.text, t.style == ScalarStyle::Plain, props, t.mark);
            advance();
            return true;
        case TokenKind::FlowSequenceStart:
            ok = ensure_stack([&] { return flow_sequence(out); });
            break;
        case TokenKind::FlowMappingStart:
            ok = ensure_stack([&] { return flow_mapping(out); });
            break;
        case TokenKind::BlockSequenceStart:
        case TokenKind::BlockMappingStart:
        case TokenKind::BlockEntry:
            if (slot == Slot::BlockKey) return fail("a block collection cannot be a mapping key", t.mark);
            if (slot == Slot::Flow || (t.kind == TokenKind::BlockEntry && slot != Slot::BlockValue)) {
                out = scalar({}, true, props, t.mark);  // not part of this node
                return true;
            }
            if (t.kind == TokenKind::BlockSequenceStart)
                ok = ensure_stack([&] { return block_sequence(out); });
            else if (t.kind == TokenKind::BlockMappingStart)
                ok = ensure_stack([&] { return block_mapping(out); });
            else
                ok = ensure_stack([&] { return indentless_sequence(out); });
            break;
        default:
            // Properties without content: an empty plain scalar under the tag,
            // or null.
            out = scalar({}, true, props, t.mark);
            return true;
    }
    if (ok && props.has_tag && !is_resolver_tag(props.tag))
        out = YamlValue::tagged(props.tag, std::move(out));
    return ok;
}

bool Composer::alias(YamlValue& out) {
    const Token& t = cur();
    AnchorTable::Entry* e = anchors_.find(t.text);
    if (e == nullptr) return fail("unknown alias: *" + std::string(t.text), t.mark);
    std::uint64_t n = e->node_count();
    expanded_ = n > std::numeric_limits<std::uint64_t>::max() - expanded_
                    ? std::numeric_limits<std::uint64_t>::max()
                    : expanded_ + n;
    if (expanded_ > kMaxExpandedNodes)
        return fail("document expands to too many nodes (possible alias bomb)", t.mark);
    advance();
    out = e->materialize();
    return true;
}

YamlValue Composer::scalar(std::string_view text, bool plain, const Props& props, const Mark& mark) {
    if (!props.has_tag) {
        if (text.empty() && plain) return YamlValue::null();
    } else if (!is_resolver_tag(props.tag)) {
        return YamlValue::tagged(props.tag, YamlValue::string(text));
    }
    std::string_view tag = props.has_tag ? props.tag : std::string_view{};
    Resolved r = resolve(options_.mode, text, plain, tag);
    if (options_.warn_1_1)
        if (auto w = difference_warning(options_.mode, text, plain, tag, mark.line, mark.column))
            warnings_.push_back(std::move(*w));
    switch (r.kind) {
        case ResolvedKind::Null: return YamlValue::null();
        case ResolvedKind::Bool: return YamlValue::from_bool(r.boolean);
        case ResolvedKind::Int: return YamlValue::from_int(r.integer);
        case ResolvedKind::BigInt: return YamlValue::big_int(text);
        case ResolvedKind::Float: return YamlValue::from_float(r.real);
        case ResolvedKind::Str: return YamlValue::string(text);
        case ResolvedKind::Merge: saw_merge_ = true; return merge_placeholder();
    }
    return YamlValue::string(text);
}

// ---- collections --------------------------------------------------------------

void Composer::collect(std::size_t base, ValueKind kind, YamlValue& out) {
    out = YamlValue{};
    out.kind = kind;
    std::size_t n = scratch_.size() - base;
    if (n != 0) {
        out.children.reserve(n);
        for (std::size_t i = base; i < scratch_.size(); ++i) out.children.push_back(std::move(scratch_[i]));
        scratch_.erase(scratch_.begin() + static_cast<std::ptrdiff_t>(base), scratch_.end());
    }
}

bool Composer::block_sequence(YamlValue& out) {
    advance();  // BlockSequenceStart
    std::size_t base = scratch_.size();
    for (;;) {
        if (kind() == TokenKind::BlockEnd) {
            advance();
            break;
        }
        if (kind() != TokenKind::BlockEntry)
            return fail(unexpected(kind(), "a block sequence"), cur().mark);
        if (!block_entry()) return false;
    }
    collect(base, ValueKind::Sequence, out);
    return true;
}

// A '-' entry and its node (null when empty), onto the scratch stack.
bool Composer::block_entry() {
    advance();  // BlockEntry
    YamlValue item;
    Mark mark;
    if (!node_or_null(Slot::Block, item, mark)) return false;
    scratch_.push_back(std::move(item));
    return true;
}

// "key:\n- a\n- b": entries at the column of the mapping's keys, no BlockEnd.
bool Composer::indentless_sequence(YamlValue& out) {
    std::size_t base = scratch_.size();
    while (kind() == TokenKind::BlockEntry) {
        if (!block_entry()) return false;
    }
    collect(base, ValueKind::Sequence, out);
    return true;
}

bool Composer::block_mapping(YamlValue& out) {
    advance();  // BlockMappingStart
    std::size_t base = scratch_.size();
    std::optional<KeyCheck> check;
    if (check_duplicates_) check.emplace();
    for (;;) {
        TokenKind k = kind();
        if (k == TokenKind::BlockEnd) {
            advance();
            break;
        }
        YamlValue key;
        Mark key_mark = cur().mark;
        int indicator = take_key_indicator(key, key_mark, Slot::BlockKey);
        if (indicator < 0) return false;
        if (indicator == 0) {
            if (k == TokenKind::Anchor || k == TokenKind::Tag || k == TokenKind::Alias) {
                // An entry that begins with a property or an alias but has no
                // ':' is a key whose value is empty.
                if (!node(Slot::BlockKey, key, key_mark)) return false;
            } else if (k == TokenKind::Scalar || k == TokenKind::FlowSequenceStart ||
                       k == TokenKind::FlowMappingStart) {
                return fail("expected ':' after mapping key", cur().mark);
            } else if (k != TokenKind::Value) {  // ": value" alone has an empty key
                return fail(unexpected(k, "a block mapping"), cur().mark);
            }
        }
        if (!check_complex_key(key, key_mark)) return false;
        YamlValue value;
        if (kind() == TokenKind::Value) {
            advance();
            Mark value_mark;
            if (!node_or_null(Slot::BlockValue, value, value_mark)) return false;
        }
        if (!add_pair(std::move(key), key_mark, std::move(value), check ? &*check : nullptr))
            return false;
    }
    collect(base, ValueKind::Mapping, out);
    return true;
}

bool Composer::flow_sequence(YamlValue& out) {
    advance();  // FlowSequenceStart
    std::size_t base = scratch_.size();
    for (;;) {
        if (kind() == TokenKind::FlowSequenceEnd) {
            advance();
            break;
        }
        if (!flow_sequence_entry()) return false;
        if (kind() == TokenKind::FlowEntry) {
            advance();
        } else if (kind() != TokenKind::FlowSequenceEnd) {
            return fail(unexpected(kind(), "a flow sequence"), cur().mark);
        }
    }
    collect(base, ValueKind::Sequence, out);
    return true;
}

// One item of a flow sequence; "k: v" and "? k: v" items are one-entry mappings.
bool Composer::flow_sequence_entry() {
    YamlValue key;
    Mark key_mark = cur().mark;
    int indicator = take_key_indicator(key, key_mark, Slot::Flow);
    if (indicator < 0) return false;
    if (indicator == 0 && kind() != TokenKind::Value) {
        if (!starts_node(kind(), Slot::Flow)) return fail(unexpected(kind(), "a flow sequence"), cur().mark);
        if (!node(Slot::Flow, key, key_mark)) return false;
        if (kind() != TokenKind::Value) {
            scratch_.push_back(std::move(key));
            return true;
        }
    }
    if (!check_complex_key(key, key_mark)) return false;
    YamlValue value;
    if (kind() == TokenKind::Value) {
        advance();
        Mark value_mark;
        if (!node_or_null(Slot::Flow, value, value_mark)) return false;
    }
    YamlValue pair = YamlValue::mapping();
    pair.children.reserve(2);
    pair.add_entry(std::move(key), std::move(value));
    scratch_.push_back(std::move(pair));
    return true;
}

bool Composer::flow_mapping(YamlValue& out) {
    advance();  // FlowMappingStart
    std::size_t base = scratch_.size();
    std::optional<KeyCheck> check;
    if (check_duplicates_) check.emplace();
    for (;;) {
        if (kind() == TokenKind::FlowMappingEnd) {
            advance();
            break;
        }
        YamlValue key;
        Mark key_mark = cur().mark;
        int indicator = take_key_indicator(key, key_mark, Slot::Flow);
        if (indicator < 0) return false;
        if (indicator == 0 && kind() != TokenKind::Value) {
            if (!starts_node(kind(), Slot::Flow))
                return fail(unexpected(kind(), "a flow mapping"), cur().mark);
            if (!node(Slot::Flow, key, key_mark)) return false;
        }
        if (!check_complex_key(key, key_mark)) return false;
        YamlValue value;
        if (kind() == TokenKind::Value) {
            advance();
            Mark value_mark;
            if (!node_or_null(Slot::Flow, value, value_mark)) return false;
        }
        if (!add_pair(std::move(key), key_mark, std::move(value), check ? &*check : nullptr))
            return false;
        if (kind() == TokenKind::FlowEntry) {
            advance();
        } else if (kind() != TokenKind::FlowMappingEnd) {
            return fail(unexpected(kind(), "a flow mapping"), cur().mark);
        }
    }
    collect(base, ValueKind::Mapping, out);
    return true;
}

// ---- key policies -----------------------------------------------------------------

bool Composer::check_complex_key(const YamlValue& key, const Mark& mark) {
    if (!options_.reject_complex_keys || !key.is_collection()) return true;
    const char* what = key.kind == ValueKind::Sequence ? "a sequence" : "a mapping";
    return fail(std::string("complex mapping key (") + what + " used as a key)", mark,
                syntax_kind::complex_key);
}

bool Composer::add_pair(YamlValue&& key, const Mark& key_mark, YamlValue&& value, KeyCheck* check) {
    if (check != nullptr && !is_merge_placeholder(key)) {
        check->scratch.clear();
        append_canonical_key(key, check->scratch);
        if (check->seen.find(check->scratch) != check->seen.end()) {
            std::string shown;
            if (key.kind == ValueKind::String)
                shown.assign(key.text);
            else
                append_display_form(key, shown);
            if (options_.duplicate_keys_error)
                return fail("duplicate mapping key: " + shown, key_mark, syntax_kind::duplicate_key);
            warnings_.push_back("duplicate mapping key '" + shown + "' at line " +
                                std::to_string(key_mark.line + 1) + ", column " +
                                std::to_string(key_mark.column + 1) + "; keeping the last value");
        } else {
            check->seen.insert(check->scratch);
        }
    }
    scratch_.push_back(std::move(key));
    scratch_.push_back(std::move(value));
    return true;
}

}  // namespace quarvel
