#include "roundtrip/emitter.hpp"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "roundtrip/scalar_writer.hpp"
#include "roundtrip/source_layout.hpp"
#include "support/stack.hpp"
#include "syntax/compose.hpp"

namespace quarvel::roundtrip {
namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";
// Longer keys than this are not implicit keys for every reader.
constexpr std::size_t kMaxImplicitKey = 1024;

// A text whose first line ends with CR LF: re-emitted lines end that way too.
bool uses_crlf(std::string_view text) {
    const std::size_t nl = text.find('\n');
    return nl != std::string_view::npos && nl > 0 && text[nl - 1] == '\r';
}

// Every line feed not already preceded by a carriage return gets one. The
// writers never put a carriage return into a line (quoted scalars escape
// it), so the only ones present came with copied CR LF source lines.
void to_crlf(std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
        out += text[i];
    }
    text = std::move(out);
}

bool is_block_collection(const YamlNode& n) {
    return n.is_collection() && n.style == CollectionStyle::Block && !n.children.empty();
}

bool has_properties(const YamlNode& n) {
    return n.anchor.has_value() || n.tag.has_value();
}

bool has_head_or_blank(const YamlNode& n) {
    return n.comments.blank_before > 0 || n.comments.has_head();
}

bool is_block_style(const YamlNode& n) {
    return n.kind == NodeKind::Scalar &&
           (n.scalar_style == ScalarStyle::Literal || n.scalar_style == ScalarStyle::Folded);
}

// A key that can stand before ':' on one line.
bool is_simple_key(const YamlNode& key) {
    if (key.kind == NodeKind::Scalar)
        return !is_block_style(key) && key.text.size() <= kMaxImplicitKey;
    return !is_block_collection(key);
}

