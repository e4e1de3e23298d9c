// The round-trip emitter's writer, shared by the files that implement it
// along its seams: source reuse (emit_source.cpp), comments and blank lines
// (emit_comments.cpp), properties and directive lines (emit_properties.cpp)
// and the structure of collections and scalars (emit_structure.cpp).
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "roundtrip/emitter.hpp"
#include "roundtrip/scalar_writer.hpp"
#include "roundtrip/source_layout.hpp"
#include "support/stack.hpp"

namespace quarvel::roundtrip::emit {

inline constexpr std::string_view kBom = "\xEF\xBB\xBF";
// Longer keys than this are not implicit keys for every reader.
inline constexpr std::size_t kMaxImplicitKey = 1024;

// A text whose first line ends with CR LF: re-emitted lines end that way too.
inline bool uses_crlf(std::string_view text) {
    const std::size_t nl = text.find('\n');
    return nl != std::string_view::npos && nl > 0 && text[nl - 1] == '\r';
}

// Every line feed not already preceded by a carriage return gets one. The
// writers never put a carriage return into a line (quoted scalars escape
// it), so the only ones present came with copied CR LF source lines.
inline void to_crlf(std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    text = std::move(out);
}

inline bool is_block_collection(const YamlNode& n) {
    return n.is_collection() && n.style == CollectionStyle::Block && !n.children.empty();
}

inline bool has_properties(const YamlNode& n) {
    return n.anchor().has_value() || n.tag().has_value();
}

inline bool has_head_or_blank(const YamlNode& n) {
    return n.comments.blank_before > 0 || n.comments.has_head();
}

inline bool is_block_style(const YamlNode& n) {
    return n.kind == NodeKind::Scalar &&
           (n.scalar_style == ScalarStyle::Literal || n.scalar_style == ScalarStyle::Folded);
}

// A key that can stand before ':' on one line.
inline bool is_simple_key(const YamlNode& key) {
    if (key.kind == NodeKind::Scalar)
        return !is_block_style(key) && key.text.size() <= kMaxImplicitKey;
    return !is_block_collection(key);
}

// The indentation of the content of an untouched block scalar, or -1 when
// it has no content line; -2 when the header fixes it with a digit, which is
// relative to where the scalar used to be.
inline int raw_content_indent(std::string_view raw) {
    const std::size_t header_end = raw.find('\n');
    if (header_end == std::string_view::npos) return -1;
    const std::string_view header = raw.substr(0, header_end);
    const std::size_t comment = header.find('#');
    for (char c : header.substr(0, comment))
        if (c >= '1' && c <= '9') return -2;
    std::size_t pos = header_end + 1;
    while (pos < raw.size()) {
        std::size_t end = raw.find('\n', pos);
        if (end == std::string_view::npos) end = raw.size();
        const std::string_view line = raw.substr(pos, end - pos);
        const std::size_t first = line.find_first_not_of(' ');
        if (first != std::string_view::npos && line[first] != '\r') return static_cast<int>(first);
        pos = end + 1;
    }
    return -1;
}

inline const std::vector<std::string_view> kNoLines;

// A %TAG handle a document's tags were written with, and its prefix.
struct Handle {
    std::string_view handle;
    std::string_view prefix;
};

// The handle of a tag written in shorthand ("!e!" of "!e!foo", "!" of "!foo").
inline std::string_view handle_of(std::string_view tag) {
    if (tag.starts_with("!<") || !tag.starts_with('!')) return {};
    const std::size_t second = tag.find('!', 1);
    return tag.substr(0, second == std::string_view::npos ? 1 : second + 1);
}

// A carriage return not followed by a line feed: a line break of its own.
inline bool has_lone_carriage_return(std::string_view text) {
    for (std::size_t cr = text.find('\r'); cr != std::string_view::npos;
         cr = text.find('\r', cr + 1))
        if (cr + 1 == text.size() || text[cr + 1] != '\n') return true;
    return false;
}

// Changed within the text being written (a boundary's content counts as
// its directive line, which an edit inside another file leaves as it is).
bool changed_here(const YamlNode& node);

// The source of a block scalar, read on its own, gives the node's text.
bool raw_reads_as(std::string_view raw, std::string_view text);

// The lines of the known source a document owns: from the line after the
// previous document's last character (its directives, comments and markers
// first) to the line after its own; the last one owns the rest of the text.
struct Lines {
    std::optional<std::size_t> from;
    std::optional<std::size_t> to;
    bool last = false;
    bool opened = false;  // the lines above its content were copied
};

class Writer {
  public:
    Writer(const EmitOptions& options, std::string& out, std::optional<SourceText> source)
        : o_(options), out_(out), normalize_(options.normalize_layout) {
        if (source) source_.emplace(*source);
        // Source lines are told apart by line feeds; a text that also
        // breaks lines with a carriage return alone is written anew.
        if (source && has_lone_carriage_return(source->text)) keep_columns_ = false;
    }

