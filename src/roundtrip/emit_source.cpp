// Source reuse: untouched nodes are copied from the text they were read from,
// as written. A copy is made only where it reads back as the node does at
// the place it is written: every line after its first stays deeper than the
// parent, nothing in it is taken for a marker, a directive or a key.
#include "roundtrip/emit_writer.hpp"
#include "scanner/char_class.hpp"
#include "syntax/compose.hpp"

namespace quarvel::roundtrip::emit {

// The source of a block scalar, read on its own, gives the node's text:
// a scalar whose recorded end leaves out a last line of blanks does not.
bool raw_reads_as(std::string_view raw, std::string_view text) {
    const auto forest = compose_text(raw, 0, false);
    return forest && forest->roots.size() == 1 && forest->roots[0].kind == NodeKind::Scalar &&
           forest->roots[0].text == text;
}

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
    auto slice = source_of(node);
    std::string moved;
    if (normalize_ && slice && slice->find('\n') != std::string_view::npos) {
        moved = moved_lines(node, *slice, at.parent);
        slice = moved;
    }
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
    // A plain scalar read in block context may hold flow indicators ("k{,}")
    // that a flow collection would read as its own; on one line its source
    // is its text.
    if (node.scalar_style == ScalarStyle::Plain && at.place != ScalarPlace::Block &&
        !fits_plain(*slice, at.place))
        return false;
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
    if (has_lone_carriage_return(slice)) return false;
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
    std::string_view slice = text.substr(node.span.offset, *end - node.span.offset);
    std::string moved;
    if (normalize_ && slice.find('\n') != std::string_view::npos) {
        moved = moved_lines(node, slice, at.parent);
        slice = moved;
    }
    if (!fits_at(slice, at)) return false;
    out_ += slice;
    return true;
}

// A flow collection whose entries are the ones it was read with, some of
// them changed: its source with each changed node's text replaced by the
// node written anew, so that its layout and comments stay. Nested flow
// collections are spliced the same way.
bool Writer::spliced_flow(const YamlNode& node, At at) {
    if (!in_source(node) || node.style != CollectionStyle::Flow || node.comments.modified)
        return false;
    const std::string_view text = source_->text();
    if (node.span.offset >= text.size() || is_flow_pair(node)) return false;
    if (text[node.span.offset] != (node.kind == NodeKind::Mapping ? '{' : '[')) return false;
    const auto end = source_->matching_bracket(node.span.offset);
    const char close = node.kind == NodeKind::Mapping ? '}' : ']';
    if (!end || text[*end - 1] != close) return false;
    const std::size_t mark = out_.size();
    std::size_t pos = node.span.offset;
    if (!splice_children(node, pos) || pos > *end) {
        out_.resize(mark);
        return false;
    }
    out_ += text.substr(pos, *end - pos);
    // The spliced text must read as a collection of the same shape: the
    // text alone decides where brackets close, and a lenient reading of the
    // source could make that differ from the tree.
    const std::string_view written = std::string_view(out_).substr(mark);
    const auto alone = compose_text(written, 0, false);
    const bool same_shape = alone && alone->roots.size() == 1 &&
                            alone->roots[0].kind == node.kind &&
                            alone->roots[0].children.size() == node.children.size();
    if (!same_shape || !fits_at(written, at)) {
        out_.resize(mark);
        return false;
    }
    // Normalised, an unchanged copy has its later lines moved along.
    if (normalize_ && written.find('\n') != std::string_view::npos &&
        written == text.substr(node.span.offset, *end - node.span.offset)) {
        const std::string copy(written);
        out_.resize(mark);
        out_ += moved_lines(node, copy, at.parent);
    }
    return true;
}

// Whether `before`, the source text from a node's properties to its
// content, holds those properties and nothing else: an edit that dropped one
// (the tag a null set by an edit no longer carries) leaves it standing there.
static bool only_its_properties(std::string_view before, const YamlNode& node) {
    std::size_t written = 0;
    for (const char c : before) written += !scan::is_blank(c) && !scan::is_break(c);
    const std::size_t own =
        (node.tag() ? node.tag()->size() : 0) + (node.anchor() ? node.anchor()->size() + 1 : 0);
    return written == own;
}

