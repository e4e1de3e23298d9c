// Random documents edited by a small script: each pair of script bytes picks
// an edit (assign, append, set or clear an anchor, make an alias, detach, set
// comments, delete, insert) and the node it applies to. After every edit the
// trees must keep their invariants, no edit may leave an alias without its
// anchor, and an edit that was refused must have changed nothing.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <source_location>
#include <string>
#include <vector>

#include "fuzz_options.hpp"
#include "roundtrip/alias_refs.hpp"
#include "roundtrip/edits.hpp"
#include "roundtrip/structure_edits.hpp"
#include "support/stack.hpp"
#include "support/utf8.hpp"
#include "syntax/anchors.hpp"
#include "tree_fingerprint.hpp"

namespace {

using namespace quarvel;

// Names the check that failed, for reducing a finding.
void check(bool ok, std::source_location at = std::source_location::current()) {
    if (ok) return;
    std::fprintf(stderr, "fuzz_edit: the check at line %u failed\n",
                 static_cast<unsigned>(at.line()));
    std::abort();
}

using fuzz::fingerprint;

std::vector<NodePath> addressable(DocumentState& s) {
    std::vector<NodePath> paths;
    auto& roots = s.roots();
    for (std::size_t i = 0; i < roots.size(); ++i) {
        NodePath p = root_path(roots, i);
        walk_addressable(roots[i], p, s.mode, [&](YamlNode& n, const NodePath& at) {
            // Equal only for the first of duplicate keys, which paths address.
            check(resolve_path(roots, at, s.mode) != nullptr);
            check(n.kind != NodeKind::Mapping || n.children.size() % 2 == 0);
            paths.push_back(at);
            return paths.size() < 4096;
        });
    }
    return paths;
}

// Document order of a tree: for every node its position and the position
// just past its subtree.
struct Order {
    std::vector<const YamlNode*> nodes;
    std::vector<std::size_t> end;
};

void order_of(const YamlNode& n, Order& o) {
    const std::size_t at = o.nodes.size();
    o.nodes.push_back(&n);
    o.end.push_back(0);
    for (const YamlNode& c : n.children) ensure_stack([&] { order_of(c, o); });
    o.end[at] = o.nodes.size();
}

// A new alias comes after the whole of a node anchored with its name (the
// complete definition it reads; an outer node of the same name may still be
// open around it).
void check_alias_placement(const YamlNode& root, const YamlNode& alias) {
    check(alias.kind == NodeKind::Alias && !alias.anchor() && !alias.tag());
    Order o;
    order_of(root, o);
    std::size_t self = o.nodes.size();
    for (std::size_t i = 0; i < o.nodes.size(); ++i)
        if (o.nodes[i] == &alias) self = i;
    check(self < o.nodes.size());
    bool defined = false;
    for (std::size_t i = 0; i < self && !defined; ++i)
        defined = o.nodes[i]->anchor() && *o.nodes[i]->anchor() == alias.text && o.end[i] <= self;
    check(defined);
}

bool has_anchor_or_alias(const YamlNode& n) {
    if (n.anchor() || n.kind == NodeKind::Alias) return true;
    for (const YamlNode& c : n.children)
        if (ensure_stack([&] { return has_anchor_or_alias(c); })) return true;
    return false;
}

// Aliases that refer to no node, in all roots.
std::size_t unresolved_aliases(const DocumentState& s) {
    std::size_t count = 0;
    for (const YamlNode& root : s.roots()) {
        const AliasTargets targets(root);
        for (const AliasTargets::Use& use : targets.uses())
            if (!targets.of(*use.alias)) ++count;
    }
    return count;
}

constexpr std::string_view kNames[] = {"a", "b", "c"};

// Deletes an item or entry of the container at `path`, or inserts one.
bool run_structure(DocumentState& s, std::uint8_t op, const NodePath& path, YamlNode& node,
                   std::string_view name, YamlNode fresh) {
    const std::size_t at = op >> 5;
    if (op & 16) {
        const PathStep step = node.kind == NodeKind::Sequence
                                  ? PathStep::of_index(node.children.empty() ? 0 : at % node.size())
                                  : PathStep::of_key(name);
        if (!remove_item(s, path, step)) return true;
        check(node.comments.modified);
        check(node.kind != NodeKind::Mapping || !find_entry(node, name, s.mode));
        return false;
    }
    NodeList items;
    items.push_back(std::move(fresh));
    const std::size_t size = node.size();
    const bool refused = node.kind == NodeKind::Mapping
                             ? !insert_entry(s, path, at, name, std::move(items.front()))
                             : !insert_items(s, path, at, std::move(items));
    if (!refused) check(node.comments.modified && node.size() == size + 1);
    return refused;
}

// Runs one edit; returns whether it was refused.
bool run(DocumentState& s, std::uint8_t op, const NodePath& path) {
    auto& roots = s.roots();
    YamlNode* node = resolve_path(roots, path, s.mode);
    check(node != nullptr);
    const std::string_view name = kNames[(op >> 3) % 3];
    YamlNode fresh;
    fresh.kind = NodeKind::Scalar;
    fresh.text = s.arena().store(name);
    if (op % 9 == 8) return run_structure(s, op, path, *node, name, std::move(fresh));
    switch (op % 9) {
        case 0:
            // The refusals the bindings check before replacing.
            if (!check_replace(roots, s.mode, path)) return true;
            replace_node(s, *node, std::move(fresh));
            check(node->comments.modified);
            return false;
        case 1: {
            const PathStep step = node->kind == NodeKind::Sequence ? PathStep::of_index(op >> 4)
                                                                   : PathStep::of_key(name);
            if (!check_assignment_refs(roots, s.mode, path, step)) return true;
            return !assign_item(s, *node, step, std::move(fresh));
        }
        case 2: {
            if (!set_anchor(s, path, name)) return true;
            check(first_definition(roots[root_of(roots, path)], name) == node);
            return false;
        }
        case 3:
            return !set_anchor(s, path, std::nullopt);
        case 4: {
            if (!make_alias(s, path, name)) return true;
            check_alias_placement(roots[root_of(roots, path)], *node);
            return false;
        }
        case 5: {
            if (!detach_alias(s, path)) return true;
            check(node->kind != NodeKind::Alias && !has_anchor_or_alias(*node));
            return false;
        }
        case 6:
            return !set_inline_comment(s, *node, (op & 16) ? std::optional(name) : std::nullopt);
        default: {
            YamlNode* target = comment_before_target(s, path);
            return !set_head_comments(
                s, target ? *target : *node,
                (op & 16) ? std::optional<std::string_view>("x\ny") : std::nullopt);
        }
    }
}

}  // namespace

// Input: a byte with the script's length, a spare byte, the document text,
// then the script (so that plain YAML seeds run with an empty script).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const fuzz::Input in = fuzz::split_input(data, size);
    const std::size_t script_size =
        std::min<std::size_t>(in.flags, in.text.size()) & ~std::size_t{1};
    const std::string_view raw = in.text.substr(0, in.text.size() - script_size);
    const auto* script =
        reinterpret_cast<const std::uint8_t*>(in.text.data()) + (in.text.size() - script_size);
    auto text = utf8::decode_input(raw);
    if (!text) return 0;
    auto state = compose_document(std::move(*text), DocumentSettings{});
    if (!state) return 0;
    DocumentState& s = **state;
    for (std::size_t i = 0; i + 1 < script_size; i += 2) {
        const std::vector<NodePath> paths = addressable(s);
        if (paths.empty()) break;
        const NodePath& path = paths[script[i + 1] % paths.size()];
        const std::string before = fingerprint(s);
        const std::size_t unresolved = unresolved_aliases(s);
        if (run(s, script[i], path))
            check(fingerprint(s) == before);
        else
            check(unresolved_aliases(s) <= unresolved);
    }
    addressable(s);
    return 0;
}
