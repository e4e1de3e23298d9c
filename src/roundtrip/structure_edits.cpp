#include "roundtrip/structure_edits.hpp"

#include <algorithm>
#include <iterator>

#include "roundtrip/alias_refs.hpp"

namespace quarvel {
namespace {

EditStatus not_a_container() {
    return edit_fault(EditFaultKind::Type, "node is not a mapping or sequence");
}

// Children indices (of the container's children vector) that `step` removes.
std::vector<std::size_t> removed_children(const YamlNode& container, const PathStep& step,
                                          ResolverMode mode) {
    std::vector<std::size_t> out;
    if (container.kind == NodeKind::Sequence) {
        if (step.is_index && step.index < container.children.size()) out.push_back(step.index);
        return out;
    }
    if (step.is_index || step.is_entry_key) return out;
    // Entries of the key's text, and those of the same key written otherwise
    // ("0" and "-0"): the key is gone only when all of them are.
    std::vector<std::string> same;
    for (std::size_t i = 0; i < container.size(); ++i) {
        const YamlNode& k = container.key(i);
        if (k.kind == NodeKind::Scalar && k.text == step.key)
            if (std::string id = other_key_identity(k, mode); !id.empty()) same.push_back(id);
    }
    for (std::size_t i = 0; i < container.size(); ++i) {
        const YamlNode& k = container.key(i);
        if (k.kind != NodeKind::Scalar && k.kind != NodeKind::Null) continue;
        const bool named =
            (k.kind == NodeKind::Scalar && k.text == step.key) ||
            (!same.empty() && std::ranges::find(same, other_key_identity(k, mode)) != same.end());
        if (!named) continue;
        out.push_back(2 * i);
        out.push_back(2 * i + 1);
    }
    return out;
}

// A merged directory's container records which of its children each file
// gave; removing or inserting children keeps that record in step. A file
// that is a single item of a merged list is not split or emptied.
class MergedShares {
  public:
    explicit MergedShares(YamlNode& container)
        : shares_(container.source() ? &container.source()->merged : nullptr) {}

    bool removable(std::size_t at) const {
        const MergedFile* share = holding(at);
        return !share || !share->whole_root;
    }

    // The share new children at `at` join: the one holding that position,
    // else the one ending there (a position past every share joins none).
    MergedFile* joined_by(std::size_t at) const {
        if (!shares_ || shares_->empty()) return nullptr;
        for (MergedFile& share : *shares_)
            if (!share.whole_root && share.first <= at && at <= share.first + share.count &&
                (at < share.first + share.count || &share != &shares_->back()))
                return &share;
        return nullptr;
    }

    // New children inside the collection must belong to some file.
    bool insertable(std::size_t at, std::size_t size) const {
        return !shares_ || shares_->empty() || at >= size || joined_by(at);
    }

    void removed(std::size_t at) { shift(at, -1, holding(at)); }
    void inserted(std::size_t at, std::size_t n) {
        shift(at, static_cast<std::ptrdiff_t>(n), joined_by(at));
    }

  private:
    MergedFile* holding(std::size_t at) const {
        if (!shares_) return nullptr;
        for (MergedFile& share : *shares_)
            if (share.first <= at && at < share.first + share.count) return &share;
        return nullptr;
    }

    void shift(std::size_t at, std::ptrdiff_t n, MergedFile* grown) {
        if (!shares_) return;
        for (MergedFile& share : *shares_) {
            if (&share == grown) {
                share.count = static_cast<std::uint32_t>(share.count + n);
                share.edited = true;
            } else if (share.first >= at && (n > 0 || share.first > at))
                share.first = static_cast<std::uint32_t>(share.first + n);
        }
    }

