// Comment attachment: gives each comment of a text to one node of its trees.
//
// One walk over the nodes in source order (a mapping's key before its value),
// with a cursor into the comment list and the last source line the walk has
// consumed. At each node:
//
//   blank lines   between the last consumed line and the node (or its first
//                 head comment) become blank_before;
//   head          comments on lines above the node's start line are its head:
//                     # about a            head of the key a (of the root
//                     a: 1                 mapping when a is its first key)
//                     k:
//                       # about b          head of the key b: a collection
//                       b: 1               below its key leaves them to its
//                                          first entry
//   children      are visited, then the consumed line moves to the node's end
//                 line (the exact end, so a quoted scalar spanning lines or
//                 holding escaped line breaks moves it to where it really ends);
//   inline        a comment after the node's end with only blanks between (in
//                 a flow collection also a ',') is its inline comment, the
//                 blanks counted into inline_spaces:
//                     a: 1   # note       value 1, inline "note", 3 spaces
//                     k: [a, b]  # c      the flow sequence, not a or b
//                     [a, # c             the item a
//                      b]
//   leftovers     go to the foot of the last root.
//
// Some nodes would hold a comment where nothing ever writes it back, or sit
// at a position that is not their own; for them:
//   - Keys never take inline comments.
//   - A comment on a key's line after the ':' whose value starts later (or is
//     empty) is the value's inline comment:  "k: # c\n  x: 1"  or  "k: # c".
//   - A value that is not a block collection has no head of its own: comments
//     between its key and it join the key's head ("k:\n  # c\n  1").
//   - A node without content (an empty value or item) sits at the token that
//     ended it, often lines further down; it takes no blank lines and no head,
//     so those stay with the node that really follows.
//   - Block collections and block scalars take no inline comment: their end
//     is their last child's, or the start of the line after the scalar.
#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "support/stack.hpp"
#include "support/utf8.hpp"
#include "syntax/compose.hpp"

namespace quarvel {
namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}
bool is_break(char c) {
    return c == '\n' || c == '\r';
}

// Where a node's source really ends: an offset and the line holding it.
struct End {
    std::uint64_t offset = 0;
    std::uint32_t line = 0;
    bool known = false;
};

End later(End a, End b) {
    if (!b.known) return a;
    if (!a.known || b.offset > a.offset) return b;
    return a;
}

enum class Role : std::uint8_t { Root, Key, Value, Item };

bool is_block_collection(const YamlNode& n) {
    return n.is_collection() && n.style == CollectionStyle::Block;
}

bool is_block_scalar(const YamlNode& n) {
    return n.kind == NodeKind::Scalar &&
           (n.scalar_style == ScalarStyle::Literal || n.scalar_style == ScalarStyle::Folded);
}

class Attacher {
  public:
    Attacher(std::span<const Comment> comments, std::string_view text, const LineStarts& lines)
        : comments_(comments), text_(text), lines_(lines) {
        find_blank_lines();
    }

    // Visits the roots; false when the stack ran out (the walk stopped).
    bool run(NodeList& roots) {
        for (YamlNode& root : roots) {
            End end;
            if (!visit(root, Role::Root, false, end)) return false;
        }
        if (!roots.empty())
            for (; next_ < comments_.size(); ++next_)
                roots.back().comments.text_fields().foot.push_back(comments_[next_].text);
        return true;
    }

  private:
    const Comment* peek() const { return next_ < comments_.size() ? &comments_[next_] : nullptr; }

    void consume(std::uint32_t line) {
        if (!last_ || line > *last_) last_ = line;
    }

