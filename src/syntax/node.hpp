// The comment-keeping syntax tree: one YamlNode tree per document, keeping
// what the value tree throws away (scalar text and style, block or flow
// layout, anchors and aliases as written, tags as written, comments, blank
// lines, spacing after indicators, block scalar source, exact extents, and
// the file each node came from). Configuration loading, schema validation
// and round-trip editing all work on it.
//
// Texts are views: into the source text of the node's file, or into the
// Arena of the SyntaxForest that owns the tree (escaped scalars, edits). A
// forest therefore never outlives the texts it was composed from; whoever
// owns the forest keeps those texts (the document keeps its source bytes,
// the directive resolver the text of every included file).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "parser/parser.hpp"
#include "scanner/token.hpp"
#include "support/arena.hpp"
#include "support/warm_memory.hpp"

namespace quarvel {

enum class NodeKind : std::uint8_t { Scalar, Sequence, Mapping, Alias, Null };

// Start position of a node: the mark of its content token (the token after
// its anchor and tag; for a node without content, the token that ended it).
struct Span {
    std::uint32_t file_id = 0;  // 0: the document's own text; else the file table's number
    std::uint32_t line = 0;     // 0-based
    std::uint32_t column = 0;   // 0-based, in characters
    std::uint64_t offset = 0;   // 0-based byte offset into that file's text
};

// The comment fields most nodes never have, kept out of line.
struct CommentText {
    std::vector<std::string_view> head;           // standalone lines above the node, bare text
    std::optional<std::string_view> inline_text;  // after the node on its first line
    std::uint32_t inline_spaces = 0;              // columns between the node's end and that '#'
    std::optional<std::string_view> raw;          // source bytes of a literal or folded scalar
    std::vector<std::string_view> foot;           // trailing lines (only the last root gets these)
    // Set on a node that replaced another by an edit: just past the last
    // character of what it replaced, in the text of its span, so that the
    // lines around the place can still be told apart.
    std::optional<std::uint64_t> replaced_end;
    // Where the node's source text (or the text it replaced) started, its
    // properties included, noted before an edit changed them.
    std::optional<std::uint64_t> source_start;
};

// What the root of an included file had as its own before it took the place
// of the directive (whose position, comments and anchor it then carries):
// writing that file back puts these back.
struct IncludedRoot {
    Span span;
    std::uint64_t end_offset = 0;
    std::uint32_t end_line = 0;
    std::uint32_t end_column = 0;
    bool explicit_start = false;
    std::optional<std::string_view> anchor;
    std::shared_ptr<const CommentText> comments;  // null when it had none
};

// One file's share of a merged directory ("!include_dir_merge_list" or
// "_named"): where the children it gave stand among the merged node's, and
// its root as it was in that file, for writing edits back there.
struct MergedFile {
    std::uint32_t file_id = 0;
    std::uint32_t first = 0;  // index of its first child in the merged node
    std::uint32_t count = 0;  // children it gave: items, or keys and values
    // A merge list took the file's root itself as one item, since it was no
    // sequence; the file is then that item alone.
    bool whole_root = false;
    // An edit removed or inserted some of its children: the file changed
    // even when no child that is left did.
    bool edited = false;
    NodeKind kind = NodeKind::Sequence;
    CollectionStyle style = CollectionStyle::Block;
    IncludedRoot own;
};

// The configuration directive that produced a node at load time.
struct IncludeSource {
    std::string_view tag;     // as written: "!include", "!secret", "!env_var", ...
    std::string_view target;  // the argument as written
    std::optional<std::uint32_t> target_file_id;  // an included single file's number
    std::optional<IncludedRoot> own_root;         // set by "!include"
    std::vector<MergedFile> merged;               // set by the merging directory directives
};

// Comments and layout attached to a node.
// The pointer comes first so that the padding after the flags is at the end,
// where a YamlNode puts its own one-byte fields.
struct Comments {
    std::unique_ptr<CommentText> text;  // null when the node has none of these
    std::uint32_t blank_before = 0;     // blank lines above the head comments (or the node)
    std::uint32_t value_pad = 0;        // spaces after ':' or '-' before the node; 0 and 1 mean one
    bool compact = false;      // "- - a": a block sequence starting on its parent's '-' line
    bool modified = false;     // changed after loading: the document re-emits
    bool head_edited = false;  // the head comments were set after loading

    CommentText& text_fields() {
        if (!text) text = std::make_unique<CommentText>();
        return *text;
    }
    bool has_head() const { return text && !text->head.empty(); }
    bool has_inline() const { return text && text->inline_text.has_value(); }
};

struct YamlNode;
// Children and roots live in the thread's warm memory (support/warm_memory.hpp):
// a large tree's vectors are big enough that the C library would map them
// afresh, page fault by page fault, on every load.
using NodeList = std::vector<YamlNode, warm::Allocator<YamlNode>>;

// A node's anchor, tag and provenance, which most nodes of a configuration
// lack: kept out of line, so that a node without them is 64 bytes smaller.
struct NodeProperties {
    std::optional<std::string_view> anchor;  // without '&'
    std::optional<std::string_view> tag;     // as written, handle included
    // The tag through the document's %TAG handles, when they change it
    // (empty otherwise): what conversion reads and what tag handlers see.
    std::string_view expanded_tag;
    std::unique_ptr<IncludeSource> source;  // the directive that produced the node

