// Addressing nodes of a document by path: handles keep a path, never a
// pointer, and find their node again before every operation.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "resolver/resolver.hpp"
#include "support/stack.hpp"
#include "syntax/checks.hpp"
#include "syntax/node.hpp"

namespace quarvel {

// One step: the text of a scalar mapping key, or a sequence position (the
// first step of a path into a document of several roots is the root number).
// A path may end on the key node of a mapping entry, by the entry's position:
// how a cursor addresses an alias used as a key, which has no text to match.
struct PathStep {
    std::string key;
    std::uint64_t index = 0;
    bool is_index = false;
    bool is_entry_key = false;

    static PathStep of_key(std::string_view text) {
        return PathStep{std::string(text), 0, false, false};
    }
    static PathStep of_index(std::uint64_t i) { return PathStep{{}, i, true, false}; }
    static PathStep of_entry_key(std::uint64_t entry) { return PathStep{{}, entry, false, true}; }
    bool operator==(const PathStep&) const = default;
};

using NodePath = std::vector<PathStep>;

// A scalar key that reads as something other than a string can be the same
// key as one of other text (1 and 0x1, 0 and -0, true and True): its
// identity under the duplicate-key rule, where plain scalars read by `mode`;
// empty for a string key, whose repeats have its text.
std::string other_key_identity(const YamlNode& key, ResolverMode mode);

// The entry loading keeps in place of entry i of a mapping: the last whose
// key is the same key by the duplicate-key rule, where plain scalars read by
// `mode` ("0" and "-0" are one key); i itself when none follows.
std::size_t kept_entry(const YamlNode& mapping, std::size_t i, ResolverMode mode);

// The entry of a mapping a key step addresses: the last whose key is a
// scalar with exactly this text, or the entry loading keeps in its place
// (a later key that is the same key, written otherwise); reading and
// editing must reach the value that is kept.
std::optional<std::size_t> find_entry(const YamlNode& mapping, std::string_view key,
                                      ResolverMode mode);

// The child one step below `node`: a mapping's value by key text (or an
// entry's key node by position), a sequence's item by index; null for
// anything else (aliases included).
YamlNode* step_into(YamlNode& node, const PathStep& step, ResolverMode mode);

// The node a path addresses, or null (the handle is stale). With several
// roots the first step picks the root; the empty path is the first root.
YamlNode* resolve_path(NodeList& roots, std::span<const PathStep> path, ResolverMode mode);

// The number of the root a path lies in (0 for a single root).
std::size_t root_of(const NodeList& roots, const NodePath& path);

// The path of that root: [] for a single root, [n] with several.
NodePath root_path(const NodeList& roots, std::size_t root);

// The entries of a mapping no key step addresses: flags by entry index, set
// for an entry that find_entry does not reach by its key's text (a later key
// has that text, or is the same key by the duplicate-key rule). Empty when
// there are none (the common case).
std::vector<bool> shadowed_entries(const YamlNode& mapping, ResolverMode mode);

// Visits the nodes of one root that a path can address (sequence items and
// the values of entries with scalar keys, the last of repeated keys only),
// node before children, in document order. `visit(node, path)` returns
// false to stop the walk. Returns false when the walk was stopped.
template <class Visit>
bool walk_addressable(YamlNode& node, NodePath& path, ResolverMode mode, Visit&& visit) {
    if (!visit(node, static_cast<const NodePath&>(path))) return false;
    const bool mapping = node.kind == NodeKind::Mapping;
    if (!mapping && node.kind != NodeKind::Sequence) return true;
    const std::vector<bool> shadowed = mapping ? shadowed_entries(node, mode) : std::vector<bool>{};
    for (std::size_t i = 0; i < node.size(); ++i) {
        YamlNode* child;
        if (mapping) {
            const YamlNode& key = node.key(i);
            if (key.kind != NodeKind::Scalar || (!shadowed.empty() && shadowed[i])) continue;
            path.push_back(PathStep::of_key(key.text));
            child = &node.value(i);
        } else {
            path.push_back(PathStep::of_index(i));
            child = &node.children[i];
        }
        const bool go_on =
            ensure_stack([&] { return walk_addressable(*child, path, mode, visit); });
        path.pop_back();
        if (!go_on) return false;
    }
    return true;
}

// The first addressable node of root `root` defining `name`, with its path.
struct Located {
    YamlNode* node = nullptr;
    NodePath path;
};
Located find_anchor_definition(NodeList& roots, std::size_t root, std::string_view name,
                               ResolverMode mode);

// The first node of a tree, keys included, defining `name`; null when none.
const YamlNode* first_definition(const YamlNode& root, std::string_view name);

}  // namespace quarvel
