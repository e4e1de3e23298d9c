#include "schema/validate.hpp"

#include <cmath>
#include <optional>
#include <string_view>
#include <type_traits>
#include <unordered_map>

#include "schema/data_copy.hpp"
#include "schema/data_views.hpp"
#include "schema/enum_index.hpp"
#include "schema/numbers.hpp"
#include "schema/rules.hpp"
#include "support/float_format.hpp"
#include "support/stack.hpp"
#include "support/utf8.hpp"

namespace quarvel {

std::string number_text(double d) {
    if (std::isnan(d)) return "nan";
    if (std::isinf(d)) return d < 0 ? "-inf" : "inf";
    char digits[kMaxFloatDigits];
    FloatShape shape;
    shortest_digits(d, digits, shape);
    char buffer[kMaxPositionalFloat];
    std::string_view text(buffer, write_positional(shape, digits, buffer));
    if (text.ends_with(".0")) text.remove_suffix(2);
    return std::string(text);
}

Error schema_violation_error(const SchemaViolation& v) {
    Error e;
    e.family = ErrorFamily::Schema;
    e.message = v.message;
    e.schema_path = v.path;
    e.has_position = true;
    e.line = v.line;
    e.column = v.column;
    return e;
}

namespace {

// One step of a document path; the text is built only for a violation.
struct PathStep {
    const PathStep* parent = nullptr;
    std::string_view key;  // a mapping entry's key text
    std::uint32_t index = 0;
    bool is_key = false;
};

// Paths through aliases can be very deep: the steps are gathered first
// rather than walked back by recursion.
std::string path_text(const PathStep* last) {
    std::vector<const PathStep*> steps;
    for (const PathStep* s = last; s; s = s->parent) steps.push_back(s);
    std::string out = "$";
    for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
        if ((*it)->is_key) {
            out += '.';
            out += (*it)->key;
        } else {
            out += '[';
            out += std::to_string((*it)->index);
            out += ']';
        }
    }
    return out;
}

const char* json_type_name(ValueKind kind) {
    switch (kind) {
        case ValueKind::Null:
            return "null";
        case ValueKind::Bool:
            return "boolean";
        case ValueKind::Int:
        case ValueKind::BigInt:
            return "integer";
        case ValueKind::Float:
            return "number";
        case ValueKind::String:
            return "string";
        case ValueKind::Sequence:
            return "array";
        case ValueKind::Mapping:
            return "object";
        case ValueKind::Tagged:
            break;
    }
    return "null";
}

bool type_matches(std::string_view name, ValueKind kind) {
    if (name == "null") return kind == ValueKind::Null;
    if (name == "boolean") return kind == ValueKind::Bool;
    if (name == "integer") return kind == ValueKind::Int || kind == ValueKind::BigInt;
    if (name == "number")
        return kind == ValueKind::Int || kind == ValueKind::BigInt || kind == ValueKind::Float;
    if (name == "string") return kind == ValueKind::String;
    if (name == "array") return kind == ValueKind::Sequence;
    if (name == "object") return kind == ValueKind::Mapping;
    return true;  // an unknown type name imposes nothing
}

std::string type_message(std::string expected, const DataValue& v) {
    return "expected type " + expected + ", found " + json_type_name(v.kind);
}

// The schema of property `name`: the first entry of `properties` with that name.
const SchemaRule* property(const SchemaRule& rule, std::string_view name) {
    for (const PropertyRule& p : rule.properties)
        if (p.name == name) return p.rule;
    return nullptr;
}

// Checks nodes of a View (SyntaxView or ValueView) against schema rules.
template <class View>
class Validator {
    using Node = typename View::Node;

  public:
    Validator(const View& view, std::vector<SchemaViolation>& out) : view_(view), out_(out) {}

    // Whether the root passes, without building any violation.
    bool satisfies(const SchemaRule& rule) { return passes(view_.root(), rule, nullptr); }

    void check(Node at, const SchemaRule& rule, const PathStep* path) {
        if (rule.kind == RuleKind::Nothing) {
            report(at, path, [] { return std::string("value is not allowed (schema is false)"); });
            return;
        }
        if (rule.kind != RuleKind::Keywords || done()) return;
        if (rule.shared) return check_shared(at, rule, path);
        ensure_stack([&] { check_keywords(at, rule, path); });
    }

