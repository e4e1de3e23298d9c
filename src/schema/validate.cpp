#include "schema/validate.hpp"

#include <cmath>
#include <optional>
#include <string_view>

#include "schema/data_copy.hpp"
#include "schema/data_views.hpp"
#include "schema/validator.hpp"
#include "support/float_format.hpp"
#include "support/stack.hpp"

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
                                                       const CompiledSchema& schema,
                                                       ResolverMode mode) {
    std::vector<SchemaViolation> violations;
    if (schema.root().kind == RuleKind::Anything) return violations;  // nothing to check: no copy
    const Result<DataCopy> copied = copy_for_validation(root, has_aliases);
    if (!copied) return fail(copied.error());
    const DataCopy& copy = *copied;
    if (copy.nodes.empty()) return fail(stack_exhausted_error());
    const SyntaxView view(copy, mode);
    Validator<SyntaxView> validator(view, schema, violations);
    validator.check_root(schema.root());
    if (validator.fault()) return fail(*validator.fault());
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
                                  const CompiledSchema& schema, ResolverMode) {
    // Merge keys are applied in the value tree but not in the syntax tree; a
    // text without "<<" has none. Aliases are expanded in both alike unless
    // the validation copy's limits would cut them short.
    if (schema.root().kind == RuleKind::Anything) return true;
    if (text.find("<<") != std::string_view::npos) return std::nullopt;
    if (text.find('*') != std::string_view::npos && !within_copy_limits(document))
        return std::nullopt;
    const ValueView view(document);
    std::vector<SchemaViolation> unused;
    Validator<ValueView> validator(view, schema, unused);
    const bool ok = validator.satisfies(schema.root());
    if (stack_exhausted() || view.unreadable() || validator.fault()) return std::nullopt;
    return ok;
}

}  // namespace quarvel