// The indentation of the content of an untouched block scalar, or -1 when
// it has no content line; -2 when the header fixes it with a digit, which is
// relative to where the scalar used to be.
int raw_content_indent(std::string_view raw) {
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

const std::vector<std::string_view> kNoLines;

// A %TAG handle a document's tags were written with, and its prefix.
struct Handle {
    std::string_view handle;
    std::string_view prefix;
};

// The handle of a tag written in shorthand ("!e!" of "!e!foo", "!" of "!foo").
std::string_view handle_of(std::string_view tag) {
    if (tag.starts_with("!<") || !tag.starts_with('!')) return {};
    const std::size_t second = tag.find('!', 1);
    return tag.substr(0, second == std::string_view::npos ? 1 : second + 1);
}

// The source of a block scalar, read on its own, gives the node's text:
// a scalar whose recorded end leaves out a last line of blanks does not.
bool raw_reads_as(std::string_view raw, std::string_view text) {
    const auto forest = compose_text(raw, 0, false);
    return forest && forest->roots.size() == 1 && forest->roots[0].kind == NodeKind::Scalar &&
           forest->roots[0].text == text;
}

class Writer {
  public:
    Writer(const EmitOptions& options, std::string& out, std::optional<SourceText> source)
        : o_(options), out_(out) {
        if (source) source_.emplace(*source);
    }

    // One document: %TAG lines for the handles its tags need, the "---"
    // marker (always after directives or when `separated`), then the root.
    void document(const YamlNode& node, bool with_source, bool separated, bool after_document);
    void root(const YamlNode& node, bool with_source, std::size_t head_from);
    void stand_in(const YamlNode& boundary, const YamlNode& own_root) {
        boundary_ = &boundary;
        own_root_ = &own_root;
    }
    bool failed() const { return failed_; }

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
    bool written_explicit(const YamlNode& key) const {
        return in_source(key) && source_->explicit_key(key);
    }
    std::uint32_t blank_lines_above(std::size_t offset) const {
        return source_ ? source_->blank_lines_above(offset) : 0;
    }
    void comment_line(std::string_view text, std::size_t n, std::uint32_t column);
    void head(const YamlNode& node, std::size_t n, std::size_t from = 0);
    void foot(const YamlNode& node);
    void item_below_dash(const YamlNode& item, std::size_t n, std::size_t dash);
    bool fits_at(std::string_view slice, At at) const;
    bool copied_flow(const YamlNode& node, At at);
    std::optional<std::string_view> source_of(const YamlNode& node) const;
    bool copied_scalar(const YamlNode& node, At at);
    bool value_on_next_line(const YamlNode& value, const YamlNode& key, std::size_t n);
    void blank_lines(std::uint32_t count);
    void blank_lines(const YamlNode& node) { blank_lines(node.comments.blank_before); }
    std::string inline_comment(const YamlNode& node) const;
    void finish_line(const YamlNode& node);

    void tag(const YamlNode& node);
    // Inline: "!t &a " before a node; Line: "!t &a" and a line feed above a
    // block collection; After: " !t &a" after an indicator.
    enum class Spacing : unsigned char { Inline, Line, After };
    void properties(const YamlNode& node, Spacing spacing);
    void properties_inline(const YamlNode& node) { properties(node, Spacing::Inline); }
    void properties_line(const YamlNode& node) { properties(node, Spacing::Line); }
    void properties_after_indicator(const YamlNode& node) { properties(node, Spacing::After); }

    void padding(const YamlNode& node) {
        spaces(std::max<std::uint32_t>(node.comments.value_pad, 1));
    }
    void directive(const YamlNode& node);

    void block_children(const YamlNode& node, std::size_t n);
    void entries(const YamlNode& map, std::size_t n, bool first_on_line);
    void entry(const YamlNode& key, const YamlNode& value, std::size_t n);
    bool simple_key_safe_after_empty_value(const YamlNode& key);
    void complex_key(const YamlNode& key, std::size_t n);
    void value_after_colon(const YamlNode& value, const YamlNode& key, std::size_t n);
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
    // Where the last block scalar ended: a comment line below it must stay
    // less indented than its content, or it would become content.
    std::size_t block_end_ = std::string::npos;
    bool block_keeps_ = false;  // that block scalar keeps its trailing empty lines ("+")
    bool right_after_block() const;
    std::vector<Handle> handles_;  // of the document being written
};

// The source bytes of an untouched node of the known text.
std::optional<std::string_view> Writer::source_of(const YamlNode& node) const {
    if (!in_source(node) || node.comments.modified) return {};
    const std::string_view text = source_->text();
    if (node.end_offset <= node.span.offset || node.end_offset > text.size()) return {};
    return text.substr(node.span.offset, node.end_offset - node.span.offset);
}

// An untouched flow scalar is copied as written when every line after its
// first stays deeper than its parent.
bool Writer::copied_scalar(const YamlNode& node, At at) {
    if (is_block_style(node)) return false;
    const auto slice = source_of(node);
    if (!slice || !fits_at(*slice, at)) return false;
    // A root (or a key of a root mapping) may land at the start of a line
    // where it stood elsewhere, and there "%" opens a directive and "---" or
    // "..." a marker.
    const bool line_start = at.parent < 0 || (at.place == ScalarPlace::Key && at.parent == 0);
    const std::string_view first_line = slice->substr(0, slice->find('\n'));
    if (line_start &&
        (slice->starts_with('%') || is_marker_line(first_line) || slice->starts_with("...")))
        return false;
    // A byte order mark opening the output would be taken for the stream's.
    if (slice->starts_with(kBom)) return false;
    // A plain scalar ending in ':' stood before another ':' in the source
    // ("a:: b"); placed elsewhere, its own last ':' would start a value.
    if (node.scalar_style == ScalarStyle::Plain && slice->ends_with(':')) return false;
    // A lone "-" or "?" stood before ':' ("-: x"); anywhere a break or blank
    // follows it, it opens a sequence entry or a complex key instead.
    if (node.scalar_style == ScalarStyle::Plain && (*slice == "-" || *slice == "?")) return false;
    out_ += *slice;
    return true;
}

// Source text spanning lines can be copied where every line after its first
// stays deeper than the parent; keys and flow content stay on one line.
bool Writer::fits_at(std::string_view slice, At at) const {
    // Control bytes are written escaped by the quoted writer; a copy would
    // keep them raw where a reader may see them differently.
    for (char c : slice) {
        const auto u = static_cast<unsigned char>(c);
        if ((u < 0x20 && c != '\t' && c != '\n' && c != '\r') || u == 0x7F) return false;
    }
    // A carriage return alone breaks a line too; such texts are written anew.
    for (std::size_t cr = slice.find('\r'); cr != std::string_view::npos;
         cr = slice.find('\r', cr + 1))
        if (cr + 1 == slice.size() || slice[cr + 1] != '\n') return false;
    for (std::size_t nl = slice.find('\n'); nl != std::string_view::npos;
         nl = slice.find('\n', nl + 1)) {
        if (at.place != ScalarPlace::Block) return false;
        const std::size_t first = slice.find_first_not_of(' ', nl + 1);
        const char c = first == std::string_view::npos ? '\n' : slice[first];
        if (c == '\n' || c == '\r') continue;
        if (static_cast<int>(first - nl - 1) <= at.parent) return false;
    }
    return true;
}

// An untouched flow collection is copied as written: its spacing, line
// breaks and the comments inside it are kept.
bool Writer::copied_flow(const YamlNode& node, At at) {
    if (!in_source(node) || node.style != CollectionStyle::Flow) return false;
    const std::string_view text = source_->text();
    if (node.span.offset >= text.size() || node.end_offset > text.size() || tree_modified(node))
        return false;
    const char first = text[node.span.offset];
    if (is_flow_pair(node) || first != (node.kind == NodeKind::Mapping ? '{' : '[')) return false;
    const auto end = source_->flow_end(node);
    if (!end) return false;
    const std::string_view slice = text.substr(node.span.offset, *end - node.span.offset);
    if (!fits_at(slice, at)) return false;
    out_ += slice;
    return true;
}

// "key:\n    'long text'": an untouched scalar value loaded below its key
// stays there, at its own column.
bool Writer::value_on_next_line(const YamlNode& value, const YamlNode& key, std::size_t n) {
    if (value.kind != NodeKind::Scalar || is_block_style(value) || has_properties(value))
        return false;
    if (key.end_line >= value.span.line || value.span.column <= n || written_explicit(key))
        return false;
    if (key.span.file_id != value.span.file_id || !source_of(value)) return false;
    const std::size_t mark = out_.size();
    out_ += '\n';
    spaces(value.span.column);
    if (!copied_scalar(value, {ScalarPlace::Block, static_cast<int>(n)})) {
        out_.resize(mark);
        return false;
    }
    finish_line(value);
    return true;
}

// Tags a %TAG directive expanded are written as they were, under that
// directive written again; when the prefix cannot be recovered (escapes in
// the suffix, or two prefixes for one handle after edits) in verbatim form.
void Writer::collect_handles(const YamlNode& node) {
    if (!node.expanded_tag.empty() && node.tag) {
        const std::string_view handle = handle_of(*node.tag);
        const std::string_view suffix = node.tag->substr(handle.size());
        const std::string_view full = node.expanded_tag;
        if (!handle.empty() && full.ends_with(suffix)) {
            const Handle h{handle, full.substr(0, full.size() - suffix.size())};
            const bool known = std::any_of(handles_.begin(), handles_.end(),
                                           [&](const Handle& k) { return k.handle == handle; });
            if (!known) handles_.push_back(h);
        }
    }
    for (const YamlNode& child : node.children) {
        if (!child.children.empty() || !child.expanded_tag.empty())
            deeper([&] { collect_handles(child); });
    }
}

bool Writer::declared(const YamlNode& node) const {
    const std::string_view handle = handle_of(*node.tag);
    const std::string_view suffix = node.tag->substr(handle.size());
    return std::any_of(handles_.begin(), handles_.end(), [&](const Handle& h) {
        return h.handle == handle && h.prefix.size() + suffix.size() == node.expanded_tag.size() &&
               node.expanded_tag.starts_with(h.prefix) && node.expanded_tag.ends_with(suffix);
    });
}

void Writer::document(const YamlNode& node, bool with_source, bool separated, bool after_document) {
    handles_.clear();
    collect_handles(node);
    if (!handles_.empty()) {
        // Directives may only follow a document that was closed with "...".
        if (after_document && !out_.ends_with("...\n")) out_ += "...\n";
        for (const Handle& h : handles_) {
            out_ += "%TAG ";
            out_ += h.handle;
            out_ += ' ';
            out_ += h.prefix;
            out_ += '\n';
        }
    }
    const YamlNode& props = own(node);
    // Head comments the source has above the "---" line stay above it.
    std::size_t before = 0;
    // Plain values rather than an optional: GCC at -O3 misreads the
    // optional's state here as possibly uninitialised.
    const auto found =
        props.explicit_start && in_source(props) ? source_->marker_line(props) : std::nullopt;
    const bool has_marker = found.has_value();
    const std::size_t marker = found.value_or(0);
    const auto& head_lines = props.comments.has_head() ? props.comments.text->head : kNoLines;
    if (has_marker) {
        while (before < head_lines.size()) {
            const auto c = locate(head_lines[before]);
            if (!c || c->hash >= marker) break;
            if (before > 0) blank_lines(blank_lines_above(c->line_start));
            comment_line(head_lines[before], 0, 0);
            ++before;
        }
    }
    if (!handles_.empty() || props.explicit_start || separated) {
        out_ += "---";
        const auto c =
            has_marker && before < head_lines.size() ? locate(head_lines[before]) : std::nullopt;
        if (c && c->line_start == marker) {
            out_ += ' ';
            out_ += source_->text().substr(c->hash, c->end - c->hash);
            ++before;
        }
        out_ += '\n';
    }
    root(node, with_source, before);
}

// Notes the block scalar just written from `start`: where it ends, and
// whether its header keeps trailing empty lines as content.
void Writer::ended_block(std::size_t start) {
    block_end_ = out_.size();
    const std::string_view written(out_.data() + start, out_.size() - start);
    std::string_view header = written.substr(0, written.find('\n'));
    header = header.substr(0, header.find('#'));
    block_keeps_ = header.find('+') != std::string_view::npos;
}

bool Writer::right_after_block() const {
    if (block_end_ > out_.size()) return false;
    return std::string_view(out_).substr(block_end_).find_first_not_of(" \t\r\n") ==
           std::string_view::npos;
}

// Makes the output end with at least `count` empty lines: the empty lines
// that close a block scalar kept with "+" are the source's blank lines too.
void Writer::blank_lines(std::uint32_t count) {
    if (count == 0) return;
    // Below a block scalar kept with "+", empty lines would become its content.
    if (block_keeps_ && right_after_block()) return;
    if (out_.empty()) {
        out_.append(count, '\n');
        return;
    }
    if (!out_.ends_with('\n')) return;
    // Count the blank lines (blanks and carriage returns only) at the end.
    std::uint32_t have = 0;
    std::size_t end = out_.size() - 1;  // the line feed closing the last line
    while (have < count && end > 0) {
        const std::size_t nl = out_.rfind('\n', end - 1);
        if (nl == std::string::npos) break;
        const std::string_view line(out_.data() + nl + 1, end - nl - 1);
        if (line.find_first_not_of(" \t\r") != std::string_view::npos) break;
        ++have;
        end = nl;
    }
    if (have < count) out_.append(count - have, '\n');
}

// A comment of the known source is written as it was ("#note", "#  note");
// a standalone one keeps its own indentation unless it was level with the
// node it belongs to, in which case it follows that node.
void Writer::comment_line(std::string_view text, std::size_t n, std::uint32_t column) {
    if (const auto c = locate(text)) {
        const std::string_view src = source_->text();
        // Only spaces are copied: a tab before a comment is not accepted
        // everywhere a comment line can land.
        const std::string_view indent = src.substr(c->line_start, c->hash - c->line_start);
        if (c->standalone && indent.size() != column && !right_after_block() &&
            indent.find_first_not_of(' ') == std::string_view::npos)
            out_ += indent;
        else
            spaces(n);
        out_ += src.substr(c->hash, c->end - c->hash);
        out_ += '\n';
        return;
    }
    spaces(n);
    out_ += '#';
    if (!text.empty()) {
        out_ += ' ';
        out_ += text;
    }
    out_ += '\n';
}

void Writer::head(const YamlNode& node, std::size_t n, std::size_t from) {
    if (!node.comments.has_head()) return;
    const auto& lines = node.comments.text->head;
    for (std::size_t i = from; i < lines.size(); ++i) {
        const auto c = i > 0 ? locate(lines[i]) : std::nullopt;
        if (c) blank_lines(blank_lines_above(c->line_start));
        comment_line(lines[i], n, node.span.column);
    }
    if (in_source(node)) blank_lines(blank_lines_above(node.span.offset));
}

// Foot comments, with the "..." line the source closed the document with
// (between them where it stood).
void Writer::foot(const YamlNode& node) {
    const auto end = in_source(node) ? source_->document_end(node) : std::nullopt;
    bool ended = !end;
    if (node.comments.text) {
        for (std::string_view line : node.comments.text->foot) {
            const auto c = locate(line);
            if (!ended && c && c->hash > *end) {
                out_ += "...\n";
                ended = true;
            }
            if (c) blank_lines(blank_lines_above(c->line_start));
            comment_line(line, 0, 0);
        }
    }
    if (!ended) out_ += "...\n";
}

std::string Writer::inline_comment(const YamlNode& node) const {
    std::string s;
    if (!node.comments.has_inline()) return s;
    const CommentText& t = *node.comments.text;
    s.append(std::max<std::uint32_t>(t.inline_spaces, 1), ' ');
    if (const auto c = locate(*t.inline_text)) {
        s += source_->text().substr(c->hash, c->end - c->hash);
        return s;
    }
    s += '#';
    if (!t.inline_text->empty()) {
        s += ' ';
        s += *t.inline_text;
    }
    return s;
}

// Block scalars end their own line (with their comment on the header).
void Writer::finish_line(const YamlNode& node) {
    if (out_.ends_with('\n')) return;
    out_ += inline_comment(node);
    out_ += '\n';
}

// A tag whose handle a %TAG directive redefined is written in full: the
// directives themselves are not written again.
void Writer::tag(const YamlNode& node) {
    if (!node.expanded_tag.empty() && !declared(node)) {
        out_ += "!<";
        out_ += node.expanded_tag;
        out_ += '>';
    } else {
        out_ += *node.tag;
    }
}

// Tag and anchor in the order the source has them ("&a !!map" or "!!map &a"),
// tag first for nodes made by edits.
void Writer::properties(const YamlNode& node, Spacing spacing) {
    if (!has_properties(node)) return;
    const bool anchor_first = node.tag && node.anchor && source_ &&
                              source_->contains(*node.anchor) && source_->contains(*node.tag) &&
                              node.anchor->data() < node.tag->data();
    bool first = true;
    auto piece = [&](bool is_anchor) {
        if (spacing == Spacing::After || (spacing == Spacing::Line && !first)) out_ += ' ';
        if (is_anchor) {
            out_ += '&';
            out_ += *node.anchor;
        } else {
            tag(node);
        }
        if (spacing == Spacing::Inline) out_ += ' ';
        first = false;
    };
    const bool order[2] = {anchor_first, !anchor_first};
    for (bool is_anchor : order)
        if (is_anchor ? node.anchor.has_value() : node.tag.has_value()) piece(is_anchor);
    if (spacing == Spacing::Line) out_ += '\n';
}

// The directive line of a boundary: its tag and its argument, quoted when
// the argument would not read back as written plain ("a: b.yaml").
void Writer::directive(const YamlNode& node) {
    out_ += node.source->tag;
    out_ += ' ';
    const std::string_view target = node.source->target;
    if (fits_plain(target, ScalarPlace::Flow))
        out_ += target;
    else
        write_double_quoted(target, out_);
}

void Writer::root(const YamlNode& node, bool with_source, std::size_t head_from) {
    if (!with_source) content_of_ = &node;
    const YamlNode& props = own(node);
    // Blank lines opening the document (the first root has no blank_before).
    if (head_from == 0 && in_source(props)) {
        const auto first =
            props.comments.has_head() ? locate(props.comments.text->head[0]) : std::nullopt;
        blank_lines(blank_lines_above(first ? first->line_start : props.span.offset));
    }
    head(props, 0, head_from);
    if (with_source && node.source) {
        directive(node);
        out_ += inline_comment(node);
        out_ += '\n';
    } else if (is_block_collection(node)) {
        properties_line(props);
        block_children(node, 0);
    } else {
        properties_inline(props);
        node_inline(node, {ScalarPlace::Block, -1});
        finish_line(props);
    }
    foot(props);
}

void Writer::block_children(const YamlNode& node, std::size_t n) {
    if (node.kind == NodeKind::Mapping)
        entries(node, n, false);
    else
        items(node, n, false);
}

void Writer::entries(const YamlNode& map, std::size_t n, bool first_on_line) {
    for (std::size_t i = 0; i < map.size() && !failed_; ++i) {
        const YamlNode& key = map.key(i);
        if (i > 0 || !first_on_line) {
            blank_lines(key);
            head(key, n);
            spaces(n);
        }
        entry(key, map.value(i), n);
    }
}

// "k:" followed by a line opening with "&a" or "!t" would give those
// properties to the empty value. That value is spelled out after all
// ("k: null", "k: &a null"), or, when it has a tag ("k: !t" is not "k: !t
// null"), the key with properties is written after "? " (false).
bool Writer::simple_key_safe_after_empty_value(const YamlNode& key) {
    // A key that came from a directive is written as the directive, which
    // opens with its tag ("!include_dir_named e").
    const bool directive_key = key.source && &key != content_of_;
    if (!(has_properties(key) || directive_key) || !empty_value_) return true;
    // Only blank lines, comment lines and this key's indentation may lie
    // between: anything else ended the empty value's line for good.
    std::size_t pos = out_.find('\n', empty_value_->spell_at);
    if (pos == std::string::npos) return true;
    ++pos;
    while (pos < out_.size()) {
        const std::size_t first = out_.find_first_not_of(' ', pos);
        if (first == std::string::npos) break;
        if (out_[first] != '\n' && out_[first] != '#') return true;
        const std::size_t end = out_.find('\n', first);
        if (end == std::string::npos) return true;
        pos = end + 1;
    }
    const EmptyValue empty = *empty_value_;
    empty_value_.reset();
    if (empty.tagged) return false;
    out_.insert(empty.spell_at, " null");
    return true;
}

void Writer::entry(const YamlNode& key, const YamlNode& value, std::size_t n) {
    // A key that came from a directive is written as the directive, one
    // scalar, whatever its content is (a block sequence read from a file).
    const bool directive_key = key.source && &key != content_of_;
    if ((directive_key || is_simple_key(key)) && !written_explicit(key) &&
        simple_key_safe_after_empty_value(key)) {
        if (directive_key) {
            directive(key);
        } else {
            properties_inline(key);
            node_inline(key, {ScalarPlace::Key, static_cast<int>(n)});
        }
        // "*a:" would read as an alias named "a:".
        if (key.kind == NodeKind::Alias && !key.source) out_ += ' ';
        out_ += ':';
    } else {
        complex_key(key, n);
        spaces(n);
        out_ += ':';
    }
    deeper([&] { value_after_colon(value, key, n); });
}

void Writer::complex_key(const YamlNode& key, std::size_t n) {
    out_ += '?';
    if (is_block_collection(key) && !(key.source && &key != content_of_)) {
        properties_after_indicator(key);
        out_ += '\n';
        deeper([&] { block_children(key, n + 2); });
        return;
    }
    out_ += ' ';
    properties_inline(key);
    node_inline(key, {ScalarPlace::Block, static_cast<int>(n)});
    if (!out_.ends_with('\n')) out_ += '\n';
}

void Writer::value_after_colon(const YamlNode& value, const YamlNode& key, std::size_t n) {
    if (value.source) {
        out_ += ' ';
        directive(value);
        out_ += inline_comment(value);
        out_ += '\n';
    } else if (is_block_collection(value)) {
        properties_after_indicator(value);
        out_ += inline_comment(value);
        out_ += '\n';
        blank_lines(value);
        // A sequence written level with its key stays that way.
        const bool indentless =
            value.kind == NodeKind::Sequence && value.span.column <= key.span.column;
        const std::size_t inner = indentless ? n : n + 2;
        head(value, inner);
        block_children(value, inner);
    } else if (written_empty(value)) {
        empty_node(value);
    } else if (!value_on_next_line(value, key, n)) {
        padding(value);
        properties_inline(value);
        node_inline(value, {ScalarPlace::Block, static_cast<int>(n)});
        finish_line(value);
    }
}

void Writer::items(const YamlNode& seq, std::size_t n, bool first_on_line) {
    for (std::size_t i = 0; i < seq.children.size() && !failed_; ++i) {
        const YamlNode& it = seq.children[i];
        const auto dash = (i > 0 || !first_on_line) && is_block_collection(it) && in_source(it)
                              ? source_->dash_above(it)
                              : std::nullopt;
        if (dash) {
            item_below_dash(it, n, *dash);
            continue;
        }
        if (i > 0 || !first_on_line) {
            blank_lines(it);
            head(it, n);
            spaces(n);
        }
        out_ += '-';
        deeper([&] { item(it, n); });
    }
}

// "-" alone on its line with the collection below: blank lines and head
// comments stay on their side of the dash.
void Writer::item_below_dash(const YamlNode& item, std::size_t n, std::size_t dash) {
    const auto& heads = item.comments.has_head() ? item.comments.text->head : kNoLines;
    auto comment = [&](std::size_t k, std::size_t indent) {
        if (const auto c = locate(heads[k])) blank_lines(blank_lines_above(c->line_start));
        comment_line(heads[k], indent, item.span.column);
    };
    std::size_t k = 0;
    for (; k < heads.size(); ++k) {
        const auto c = locate(heads[k]);
        if (!c || c->line_start > dash) break;
        comment(k, n);
    }
    blank_lines(blank_lines_above(dash));
    spaces(n);
    out_ += '-';
    properties_after_indicator(item);
    out_ += '\n';
    for (; k < heads.size(); ++k) comment(k, n + 2);
    blank_lines(blank_lines_above(item.span.offset));
    deeper([&] { block_children(item, n + 2); });
}

void Writer::item(const YamlNode& node, std::size_t n) {
    if (node.source) {
        out_ += ' ';
        directive(node);
        out_ += inline_comment(node);
        out_ += '\n';
        return;
    }
    if (is_block_collection(node)) {
        // "- &a k: v" would give the anchor to the key, so a collection with
        // properties starts below its dash.
        const YamlNode& first = node.children.front();
        const bool same_line = !has_properties(node) && !has_head_or_blank(first) &&
                               (node.kind == NodeKind::Mapping || node.comments.compact);
        if (same_line) {
            out_ += ' ';
            if (node.kind == NodeKind::Mapping)
                entries(node, n + 2, true);
            else
                items(node, n + 2, true);
        } else {
            properties_after_indicator(node);
            out_ += '\n';
            block_children(node, n + 2);
        }
        return;
    }
    if (written_empty(node)) {
        empty_node(node);
        return;
    }
    padding(node);
    properties_inline(node);
    node_inline(node, {ScalarPlace::Block, static_cast<int>(n)});
    finish_line(node);
}

// An empty value or item is written as nothing: a null as loaded, or one
// made by an edit when the document writes nulls as nothing.
bool Writer::written_empty(const YamlNode& node) const {
    return node.kind == NodeKind::Null && !has_properties(node) &&
           (!node.synthetic || o_.null_style == NullStyle::Empty);
}

void Writer::empty_node(const YamlNode& node) {
    const std::size_t spell_at = out_.size();
    out_ += inline_comment(node);
    out_ += '\n';
    empty_value_ = EmptyValue{spell_at, false};
}

void Writer::node_inline(const YamlNode& node, At at) {
    if (node.source && &node != content_of_) {
        directive(node);
        return;
    }
    switch (node.kind) {
        case NodeKind::Sequence:
            if (!copied_flow(node, at)) deeper([&] { flow_sequence(node); });
            return;
        case NodeKind::Mapping:
            if (!copied_flow(node, at)) deeper([&] { flow_mapping(node); });
            return;
        case NodeKind::Alias:
            out_ += '*';
            out_ += node.text;
            return;
        case NodeKind::Null:
            null_node(node, at);
            return;
        case NodeKind::Scalar:
            scalar(node, at);
            return;
    }
}

void Writer::flow_sequence(const YamlNode& seq) {
    out_ += '[';
    for (std::size_t i = 0; i < seq.children.size() && !failed_; ++i) {
        if (i > 0) out_ += ", ";
        properties_inline(seq.children[i]);
        node_inline(seq.children[i], {ScalarPlace::Flow, 0});
    }
    out_ += ']';
}

void Writer::flow_mapping(const YamlNode& map) {
    out_ += '{';
    for (std::size_t i = 0; i < map.size() && !failed_; ++i) {
        if (i > 0) out_ += ", ";
        const YamlNode& key = map.key(i);
        properties_inline(key);
        node_inline(key, {ScalarPlace::Flow, 0});
        if (key.kind == NodeKind::Alias && !key.source) out_ += ' ';
        out_ += ": ";
        properties_inline(map.value(i));
        node_inline(map.value(i), {ScalarPlace::Flow, 0});
    }
    out_ += '}';
}

// A null loaded with a tag or an anchor is written as its properties alone:
// "k: !!str" is an empty string, "k: !!str null" would be the word null.
void Writer::null_node(const YamlNode& node, At at) {
    if (has_properties(node) && !node.synthetic) {
        if (at.place == ScalarPlace::Block && out_.ends_with(' ')) {
            out_.pop_back();
            empty_value_ = EmptyValue{out_.size(), node.tag.has_value()};
        }
        return;
    }
    out_ += node.synthetic && o_.null_style == NullStyle::Tilde ? "~" : "null";
}

void Writer::quoted(std::string_view text, bool single) {
    if (single && fits_single(text))
        write_single_quoted(text, out_);
    else
        write_double_quoted(text, out_);
}

// An untouched block scalar is written as its source when that source still
// reads the same at the new position: its content must stay deeper than its
// parent, and an indentation digit is only right where it was written.
bool Writer::untouched_block(const YamlNode& node, At at) {
    if (node.comments.modified || at.place != ScalarPlace::Block) return false;
    if (!node.comments.text || !node.comments.text->raw) return false;
    const std::string_view raw = *node.comments.text->raw;
    // A scalar that ends the text without a line break reads differently
    // once one follows it.
    if (!raw.ends_with('\n')) return false;
    const int indent = raw_content_indent(raw);
    if (indent == -2 || (indent != -1 && indent <= at.parent)) return false;
    if (!raw_reads_as(raw, node.text)) return false;
    const std::size_t header_end = raw.find('\n');
    const std::string_view header = raw.substr(0, header_end);
    if (header.find('#') == std::string_view::npos && node.comments.has_inline()) {
        out_ += header;
        out_ += inline_comment(node);
        out_ += raw.substr(header.size());
    } else {
        out_ += raw;
    }
    return true;
}

void Writer::scalar(const YamlNode& node, At at) {
    const std::size_t start = out_.size();
    if (untouched_block(node, at)) {
        ended_block(start);
        return;
    }
    if (copied_scalar(node, at)) return;
    const std::string_view text = node.text;
    switch (node.scalar_style) {
        case ScalarStyle::Plain:
            if (fits_plain(text, at.place))
                out_ += text;
            else
                quoted(text, !o_.prefer_double_quotes);
            return;
        case ScalarStyle::SingleQuoted:
            quoted(text, true);
            return;
        case ScalarStyle::DoubleQuoted:
            write_double_quoted(text, out_);
            return;
        case ScalarStyle::Literal:
        case ScalarStyle::Folded:
            // A root block scalar without content lines would take a comment
            // line written below it as its content.
            if (at.place == ScalarPlace::Block && fits_block(text) &&
                !(at.parent < 0 && text.find_first_not_of('\n') == std::string_view::npos)) {
                const std::size_t indent = static_cast<std::size_t>(at.parent + 2);
                write_block_scalar(text, indent < 2 ? 2 : indent,
                                   node.scalar_style == ScalarStyle::Folded, inline_comment(node),
                                   out_);
                ended_block(start);
            } else {
                write_double_quoted(text, out_);
            }
            return;
    }
}

bool modified_below(const YamlNode& node) {
    for (const YamlNode& child : node.children) {
        if (child.comments.modified) return true;
        if (child.children.empty()) continue;
        const std::optional<bool> deep =
            ensure_stack([&] { return std::optional<bool>(modified_below(child)); });
        if (!deep || *deep) return true;
    }
    return false;
}

}  // namespace