// Copies the source from `pos` up to each changed child of `node` and writes
// that child anew; `pos` ends past the last child written. False when a
// changed child's place in the source cannot be told.
bool Writer::splice_children(const YamlNode& node, std::size_t& pos) {
    const std::string_view text = source_->text();
    for (std::size_t i = 0; i < node.children.size(); ++i) {
        const YamlNode& c = node.children[i];
        if (!changed_here(c)) continue;
        // Keys are never changed in place; a changed one is a new entry.
        if (node.kind == NodeKind::Mapping && i % 2 == 0) return false;
        if (!in_source(c) || c.span.offset < pos || c.span.offset > text.size()) return false;
        const bool nested =
            c.is_collection() && c.style == CollectionStyle::Flow && !c.comments.modified &&
            c.span.offset < text.size() &&
            (is_flow_pair(c) || text[c.span.offset] == '[' || text[c.span.offset] == '{');
        if (nested) {
            if (!splice_children(c, pos)) return false;
            continue;
        }
        // A pair without braces written anew has no extent to replace: its
        // ':' may follow its last node.
        if (is_flow_pair(c)) return false;
        // Its properties stand in the source as they are.
        for (const auto& piece : {c.tag(), c.anchor()})
            if (piece && !source_->contains(*piece)) return false;
        std::size_t before = c.span.offset;
        while (before > pos && (text[before - 1] == ' ' || text[before - 1] == '\t')) --before;
        // Where its source text began, properties included (they may stand
        // on a line above it, and an edit may have dropped them).
        const std::size_t start = source_->start_with_properties(c);
        const bool had_properties = start < c.span.offset;
        if (had_properties != has_properties(c)) return false;
        if (had_properties && !c.source() &&
            !only_its_properties(text.substr(start, c.span.offset - start), c))
            return false;
        // After an explicit key's "?" ("[? a : b]") a value would be the key
        // of a pair.
        std::size_t lead = start;
        while (lead > pos &&
               std::string_view(" \t\r\n").find(text[lead - 1]) != std::string_view::npos)
            --lead;
        if (lead > pos && text[lead - 1] == '?') return false;
        const auto last = source_->exact_end(c);
        if (!last || *last < c.span.offset) return false;
        out_ += text.substr(pos, c.span.offset - pos);
        // An empty node stood at the token after its properties ("[&o]"):
        // content written there must not join them. A null with properties
        // writes nothing unless an edit made it ("[&o null]", not "[&onull]").
        const bool writes = c.kind != NodeKind::Null || c.synthetic;
        if (had_properties && before == c.span.offset && writes) out_ += ' ';
        if (c.kind == NodeKind::Null && !has_properties(c))
            out_ += c.synthetic && o_.null_style == NullStyle::Tilde ? "~" : "null";
        else
            node_inline(c, {ScalarPlace::Flow, 0});
        pos = *last;
    }
    return true;
}

// An untouched block scalar is written as its source when that source still
// reads the same at the new position: its content must stay deeper than its
// parent, and an indentation digit is only right where it was written.
bool Writer::untouched_block(const YamlNode& node, At at) {
    if (node.comments.modified || at.place != ScalarPlace::Block) return false;
    if (!node.comments.text || !node.comments.text->raw) return false;
    std::string_view raw = *node.comments.text->raw;
    // A scalar that ends the text without a line break reads differently
    // once one follows it; normalised, it gets one where it reads the same
    // with it (strip chomping, no content).
    std::string ended;
    if (normalize_ && !raw.ends_with('\n')) {
        ended = std::string(raw) + '\n';
        raw = ended;
    }
    if (!raw.ends_with('\n')) return false;
    const int indent = raw_content_indent(raw);
    // Normalised, the content moves below the parent anyway.
    if (indent == -2 || (!normalize_ && indent != -1 && indent <= at.parent)) return false;
    if (!raw_reads_as(raw, node.text)) return false;
    std::optional<std::string> moved;
    if (normalize_) {
        moved = reindented_block(raw, static_cast<std::size_t>(std::max(at.parent + 2, 2)));
        if (!moved) return false;
        raw = *moved;
    }
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

}  // namespace quarvel::roundtrip::emit