    // Lines holding nothing but blanks, in order.
    void find_blank_lines() {
        const std::size_t count = lines_.count();
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t from = lines_.start(static_cast<std::uint32_t>(i));
            const std::uint64_t to = i + 1 < count ? lines_.start(static_cast<std::uint32_t>(i + 1))
                                                   : static_cast<std::uint64_t>(text_.size());
            bool blank = true;
            for (std::uint64_t j = from; j < to && blank; ++j)
                blank = is_blank(text_[j]) || is_break(text_[j]);
            if (blank) blank_lines_.push_back(static_cast<std::uint32_t>(i));
        }
    }

    // Blank lines strictly between lines `after` and `before`.
    std::uint32_t blanks_between(std::uint32_t after, std::uint32_t before) const {
        if (before <= after + 1) return 0;
        auto lo = std::upper_bound(blank_lines_.begin(), blank_lines_.end(), after);
        auto hi = std::lower_bound(lo, blank_lines_.end(), before);
        return static_cast<std::uint32_t>(hi - lo);
    }

    // Columns of blanks right before the '#' at `offset`.
    std::uint32_t spaces_before(std::uint64_t offset) const {
        std::uint32_t n = 0;
        while (offset > 0 && is_blank(text_[offset - 1])) {
            --offset;
            ++n;
        }
        return n;
    }

    // Whether [from, to) holds only blanks, and commas when `flow`.
    bool only_gap(std::uint64_t from, std::uint64_t to, bool flow) const {
        for (std::uint64_t i = from; i < to; ++i)
            if (!is_blank(text_[i]) && !(flow && text_[i] == ',')) return false;
        return true;
    }

    // A comment on the key's line after its ':' and before the value's
    // content: "k: # c" with the value below or empty.
    bool after_indicator(const Comment& c, End key, const YamlNode& value) const {
        if (!key.known || c.line != key.line || c.offset < key.offset) return false;
        if (value.kind != NodeKind::Null && value.span.offset <= c.offset) return false;
        std::uint64_t i = key.offset;
        while (i < c.offset && is_blank(text_[i])) ++i;
        return i < c.offset && text_[i] == ':';
    }

    void take_inline(YamlNode& node, const Comment& c) {
        CommentText& t = node.comments.text_fields();
        t.inline_text = c.text;
        t.inline_spaces = spaces_before(c.offset);
        consume(c.line);
        ++next_;
    }

    // Just past the bracket closing the flow collection whose content ends
    // at `from`: only blanks, line breaks, separators, indicators, comments
    // and the properties of empty nodes can come between.
    std::optional<std::uint64_t> closing_bracket(std::uint64_t from) const {
        std::uint64_t i = from;
        while (i < text_.size()) {
            const char c = text_[i];
            if (c == ']' || c == '}') return i + 1;
            if (is_blank(c) || is_break(c) || c == ',' || c == ':' || c == '?') {
                ++i;
            } else if (c == '#') {
                while (i < text_.size() && !is_break(text_[i])) ++i;
            } else if (c == '!' && i + 1 < text_.size() && text_[i + 1] == '<') {
                while (i < text_.size() && text_[i] != '>') ++i;
                if (i < text_.size()) ++i;
            } else if (c == '!' || c == '&') {
                while (i < text_.size() && !is_blank(text_[i]) && !is_break(text_[i]) &&
                       text_[i] != ',' && text_[i] != '[' && text_[i] != ']' && text_[i] != '{' &&
                       text_[i] != '}')
                    ++i;
            } else {
                return std::nullopt;
            }
        }
        return std::nullopt;
    }

    End line_end(std::uint64_t offset) const { return End{offset, lines_.line_of(offset), true}; }

    // The line of a node's first property in this text (`otherwise` when it
    // has none here).
    std::uint32_t properties_line(const YamlNode& node, std::uint32_t otherwise) const {
        const char* first = nullptr;
        if (node.anchor()) first = node.anchor()->data() - 1;  // the '&'
        if (node.tag() && (!first || node.tag()->data() < first)) first = node.tag()->data();
        if (!first || first < text_.data() || first >= text_.data() + text_.size())
            return otherwise;
        return std::min(otherwise,
                        lines_.line_of(static_cast<std::uint64_t>(first - text_.data())));
    }

    // Recurses into a collection; false when no stack was left.
    bool descend(YamlNode& node, Role role, bool flow, End& end) {
        return ensure_stack([&] { return visit(node, role, flow, end); });
    }

    bool visit(YamlNode& node, Role role, bool in_flow, End& end) {
        if (node.kind == NodeKind::Null && role != Role::Root) return true;
        const std::uint32_t line = node.span.line;
        // A root without content sits at the token after it; comment lines
        // below its properties are not above it (one on their line is).
        const std::uint32_t head_below =
            node.kind == NodeKind::Null ? std::min(line, properties_line(node, line) + 1) : line;
        std::uint32_t head_line = line;
        if (const Comment* c = peek(); c && c->line < head_line) head_line = c->line;
        node.comments.blank_before = last_ ? blanks_between(*last_, head_line) : 0;
        while (const Comment* c = peek()) {
            if (gives_head_to_first_child(node, role)) break;
            if (c->line >= head_below) break;
            node.comments.text_fields().head.push_back(c->text);
            consume(c->line);
            ++next_;
        }
        consume(line);

        switch (node.kind) {
            case NodeKind::Scalar:
                end = End{node.end_offset, node.end_line, true};
                break;
            case NodeKind::Alias: {
                std::uint64_t stop = node.span.offset + 1 + node.text.size();
                if (stop > text_.size()) stop = text_.size();
                end = End{stop, line, true};
                break;
            }
            case NodeKind::Null:
                end = End{node.span.offset, line, true};
                break;
            case NodeKind::Sequence:
            case NodeKind::Mapping:
                if (!children(node, end)) return false;
                break;
        }
        if (end.known) consume(end.line);

        const Comment* c = peek();
        if (c && role != Role::Key && !node.comments.has_inline() && !is_block_collection(node) &&
            !is_block_scalar(node) && end.known && c->line == end.line && c->offset >= end.offset &&
            only_gap(end.offset, c->offset, in_flow))
            take_inline(node, *c);
        return true;
    }

    // A block collection below its key starts with its first entry, whose
    // comment lines are the ones above it ("k:\n  # c\n  a: 1" is about a);
    // an entry without content cannot hold them.
    static bool gives_head_to_first_child(const YamlNode& node, Role role) {
        if (role != Role::Value || !is_block_collection(node) || node.children.empty())
            return false;
        return node.children.front().kind != NodeKind::Null;
    }

    bool children(YamlNode& node, End& end) {
        const bool flow = node.style == CollectionStyle::Flow;
        End last;
        if (node.kind == NodeKind::Sequence) {
            for (YamlNode& item : node.children) {
                End e;
                if (!descend(item, Role::Item, flow, e)) return false;
                last = later(last, e);
            }
        } else {
            for (std::size_t i = 0; i < node.size(); ++i) {
                YamlNode& key = node.key(i);
                YamlNode& value = node.value(i);
                End ke;
                if (!descend(key, Role::Key, flow, ke)) return false;
                last = later(last, ke);
                entry_layout(key, ke, value);
                End ve;
                if (!descend(value, Role::Value, flow, ve)) return false;
                last = later(last, ve);
            }
        }
        if (flow && !is_flow_pair(node)) {
            const std::uint64_t from = last.known ? last.offset : node.span.offset + 1;
            if (auto close = closing_bracket(from)) last = line_end(*close);
        }
        end = last.known ? last : End{node.span.offset, node.span.line, true};
        return true;
    }

    // What belongs to a value before it is visited: its spacing after ':',
    // a comment after the ':' on the key's line, and comment lines between
    // the key and a value that cannot hold a head of its own.
    void entry_layout(YamlNode& key, End key_end, YamlNode& value) {
        if (key.kind == NodeKind::Scalar && key.scalar_style == ScalarStyle::Plain &&
            value.kind != NodeKind::Null && !value.anchor() && !value.tag()) {
            const auto [key_line, key_column] = approximate_end(key);
            if (value.span.line == key_line && key_column < value.span.column)
                value.comments.value_pad = value.span.column - key_column - 1;
        }
        if (const Comment* c = peek(); c && after_indicator(*c, key_end, value))
            take_inline(value, *c);
        // An explicit key without a value ("? k # c" and no ':' line) keeps
        // the comment on its line, which would otherwise fall to the next
        // entry's head while that entry's source lines begin below it. A
        // block scalar key ends at the start of the line after it: a comment
        // there stands on a line of its own ("? |\n# c"), and is left to the
        // next entry, whose source lines hold it.
        if (value.kind == NodeKind::Null) {
            const Comment* c = peek();
            if (c && key_end.known && c->line == key_end.line && c->offset >= key_end.offset &&
                !is_block_scalar(key)) {
                key.comments.text_fields().head.push_back(c->text);
                consume(c->line);
                ++next_;
            }
            return;
        }
        if (is_block_collection(value)) return;
        while (const Comment* c = peek()) {
            if (c->line >= value.span.line) break;
            key.comments.text_fields().head.push_back(c->text);
            consume(c->line);
            ++next_;
        }
    }

    std::span<const Comment> comments_;
    std::string_view text_;
    const LineStarts& lines_;
    std::vector<std::uint32_t> blank_lines_;
    std::size_t next_ = 0;
    std::optional<std::uint32_t> last_;  // the last source line the walk consumed
};

