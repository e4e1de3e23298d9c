// Random schemas over random documents. The first bytes build a schema from
// the keywords validation knows, with references among its parts ("#",
// "#/$defs/a", anchors, dynamic anchors), so that recursive schemas and
// reference loops come up often; the rest is the document's YAML text.
// Validation must finish (a loop of references is reported, never looped),
// the quick verdict on the value tree must agree with the full validation of
// the syntax tree, and both must agree with the walk without its shortcuts
// (scalars settled inline, bare references passed through).
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "decode/decoder.hpp"
#include "schema/rules.hpp"
#include "schema/validate.hpp"
#include "schema/validator.hpp"
#include "support/arena.hpp"
#include "support/utf8.hpp"
#include "syntax/compose.hpp"
#include "value/value_identity.hpp"

namespace {

using quarvel::ValueList;
using quarvel::YamlValue;

constexpr std::string_view kTypes[] = {"null",   "boolean", "integer", "number",
                                       "string", "array",   "object",  "color"};
constexpr std::string_view kNames[] = {"a", "b", "x"};
constexpr std::string_view kRefs[] = {"#",
                                      "#/$defs/a",
                                      "#/$defs/b",
                                      "#a",
                                      "#/properties/a",
                                      "#/$defs/a/items",
                                      "#/$defs/b/anyOf/0",
                                      "#/allOf/0"};
constexpr std::string_view kSingle[] = {"items",
                                        "not",
                                        "additionalProperties",
                                        "contains",
                                        "if",
                                        "then",
                                        "else",
                                        "propertyNames",
                                        "unevaluatedProperties",
                                        "unevaluatedItems",
                                        "additionalItems"};
constexpr std::string_view kLists[] = {"allOf", "anyOf", "oneOf", "prefixItems", "items"};
constexpr std::string_view kMaps[] = {"properties", "$defs", "dependentSchemas", "definitions"};
constexpr std::string_view kCounts[] = {
    "minimum",       "maximum",     "exclusiveMinimum", "exclusiveMaximum", "multipleOf",
    "minLength",     "maxLength",   "minItems",         "maxItems",         "minProperties",
    "maxProperties", "minContains", "maxContains"};

// Reads the schema's shape from the input, a byte at a time (zeros past the end).
class SchemaMaker {
  public:
    SchemaMaker(const std::uint8_t* data, std::size_t size, quarvel::Arena& arena)
        : data_(data), size_(size), arena_(arena) {}

    std::size_t used() const { return at_; }

    YamlValue schema(int depth) {
        const std::uint8_t b = byte();
        if (depth > 5 || b < 24) return YamlValue::from_bool(b & 1);
        ValueList entries;
        const int count = 1 + byte() % 4;
        for (int i = 0; i < count; ++i) keyword(entries, depth);
        return YamlValue::mapping(arena_, entries);
    }

  private:
    std::uint8_t byte() { return at_ < size_ ? data_[at_++] : 0; }
    template <std::size_t N>
    std::string_view pick(const std::string_view (&list)[N]) {
        return list[byte() % N];
    }

    void add(ValueList& entries, std::string_view key, const YamlValue& value) {
        entries.push_back(YamlValue::string(key));
        entries.push_back(value);
    }

    YamlValue list(int depth) {
        ValueList items;
        const int count = byte() % 4;
        for (int i = 0; i < count; ++i) items.push_back(schema(depth + 1));
        return YamlValue::sequence(arena_, items);
    }

    YamlValue map(int depth) {
        ValueList entries;
        const int count = 1 + byte() % 2;
        for (int i = 0; i < count; ++i) add(entries, pick(kNames), schema(depth + 1));
        return YamlValue::mapping(arena_, entries);
    }

    YamlValue names() {
        ValueList items;
        const int count = byte() % 3;
        for (int i = 0; i < count; ++i) items.push_back(YamlValue::string(pick(kNames)));
        return YamlValue::sequence(arena_, items);
    }

    YamlValue scalar() {
        switch (byte() % 5) {
            case 0:
                return YamlValue::from_int(static_cast<std::int8_t>(byte()));
            case 1:
                return YamlValue::from_float(static_cast<std::int8_t>(byte()) / 4.0);
            case 2:
                return YamlValue::string(pick(kNames));
            case 3:
                return YamlValue::from_bool(byte() & 1);
            default:
                return YamlValue::null();
        }
    }