    // One document: %TAG lines for the handles its tags need, the "---"
    // marker (always after directives or when `separated`), then the root.
    void document(const YamlNode& node, bool with_source, bool separated, bool after_document,
                  Lines lines = {});
    void root(const YamlNode& node, bool with_source, std::size_t head_from, Lines lines);
    // The lines of the known source a root owns, from `from` on.
    Lines lines_of(const YamlNode& node, std::optional<std::size_t> from, bool last) const;
    // An unchanged document is its lines, copied.
    bool copied_document(const YamlNode& node, Lines lines);
    // Ends the output as the source text ends: without a final line break
    // when it had none (unless a block scalar written anew holds it), and
    // with CR LF line ends when its lines end so.
    void finish_text();
    // Normalising a text without documents: its lines, tidied.
    void tidied_stream();
    void stand_in(const YamlNode& boundary, const YamlNode& own_root) {
        boundary_ = &boundary;
        own_root_ = &own_root;
    }
    bool failed() const { return failed_; }
    // Normalising met what it cannot write in place: the text is left as it is.
    bool refused() const { return refused_; }
    // Nodes are written at the columns they have in the source, and
    // unchanged entries as their source lines; off for a node written alone
    // away from its column.
    void keep_columns(bool keep) { keep_columns_ = keep; }

  private:
    // Writes where a scalar sits: its place and the indentation of its parent
    // (the column of its key or dash; -1 for a root).
    struct At {
        ScalarPlace place;
        int parent;
    };

    template <class F>
    void deeper(F&& f) {
        if (failed_) return;
        if (!ensure_stack([&] {
                f();
                return true;
            }))
            failed_ = true;
    }

    void spaces(std::size_t n) { out_.append(n, ' '); }
    using Located = SourceLayout::Located;
    std::optional<Located> locate(std::string_view comment) const {
        return source_ ? source_->locate_comment(comment) : std::nullopt;
    }
    bool in_source(const YamlNode& node) const { return source_ && source_->holds(node); }
    // A located comment as the source writes it, from its '#' (an empty one
    // normalised without the blank after it).
    std::string_view comment_source(const Located& c) const {
        std::string_view s = source_->text().substr(c.hash, c.end - c.hash);
        if (normalize_)
            while (s.ends_with(' ') || s.ends_with('\t')) s.remove_suffix(1);
        return s;
    }
    bool written_explicit(const YamlNode& key) const {
        return in_source(key) && source_->explicit_key(key);
    }
    std::uint32_t blank_lines_above(std::size_t offset) const {
        return source_ ? source_->blank_lines_above(offset) : 0;
    }
    // `follow`: a normalised comment goes to column n whatever its own.
    void comment_line(std::string_view text, std::size_t n, std::uint32_t column,
                      bool follow = false);
    static constexpr std::size_t kNoComments = static_cast<std::size_t>(-1);
    // The head comments from `from` up to `until`.
    void head(const YamlNode& node, std::size_t n, std::size_t from = 0,
              std::size_t until = kNoComments);
    void foot(const YamlNode& node);
    // The foot comments above the source offset `until`, for a tail whose
    // marker lines are copied from there on.
    void foot_above(const YamlNode& node, std::size_t until);
    void item_below_dash(const YamlNode& item, std::size_t n, std::size_t dash, bool prefix_copied);
    bool fits_at(std::string_view slice, At at) const;