  private:
    // ---- reporting -------------------------------------------------------

    // Inside anyOf, oneOf and not only "did anything fail" matters: the
    // first violation ends the run there and no message is built.
    bool done() const { return probing_ && failed_; }

    template <class Message>
    void report(Node at, const PathStep* path, Message message) {
        failed_ = true;
        if (probing_) return;
        SchemaViolation v;
        v.message = message();
        v.path = path_text(path);
        v.line = view_.line(at);
        v.column = view_.column(at);
        out_.push_back(std::move(v));
    }

    // Whether the node passes `rule`: a run into a fresh list.
    bool passes(Node at, const SchemaRule& rule, const PathStep* path) {
        const bool saved_probing = probing_, saved_failed = failed_;
        probing_ = true;
        failed_ = false;
        check(at, rule, path);
        const bool ok = !failed_;
        probing_ = saved_probing;
        failed_ = saved_failed;
        return ok;
    }

    // ---- rules met more than once -----------------------------------------

    // A shared rule is checked once per node. A probe's outcome is kept for
    // the next probe; a reporting check met again would only append the
    // same violations at the same path (a node's path is its own), so it is
    // skipped. Without this, allOf: [s, s] nested n deep costs 2^n checks.
    void check_shared(Node at, const SchemaRule& rule, const PathStep* path) {
        const Visit visit{node_key(at), &rule, probing_};
        if (auto it = visits_.find(visit); it != visits_.end()) {
            if (probing_ && it->second) failed_ = true;
            return;
        }
        visits_.emplace(visit, false);
        ensure_stack([&] { check_keywords(at, rule, path); });
        if (probing_) visits_[visit] = failed_;
    }

    static std::uintptr_t node_key(Node at) {
        if constexpr (std::is_pointer_v<Node>) {
            return reinterpret_cast<std::uintptr_t>(at);
        } else {
            return static_cast<std::uintptr_t>(at);
        }
    }

    struct Visit {
        std::uintptr_t node;
        const SchemaRule* rule;
        bool probing;
        bool operator==(const Visit&) const = default;
    };
    struct VisitHash {
        std::size_t operator()(const Visit& v) const {
            const std::size_t h =
                std::hash<std::uintptr_t>{}(v.node) * 31 + std::hash<const void*>{}(v.rule);
            return h * 2 + (v.probing ? 1 : 0);
        }
    };

    // ---- equality (enum, const) -----------------------------------------

