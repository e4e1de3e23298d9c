// Addressing nodes of a document by path: handles keep a path, never a
// pointer, and find their node again before every operation.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "support/stack.hpp"
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

// The entry of a mapping a key step addresses: the last whose key is a
// scalar with exactly this text, since loading keeps the last of repeated
// keys; reading and editing must reach the value that is kept.
std::optional<std::size_t> find_entry(const YamlNode& mapping, std::string_view key);

// The child one step below `node`: a mapping's value by key text (or an
// entry's key node by position), a sequence's item by index; null for
// anything else (aliases included).
YamlNode* step_into(YamlNode& node, const PathStep& step);

// The node a path addresses, or null (the handle is stale). With several
// roots the first step picks the root; the empty path is the first root.
YamlNode* resolve_path(std::vector<YamlNode>& roots, std::span<const PathStep> path);

// The number of the root a path lies in (0 for a single root).
std::size_t root_of(const std::vector<YamlNode>& roots, const NodePath& path);

// The path of that root: [] for a single root, [n] with several.
NodePath root_path(const std::vector<YamlNode>& roots, std::size_t root);

// Scalar keys of one mapping already met.
class SeenKeys {
  public:
    // True when `text` was met before; records it otherwise.
    bool repeat(std::string_view text) {
        if (set_.empty() && small_.size() < 16) {
            for (std::string_view k : small_)
                if (k == text) return true;
            small_.push_back(text);
            return false;
        }
        if (set_.empty()) set_.insert(small_.begin(), small_.end());
        return !set_.insert(text).second;
    }

  private:
    std::vector<std::string_view> small_;
    std::unordered_set<std::string_view> set_;
};

// The entries of a mapping no key step addresses: flags by entry index, set
// for an entry whose scalar key text comes again later. Empty when there are
// none (the common case).
std::vector<bool> shadowed_entries(const YamlNode& mapping);

// Visits the nodes of one root that a path can address (sequence items and
// the values of entries with scalar keys, the last of repeated keys only),
// node before children, in document order. `visit(node, path)` returns
// false to stop the walk. Returns false when the walk was stopped.
template <class Visit>
bool walk_addressable(YamlNode& node, NodePath& path, Visit&& visit) {
    if (!visit(node, static_cast<const NodePath&>(path))) return false;
    const bool mapping = node.kind == NodeKind::Mapping;
    if (!mapping && node.kind != NodeKind::Sequence) return true;
    const std::vector<bool> shadowed = mapping ? shadowed_entries(node) : std::vector<bool>{};
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
        const bool go_on = ensure_stack([&] { return walk_addressable(*child, path, visit); });
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
Located find_anchor_definition(std::vector<YamlNode>& roots, std::size_t root,
                               std::string_view name);

// The first node of a tree, keys included, defining `name`; null when none.
const YamlNode* first_definition(const YamlNode& root, std::string_view name);

}  // namespace quarvel