    std::vector<MergedFile>* shares_;
};

EditStatus merged_refusal() {
    return edit_fault(EditFaultKind::Value,
                      "the collection is merged from several files and no file holds that place");
}

}  // namespace

std::size_t insert_position(std::int64_t at, std::size_t size) {
    if (at < 0) {
        const std::uint64_t back = static_cast<std::uint64_t>(-(at + 1)) + 1;
        return back >= size ? 0 : size - back;
    }
    return std::min<std::uint64_t>(static_cast<std::uint64_t>(at), size);
}

EditStatus check_removal(const YamlNode& container, const PathStep& step, ResolverMode mode) {
    if (!container.is_collection()) return not_a_container();
    if (!removed_children(container, step, mode).empty()) return {};
    if (container.kind == NodeKind::Sequence)
        return edit_fault(EditFaultKind::Index, "index out of range");
    return edit_fault(EditFaultKind::Key, step.key);
}

EditStatus remove_item(DocumentState& doc, const NodePath& path, const PathStep& step) {
    auto& roots = doc.roots();
    YamlNode* container = resolve_path(roots, path, doc.mode);
    if (!container) return edit_fault(EditFaultKind::Key, "stale view");
    if (auto checked = check_removal(*container, step, doc.mode); !checked) return checked;
    const std::vector<std::size_t> gone = removed_children(*container, step, doc.mode);
    MergedShares shares(*container);
    std::vector<const YamlNode*> removed;
    for (std::size_t i : gone) {
        if (!shares.removable(i)) return merged_refusal();
        removed.push_back(&container->children[i]);
    }
    if (auto safe = check_alias_refs(roots, doc.mode, path, removed); !safe) return safe;
    // Back to front, so that the indices still to go stay valid.
    for (auto it = gone.rbegin(); it != gone.rend(); ++it) {
        container->children.erase(container->children.begin() + static_cast<std::ptrdiff_t>(*it));
        shares.removed(*it);
    }
    container->comments.modified = true;
    return {};
}

EditStatus insert_items(DocumentState& doc, const NodePath& path, std::size_t at, NodeList items) {
    auto& roots = doc.roots();
    YamlNode* seq = resolve_path(roots, path, doc.mode);
    if (!seq) return edit_fault(EditFaultKind::Key, "stale view");
    if (seq->kind != NodeKind::Sequence)
        return edit_fault(EditFaultKind::Type, "node is not a sequence");
    at = std::min(at, seq->children.size());
    MergedShares shares(*seq);
    if (!shares.insertable(at, seq->children.size())) return merged_refusal();
    if (auto safe = check_alias_refs(roots, doc.mode, path); !safe) return safe;
    if (items.empty()) return {};
    for (YamlNode& item : items) item.comments.modified = true;
    seq->children.insert(seq->children.begin() + static_cast<std::ptrdiff_t>(at),
                         std::make_move_iterator(items.begin()),
                         std::make_move_iterator(items.end()));
    shares.inserted(at, items.size());
    seq->comments.modified = true;
    return {};
}

EditStatus insert_entry(DocumentState& doc, const NodePath& path, std::size_t at,
                        std::string_view key, YamlNode value) {
    auto& roots = doc.roots();
    YamlNode* map = resolve_path(roots, path, doc.mode);
    if (!map) return edit_fault(EditFaultKind::Key, "stale view");
    if (map->kind != NodeKind::Mapping)
        return edit_fault(EditFaultKind::Type, "node is not a mapping");
    if (find_entry(*map, key, doc.mode))
        return edit_fault(EditFaultKind::Value, "key '" + std::string(key) + "' already exists");
    const std::size_t entries = map->size();
    at = std::min(at, entries);
    MergedShares shares(*map);
    if (!shares.insertable(2 * at, map->children.size())) return merged_refusal();
    if (auto safe = check_alias_refs(roots, doc.mode, path); !safe) return safe;
    // The entry is built as assignment builds a new one (its key quoted when
    // plain text would read differently), then moved to its place.
    if (auto added = assign_item(doc, *map, PathStep::of_key(key), std::move(value)); !added)
        return added;
    auto first = map->children.begin() + static_cast<std::ptrdiff_t>(2 * at);
    std::rotate(first, map->children.end() - 2, map->children.end());
    shares.inserted(2 * at, 2);
    return {};
}

}  // namespace quarvel
