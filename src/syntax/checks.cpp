#include "syntax/checks.hpp"

#include <string_view>
#include <unordered_map>
#include <vector>

#include "resolver/duplicate_keys.hpp"
#include "support/core_tag.hpp"
#include "support/limits.hpp"
#include "support/options.hpp"
#include "support/seeded_hash.hpp"
#include "support/stack.hpp"

namespace quarvel {

TreeCheckOptions tree_check_options(std::uint64_t options, ModeChoice choice) {
    TreeCheckOptions out;
    out.mode = choice.mode;
    out.duplicate_keys_error = (options & opt::DUPLICATE_KEYS_ERROR) != 0;
    out.duplicate_keys_warn =
        !out.duplicate_keys_error && (options & opt::DUPLICATE_KEYS_WARN) != 0;
    // Under the 1.2 rules every scalar already reads the 1.2 way.
    out.upgrade_1_1 = (options & opt::UPGRADE_1_1) != 0 && choice.mode != ResolverMode::Core12;
    out.warn_1_1 = choice.warn_1_1;
    out.unreadable_tags = true;
    return out;
}

namespace {

// Syntax tree nodes seen as mapping keys by the duplicate-key policy, read
// as the value composer reads them: a scalar under an application tag is its
// text, unresolved; an alias is the node last anchored under its name.
class NodeKeyView {
  public:
    using Node = const YamlNode*;
    // The node each alias named where it stood (a name can be anchored again
    // later in the document).
    using AliasTargets = std::unordered_map<const YamlNode*, const YamlNode*>;

    // `visited`, when given, counts the nodes walked through keys over the
    // whole check: aliases make a small tree name a huge key, and walking it
    // stops at the expansion budget that converting the tree would hit.
    NodeKeyView(ResolverMode mode, const AliasTargets* targets, std::uint64_t* visited = nullptr)
        : mode_(mode), targets_(targets), visited_(visited) {}

    bool visit(Node) const { return visited_ == nullptr || ++*visited_ <= kMaxExpandedNodes; }
    bool budget_spent() const { return visited_ != nullptr && *visited_ > kMaxExpandedNodes; }

    KeyRead read(Node at) const {
        const YamlNode& n = target(*at);
        KeyRead r;
        if (n.kind == NodeKind::Alias) {  // an anchor the walk has not seen
            r.kind = KeyKind::String;
            r.tag = "*";
            r.text = n.text;
            return r;
        }
        const std::string_view tag = n.effective_tag();
        const bool foreign = !tag.empty() && !is_standard_tag(tag);
        if (foreign && tag != "!") r.tag = tag;  // "!" only says "not resolved"
        if (n.is_collection()) {
            r.kind = n.kind == NodeKind::Mapping ? KeyKind::Mapping : KeyKind::Sequence;
        } else if (foreign) {
            r.kind = KeyKind::String;
            r.text = n.text;
        } else {
            read_scalar(n, tag, r);
        }
        return r;
    }
    std::size_t count(Node at) const { return target(*at).children.size(); }
    Node child(Node at, std::size_t i) const { return &target(*at).children[i]; }
    bool is_merge(Node at) const {
        const YamlNode& n = target(*at);
        if (n.kind != NodeKind::Scalar || n.text != "<<") return false;  // the only merge text
        const std::string_view tag = n.effective_tag();
        return (tag.empty() || is_standard_tag(tag)) &&
               resolve(mode_, n.text, n.scalar_style == ScalarStyle::Plain, tag).kind ==
                   ResolvedKind::Merge;
    }

  private:
    const YamlNode& target(const YamlNode& n) const {
        if (n.kind != NodeKind::Alias || targets_ == nullptr) return n;
        auto it = targets_->find(&n);
        return it == targets_->end() ? n : *it->second;
    }

    void read_scalar(const YamlNode& n, std::string_view tag, KeyRead& r) const {
        const bool plain = n.kind == NodeKind::Null || n.scalar_style == ScalarStyle::Plain;
        if (tag.empty() && plain && n.text.empty()) return;  // null
        const Resolved v = resolve(mode_, n.text, plain, tag);
        switch (v.kind) {
            case ResolvedKind::Null:
                return;
            case ResolvedKind::Bool:
                r.kind = KeyKind::Bool;
                r.boolean = v.boolean;
                return;
            case ResolvedKind::Int:
                r.kind = KeyKind::Int;
                r.integer = v.integer;
                return;
            case ResolvedKind::BigInt:
                r.kind = KeyKind::BigInt;
                r.text = n.text;
                return;
            case ResolvedKind::Float:
                r.kind = KeyKind::Float;
                r.real = v.real;
                return;
            case ResolvedKind::Merge:  // "<<" inside a key is the string
            case ResolvedKind::Str:
            case ResolvedKind::Invalid:  // refused when the node is walked
                r.kind = KeyKind::String;
                r.text = n.text;
                return;
        }
    }

