#include "roundtrip/edits.hpp"

#include "encode/emitter.hpp"
#include "roundtrip/alias_refs.hpp"
#include "roundtrip/edit_text.hpp"
#include "roundtrip/source_layout.hpp"
#include "roundtrip/value_tag.hpp"
#include "syntax/anchors.hpp"

namespace quarvel {
namespace {

EditStatus stale_node() {
    return edit_fault(EditFaultKind::Key, "stale node");
}

// Where a new alias of `name` at the cursor's node would stand, found in one
// walk: the definition it would refer to is the nearest one before it.
struct Placement {
    const YamlNode* anchor = nullptr;  // that definition, else the first one after it
    bool cursor_first = false;         // no definition comes before the cursor's node
    bool cursor_inside = false;        // the definition is the cursor's node or around it
};

class PlacementWalk {
  public:
    PlacementWalk(std::string_view name, const YamlNode* cursor) : name_(name), cursor_(cursor) {}

    Placement run(const YamlNode& root) {
        visit(root);
        return placement_;
    }

  private:
    // Returns false once the cursor and a definition are placed.
    bool visit(const YamlNode& n) {
        if (n.anchor() == name_) {
            if (cursor_seen_) {
                if (!placement_.anchor) placement_.anchor = &n;
                return false;
            }
            placement_.anchor = &n;
            anchor_open_ = true;
        }
        if (&n == cursor_) {
            placement_.cursor_first = placement_.anchor == nullptr;
            placement_.cursor_inside = anchor_open_;
            cursor_seen_ = true;
            if (placement_.anchor) return false;
        }
        for (const YamlNode& c : n.children)
            if (!ensure_stack([&] { return visit(c); })) return false;
        if (&n == placement_.anchor) anchor_open_ = false;
        return true;
    }