    // Entry regions: the lines of a block collection of the known source
    // that each entry owns, from its blank lines and head comments to the
    // line after its last character. Edges the tree cannot tell are absent.
    struct Region {
        std::optional<std::size_t> start;
        std::optional<std::size_t> end;
    };
    using Bounds = std::vector<Region>;
    bool placed(const YamlNode& node) const { return !normalize_ && placed_in_source(node); }
    bool placed_in_source(const YamlNode& node) const;
    // The source column of a collection, when it still nests where it is
    // written now (at least `least`): a node copied from elsewhere may not.
    std::size_t column_of(const YamlNode& node, std::size_t otherwise,
                          std::size_t least = 0) const {
        return placed(own(node)) && own(node).span.column >= least ? own(node).span.column
                                                                   : otherwise;
    }
    Bounds entry_bounds(const YamlNode& collection) const;
    std::optional<std::size_t> entry_end(const YamlNode& collection, std::size_t i) const;
    std::optional<std::size_t> entry_line(const YamlNode& collection, std::size_t i) const;
    std::size_t comments_above(std::size_t line, std::size_t floor) const;
    std::size_t head_start(const YamlNode& node, std::size_t line) const;
    // (A byte order mark alone opens the stream: the first line starts after it.)
    bool at_line_start() const { return out_.empty() || out_.ends_with('\n') || out_ == kBom; }
    bool copyable_from(std::size_t from) const;
    void copied_text(std::size_t from, std::size_t to, bool content);
    bool copied_entry(const Bounds& bounds, std::size_t i, const YamlNode& first,
                      const YamlNode* second);
    bool copied_prefix(const Bounds& bounds, std::size_t i, const YamlNode& holder);
    bool has_value_indicator(const YamlNode& key) const;
    bool properties_above(const YamlNode& node) const;
    void note_block_scalar(const YamlNode& first, const YamlNode* second, std::size_t from,
                           std::size_t to, std::size_t at);
    void note_empty_value(const YamlNode& first, const YamlNode* second, std::size_t from,
                          std::size_t at);
    bool copied_flow(const YamlNode& node, At at);
    bool spliced_flow(const YamlNode& node, At at);
    bool splice_children(const YamlNode& node, std::size_t& pos);
    std::optional<std::string_view> source_of(const YamlNode& node) const;
    bool copied_scalar(const YamlNode& node, At at);
    bool value_on_next_line(const YamlNode& value, const YamlNode& key, std::size_t n,
                            std::size_t below);
    std::size_t first_head_below(const YamlNode& key) const;
    bool may_go_below(const YamlNode& value) const;
    // Writes the key's head comments from `from` on, which stand below it.
    void comments_below_key(const YamlNode& key, std::size_t from, std::size_t n);
    void blank_lines(std::uint32_t count);
    void blank_lines(const YamlNode& node) { blank_lines(node.comments.blank_before); }
    std::string inline_comment(const YamlNode& node) const;
    void finish_line(const YamlNode& node);

    std::optional<std::size_t> copied_prologue(const YamlNode& props, std::size_t from);
    std::optional<std::size_t> prologue_after_block(const YamlNode& props, std::size_t from);
    void tag_directives(bool after_document);
    void tag(const YamlNode& node);
    // Inline: "!t &a " before a node; Line: "!t &a" and a line feed above a
    // block collection; After: " !t &a" after an indicator.
    enum class Spacing : unsigned char { Inline, Line, After };
    void properties(const YamlNode& node, Spacing spacing);
    void properties_inline(const YamlNode& node) { properties(node, Spacing::Inline); }
    void properties_line(const YamlNode& node) { properties(node, Spacing::Line); }
    void properties_after_indicator(const YamlNode& node) { properties(node, Spacing::After); }

    // `before_colon`: spaces already written between the key and its ':',
    // which the source's padding (measured from the key) counts too.
    void padding(const YamlNode& node, std::uint32_t before_colon = 0) {
        const std::uint32_t pad = node.comments.value_pad;
        spaces(normalize_ || pad <= before_colon + 1 ? 1 : pad - before_colon);
    }
    std::uint32_t blanks_before_colon(const YamlNode& key) const;
    void directive(const YamlNode& node);

    void block_children(const YamlNode& node, std::size_t n, bool first_on_line = false);
    void entries(const YamlNode& map, std::size_t n, bool first_on_line);
    // `below`: the first of the key's head comments left to stand between the
    // key and its value (kNoComments when none are).
    void entry(const YamlNode& key, const YamlNode& value, std::size_t n, std::size_t below);
    bool simple_key_safe_after_empty_value(const YamlNode& key);
    void complex_key(const YamlNode& key, std::size_t n);
    void value_after_colon(const YamlNode& value, const YamlNode& key, std::size_t n,
                           std::size_t below, std::uint32_t before_colon = 0);
    void items(const YamlNode& seq, std::size_t n, bool first_on_line);
    void item(const YamlNode& node, std::size_t n);
    bool written_empty(const YamlNode& node) const;
    void empty_node(const YamlNode& node);

