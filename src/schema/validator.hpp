// Checks the nodes of a document view (SyntaxView, ValueView or NameView)
// against schema rules. This header holds the walk itself: reporting,
// probes, references and the in-place applicators; the keywords of values,
// objects and arrays are in validator_values.hpp, validator_objects.hpp and
// validator_arrays.hpp.
//
// unevaluatedProperties and unevaluatedItems see what the other keywords of
// their schema, and the subschemas applied in place to the same node
// (allOf, a passing anyOf or oneOf branch, if with then or else,
// dependentSchemas, $ref), have evaluated. With
//
//   {"allOf": [{"properties": {"a": {}}}], "unevaluatedProperties": false}
//
// "a" is evaluated by the allOf branch and any other key is refused. So a
// schema with such a keyword checks the rest with an Evaluated record for
// its node; the keywords that take properties or items mark them there, a
// probe (anyOf, oneOf, if) marks a record of its own that is merged only
// when it passes, and a child node starts without one. Schemas without
// these keywords pay nothing: the record pointer is null.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "schema/data_views.hpp"
#include "schema/enum_index.hpp"
#include "schema/messages.hpp"
#include "schema/rules.hpp"
#include "schema/uri.hpp"
#include "schema/validate.hpp"
#include "support/stack.hpp"

namespace quarvel {

// What the keywords of one node's schemas have evaluated.
struct Evaluated {
    std::vector<bool> properties;  // by entry
    std::vector<bool> items;

    void merge(const Evaluated& other) {
        for (std::size_t i = 0; i < properties.size() && i < other.properties.size(); ++i)
            if (other.properties[i]) properties[i] = true;
        for (std::size_t i = 0; i < items.size() && i < other.items.size(); ++i)
            if (other.items[i]) items[i] = true;
    }
};

// kShortcuts: scalars settled inline (leaf_verdict) and bare references
// walked as their targets. Without them every check takes the walk, which
// the fuzzer compares with.
template <class View, bool kShortcuts = true>
class Validator {
    using Node = typename View::Node;

  public:
    Validator(const View& view, const CompiledSchema& schema, std::vector<SchemaViolation>& out)
        : view_(view), schema_(schema), out_(&out), dynamic_(schema.dynamic()) {}

    // Whether the root passes, without building any violation.
    bool satisfies(const SchemaRule& rule) { return passes(view_.root(), rule, nullptr); }
    void check_root(const SchemaRule& rule) { check(view_.root(), rule, nullptr); }

    // Set when validation could not finish: a reference cycle that consumes
    // no input, or a pattern stopped at its step bound.
    const std::optional<Error>& fault() const { return fault_; }

  private:
    // ---- reporting -------------------------------------------------------

    // Inside probes only "did anything fail" matters: the first violation
    // ends the run there and no message is built. A fault ends everything.
    bool done() const { return (probing_ && failed_) || fault_.has_value(); }

    template <class Message>
    void report(Node at, const PathLink* path, const SchemaRule& rule, std::string_view keyword,
                Message message, std::string_view token = {}) {
        failed_ = true;
        if (probing_) return;
        SchemaViolation v;
        v.message = message();
        v.path = path_text(path);
        v.schema_path = rule.location;
        if (!keyword.empty()) {
            v.schema_path += '/';
            v.schema_path += keyword;
        }
        if (!token.empty()) {
            v.schema_path += '/';
            append_pointer_token(v.schema_path, token);
        }
        v.line = view_.line(at);
        v.column = view_.column(at);
        out_->push_back(std::move(v));
    }

    void loop(Node at, const PathLink* path, const std::string& where) {
        fault(at, path,
              "the schema's references loop without moving into the document, through " + where);
    }

    void fault(Node at, const PathLink* path, std::string message) {
        if (fault_) return;
        Error e;
        e.family = ErrorFamily::Schema;
        e.message = std::move(message);
        e.schema_path = path_text(path);
        e.has_position = true;
        e.line = view_.line(at);
        e.column = view_.column(at);
        fault_ = std::move(e);
    }

    // ---- the walk --------------------------------------------------------