bool tree_modified(const YamlNode& node) {
    return node.comments.modified || modified_below(node);
}

bool any_modified(std::span<const YamlNode> roots) {
    return std::any_of(roots.begin(), roots.end(),
                       [](const YamlNode& r) { return tree_modified(r); });
}

Status emit_root(const YamlNode& node, const EmitOptions& options, std::string& out,
                 std::optional<SourceText> source) {
    Writer w(options, out, source);
    w.document(node, true, false, false);
    if (w.failed()) return fail(stack_exhausted_error());
    return {};
}

Result<std::string> emit_stream(std::span<const YamlNode> roots,
                                std::optional<std::string_view> source,
                                const EmitOptions& options) {
    std::string out;
    if (source && !any_modified(roots)) {
        out.assign(*source);
    } else {
        out.reserve(256);
        std::optional<SourceText> text;
        if (source) text = SourceText{*source, 0};
        Writer w(options, out, text);
        for (std::size_t i = 0; i < roots.size(); ++i) {
            if (i == 0 && roots[0].leading_bom) out += kBom;
            w.document(roots[i], true, i > 0, i > 0);
            if (w.failed()) return fail(stack_exhausted_error());
        }
        if (source && uses_crlf(*source)) to_crlf(out);
    }
    if (options.declare_1_2) declare_yaml_1_2(out);
    return out;
}