    ResolverMode mode_;
    const AliasTargets* targets_;
    std::uint64_t* visited_;
};

class TreeChecker {
  public:
    TreeChecker(const TreeCheckOptions& options, Arena& arena, Warnings& warnings)
        : options_(options),
          duplicates_(options.duplicate_keys_error || options.duplicate_keys_warn),
          arena_(arena),
          warnings_(warnings) {}

    // False when the walk stopped: error_ says why.
    bool walk(YamlNode& n) {
        if (duplicates_) note_anchors(n);
        switch (n.kind) {
            case NodeKind::Scalar:
                if (!readable(n)) return false;
                scalar(n);
                return true;
            case NodeKind::Sequence:
                for (YamlNode& c : n.children)
                    if (!descend(c)) return false;
                return true;
            case NodeKind::Mapping:
                if (duplicates_) return mapping(n);
                for (YamlNode& c : n.children)
                    if (!descend(c)) return false;
                return true;
            case NodeKind::Null:
                return readable(n);
            case NodeKind::Alias:
                return true;
        }
        return true;
    }

    // Aliases name the node last anchored under their name, in one document.
    void next_document() {
        anchors_.clear();
        alias_targets_.clear();
    }

    std::optional<Error> error_;
    std::uint32_t error_file_ = 0;

  private:
    void note_anchors(const YamlNode& n) {
        if (const auto anchor = n.anchor()) anchors_[*anchor] = &n;
        if (n.kind != NodeKind::Alias) return;
        auto it = anchors_.find(n.text);
        if (it != anchors_.end()) alias_targets_[&n] = it->second;
    }

    bool descend(YamlNode& c) {
        if (c.children.empty()) return walk(c);
        bool ran = false;
        bool ok = ensure_stack([&] {
            ran = true;
            return walk(c);
        });
        if (!ran) stack_ran_out();
        return ok;
    }

    // Positions alone would point into the wrong file for a node that came
    // from an included one.
    void warn(Warning warning, const YamlNode& about) {
        const std::uint32_t file = about.span.file_id;
        if (file != 0 && file < options_.file_paths.size()) {
            warning.text += " in ";
            warning.text += options_.file_paths[file];
        }
        warnings_.push_back(std::move(warning));
    }

    void stack_ran_out() {
        if (!error_) error_ = stack_exhausted_error();
    }

    // The same refusal the value composer makes when it reads the scalar.
    bool readable(const YamlNode& n) {
        if (!options_.unreadable_tags || !n.tag()) return true;
        const std::string_view tag = n.effective_tag();
        const bool plain = n.kind == NodeKind::Null || n.scalar_style == ScalarStyle::Plain;
        if (resolve(options_.mode, n.text, plain, tag).kind != ResolvedKind::Invalid) return true;
        error_ = Error::syntax(invalid_scalar_message(n.text, tag), n.span.line, n.span.column);
        error_file_ = n.span.file_id;
        return false;
    }

    void scalar(YamlNode& n) {
        if (options_.warn_1_1) {
            auto w = difference_warning(options_.mode, n.text, n.scalar_style == ScalarStyle::Plain,
                                        n.tag().value_or(""), n.span.line, n.span.column);
            if (w) warn(std::move(*w), n);
        }
        if (options_.upgrade_1_1 && n.scalar_style == ScalarStyle::Plain) upgrade(n);
    }

    void upgrade(YamlNode& n) {
        std::string_view tag = n.tag().value_or("");
        if (auto spelling = upgrade_spelling(options_.mode, n.text, tag)) {
            n.text = arena_.store(*spelling);
            n.comments.modified = true;
            return;
        }
        // A string under 1.1 that the 1.2 rules would read as something else
        // ("0o17" is an integer there) keeps its value only when quoted.
        if (tag.empty() && resolve(options_.mode, n.text, true).kind == ResolvedKind::Str &&
            resolve(ResolverMode::Core12, n.text, true).kind != ResolvedKind::Str) {
            n.scalar_style = ScalarStyle::SingleQuoted;
            n.comments.modified = true;
        }
    }

    // Each key is compared with the earlier ones once it and its value are
    // walked, when the value composer compares it too, so errors and
    // warnings come in the same order on every load path.
    bool mapping(YamlNode& n) {
        const NodeKeyView view(options_.mode, &alias_targets_, &visited_);
        KeySet<NodeKeyView> keys;
        auto earlier = [&](std::size_t j) -> const YamlNode* { return &n.key(j); };
        for (std::size_t i = 0; i < n.size(); ++i) {
            if (!descend(n.key(i)) || !descend(n.value(i))) return false;
            const auto added = keys.add(view, &n.key(i), i, earlier);
            switch (added.seen) {
                case KeySet<NodeKeyView>::Seen::New:
                    break;
                case KeySet<NodeKeyView>::Seen::Duplicate:
                    if (!report_duplicate(view, n.key(i), n.key(added.first))) return false;
                    break;
                case KeySet<NodeKeyView>::Seen::Stopped:
                    return stopped(view, n.key(i));
            }
        }
        return true;
    }

