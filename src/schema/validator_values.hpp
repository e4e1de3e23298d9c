// The keywords on any value: type, enum, const, the numeric bounds and
// multipleOf, string lengths, pattern and format.
#pragma once

#include "schema/data_equality.hpp"
#include "schema/format.hpp"
#include "schema/numbers.hpp"
#include "schema/validator.hpp"
#include "support/utf8.hpp"

namespace quarvel {

// A text shorter than minLength, or longer than maxLength, in characters.
// A character takes one to four bytes, so the byte count alone often
// settles the bounds; the characters are counted only when it does not.
struct LengthFit {
    bool too_short = false;
    bool too_long = false;
};
inline LengthFit length_fit(const SchemaRule& rule, std::string_view text) {
    const auto bytes = static_cast<double>(text.size());
    const bool settled = (!rule.min_length || bytes / 4 >= *rule.min_length) &&
                         (!rule.max_length || bytes <= *rule.max_length);
    if (settled) return {};
    const auto length = static_cast<double>(utf8::count_chars(text));
    return {rule.min_length && length < *rule.min_length,
            rule.max_length && length > *rule.max_length};
}

// A scalar's value among the enum's items: what in_enum answers for it.
inline bool scalar_in_enum(const DataValue& v, const SchemaRule& rule) {
    if (rule.enum_index) return rule.enum_index->has_scalar(v);
    for (const YamlValue& item : rule.enum_values->children())
        if (data_equal(v, data_of(item))) return true;
    return false;
}

// Whether an Int or a Float meets the bounds and multipleOf.
inline bool number_fits(const SchemaRule& rule, const Number& x) {
    const bool within = x.kind == Number::Kind::Int ? rule.number_range.admits(x.integer)
                                                    : rule.number_range.admits(x.real);
    return within && (!rule.multiple_of || is_multiple_of(x, *rule.multiple_of));
}

// A node against a rule that reads only the value (SchemaRule::leaf): the
// verdict the walk would reach, keyword by keyword in the walk's order, but
// without building a report. Unknown where only the walk can tell: a
// collection, a node under a custom tag, a big integer against a bound, a
// text that the pattern's automaton does not read (the general search may
// stop at its step bound, which the walk reports as a fault).
template <class View, bool kShortcuts>
auto Validator<View, kShortcuts>::leaf_verdict(Node at, const SchemaRule& rule) const
    -> LeafVerdict {
    if (rule.kind != RuleKind::Keywords)
        return rule.kind == RuleKind::Anything ? LeafVerdict::Pass : LeafVerdict::Fail;
    const DataValue v = view_.value_of(at);
    constexpr unsigned kNotScalar = 1u << static_cast<unsigned>(ValueKind::Sequence) |
                                    1u << static_cast<unsigned>(ValueKind::Mapping) |
                                    1u << static_cast<unsigned>(ValueKind::Tagged);
    if ((1u << static_cast<unsigned>(v.kind)) & kNotScalar) return LeafVerdict::Unknown;
    return scalar_verdict(v, rule);
}

// A scalar's value, read once, against a leaf rule and the leaf rules of
// its combinators.
template <class View, bool kShortcuts>
auto Validator<View, kShortcuts>::scalar_verdict(const DataValue& v, const SchemaRule& rule) const
    -> LeafVerdict {
    if (rule.kind != RuleKind::Keywords)
        return rule.kind == RuleKind::Anything ? LeafVerdict::Pass : LeafVerdict::Fail;
    if (rule.type && !(rule.type_mask & value_type_bits(v.kind))) return LeafVerdict::Fail;
    if (rule.enum_values && !scalar_in_enum(v, rule)) return LeafVerdict::Fail;
    if (rule.const_value && !data_equal(v, data_of(*rule.const_value))) return LeafVerdict::Fail;
    if (rule.has(SchemaRule::kNumbers)) {
        if (v.kind == ValueKind::BigInt) return LeafVerdict::Unknown;
        if (v.kind == ValueKind::Int && !number_fits(rule, Number::from_int(v.integer)))
            return LeafVerdict::Fail;
        if (v.kind == ValueKind::Float && !number_fits(rule, Number::from_float(v.real)))
            return LeafVerdict::Fail;
    }
    if (v.kind == ValueKind::String && rule.has(SchemaRule::kStrings)) {
        const LeafVerdict text = string_verdict(rule, v.text);
        if (text != LeafVerdict::Pass) return text;
    }
    if (rule.has(SchemaRule::kCombinators)) return combinator_verdict(v, rule);
    return LeafVerdict::Pass;
}

// The combinators in the walk's order, each of their rules a leaf: a probe
// stops at the first failure, and an anyOf at its first passing branch, so
// only a branch the walk would check can leave the verdict unknown.
template <class View, bool kShortcuts>
auto Validator<View, kShortcuts>::combinator_verdict(const DataValue& v,
                                                     const SchemaRule& rule) const -> LeafVerdict {
    using V = LeafVerdict;
    const auto of = [&](const SchemaRule* sub) { return scalar_verdict(v, *sub->leaf); };
    for (const SchemaRule* sub : rule.all_of)
        if (const LeafVerdict r = of(sub); r != V::Pass) return r;
    if (rule.has_any_of) {
        bool any = false;
        for (const SchemaRule* sub : rule.any_of) {
            const LeafVerdict r = of(sub);
            if (r == V::Unknown) return V::Unknown;
            if ((any = r == V::Pass)) break;
        }
        if (!any) return V::Fail;
    }
    if (rule.has_one_of) {
        std::size_t matched = 0;
        for (const SchemaRule* sub : rule.one_of) {
            const LeafVerdict r = of(sub);
            if (r == V::Unknown) return V::Unknown;
            matched += r == V::Pass ? 1 : 0;
        }
        if (matched != 1) return V::Fail;
    }
    if (rule.not_rule) {
        const LeafVerdict r = of(rule.not_rule);
        if (r != V::Fail) return r == V::Pass ? V::Fail : V::Unknown;
    }
    if (rule.if_rule) {
        const LeafVerdict condition = of(rule.if_rule);
        if (condition == V::Unknown) return V::Unknown;
        const SchemaRule* branch = condition == V::Pass ? rule.then_rule : rule.else_rule;
        if (branch) return of(branch);
    }
    return V::Pass;
}

template <class View, bool kShortcuts>
auto Validator<View, kShortcuts>::string_verdict(const SchemaRule& rule,
                                                 std::string_view text) const -> LeafVerdict {
    if (rule.min_length || rule.max_length) {
        const LengthFit fit = length_fit(rule, text);
        if (fit.too_short || fit.too_long) return LeafVerdict::Fail;
    }
    if (rule.pattern) {
        const std::optional<bool> found = rule.pattern->search_ascii(text);
        if (!found) return LeafVerdict::Unknown;
        if (!*found) return LeafVerdict::Fail;
    }
    if (rule.format != Format::None && schema_.options().assert_formats &&
        !format_holds(rule.format, text))
        return LeafVerdict::Fail;
    return LeafVerdict::Pass;
}

// Collections compare by content: items in order, entries by key whatever
// their order (as two dicts compare).
template <class View, bool kShortcuts>
bool Validator<View, kShortcuts>::equals(Node at, const YamlValue& s) const {
    const NodeKind kind = view_.kind(at);
    const std::uint32_t n = view_.count(at);
    if (kind == NodeKind::Sequence) {
        if (s.kind != ValueKind::Sequence || s.children().size() != n) return false;
        return ensure_stack([&] {
            for (std::uint32_t i = 0; i < n; ++i)
                if (!equals(view_.child(at, i), s.children()[i])) return false;
            return true;
        });
    }
    if (kind == NodeKind::Mapping) {
        if (s.kind != ValueKind::Mapping || s.children().size() != n) return false;
        return ensure_stack([&] {
            for (std::size_t i = 0; i < s.map_size(); ++i)
                if (!has_entry(at, s.key(i), s.value(i))) return false;
            return true;
        });
    }
    return scalars_equal(view_.value_of(at), s);
}

template <class View, bool kShortcuts>
bool Validator<View, kShortcuts>::has_entry(Node at, const YamlValue& key,
                                            const YamlValue& value) const {
    const std::uint32_t n = view_.count(at);
    for (std::uint32_t i = 0; i + 1 < n; i += 2)
        if (equals(view_.child(at, i), key)) return equals(view_.child(at, i + 1), value);
    return false;
}

template <class View, bool kShortcuts>
bool Validator<View, kShortcuts>::in_enum(Node at, const SchemaRule& rule) const {
    const NodeKind kind = view_.kind(at);
    const bool collection = kind == NodeKind::Sequence || kind == NodeKind::Mapping;
    if (!collection) return scalar_in_enum(view_.value_of(at), rule);
    if (!rule.enum_index) {
        for (const YamlValue& item : rule.enum_values->children())
            if (equals(at, item)) return true;
        return false;
    }
    for (const YamlValue* item : rule.enum_index->others())
        if (equals(at, *item)) return true;
    return false;
}

template <class View, bool kShortcuts>
void Validator<View, kShortcuts>::report_type(Node at, const SchemaRule& rule, ValueKind kind,
                                              const PathLink* path) {
    // Called for a value whose kind the type does not allow.
    const YamlValue& type = *rule.type;
    auto message = [kind](std::string expected) {
        return "expected type " + expected + ", found " + json_type_name(kind);
    };
    if (type.kind == ValueKind::String) {
        report(at, path, rule, "type", [&] { return message(std::string(type.text())); });
        return;
    }
    report(at, path, rule, "type", [&] {
        std::string names;
        for (const YamlValue& item : type.children()) {
            if (item.kind != ValueKind::String) continue;
            if (!names.empty()) names += " | ";
            names += item.text();
        }
        return message(std::move(names));
    });
}

template <class View, bool kShortcuts>
void Validator<View, kShortcuts>::check_number(Node at, const SchemaRule& rule, const DataValue& v,
                                               const PathLink* path) {
    std::optional<Number> number;
    if (v.kind == ValueKind::Int) number = Number::from_int(v.integer);
    if (v.kind == ValueKind::Float) number = Number::from_float(v.real);
    if (v.kind == ValueKind::BigInt) number = Number::from_big(v.text);
    if (!number || done()) return;
    const Number x = *number;
    auto message = [&x](const char* between, const Number& bound) {
        return [&x, between, &bound] {
            return "value " + number_message_text(x) + between + number_message_text(bound);
        };
    };
    auto outside = [&x](BoundKind kind, const std::optional<Number>& bound) {
        return bound && !within_bound(kind, x, *bound);
    };
    if (outside(BoundKind::Minimum, rule.minimum))
        report(at, path, rule, "minimum", message(" is less than minimum ", *rule.minimum));
    if (outside(BoundKind::Maximum, rule.maximum))
        report(at, path, rule, "maximum", message(" is greater than maximum ", *rule.maximum));
    if (rule.multiple_of && !done() && !is_multiple_of(x, *rule.multiple_of))
        report(at, path, rule, "multipleOf", message(" is not a multiple of ", *rule.multiple_of));
    if (outside(BoundKind::ExclusiveMinimum, rule.exclusive_minimum))
        report(at, path, rule, rule.exclusive_minimum_keyword,
               message(" is not greater than ", *rule.exclusive_minimum));
    if (outside(BoundKind::ExclusiveMaximum, rule.exclusive_maximum))
        report(at, path, rule, rule.exclusive_maximum_keyword,
               message(" is not less than ", *rule.exclusive_maximum));
}

template <class View, bool kShortcuts>
void Validator<View, kShortcuts>::check_string(Node at, const SchemaRule& rule,
                                               std::string_view text, const PathLink* path) {
    if (done()) return;
    const LengthFit fit = length_fit(rule, text);
    if (fit.too_short)
        report(at, path, rule, "minLength",
               [&] { return "string is shorter than minLength " + number_text(*rule.min_length); });
    if (fit.too_long)
        report(at, path, rule, "maxLength",
               [&] { return "string is longer than maxLength " + number_text(*rule.max_length); });
    if (rule.pattern && !done() &&
        !search(at, path, *rule.pattern, rule.pattern_source, rule.location, "/pattern", text))
        report(at, path, rule, "pattern", [&] {
            return "string does not match pattern '" + std::string(rule.pattern_source) + "'";
        });
    if (rule.format != Format::None && schema_.options().assert_formats && !done() &&
        !format_holds(rule.format, text))
        report(at, path, rule, "format",
               [&] { return "string is not a valid " + std::string(rule.format_name); });
}

// A search stopped at its step bound is neither a match nor a miss: it ends
// validation with an error that names the pattern. The verdict it would
// have given is unknown, so none is given.
template <class View, bool kShortcuts>
bool Validator<View, kShortcuts>::search(Node at, const PathLink* path, const EcmaRegex& regex,
                                         std::string_view source, const std::string& location,
                                         std::string_view keyword, std::string_view text) {
    if (const std::optional<bool> quick = regex.search_ascii(text)) return *quick;
    const Result<bool> found = regex.search(text);
    if (found) return *found;
    fault(at, path,
          "the pattern '" + std::string(source) + "' at " + location + std::string(keyword) +
              " gave up on this string (" + found.error().message + ")");
    return true;
}

template <class View, bool kShortcuts>
bool Validator<View, kShortcuts>::name_matches(Node key, const PathLink* path,
                                               const PatternRule& pattern, std::string_view name,
                                               const NameWords& words) {
    const auto find = [&] {
        return search(key, path, *pattern.regex, pattern.source, pattern.rule->location, "", name);
    };
    // Without shortcuts every name is searched, for the fuzzer's comparison.
    if (!kShortcuts || !words.exact()) return find();
    if (!name_verdicts_) name_verdicts_ = std::make_unique<NameVerdict[]>(1u << kNameVerdictBits);
    const std::size_t mixed =
        words.hash(kNameVerdictBits) ^ (reinterpret_cast<std::uintptr_t>(pattern.regex) >> 4);
    NameVerdict& slot = name_verdicts_[mixed & ((1u << kNameVerdictBits) - 1)];
    if (slot.regex == pattern.regex && slot.name == words) return slot.matches;
    const bool matches = find();
    // A search that gave up is a fault, reported once; only verdicts stay.
    if (!fault_) slot = {pattern.regex, words, matches};
    return matches;
}

}  // namespace quarvel