    // A scalar against a rule that reads only its value is settled inline:
    // a pass, or a failure inside a probe, needs nothing more. Only what is
    // left takes the walk, whose reports are built the one way.
    [[gnu::always_inline]] void check(Node at, const SchemaRule& rule, const PathLink* path) {
        if (settled_inline(at, rule)) return;
        walk(at, walked(rule), path);
    }
    [[gnu::always_inline]] bool settled_inline(Node at, const SchemaRule& rule) {
        return kShortcuts && rule.leaf && settled_by_leaf(at, *rule.leaf);
    }
    // The rule the walk checks for `rule`: its target, for a bare reference
    // passed through outside an evaluation record.
    [[gnu::always_inline]] const SchemaRule& walked(const SchemaRule& rule) const {
        return kShortcuts && rule.through && !evaluated_ ? *rule.through : rule;
    }
    [[gnu::always_inline]] bool settled_by_leaf(Node at, const SchemaRule& leaf) {
        switch (leaf_verdict(at, leaf)) {
            case LeafVerdict::Pass:
                return true;
            case LeafVerdict::Fail:
                if (!probing_) return false;  // the walk reports it
                failed_ = true;
                return true;
            case LeafVerdict::Unknown:
                break;
        }
        return false;
    }
    void walk(Node at, const SchemaRule& rule, const PathLink* path);
    // The two steps of a check below are one function with it: a call per
    // rule and node is a good part of what validation costs.
    [[gnu::always_inline]] inline void enter(Node at, const SchemaRule& rule, const PathLink* path);
    [[gnu::always_inline]] inline void check_keywords(Node at, const SchemaRule& rule,
                                                      const PathLink* path);
    [[gnu::noinline]] void enter_on_new_stack(Node at, const SchemaRule& rule,
                                              const PathLink* path) {
        ensure_stack([&] { enter(at, rule, path); });
    }
    void check_tracked(Node at, const SchemaRule& rule, const PathLink* path);
    void check_unevaluated(Node at, const SchemaRule& rule, const PathLink* path, Evaluated& seen);

    // A subschema applied in place (allOf, $ref, then, ...): what it
    // evaluated counts only when it passes, as a failing schema gives no
    // annotations.
    void apply(Node at, const SchemaRule& sub, const PathLink* path) {
        if (!evaluated_) return check(at, sub, path);
        Evaluated mine = fresh_record(at);
        Evaluated* outer = std::exchange(evaluated_, &mine);
        const bool saved_failed = std::exchange(failed_, false);
        check(at, sub, path);
        const bool ok = !failed_;
        failed_ = saved_failed || failed_;
        evaluated_ = outer;
        if (ok) outer->merge(mine);
    }

    // A node below this one: it has its own evaluated record, if any, and
    // its own count of checks.
    [[gnu::always_inline]] void check_child(Node child, const SchemaRule& rule,
                                            const PathLink* path) {
        if (settled_inline(child, rule)) return;
        walk_child(child, rule, path);
    }
    [[gnu::noinline]] void walk_child(Node child, const SchemaRule& rule, const PathLink* path) {
        Evaluated* saved = std::exchange(evaluated_, nullptr);
        const std::uint32_t saved_checks = std::exchange(checks_here_, 0);
        walk(child, walked(rule), path);
        checks_here_ = saved_checks;
        evaluated_ = saved;
    }

    bool child_passes(Node child, const SchemaRule& rule, const PathLink* path) {
        Evaluated* saved = std::exchange(evaluated_, nullptr);
        const std::uint32_t saved_checks = std::exchange(checks_here_, 0);
        const bool ok = passes(child, rule, path);
        checks_here_ = saved_checks;
        evaluated_ = saved;
        return ok;
    }

    // Whether the node passes `rule`: a run into a fresh list, marking
    // `into` (when given) with what it evaluated.
    bool passes(Node at, const SchemaRule& rule, const PathLink* path, Evaluated* into = nullptr) {
        const bool saved_probing = probing_, saved_failed = failed_;
        Evaluated* saved = std::exchange(evaluated_, into);
        probing_ = true;
        failed_ = false;
        check(at, rule, path);
        const bool ok = !failed_;
        probing_ = saved_probing;
        failed_ = saved_failed;
        evaluated_ = saved;
        return ok;
    }

    Evaluated fresh_record(Node at) const {
        Evaluated e;
        const NodeKind kind = view_.kind(at);
        if (kind == NodeKind::Mapping) e.properties.assign(view_.count(at) / 2, false);
        if (kind == NodeKind::Sequence) e.items.assign(view_.count(at), false);
        return e;
    }

