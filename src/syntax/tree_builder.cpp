#include "syntax/tree_builder.hpp"

#include <cstdint>

#include "support/utf8.hpp"

namespace quarvel {
namespace {

bool is_boundary(std::string_view text, std::uint64_t i) {
    return i >= text.size() || (static_cast<unsigned char>(text[i]) & 0xC0) != 0x80;
}

// A block scalar's scan ends after the next line's indentation; the spaces
// after its last line break belong to whatever follows, not to the scalar.
// At the end of the text nothing follows: they are the scalar's last line.
std::uint64_t without_next_indent(std::string_view text, std::uint64_t begin, std::uint64_t end) {
    if (end >= text.size()) return end;
    std::uint64_t i = end;
    while (i > begin && text[i - 1] == ' ') --i;
    if (i > begin && (text[i - 1] == '\n' || text[i - 1] == '\r')) return i;
    return end;
}

}  // namespace

void TreeBuilder::set_end(YamlNode& node, std::uint64_t end, std::uint32_t counted_column) {
    node.end_offset = end;
    const std::uint64_t begin = node.span.offset;
    if (end <= begin) {
        node.end_line = node.span.line;
        node.end_column = node.span.column;
        return;
    }
    // The scanner counted the characters of a scalar's only line already.
    if (counted_column != 0) {
        node.end_line = node.span.line;
        node.end_column = counted_column;
        return;
    }
    // Most nodes end on the line they start on: no search needed.
    if (const auto chars = utf8::count_chars_on_one_line(text_, begin, end)) {
        node.end_line = node.span.line;
        node.end_column = node.span.column + static_cast<std::uint32_t>(*chars);
        return;
    }
    node.end_line = lines_.line_of(end);
    node.end_column = lines_.column_of(node.end_line, end);
}

bool TreeBuilder::scalar(const Token& t, const Props& props, YamlNode& out) {
    start(out, NodeKind::Scalar, t.mark, props);
    out.scalar_style = t.style;
    out.text = t.text;
    const bool block = t.style == ScalarStyle::Literal || t.style == ScalarStyle::Folded;
    const std::uint64_t begin = t.mark.offset;
    const std::uint64_t end =
        block ? without_next_indent(text_, begin, t.end_offset) : t.end_offset;
    set_end(out, end, t.end_column);
    if (block && end > begin && end <= text_.size() && is_boundary(text_, begin) &&
        is_boundary(text_, end))
        out.comments.text_fields().raw = text_.substr(begin, end - begin);
    return true;
}

// "-   x" keeps its spacing; "- - x" is a compact nested sequence.
void TreeBuilder::same_line_item(YamlNode& item, const Mark& dash) {
    const bool flow = item.is_collection() && item.style == CollectionStyle::Flow;
    if ((item.kind == NodeKind::Scalar || item.kind == NodeKind::Alias || flow) && !item.anchor() &&
        !item.tag()) {
        if (item.span.column > dash.column)
            item.comments.value_pad = item.span.column - dash.column - 1;
    } else if (item.kind == NodeKind::Sequence && item.style == CollectionStyle::Block) {
        item.comments.compact = true;
    }
}

// "[a: b]": a one-entry flow mapping that starts where its key starts and
// ends where its key or its value ends, whichever is later.
bool TreeBuilder::pair_item(Sequence&, YamlNode&& key, const Mark&, YamlNode&& value) {
    YamlNode pair;
    pair.kind = NodeKind::Mapping;
    pair.style = CollectionStyle::Flow;
    pair.flow_pair = true;
    pair.span = key.span;
    pair.end_offset = key.span.offset;
    pair.end_line = key.span.line;
    pair.end_column = key.span.column;
    for (const YamlNode* part : {&key, &value}) {
        if (part->end_offset <= pair.end_offset) continue;
        pair.end_offset = part->end_offset;
        pair.end_line = part->end_line;
        pair.end_column = part->end_column;
    }
    pair.children.reserve(2);
    pair.children.push_back(std::move(key));
    pair.children.push_back(std::move(value));
    scratch_.push_back(std::move(pair));
    return true;
}

void TreeBuilder::collect(const Sequence& seq, NodeKind kind, const Props& props, YamlNode& out) {
    start(out, kind, seq.start, props);
    out.style = seq.style;
    const std::size_t n = scratch_.size() - seq.base;
    if (n == 0) return;
    if (seq.base == 0 && n >= 4096 && n >= scratch_.capacity() / 2) {
        // A large top level that fills at least half the stack takes the
        // stack as it is, sparing a second copy of all its nodes at the peak.
        // Small ones are copied, so the warm stack serves the next document.
        out.children = std::move(scratch_);
        scratch_.clear();
    } else {
        out.children.reserve(n);
        for (std::size_t i = seq.base; i < scratch_.size(); ++i)
            out.children.push_back(std::move(scratch_[i]));
        scratch_.erase(scratch_.begin() + static_cast<std::ptrdiff_t>(seq.base), scratch_.end());
    }
    const YamlNode* last = nullptr;  // the child that ends last
    for (const YamlNode& c : out.children)
        if (last == nullptr || c.end_offset > last->end_offset) last = &c;
    if (last->end_offset > out.end_offset) {
        out.end_offset = last->end_offset;
        out.end_line = last->end_line;
        out.end_column = last->end_column;
    }
}

bool TreeBuilder::end_document(YamlNode&& root, bool has_root, bool explicit_start) {
    if (!has_root && !keep_empty_) return true;
    root.explicit_start = explicit_start;
    roots_.push_back(std::move(root));
    return true;
}

}  // namespace quarvel
