#include "roundtrip/value_tag.hpp"

#include <string>

#include "parser/directives.hpp"
#include "resolver/syntax.hpp"
#include "support/core_tag.hpp"

namespace quarvel {
namespace {

using resolver_detail::core_tag_name;

bool is_scalar(const YamlNode& n) {
    return n.kind == NodeKind::Scalar || n.kind == NodeKind::Null;
}

bool plain(const YamlNode& n) {
    return n.kind == NodeKind::Null || n.scalar_style == ScalarStyle::Plain;
}

// The standard tags the resolver reads a scalar by.
bool is_scalar_tag(std::string_view name) {
    return name == "str" || name == "int" || name == "float" || name == "bool" || name == "null";
}

// Whether the standard tag named `name` reads `fresh` as it reads untagged.
bool standard_tag_fits(std::string_view tag, const YamlNode& fresh, ResolverMode mode) {
    const std::string_view name = core_tag_name(tag);
    switch (fresh.kind) {
        case NodeKind::Mapping:
            return name == "map";
        case NodeKind::Sequence:
            return name == "seq";
        case NodeKind::Alias:
            return false;
        default:
            break;
    }
    if (!is_scalar_tag(name)) return false;
    return same_reading(resolve(mode, fresh.text, plain(fresh), tag),
                        resolve(mode, fresh.text, plain(fresh)));
}

bool tag_fits(const YamlNode& old, std::string_view tag, const YamlNode& fresh, ResolverMode mode) {
    if (is_standard_tag(tag)) return standard_tag_fits(tag, fresh, mode);
    if (fresh.kind == NodeKind::Scalar && is_scalar(old)) {
        // "!" reads a scalar as a string; an application tag reads its text.
        return tag != "!" || resolve(mode, fresh.text, plain(fresh)).kind == ResolvedKind::Str;
    }
    return fresh.is_collection() && fresh.kind == old.kind;
}

const char* kind_name(const YamlNode& n) {
    switch (n.kind) {
        case NodeKind::Mapping:
            return "a mapping";
        case NodeKind::Sequence:
            return "a sequence";
        default:
            return "null";
    }
}

EditStatus misplaced(const YamlNode& node) {
    return edit_fault(EditFaultKind::Value, "the tag " + std::string(node.tag().value_or("")) +
                                                " cannot be written on " + kind_name(node));
}

}  // namespace

void carry_tag(const YamlNode& old, YamlNode& fresh, ResolverMode mode) {
    if (fresh.tag() || !old.tag() || old.source()) return;
    if (!tag_fits(old, old.effective_tag(), fresh, mode)) return;
    fresh.set_tag(old.tag());
    fresh.set_expanded_tag(old.expanded_tag());
}

EditStatus check_primary_handle(std::string_view source, std::string_view tag) {
    if (!tag.starts_with('!') || tag.starts_with("!!") || tag.starts_with("!<")) return {};
    if (tag.find('!', 1) != std::string_view::npos) return {};  // a named handle
    for (std::size_t line = 0; line < source.size();) {
        const std::size_t next = source.find('\n', line);
        std::string_view text = source.substr(line, next - line);
        // A document may open with a byte order mark before its directives.
        if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
        if (text.starts_with('%') && tag_directive_handle(text.substr(1)) == "!")
            return edit_fault(EditFaultKind::Value,
                              "cannot write the tag " + std::string(tag) +
                                  ": a %TAG line of this text redefines the handle !");
        if (next == std::string_view::npos) break;
        line = next + 1;
    }
    return {};
}

EditStatus check_explicit_tag(const YamlNode& node, ResolverMode mode) {
    const std::string_view tag = node.effective_tag();
    if (tag.empty() || !is_standard_tag(tag)) return {};
    const std::string_view name = core_tag_name(tag);
    if (node.is_collection()) {
        const bool other_kind =
            is_scalar_tag(name) || name == (node.kind == NodeKind::Mapping ? "seq" : "map");
        return other_kind ? misplaced(node) : EditStatus{};
    }
    // None is written as the document spells new nulls, which only !!null
    // reads as null whatever the spelling.
    if (node.kind == NodeKind::Null) return name == "null" ? EditStatus{} : misplaced(node);
    if (name == "map" || name == "seq" ||
        resolve(mode, node.text, plain(node), tag).kind == ResolvedKind::Invalid)
        return edit_fault(EditFaultKind::Value, invalid_scalar_message(node.text, tag));
    return {};
}

}  // namespace quarvel