namespace {

// A node holding no children but the properties an included file's root had
// in that file: its tag, and its own position, anchor and comments.
YamlNode own_root_properties(const YamlNode& boundary, const IncludedRoot& root) {
    YamlNode props;
    props.kind = boundary.kind;
    props.style = boundary.style;
    props.scalar_style = boundary.scalar_style;
    props.tag = boundary.tag;
    props.expanded_tag = boundary.expanded_tag;
    props.span = root.span;
    props.end_offset = root.end_offset;
    props.end_line = root.end_line;
    props.end_column = root.end_column;
    props.explicit_start = root.explicit_start;
    props.anchor = root.anchor;
    if (root.comments) props.comments.text = std::make_unique<CommentText>(*root.comments);
    return props;
}

}  // namespace

Result<std::string> emit_included_file(const YamlNode& node, std::optional<SourceText> source) {
    std::string out;
    if (node.leading_bom) out += kBom;
    EmitOptions options;
    options.null_style = NullStyle::Keyword;
    Writer w(options, out, source);
    YamlNode own_root;
    if (node.source && node.source->own_root) {
        own_root = own_root_properties(node, *node.source->own_root);
        w.stand_in(node, own_root);
    }
    w.document(node, false, false, false);
    if (w.failed()) return fail(stack_exhausted_error());
    if (source && uses_crlf(source->text)) to_crlf(out);
    return out;
}