    // ---- rules met more than once -----------------------------------------

    void check_shared(Node at, const SchemaRule& rule, const PathLink* path);

    static std::uintptr_t node_key(Node at) {
        if constexpr (std::is_pointer_v<Node>) {
            return reinterpret_cast<std::uintptr_t>(at);
        } else {
            return static_cast<std::uintptr_t>(at);
        }
    }

    // Probes, reporting checks and the reporting checks of a note are
    // kept apart: a note's checks must not hide the violations of the
    // reporting check that may follow.
    enum class Mode : std::uint8_t { Report, Probe, Note };
    Mode mode() const { return probing_ ? Mode::Probe : noting_ ? Mode::Note : Mode::Report; }

    struct Visit {
        std::uintptr_t node;
        const SchemaRule* rule;
        std::uint64_t scope;  // the dynamic scope, as scope_key() gives it
        Mode mode;
        bool tracking;  // an evaluated record is being marked
        bool operator==(const Visit&) const = default;
    };
    struct VisitHash {
        std::size_t operator()(const Visit& v) const {
            std::size_t h =
                std::hash<std::uintptr_t>{}(v.node) * 31 + std::hash<const void*>{}(v.rule);
            h = h * 31 + std::hash<std::uint64_t>{}(v.scope);
            return h * 6 + static_cast<std::size_t>(v.mode) * 2 + (v.tracking ? 1 : 0);
        }
    };
    enum class Outcome : std::uint8_t { Running, Passed, Failed };
    struct Memo {
        Outcome outcome = Outcome::Running;
        std::unique_ptr<Evaluated> record;  // what a passing check evaluated, when tracking
    };

    // The dynamic scope in one number: equal scopes give equal keys.
    std::uint64_t scope_key() const { return scope_keys_.empty() ? 0 : scope_keys_.back(); }

    // ---- references ------------------------------------------------------

    void follow(Node at, const SchemaRule& from, const SchemaRule& target, const PathLink* path,
                const char* keyword);
    void unfollow(std::size_t depth) {
        while (followed_.size() > depth) followed_.pop_back();
    }
    bool passes_through(const SchemaRule& rule) const { return rule.passes_through(dynamic_); }
    const SchemaRule& dynamic_target(const DynamicRef& ref) const;

    // ---- keywords (validator_values.hpp) ----------------------------------

    enum class LeafVerdict : std::uint8_t { Pass, Fail, Unknown };
    [[gnu::always_inline]] inline LeafVerdict leaf_verdict(Node at, const SchemaRule& rule) const;
    [[gnu::always_inline]] inline LeafVerdict scalar_verdict(const DataValue& v,
                                                             const SchemaRule& rule) const;
    [[gnu::noinline]] LeafVerdict combinator_verdict(const DataValue& v,
                                                     const SchemaRule& rule) const;
    LeafVerdict string_verdict(const SchemaRule& rule, std::string_view text) const;

    bool equals(Node at, const YamlValue& s) const;
    bool has_entry(Node at, const YamlValue& key, const YamlValue& value) const;
    bool in_enum(Node at, const SchemaRule& rule) const;
    void report_type(Node at, const SchemaRule& rule, ValueKind kind, const PathLink* path);
    static bool is_number(ValueKind k) {
        return k == ValueKind::Int || k == ValueKind::Float || k == ValueKind::BigInt;
    }
    void check_number(Node at, const SchemaRule& rule, const DataValue& v, const PathLink* path);
    void check_string(Node at, const SchemaRule& rule, std::string_view text, const PathLink* path);
    // `location` and `keyword` name the pattern's place in the schema; they
    // are joined only for the error.
    bool search(Node at, const PathLink* path, const EcmaRegex& regex, std::string_view source,
                const std::string& location, std::string_view keyword, std::string_view text);
    // Whether a key's name matches a patternProperties pattern, remembered
    // for short names: the items of a list repeat their keys ("env" of every
    // service names the same variables), and a slot compares in a few
    // instructions what the pattern reads character by character.
    bool name_matches(Node key, const PathLink* path, const PatternRule& pattern,
                      std::string_view name, const NameWords& words);

    // ---- objects (validator_objects.hpp) ----------------------------------