namespace quarvel::roundtrip::emit {

// Changed within the text being written: a boundary's content belongs to
// another file and is written here as its directive line.
bool changed_here(const YamlNode& node) {
    if (node.comments.modified) return true;
    if (node.source()) return false;
    for (const YamlNode& child : node.children) {
        if (child.comments.modified) return true;
        if (child.children.empty() || child.source()) continue;
        const std::optional<bool> deep =
            ensure_stack([&] { return std::optional<bool>(changed_here(child)); });
        if (!deep || *deep) return true;
    }
    return false;
}

// A node read from the known text that still stands where it was read:
// nodes made by edits have no extent there.
bool Writer::placed_in_source(const YamlNode& node) const {
    if (!keep_columns_ || !in_source(node) || node.end_offset <= node.span.offset ||
        node.end_offset > source_->text().size())
        return false;
    // Its column is its indentation only when spaces and indicators stand
    // before it on its line; a tab there separates, and counts otherwise.
    const std::size_t line = source_->line_start(node.span.offset);
    return source_->text().substr(line, node.span.offset - line).find_first_not_of(" -?:") ==
           std::string_view::npos;
}

std::optional<std::size_t> Writer::entry_end(const YamlNode& c, std::size_t i) const {
    if (c.kind == NodeKind::Sequence) return source_->exact_end(c.children[i]);
    const YamlNode& key = c.key(i);
    const YamlNode& value = c.value(i);
    // A null put in place of a value ends where that value did.
    if (value.kind != NodeKind::Null || has_properties(value) || value.source() ||
        replaced_text(value))
        return source_->exact_end(value);
    // "k:" ends with its key; "? k" may have its ":" on a later line.
    if (source_->explicit_key(key)) return source_->explicit_entry_end(key);
    return source_->exact_end(key);
}

// The start of the line an entry begins on: its key's, or its dash's. The
// line must be the entry's own: only its indentation (and a "? " before an
// explicit key) stands before it ("- - a" gives the inner item no line).
std::optional<std::size_t> Writer::entry_line(const YamlNode& c, std::size_t i) const {
    const YamlNode& first = c.kind == NodeKind::Mapping ? c.key(i) : c.children[i];
    const std::string_view text = source_->text();
    if (!in_source(first) || first.span.offset > text.size()) return {};
    auto only_indent = [&](std::size_t line, std::size_t at, std::string_view allowed) {
        return text.substr(line, at - line).find_first_not_of(allowed) == std::string_view::npos;
    };
    if (c.kind == NodeKind::Mapping) {
        const std::size_t start = source_->start_with_properties(first);
        const std::size_t line = source_->line_start(start);
        const std::size_t indent = std::min(text.find_first_not_of(' ', line), start);
        if (!only_indent(indent, start, "? ") || (indent < start && text[indent] != '?')) return {};
        // A "?" alone on a line above makes the key explicit: the entry
        // starts there, which the tree does not record.
        const std::size_t above = comments_above(line, 0);
        if (above > 0) {
            const std::size_t prev = source_->line_start(above - 1);
            const std::size_t mark = text.find_first_not_of(' ', prev);
            if (mark < above && text[mark] == '?') return {};
        }
        return line;
    }
    const std::size_t line = source_->line_start(first.span.offset);
    const std::size_t dash = line + own(c).span.column;
    if (dash < first.span.offset && text[dash] == '-' && only_indent(line, dash, " ")) return line;
    if (is_block_collection(first)) {
        const auto above = source_->dash_above(first);
        if (above && only_indent(*above, *above + own(c).span.column, " ")) return above;
    }
    return {};
}

// The start of the blank and comment lines right above `line`, not above
// `floor`.
std::size_t Writer::comments_above(std::size_t line, std::size_t floor) const {
    while (line > floor) {
        const std::size_t prev = source_->line_start(line - 1);
        if (source_->first_content_line(prev) < line) break;
        line = prev;
    }
    return line;
}

// Where the first of a node's head comments stands in the source, when
// it stands above `line` (otherwise `line`).
std::size_t Writer::head_start(const YamlNode& node, std::size_t line) const {
    if (!node.comments.has_head() || !in_source(node)) return line;
    const auto c = locate(node.comments.text->head.front());
    return c && c->line_start < line ? c->line_start : line;
}

// Entry i owns the lines from the end of the entry before it in the source
// to the line after its own end. After edits the entry before it may be
// gone (deleted) or new: the lines above it are then its blank lines and
// comments only.
Writer::Bounds Writer::entry_bounds(const YamlNode& c) const {
    const YamlNode& props = own(c);
    const std::size_t count = c.size();
    if (count == 0 || !placed(props)) return {};
    Bounds at(count);
    // The first entry owns its line only when nothing stands before it there
    // (": - a" or "- k: v" share it with an indicator).
    const std::size_t top = source_->line_start(props.span.offset);
    const std::string_view indent = source_->text().substr(top, props.span.offset - top);
    const bool starts_line = indent.find_first_not_of(' ') == std::string_view::npos;
    std::optional<std::size_t> previous_end;
    // The comment lines above the first entry of a collection below its key
    // are that entry's head, copied with it.
    if (starts_line)
        previous_end =
            std::min(top, head_start(c.kind == NodeKind::Mapping ? c.key(0) : c.children[0], top));
    for (std::size_t i = 0; i < count; ++i) {
        const YamlNode& first = c.kind == NodeKind::Mapping ? c.key(i) : c.children[i];
        const auto line = entry_line(c, i);
        if (line && (i > 0 || starts_line)) {
            if (previous_end && *previous_end <= *line &&
                source_->first_content_line(*previous_end) == *line)
                at[i].start = previous_end;
            else if (i > 0)
                at[i].start = comments_above(*line, starts_line ? top : *line);
        }
        // An end before the entry's start is another text's (a node made
        // from elsewhere): the entry's extent is unknown.
        const auto end = entry_end(c, i);
        previous_end.reset();
        if (end && line && *end > first.span.offset) {
            at[i].end = source_->line_after(*end);
            previous_end = at[i].end;
        }
    }
    return at;
}

// Source lines can follow what was written when it ended its line, and no
// block scalar written anew just before would take their blank or comment
// lines as its content.
bool Writer::copyable_from(std::size_t from) const {
    if (!keep_columns_ || !at_line_start()) return false;
    return !right_after_block() || source_->first_content_line(from) == from;
}

// Copied content ends what was written before it; copied blank and comment
// lines leave an empty value just written open to what follows them.
void Writer::copied_text(std::size_t from, std::size_t to, bool content) {
    if (to <= from) return;
    if (normalize_)
        tidied_lines(source_->text().substr(from, to - from));
    else
        out_ += source_->text().substr(from, to - from);
    if (content) empty_value_.reset();
    block_end_ = std::string::npos;
}

// An entry unchanged in this text is its lines, copied as they are.
bool Writer::copied_entry(const Bounds& bounds, std::size_t i, const YamlNode& first,
                          const YamlNode* second) {
    if (bounds.empty() || !bounds[i].start || !bounds[i].end || *bounds[i].end <= *bounds[i].start)
        return false;
    if (changed_here(first) || (second && changed_here(*second))) return false;
    // After an empty value written anew, a key with properties needs care;
    // so does the key after a copied empty value with properties ("k: !t"),
    // which only the writer tracks.
    // (Copied right after the source lines that left it open, it reads as
    // the source did.)
    const bool contiguous =
        empty_value_ && copied_until_ == *bounds[i].start && copied_out_ == out_.size();
    if (empty_value_ && has_properties(first) && !contiguous) return false;
    if (second && second->kind == NodeKind::Null && has_properties(*second)) return false;
    if (second && !has_value_indicator(first)) return false;
    // Properties on a line of their own above the key ("&a" then "k:") would
    // continue a plain scalar written anew just before; the key is written
    // with them on its line instead.
    if (second && properties_above(first)) return false;
    const std::size_t from = *bounds[i].start;
    const std::size_t to = *bounds[i].end;
    if (!copyable_from(from)) return false;
    const std::string_view slice = source_->text().substr(from, to - from);
    // The text's last line without its line break: whatever follows would
    // join it ("|+" at the end would even take the break as content).
    if (!slice.ends_with('\n')) return false;
    const std::size_t at = out_.size();
    copied_text(from, to, true);
    note_empty_value(first, second, from, at);
    note_block_scalar(first, second, from, to, at);
    copied_until_ = to;
    copied_out_ = out_.size();
    return true;
}

// The node's anchor or tag stands on an earlier line than the node itself.
bool Writer::properties_above(const YamlNode& node) const {
    const std::size_t start = source_->start_with_properties(node);
    const std::size_t own = node.span.offset;
    if (start >= own || own > source_->text().size()) return false;
    return source_->text().substr(start, own - start).find_first_of("\r\n") !=
           std::string_view::npos;
}

// The source writes ':' after the key (or the key after "? "): only then do
// its lines stand on their own after other entries.
bool Writer::has_value_indicator(const YamlNode& key) const {
    if (source_->explicit_key(key)) return true;
    const auto end = source_->exact_end(key);
    if (!end) return false;
    const std::string_view text = source_->text();
    std::size_t pos = *end;
    while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
    return pos < text.size() && text[pos] == ':';
}

// The node a copied entry ends with: its value, or the last value inside it.
static const YamlNode& last_written(const YamlNode& first, const YamlNode* second) {
    const YamlNode* last = second ? second : &first;
    while (is_block_collection(*last)) last = &last->children.back();
    return *last;
}

// A copied entry that ends with a block scalar leaves it open, as a written
// one does: a comment line copied after it at the scalar's indentation
// would read as its content.
void Writer::note_block_scalar(const YamlNode& first, const YamlNode* second, std::size_t from,
                               std::size_t to, std::size_t at) {
    const YamlNode& last = last_written(first, second);
    if (last.kind != NodeKind::Scalar || last.source()) return;
    if (last.scalar_style != ScalarStyle::Literal && last.scalar_style != ScalarStyle::Folded)
        return;
    const std::size_t start = last.span.offset;
    if (start < from || start >= to) return;
    ended_block(at + (start - from));
}

// A copied entry that ends with an empty value ("k:") leaves it open, as a
// written one does: a key with properties after it must not read as that
// value's properties.
void Writer::note_empty_value(const YamlNode& first, const YamlNode* second, std::size_t from,
                              std::size_t at) {
    const YamlNode* key = second ? &first : nullptr;
    const YamlNode* last = second ? second : &first;
    while (is_block_collection(*last)) {
        if (last->kind == NodeKind::Mapping)
            key = &last->key(last->size() - 1);
        else
            key = nullptr;
        last = &last->children.back();
    }
    if (!key || last->kind != NodeKind::Null || last->source()) return;
    // An empty key (": v") stands at its ':'.
    const auto end = key->kind == NodeKind::Null && !has_properties(*key)
                         ? std::optional<std::size_t>(key->span.offset)
                         : source_->exact_end(*key);
    if (!end || *end < from) return;
    const std::string_view text = source_->text();
    std::size_t colon = *end;
    while (colon < text.size() && (text[colon] == ' ' || text[colon] == '\t')) ++colon;
    if (colon >= text.size() || text[colon] != ':') return;
    // With properties ("k: &a"), a word spelled out goes after them.
    std::size_t spell = colon + 1;
    for (const auto& piece : {last->tag(), last->anchor()}) {
        if (!piece) continue;
        if (!source_->contains(*piece)) return;
        spell =
            std::max(spell, static_cast<std::size_t>(piece->data() + piece->size() - text.data()));
    }
    // Properties on a line of their own below the key are not this line's.
    if (text.substr(colon, spell - colon).find('\n') != std::string_view::npos) return;
    empty_value_ = EmptyValue{at + (spell - from), last->tag().has_value()};
}

// The blank lines and comments above an entry written anew, copied as they
// are unless they were edited.
bool Writer::copied_prefix(const Bounds& bounds, std::size_t i, const YamlNode& holder) {
    if (bounds.empty() || !bounds[i].start || holder.comments.head_edited) return false;
    const std::size_t from = *bounds[i].start;
    if (!copyable_from(from)) return false;
    const std::size_t end = source_->first_content_line(from);
    if (end > source_->line_start(holder.span.offset)) return false;
    copied_text(from, end, false);
    return true;
}

// The first block collection nested in the source shows how far the
// document indents: new collections are indented that way too.
void Writer::learn_indentation(const YamlNode& root) {
    step_ = 2;
    indentless_ = true;
    if (normalize_) {
        // Sequences below keys are written as most of them stand.
        std::size_t level = 0;
        std::size_t indented = 0;
        count_sequences(root, level, indented);
        indentless_ = level >= indented;
        return;
    }
    if (root.kind != NodeKind::Mapping || !placed(root)) return;
    bool stepped = false;
    bool seen_sequence = false;
    for (std::size_t i = 0; i < root.size() && !(stepped && seen_sequence); ++i) {
        const YamlNode& key = root.key(i);
        const YamlNode& value = root.value(i);
        if (!is_block_collection(value) || !placed(value) || !placed(key)) continue;
        const bool deeper = value.span.column > key.span.column;
        if (value.kind == NodeKind::Sequence && !seen_sequence) {
            seen_sequence = true;
            indentless_ = !deeper;
        }
        if (deeper && !stepped) {
            step_ = value.span.column - key.span.column;
            stepped = true;
        }
    }
}

}  // namespace quarvel::roundtrip::emit