// Walks the prologue (directives, comments, blank lines): every %YAML line
// goes, and "---" is added unless the first document already opens with it.
void declare_yaml_1_2(std::string& text) {
    const std::size_t start = text.starts_with(kBom) ? kBom.size() : 0;
    std::size_t pos = start;
    bool has_marker = false;
    bool directives = false;  // other directives stay, and a "---" follows them
    while (pos < text.size()) {
        // Lines end at LF, CR LF, or a CR alone.
        std::size_t end = text.find_first_of("\r\n", pos);
        if (end == std::string::npos) end = text.size();
        const std::size_t next =
            end == text.size() ? end : end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        const std::string_view line(text.data() + pos, end - pos);
        if (line.starts_with("%YAML")) {
            text.erase(pos, next - pos);
            continue;
        }
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (line.starts_with('%') || first == std::string_view::npos || line[first] == '#') {
            directives = directives || line.starts_with('%');
            pos = next;
            continue;
        }
        has_marker = is_marker_line(line);
        break;
    }
    const char* lines = uses_crlf(text)
                            ? (has_marker || directives ? "%YAML 1.2\r\n" : "%YAML 1.2\r\n---\r\n")
                            : (has_marker || directives ? "%YAML 1.2\n" : "%YAML 1.2\n---\n");
    text.insert(start, lines);
}

}  // namespace quarvel::roundtrip
