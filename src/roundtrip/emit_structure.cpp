// Structure: documents, block mappings and sequences at their indentation,
// flow collections on one line, scalars in their style. Every node is written
// so that it reads back as itself at the place it is written; the other
// seams decide when source text can stand in for it.
#include "roundtrip/emit_writer.hpp"

namespace quarvel::roundtrip::emit {

void Writer::root(const YamlNode& node, bool with_source, std::size_t head_from, Lines lines) {
    if (!with_source) content_of_ = &node;
    const YamlNode& props = own(node);
    // Blank lines opening the document (the first root has no blank_before).
    if (head_from == 0 && in_source(props) && !lines.opened) {
        const auto first =
            props.comments.has_head() ? locate(props.comments.text->head[0]) : std::nullopt;
        blank_lines(blank_lines_above(first ? first->line_start : props.span.offset));
    }
    head(props, 0, head_from);
    if (with_source && node.source()) {
        directive(node);
        out_ += inline_comment(node);
        out_ += '\n';
    } else if (is_block_collection(node)) {
        properties_line(props);
        block_children(node, column_of(node, 0));
    } else {
        properties_inline(props);
        node_inline(node, {ScalarPlace::Block, -1});
        finish_line(props);
    }
    // What follows the document's last line belongs to the next document,
    // or for the last one is the stream's tail (comments, markers, and the
    // final line break or its absence), copied as it stands.
    const bool trailer = lines.to && source_->only_markers(*lines.to, source_->text().size());
    // Right after a block scalar written anew, the tail's comment and blank
    // lines are written as comments that it cannot take in; its first
    // marker line ("---" of an empty document, "...") ends any scalar, so the
    // tail is copied from there.
    const std::size_t first_marker =
        trailer ? source_->first_content_line(*lines.to) : std::string::npos;
    if (lines.last && trailer && first_marker < source_->text().size() && keep_columns_ &&
        at_line_start() && right_after_block()) {
        foot_above(props, first_marker);
        blank_lines(blank_lines_above(first_marker));
        copied_text(first_marker, source_->text().size(), true);
    } else if (!lines.to || (lines.last && (!copyable_from(*lines.to) || !trailer))) {
        foot(props);
    } else if (lines.last) {
        // A comment no node took that stands within the document (after an
        // empty item, "-  # c") is written by no node, and a copy of the
        // lines does not hold it once they are written anew.
        if (normalize_ && props.comments.text)
            for (std::string_view line : props.comments.text->foot)
                if (const auto c = locate(line); c && c->hash < *lines.to) refused_ = true;
        copied_text(*lines.to, source_->text().size(), true);
    }
}

std::optional<std::size_t> Writer::root_end(const YamlNode& node) const {
    // A node put in place by an edit is not placed, but knows where the text
    // it replaced ended.
    if (!source_ || !keep_columns_ || !in_source(own(node))) return {};
    if (replaced_text(node)) return source_->exact_end(node);
    // A block collection ends with its last entry, which must lie after its
    // start (a node made from another text does not). An included file's
    // root stands for the directive: only its content tells.
    if (is_block_collection(node)) {
        const std::size_t last = node.size() - 1;
        const YamlNode& first =
            node.kind == NodeKind::Mapping ? node.key(last) : node.children[last];
        const auto end = entry_end(node, last);
        if (end && in_source(first) && *end > first.span.offset) return end;
    } else if (&own(node) == &node && !(node.source() && !in_source(node))) {
        // An empty node stands at the token after it: its properties start it.
        const auto end = source_->exact_end(node);
        if (end && *end > source_->start_with_properties(node)) return end;
    }
    // A collection whose last entry is new or gone still ends where its
    // source text did.
    if (&own(node) == &node && node.is_collection()) return source_->end_as_read(node);
    return {};
}

Lines Writer::lines_of(const YamlNode& node, std::optional<std::size_t> from, bool last) const {
    if (!source_) return {};
    Lines lines{from, root_end(node), last};
    if (lines.to) lines.to = source_->line_after(*lines.to);
    return lines;
}

void Writer::finish_text() {
    if (normalize_) {
        // One line break ends the text, unless the empty lines before it
        // are content of a block scalar kept with "+".
        if (!(block_keeps_ && right_after_block()))
            while (out_.ends_with("\n\n")) out_.pop_back();
        // Nor do blank lines open it.
        const std::size_t start = out_.starts_with(kBom) ? kBom.size() : 0;
        const std::size_t first = out_.find_first_not_of('\n', start);
        out_.erase(start, (first == std::string::npos ? out_.size() : first) - start);
        if (!out_.empty() && !out_.ends_with('\n')) out_ += '\n';
        if (source_ && uses_crlf(source_->text())) to_crlf(out_);
        return;
    }
    if (!source_) return;
    const std::string_view text = source_->text();
    if (!text.ends_with('\n') && out_.ends_with('\n') && !right_after_block()) out_.pop_back();
    if (uses_crlf(text)) to_crlf(out_);
}

bool Writer::copied_document(const YamlNode& node, Lines lines) {
    if (normalize_ || !lines.from || !lines.to || changed_here(node) || !copyable_from(*lines.from))
        return false;
    // What lies between the document before and this one is not content
    // (an entry deleted from the end of the one before).
    const std::size_t start = source_->start_with_properties(own(node));
    if (!source_->only_markers(*lines.from, source_->line_start(start))) return false;
    const std::size_t to = lines.last ? source_->text().size() : *lines.to;
    if (to < *lines.from) return false;
    copied_text(*lines.from, to, true);
    return true;
}

void Writer::block_children(const YamlNode& node, std::size_t n, bool first_on_line) {
    // Away from its source column (a copy that detach made elsewhere) no
    // line of the collection can be copied.
    const bool moved = placed(own(node)) && own(node).span.column != n;
    const bool kept = keep_columns_;
    if (moved) keep_columns_ = false;
    if (node.kind == NodeKind::Mapping)
        entries(node, n, first_on_line);
    else
        items(node, n, first_on_line);
    keep_columns_ = kept;
}

void Writer::entries(const YamlNode& map, std::size_t n, bool first_on_line) {
    enter_level(map, n);
    const Bounds bounds = entry_bounds(map);
    for (std::size_t i = 0; i < map.size() && !failed_; ++i) {
        const YamlNode& key = map.key(i);
        const bool own_line = i > 0 || !first_on_line;
        const YamlNode& value = map.value(i);
        if (own_line && copied_entry(bounds, i, key, &value)) continue;
        // Comments the source has between the key and its value stay there
        // when the value can be written below the key.
        const std::size_t heads = key.comments.has_head() ? key.comments.text->head.size() : 0;
        std::size_t below = own_line ? first_head_below(key) : heads;
        if (below < heads && !may_go_below(value)) below = heads;
        if (own_line) {
            // A copied prefix holds the lines above the key only.
            if (!(first_head_below(key) >= heads || below < heads) ||
                !copied_prefix(bounds, i, key)) {
                blank_lines(key);
                head(key, n, 0, below);
            }
            spaces(n);
        }
        entry(key, value, n, below);
    }
}

// "k:" followed by a line opening with "&a" or "!t" would give those
// properties to the empty value. That value is spelled out after all
// ("k: null", "k: &a null"), or, when it has a tag ("k: !t" is not "k: !t
// null"), the key with properties is written after "? " (false).
bool Writer::simple_key_safe_after_empty_value(const YamlNode& key) {
    // A key that came from a directive is written as the directive, which
    // opens with its tag ("!include_dir_named e").
    const bool directive_key = key.source() && &key != content_of_;
    if (!(has_properties(key) || directive_key) || !empty_value_) return true;
    // Only blank lines, comment lines and this key's indentation may lie
    // between: anything else ended the empty value's line for good.
    std::size_t pos = out_.find('\n', empty_value_->spell_at);
    if (pos == std::string::npos) return true;
    ++pos;
    while (pos < out_.size()) {
        // Copied lines may end in CR LF.
        const std::size_t first = out_.find_first_not_of(" \t\r", pos);
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

void Writer::entry(const YamlNode& key, const YamlNode& value, std::size_t n, std::size_t below) {
    // A key that came from a directive is written as the directive, one
    // scalar, whatever its content is (a block sequence read from a file).
    const bool directive_key = key.source() && &key != content_of_;
    if ((directive_key || is_simple_key(key)) && !written_explicit(key) &&
        simple_key_safe_after_empty_value(key)) {
        if (directive_key) {
            directive(key);
        } else {
            properties_inline(key);
            node_inline(key, {ScalarPlace::Key, static_cast<int>(n)});
        }
        // "*a:" would read as an alias named "a:".
        const std::uint32_t blanks = directive_key ? 0 : blanks_before_colon(key);
        if (blanks > 0)
            spaces(blanks);
        else if (key.kind == NodeKind::Alias && !key.source())
            out_ += ' ';
        out_ += ':';
        deeper([&] { value_after_colon(value, key, n, below, blanks); });
        return;
    } else {
        complex_key(key, n);
        comments_below_key(key, below, n);
        below = kNoComments;
        spaces(n);
        out_ += ':';
    }
    deeper([&] { value_after_colon(value, key, n, below); });
}

void Writer::complex_key(const YamlNode& key, std::size_t n) {
    out_ += '?';
    if (is_block_collection(key) && !(key.source() && &key != content_of_)) {
        properties_after_indicator(key);
        out_ += '\n';
        deeper([&] { block_children(key, column_of(key, n + 2, n + 1)); });
        return;
    }
    out_ += ' ';
    properties_inline(key);
    node_inline(key, {ScalarPlace::Block, static_cast<int>(n)});
    if (!out_.ends_with('\n')) out_ += '\n';
}

// The blanks the source has between a key and its ':' ("state   : MI",
// aligned by hand), kept when the entry is written anew.
std::uint32_t Writer::blanks_before_colon(const YamlNode& key) const {
    if (normalize_ || !in_source(key)) return 0;
    const auto end = source_->exact_end(key);
    if (!end) return 0;
    const std::string_view text = source_->text();
    std::size_t pos = *end;
    while (pos < text.size() && text[pos] == ' ') ++pos;
    return pos < text.size() && text[pos] == ':' ? static_cast<std::uint32_t>(pos - *end) : 0;
}

void Writer::value_after_colon(const YamlNode& value, const YamlNode& key, std::size_t n,
                               std::size_t below, std::uint32_t before_colon) {
    if (value.source()) {
        out_ += ' ';
        directive(value);
        out_ += inline_comment(value);
        out_ += '\n';
    } else if (is_block_collection(value)) {
        properties_after_indicator(value);
        out_ += inline_comment(value);
        out_ += '\n';
        blank_lines(value);
        // A collection of the source stays at its column (a sequence level
        // with its key, too); a new one is indented as the document does.
        const bool indentless = value.kind == NodeKind::Sequence && indentless_;
        const std::size_t least = value.kind == NodeKind::Sequence ? n : n + 1;
        const std::size_t inner = column_of(value, indentless ? n : n + step_, least);
        head(value, inner);
        block_children(value, inner);
    } else if (written_empty(value)) {
        empty_node(value);
    } else if (!value_on_next_line(value, key, n, below)) {
        padding(value, before_colon);
        properties_inline(value);
        node_inline(value, {ScalarPlace::Block, static_cast<int>(n)});
        finish_line(value);
    }
}

// The first of the key's head comments that the source has below it,
// between the key and its value ("k:\n  # c\n  1"); the number of head lines
// when there is none.
std::size_t Writer::first_head_below(const YamlNode& key) const {
    if (!key.comments.has_head()) return 0;
    const auto& lines = key.comments.text->head;
    if (!in_source(key)) return lines.size();
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const auto c = locate(lines[i]);
        if (c && c->hash > key.span.offset) return i;
    }
    return lines.size();
}

// A value written inline that may as well start on the line below its key.
bool Writer::may_go_below(const YamlNode& value) const {
    if (value.source()) return false;
    switch (value.kind) {
        case NodeKind::Scalar:
            return !is_block_style(value);
        case NodeKind::Alias:
            return true;
        case NodeKind::Sequence:
        case NodeKind::Mapping:
            return !is_block_collection(value);
        default:
            return false;
    }
}

void Writer::comments_below_key(const YamlNode& key, std::size_t from, std::size_t n) {
    if (!key.comments.has_head()) return;
    const auto& lines = key.comments.text->head;
    for (std::size_t i = from; i < lines.size(); ++i) {
        const auto c = locate(lines[i]);
        // The source's comment on the line of an explicit key ("? k # c")
        // stays on that line.
        if (c && !c->standalone && i == from && key.kind == NodeKind::Scalar &&
            !is_block_style(key) && out_.ends_with('\n')) {
            out_.pop_back();
            std::size_t blanks = c->hash;
            while (blanks > c->line_start &&
                   (source_->text()[blanks - 1] == ' ' || source_->text()[blanks - 1] == '\t'))
                --blanks;
            out_.append(std::max<std::size_t>(c->hash - blanks, 1), ' ');
            out_ += comment_source(*c);
            out_ += '\n';
            continue;
        }
        if (c) blank_lines(blank_lines_above(c->line_start));
        comment_line(lines[i], n, key.span.column, true);
    }
}

// A value stays below its key where the source put it there ("key:\n
// 'long text'", at its own column, copied when untouched), or where comment
// lines stand between them ("key:  # c\n  # about\n  value", the comment on
// the key's line kept on that line).
bool Writer::value_on_next_line(const YamlNode& value, const YamlNode& key, std::size_t n,
                                std::size_t below) {
    if (!may_go_below(value) || written_explicit(key)) return false;
    // An emptied block collection ("{}" now) stood where its first entry did.
    const bool emptied = value.is_collection() && value.style == CollectionStyle::Block;
    const bool placed_below = in_source(value) && !emptied &&
                              key.span.file_id == value.span.file_id &&
                              key.end_line < value.span.line && value.span.column > n;
    const bool commented = (key.comments.has_head() && below < key.comments.text->head.size()) ||
                           value.comments.has_head();
    const bool copy = placed_below && value.kind == NodeKind::Scalar && !has_properties(value) &&
                      source_of(value);
    if (!placed_below && !commented) return false;
    const std::size_t column = placed_below && !normalize_ ? value.span.column : n + step_;
    const auto comment =
        value.comments.has_inline() ? locate(*value.comments.text->inline_text) : std::nullopt;
    const bool comment_above = comment && placed_below && comment->hash < value.span.offset;
    if (comment_above) out_ += inline_comment(value);
    out_ += '\n';
    comments_below_key(key, below, column);
    head(value, column);
    if (placed_below && !value.comments.has_head())
        blank_lines(blank_lines_above(value.span.offset));
    spaces(column);
    if (!(copy && copied_scalar(value, {ScalarPlace::Block, static_cast<int>(n)}))) {
        properties_inline(value);
        node_inline(value, {ScalarPlace::Block, static_cast<int>(n)});
    }
    if (comment_above)
        out_ += '\n';
    else
        finish_line(value);
    return true;
}

void Writer::items(const YamlNode& seq, std::size_t n, bool first_on_line) {
    enter_level(seq, n);
    const Bounds bounds = entry_bounds(seq);
    for (std::size_t i = 0; i < seq.children.size() && !failed_; ++i) {
        const YamlNode& it = seq.children[i];
        const bool own_line = i > 0 || !first_on_line;
        if (own_line && copied_entry(bounds, i, it, nullptr)) continue;
        const auto dash = own_line && is_block_collection(it) && in_source(it)
                              ? source_->dash_above(it)
                              : std::nullopt;
        const bool prefix = own_line && copied_prefix(bounds, i, it);
        if (dash) {
            item_below_dash(it, n, *dash, prefix);
            continue;
        }
        if (own_line) {
            if (!prefix) {
                blank_lines(it);
                head(it, n);
            }
            spaces(n);
        }
        out_ += '-';
        deeper([&] { item(it, n); });
    }
}

// "-" alone on its line with the collection below: blank lines and head
// comments stay on their side of the dash.
void Writer::item_below_dash(const YamlNode& item, std::size_t n, std::size_t dash,
                             bool prefix_copied) {
    const auto& heads = item.comments.has_head() ? item.comments.text->head : kNoLines;
    auto comment = [&](std::size_t k, std::size_t indent) {
        if (const auto c = locate(heads[k])) blank_lines(blank_lines_above(c->line_start));
        comment_line(heads[k], indent, item.span.column);
    };
    std::size_t k = 0;
    for (; k < heads.size(); ++k) {
        const auto c = locate(heads[k]);
        if (!c || c->line_start > dash) break;
        if (!prefix_copied) comment(k, n);
    }
    if (!prefix_copied) blank_lines(blank_lines_above(dash));
    spaces(n);
    out_ += '-';
    properties_after_indicator(item);
    out_ += '\n';
    const std::size_t inner = column_of(item, n + 2, n + 1);
    for (; k < heads.size(); ++k) comment(k, inner);
    blank_lines(blank_lines_above(item.span.offset));
    deeper([&] { block_children(item, inner); });
}

void Writer::item(const YamlNode& node, std::size_t n) {
    if (node.source()) {
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
            // The first entry stands on the dash's line at the column of the rest.
            const std::size_t inner = std::max(column_of(node, n + 2), n + 2);
            spaces(inner - n - 1);
            block_children(node, inner, true);
        } else {
            properties_after_indicator(node);
            out_ += '\n';
            block_children(node, column_of(node, n + 2, n + 1));
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
    if (node.source() && &node != content_of_) {
        directive(node);
        return;
    }
    switch (node.kind) {
        case NodeKind::Sequence:
            if (!copied_flow(node, at) && !spliced_flow(node, at))
                deeper([&] { flow_sequence(node); });
            return;
        case NodeKind::Mapping:
            if (!copied_flow(node, at) && !spliced_flow(node, at))
                deeper([&] { flow_mapping(node); });
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
        if (key.kind == NodeKind::Alias && !key.source()) out_ += ' ';
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
            empty_value_ = EmptyValue{out_.size(), node.tag().has_value()};
        }
        return;
    }
    // Normalised, an empty node of the source stays empty (": v", "? ").
    if (normalize_ && !node.synthetic && at.place != ScalarPlace::Flow) {
        if (at.place == ScalarPlace::Block && out_.ends_with(' ')) out_.pop_back();
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

}  // namespace quarvel::roundtrip::emit