    void check_object(Node at, const SchemaRule& rule, const PathLink* path);
    // Inline in the loop over entries: a call per entry would save and
    // restore the registers its inlined leaf checks use.
    [[gnu::always_inline]] inline void check_entry(Node at, std::uint32_t entry,
                                                   const SchemaRule& rule, const PathLink* path);
    void check_dependencies(Node at, const SchemaRule& rule, const PathLink* path);
    void check_name(Node key, std::string_view name, const SchemaRule& rule, const PathLink* step);
    bool has_key(Node at, const NameMatch& name, std::uint32_t& from) const;

    // ---- arrays (validator_arrays.hpp) ------------------------------------

    void check_array(Node at, const SchemaRule& rule, const PathLink* path);
    void check_contains(Node at, const SchemaRule& rule, const PathLink* path);
    void check_unique(Node at, const SchemaRule& rule, const PathLink* path);

    // ---- combinators -----------------------------------------------------

    void check_combinators(Node at, const SchemaRule& rule, const PathLink* path);
    void check_any_of(Node at, const SchemaRule& rule, const PathLink* path);
    void check_one_of(Node at, const SchemaRule& rule, const PathLink* path);
    void check_condition(Node at, const SchemaRule& rule, const PathLink* path);
    std::string closest_branch(Node at, const std::vector<const SchemaRule*>& branches,
                               const PathLink* path);

