#include "decode/merge.hpp"

#include <string>
#include <utility>
#include <vector>

#include "support/seeded_hash.hpp"
#include "support/stack.hpp"

namespace quarvel {
namespace {

bool apply(YamlValue& v, Arena& arena);

// Placeholders that are not mapping keys become the string "<<"; every other
// child is processed itself first. False when the stack ran out.
bool apply_to_child(YamlValue& child, Arena& arena) {
    if (is_merge_placeholder(child)) {
        child = YamlValue::string("<<");
        return true;
    }
    if (!child.has_children()) return true;
    return ensure_stack([&] { return apply(child, arena); });
}

class MappingMerger {
  public:
    MappingMerger(YamlValue& mapping, Arena& arena) : mapping_(mapping), arena_(arena) {}

    // False when the stack ran out while comparing keys; the mapping is
    // incomplete then.
    bool run() {
        const ValueSpan entries = mapping_.children();
        ValueList sources;
        result_.reserve(entries.size());
        for (std::size_t i = 0; i + 1 < entries.size() && !out_of_stack_; i += 2) {
            if (is_merge_placeholder(entries[i])) {
                sources.push_back(entries[i + 1]);
            } else {
                mark_present(entries[i]);
                result_.push_back(entries[i]);
                result_.push_back(entries[i + 1]);
            }
        }
        for (const YamlValue& source : sources) {
            if (out_of_stack_) break;
            merge_source(source);
        }
        for (const YamlValue& rest : unmerged_) {
            result_.push_back(YamlValue::string("<<"));
            result_.push_back(rest);
        }
        mapping_ = YamlValue::mapping(arena_, result_);
        return !out_of_stack_;
    }

  private:
    // Whether the key was new; false as well once the stack ran out.
    bool mark_present(const YamlValue& key) {
        text_.clear();
        if (!append_canonical_key(key, text_)) {
            out_of_stack_ = true;
            return false;
        }
        return present_.insert(text_).second;
    }

    // Earlier sources and the mapping's own keys win: a key is only taken
    // from a source when it is not present yet.
    void merge_mapping(const YamlValue& source) {
        const ValueSpan entries = source.children();
        for (std::size_t i = 0; i + 1 < entries.size() && !out_of_stack_; i += 2) {
            if (!mark_present(entries[i])) continue;
            result_.push_back(entries[i]);
            result_.push_back(entries[i + 1]);
        }
    }

    void merge_source(const YamlValue& source) {
        switch (source.kind) {
            case ValueKind::Null:
                return;
            case ValueKind::Mapping:
                merge_mapping(source);
                return;
            case ValueKind::Sequence: {
                ValueList rejected;
                for (const YamlValue& item : source.children()) {
                    if (out_of_stack_) return;
                    if (item.kind == ValueKind::Mapping)
                        merge_mapping(item);
                    else if (item.kind != ValueKind::Null)
                        rejected.push_back(item);
                }
                if (!rejected.empty()) unmerged_.push_back(YamlValue::sequence(arena_, rejected));
                return;
            }
            default:
                unmerged_.push_back(source);
                return;
        }
    }

    YamlValue& mapping_;
    Arena& arena_;
    ValueList result_;
    ValueList unmerged_;
    SeededStringSet present_;
    std::string text_;
    bool out_of_stack_ = false;
};

bool apply(YamlValue& v, Arena& arena) {
    switch (v.kind) {
        case ValueKind::Sequence:
        case ValueKind::Tagged:
            for (auto& child : v.children())
                if (!apply_to_child(child, arena)) return false;
            return true;
        case ValueKind::Mapping: {
            bool has_merge = false;
            const ValueSpan entries = v.children();
            for (std::size_t i = 0; i + 1 < entries.size(); i += 2) {
                if (is_merge_placeholder(entries[i]))
                    has_merge = true;
                else if (!apply_to_child(entries[i], arena))
                    return false;
                if (!apply_to_child(entries[i + 1], arena)) return false;
            }
            return !has_merge || MappingMerger(v, arena).run();
        }
        default:
            return true;
    }
}

}  // namespace

bool apply_merge_keys(YamlValue& root, Arena& arena) {
    return apply_to_child(root, arena);
}

}  // namespace quarvel