    // Collections compare by content: items in order, entries by key
    // whatever their order (as two dicts compare).
    bool equals(Node at, const YamlValue& s) const {
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

    bool has_entry(Node at, const YamlValue& key, const YamlValue& value) const {
        const std::uint32_t n = view_.count(at);
        for (std::uint32_t i = 0; i + 1 < n; i += 2)
            if (equals(view_.child(at, i), key)) return equals(view_.child(at, i + 1), value);
        return false;
    }

    // ---- keywords --------------------------------------------------------

    void check_keywords(Node at, const SchemaRule& rule, const PathStep* path) {
        const DataValue v = view_.value_of(at);
        if (rule.type) check_type(at, *rule.type, v, path);
        if (rule.enum_values && !done() && !in_enum(at, rule))
            report(at, path,
                   [] { return std::string("value is not one of the allowed enum values"); });
        if (rule.const_value && !done() && !equals(at, *rule.const_value))
            report(at, path, [] { return std::string("value does not equal the required const"); });
        check_number(at, rule, v, path);
        if (v.kind == ValueKind::String) check_length(at, rule, v.text, path);
        const NodeKind kind = view_.kind(at);
        if (kind == NodeKind::Mapping) check_object(at, rule, path);
        if (kind == NodeKind::Sequence) check_array(at, rule, path);
        check_combinators(at, rule, path);
        if (rule.not_rule && !done() && passes(at, *rule.not_rule, path))
            report(at, path, [] { return std::string("value must not match the 'not' schema"); });
    }

    void check_type(Node at, const YamlValue& type, const DataValue& v, const PathStep* path) {
        if (type.kind == ValueKind::String) {
            if (!type_matches(type.text(), v.kind))
                report(at, path, [&] { return type_message(std::string(type.text()), v); });
            return;
        }
        for (const YamlValue& item : type.children())
            if (item.kind == ValueKind::String && type_matches(item.text(), v.kind)) return;
        report(at, path, [&] {
            std::string names;
            for (const YamlValue& item : type.children()) {
                if (item.kind != ValueKind::String) continue;
                if (!names.empty()) names += " | ";
                names += item.text();
            }
            return type_message(std::move(names), v);
        });
    }

    bool in_enum(Node at, const SchemaRule& rule) const {
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

    void check_number(Node at, const SchemaRule& rule, const DataValue& v, const PathStep* path) {
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
            report(at, path, message(" is less than minimum ", *rule.minimum));
        if (rule.maximum && order(*rule.maximum) > 0)
            report(at, path, message(" is greater than maximum ", *rule.maximum));
        if (is_nan(x)) return;  // NaN is neither above nor below a bound
        if (rule.exclusive_minimum && !(order(*rule.exclusive_minimum) > 0))
            report(at, path, message(" is not greater than ", *rule.exclusive_minimum));
        if (rule.exclusive_maximum && !(order(*rule.exclusive_maximum) < 0))
            report(at, path, message(" is not less than ", *rule.exclusive_maximum));
    }

    void check_length(Node at, const SchemaRule& rule, std::string_view text,
                      const PathStep* path) {
        if ((!rule.min_length && !rule.max_length) || done()) return;
        const auto length = static_cast<double>(utf8::count_chars(text));
        if (rule.min_length && length < *rule.min_length)
            report(at, path, [&] {
                return "string is shorter than minLength " + number_text(*rule.min_length);
            });
        if (rule.max_length && length > *rule.max_length)
            report(at, path, [&] {
                return "string is longer than maxLength " + number_text(*rule.max_length);
            });
    }

    void check_object(Node at, const SchemaRule& rule, const PathStep* path) {
        if (rule.required) {
            for (const YamlValue& name : rule.required->children()) {
                if (done()) return;
                if (name.kind == ValueKind::String && !has_key(at, name.text()))
                    report(at, path, [&] {
                        return "missing required property '" + std::string(name.text()) + "'";
                    });
            }
        }
        const std::uint32_t n = view_.count(at);
        for (std::uint32_t i = 0; i + 1 < n && !done(); i += 2) {
            const Node key = view_.child(at, i);
            if (!view_.is_key(key)) continue;
            const std::string_view name = view_.key_text(key);
            const PathStep step{path, name, 0, true};
            const Node value = view_.child(at, i + 1);
            if (const SchemaRule* sub = property(rule, name)) {
                check(value, *sub, &step);
            } else if (rule.additional == Additional::Forbidden) {
                report(value, &step, [&] {
                    return "additional property '" + std::string(name) + "' is not allowed";
                });
            } else if (rule.additional == Additional::Checked) {
                check(value, *rule.additional_rule, &step);
            }
        }
    }

    bool has_key(Node at, std::string_view name) const {
        const std::uint32_t n = view_.count(at);
        for (std::uint32_t i = 0; i + 1 < n; i += 2) {
            const Node key = view_.child(at, i);
            if (view_.is_key(key) && view_.key_text(key) == name) return true;
        }
        return false;
    }

    void check_array(Node at, const SchemaRule& rule, const PathStep* path) {
        const std::uint32_t items = view_.count(at);
        const auto count = static_cast<double>(items);
        if (rule.min_items && count < *rule.min_items && !done())
            report(at, path,
                   [&] { return "array has fewer than minItems " + number_text(*rule.min_items); });
        if (rule.max_items && count > *rule.max_items && !done())
            report(at, path,
                   [&] { return "array has more than maxItems " + number_text(*rule.max_items); });
        if (!rule.items) return;
        for (std::uint32_t i = 0; i < items && !done(); ++i) {
            const PathStep step{path, {}, i, false};
            check(view_.child(at, i), *rule.items, &step);
        }
    }

    void check_combinators(Node at, const SchemaRule& rule, const PathStep* path) {
        for (const SchemaRule* sub : rule.all_of) {
            if (done()) return;
            check(at, *sub, path);
        }
        if (rule.has_any_of && !done()) {
            bool any = false;
            for (const SchemaRule* sub : rule.any_of)
                if ((any = passes(at, *sub, path))) break;
            if (!any)
                report(at, path,
                       [] { return std::string("value does not match any of the anyOf schemas"); });
        }
        if (rule.has_one_of && !done()) {
            std::size_t matched = 0;
            for (const SchemaRule* sub : rule.one_of) matched += passes(at, *sub, path) ? 1 : 0;
            if (matched != 1)
                report(at, path, [&] {
                    return "value matches " + std::to_string(matched) +
                           " of the oneOf schemas (exactly one required)";
                });
        }
    }

    const View& view_;
    std::vector<SchemaViolation>& out_;
    bool probing_ = false;
    bool failed_ = false;
    std::unordered_map<Visit, bool, VisitHash> visits_;  // of shared rules
};

}  // namespace

void SyntaxView::read_scalar(DataValue& v, std::string_view text, bool plain,
                             std::string_view tag) const {
    const Resolved r = resolve(mode_, text, plain, tag);
    switch (r.kind) {
        case ResolvedKind::Null:
            v.kind = ValueKind::Null;
            return;
        case ResolvedKind::Bool:
            v.kind = ValueKind::Bool;
            v.boolean = r.boolean;
            return;
        case ResolvedKind::Int:
            v.kind = ValueKind::Int;
            v.integer = r.integer;
            return;
        case ResolvedKind::BigInt:
            v.kind = ValueKind::BigInt;
            v.text = text;
            return;
        case ResolvedKind::Float:
            v.kind = ValueKind::Float;
            v.real = r.real;
            return;
        case ResolvedKind::Merge:
        case ResolvedKind::Str:
        case ResolvedKind::Invalid:  // refused when the value is read
            v.kind = ValueKind::String;
            v.text = text;
            return;
    }
}

Result<std::vector<SchemaViolation>> validate_document(const YamlNode& root, bool has_aliases,
                                                       const YamlValue& schema, ResolverMode mode) {
    std::vector<SchemaViolation> violations;
    SchemaRules rules;
    const SchemaRule* rule = rules.read(schema);
    if (!rule) return fail(stack_exhausted_error());
    if (rule->kind == RuleKind::Anything) return violations;  // nothing to check: no copy
    const Result<DataCopy> copied = copy_for_validation(root, has_aliases);
    if (!copied) return fail(copied.error());
    const DataCopy& copy = *copied;
    if (copy.nodes.empty()) return fail(stack_exhausted_error());
    const SyntaxView view(copy, mode);
    Validator<SyntaxView>(view, violations).check(view.root(), *rule, nullptr);
    if (stack_exhausted()) return fail(stack_exhausted_error());
    return violations;
}

namespace {

// Whether no node of the tree lies deeper than the alias depth limit and the
// tree has no more nodes than the alias budget. Every nested alias adds a
// level, so then the validation copy of the same text is cut nowhere.
class LimitWalk {
  public:
    bool fits(const YamlValue& v, std::uint32_t depth) {
        if (++nodes_ > kExpandBudget || depth > kExpandDepthLimit) return false;
        if (v.children().empty()) return true;
        return ensure_stack([&] {
            for (const YamlValue& c : v.children())
                if (!fits(c, depth + 1)) return false;
            return true;
        });
    }

  private:
    std::uint64_t nodes_ = 0;
};

bool within_copy_limits(const YamlValue& document) {
    return LimitWalk().fits(document, 0);
}

}  // namespace

std::optional<bool> quick_verdict(std::string_view text, const YamlValue& document,
                                  const YamlValue& schema, ResolverMode) {
    // Merge keys are applied in the value tree but not in the syntax tree; a
    // text without "<<" has none. Aliases are expanded in both alike unless
    // the validation copy's limits would cut them short.
    if (text.find("<<") != std::string_view::npos) return std::nullopt;
    if (text.find('*') != std::string_view::npos && !within_copy_limits(document))
        return std::nullopt;
    SchemaRules rules;
    const SchemaRule* rule = rules.read(schema);
    if (!rule) return std::nullopt;
    if (rule->kind == RuleKind::Anything) return true;
    const ValueView view(document);
    std::vector<SchemaViolation> unused;
    const bool ok = Validator<ValueView>(view, unused).satisfies(*rule);
    if (stack_exhausted() || view.unreadable()) return std::nullopt;
    return ok;
}

}  // namespace quarvel
