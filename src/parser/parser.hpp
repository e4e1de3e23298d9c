// The YAML grammar over the token stream, written once and shared by every
// builder: the parser recognises documents, nodes, properties and the shape of
// each collection, and calls its builder to make whatever it builds (resolved
// values, or a syntax tree that keeps comments and layout). The builder is a
// template parameter, so its calls inline and cost nothing.
//
// The token grammar. The scanner has already settled indentation and simple
// keys, so the parser never looks at columns:
//
//   stream      := StreamStart document* StreamEnd
//   document    := (Directive+ DocumentStart | DocumentStart)? node? DocumentEnd?
//   node        := (Anchor | Tag)* content        (properties in any order)
//   content     := Scalar | Alias | flow_seq | flow_map | block_seq | block_map
//                | BlockEntry-run (an indentless sequence, only as a block value)
//                | nothing                         (an empty node)
//   block_seq   := BlockSequenceStart (BlockEntry node?)* BlockEnd
//   block_map   := BlockMappingStart entry* BlockEnd
//   flow_seq    := FlowSequenceStart (item (FlowEntry item)* FlowEntry?)? FlowSequenceEnd
//   flow_map    := FlowMappingStart (entry (FlowEntry entry)* FlowEntry?)? FlowMappingEnd
//   entry       := Key? node? (Value node?)?
//   item        := node | entry                   (a pair becomes a one-entry mapping)
//
// A Key token comes before the key's properties in block context, but in
// flow context the scanner decides simple keys per token, so a pair may have
// no Key token at all: the parser knows a flow pair by the Value after a node.
//
//   a: b       BlockMappingStart Key Scalar(a) Value Scalar(b) BlockEnd
//   k:\n- x    BlockMappingStart Key Scalar(k) Value BlockEntry Scalar(x) BlockEnd
//   {a: b}     FlowMappingStart Key Scalar(a) Value Scalar(b) FlowMappingEnd
//   {&x a: b}  FlowMappingStart Anchor(x) Scalar(a) Value Scalar(b) FlowMappingEnd
//   {[c]: d}   FlowMappingStart FlowSequenceStart Scalar(c) FlowSequenceEnd Value
//              Scalar(d) FlowMappingEnd
//   [a: b]     FlowSequenceStart Key Scalar(a) Value Scalar(b) FlowSequenceEnd
//
// Builder interface (B):
//   types     Node (default-constructible, movable), Props (with any()),
//             Sequence and Mapping (a collection being built)
//   anchor(Props&, const Token&), tag(Props&, const Token&, TagHandles&) -> bool
//   scalar(const Token&, const Props&, Node&), alias(const Token&, Node&) -> bool
//   empty(const Props&, const Mark&, Node&)   a node without content
//   node_done(const Props&, Node&)            the node and its content are complete
//   begin_sequence(const Props&, const Token&, CollectionStyle) -> Sequence
//   item(Sequence&, Node&&, const Mark& item, const Mark* dash) -> bool
//   pair_item(Sequence&, Node&& key, const Mark&, Node&& value) -> bool  ([a: b])
//   end_sequence(Sequence&, const Props&, Node&) -> bool
//   begin_mapping(const Props&, const Token&, CollectionStyle) -> Mapping
//   key(const Node&, const Mark&) -> bool     a key is complete, before its value
//   pair(Mapping&, Node&& key, const Mark&, Node&& value, const Mark& value_mark) -> bool
//   end_mapping(Mapping&, const Props&, Node&) -> bool
//   end_document(Node&& root, bool has_root, bool explicit_start) -> bool
// Optional hooks, called only when the builder declares them, for a builder
// that writes events in source order:
//   begin_document(bool explicit_start)   before the document's root
//   end_marker(bool explicit_end)         just before end_document: whether
//                                         a "..." closes the document
// Policy differences between builders (a second anchor, aliases, empty
// documents, tag expansion) live in the builder; errors go to ParseErrors.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "parser/directives.hpp"
#include "parser/tag_expansion.hpp"
#include "scanner/token.hpp"
#include "scanner/token_stream.hpp"
#include "support/error.hpp"
#include "support/limits.hpp"
#include "support/stack.hpp"

