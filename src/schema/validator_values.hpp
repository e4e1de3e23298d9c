// The keywords on any value: type, enum, const, the numeric bounds and
// multipleOf, string lengths, pattern and format.
#pragma once

#include "schema/format.hpp"
#include "schema/numbers.hpp"
#include "schema/validator.hpp"
#include "support/utf8.hpp"

namespace quarvel {

// Collections compare by content: items in order, entries by key whatever
// their order (as two dicts compare).
template <class View>
bool Validator<View>::equals(Node at, const YamlValue& s) const {
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

template <class View>
bool Validator<View>::has_entry(Node at, const YamlValue& key, const YamlValue& value) const {
    const std::uint32_t n = view_.count(at);
    for (std::uint32_t i = 0; i + 1 < n; i += 2)
        if (equals(view_.child(at, i), key)) return equals(view_.child(at, i + 1), value);
    return false;
}

template <class View>
bool Validator<View>::in_enum(Node at, const SchemaRule& rule) const {
    if (!rule.enum_index) {
        for (const YamlValue& item : rule.enum_values->children())
            if (equals(at, item)) return true;
        return false;
    }
    const NodeKind kind = view_.kind(at);
    if (kind != NodeKind::Sequence && kind != NodeKind::Mapping)
        return rule.enum_index->has_scalar(view_.value_of(at));
    for (const YamlValue* item : rule.enum_index->others())
        if (equals(at, *item)) return true;
    return false;
}

template <class View>
void Validator<View>::report_type(Node at, const SchemaRule& rule, ValueKind kind,
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

template <class View>
void Validator<View>::check_number(Node at, const SchemaRule& rule, const DataValue& v,
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
    auto order = [&x](const Number& bound) { return compare_numbers(x, bound); };
    if (rule.minimum && order(*rule.minimum) < 0)
        report(at, path, rule, "minimum", message(" is less than minimum ", *rule.minimum));
    if (rule.maximum && order(*rule.maximum) > 0)
        report(at, path, rule, "maximum", message(" is greater than maximum ", *rule.maximum));
    if (rule.multiple_of && !done() && !is_multiple_of(x, *rule.multiple_of))
        report(at, path, rule, "multipleOf", message(" is not a multiple of ", *rule.multiple_of));
    if (is_nan(x)) return;  // NaN is neither above nor below a bound
    if (rule.exclusive_minimum && !(order(*rule.exclusive_minimum) > 0))
        report(at, path, rule, rule.exclusive_minimum_keyword,
               message(" is not greater than ", *rule.exclusive_minimum));
    if (rule.exclusive_maximum && !(order(*rule.exclusive_maximum) < 0))
        report(at, path, rule, rule.exclusive_maximum_keyword,
               message(" is not less than ", *rule.exclusive_maximum));
}

template <class View>
void Validator<View>::check_string(Node at, const SchemaRule& rule, std::string_view text,
                                   const PathLink* path) {
    if (done()) return;
    // A character takes one to four bytes, so the byte count alone often
    // settles the bounds; the characters are counted only when it does not.
    const auto bytes = static_cast<double>(text.size());
    const bool settled = (!rule.min_length || bytes / 4 >= *rule.min_length) &&
                         (!rule.max_length || bytes <= *rule.max_length);
    if (!settled) {
        const auto length = static_cast<double>(utf8::count_chars(text));
        if (rule.min_length && length < *rule.min_length)
            report(at, path, rule, "minLength", [&] {
                return "string is shorter than minLength " + number_text(*rule.min_length);
            });
        if (rule.max_length && length > *rule.max_length)
            report(at, path, rule, "maxLength", [&] {
                return "string is longer than maxLength " + number_text(*rule.max_length);
            });
    }
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
template <class View>
bool Validator<View>::search(Node at, const PathLink* path, const EcmaRegex& regex,
                             std::string_view source, const std::string& location,
                             std::string_view keyword, std::string_view text) {
    const Result<bool> found = regex.search(text);
    if (found) return *found;
    fault(at, path,
          "the pattern '" + std::string(source) + "' at " + location + std::string(keyword) +
              " gave up on this string (" + found.error().message + ")");
    return true;
}

}  // namespace quarvel
