#include "roundtrip/format.hpp"

#include <algorithm>
#include <vector>

#include "roundtrip/emit_writer.hpp"
#include "roundtrip/verify.hpp"
#include "scanner/token_stream.hpp"
#include "support/stack.hpp"
#include "syntax/compose.hpp"

namespace quarvel::roundtrip {
namespace {

// The same node as far as any reading of it goes, and in the same style.
bool same_node(const YamlNode& a, const YamlNode& b) {
    if (a.kind != b.kind || a.anchor() != b.anchor() || a.tag() != b.tag() ||
        a.children.size() != b.children.size())
        return false;
    if ((a.kind == NodeKind::Scalar || a.kind == NodeKind::Alias) && a.text != b.text) return false;
    if (a.kind == NodeKind::Scalar && a.scalar_style != b.scalar_style) return false;
    if (a.is_collection() && (a.style != b.style || a.flow_pair != b.flow_pair)) return false;
    for (std::size_t i = 0; i < a.children.size(); ++i) {
        const std::optional<bool> same = ensure_stack(
            [&] { return std::optional<bool>(same_node(a.children[i], b.children[i])); });
        if (!same || !*same) return false;
    }
    return true;
}

bool same_forest(const SyntaxForest& a, const SyntaxForest& b) {
    return a.roots.size() == b.roots.size() &&
           std::equal(a.roots.begin(), a.roots.end(), b.roots.begin(), same_node);
}

// The text of every comment, in order.
std::vector<std::string_view> comment_texts(std::string_view text) {
    TokenStream tokens(text, 0, true);
    tokens.drain();
    std::vector<Comment> comments;
    tokens.take_comments(comments);
    std::vector<std::string_view> texts;
    texts.reserve(comments.size());
    for (const Comment& c : comments) texts.push_back(c.text);
    return texts;
}

std::optional<std::string> normalised(const SyntaxForest& forest, std::string_view text) {
    EmitOptions options;
    options.normalize_layout = true;
    auto out = emit_stream(forest.roots, text, options);
    if (!out) return {};
    return std::move(*out);
}

}  // namespace

bool same_content(std::string_view a, std::string_view b) {
    const auto fa = compose_text(a, 0, false);
    const auto fb = compose_text(b, 0, false);
    return fa && fb && same_forest(*fa, *fb) && comment_texts(a) == comment_texts(b);
}

std::optional<std::string> format_text(std::string_view text) {
    // Lines broken by a carriage return alone have no columns to go by.
    if (emit::has_lone_carriage_return(text)) return {};
    const auto before = compose_text(text, 0, false);
    if (!before) return {};
    const auto comments = comment_texts(text);
    // A result is kept when it reads as the text does; a second pass that
    // still changes it gets one more chance to settle.
    std::optional<std::string> out = normalised(*before, text);
    for (int pass = 0; pass < 2 && out; ++pass) {
        const auto after = compose_text(*out, 0, false);
        if (!after || !same_forest(*before, *after) || comment_texts(*out) != comments ||
            !same_values(text, *out))
            return {};
        std::optional<std::string> again = normalised(*after, *out);
        if (again == out) return out;
        out = std::move(again);
    }
    return {};
}

Result<std::string> format_stream(std::span<const YamlNode> roots,
                                  std::optional<std::string_view> source,
                                  const EmitOptions& options) {
    // The stream as it would be written, with line feeds for lone carriage
    // returns; those come back when they were its only line breaks.
    EmitOptions plain = options;
    plain.text_as_read.reset();
    plain.normalize_layout = false;
    auto text = emit_stream(roots, source, plain);
    if (!text) return text;
    std::optional<std::string> formatted = format_text(*text);
    if (!formatted) {
        plain.text_as_read = options.text_as_read;
        return emit_stream(roots, source, plain);
    }
    if (options.text_as_read && !options.text_as_read->contains('\n'))
        std::ranges::replace(*formatted, '\n', '\r');
    return std::move(*formatted);
}

}  // namespace quarvel::roundtrip
