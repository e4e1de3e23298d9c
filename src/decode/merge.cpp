#include "decode/merge.hpp"

#include <string>
#include <utility>
#include <vector>

#include "support/seeded_hash.hpp"
#include "support/stack.hpp"

namespace quarvel {
namespace {

bool apply(YamlValue& v);

// Placeholders that are not mapping keys become the string "<<"; every other
// child is processed itself first. False when the stack ran out.
bool apply_to_child(YamlValue& child) {
    if (is_merge_placeholder(child)) {
        child = YamlValue::string("<<");
        return true;
    }
    if (child.children.empty()) return true;
    return ensure_stack([&] { return apply(child); });
}

class MappingMerger {
  public:
    explicit MappingMerger(YamlValue& mapping) : mapping_(mapping) {}

    // False when the stack ran out while comparing keys; the mapping is
    // incomplete then.
    bool run() {
        ValueList entries = std::move(mapping_.children);
        std::vector<YamlValue> sources;
        result_.reserve(entries.size());
        for (std::size_t i = 0; i + 1 < entries.size() && !out_of_stack_; i += 2) {
            if (is_merge_placeholder(entries[i])) {
                sources.push_back(std::move(entries[i + 1]));
            } else {
                mark_present(entries[i]);
                result_.push_back(std::move(entries[i]));
                result_.push_back(std::move(entries[i + 1]));
            }
        }
        for (auto& source : sources) {
            if (out_of_stack_) break;
            merge_source(std::move(source));
        }
        for (auto& rest : unmerged_) {
            result_.push_back(YamlValue::string("<<"));
            result_.push_back(std::move(rest));
        }
        mapping_.children = std::move(result_);
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
    void merge_mapping(YamlValue&& source) {
        for (std::size_t i = 0; i + 1 < source.children.size() && !out_of_stack_; i += 2) {
            if (!mark_present(source.children[i])) continue;
            result_.push_back(std::move(source.children[i]));
            result_.push_back(std::move(source.children[i + 1]));
        }
    }

    void merge_source(YamlValue&& source) {
        switch (source.kind) {
            case ValueKind::Null:
                return;
            case ValueKind::Mapping:
                merge_mapping(std::move(source));
                return;
            case ValueKind::Sequence: {
                ValueList rejected;
                for (auto& item : source.children) {
                    if (out_of_stack_) return;
                    if (item.kind == ValueKind::Mapping)
                        merge_mapping(std::move(item));
                    else if (item.kind != ValueKind::Null)
                        rejected.push_back(std::move(item));
                }
                if (!rejected.empty())
                    unmerged_.push_back(YamlValue::sequence(std::move(rejected)));
                return;
            }
            default:
                unmerged_.push_back(std::move(source));
                return;
        }
    }

    YamlValue& mapping_;
    ValueList result_;
    std::vector<YamlValue> unmerged_;
    SeededStringSet present_;
    std::string text_;
    bool out_of_stack_ = false;
};

bool apply(YamlValue& v) {
    switch (v.kind) {
        case ValueKind::Sequence:
        case ValueKind::Tagged:
            for (auto& child : v.children)
                if (!apply_to_child(child)) return false;
            return true;
        case ValueKind::Mapping: {
            bool has_merge = false;
            for (std::size_t i = 0; i + 1 < v.children.size(); i += 2) {
                if (is_merge_placeholder(v.children[i]))
                    has_merge = true;
                else if (!apply_to_child(v.children[i]))
                    return false;
                if (!apply_to_child(v.children[i + 1])) return false;
            }
            return !has_merge || MappingMerger(v).run();
        }
        default:
            return true;
    }
}

}  // namespace

bool apply_merge_keys(YamlValue& root) {
    return apply_to_child(root);
}

}  // namespace quarvel