namespace quarvel {

enum class CollectionStyle : std::uint8_t { Block, Flow };

// The first error of one parse, shared by the parser and its builder.
class ParseErrors {
  public:
    bool fail(std::string message, const Mark& mark, int kind = syntax_kind::parse) {
        if (!error_) error_ = syntax_error(std::move(message), mark, kind);
        return false;
    }
    bool fail(Error error) {
        if (!error_) error_ = std::move(error);
        return false;
    }
    bool failed() const { return error_.has_value(); }
    Error take() { return *std::move(error_); }

  private:
    std::optional<Error> error_;
};

namespace grammar {

// Where a node stands; decides which block tokens may start it.
enum class Slot : std::uint8_t {
    Block,       // document root, block sequence item
    BlockValue,  // value in a block mapping: an indentless sequence may start here
    BlockKey,    // key in a block mapping: block collections are refused
    Flow,
};

inline bool ends_document(TokenKind k) {
    return k == TokenKind::StreamEnd || k == TokenKind::DocumentStart ||
           k == TokenKind::DocumentEnd || k == TokenKind::Directive;
}

inline bool starts_node(TokenKind k, Slot slot) {
    switch (k) {
        case TokenKind::Anchor:
        case TokenKind::Tag:
        case TokenKind::Alias:
        case TokenKind::Scalar:
        case TokenKind::FlowSequenceStart:
        case TokenKind::FlowMappingStart:
            return true;
        case TokenKind::BlockSequenceStart:
        case TokenKind::BlockMappingStart:
            return slot != Slot::Flow;
        case TokenKind::BlockEntry:
            return slot == Slot::BlockValue || slot == Slot::BlockKey;
        default:
            return false;
    }
}

// "unexpected ':' in a flow sequence"
std::string unexpected(TokenKind k, const char* where);

// Depth of nested nodes; the counter goes back down when the node is done.
struct DepthScope {
    std::uint32_t& depth;
    explicit DepthScope(std::uint32_t& d) : depth(d) { ++depth; }
    ~DepthScope() { --depth; }
};

}  // namespace grammar

template <class B>
class Parser {
  public:
    using Node = typename B::Node;
    using Props = typename B::Props;

    // The builder reports its errors to `errors` too.
    Parser(TokenStream& tokens, B& builder, ParseErrors& errors)
        : tokens_(tokens), builder_(builder), errors_(errors) {}

    // Every document of the stream; false with errors set on failure.
    bool parse_stream();

  private:
    using Slot = grammar::Slot;

    // One mapping entry, or a flow sequence item that turned out not to be a pair.
    struct Entry {
        Node key;
        Node value;
        Mark key_mark;
        Mark value_mark;
        bool is_pair = true;
        std::uint32_t block_column = 0;  // a block mapping's: the column of its keys
    };

    const Token& cur() { return tokens_.at(pos_); }
    TokenKind kind() { return tokens_.at(pos_).kind; }
    // Stays on StreamEnd. References to tokens do not survive advance():
    // consumed tokens are given back to the stream now and then.
    void advance() {
        if (cur().kind == TokenKind::StreamEnd) return;
        ++pos_;
        if ((pos_ & 1023) == 0) tokens_.release_before(pos_);
    }
    bool fail(std::string message, const Mark& mark) {
        return errors_.fail(std::move(message), mark);
    }

    bool stray_item_or_unexpected(TokenKind k, const char* where);
    bool read_directives(bool allowed);
    bool document();

    bool property(Props& props);
    int key_indicator(Node& key, Mark& key_mark, Slot slot, std::uint32_t block_column);
    bool node(Slot slot, Node& out, Mark& mark, Props props = {});
    bool node_or_empty(Slot slot, Node& out, Mark& mark);
    bool content(Slot slot, const Props& props, Node& out);
    template <class F>
    bool descend(F&& step);