std::uint32_t count_chars(std::string_view s) {
    return static_cast<std::uint32_t>(utf8::count_chars(s));
}

std::pair<std::uint32_t, std::uint32_t> leaf_end(const YamlNode& n) {
    if (n.kind != NodeKind::Scalar) return {n.span.line, n.span.column};
    const std::size_t last_break = n.text.rfind('\n');
    if (last_break == std::string_view::npos)
        return {n.span.line, n.span.column + count_chars(n.text)};
    const auto breaks = static_cast<std::uint32_t>(std::count(n.text.begin(), n.text.end(), '\n'));
    return {n.span.line + breaks, count_chars(n.text.substr(last_break + 1))};
}

}  // namespace

void attach_comments(NodeList& roots, std::span<const Comment> comments, std::string_view text,
                     const LineStarts& lines) {
    // Without roots there is no node to hold the comments; the document's
    // source text still has them.
    if (roots.empty()) return;
    Attacher(comments, text, lines).run(roots);
}

// A collection ends where the latest of its descendants ends (or at its own
// start when it has none); the walk keeps its own stack, so depth costs no
// call stack.
std::pair<std::uint32_t, std::uint32_t> approximate_end(const YamlNode& node) {
    if (!node.is_collection() || node.children.empty()) return leaf_end(node);
    std::pair<std::uint32_t, std::uint32_t> best{0, 0};
    std::vector<const YamlNode*> todo{&node};
    while (!todo.empty()) {
        const YamlNode* n = todo.back();
        todo.pop_back();
        if (n->is_collection() && !n->children.empty()) {
            for (const YamlNode& c : n->children) todo.push_back(&c);
        } else {
            best = std::max(best, leaf_end(*n));
        }
    }
    return best;
}

}  // namespace quarvel
