#include "decode/merge.hpp"

#include <string>
#include <utility>
#include <vector>

#include "support/seeded_hash.hpp"
#include "support/stack.hpp"

namespace quarvel {
namespace {

void apply(YamlValue& v);

// Placeholders that are not mapping keys become the string "<<"; every other
// child is processed itself first.
void apply_to_child(YamlValue& child) {
    if (is_merge_placeholder(child))
        child = YamlValue::string("<<");
    else if (!child.children.empty())
        ensure_stack([&] { apply(child); });
}

class MappingMerger {
public:
    explicit MappingMerger(YamlValue& mapping) : mapping_(mapping) {}

    void run() {
        std::vector<YamlValue> entries = std::move(mapping_.children);
        std::vector<YamlValue> sources;
        result_.reserve(entries.size());
        for (std::size_t i = 0; i + 1 < entries.size(); i += 2) {
            if (is_merge_placeholder(entries[i])) {
                sources.push_back(std::move(entries[i + 1]));
            } else {
                mark_present(entries[i]);
                result_.push_back(std::move(entries[i]));
                result_.push_back(std::move(entries[i + 1]));
            }
        }
        for (auto& source : sources) merge_source(std::move(source));
        for (auto& rest : unmerged_) {
            result_.push_back(YamlValue::string("<<"));
            result_.push_back(std::move(rest));
        }
        mapping_.children = std::move(result_);
    }

private:
    bool mark_present(const YamlValue& key) {
        text_.clear();
        append_canonical_key(key, text_);
        return present_.insert(text_).second;
    }

    // Earlier sources and the mapping's own keys win: a key is only taken
    // from a source when it is not present yet.
    void merge_mapping(YamlValue&& source) {
        for (std::size_t i = 0; i + 1 < source.children.size(); i += 2) {
            if (!mark_present(source.children[i])) continue;
            result_.push_back(std::move(source.children[i]));
            result_.push_back(std::move(source.children[i + 1]));
        }
    }

    void merge_source(YamlValue&& source) {
        switch (source.kind) {
            case ValueKind::Null: return;
            case ValueKind::Mapping: merge_mapping(std::move(source)); return;
            case ValueKind::Sequence: {
                std::vector<YamlValue> rejected;
                for (auto& item : source.children) {
                    if (item.kind == ValueKind::Mapping)
                        merge_mapping(std::move(item));
                    else if (item.kind != ValueKind::Null)
                        rejected.push_back(std::move(item));
                }
                if (!rejected.empty()) unmerged_.push_back(YamlValue::sequence(std::move(rejected)));
                return;
            }
            default: unmerged_.push_back(std::move(source)); return;
        }
    }

    YamlValue& mapping_;
    std::vector<YamlValue> result_;
    std::vector<YamlValue> unmerged_;
    SeededStringSet present_;
    std::string text_;
};

void apply(YamlValue& v) {
    switch (v.kind) {
        case ValueKind::Sequence:
        case ValueKind::Tagged:
            for (auto& child : v.children) apply_to_child(child);
            return;
        case ValueKind::Mapping: {
            bool has_merge = false;
            for (std::size_t i = 0; i + 1 < v.children.size(); i += 2) {
                if (is_merge_placeholder(v.children[i]))
                    has_merge = true;
                else
                    apply_to_child(v.children[i]);
                apply_to_child(v.children[i + 1]);
            }
            if (has_merge) MappingMerger(v).run();
            return;
        }
        default: return;
    }
}

}  // namespace

void apply_merge_keys(YamlValue& root) { apply_to_child(root); }

}  // namespace quarvel
