// Properties and directive lines: tags and anchors in their source order,
// tags through the %TAG handles the document declared (written again above
// it), the directive line of a resolved include, and the "%YAML 1.2" line an
// upgraded document opens with. A tag is only ever written in a form that
// reads back as the same tag.
#include "parser/directives.hpp"
#include "roundtrip/emit_writer.hpp"

namespace quarvel::roundtrip::emit {

// Tags a %TAG directive expanded are written as they were, under that
// directive written again; when the prefix cannot be recovered (escapes in
// the suffix, or two prefixes for one handle after edits) in verbatim form.
void Writer::collect_handles(const YamlNode& node) {
    if (!node.expanded_tag().empty() && node.tag()) {
        const std::string_view handle = handle_of(*node.tag());
        const std::string_view suffix = node.tag()->substr(handle.size());
        const std::string_view full = node.expanded_tag();
        if (!handle.empty() && full.ends_with(suffix)) {
            const Handle h{handle, full.substr(0, full.size() - suffix.size())};
            const bool known = std::any_of(handles_.begin(), handles_.end(),
                                           [&](const Handle& k) { return k.handle == handle; });
            if (!known) handles_.push_back(h);
        }
    }
    for (const YamlNode& child : node.children) {
        if (!child.children.empty() || !child.expanded_tag().empty())
            deeper([&] { collect_handles(child); });
    }
}

bool Writer::declared(const YamlNode& node) const {
    const std::string_view handle = handle_of(*node.tag());
    const std::string_view suffix = node.tag()->substr(handle.size());
    return std::any_of(handles_.begin(), handles_.end(), [&](const Handle& h) {
        return h.handle == handle &&
               h.prefix.size() + suffix.size() == node.expanded_tag().size() &&
               node.expanded_tag().starts_with(h.prefix) && node.expanded_tag().ends_with(suffix);
    });
}

// The directives, comments, empty documents and markers above a document,
// copied as they stand unless its head comments were edited: where the copy
// ends (the "---" line of an explicit document, else its first content
// line), or nothing when it was not made.
namespace {

// A line of blanks only, a tab among them.
bool tabbed_blank_line(std::string_view line) {
    return line.find_first_not_of(" \t\r\n") == std::string_view::npos &&
           line.find('\t') != std::string_view::npos;
}

bool comment_line_text(std::string_view line) {
    const std::size_t first = line.find_first_not_of(" \t");
    return first != std::string_view::npos && line[first] == '#';
}

}  // namespace

std::optional<std::size_t> Writer::copied_prologue(const YamlNode& props, std::size_t from) {
    if (!in_source(props) || !copyable_from(from)) return {};
    // A document without "---" starts at its first line: empty documents
    // ("---", "...") may stand before it.
    const auto end =
        props.explicit_start
            ? source_->marker_line(props)
            : std::optional(source_->line_start(source_->start_with_properties(props)));
    if (!end || *end < from || *end > source_->line_start(props.span.offset)) return {};
    if (!source_->only_markers(from, *end)) return {};
    std::vector<std::pair<std::size_t, std::size_t>> lines;
    for (std::size_t line = from; line < *end;) {
        const std::size_t next = std::min(source_->line_after(line + 1), *end);
        lines.emplace_back(line, next);
        line = next;
    }
    // Blank lines holding tabs are left to the writer where a "%YAML 1.2"
    // line goes above the first document: it would leave them after "---".
    const bool declared_above = o_.declare_1_2 && from <= kBom.size();
    for (const auto& [start, next] : lines)
        if (declared_above && tabbed_blank_line(source_->text().substr(start, next - start)))
            return {};
    // The comment lines are the document's head: when an edit replaced it,
    // only the markers and directives stay.
    for (const auto& [start, next] : lines) {
        const std::string_view line = source_->text().substr(start, next - start);
        if (!props.comments.head_edited || !comment_line_text(line))
            copied_text(start, next, false);
        if (line.starts_with('%'))
            if (const auto handle = tag_directive_handle(line.substr(1)))
                prologue_handles_.push_back(*handle);
        // Directives hold for the next document only: past an empty
        // document's "---" or a "..." they were that document's.
        const std::string_view bare = line.substr(0, line.find_first_of("\r\n"));
        if (is_marker_line(bare) || bare.starts_with("...")) prologue_handles_.clear();
    }
    return end;
}

// Right after a block scalar written anew, the comment and blank lines that
// open a prologue are written as comments (a copy of them could not tell the
// scalar where it ends); its first marker line ("---" of an empty document,
// "...") ends any scalar, so the prologue is copied from there. The comments
// written are the document's first head lines, which the copy then skips.
std::optional<std::size_t> Writer::prologue_after_block(const YamlNode& props, std::size_t from) {
    if (!in_source(props) || !keep_columns_ || !at_line_start() || !right_after_block()) return {};
    const std::size_t first_marker = source_->first_content_line(from);
    if (first_marker <= from || first_marker >= source_->line_start(props.span.offset) ||
        !source_->only_markers(first_marker, source_->line_start(props.span.offset)))
        return {};
    const std::size_t written = out_.size();
    const auto& head_lines = props.comments.has_head() ? props.comments.text->head : kNoLines;
    for (std::string_view line : head_lines) {
        const auto c = locate(line);
        if (!c || c->hash >= first_marker) break;
        blank_lines(blank_lines_above(c->line_start));
        comment_line(line, 0, 0);
    }
    blank_lines(blank_lines_above(first_marker));
    auto prologue = copied_prologue(props, first_marker);
    if (!prologue) out_.resize(written);
    return prologue;
}

void Writer::tag_directives(bool after_document) {
    if (handles_.empty()) return;
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

void Writer::document(const YamlNode& node, bool with_source, bool separated, bool after_document,
                      Lines lines) {
    handles_.clear();
    prologue_handles_.clear();
    levels_.clear();
    collect_handles(node);
    learn_indentation(node);
    const YamlNode& props = own(node);
    auto prologue = lines.from ? copied_prologue(props, *lines.from) : std::nullopt;
    if (!prologue && lines.from) prologue = prologue_after_block(props, *lines.from);
    lines.opened = prologue.has_value();
    if (!prologue) tag_directives(after_document);
    // Head comments the source has above the "---" line (or, with the
    // prologue copied, above the first line of content) stay above it.
    // Plain values rather than an optional: GCC at -O3 misreads the
    // optional's state here as possibly uninitialised.
    const auto found =
        props.explicit_start && in_source(props) ? source_->marker_line(props) : std::nullopt;
    const bool has_marker = found.has_value();
    const std::size_t marker = found.value_or(0);
    const std::size_t above = prologue.value_or(marker);
    const auto& head_lines = props.comments.has_head() ? props.comments.text->head : kNoLines;
    std::size_t before = 0;
    while ((prologue || has_marker) && before < head_lines.size()) {
        const auto c = locate(head_lines[before]);
        if (!c || c->hash >= above) break;
        if (!prologue) {
            if (before > 0) blank_lines(blank_lines_above(c->line_start));
            comment_line(head_lines[before], 0, 0);
        }
        ++before;
    }
    // A document the source began without "---" follows a "..." line,
    // which the copied prologue holds.
    const bool ended_before = prologue && !props.explicit_start;
    if ((!handles_.empty() && !prologue) || props.explicit_start || (separated && !ended_before)) {
        out_ += "---";
        const auto c =
            has_marker && before < head_lines.size() ? locate(head_lines[before]) : std::nullopt;
        if (c && c->line_start == marker) {
            out_ += ' ';
            out_ += comment_source(*c);
            ++before;
        } else if (normalize_ && has_marker && !node.source() && before == head_lines.size() &&
                   (!is_block_collection(node) || has_properties(props)) &&
                   source_->line_start(source_->start_with_properties(props)) == marker) {
            // Normalised, a root the source began on the "---" line stays
            // there (a block collection only with its properties).
            out_ += ' ';
            root(node, with_source, before, lines);
            return;
        }
        out_ += '\n';
    }
    root(node, with_source, before, lines);
}

// A tag whose handle a %TAG directive redefined is written in full: the
// directives themselves are not written again.
void Writer::tag(const YamlNode& node) {
    if (!node.expanded_tag().empty() && !declared(node)) {
        out_ += "!<";
        out_ += node.expanded_tag();
        out_ += '>';
    } else if (node.expanded_tag().empty() && *node.tag() != "!" &&
               redefined_default_handle(*node.tag())) {
        // "!x" is the local tag !x and "!!x" a core tag, unless the copied
        // %TAG lines say otherwise: written in full, they mean what they did.
        // A lone "!" is no shorthand (it asks for a string whatever the
        // directives) and stays as it is.
        const std::string_view tag = *node.tag();
        out_ += "!<";
        out_ += tag.starts_with("!!") ? std::string(kCoreTagPrefix) + std::string(tag.substr(2))
                                      : std::string(tag);
        out_ += '>';
    } else {
        out_ += *node.tag();
    }
}

bool Writer::redefined_default_handle(std::string_view tag) const {
    const std::string_view handle = handle_of(tag);
    if (handle != "!" && handle != "!!") return false;
    return std::find(prologue_handles_.begin(), prologue_handles_.end(), handle) !=
           prologue_handles_.end();
}

// Tag and anchor in the order the source has them ("&a !!map" or "!!map &a"),
// tag first for nodes made by edits.
void Writer::properties(const YamlNode& node, Spacing spacing) {
    if (!has_properties(node)) return;
    const bool anchor_first = node.tag() && node.anchor() && source_ &&
                              source_->contains(*node.anchor()) && source_->contains(*node.tag()) &&
                              node.anchor()->data() < node.tag()->data();
    bool first = true;
    auto piece = [&](bool is_anchor) {
        if (spacing == Spacing::After || (spacing == Spacing::Line && !first)) out_ += ' ';
        if (is_anchor) {
            out_ += '&';
            out_ += *node.anchor();
        } else {
            tag(node);
        }
        if (spacing == Spacing::Inline) out_ += ' ';
        first = false;
    };
    const bool order[2] = {anchor_first, !anchor_first};
    for (bool is_anchor : order)
        if (is_anchor ? node.anchor().has_value() : node.tag().has_value()) piece(is_anchor);
    if (spacing == Spacing::Line) out_ += '\n';
}

// The directive line of a boundary: its tag and its argument, quoted when
// the argument would not read back as written plain ("a: b.yaml").
void Writer::directive(const YamlNode& node) {
    out_ += node.source()->tag;
    out_ += ' ';
    const std::string_view target = node.source()->target;
    if (fits_plain(target, ScalarPlace::Flow))
        out_ += target;
    else
        write_double_quoted(target, out_);
}

}  // namespace quarvel::roundtrip::emit