    NodeProperties() = default;
    NodeProperties(const NodeProperties& o)
        : anchor(o.anchor),
          tag(o.tag),
          expanded_tag(o.expanded_tag),
          source(o.source ? std::make_unique<IncludeSource>(*o.source) : nullptr) {}

    bool empty() const { return !anchor && !tag && expanded_tag.empty() && !source; }
};

struct YamlNode {
    // First, and allowed to overlap: the kind, the styles and the flags below
    // take the bytes left over at its end, which makes a node 8 bytes smaller.
    [[no_unique_address]] Comments comments;
    NodeKind kind = NodeKind::Null;
    ScalarStyle scalar_style = ScalarStyle::Plain;   // scalars
    CollectionStyle style = CollectionStyle::Block;  // sequences and mappings
    bool explicit_start : 1 = false;                 // a document root opened by "---"
    bool leading_bom : 1 = false;  // the first root of a text that began with a byte order mark
    bool synthetic : 1 = false;    // a null made from Python None by an edit
    bool flow_pair : 1 = false;    // "[a: b]": a one-entry flow mapping without braces of its own
    Span span;
    std::uint64_t end_offset = 0;  // just past the node's last source character
    std::uint32_t end_line = 0;
    std::uint32_t end_column = 0;
    // Scalar: the decoded text. Alias: the anchor name without '*'.
    std::string_view text;
    // Sequence: the items. Mapping: key, value, key, value, ... in order.
    NodeList children;

    YamlNode() = default;
    YamlNode(YamlNode&&) noexcept = default;
    YamlNode& operator=(YamlNode&&) noexcept = default;
    YamlNode(const YamlNode&) = delete;
    YamlNode& operator=(const YamlNode&) = delete;
    ~YamlNode() {
        if (!children.empty()) destroy_children();
    }

    std::optional<std::string_view> anchor() const {
        return properties_ ? properties_->anchor : std::nullopt;
    }
    std::optional<std::string_view> tag() const {
        return properties_ ? properties_->tag : std::nullopt;
    }
    std::string_view expanded_tag() const {
        return properties_ ? properties_->expanded_tag : std::string_view{};
    }
    // The configuration directive that produced the node at load time, if any.
    const IncludeSource* source() const {
        return properties_ ? properties_->source.get() : nullptr;
    }
    IncludeSource* source() { return properties_ ? properties_->source.get() : nullptr; }
    void set_source(std::unique_ptr<IncludeSource> source) {
        if (source || properties_) properties().source = std::move(source);
    }
    void set_anchor(std::optional<std::string_view> anchor) {
        if (anchor || properties_) properties().anchor = anchor;
    }
    void set_tag(std::optional<std::string_view> tag) {
        if (tag || properties_) properties().tag = tag;
    }
    void set_expanded_tag(std::string_view expanded) {
        if (!expanded.empty() || properties_) properties().expanded_tag = expanded;
    }

    // The tag conversion goes by: expanded through %TAG handles, else as written.
    std::string_view effective_tag() const {
        if (!properties_) return {};
        return !properties_->expanded_tag.empty() ? properties_->expanded_tag
               : properties_->tag                 ? *properties_->tag
                                                  : std::string_view{};
    }

    bool is_collection() const { return kind == NodeKind::Sequence || kind == NodeKind::Mapping; }
    std::size_t size() const {
        return kind == NodeKind::Mapping ? children.size() / 2 : children.size();
    }
    YamlNode& key(std::size_t i) { return children[2 * i]; }
    YamlNode& value(std::size_t i) { return children[2 * i + 1]; }
    const YamlNode& key(std::size_t i) const { return children[2 * i]; }
    const YamlNode& value(std::size_t i) const { return children[2 * i + 1]; }

    // A copy of everything but the children (positions, properties, comments,
    // source); the expanding copy and edits build on it.
    YamlNode copy_shallow() const;

  private:
    NodeProperties& properties() {
        if (!properties_) properties_ = std::make_unique<NodeProperties>();
        return *properties_;
    }
    // Frees deep trees without deep recursion.
    void destroy_children() noexcept;

    std::unique_ptr<NodeProperties> properties_;  // null when the node has none
};

// A large document holds hundreds of thousands of nodes: their size is what
// composing and converting it move through memory.
static_assert(sizeof(YamlNode) <= 112, "a syntax-tree node grew");

inline bool is_flow_pair(const YamlNode& n) {
    return n.flow_pair;
}

// An edit put the node in the place of source text, whose end it knows.
inline bool replaced_text(const YamlNode& n) {
    return n.comments.text && n.comments.text->replaced_end;
}

// The documents of one text, with the storage their texts may point into.
struct SyntaxForest {
    NodeList roots;
    Arena arena;
    bool has_aliases = false;  // some node is an alias
    bool has_tags = false;     // some node carries a tag
};

}  // namespace quarvel
