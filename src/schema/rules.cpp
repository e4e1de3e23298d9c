#include "schema/rules.hpp"

#include <cmath>

#include "support/stack.hpp"

namespace quarvel {

std::optional<double> count_bound(const YamlValue& v) {
    if (v.kind == ValueKind::Int) return static_cast<double>(v.integer);
    if (v.kind == ValueKind::Float && std::isfinite(v.real) && std::trunc(v.real) == v.real)
        return v.real;
    return std::nullopt;
}

namespace {

// The value of the first entry keyed by the String `name`.
const YamlValue* keyword(const YamlValue& schema, std::string_view name) {
    for (std::size_t i = 0; i < schema.map_size(); ++i) {
        const YamlValue& k = schema.key(i);
        if (k.kind == ValueKind::String && k.text() == name) return &schema.value(i);
    }
    return nullptr;
}

const YamlValue* of_kind(const YamlValue* v, ValueKind kind) {
    return v && v->kind == kind ? v : nullptr;
}

std::optional<Number> bound(const YamlValue& schema, std::string_view name) {
    const YamlValue* v = keyword(schema, name);
    return v ? number_of(*v) : std::nullopt;
}

std::optional<double> count(const YamlValue& schema, std::string_view name) {
    const YamlValue* v = keyword(schema, name);
    return v ? count_bound(*v) : std::nullopt;
}

}  // namespace

const SchemaRule* SchemaRules::read(const YamlValue& schema) {
    const bool keyed = schema.kind == ValueKind::Mapping && schema.size != 0;
    if (keyed) {
        auto it = read_.find(schema.children().data());
        if (it != read_.end()) {
            it->second->shared = true;
            return it->second;
        }
    }
    SchemaRule& rule = store_.emplace_back();
    if (schema.kind == ValueKind::Bool) {
        rule.kind = schema.boolean ? RuleKind::Anything : RuleKind::Nothing;
        return &rule;
    }
    if (schema.kind != ValueKind::Mapping) return &rule;
    rule.kind = RuleKind::Keywords;
    const SchemaRule* made = ensure_stack([&] { return read_keywords(schema, rule); });
    if (made && keyed) read_.emplace(schema.children().data(), &rule);
    return made;
}

bool SchemaRules::read_list(const YamlValue& list, std::vector<const SchemaRule*>& out) {
    out.reserve(list.children().size());
    for (const YamlValue& sub : list.children()) {
        const SchemaRule* r = read(sub);
        if (!r) return false;
        out.push_back(r);
    }
    return true;
}

const SchemaRule* SchemaRules::read_keywords(const YamlValue& schema, SchemaRule& rule) {
    const YamlValue* type = keyword(schema, "type");
    if (type && (type->kind == ValueKind::String || type->kind == ValueKind::Sequence))
        rule.type = type;
    rule.enum_values = of_kind(keyword(schema, "enum"), ValueKind::Sequence);
    if (rule.enum_values && rule.enum_values->children().size() >= EnumIndex::kWorthwhile)
        rule.enum_index = &enum_indexes_.emplace_back(*rule.enum_values);
    rule.const_value = keyword(schema, "const");
    rule.minimum = bound(schema, "minimum");
    rule.maximum = bound(schema, "maximum");
    rule.exclusive_minimum = bound(schema, "exclusiveMinimum");
    rule.exclusive_maximum = bound(schema, "exclusiveMaximum");
    rule.min_length = count(schema, "minLength");
    rule.max_length = count(schema, "maxLength");
    rule.min_items = count(schema, "minItems");
    rule.max_items = count(schema, "maxItems");
    const YamlValue* required = of_kind(keyword(schema, "required"), ValueKind::Sequence);
    if (required && !required->children().empty()) rule.required = required;

    if (const YamlValue* props = of_kind(keyword(schema, "properties"), ValueKind::Mapping)) {
        rule.has_properties = true;
        rule.properties.reserve(props->map_size());
        for (std::size_t i = 0; i < props->map_size(); ++i) {
            const SchemaRule* sub = read(props->value(i));
            if (!sub) return nullptr;
            // Only String names can match a key; the others are never looked up.
            if (props->key(i).kind == ValueKind::String)
                rule.properties.push_back({props->key(i).text(), sub});
        }
    }
    if (const YamlValue* extra = keyword(schema, "additionalProperties")) {
        if (extra->kind == ValueKind::Bool && !extra->boolean) {
            rule.additional = Additional::Forbidden;
        } else if (extra->kind == ValueKind::Mapping) {
            rule.additional = Additional::Checked;
            if (!(rule.additional_rule = read(*extra))) return nullptr;
        }
    }
    if (const YamlValue* items = keyword(schema, "items"))
        if (!(rule.items = read(*items))) return nullptr;

    struct Combinator {
        const char* name;
        bool& present;
        std::vector<const SchemaRule*>& rules;
    };
    for (Combinator c : {Combinator{"allOf", rule.has_all_of, rule.all_of},
                         Combinator{"anyOf", rule.has_any_of, rule.any_of},
                         Combinator{"oneOf", rule.has_one_of, rule.one_of}}) {
        const YamlValue* list = of_kind(keyword(schema, c.name), ValueKind::Sequence);
        if (!list) continue;
        c.present = true;
        if (!read_list(*list, c.rules)) return nullptr;
    }
    if (const YamlValue* negated = keyword(schema, "not"))
        if (!(rule.not_rule = read(*negated))) return nullptr;
    return &rule;
}

}  // namespace quarvel