    const View& view_;
    const CompiledSchema& schema_;
    std::vector<SchemaViolation>* out_;
    const bool dynamic_;  // the schema's dynamic(), read once
    StackRoom stack_;
    bool probing_ = false;
    bool failed_ = false;
    bool noting_ = false;  // finding the closest branch for a note
    static constexpr std::uint32_t kChecksBeforeMemo = 64;
    std::uint32_t checks_here_ = 0;  // rules checked at the current node
    std::optional<Error> fault_;
    Evaluated* evaluated_ = nullptr;
    struct NameVerdict {
        const EcmaRegex* regex = nullptr;
        NameWords name{std::string_view{}};
        bool matches = false;
    };
    static constexpr unsigned kNameVerdictBits = 6;
    std::unique_ptr<NameVerdict[]> name_verdicts_;       // made at the first use
    std::unordered_map<Visit, Memo, VisitHash> visits_;  // of shared rules
    // The references followed at the current node, innermost last: a
    // reference to one of them again has made no progress into the document.
    std::vector<std::pair<std::uintptr_t, const SchemaRule*>> followed_;
    // The resources the evaluation is in, outermost first (only for a
    // schema whose "$dynamicRef"s choose by it).
    std::vector<std::uint32_t> scope_;
    std::vector<std::uint64_t> scope_keys_;
};

// ---- the walk ------------------------------------------------------------

template <class View, bool kShortcuts>
void Validator<View, kShortcuts>::walk(Node at, const SchemaRule& rule, const PathLink* path) {
    if (fault_) return;
    if (rule.kind == RuleKind::Nothing) {
        report(at, path, rule, {},
               [] { return std::string("value is not allowed (schema is false)"); });
        return;
    }
    if (rule.kind != RuleKind::Keywords || done()) return;
    ++checks_here_;
    // Probes keep outcomes only once a node has
    // had many checks: a schema that applies its parts many times to one
    // node gets there at once, while the common case, each part applied
    // once, pays nothing for a table.
    if (rule.shared && (!probing_ || checks_here_ > kChecksBeforeMemo))
        return check_shared(at, rule, path);
    if (passes_through(rule)) return follow(at, rule, *rule.ref, path, "$ref");
    if (!stack_.roomy()) return enter_on_new_stack(at, rule, path);
    enter(at, rule, path);
}

template <class View, bool kShortcuts>
void Validator<View, kShortcuts>::enter(Node at, const SchemaRule& rule, const PathLink* path) {
    const bool scoped = dynamic_ && (scope_.empty() || scope_.back() != rule.resource);
    if (scoped) {
        scope_.push_back(rule.resource);
        scope_keys_.push_back((scope_key() + rule.resource + 1) * 0x9e3779b97f4a7c15ull);
    }
    if (rule.tracking) {
        check_tracked(at, rule, path);
    } else {
        check_keywords(at, rule, path);
    }
    if (scoped) {
        scope_.pop_back();
        scope_keys_.pop_back();
    }
}

// A shared rule is checked once per node. A probe's outcome is kept for
// the next probe; a reporting check met again would only append the
// same violations at the same path (a node's path is its own), so it is
// skipped. Without this, allOf: [s, s] nested n deep costs 2^n checks.
//
// A visit still in progress when it is met again has come back to the same
// rule at the same node: a loop of references that consumes no input. The
// dynamic scope is part of a visit, and so is what a passing check
// evaluated, for the unevaluated keywords that may ask again.
template <class View, bool kShortcuts>
void Validator<View, kShortcuts>::check_shared(Node at, const SchemaRule& rule,
                                               const PathLink* path) {
    const Visit visit{node_key(at), &rule, scope_key(), mode(), evaluated_ != nullptr};
    if (auto it = visits_.find(visit); it != visits_.end()) {
        const Memo& memo = it->second;
        if (memo.outcome == Outcome::Running) return loop(at, path, rule.location);
        if (memo.outcome == Outcome::Failed) failed_ = true;  // its violations are reported
        if (memo.outcome == Outcome::Passed && evaluated_ && memo.record)
            evaluated_->merge(*memo.record);
        return;
    }
    visits_.emplace(visit, Memo{});
    const bool saved_failed = std::exchange(failed_, false);
    std::unique_ptr<Evaluated> record;
    if (evaluated_) record = std::make_unique<Evaluated>(fresh_record(at));
    Evaluated* outer = evaluated_ ? std::exchange(evaluated_, record.get()) : nullptr;
    if (stack_.roomy()) {
        enter(at, rule, path);
    } else {
        enter_on_new_stack(at, rule, path);
    }
    if (outer) evaluated_ = outer;
    const bool ok = !failed_;
    failed_ = saved_failed || failed_;
    if (ok && outer) outer->merge(*record);
    Memo& memo = visits_[visit];
    memo.outcome = ok ? Outcome::Passed : Outcome::Failed;
    memo.record = std::move(record);
}

template <class View, bool kShortcuts>
void Validator<View, kShortcuts>::check_keywords(Node at, const SchemaRule& rule,
                                                 const PathLink* path) {
    if (rule.has(SchemaRule::kReferences)) {
        if (rule.ref) follow(at, rule, *rule.ref, path, "$ref");
        if (rule.dynamic_ref && !done())
            follow(at, rule, dynamic_target(*rule.dynamic_ref), path, "$dynamicRef");
    }
    // Most rules look at a node's kind and children, not at its value: the
    // kind is read alone, and the value only for the keywords that compare
    // it. The type is checked inline; only a mismatch calls out.
    const ValueKind value_kind = view_.value_kind(at);
    if (rule.type && !(rule.type_mask & value_type_bits(value_kind)) && !done())
        report_type(at, rule, value_kind, path);
    if (rule.enum_values && !done() && !in_enum(at, rule))
        report(at, path, rule, "enum",
               [] { return std::string("value is not one of the allowed enum values"); });
    if (rule.const_value && !done() && !equals(at, *rule.const_value))
        report(at, path, rule, "const",
               [] { return std::string("value does not equal the required const"); });
    if (rule.has(SchemaRule::kNumbers) && is_number(value_kind))
        check_number(at, rule, view_.value_of(at), path);
    if (value_kind == ValueKind::String && rule.has(SchemaRule::kStrings))
        check_string(at, rule, view_.value_of(at).text, path);
    const NodeKind kind = view_.kind(at);
    if (kind == NodeKind::Mapping && rule.has(SchemaRule::kObjects)) check_object(at, rule, path);
    if (kind == NodeKind::Sequence && rule.has(SchemaRule::kArrays)) check_array(at, rule, path);
    if (rule.has(SchemaRule::kCombinators)) check_combinators(at, rule, path);
}

template <class View, bool kShortcuts>
void Validator<View, kShortcuts>::check_tracked(Node at, const SchemaRule& rule,
                                                const PathLink* path) {
    Evaluated seen = fresh_record(at);
    Evaluated* outer = std::exchange(evaluated_, &seen);
    const bool saved_failed = std::exchange(failed_, false);
    check_keywords(at, rule, path);
    if (!done()) check_unevaluated(at, rule, path, seen);
    const bool ok = !failed_;
    failed_ = saved_failed || failed_;
    evaluated_ = outer;
    if (outer && ok) outer->merge(seen);
}

template <class View, bool kShortcuts>
void Validator<View, kShortcuts>::check_unevaluated(Node at, const SchemaRule& rule,
                                                    const PathLink* path, Evaluated& seen) {
    const NodeKind kind = view_.kind(at);
    if (kind == NodeKind::Mapping && rule.unevaluated_properties) {
        const SchemaRule& rest = *rule.unevaluated_properties;
        for (std::uint32_t e = 0; e < seen.properties.size() && !done(); ++e) {
            if (seen.properties[e]) continue;
            const Node key = view_.child(at, 2 * e);
            if (!view_.is_key(key)) continue;
            seen.properties[e] = true;
            const std::string_view name = view_.key_text(key);
            const PathLink step{path, name, 0, true};
            const Node value = view_.child(at, 2 * e + 1);
            if (rest.kind == RuleKind::Nothing) {
                report(value, &step, rule, "unevaluatedProperties", [&] {
                    return "unevaluated property '" + std::string(name) + "' is not allowed";
                });
            } else {
                check_child(value, rest, &step);
            }
        }
    }
    if (kind == NodeKind::Sequence && rule.unevaluated_items) {
        const SchemaRule& rest = *rule.unevaluated_items;
        for (std::uint32_t i = 0; i < seen.items.size() && !done(); ++i) {
            if (seen.items[i]) continue;
            seen.items[i] = true;
            const PathLink step{path, {}, i, false};
            if (rest.kind == RuleKind::Nothing) {
                report(view_.child(at, i), &step, rule, "unevaluatedItems",
                       [&] { return "unevaluated item " + std::to_string(i) + " is not allowed"; });
            } else {
                check_child(view_.child(at, i), rest, &step);
            }
        }
    }
}

// ---- references ------------------------------------------------------------

// Following a reference stays at the same node. Meeting a rule again that
// is already being followed there means the references loop without ever
// moving into the document: reported once, never looped.
//
// A target that is nothing but another "$ref" ({"$ref": "#/$defs/name"}, as
// published schemas write most properties) is passed through here, to the
// first target that has keywords of its own: checking it would only follow
// its reference. It still counts as followed, so a loop is found at the same
// rule as before.
template <class View, bool kShortcuts>
void Validator<View, kShortcuts>::follow(Node at, const SchemaRule& from, const SchemaRule& target,
                                         const PathLink* path, const char* keyword) {
    const std::uintptr_t key = node_key(at);
    const std::size_t depth = followed_.size();
    const SchemaRule* source = &from;
    const SchemaRule* next = &target;
    for (;;) {
        // A rule on no cycle of in-place applications cannot be met again
        // here, and needs no record.
        for (std::size_t i = followed_.size();
             next->recurs_in_place && i-- > 0 && followed_[i].first == key;) {
            if (followed_[i].second != next) continue;
            loop(at, path, source->location + "/" + keyword);
            unfollow(depth);
            return;
        }
        if (next->recurs_in_place) followed_.emplace_back(key, next);
        if (!passes_through(*next)) break;
        source = next;
        next = next->ref;
        keyword = "$ref";
    }
    apply(at, *next, path);
    unfollow(depth);
}

template <class View, bool kShortcuts>
const SchemaRule& Validator<View, kShortcuts>::dynamic_target(const DynamicRef& ref) const {
    for (std::uint32_t resource : scope_)
        for (const DynamicTarget& t : ref.targets)
            if (t.resource == resource) return *t.rule;
    return *ref.fallback;
}

// ---- combinators -----------------------------------------------------------

template <class View, bool kShortcuts>
void Validator<View, kShortcuts>::check_combinators(Node at, const SchemaRule& rule,
                                                    const PathLink* path) {
    for (const SchemaRule* sub : rule.all_of) {
        if (done()) return;
        apply(at, *sub, path);
    }
    if (rule.has_any_of && !done()) check_any_of(at, rule, path);
    if (rule.has_one_of && !done()) check_one_of(at, rule, path);
    if (rule.not_rule && !done() && passes(at, *rule.not_rule, path))
        report(at, path, rule, "not",
               [] { return std::string("value must not match the 'not' schema"); });
    if (rule.if_rule && !done()) check_condition(at, rule, path);
}

template <class View, bool kShortcuts>
void Validator<View, kShortcuts>::check_any_of(Node at, const SchemaRule& rule,
                                               const PathLink* path) {
    bool any = false;
    for (const SchemaRule* sub : rule.any_of) {
        if (!evaluated_) {
            if ((any = passes(at, *sub, path))) break;
            continue;
        }
        // Every passing branch adds what it evaluated.
        Evaluated branch = fresh_record(at);
        if (passes(at, *sub, path, &branch)) {
            any = true;
            evaluated_->merge(branch);
        }
    }
    if (!any)
        report(at, path, rule, "anyOf", [&] {
            return "value does not match any of the anyOf schemas" +
                   closest_branch(at, rule.any_of, path);
        });
}

template <class View, bool kShortcuts>
void Validator<View, kShortcuts>::check_one_of(Node at, const SchemaRule& rule,
                                               const PathLink* path) {
    std::size_t matched = 0;
    for (const SchemaRule* sub : rule.one_of) {
        if (!evaluated_) {
            matched += passes(at, *sub, path) ? 1 : 0;
            continue;
        }
        Evaluated branch = fresh_record(at);
        if (!passes(at, *sub, path, &branch)) continue;
        ++matched;
        evaluated_->merge(branch);
    }
    if (matched != 1)
        report(at, path, rule, "oneOf", [&] {
            std::string m = "value matches " + std::to_string(matched) +
                            " of the oneOf schemas (exactly one required)";
            if (matched == 0) m += closest_branch(at, rule.one_of, path);
            return m;
        });
}

template <class View, bool kShortcuts>
void Validator<View, kShortcuts>::check_condition(Node at, const SchemaRule& rule,
                                                  const PathLink* path) {
    Evaluated condition = evaluated_ ? fresh_record(at) : Evaluated();
    if (passes(at, *rule.if_rule, path, evaluated_ ? &condition : nullptr)) {
        if (evaluated_) evaluated_->merge(condition);
        if (rule.then_rule) apply(at, *rule.then_rule, path);
    } else if (rule.else_rule) {
        apply(at, *rule.else_rule, path);
    }
}

// " (closest is #/anyOf/1: <its first violation>)": the branch with the
// fewest violations, a branch whose type is wrong for the node counting as
// further than any other, so that the note points at the branch the user
// most likely meant. Built only for a message, by checking the branches
// once more with reporting on; the branches of a note get no notes of their
// own, which would cost a check of every branch per level of nesting.
template <class View, bool kShortcuts>
std::string Validator<View, kShortcuts>::closest_branch(
    Node at, const std::vector<const SchemaRule*>& branches, const PathLink* path) {
    if (noting_) return {};
    noting_ = true;
    const std::string here = path_text(path);
    std::vector<SchemaViolation>* saved_out = out_;
    const bool saved_failed = failed_;
    // The branches failed: what they evaluate counts for nothing.
    Evaluated* saved_evaluated = std::exchange(evaluated_, nullptr);
    std::optional<std::pair<std::size_t, std::size_t>> best_score;
    std::optional<SchemaViolation> best;
    const SchemaRule* best_rule = nullptr;
    for (const SchemaRule* sub : branches) {
        std::vector<SchemaViolation> found;
        out_ = &found;
        failed_ = false;
        check(at, *sub, path);
        if (found.empty() || fault_) continue;
        std::size_t wrong_type = 0;
        for (const SchemaViolation& v : found)
            if (v.path == here && v.schema_path.ends_with("/type")) wrong_type = 1;
        const std::pair<std::size_t, std::size_t> score{wrong_type, found.size()};
        if (!best_score || score < *best_score) {
            best_score = score;
            best = std::move(found.front());
            best_rule = sub;
        }
    }
    out_ = saved_out;
    failed_ = saved_failed;
    evaluated_ = saved_evaluated;
    noting_ = false;
    if (!best) return {};
    std::string note = " (closest is " + best_rule->location + ": " + best->message;
    if (best->path != here) note += " at " + best->path;
    return note + ")";
}

}  // namespace quarvel

#include "schema/validator_arrays.hpp"
#include "schema/validator_objects.hpp"
#include "schema/validator_values.hpp"