    std::string_view name_;
    const YamlNode* cursor_;
    bool cursor_seen_ = false;
    bool anchor_open_ = false;  // the walk is inside placement_.anchor
    Placement placement_;
};

}  // namespace

// Where the source text of `node` started (its properties included) and
// ended: a node put in its place, or one whose properties an edit changed,
// still knows the lines around it.
struct ReplacedText {
    std::uint64_t start;
    std::uint64_t end;
    void note_on(Comments& comments) const {
        CommentText& t = comments.text_fields();
        t.source_start = start;
        t.replaced_end = end;
    }
};

std::optional<ReplacedText> source_text_of(const DocumentState& doc, const YamlNode& node) {
    const std::uint32_t id = node.span.file_id;
    std::optional<roundtrip::SourceText> text;
    if (id == 0)
        text = roundtrip::SourceText{doc.source, 0};
    else if (id < doc.files.files.size() && doc.files.files[id].text)
        text = roundtrip::SourceText{*doc.files.files[id].text, id};
    if (!text) return {};
    const roundtrip::SourceLayout layout(*text);
    if (!layout.holds(node)) return {};
    const auto end = layout.end_as_read(node);
    if (!end) return {};
    return ReplacedText{layout.start_with_properties(node), *end};
}

void replace_node(const DocumentState& doc, YamlNode& target, YamlNode fresh, NodePlace place) {
    carry_tag(target, fresh, doc.mode);
    const auto replaced = source_text_of(doc, target);
    if (place == NodePlace::OfTarget) fresh.span = target.span;
    fresh.comments = std::move(target.comments);
    if (replaced) replaced->note_on(fresh.comments);
    fresh.set_anchor(target.anchor());
    fresh.explicit_start = target.explicit_start;
    fresh.leading_bom = target.leading_bom;
    // A collection put in place of a flow one keeps to the flow style there,
    // as its neighbours are written.
    if (target.is_collection() && target.style == CollectionStyle::Flow && fresh.is_collection())
        fresh.style = CollectionStyle::Flow;
    fresh.comments.modified = true;
    target = std::move(fresh);
}

ScalarStyle style_for_new_text(std::string_view text, const DocumentSettings& settings) {
    if (!needs_quotes(text)) return ScalarStyle::Plain;
    if (settings.prefer_double_quotes) return ScalarStyle::DoubleQuoted;
    if (text.find_first_of("'\n\r") != std::string_view::npos) return ScalarStyle::DoubleQuoted;
    return ScalarStyle::SingleQuoted;
}

EditStatus check_assignment(const YamlNode& container, const PathStep& step) {
    if (container.kind == NodeKind::Sequence) {
        if (!step.is_index || step.index >= container.children.size())
            return edit_fault(EditFaultKind::Index, "index out of range");
        return {};
    }
    if (container.kind != NodeKind::Mapping)
        return edit_fault(EditFaultKind::Type, "node is not a mapping or sequence");
    if (step.is_index) return edit_fault(EditFaultKind::Type, "mapping keys must be str");
    return {};
}

EditStatus assign_item(DocumentState& doc, YamlNode& container, const PathStep& step,
                       YamlNode fresh) {
    if (auto checked = check_assignment(container, step); !checked) return checked;
    if (container.kind == NodeKind::Sequence) {
        replace_node(doc, container.children[step.index], std::move(fresh));
        return {};
    }
    if (auto entry = find_entry(container, step.key, doc.mode)) {
        replace_node(doc, container.value(*entry), std::move(fresh));
        return {};
    }
    YamlNode key;
    key.kind = NodeKind::Scalar;
    key.text = doc.arena().store(step.key);
    key.scalar_style = style_for_new_text(step.key, doc.settings);
    key.comments.modified = true;
    fresh.comments.modified = true;
    container.children.reserve(container.children.size() + 2);
    container.children.push_back(std::move(key));
    container.children.push_back(std::move(fresh));
    container.comments.modified = true;
    return {};
}

EditStatus check_new_anchor(DocumentState& doc, const NodePath& path, std::string_view name) {
    auto& roots = doc.roots();
    if (auto checked = check_anchor_name(name); !checked) return checked;
    YamlNode* self = resolve_path(roots, path, doc.mode);
    const std::size_t root = root_of(roots, path);
    const YamlNode* owner = root < roots.size() ? first_definition(roots[root], name) : nullptr;
    if (owner && owner != self)
        return edit_fault(EditFaultKind::Value, "anchor name '" + std::string(name) +
                                                    "' is already used by another node");
    return {};
}

EditStatus set_anchor(DocumentState& doc, const NodePath& path,
                      std::optional<std::string_view> name) {
    auto& roots = doc.roots();
    if (name)
        if (auto checked = check_new_anchor(doc, path, *name); !checked) return checked;
    if (auto checked = check_anchor_change(roots, doc.mode, path, name, false); !checked)
        return checked;
    YamlNode* node = resolve_path(roots, path, doc.mode);
    if (!node) return stale_node();
    // A node's text starts with its properties, and an empty node's ends with
    // them: both are known only while they are the source's, so they are
    // noted before the first change.
    if (const auto replaced = source_text_of(doc, *node)) {
        CommentText& t = node->comments.text_fields();
        if (!t.source_start) t.source_start = replaced->start;
        if (node->kind == NodeKind::Null && !t.replaced_end) t.replaced_end = replaced->end;
    }
    if (name)
        node->set_anchor(doc.arena().store(*name));
    else
        node->set_anchor(std::nullopt);
    node->comments.modified = true;
    return {};
}

EditStatus make_alias(DocumentState& doc, const NodePath& path, std::string_view name) {
    auto& roots = doc.roots();
    const std::string shown(name);
    YamlNode* node = resolve_path(roots, path, doc.mode);
    const std::size_t root = root_of(roots, path);
    Placement at;
    if (root < roots.size()) at = PlacementWalk(name, node).run(roots[root]);
    if (!at.anchor)
        return edit_fault(EditFaultKind::Value,
                          "no anchor '&" + shown + "' is defined in this document");
    if (at.cursor_inside)
        return edit_fault(
            EditFaultKind::Value,
            "anchor '&" + shown + "' contains the alias that would reference it, which is a cycle");
    if (at.cursor_first)
        return edit_fault(
            EditFaultKind::Value,
            "anchor '&" + shown + "' must be defined before the alias that references it");
    if (!node) return stale_node();
    // The node's content and its own anchor go.
    if (auto safe = check_replace(roots, doc.mode, path, TopAnchors::Removed); !safe) return safe;
    YamlNode alias;
    alias.kind = NodeKind::Alias;
    alias.text = at.anchor->anchor() ? *at.anchor->anchor() : doc.arena().store(name);
    alias.span = node->span;
    alias.end_offset = node->span.offset;
    alias.end_line = node->span.line;
    alias.end_column = node->span.column;
    replace_node(doc, *node, std::move(alias));
    // An alias carries no properties of its own: "&x *a" and "!t *a" do not parse.
    node->set_anchor(std::nullopt);
    node->set_tag(std::nullopt);
    node->set_expanded_tag({});
    return {};
}

EditStatus detach_alias(DocumentState& doc, const NodePath& path) {
    auto& roots = doc.roots();
    YamlNode* node = resolve_path(roots, path, doc.mode);
    if (!node) return stale_node();
    if (node->kind != NodeKind::Alias)
        return edit_fault(EditFaultKind::Type, "detach() is only valid on an alias node");
    // The copy is of the definition the alias refers to, the nearest before
    // it, with the aliases inside read the same way: what its value is.
    const AliasTargets targets(roots[root_of(roots, path)]);
    const YamlNode* target = targets.of(*node);
    if (!target)
        return edit_fault(EditFaultKind::Key,
                          "alias *" + std::string(node->text) + " has no anchor to detach");
    // An alias inside its own definition ("&a [x, *a]") reads as that
    // definition with the alias, now a cycle, as null.
    CopyPlace place = CopyPlace::Outside;
    for (std::size_t depth = 0; depth < path.size() && place == CopyPlace::Outside; ++depth)
        if (resolve_path(roots, std::span(path).first(depth), doc.mode) == target)
            place = CopyPlace::Inside;
    // The copy keeps the positions of the definition it copies, and takes
    // the alias's comments and the extent of the alias's text, so what stood
    // around the alias (an empty document after it) is still known.
    replace_node(doc, *node, expanding_copy(*target, targets, CopyAnchors::Drop, place),
                 NodePlace::OfFresh);
    return {};
}

// The lines above a node are its own, but a block collection that is no
// mapping value starts where its first entry does: the lines above that
// entry are the collection's, and the reader gives them to it ("# c\na: 1"
// is about the document, "- # c\n  a: 1" about the item). A mapping value's
// lines are its key's; a collection below its key leaves them to its first
// entry.
YamlNode* comment_before_target(DocumentState& doc, const NodePath& path) {
    auto& roots = doc.roots();
    YamlNode* node = resolve_path(roots, path, doc.mode);
    if (!node) return nullptr;
    // Several roots: the first step picks the document, which is the root.
    const std::size_t first = roots.size() > 1 ? 1 : 0;
    YamlNode* target = node;
    for (std::size_t depth = path.size(); depth > first; --depth) {
        const PathStep& step = path[depth - 1];
        if (step.is_entry_key) break;
        YamlNode* parent = resolve_path(roots, std::span(path).first(depth - 1), doc.mode);
        if (!parent) break;
        std::optional<std::size_t> at;
        if (parent->kind == NodeKind::Mapping && !step.is_index) {
            at = find_entry(*parent, step.key, doc.mode);
            if (!at) break;
            if (depth == path.size()) target = &parent->key(*at);
        } else if (parent->kind == NodeKind::Sequence && step.is_index) {
            at = step.index;
        } else {
            break;
        }
        const bool below_key = depth - 1 > first && !path[depth - 2].is_index;
        if (*at != 0 || parent->style != CollectionStyle::Block || below_key) break;
        target = parent;
    }
    return target;
}

EditStatus check_comment_place(NodeList& roots, ResolverMode mode, const NodePath& path,
                               bool line_end) {
    // The first step of a path into one of several documents picks the root.
    const std::size_t first = roots.size() > 1 ? 1 : 0;
    for (std::size_t depth = first; depth < path.size(); ++depth) {
        const YamlNode* n = resolve_path(roots, std::span(path).first(depth), mode);
        if (n && n->is_collection() && n->style == CollectionStyle::Flow)
            return edit_fault(EditFaultKind::Value,
                              "a comment cannot be set inside a flow collection");
    }
    const YamlNode* node = resolve_path(roots, path, mode);
    const bool block = node && node->is_collection() && node->style == CollectionStyle::Block &&
                       !node->children.empty();
    const bool value = path.size() > first && !path.back().is_index && !path.back().is_entry_key;
    if (line_end && block && !value)
        return edit_fault(EditFaultKind::Value,
                          "a block collection takes a comment at the end of a line only as a "
                          "mapping value (comment_before sets the lines above it)");
    return {};
}

EditStatus set_inline_comment(DocumentState& doc, YamlNode& node,
                              std::optional<std::string_view> text) {
    if (text) {
        if (auto checked = check_comment_line(*text); !checked) return checked;
        node.comments.text_fields().inline_text = doc.arena().store(*text);
    } else if (node.comments.text) {
        node.comments.text->inline_text.reset();
    }
    if (node.comments.text) node.comments.text->inline_spaces = 0;
    node.comments.modified = true;
    return {};
}

EditStatus set_head_comments(DocumentState& doc, YamlNode& node,
                             std::optional<std::string_view> text) {
    if (!text) {
        if (node.comments.text) node.comments.text->head.clear();
        node.comments.modified = true;
        node.comments.head_edited = true;
        return {};
    }
    std::vector<std::string_view> lines;
    std::string_view rest = *text;
    for (;;) {
        const std::size_t cut = rest.find('\n');
        std::string_view line = rest.substr(0, cut);
        if (line.ends_with('\r')) line.remove_suffix(1);
        if (auto checked = check_comment_line(line); !checked) return checked;
        lines.push_back(line);
        if (cut == std::string_view::npos) break;
        rest.remove_prefix(cut + 1);
    }
    // Stored only once every line is accepted: a refusal changes nothing.
    for (std::string_view& line : lines) line = doc.arena().store(line);
    node.comments.text_fields().head = std::move(lines);
    node.comments.modified = true;
    node.comments.head_edited = true;
    return {};
}

}  // namespace quarvel
