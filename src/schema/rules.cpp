#include "schema/rules.hpp"

#include <algorithm>
#include <cmath>

#include "schema/rule_reader.hpp"
#include "schema/uri.hpp"
#include "support/stack.hpp"

namespace quarvel {

std::optional<double> count_bound(const YamlValue& v) {
    if (v.kind == ValueKind::Int) return static_cast<double>(v.integer);
    if (v.kind == ValueKind::Float && std::isfinite(v.real) && std::trunc(v.real) == v.real)
        return v.real;
    return std::nullopt;
}

std::uint8_t type_name_bits(std::string_view name) {
    if (name == "null") return TypeBits::kNull;
    if (name == "boolean") return TypeBits::kBoolean;
    if (name == "integer") return TypeBits::kInteger;
    if (name == "number") return TypeBits::kNumber;
    if (name == "string") return TypeBits::kString;
    if (name == "array") return TypeBits::kArray;
    if (name == "object") return TypeBits::kObject;
    return 0x7f;  // an unknown type name imposes nothing
}

void SchemaRule::note_groups() {
    auto set = [this](bool present, Group g) {
        if (present) groups |= g;
    };
    set(ref || dynamic_ref, kReferences);
    set(minimum || maximum || exclusive_minimum || exclusive_maximum || multiple_of, kNumbers);
    set(min_length || max_length || pattern || format != Format::None, kStrings);
    set(required || has_properties || !pattern_properties.empty() || additional || property_names ||
            min_properties || max_properties || !dependent_required.empty() ||
            !dependent_schemas.empty(),
        kObjects);
    set(min_items || max_items || !prefix_items.empty() || items || contains || unique_items,
        kArrays);
    set(has_all_of || has_any_of || has_one_of || not_rule || if_rule, kCombinators);
    tracking = tracks_evaluation();
    if (required)
        for (const YamlValue& name : required->children())
            if (name.kind == ValueKind::String) required_names.emplace_back(name.text());
    if (has(kNumbers)) {
        std::vector<Bound> bounds;
        const auto add = [&bounds](BoundKind kind, const std::optional<Number>& value) {
            if (value) bounds.push_back({kind, &*value});
        };
        add(BoundKind::Minimum, minimum);
        add(BoundKind::Maximum, maximum);
        add(BoundKind::ExclusiveMinimum, exclusive_minimum);
        add(BoundKind::ExclusiveMaximum, exclusive_maximum);
        if (!bounds.empty()) number_range = range_within(bounds);
    }
    only_ref = groups == kReferences && ref && !dynamic_ref && !type && !enum_values &&
               !const_value && !tracks_evaluation();
}

bool SchemaRule::reads_only_the_value() const {
    if (kind != RuleKind::Keywords) return true;
    // A rule with keywords for collections is mostly met by collections,
    // which the walk checks: asking first would only cost a branch that
    // goes either way.
    if (has(kReferences) || has(kObjects) || has(kArrays) || tracking) return false;
    if (!has(kCombinators)) return true;
    bool settled = true;
    for_each_in_place([&settled](const SchemaRule* r) { settled = settled && r && r->leaf; });
    return settled;
}

namespace {

// Where a chain of bare references ends (nowhere, for a chain that loops).
const SchemaRule* chain_end(const SchemaRule& rule) {
    const SchemaRule* at = &rule;
    for (int hops = 0; at->only_ref && hops < 64; ++hops) at = at->ref;
    return at->only_ref ? nullptr : at;
}

// Once every rule is read. A rule whose combinators lead to rules that
// settle scalars settles them too, so each round finds the rules one level
// of combinators further out; the rounds are bounded, which bounds how deep
// a leaf check recurses.
void note_leaves(std::deque<SchemaRule>& rules) {
    constexpr int kRounds = 8;
    for (int round = 0; round < kRounds; ++round) {
        bool added = false;
        for (SchemaRule& rule : rules) {
            if (rule.leaf) continue;
            const SchemaRule* end = chain_end(rule);
            if (!end || !end->reads_only_the_value()) continue;
            rule.leaf = end;
            added = true;
        }
        if (!added) return;
    }
}

}  // namespace

// Once the cycles are known: the walk follows a bare reference that is not
// shared, unless the dynamic scope must enter its resource, and keeps a
// record only of rules that can loop.
void SchemaRule::note_through(bool dynamic_scope) {
    if (!passes_through(dynamic_scope)) return;
    const SchemaRule* at = ref;
    for (int hops = 0; !at->recurs_in_place; ++hops) {
        if (!at->passes_through(dynamic_scope)) {
            through = at;
            return;
        }
        if (hops == 64) return;
        at = at->ref;
    }
}

namespace {

// Marks the rules that lie on a cycle of in-place applications: the
// strongly connected components of that graph with more than one rule, or
// a rule that applies itself. Tarjan's algorithm, with an explicit stack so
// that a long chain of references cannot exhaust the machine's.
void note_in_place_cycles(std::deque<SchemaRule>& rules) {
    std::unordered_map<const SchemaRule*, std::uint32_t> id;
    for (SchemaRule& r : rules) id.emplace(&r, static_cast<std::uint32_t>(id.size()));
    std::vector<std::vector<std::uint32_t>> next(rules.size());
    std::vector<SchemaRule*> of(rules.size());
    for (SchemaRule& r : rules) {
        const std::uint32_t from = id.at(&r);
        of[from] = &r;
        r.for_each_in_place([&](const SchemaRule* to) {
            if (!to) return;
            const std::uint32_t target = id.at(to);
            if (target == from) r.recurs_in_place = true;
            next[from].push_back(target);
        });
    }
    constexpr std::uint32_t kUnseen = ~std::uint32_t{0};
    std::vector<std::uint32_t> order(rules.size(), kUnseen), low(rules.size(), 0);
    std::vector<bool> on_stack(rules.size(), false);
    std::vector<std::uint32_t> component;
    std::vector<std::pair<std::uint32_t, std::size_t>> calls;  // rule, next successor
    std::uint32_t counter = 0;
    for (std::uint32_t root = 0; root < rules.size(); ++root) {
        if (order[root] != kUnseen) continue;
        calls.emplace_back(root, 0);
        order[root] = low[root] = counter++;
        component.push_back(root);
        on_stack[root] = true;
        while (!calls.empty()) {
            auto& [v, k] = calls.back();
            if (k < next[v].size()) {
                const std::uint32_t w = next[v][k++];
                if (order[w] == kUnseen) {
                    order[w] = low[w] = counter++;
                    component.push_back(w);
                    on_stack[w] = true;
                    calls.emplace_back(w, 0);
                } else if (on_stack[w]) {
                    low[v] = std::min(low[v], order[w]);
                }
                continue;
            }
            const std::uint32_t done = v;
            calls.pop_back();
            if (!calls.empty())
                low[calls.back().first] = std::min(low[calls.back().first], low[done]);
            if (low[done] != order[done]) continue;
            const bool cycle = component.back() != done;
            for (std::uint32_t w = kUnseen; w != done;) {
                w = component.back();
                component.pop_back();
                on_stack[w] = false;
                if (cycle) of[w]->recurs_in_place = true;
            }
        }
    }
}

}  // namespace

PropertyTable::PropertyTable(const std::vector<NamedRule>& properties) {
    bits_ = 2;
    while ((std::size_t{1} << bits_) < 2 * properties.size()) ++bits_;
    slots_.resize(std::size_t{1} << bits_);
    mask_ = slots_.size() - 1;
    for (const NamedRule& p : properties) {
        const NameWords words(p.name);
        std::size_t i = words.hash(bits_);
        while (slots_[i].rule && slots_[i].name != p.name) i = (i + 1) & mask_;
        if (!slots_[i].rule) slots_[i] = Slot{words, p.name, p.rule};
    }
}

namespace {

const YamlValue* of_kind(const YamlValue* v, ValueKind kind) {
    return v && v->kind == kind ? v : nullptr;
}

std::optional<Number> bound(const YamlValue& schema, std::string_view name) {
    const YamlValue* v = schema_keyword(schema, name);
    return v ? number_of(*v) : std::nullopt;
}

std::optional<double> count(const YamlValue& schema, std::string_view name) {
    const YamlValue* v = schema_keyword(schema, name);
    return v ? count_bound(*v) : std::nullopt;
}

bool is_true(const YamlValue* v) {
    return v && v->kind == ValueKind::Bool && v->boolean;
}

Format format_named(std::string_view name) {
    static const std::unordered_map<std::string_view, Format> formats = {
        {"date", Format::Date},   {"time", Format::Time},         {"date-time", Format::DateTime},
        {"email", Format::Email}, {"hostname", Format::Hostname}, {"ipv4", Format::Ipv4},
        {"ipv6", Format::Ipv6},   {"uri", Format::Uri},           {"uuid", Format::Uuid},
        {"regex", Format::Regex},
    };
    const auto it = formats.find(name);
    return it == formats.end() ? Format::None : it->second;
}

}  // namespace

Result<std::unique_ptr<CompiledSchema>> CompiledSchema::compile(const YamlValue& schema,
                                                                SchemaFetcher* fetcher,
                                                                SchemaOptions options) {
    auto out = std::unique_ptr<CompiledSchema>(new CompiledSchema());
    out->options_ = options;
    const Draft draft = draft_of(schema, Draft::Draft2020);
    out->index_.add_document(schema, "", draft);
    if (stack_exhausted()) return fail(stack_exhausted_error());
    RuleReader reader(*out, fetcher);
    out->root_ = reader.read(schema, SchemaContext{0, 0}, "#");
    if (out->root_ && !reader.complete_dynamic_refs()) out->root_ = nullptr;
    if (!out->root_) return fail(reader.error ? *reader.error : stack_exhausted_error());
    note_leaves(out->store_);
    note_in_place_cycles(out->store_);
    for (SchemaRule& rule : out->store_) rule.note_through(out->dynamic_);
    return out;
}

bool RuleReader::fail_with(Error e) {
    if (!error) error = std::move(e);
    return false;
}

const SchemaRule* RuleReader::read(const YamlValue& schema, SchemaContext context,
                                   std::string location) {
    const bool keyed = schema.kind == ValueKind::Mapping && schema.size != 0;
    if (keyed) {
        auto it = out_.read_.find(schema.children().data());
        if (it != out_.read_.end()) {
            it->second->shared = true;
            return it->second;
        }
    }
    SchemaRule& rule = out_.store_.emplace_back();
    rule.location = std::move(location);
    rule.resource = context.resource;
    if (schema.kind == ValueKind::Bool) {
        rule.kind = schema.boolean ? RuleKind::Anything : RuleKind::Nothing;
        return &rule;
    }
    if (!keyed) return &rule;
    if (const SchemaPlace* place = out_.index_.place(schema)) {
        context = {place->document, place->resource};
        rule.resource = context.resource;
    }
    rule.kind = RuleKind::Keywords;
    // Recorded before the keywords are read: a reference back to this
    // schema, directly or through others, finds it rather than reading it
    // again without end.
    out_.read_.emplace(schema.children().data(), &rule);
    const bool ok = ensure_stack([&] { return read_keywords(schema, rule, context); });
    rule.note_groups();
    return ok ? &rule : nullptr;
}

const SchemaRule* RuleReader::sub(const YamlValue& value, const SchemaRule& parent,
                                  SchemaContext context, std::string_view keyword,
                                  std::string_view token, bool has_token) {
    std::string location = parent.location;
    location += '/';
    append_pointer_token(location, keyword);
    if (has_token) {
        location += '/';
        append_pointer_token(location, token);
    }
    return read(value, context, std::move(location));
}

bool RuleReader::sub_list(const YamlValue& list, const SchemaRule& parent, SchemaContext context,
                          std::string_view keyword, std::vector<const SchemaRule*>& out) {
    out.reserve(list.children().size());
    for (std::size_t i = 0; i < list.children().size(); ++i) {
        const SchemaRule* r =
            sub(list.children()[i], parent, context, keyword, std::to_string(i), true);
        if (!r) return false;
        out.push_back(r);
    }
    return true;
}

const EcmaRegex* RuleReader::compile(std::string_view pattern, const std::string& where) {
    if (auto it = compiled_.find(pattern); it != compiled_.end()) return it->second;
    auto regex = EcmaRegex::compile(pattern);
    if (!regex) {
        Error e = regex.error();
        e.family = ErrorFamily::Schema;
        e.has_position = false;
        e.message = "invalid regular expression in the schema at " + where + ": " + e.message;
        fail_with(std::move(e));
        return nullptr;
    }
    const EcmaRegex* stored = &out_.regexes_.emplace_back(std::move(*regex));
    compiled_.emplace(pattern, stored);
    return stored;
}

bool RuleReader::read_keywords(const YamlValue& schema, SchemaRule& rule, SchemaContext context) {
    const Draft draft = out_.index_.draft(context.document);
    if (!read_references(schema, rule, context)) return false;
    // Draft 7 ignores the keywords beside a "$ref".
    if (draft == Draft::Draft7 && rule.ref) return true;
    return read_values(schema, rule, draft) && read_objects(schema, rule, context) &&
           read_arrays(schema, rule, context) && read_combinators(schema, rule, context);
}

bool RuleReader::read_values(const YamlValue& schema, SchemaRule& rule, Draft) {
    const YamlValue* type = schema_keyword(schema, "type");
    if (type && type->kind == ValueKind::String) {
        rule.type = type;
        rule.type_mask = type_name_bits(type->text());
    } else if (type && type->kind == ValueKind::Sequence) {
        rule.type = type;
        for (const YamlValue& item : type->children())
            if (item.kind == ValueKind::String) rule.type_mask |= type_name_bits(item.text());
    }
    rule.enum_values = of_kind(schema_keyword(schema, "enum"), ValueKind::Sequence);
    if (rule.enum_values && rule.enum_values->children().size() >= EnumIndex::kWorthwhile)
        rule.enum_index = &out_.enum_indexes_.emplace_back(*rule.enum_values);
    rule.const_value = schema_keyword(schema, "const");
    rule.minimum = bound(schema, "minimum");
    rule.maximum = bound(schema, "maximum");
    // Draft 4 made a bound exclusive with a boolean beside it.
    if (is_true(schema_keyword(schema, "exclusiveMinimum")) && rule.minimum) {
        rule.exclusive_minimum = rule.minimum;
        rule.exclusive_minimum_keyword = "minimum";
        rule.minimum.reset();
    } else {
        rule.exclusive_minimum = bound(schema, "exclusiveMinimum");
    }
    if (is_true(schema_keyword(schema, "exclusiveMaximum")) && rule.maximum) {
        rule.exclusive_maximum = rule.maximum;
        rule.exclusive_maximum_keyword = "maximum";
        rule.maximum.reset();
    } else {
        rule.exclusive_maximum = bound(schema, "exclusiveMaximum");
    }
    // A divisor must be above zero; another one checks nothing.
    rule.multiple_of = bound(schema, "multipleOf");
    if (rule.multiple_of && !(compare_numbers(*rule.multiple_of, Number::from_int(0)) > 0))
        rule.multiple_of.reset();
    rule.min_length = count(schema, "minLength");
    rule.max_length = count(schema, "maxLength");
    if (const YamlValue* p = of_kind(schema_keyword(schema, "pattern"), ValueKind::String)) {
        rule.pattern_source = p->text();
        if (!(rule.pattern = compile(p->text(), rule.location + "/pattern"))) return false;
    }
    if (const YamlValue* f = of_kind(schema_keyword(schema, "format"), ValueKind::String)) {
        rule.format = format_named(f->text());
        rule.format_name = f->text();
    }
    return true;
}

bool RuleReader::read_objects(const YamlValue& schema, SchemaRule& rule, SchemaContext context) {
    const Draft draft = out_.index_.draft(context.document);
    const YamlValue* required = of_kind(schema_keyword(schema, "required"), ValueKind::Sequence);
    if (required && !required->children().empty()) rule.required = required;
    if (const YamlValue* props =
            of_kind(schema_keyword(schema, "properties"), ValueKind::Mapping)) {
        rule.has_properties = true;
        rule.properties.reserve(props->map_size());
        for (std::size_t i = 0; i < props->map_size(); ++i) {
            // Only String names can match a key; the others are never looked up.
            if (props->key(i).kind != ValueKind::String) continue;
            const std::string_view name = props->key(i).text();
            const SchemaRule* r = sub(props->value(i), rule, context, "properties", name, true);
            if (!r) return false;
            rule.properties.push_back({name, r});
        }
        rule.property_table = PropertyTable(rule.properties);
    }
    const YamlValue* patterns =
        of_kind(schema_keyword(schema, "patternProperties"), ValueKind::Mapping);
    for (std::size_t i = 0; patterns && i < patterns->map_size(); ++i) {
        if (patterns->key(i).kind != ValueKind::String) continue;
        const std::string_view source = patterns->key(i).text();
        const SchemaRule* r =
            sub(patterns->value(i), rule, context, "patternProperties", source, true);
        if (!r) return false;
        const EcmaRegex* regex = compile(source, r->location);
        if (!regex) return false;
        rule.pattern_properties.push_back({source, regex, r});
    }
    if (const YamlValue* extra = schema_keyword(schema, "additionalProperties"))
        if (!(rule.additional = sub(*extra, rule, context, "additionalProperties"))) return false;
    if (const YamlValue* names = schema_keyword(schema, "propertyNames"))
        if (!(rule.property_names = sub(*names, rule, context, "propertyNames"))) return false;
    rule.min_properties = count(schema, "minProperties");
    rule.max_properties = count(schema, "maxProperties");
    if (!read_dependencies(schema, rule, context)) return false;
    if (draft == Draft::Draft2020)
        if (const YamlValue* rest = schema_keyword(schema, "unevaluatedProperties"))
            if (!(rule.unevaluated_properties = sub(*rest, rule, context, "unevaluatedProperties")))
                return false;
    return true;
}

// dependentRequired and dependentSchemas; draft 7 wrote both as "dependencies".
bool RuleReader::read_dependencies(const YamlValue& schema, SchemaRule& rule,
                                   SchemaContext context) {
    const bool draft7 = out_.index_.draft(context.document) == Draft::Draft7;
    auto entries = [&](std::string_view keyword, bool lists, bool schemas) {
        const YamlValue* map = of_kind(schema_keyword(schema, keyword), ValueKind::Mapping);
        for (std::size_t i = 0; map && i < map->map_size(); ++i) {
            if (map->key(i).kind != ValueKind::String) continue;
            const std::string_view name = map->key(i).text();
            const YamlValue& value = map->value(i);
            if (value.kind == ValueKind::Sequence) {
                if (lists) rule.dependent_required.push_back({name, &value, keyword.data()});
            } else if (schemas) {
                const SchemaRule* r = sub(value, rule, context, keyword, name, true);
                if (!r) return false;
                rule.dependent_schemas.push_back({name, r});
            }
        }
        return true;
    };
    if (draft7) return entries("dependencies", true, true);
    return entries("dependentRequired", true, false) && entries("dependentSchemas", false, true);
}

bool RuleReader::read_arrays(const YamlValue& schema, SchemaRule& rule, SchemaContext context) {
    const bool draft7 = out_.index_.draft(context.document) == Draft::Draft7;
    rule.min_items = count(schema, "minItems");
    rule.max_items = count(schema, "maxItems");
    const YamlValue* items = schema_keyword(schema, "items");
    if (draft7 && items && items->kind == ValueKind::Sequence) {
        if (!sub_list(*items, rule, context, "items", rule.prefix_items)) return false;
        if (const YamlValue* rest = schema_keyword(schema, "additionalItems"))
            if (!(rule.items = sub(*rest, rule, context, "additionalItems"))) return false;
    } else if (items && items->kind != ValueKind::Sequence) {
        if (!(rule.items = sub(*items, rule, context, "items"))) return false;
    }
    if (!draft7) {
        const YamlValue* prefix =
            of_kind(schema_keyword(schema, "prefixItems"), ValueKind::Sequence);
        if (prefix && !sub_list(*prefix, rule, context, "prefixItems", rule.prefix_items))
            return false;
    }
    if (const YamlValue* contains = schema_keyword(schema, "contains")) {
        if (!(rule.contains = sub(*contains, rule, context, "contains"))) return false;
        if (!draft7) {
            rule.min_contains = count(schema, "minContains");
            rule.max_contains = count(schema, "maxContains");
        }
    }
    rule.unique_items = is_true(schema_keyword(schema, "uniqueItems"));
    if (!draft7)
        if (const YamlValue* rest = schema_keyword(schema, "unevaluatedItems"))
            if (!(rule.unevaluated_items = sub(*rest, rule, context, "unevaluatedItems")))
                return false;
    return true;
}

bool RuleReader::read_combinators(const YamlValue& schema, SchemaRule& rule,
                                  SchemaContext context) {
    struct Combinator {
        const char* name;
        bool& present;
        std::vector<const SchemaRule*>& rules;
    };
    for (Combinator c : {Combinator{"allOf", rule.has_all_of, rule.all_of},
                         Combinator{"anyOf", rule.has_any_of, rule.any_of},
                         Combinator{"oneOf", rule.has_one_of, rule.one_of}}) {
        const YamlValue* list = of_kind(schema_keyword(schema, c.name), ValueKind::Sequence);
        if (!list) continue;
        c.present = true;
        if (!sub_list(*list, rule, context, c.name, c.rules)) return false;
    }
    if (const YamlValue* negated = schema_keyword(schema, "not"))
        if (!(rule.not_rule = sub(*negated, rule, context, "not"))) return false;
    // "then" and "else" mean nothing without an "if".
    if (const YamlValue* condition = schema_keyword(schema, "if")) {
        if (!(rule.if_rule = sub(*condition, rule, context, "if"))) return false;
        if (const YamlValue* then = schema_keyword(schema, "then"))
            if (!(rule.then_rule = sub(*then, rule, context, "then"))) return false;
        if (const YamlValue* otherwise = schema_keyword(schema, "else"))
            if (!(rule.else_rule = sub(*otherwise, rule, context, "else"))) return false;
    }
    return true;
}

}  // namespace quarvel
