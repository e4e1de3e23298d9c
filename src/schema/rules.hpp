// A schema value read once into the keywords that validation looks at, so
// that checking many nodes against one schema never scans its mapping again.
#pragma once

#include <deque>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "schema/enum_index.hpp"
#include "schema/numbers.hpp"
#include "value/value.hpp"

namespace quarvel {

enum class RuleKind : std::uint8_t {
    Anything,  // true, or any value that is not a mapping
    Nothing,   // false
    Keywords,  // a mapping of keywords
};

struct SchemaRule;

struct PropertyRule {
    std::string_view name;
    const SchemaRule* rule = nullptr;
};

enum class Additional : std::uint8_t { Allowed, Forbidden, Checked };

// Every keyword is the first entry of the mapping with that exact name; one
// whose value is of a kind the keyword cannot use is left unset.
struct SchemaRule {
    RuleKind kind = RuleKind::Anything;
    const YamlValue* type = nullptr;         // a String or a Sequence
    const YamlValue* enum_values = nullptr;  // a Sequence
    const EnumIndex* enum_index = nullptr;   // for a long one
    const YamlValue* const_value = nullptr;  // any value
    std::optional<Number> minimum, maximum, exclusive_minimum, exclusive_maximum;
    std::optional<double> min_length, max_length, min_items, max_items;
    const YamlValue* required = nullptr;  // a non-empty Sequence
    bool has_properties = false;
    std::vector<PropertyRule> properties;  // in schema order
    Additional additional = Additional::Allowed;
    const SchemaRule* additional_rule = nullptr;
    const SchemaRule* items = nullptr;
    bool has_all_of = false, has_any_of = false, has_one_of = false;
    std::vector<const SchemaRule*> all_of, any_of, one_of;
    const SchemaRule* not_rule = nullptr;
    // Reached from more than one place: a schema built of shared parts
    // (allOf: [s, s], nested) applies it many times to one node, so its
    // outcome per node is kept.
    bool shared = false;
};

// The rules of one schema; they point into the schema value, which must
// outlive them.
class SchemaRules {
  public:
    // Null when the stack ran out (the thread's flag says so).
    const SchemaRule* read(const YamlValue& schema);

  private:
    const SchemaRule* read_keywords(const YamlValue& schema, SchemaRule& rule);
    bool read_list(const YamlValue& list, std::vector<const SchemaRule*>& out);
    std::deque<SchemaRule> store_;
    std::deque<EnumIndex> enum_indexes_;
    // The rule read from each schema mapping, by its entries' storage: a
    // schema whose parts are shared is read once per part.
    std::unordered_map<const YamlValue*, SchemaRule*> read_;
};

// A length or count bound: an Int, or a finite Float without a fraction.
std::optional<double> count_bound(const YamlValue& v);

}  // namespace quarvel