    void node_inline(const YamlNode& node, At at);
    void flow_sequence(const YamlNode& seq);
    void flow_mapping(const YamlNode& map);
    void null_node(const YamlNode& node, At at);
    void scalar(const YamlNode& node, At at);
    void quoted(std::string_view text, bool single);
    bool untouched_block(const YamlNode& node, At at);
    void ended_block(std::size_t start);

    void collect_handles(const YamlNode& node);
    bool declared(const YamlNode& node) const;
    bool redefined_default_handle(std::string_view tag) const;

    const EmitOptions& o_;
    std::string& out_;
    bool failed_ = false;
    std::optional<SourceLayout> source_;
    const YamlNode* content_of_ = nullptr;  // a boundary written as its content
    // Writing an included file back: the properties its root had in that
    // file stand in for the boundary's, which belong to the including file.
    const YamlNode* boundary_ = nullptr;
    const YamlNode* own_root_ = nullptr;
    const YamlNode& own(const YamlNode& node) const {
        return &node == boundary_ ? *own_root_ : node;
    }
    // Where "null" would go after the last value written without content
    // (nothing, or only its properties).
    struct EmptyValue {
        std::size_t spell_at;
        bool tagged;  // "!t null" would be the word null: the next key goes after "? "
    };
    std::optional<EmptyValue> empty_value_;
    // Where the last copied entry ended, in the source and in the output.
    std::size_t copied_until_ = std::string::npos;
    std::size_t copied_out_ = std::string::npos;
    // Where the last block scalar ended: a comment line below it must stay
    // less indented than its content, or it would become content.
    std::size_t block_end_ = std::string::npos;
    bool block_keeps_ = false;  // that block scalar keeps its trailing empty lines ("+")
    bool right_after_block() const;
    std::optional<std::size_t> root_end(const YamlNode& node) const;
    std::vector<Handle> handles_;  // of the document being written
    // The handles that %TAG lines of a copied prologue define: a tag made by
    // an edit with one of them is written in full.
    std::vector<std::string_view> prologue_handles_;
    // Columns a new block collection is indented by, below a key and below
    // a dash: the document's own habit when its source shows one.
    std::size_t step_ = 2;
    bool keep_columns_ = true;
    bool indentless_ = true;  // sequences below keys stand level with them
    void learn_indentation(const YamlNode& root);

    // Normalising the layout (EmitOptions::normalize_layout): the only
    // source text copied is that of scalars and flow collections, moved
    // along, and the lines outside documents, tidied.
    const bool normalize_;
    bool refused_ = false;
    // Counts the block sequences below keys that stand level with their key
    // and those indented deeper.
    void count_sequences(const YamlNode& node, std::size_t& level, std::size_t& indented);
    // The column the last line of the output has reached, in characters.
    std::size_t out_column() const;
    // The source text of `node` spanning lines, as it reads written at the
    // current column: its later lines moved by as many columns as its first
    // and kept deeper than `parent`, blank lines empty, and no blanks before
    // line breaks (but one escaped in a double-quoted scalar).
    std::string moved_lines(const YamlNode& node, std::string_view slice, int parent);
    void double_quoted(const YamlNode& node, std::vector<std::pair<std::size_t, std::size_t>>& out);
    // The source of an untouched block scalar with its content lines at
    // `indent`; nothing when a line does not fit that reading.
    std::optional<std::string> reindented_block(std::string_view raw, std::size_t indent) const;
    // Where the collections written so far stood in the source and stand
    // now: a comment line keeps its place among them.
    struct Level {
        std::size_t source;
        std::size_t out;
    };
    std::vector<Level> levels_;
    void enter_level(const YamlNode& collection, std::size_t n);
    std::size_t level_of(std::size_t indent) const;
    // Copied lines outside any node (directives, markers, comments, blank
    // lines), written tidied.
    void tidied_lines(std::string_view text);
};

}  // namespace quarvel::roundtrip::emit