    // A walk through a key ended early: the stack ran out, or the aliases in
    // the keys reach more nodes than a load may expand.
    bool stopped(const NodeKeyView& view, const YamlNode& key) {
        if (!view.budget_spent()) {
            stack_ran_out();
            return false;
        }
        error_ = Error::syntax(std::string(kAliasBombMessage), key.span.line, key.span.column);
        error_file_ = key.span.file_id;
        return false;
    }

    bool report_duplicate(const NodeKeyView& view, const YamlNode& key, const YamlNode& first) {
        std::string shown;
        if (!append_shown_key(view, &key, shown)) return stopped(view, key);
        const ErrorNote note = first_key_note(shown, first.span.line, first.span.column);
        if (options_.duplicate_keys_error) {
            error_ = Error::syntax(duplicate_key_error_text(shown), key.span.line, key.span.column,
                                   syntax_kind::duplicate_key);
            error_->notes.push_back(note);
            error_file_ = key.span.file_id;
            return false;
        }
        warn(Warning(duplicate_key_warning_text(shown, key.span.line, key.span.column), note), key);
        return true;
    }

    const TreeCheckOptions& options_;
    const bool duplicates_;
    Arena& arena_;
    Warnings& warnings_;
    std::unordered_map<std::string_view, const YamlNode*> anchors_;  // latest by name
    NodeKeyView::AliasTargets alias_targets_;
    std::uint64_t visited_ = 0;
};

}  // namespace

bool append_key_identity(const YamlNode& key, ResolverMode mode, std::string& out) {
    return append_key_identity_text(NodeKeyView(mode, nullptr), &key, out);
}

bool append_key_display(const YamlNode& key, ResolverMode mode, std::string& out) {
    return append_shown_key(NodeKeyView(mode, nullptr), &key, out);
}

bool key_reads_as_string(const YamlNode& key, ResolverMode mode) {
    if (key.kind != NodeKind::Scalar && key.kind != NodeKind::Null) return false;
    return NodeKeyView(mode, nullptr).read(&key).kind == KeyKind::String;
}

namespace {

Status walk_forest(SyntaxForest& forest, const TreeCheckOptions& options, Warnings& warnings,
                   std::uint32_t* error_file) {
    TreeChecker checker(options, forest.arena, warnings);
    for (YamlNode& root : forest.roots) {
        checker.next_document();
        bool ran = false;
        bool ok = ensure_stack([&] {
            ran = true;
            return checker.walk(root);
        });
        if (ok) continue;
        if (!ran || !checker.error_) return fail(stack_exhausted_error());
        if (error_file != nullptr) *error_file = checker.error_file_;
        return fail(std::move(*checker.error_));
    }
    return {};
}

Status check_forest(SyntaxForest& forest, const TreeCheckOptions& options, Warnings& warnings,
                    std::uint32_t* error_file);

}  // namespace

Status check_tree(SyntaxForest& forest, const TreeCheckOptions& given, Warnings& warnings,
                  std::uint32_t* error_file) {
    // Only a tagged scalar can be unreadable: a forest without tags needs no
    // walk for that check.
    TreeCheckOptions options = given;
    if (!forest.has_tags) options.unreadable_tags = false;
    if (!options.any()) return {};
    // A load that fails logs none of the warnings found before the failure,
    // as the value composer reports none when it fails.
    const std::size_t before = warnings.size();
    Status st = check_forest(forest, options, warnings, error_file);
    if (!st) warnings.resize(before);
    return st;
}

namespace {

Status check_forest(SyntaxForest& forest, const TreeCheckOptions& options, Warnings& warnings,
                    std::uint32_t* error_file) {
    if (!options.upgrade_1_1) return walk_forest(forest, options, warnings, error_file);
    // Keys are compared as they were written: the rewrite runs once every
    // check has read the tree.
    TreeCheckOptions reading = options;
    reading.upgrade_1_1 = false;
    if (reading.any())
        if (auto st = walk_forest(forest, reading, warnings, error_file); !st) return st;
    TreeCheckOptions rewriting;
    rewriting.mode = options.mode;
    rewriting.upgrade_1_1 = true;
    return walk_forest(forest, rewriting, warnings, error_file);
}

}  // namespace

}  // namespace quarvel
