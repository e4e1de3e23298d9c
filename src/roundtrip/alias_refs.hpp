// Which alias refers to which anchored node, and the refusals that follow:
// an edit must not leave an alias without the node it refers to, point it
// at another node, or change a mapping key behind the mapping's back (an
// alias used as a key follows its anchored node).
//
// An alias refers to the nearest node before it, in document order and in
// its own file, that defines its name (AliasTargets): names may be defined
// again further on. Each check makes at most one pass over the document's
// tree, and none when the edit involves no anchor.
#pragma once

#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "roundtrip/edits.hpp"
#include "roundtrip/node_path.hpp"
#include "syntax/anchors.hpp"

namespace quarvel {

// The aliases of one document tree, each with the node it refers to.
class AliasRefs {
  public:
    explicit AliasRefs(const YamlNode& root) : targets_(root) {}

    const AliasTargets& targets() const { return targets_; }
    const YamlNode* target(const YamlNode& alias) const { return targets_.of(alias); }

    // The aliases referring to `anchored`, in document order.
    std::vector<AliasTargets::Use> aliases_of(const YamlNode& anchored) const;

    // The first alias outside `removed` that refers to a node inside one of
    // them; with `tops_kept` the top nodes keep their anchors (a value is
    // replaced in place) and aliases of a top do not count.
    std::optional<AliasTargets::Use> outside_ref_into(std::span<const YamlNode* const> removed,
                                                      bool tops_kept) const;

    // The first alias used as a mapping key that refers to one of `anchored`.
    std::optional<AliasTargets::Use> key_alias_of(std::span<const YamlNode* const> anchored) const;

  private:
    AliasTargets targets_;
};

// Whether the top nodes of an edit's `removed` keep their own anchors: a
// value replaced in place keeps its node's anchor, a removed node loses it.
enum class TopAnchors : bool { Removed, Kept };

// Refuses an edit that would leave an alias without its anchor, or change a
// node that an alias used as a mapping key refers to. The edit changes the
// value of the node at `path` and of every node above it, and drops the
// subtrees `removed` (below `path`, or the node at `path` itself).
// Replacing a value: (its path, {node}, Kept). Deleting entries: (the
// container's path, {their nodes}, Removed). Inserting: (the container's
// path, {}).
EditStatus check_alias_refs(NodeList& roots, ResolverMode mode, std::span<const PathStep> path,
                            std::span<const YamlNode* const> removed = {},
                            TopAnchors tops = TopAnchors::Removed);

// Whether the node at `path` may be replaced: by a new value, keeping its
// own anchor (Kept), or by an alias, losing it (Removed). A mapping key
// (reached by an entry-key step) is not replaced: the key would change.
EditStatus check_replace(NodeList& roots, ResolverMode mode, const NodePath& path,
                         TopAnchors tops = TopAnchors::Kept);

// Whether container[step] = value may be done, the container at `path`:
// an existing value is replaced (check_replace), else the mapping grows.
EditStatus check_assignment_refs(NodeList& roots, ResolverMode mode, const NodePath& path,
                                 const PathStep& step);

// Refuses setting the anchor of the node at `path` to `name` (nullopt:
// removing it) when an alias refers to the node under its present name, or
// when an alias that refers to nothing has the new name. With `renaming`
// the aliases of the node are renamed with it, so only the second counts.
EditStatus check_anchor_change(NodeList& roots, ResolverMode mode, const NodePath& path,
                               std::optional<std::string_view> name, bool renaming);

// Renames the anchor of the node at `path`, and every alias that refers to
// it, to `name`: a name no other node defines and no alias already has.
EditStatus rename_anchor(DocumentState& doc, const NodePath& path, std::string_view name);

// The node the alias at `path` refers to, with its path (null when it
// refers to nothing, or to a node no path addresses).
Located alias_target(NodeList& roots, ResolverMode mode, const NodePath& path);

// The paths of the aliases referring to the node at `path`, in document
// order: sequence items, mapping values, and keys (an entry-key step).
std::vector<NodePath> alias_paths(NodeList& roots, ResolverMode mode, const NodePath& path);

}  // namespace quarvel
