// Changes to a document's trees. Every edit either succeeds or leaves the
// trees exactly as they were; the checks all run before the first change.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "roundtrip/document_state.hpp"
#include "roundtrip/node_path.hpp"
#include "support/expected.hpp"

namespace quarvel {

// The Python exception class an edit's refusal becomes.
enum class EditFaultKind : std::uint8_t { Type, Value, Key, Index };

struct EditFault {
    EditFaultKind kind = EditFaultKind::Value;
    std::string message;
};

using EditStatus = detail::expected<void, EditFault>;

inline detail::unexpected<EditFault> edit_fault(EditFaultKind kind, std::string message) {
    return detail::unexpected<EditFault>(EditFault{kind, std::move(message)});
}

// Puts `fresh` in the place of `target`. The target's comments, layout,
// position and anchor stay (they describe the place, not the value), its
// tag when it fits the new value, and so do the flags only a document root
// carries; the result is marked modified and remembers where the replaced
// text ended. A copy of a node elsewhere in the text (a detached alias)
// keeps its own positions instead, since its entries are written from there.
enum class NodePlace : std::uint8_t { OfTarget, OfFresh };
void replace_node(const DocumentState& doc, YamlNode& target, YamlNode fresh,
                  NodePlace place = NodePlace::OfTarget);

// Whether container[step] = ... can be done: the refusal assign_item would give.
EditStatus check_assignment(const YamlNode& container, const PathStep& step);

// container[step] = fresh: replaces a sequence item or a mapping value, or
// appends a new entry to a mapping (marking the mapping modified). The key
// of a new entry is stored in the document's arena, quoted when plain text
// would read differently.
EditStatus assign_item(DocumentState& doc, YamlNode& container, const PathStep& step,
                       YamlNode fresh);

// The scalar style a new string gets: plain when it reads back as the same
// string, else quoted by the document's preference.
ScalarStyle style_for_new_text(std::string_view text, const DocumentSettings& settings);

// Whether `name` can be the anchor of the node at `path`: a name YAML can
// write, not defined by another node.
EditStatus check_new_anchor(DocumentState& doc, const NodePath& path, std::string_view name);

// The node's anchor: removed (nullopt) or set to a name no other node uses.
// Refused while aliases refer to the node by its present name.
EditStatus set_anchor(DocumentState& doc, const NodePath& path,
                      std::optional<std::string_view> name);

// Turns the node at `path` into an alias of `name`, defined earlier in the
// same document and not around the node.
EditStatus make_alias(DocumentState& doc, const NodePath& path, std::string_view name);

// Replaces the alias at `path` by a copy of what it refers to, without anchors.
EditStatus detach_alias(DocumentState& doc, const NodePath& path);

// The node whose head comments the "comment before" of `path` means: the key
// of the entry when the last step is a mapping key, else the node itself;
// for the first entry of a block collection that is no mapping value, the
// collection (both start on one line).
YamlNode* comment_before_target(DocumentState& doc, const NodePath& path);

// Whether a comment may be set on the node at `path`: not inside a flow
// collection, which is written on one line where a comment would end it.
// A comment at the end of the line (`line_end`) goes after a mapping key,
// so a block collection takes one only as a mapping's value.
EditStatus check_comment_place(NodeList& roots, ResolverMode mode, const NodePath& path,
                               bool line_end);

// Sets or clears the comment after the node (stored in the arena). Only what
// one comment line can hold is taken (check_comment_line): a line break
// would end the line it is written on.
EditStatus set_inline_comment(DocumentState& doc, YamlNode& node,
                              std::optional<std::string_view> text);

// Sets (one head line per line of `text`, split at LF or CR LF) or clears the
// comments above the node. Each line must be one a comment can hold.
EditStatus set_head_comments(DocumentState& doc, YamlNode& node,
                             std::optional<std::string_view> text);

}  // namespace quarvel
