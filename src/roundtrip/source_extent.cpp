// Where a node's text ends and where lines begin in the known source. The
// tree records where each node starts and where its last scalar ends; the
// emitter needs the whole extent of an entry (closing brackets, properties
// of an empty value, the line break after a block scalar) to copy it.
#include "roundtrip/source_layout.hpp"

namespace quarvel::roundtrip {

std::size_t SourceLayout::line_start(std::size_t offset) const {
    const std::string_view text = text_;
    offset = std::min(offset, text.size());
    if (offset == 0) return 0;
    const std::size_t nl = text.rfind('\n', offset - 1);
    return nl == std::string_view::npos ? 0 : nl + 1;
}

std::size_t SourceLayout::line_after(std::size_t end) const {
    const std::string_view text = text_;
    if (end > text.size()) return text.size();
    if (end > 0 && text[end - 1] == '\n') return end;
    const std::size_t nl = text.find('\n', end);
    return nl == std::string_view::npos ? text.size() : nl + 1;
}

std::size_t SourceLayout::first_content_line(std::size_t from) const {
    const std::string_view text = text_;
    while (from < text.size()) {
        const std::size_t first = text.find_first_not_of(" \t\r", from);
        if (first == std::string_view::npos) return text.size();
        if (text[first] != '\n' && text[first] != '#') return from;
        const std::size_t nl = text.find('\n', first);
        if (nl == std::string_view::npos) return text.size();
        from = nl + 1;
    }
    return text.size();
}

bool SourceLayout::only_markers(std::size_t from, std::size_t to) const {
    const std::string_view text = text_;
    to = std::min(to, text.size());
    for (std::size_t line = first_content_line(from); line < to;
         line = first_content_line(line_after(line + 1))) {
        const std::string_view rest = text.substr(line);
        const bool marker = rest.starts_with('%') ||
                            is_marker_line(rest.substr(0, rest.find('\n'))) ||
                            rest.starts_with("...");
        if (!marker) return false;
    }
    return true;
}

std::size_t SourceLayout::start_with_properties(const YamlNode& node) const {
    std::size_t start = node.span.offset;
    // A node put in place by an edit starts where what it replaced did, and
    // one whose properties an edit changed where they stood.
    if (node.comments.text && node.comments.text->source_start && holds(node))
        start = std::min(start, static_cast<std::size_t>(*node.comments.text->source_start));
    // A pair without braces ("[!t k: v]") starts where its key does.
    if (node.flow_pair && !node.children.empty())
        start = std::min(start, start_with_properties(node.children.front()));
    // A node a directive made starts with the directive's tag.
    if (node.source() && contains(node.source()->tag))
        start = std::min(start, static_cast<std::size_t>(node.source()->tag.data() - text_.data()));
    if (node.tag() && contains(*node.tag()))
        start = std::min(start, static_cast<std::size_t>(node.tag()->data() - text_.data()));
    // The anchor's view leaves out its '&'.
    if (node.anchor() && contains(*node.anchor()) && node.anchor()->data() > text_.data())
        start = std::min(start, static_cast<std::size_t>(node.anchor()->data() - text_.data()) - 1);
    return start;
}

std::optional<std::size_t> SourceLayout::matching_bracket(std::size_t open) const {
    const std::string_view text = text_;
    int depth = 0;
    for (std::size_t pos = open; pos < text.size(); ++pos) {
        const char c = text[pos];
        // A quote opens a scalar only where one can start ("it's" is plain).
        const bool starts = pos == 0 || std::string_view(" \t\r\n[{,").find(text[pos - 1]) !=
                                            std::string_view::npos;
        if (c == '[' || c == '{') {
            ++depth;
        } else if (c == ']' || c == '}') {
            if (--depth == 0) return pos + 1;
        } else if (c == '\'' && starts) {
            // '' stands for one quote inside single quotes.
            for (++pos; pos < text.size(); ++pos) {
                if (text[pos] != '\'') continue;
                if (pos + 1 < text.size() && text[pos + 1] == '\'')
                    ++pos;
                else
                    break;
            }
            if (pos >= text.size()) return {};
        } else if (c == '"' && starts) {
            for (++pos; pos < text.size() && text[pos] != '"'; ++pos)
                if (text[pos] == '\\') ++pos;
            if (pos >= text.size()) return {};
        } else if (c == '#' && pos > 0 &&
                   std::string_view(" \t\n").find(text[pos - 1]) != std::string_view::npos) {
            pos = text.find('\n', pos);
            if (pos == std::string_view::npos) return {};
        }
    }
    return {};
}

// The end of a tag or anchor written in this text.
std::optional<std::size_t> SourceLayout::properties_end(const YamlNode& node) const {
    std::optional<std::size_t> end;
    for (const auto& piece : {node.tag(), node.anchor()}) {
        if (!piece || !contains(*piece)) continue;
        const std::size_t at = static_cast<std::size_t>(piece->data() - text_.data());
        end = std::max(end.value_or(0), at + piece->size());
    }
    return end;
}

std::optional<std::size_t> SourceLayout::end_as_read(const YamlNode& node) const {
    if (auto end = exact_end(node)) return end;
    if (!node.is_collection() || node.source() || !holds(node)) return {};
    if (node.end_offset <= node.span.offset || node.end_offset > text_.size()) return {};
    return before_trailing_comments(static_cast<std::size_t>(node.end_offset), node.span.column);
}

// A collection whose last entry has an empty value ("a:") ends, as composed,
// at the token after that value: past the comment lines below it, which are
// not the collection's ("a:\n# c\n" ends after "a:\n"). The comment lines
// that end the text before `end` are given back, as far as they stand no
// further right than the collection's column: a line starting with '#' there
// cannot be content of a scalar of its entries, which is indented more.
std::size_t SourceLayout::before_trailing_comments(std::size_t end, std::uint32_t column) const {
    const std::string_view text = text_;
    std::size_t kept = end;
    for (std::size_t at = end; at > 0;) {
        const std::size_t line = line_start(at - 1);
        const std::size_t first = text.find_first_not_of(" \t", line);
        if (first == std::string_view::npos || first >= at || text[first] == '\n' ||
            text[first] == '\r') {
            at = line;  // a blank line
            continue;
        }
        if (text[first] != '#' || first - line > column) break;
        at = line;
        kept = line;
    }
    return kept;
}

std::optional<std::size_t> SourceLayout::explicit_entry_end(const YamlNode& key) const {
    const auto end = exact_end(key);
    if (!end) return end;
    const std::string_view text = text_;
    const std::size_t line = first_content_line(line_after(*end));
    const std::size_t colon = std::min(text.find_first_not_of(' ', line), text.size());
    const bool alone = colon + 1 >= text.size() ||
                       std::string_view(" \t\r\n").find(text[colon + 1]) != std::string_view::npos;
    // The ':' stands at the column of its "?": one further left is an outer
    // mapping's.
    const std::size_t key_line = line_start(key.span.offset);
    const std::size_t indicator = text.rfind('?', key.span.offset);
    const bool same_column = indicator == std::string_view::npos || indicator < key_line ||
                             colon - line == indicator - key_line;
    if (colon < text.size() && text[colon] == ':' && alone && same_column) return colon + 1;
    return end;
}

std::optional<std::size_t> SourceLayout::exact_end(const YamlNode& node) const {
    const YamlNode* n = &node;
    // A block collection ends where its last entry does.
    for (;;) {
        // A node put in place by an edit ends where what it replaced ended.
        if (replaced_text(*n)) {
            if (!holds(*n) || *n->comments.text->replaced_end > text_.size()) return {};
            return static_cast<std::size_t>(*n->comments.text->replaced_end);
        }
        if (!n->is_collection() || n->style != CollectionStyle::Block || n->source()) break;
        if (n->children.empty()) return {};
        const YamlNode& last = n->children.back();
        const bool empty =
            last.kind == NodeKind::Null && !last.anchor() && !last.tag() && !replaced_text(last);
        if (!empty) {
            n = &last;
        } else if (n->kind == NodeKind::Mapping &&
                   !explicit_key(n->children[n->children.size() - 2])) {
            // "k:" ends with its key; "? k" may have its ":" on a later line.
            n = &n->children[n->children.size() - 2];
        } else {
            return {};
        }
    }
    if (!holds(*n)) return {};
    if (n->source()) {
        if (n->end_offset > n->span.offset) return n->end_offset;
        return {};
    }
    switch (n->kind) {
        case NodeKind::Scalar:
            if (n->end_offset > n->span.offset) return n->end_offset;
            return properties_end(*n);
        case NodeKind::Alias: {
            // One made by an edit stands where the node it replaced did.
            const std::size_t at = n->span.offset;
            if (at >= text_.size() || text_[at] != '*' ||
                text_.substr(at + 1, n->text.size()) != n->text)
                return {};
            return at + 1 + n->text.size();
        }
        case NodeKind::Null:
            return properties_end(*n);
        case NodeKind::Sequence:
        case NodeKind::Mapping:
            break;
    }
    if (!is_flow_pair(*n)) {
        // The tree tells where an unchanged collection ends; one whose
        // entries changed is measured on the text.
        const bool bracket = n->span.offset < text_.size() &&
                             (text_[n->span.offset] == '[' || text_[n->span.offset] == '{');
        if (bracket && tree_modified(*n)) return matching_bracket(n->span.offset);
        return flow_end(*n);
    }
    // "[a: b]": the pair has no brackets; it ends with its value, or with the
    // ':' after its key ("[a:]"). Entries an edit added after it ("[{a: b,
    // c: d}]" now) were never in the text: the pair's own entry is the first.
    if (n->children.size() < 2) return {};
    const YamlNode& value = n->children[1];
    if (value.kind != NodeKind::Null || value.anchor() || value.tag()) return exact_end(value);
    // An empty value whose anchor or tag an edit removed still has them in
    // the text ("[a: &x]"): where they ended is no longer known.
    if (value.comments.text && value.comments.text->source_start) return {};
    auto end = exact_end(n->children.front());
    if (!end) return end;
    std::size_t pos = *end;
    while (pos < text_.size() && (text_[pos] == ' ' || text_[pos] == '\t')) ++pos;
    if (pos < text_.size() && text_[pos] == ':') return pos + 1;
    return end;
}

}  // namespace quarvel::roundtrip
