#include "roundtrip/emitter.hpp"

#include <algorithm>

#include "roundtrip/emit_writer.hpp"
#include "support/stack.hpp"
#include "syntax/included_root.hpp"

namespace quarvel::roundtrip {
namespace {

using namespace emit;

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
    w.keep_columns(node.span.column == 0);
    w.document(node, true, false, false);
    if (w.failed()) return fail(stack_exhausted_error());
    return {};
}

Result<std::string> emit_stream(std::span<const YamlNode> roots,
                                std::optional<std::string_view> source,
                                const EmitOptions& options) {
    std::string out;
    if (source && !any_modified(roots) && !options.normalize_layout) {
        out.assign(options.text_as_read.value_or(*source));
    } else {
        out.reserve(256);
        std::optional<SourceText> text;
        if (source) text = SourceText{*source, 0};
        Writer w(options, out, text);
        // Each document owns the lines from the previous one's end to its own.
        std::optional<std::size_t> from;
        if (source) from = roots.empty() || !roots[0].leading_bom ? 0 : kBom.size();
        if (options.normalize_layout && roots.empty()) w.tidied_stream();
        for (std::size_t i = 0; i < roots.size(); ++i) {
            if (i == 0 && roots[0].leading_bom) out += kBom;
            const Lines lines = w.lines_of(roots[i], from, i + 1 == roots.size());
            if (!w.copied_document(roots[i], lines))
                w.document(roots[i], true, i > 0, i > 0, lines);
            if (w.failed()) return fail(stack_exhausted_error());
            from = lines.to;
        }
        w.finish_text();
        if (w.refused()) {
            Error e;
            e.message = "the layout cannot be normalised";
            return fail(std::move(e));
        }
    }
    if (options.declare_1_2) declare_yaml_1_2(out);
    // Every line feed of the output breaks a line (the writers escape the
    // ones inside quoted scalars).
    if (options.text_as_read && !options.text_as_read->contains('\n'))
        std::ranges::replace(out, '\n', '\r');
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
    props.set_tag(boundary.tag());
    props.set_expanded_tag(boundary.expanded_tag());
    restore_own_root(props, root);
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
    if (node.source() && node.source()->own_root) {
        own_root = own_root_properties(node, *node.source()->own_root);
        w.stand_in(node, own_root);
    }
    w.document(node, false, false, false,
               w.lines_of(node, node.leading_bom ? kBom.size() : 0, true));
    if (w.failed()) return fail(stack_exhausted_error());
    w.finish_text();
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