namespace quarvel::roundtrip::emit {

// Normalising: the layout is written anew, and the only source text copied
// is that of scalars, flow collections and the lines outside documents.

void Writer::count_sequences(const YamlNode& node, std::size_t& level, std::size_t& indented) {
    if (node.kind == NodeKind::Mapping && node.style == CollectionStyle::Block) {
        for (std::size_t i = 0; i < node.size(); ++i) {
            const YamlNode& key = node.key(i);
            const YamlNode& value = node.value(i);
            if (value.kind != NodeKind::Sequence || !is_block_collection(value) ||
                !placed_in_source(value) || !placed_in_source(key))
                continue;
            ++(value.span.column > key.span.column ? indented : level);
        }
    }
    for (const YamlNode& child : node.children)
        if (!child.children.empty()) deeper([&] { count_sequences(child, level, indented); });
}

std::size_t Writer::out_column() const {
    // A byte order mark opening the text takes no column.
    const std::size_t nl = out_.rfind('\n');
    const std::size_t from = nl != std::string::npos  ? nl + 1
                             : out_.starts_with(kBom) ? kBom.size()
                                                      : 0;
    std::size_t column = 0;
    for (std::size_t i = from; i < out_.size(); ++i)
        if ((static_cast<unsigned char>(out_[i]) & 0xC0) != 0x80) ++column;
    return column;
}

namespace {

// `line` without the blanks (and carriage return) that end it, but one a
// backslash escapes when `escapes` (in a double-quoted scalar).
std::string_view without_end_blanks(std::string_view line, bool escapes = false) {
    std::size_t end = line.size();
    while (end > 0 && (line[end - 1] == ' ' || line[end - 1] == '\t' || line[end - 1] == '\r'))
        --end;
    if (escapes && end < line.size() && line[end] != '\r') {
        std::size_t slashes = 0;
        while (slashes < end && line[end - 1 - slashes] == '\\') ++slashes;
        if (slashes % 2 == 1) ++end;
    }
    return line.substr(0, end);
}

}  // namespace

// The source extents of the double-quoted scalars in `node`, where a
// backslash can escape a blank.
void Writer::double_quoted(const YamlNode& node,
                           std::vector<std::pair<std::size_t, std::size_t>>& out) {
    if (node.kind == NodeKind::Scalar && node.scalar_style == ScalarStyle::DoubleQuoted)
        out.emplace_back(node.span.offset, node.end_offset);
    for (const YamlNode& child : node.children) deeper([&] { double_quoted(child, out); });
}

// The lines after the first of a flow scalar or collection are read as
// folded (plain and quoted scalars) or as separation (flow collections):
// their indentation is not content, nor are blanks before a line break
// unless escaped, and a line of blanks is an empty line.
std::string Writer::moved_lines(const YamlNode& node, std::string_view slice, int parent) {
    const long delta = static_cast<long>(out_column()) - static_cast<long>(node.span.column);
    const long least = std::max(parent + 1, 0);
    std::vector<std::pair<std::size_t, std::size_t>> quoted;
    double_quoted(node, quoted);
    auto in_quotes = [&](std::size_t at) {
        return std::any_of(quoted.begin(), quoted.end(),
                           [&](const auto& q) { return q.first <= at && at < q.second; });
    };
    std::string s;
    s.reserve(slice.size() + 16);
    std::size_t pos = 0;
    for (bool first = true;; first = false) {
        const std::size_t nl = slice.find('\n', pos);
        std::string_view line = slice.substr(pos, nl == std::string_view::npos ? nl : nl - pos);
        if (nl != std::string_view::npos)
            line = without_end_blanks(line, in_quotes(node.span.offset + nl));
        if (!first && !line.empty()) {
            const std::size_t indent = std::min(line.find_first_not_of(' '), line.size());
            s.append(static_cast<std::size_t>(std::max(static_cast<long>(indent) + delta, least)),
                     ' ');
            line.remove_prefix(indent);
        }
        s += line;
        if (nl == std::string_view::npos) break;
        s += '\n';
        pos = nl + 1;
    }
    return s;
}

// A line of a block scalar holding only spaces is empty when it is not
// deeper than the content (else the spaces past it are content); every
// other line keeps what follows the content's indentation.
std::optional<std::string> Writer::reindented_block(std::string_view raw,
                                                    std::size_t indent) const {
    const int content = raw_content_indent(raw);
    if (content < -1) return {};
    const std::size_t header_end = raw.find('\n');
    std::string s(without_end_blanks(raw.substr(0, header_end)));
    s += '\n';
    std::size_t pos = header_end + 1;
    while (pos < raw.size()) {
        const std::size_t nl = std::min(raw.find('\n', pos), raw.size());
        std::string_view line = raw.substr(pos, nl - pos);
        if (line.ends_with('\r')) line.remove_suffix(1);
        const std::size_t spaces = std::min(line.find_first_not_of(' '), line.size());
        const auto column = static_cast<std::size_t>(std::max(content, 0));
        if (spaces == line.size()) {
            if (content >= 0 && spaces > column) s.append(indent + spaces - column, ' ');
        } else {
            if (content < 0 || spaces < column) return {};
            s.append(indent + spaces - column, ' ');
            s += line.substr(spaces);
        }
        s += '\n';
        pos = nl + 1;
    }
    return s;
}

void Writer::enter_level(const YamlNode& collection, std::size_t n) {
    const YamlNode& c = own(collection);
    if (!normalize_ || !in_source(c)) return;
    const std::size_t column = c.span.column;
    while (!levels_.empty() && levels_.back().source > column) levels_.pop_back();
    // A sequence level with its key shares the key's level: a comment there
    // stays with the key.
    if (!levels_.empty() && levels_.back().source == column) return;
    levels_.push_back({column, n});
}

std::size_t Writer::level_of(std::size_t indent) const {
    for (auto it = levels_.rbegin(); it != levels_.rend(); ++it)
        if (it->source <= indent) return it->out;
    return 0;
}

void Writer::tidied_lines(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t nl = text.find('\n', pos);
        std::string_view line = text.substr(pos, nl == std::string_view::npos ? nl : nl - pos);
        line = without_end_blanks(line);
        const std::size_t first = line.find_first_not_of(" \t");
        if (first != std::string_view::npos && line[first] == '#') {
            const bool spaces_only = line.substr(0, first).find('\t') == std::string_view::npos;
            spaces(right_after_block() || !spaces_only ? 0 : level_of(first));
            line.remove_prefix(first);
        }
        out_ += line;
        if (nl == std::string_view::npos) break;
        out_ += '\n';
        pos = nl + 1;
    }
}

void Writer::tidied_stream() {
    if (source_) copied_text(0, source_->text().size(), false);
}

}  // namespace quarvel::roundtrip::emit
