// The keywords on mappings: required, the property counts, dependencies,
// properties, patternProperties, additionalProperties and propertyNames.
#pragma once

#include "schema/validator.hpp"

namespace quarvel {

// The search starts at entry `from` and goes round; it leaves `from` after
// the key it found. Documents mostly write their keys in the order the
// schema lists them, so looking for the required names in turn finds each
// at the first entry looked at.
template <class View, bool kShortcuts>
bool Validator<View, kShortcuts>::has_key(Node at, const NameMatch& name,
                                          std::uint32_t& from) const {
    const std::uint32_t entries = view_.count(at) / 2;
    for (std::uint32_t k = 0, e = from < entries ? from : 0; k < entries; ++k) {
        const Node key = view_.child(at, 2 * e);
        if (view_.is_key(key) && name.matches(view_.key_text(key))) {
            from = e + 1;
            return true;
        }
        if (++e == entries) e = 0;
    }
    return false;
}

template <class View, bool kShortcuts>
void Validator<View, kShortcuts>::check_object(Node at, const SchemaRule& rule,
                                               const PathLink* path) {
    if (rule.required) {
        std::uint32_t from = 0;
        for (const NameMatch& name : rule.required_names) {
            if (done()) return;
            if (!has_key(at, name, from))
                report(at, path, rule, "required", [&] {
                    return "missing required property '" + std::string(name.name) + "'";
                });
        }
    }
    const std::uint32_t entries = view_.count(at) / 2;
    const auto count = static_cast<double>(entries);
    if (rule.min_properties && count < *rule.min_properties && !done())
        report(at, path, rule, "minProperties", [&] {
            return "object has fewer than minProperties " + number_text(*rule.min_properties);
        });
    if (rule.max_properties && count > *rule.max_properties && !done())
        report(at, path, rule, "maxProperties", [&] {
            return "object has more than maxProperties " + number_text(*rule.max_properties);
        });
    if (!rule.dependent_required.empty() || !rule.dependent_schemas.empty())
        check_dependencies(at, rule, path);
    const bool per_entry = rule.has_properties || !rule.pattern_properties.empty() ||
                           rule.additional || rule.property_names;
    if (!per_entry) return;
    for (std::uint32_t e = 0; e < entries && !done(); ++e) check_entry(at, e, rule, path);
}

template <class View, bool kShortcuts>
void Validator<View, kShortcuts>::check_entry(Node at, std::uint32_t entry, const SchemaRule& rule,
                                              const PathLink* path) {
    const Node key = view_.child(at, 2 * entry);
    if (!view_.is_key(key)) return;
    const std::string_view name = view_.key_text(key);
    const Node value = view_.child(at, 2 * entry + 1);
    bool evaluated = false;
    const SchemaRule* sub = rule.property(name);
    // The commonest entry: a property whose scalar is settled inline, which
    // needs no path.
    if (sub && rule.pattern_properties.empty() && !evaluated_ && !rule.property_names &&
        settled_inline(value, *sub))
        return;
    const PathLink step{path, name, 0, true};
    if (sub) {
        check_child(value, *sub, &step);
        evaluated = true;
    }
    if (!rule.pattern_properties.empty()) {
        const NameWords words(name);
        for (const PatternRule& p : rule.pattern_properties) {
            if (done()) return;
            if (!name_matches(key, &step, p, name, words)) continue;
            check_child(value, *p.rule, &step);
            evaluated = true;
        }
    }
    if (!evaluated && rule.additional && !done()) {
        evaluated = true;
        if (rule.additional->kind == RuleKind::Nothing) {
            report(value, &step, rule, "additionalProperties", [&] {
                return "additional property '" + std::string(name) + "' is not allowed";
            });
        } else {
            check_child(value, *rule.additional, &step);
        }
    }
    if (evaluated && evaluated_) evaluated_->properties[entry] = true;
    if (rule.property_names && !done()) check_name(key, name, rule, &step);
}

// A property name is checked as the string it is, whatever a scalar of that
// text would resolve to ("1" is a name, not a number): through a view of
// that one string. Shown at the key, with the path of its entry.
template <class View, bool kShortcuts>
void Validator<View, kShortcuts>::check_name(Node key, std::string_view name,
                                             const SchemaRule& rule, const PathLink* step) {
    const NameView names(name);
    std::vector<SchemaViolation> unused;
    Validator<NameView, kShortcuts> inner(names, schema_, unused);
    const bool ok = inner.satisfies(*rule.property_names);
    if (inner.fault()) {
        // Placed at the key, like the report below.
        Error e = *inner.fault();
        e.schema_path = path_text(step);
        e.line = view_.line(key);
        e.column = view_.column(key);
        fault_ = std::move(e);
        return;
    }
    if (!ok)
        report(key, step, rule, "propertyNames", [&] {
            return "property name '" + std::string(name) + "' does not match propertyNames";
        });
}

template <class View, bool kShortcuts>
void Validator<View, kShortcuts>::check_dependencies(Node at, const SchemaRule& rule,
                                                     const PathLink* path) {
    for (const RequiredWith& d : rule.dependent_required) {
        if (done()) return;
        if (std::uint32_t from = 0; !has_key(at, NameMatch(d.name), from)) continue;
        for (const YamlValue& name : d.required->children()) {
            if (std::uint32_t from = 0; name.kind != ValueKind::String ||
                                        has_key(at, NameMatch(name.text()), from) || done())
                continue;
            report(
                at, path, rule, d.keyword,
                [&] {
                    return "missing property '" + std::string(name.text()) + "', required when '" +
                           std::string(d.name) + "' is present";
                },
                d.name);
        }
    }
    for (const NamedRule& d : rule.dependent_schemas) {
        if (done()) return;
        if (std::uint32_t from = 0; has_key(at, NameMatch(d.name), from)) apply(at, *d.rule, path);
    }
}

}  // namespace quarvel