    bool block_sequence(const Props& props, Node& out);
    bool indentless_sequence(const Props& props, Node& out);
    bool block_entry(typename B::Sequence& seq);
    bool block_mapping(const Props& props, Node& out);
    bool flow_sequence(const Props& props, Node& out);
    bool flow_mapping(const Props& props, Node& out);
    bool entry(Slot slot, const char* where, bool items_allowed, Entry& e);
    const Token* content_not_indented(const Mark& value, std::uint32_t column);

    TokenStream& tokens_;
    B& builder_;
    ParseErrors& errors_;
    TagHandles handles_;
    std::size_t pos_ = 0;
    std::uint32_t depth_ = 0;
    // Line and column of the latest block sequence item's '-', for the hint
    // on a misplaced one: two words stored per item, nothing else.
    std::uint32_t last_dash_line_ = kNoDash;
    std::uint32_t last_dash_column_ = 0;
    static constexpr std::uint32_t kNoDash = static_cast<std::uint32_t>(-1);
    // The properties the node being read has so far: one anchor and one tag
    // at most, since a second would silently replace the first.
    bool has_anchor_ = false;
    bool has_tag_ = false;
    // Nested collections check the stack by frame address.
    StackRoom stack_;
};

// ---- stream and documents ----------------------------------------------------

template <class B>
bool Parser<B>::parse_stream() {
    if (kind() == TokenKind::StreamStart) advance();
    bool directives_allowed = true;
    while (kind() != TokenKind::StreamEnd) {
        if (kind() == TokenKind::DocumentEnd) {  // a stray "..." closes nothing
            advance();
            directives_allowed = true;
            continue;
        }
        if (kind() == TokenKind::Directive && !read_directives(directives_allowed)) return false;
        if (!document()) return false;
        directives_allowed = false;
        if (kind() == TokenKind::DocumentEnd) {
            advance();
            directives_allowed = true;
        }
    }
    return true;
}

template <class B>
bool Parser<B>::read_directives(bool allowed) {
    if (!allowed)
        return fail(
            "a directive must be at the start of the stream or follow a document-end marker (...)",
            cur().mark);
    DirectiveRun run;
    while (kind() == TokenKind::Directive) {
        if (auto err = apply_directive(cur(), run, handles_)) return errors_.fail(std::move(*err));
        advance();
    }
    if (kind() != TokenKind::DocumentStart)
        return fail("directive must be followed by a document start (---)", cur().mark);
    return true;
}

template <class B>
bool Parser<B>::document() {
    const bool explicit_start = kind() == TokenKind::DocumentStart;
    const Mark start = cur().mark;
    if (explicit_start) advance();
    Node root;
    Mark mark;
    const bool has_root = !grammar::ends_document(kind());
    if (!has_root && !explicit_start) return true;  // nothing but comments: no document
    if constexpr (requires { builder_.begin_document(explicit_start); })
        builder_.begin_document(explicit_start);
    if (has_root) {
        if (!node(Slot::Block, root, mark)) return false;
    } else {
        builder_.empty(Props{}, start, root);
    }
    if (!grammar::ends_document(kind())) return fail("trailing content after document", cur().mark);
    handles_.clear();
    if constexpr (requires { builder_.end_marker(true); })
        builder_.end_marker(kind() == TokenKind::DocumentEnd);
    return builder_.end_document(std::move(root), has_root, explicit_start);
}

// ---- nodes --------------------------------------------------------------------

template <class B>
bool Parser<B>::property(Props& props) {
    const Token& t = cur();
    const bool anchor = t.kind == TokenKind::Anchor;
    if (anchor ? has_anchor_ : has_tag_)
        return fail(anchor ? "a node cannot have two anchors" : "a node cannot have two tags",
                    t.mark);
    (anchor ? has_anchor_ : has_tag_) = true;
    const bool ok = anchor ? builder_.anchor(props, t) : builder_.tag(props, t, handles_);
    if (!ok) return false;
    advance();
    return true;
}

// A Key indicator and the key after it: 1 when one was read (the key may be
// empty), 0 when there is none here, -1 on error. In flow context an implicit
// key's Key token comes after the key's anchor and tag, so properties in front
// of a Key indicator belong to the key.
template <class B>
int Parser<B>::key_indicator(Node& key, Mark& key_mark, Slot slot, std::uint32_t block_column) {
    Props pre{};
    if (kind() != TokenKind::Key) {
        std::size_t j = pos_;
        while (tokens_.at(j).kind == TokenKind::Anchor || tokens_.at(j).kind == TokenKind::Tag) ++j;
        if (j == pos_ || tokens_.at(j).kind != TokenKind::Key) return 0;
        while (pos_ < j)
            if (!property(pre)) return -1;
    }
    const Mark indicator = cur().mark;
    advance();  // Key
    key_mark = cur().mark;
    // "?" then a line not indented past the mapping: that line is no part
    // of the key (which is empty), but an entry of its own.
    if (slot == Slot::BlockKey && !pre.any() && content_not_indented(indicator, block_column)) {
        builder_.empty(Props{}, key_mark, key);
        return 1;
    }
    if (pre.any() || grammar::starts_node(kind(), slot))
        return node(slot, key, key_mark, pre) ? 1 : -1;
    builder_.empty(Props{}, key_mark, key);
    return 1;
}

template <class B>
bool Parser<B>::node_or_empty(Slot slot, Node& out, Mark& mark) {
    if (grammar::starts_node(kind(), slot)) return node(slot, out, mark);
    mark = cur().mark;
    builder_.empty(Props{}, mark, out);
    return true;
}

template <class B>
bool Parser<B>::node(Slot slot, Node& out, Mark& mark, Props props) {
    grammar::DepthScope scope(depth_);
    if (depth_ > kMaxDepth) return fail(max_depth_message(), cur().mark);
    while (kind() == TokenKind::Anchor || kind() == TokenKind::Tag)
        if (!property(props)) return false;
    has_anchor_ = has_tag_ = false;
    mark = cur().mark;
    if (!content(slot, props, out)) return false;
    builder_.node_done(props, out);
    return true;
}

// Runs one nested collection, on a fresh stack segment when the thread's
// stack runs low.
template <class B>
template <class F>
bool Parser<B>::descend(F&& step) {
    if (stack_.run(step)) return true;
    if (!errors_.failed()) errors_.fail(stack_exhausted_error());
    return false;
}

template <class B>
bool Parser<B>::content(Slot slot, const Props& props, Node& out) {
    const Token& t = cur();
    switch (t.kind) {
        case TokenKind::Alias:
            // An alias stands for a node defined elsewhere and carries no
            // properties of its own: "&x *a" and "!t *a" do not parse, for
            // any builder.
            if (props.any())
                return errors_.fail("an alias node cannot have an anchor or tag", t.mark);
            if (!builder_.alias(t, out)) return false;
            advance();
            return true;
        case TokenKind::Scalar:
            if (!builder_.scalar(t, props, out)) return false;
            advance();
            return true;
        case TokenKind::FlowSequenceStart:
            return descend([&] { return flow_sequence(props, out); });
        case TokenKind::FlowMappingStart:
            return descend([&] { return flow_mapping(props, out); });
        case TokenKind::BlockSequenceStart:
        case TokenKind::BlockMappingStart:
        case TokenKind::BlockEntry:
            if (slot == Slot::BlockKey)
                return fail("a block collection cannot be a mapping key", t.mark);
            if (slot == Slot::Flow ||
                (t.kind == TokenKind::BlockEntry && slot != Slot::BlockValue)) {
                builder_.empty(props, t.mark, out);  // not part of this node
                return !errors_.failed();
            }
            if (t.kind == TokenKind::BlockSequenceStart)
                return descend([&] { return block_sequence(props, out); });
            if (t.kind == TokenKind::BlockMappingStart)
                return descend([&] { return block_mapping(props, out); });
            return descend([&] { return indentless_sequence(props, out); });
        default:
            // Properties without content, or no node at all. Under a tag
            // the empty text may not fit it ("!!int" alone).
            builder_.empty(props, t.mark, out);
            return !errors_.failed();
    }
}

// ---- collections ------------------------------------------------------------------

template <class B>
bool Parser<B>::block_sequence(const Props& props, Node& out) {
    auto seq = builder_.begin_sequence(props, cur(), CollectionStyle::Block);
    advance();  // BlockSequenceStart
    for (;;) {
        if (kind() == TokenKind::BlockEnd) {
            advance();
            break;
        }
        if (kind() != TokenKind::BlockEntry)
            return fail(grammar::unexpected(kind(), "a block sequence"), cur().mark);
        if (!block_entry(seq)) return false;
    }
    return builder_.end_sequence(seq, props, out);
}

// A '-' entry and its node (empty when there is none).
template <class B>
bool Parser<B>::block_entry(typename B::Sequence& seq) {
    const Mark dash = cur().mark;
    last_dash_line_ = dash.line;
    last_dash_column_ = dash.column;
    advance();  // BlockEntry
    Node item;
    Mark mark;
    if (!node_or_empty(Slot::Block, item, mark)) return false;
    return builder_.item(seq, std::move(item), mark, &dash);
}

// "key:\n- a\n- b": entries at the column of the mapping's keys, no BlockEnd.
template <class B>
bool Parser<B>::indentless_sequence(const Props& props, Node& out) {
    auto seq = builder_.begin_sequence(props, cur(), CollectionStyle::Block);
    while (kind() == TokenKind::BlockEntry)
        if (!block_entry(seq)) return false;
    return builder_.end_sequence(seq, props, out);
}

// An unexpected token where a mapping key should be. A '-' there is most
// often a sequence item indented differently from the items above it:
//
//   items:
//     - a
//    - b        <- one column short of the item above
//
// so the error then notes where the latest item began.
template <class B>
bool Parser<B>::stray_item_or_unexpected(TokenKind k, const char* where) {
    const Mark at = cur().mark;
    Error e = syntax_error(grammar::unexpected(k, where), at);
    const bool item = k == TokenKind::BlockEntry || k == TokenKind::BlockSequenceStart;
    if (item && last_dash_line_ != kNoDash && last_dash_line_ < at.line &&
        last_dash_column_ != at.column)
        e.notes.push_back({"the item above", "starts here; should this '-' line up with it?",
                           last_dash_line_, last_dash_column_});
    return errors_.fail(std::move(e));
}

// One entry of a mapping, or one item of a flow sequence (items_allowed):
// an optional key (after '?', or a node followed by ':') and an optional
// value after ':'. Either side may be empty.
template <class B>
bool Parser<B>::entry(Slot slot, const char* where, bool items_allowed, Entry& e) {
    e.key_mark = cur().mark;
    const int indicator = key_indicator(e.key, e.key_mark, slot, e.block_column);
    if (indicator < 0) return false;
    if (indicator == 0) {
        const TokenKind k = kind();
        if (k == TokenKind::Value) {  // ": value" alone has an empty key
            builder_.empty(Props{}, e.key_mark, e.key);
        } else if (slot == Slot::BlockKey) {
            // Content without a key indicator would have been a simple key
            // had a ':' followed it on its line.
            if (k == TokenKind::Scalar || k == TokenKind::FlowSequenceStart ||
                k == TokenKind::FlowMappingStart || k == TokenKind::Anchor || k == TokenKind::Tag ||
                k == TokenKind::Alias)
                return fail("expected ':' after mapping key", cur().mark);
            return stray_item_or_unexpected(k, where);
        } else {
            if (!grammar::starts_node(k, slot))
                return fail(grammar::unexpected(k, where), cur().mark);
            if (!node(slot, e.key, e.key_mark)) return false;
            if (items_allowed && kind() != TokenKind::Value) {
                e.is_pair = false;
                return true;
            }
        }
    }
    if (!builder_.key(e.key, e.key_mark)) return false;
    if (kind() == TokenKind::Value) {
        const Mark value = cur().mark;
        advance();
        if (slot == Slot::BlockKey) {
            if (const Token* t = content_not_indented(value, e.block_column))
                return fail("expected ':' after mapping key", t->mark);
        }
        return node_or_empty(slot == Slot::BlockKey ? Slot::BlockValue : slot, e.value,
                             e.value_mark);
    }
    e.value_mark = cur().mark;
    builder_.empty(Props{}, e.value_mark, e.value);
    return true;
}

// The content token of a block mapping value that starts on a line below
// its ':' without being indented past the mapping's keys ("a:\nb"): such a
// token would begin the next entry, so it is a key that lacks its ':'. Block
// scalars, indentless sequences and empty values are exempt; properties were
// checked by the scanner.
template <class B>
const Token* Parser<B>::content_not_indented(const Mark& value, std::uint32_t column) {
    std::size_t j = pos_;
    while (tokens_.at(j).kind == TokenKind::Anchor || tokens_.at(j).kind == TokenKind::Tag) ++j;
    const Token& t = tokens_.at(j);
    const bool content = (t.kind == TokenKind::Scalar &&
                          (t.style == ScalarStyle::Plain || t.style == ScalarStyle::SingleQuoted ||
                           t.style == ScalarStyle::DoubleQuoted)) ||
                         t.kind == TokenKind::Alias || t.kind == TokenKind::FlowSequenceStart ||
                         t.kind == TokenKind::FlowMappingStart;
    if (content && t.mark.line > value.line && t.mark.column <= column) return &t;
    return nullptr;
}

template <class B>
bool Parser<B>::block_mapping(const Props& props, Node& out) {
    const std::uint32_t column = cur().mark.column;
    auto map = builder_.begin_mapping(props, cur(), CollectionStyle::Block);
    advance();  // BlockMappingStart
    for (;;) {
        if (kind() == TokenKind::BlockEnd) {
            advance();
            break;
        }
        Entry e;
        e.block_column = column;
        if (!entry(Slot::BlockKey, "a block mapping", false, e)) return false;
        if (!builder_.pair(map, std::move(e.key), e.key_mark, std::move(e.value), e.value_mark))
            return false;
    }
    return builder_.end_mapping(map, props, out);
}

template <class B>
bool Parser<B>::flow_sequence(const Props& props, Node& out) {
    auto seq = builder_.begin_sequence(props, cur(), CollectionStyle::Flow);
    advance();  // FlowSequenceStart
    for (;;) {
        if (kind() == TokenKind::FlowSequenceEnd) {
            advance();
            break;
        }
        Entry e;
        if (!entry(Slot::Flow, "a flow sequence", true, e)) return false;
        const bool ok =
            e.is_pair ? builder_.pair_item(seq, std::move(e.key), e.key_mark, std::move(e.value))
                      : builder_.item(seq, std::move(e.key), e.key_mark, nullptr);
        if (!ok) return false;
        if (kind() == TokenKind::FlowEntry) {
            advance();
        } else if (kind() != TokenKind::FlowSequenceEnd) {
            return fail(grammar::unexpected(kind(), "a flow sequence"), cur().mark);
        }
    }
    return builder_.end_sequence(seq, props, out);
}

template <class B>
bool Parser<B>::flow_mapping(const Props& props, Node& out) {
    auto map = builder_.begin_mapping(props, cur(), CollectionStyle::Flow);
    advance();  // FlowMappingStart
    for (;;) {
        if (kind() == TokenKind::FlowMappingEnd) {
            advance();
            break;
        }
        Entry e;
        if (!entry(Slot::Flow, "a flow mapping", false, e)) return false;
        if (!builder_.pair(map, std::move(e.key), e.key_mark, std::move(e.value), e.value_mark))
            return false;
        if (kind() == TokenKind::FlowEntry) {
            advance();
        } else if (kind() != TokenKind::FlowMappingEnd) {
            return fail(grammar::unexpected(kind(), "a flow mapping"), cur().mark);
        }
    }
    return builder_.end_mapping(map, props, out);
}

}  // namespace quarvel