    void keyword(ValueList& entries, int depth) {
        switch (byte() % 14) {
            case 0:
                return add(entries, "type", YamlValue::string(pick(kTypes)));
            case 1:
                return add(entries, "$ref", YamlValue::string(pick(kRefs)));
            case 2:
                return add(entries, pick(kSingle), schema(depth + 1));
            case 3:
                return add(entries, pick(kLists), list(depth));
            case 4:
                return add(entries, pick(kMaps), map(depth));
            case 5:
                return add(entries, "required", names());
            case 6:
                return add(entries, pick(kCounts), YamlValue::from_int(byte() % 8 - (byte() & 1)));
            case 7: {
                ValueList items;
                for (int i = byte() % 3; i >= 0; --i) items.push_back(scalar());
                return add(entries, "enum", YamlValue::sequence(arena_, items));
            }
            case 8:
                return add(entries, "const", scalar());
            case 9:
                return add(entries, "uniqueItems", YamlValue::from_bool(true));
            case 10:
                return add(entries, (byte() & 1) ? "$anchor" : "$dynamicAnchor",
                           YamlValue::string("a"));
            case 11:
                return add(entries, "$dynamicRef", YamlValue::string((byte() & 1) ? "#a" : "#"));
            case 12: {
                ValueList deps;
                deps.push_back(YamlValue::string(pick(kNames)));
                deps.push_back(names());
                return add(entries, "dependentRequired", YamlValue::mapping(arena_, deps));
            }
            default:
                if (depth == 0)
                    return add(entries, "$schema",
                               YamlValue::string("http://json-schema.org/draft-07/schema#"));
                return add(entries, "format", YamlValue::string("date"));
        }
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
    quarvel::Arena& arena_;
};

void fail(const char* what, std::string_view text) {
    std::fprintf(stderr, "%s\ndocument:\n%.*s\n", what, static_cast<int>(text.size()), text.data());
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) return 0;
    // The first byte says how many bytes build the schema.
    const std::size_t budget = std::min<std::size_t>(data[0], size - 1);
    quarvel::Arena arena;
    SchemaMaker maker(data + 1, budget, arena);
    const YamlValue schema = maker.schema(0);
    const std::string_view text(reinterpret_cast<const char*>(data) + 1 + budget,
                                size - 1 - budget);
    if (quarvel::utf8::validate(text)) return 0;

    auto compiled = quarvel::CompiledSchema::compile(schema, nullptr, {});
    if (!compiled) return 0;  // a reference that names nothing
    auto decoded = quarvel::decode(text, {});
    if (!decoded || decoded->documents.empty()) return 0;
    auto forest = quarvel::compose_text(text, 0, /*keep_empty=*/true);
    if (!forest || forest->roots.empty()) return 0;

    const auto quick = quarvel::quick_verdict(text, decoded->documents.front(), **compiled,
                                              quarvel::ResolverMode::Core12);
    const auto full = quarvel::validate_document(forest->roots.front(), forest->has_aliases,
                                                 **compiled, quarvel::ResolverMode::Core12);
    // A full validation that stopped (a reference loop) found the document
    // wanting somewhere the quick verdict may not have looked after its
    // first failure; a valid quick verdict means nothing stopped it.
    if (!full) {
        if (quick == true) fail("valid by the value tree, stopped on the syntax tree", text);
        return 0;
    }
    if (quick && *quick != full->empty())
        fail(*quick ? "valid by the value tree, invalid by the syntax tree"
                    : "invalid by the value tree, valid by the syntax tree",
             text);
    const auto same = [](const quarvel::SchemaViolation& a, const quarvel::SchemaViolation& b) {
        return a.message == b.message && a.path == b.path && a.schema_path == b.schema_path;
    };

    // The walk without shortcuts finds the same violations, and gives the
    // same quick verdict where the value tree can give one.
    const auto copied = quarvel::copy_for_validation(forest->roots.front(), forest->has_aliases);
    if (copied && !copied->nodes.empty() && !quarvel::stack_exhausted()) {
        const quarvel::SyntaxView view(*copied, quarvel::ResolverMode::Core12);
        std::vector<quarvel::SchemaViolation> plain;
        quarvel::Validator<quarvel::SyntaxView, false> walker(view, **compiled, plain);
        walker.check_root((*compiled)->root());
        if (walker.fault() && !quarvel::stack_exhausted())
            fail("the walk without shortcuts stopped where the walk with them did not", text);
        if (!walker.fault() &&
            !std::equal(full->begin(), full->end(), plain.begin(), plain.end(), same))
            fail("the walk without shortcuts finds other violations", text);
    }
    if (quick) {
        const quarvel::ValueView values(decoded->documents.front());
        std::vector<quarvel::SchemaViolation> unused;
        quarvel::Validator<quarvel::ValueView, false> prober(values, **compiled, unused);
        const bool ok = prober.satisfies((*compiled)->root());
        if (!prober.fault() && !values.unreadable() && !quarvel::stack_exhausted() && ok != *quick)
            fail("the quick verdict without shortcuts differs", text);
    }

    // A kept copy of the schema (as loads keeps one) is identical to it, and
    // its rules find the same violations.
    quarvel::Arena kept_arena;
    const auto kept = quarvel::copy_value(kept_arena, schema);
    if (!kept || !quarvel::identical_values(*kept, schema))
        fail("a copy of the schema is not identical to it", text);
    auto kept_rules = quarvel::CompiledSchema::compile(*kept, nullptr, {});
    if (!kept_rules) fail("a copy of the schema does not compile", text);
    const auto again = quarvel::validate_document(forest->roots.front(), forest->has_aliases,
                                                  **kept_rules, quarvel::ResolverMode::Core12);
    if (!again || !std::equal(full->begin(), full->end(), again->begin(), again->end(), same))
        fail("the rules of a copy of the schema find other violations", text);
    return 0;
}
