// A schema read once into the keywords that validation looks at, so that
// checking many nodes against one schema never scans its mappings again.
// References are resolved while reading: a "$ref" becomes a pointer to the
// rule it names, so the rules form a graph (a recursive schema is a cycle in
// it), and every pattern is compiled here, once.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <deque>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "schema/enum_index.hpp"
#include "schema/numbers.hpp"
#include "schema/schema_index.hpp"
#include "support/ecma_regex.hpp"
#include "support/error.hpp"
#include "value/value.hpp"

namespace quarvel {

enum class RuleKind : std::uint8_t {
    Anything,  // true, or any value that is not a mapping
    Nothing,   // false
    Keywords,  // a mapping of keywords
};

// The formats OPT_SCHEMA_FORMAT asserts; others stay annotations.
enum class Format : std::uint8_t {
    None,
    Date,
    Time,
    DateTime,
    Email,
    Hostname,
    Ipv4,
    Ipv6,
    Uri,
    Uuid,
    Regex
};

struct SchemaRule;

struct NamedRule {
    std::string_view name;
    const SchemaRule* rule = nullptr;
};

struct PatternRule {
    std::string_view source;  // the pattern as written, for messages
    const EcmaRegex* regex = nullptr;
    const SchemaRule* rule = nullptr;
};

// A name's bytes in two words, with its length: for a name of up to 16
// bytes they hold every byte, so equal words mean equal names and a lookup
// compares three numbers instead of calling memcmp.
struct NameWords {
    std::uint64_t head = 0;
    std::uint64_t tail = 0;
    std::size_t size = 0;

    explicit NameWords(std::string_view name) : size(name.size()) {
        const char* p = name.data();
        if (size >= 8) {
            std::memcpy(&head, p, 8);
            std::memcpy(&tail, p + size - 8, 8);
        } else if (size >= 4) {  // two loads that may overlap
            std::uint32_t a = 0, b = 0;
            std::memcpy(&a, p, 4);
            std::memcpy(&b, p + size - 4, 4);
            head = a | std::uint64_t{b} << 32;
        } else if (size > 0) {
            const auto byte = [p](std::size_t i) { return std::uint64_t{(unsigned char)p[i]}; };
            head = byte(0) | byte(size / 2) << 8 | byte(size - 1) << 16;
        }
    }
    bool operator==(const NameWords&) const = default;
    bool exact() const { return size <= 16; }
    // The top `bits` bits of a multiplicative hash.
    std::size_t hash(unsigned bits) const {
        const std::uint64_t h = (head ^ std::rotl(tail, 29) ^ size) * 0x9e3779b97f4a7c15ull;
        return static_cast<std::size_t>(h >> (64 - bits));
    }
};

// A name to find among a mapping's keys, compared by its words.
struct NameMatch {
    std::string_view name;
    NameWords words;

    explicit NameMatch(std::string_view n) : name(n), words(n) {}
    bool matches(std::string_view text) const {
        return NameWords(text) == words && (words.exact() || text == name);
    }
};

// A rule's property names, looked up by hash: open addressing over a table
// at most half full. Only the schema's names are in it, so however a
// document picks its keys, a lookup passes no more slots than there are
// properties.
class PropertyTable {
  public:
    PropertyTable() = default;  // no properties
    // The first entry of a name wins, as a scan of the list would find it.
    explicit PropertyTable(const std::vector<NamedRule>& properties);

    const SchemaRule* find(std::string_view name) const {
        if (slots_.empty()) return nullptr;
        const NameWords words(name);
        for (std::size_t i = words.hash(bits_);; i = (i + 1) & mask_) {
            const Slot& s = slots_[i];
            if (!s.rule) return nullptr;
            if (s.words == words && (words.exact() || s.name == name)) return s.rule;
        }
    }

  private:
    struct Slot {
        NameWords words{{}};
        std::string_view name;
        const SchemaRule* rule = nullptr;  // none: the slot is empty
    };
    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
    unsigned bits_ = 0;
};

// "dependentRequired" (and draft 7 "dependencies" with a list): when `name`
// is present, so must be every String of `required`.
struct RequiredWith {
    std::string_view name;
    const YamlValue* required = nullptr;  // a Sequence
    const char* keyword = "dependentRequired";
};

// A "$dynamicRef" whose target carries the same "$dynamicAnchor" (the
// bookend): at validation it goes to the outermost resource of the dynamic
// scope that has that anchor, else to `fallback`.
struct DynamicTarget {
    std::uint32_t resource = 0;
    const SchemaRule* rule = nullptr;
};
struct DynamicRef {
    const SchemaRule* fallback = nullptr;
    std::vector<DynamicTarget> targets;
};

// Every keyword is the first entry of the mapping with that exact name; one
// whose value is of a kind the keyword cannot use is left unset.
struct SchemaRule {
    // What every check reads first stands together at the start.
    RuleKind kind = RuleKind::Anything;
    // Which groups of keywords are present (the Group bits): a node skips
    // the groups its rule does not use without looking at their keywords.
    enum Group : std::uint8_t {
        kReferences = 1,
        kNumbers = 2,
        kStrings = 4,
        kObjects = 8,
        kArrays = 16,
        kCombinators = 32,
    };
    std::uint8_t groups = 0;
    bool has(Group g) const { return (groups & g) != 0; }
    void note_groups();

    // Reached from more than one place: a schema built of shared parts
    // (allOf: [s, s], nested, or a definition many references name) applies
    // it many times to one node, so its outcome per node is kept.
    bool shared = false;

    // Nothing but a "$ref": checking it is checking its target.
    bool only_ref = false;
    bool tracking = false;  // tracks_evaluation(), noted with the groups

    // The rule that settles a scalar in place of this one, when checking a
    // scalar against this rule reads nothing but the scalar (its in-place
    // applicators lead only to such rules): this rule, or the rule its
    // chain of bare "$ref"s ends at; none otherwise. A scalar is checked
    // against it inline, without the walk (leaf_verdict).
    const SchemaRule* leaf = nullptr;

    // For a bare "$ref" that the walk passes straight through (not shared,
    // in a schema without dynamic scope), the rule where its chain of such
    // references ends, when none of them can loop: checking this rule is
    // checking that one, outside an evaluation record.
    const SchemaRule* through = nullptr;

    // Whether the rule can be applied again to the node it is applied to,
    // through references and in-place applicators (a cycle of them in the
    // schema): only such a rule can loop without moving into the document.
    bool recurs_in_place = false;

    std::uint32_t resource = 0;  // for the dynamic scope

    // References (applied to the same node, like allOf).
    const SchemaRule* ref = nullptr;
    const DynamicRef* dynamic_ref = nullptr;

    // Any value.
    const YamlValue* type = nullptr;         // a String or a Sequence
    std::uint8_t type_mask = 0;              // the kinds it allows (type_bits)
    const YamlValue* enum_values = nullptr;  // a Sequence
    const EnumIndex* enum_index = nullptr;   // for a long one
    const YamlValue* const_value = nullptr;  // any value
    std::string location;                    // JSON pointer: "#/properties/a"
    std::optional<Number> minimum, maximum, exclusive_minimum, exclusive_maximum, multiple_of;
    NumberRange number_range;  // what the four bounds admit, noted with the groups
    // The keyword an exclusive bound came from: draft 4 wrote it as
    // "minimum" with "exclusiveMinimum": true.
    const char* exclusive_minimum_keyword = "exclusiveMinimum";
    const char* exclusive_maximum_keyword = "exclusiveMaximum";
    std::optional<double> min_length, max_length;
    const EcmaRegex* pattern = nullptr;
    std::string_view pattern_source;
    Format format = Format::None;
    std::string_view format_name;

    // Objects.
    const YamlValue* required = nullptr;    // a non-empty Sequence
    std::vector<NameMatch> required_names;  // its String items, noted with the groups
    bool has_properties = false;
    std::vector<NamedRule> properties;  // in schema order
    PropertyTable property_table;       // of `properties`
    std::vector<PatternRule> pattern_properties;
    const SchemaRule* additional = nullptr;  // additionalProperties
    const SchemaRule* property_names = nullptr;
    std::optional<double> min_properties, max_properties;
    std::vector<RequiredWith> dependent_required;
    std::vector<NamedRule> dependent_schemas;
    const SchemaRule* unevaluated_properties = nullptr;

    // Arrays: the first items by position (prefixItems, or draft 7's list
    // form of items), then `items` for the rest (items, or draft 7's
    // additionalItems after a list).
    std::optional<double> min_items, max_items;
    std::vector<const SchemaRule*> prefix_items;
    const SchemaRule* items = nullptr;
    const SchemaRule* contains = nullptr;
    std::optional<double> min_contains, max_contains;
    bool unique_items = false;
    const SchemaRule* unevaluated_items = nullptr;

    // Combinators.
    bool has_all_of = false, has_any_of = false, has_one_of = false;
    std::vector<const SchemaRule*> all_of, any_of, one_of;
    const SchemaRule* not_rule = nullptr;
    const SchemaRule* if_rule = nullptr;
    const SchemaRule* then_rule = nullptr;
    const SchemaRule* else_rule = nullptr;

    bool tracks_evaluation() const { return unevaluated_properties || unevaluated_items; }
    // Whether checking a scalar against this rule reads nothing but the
    // scalar, and the rule is for scalars: no reference of its own, no
    // keywords for collections, no evaluation tracked, and every
    // combinator's rule settles scalars (has a leaf) itself.
    bool reads_only_the_value() const;
    // A rule that is nothing but a "$ref" is checked by following it, unless
    // its outcome is kept per node or the dynamic scope (in a schema that
    // has one) must enter its resource.
    bool passes_through(bool dynamic_scope) const { return only_ref && !shared && !dynamic_scope; }
    void note_through(bool dynamic_scope);
    // Calls `f` with each rule this one applies to the node it checks, not
    // to its children: references, allOf, anyOf, oneOf, not, if, then,
    // else and dependentSchemas.
    template <class F>
    void for_each_in_place(F f) const {
        if (ref) f(ref);
        if (dynamic_ref) {
            f(dynamic_ref->fallback);
            for (const DynamicTarget& t : dynamic_ref->targets) f(t.rule);
        }
        for (const auto* list : {&all_of, &any_of, &one_of})
            for (const SchemaRule* r : *list) f(r);
        for (const SchemaRule* r : {not_rule, if_rule, then_rule, else_rule})
            if (r) f(r);
        for (const NamedRule& d : dependent_schemas) f(d.rule);
    }
    const SchemaRule* property(std::string_view name) const { return property_table.find(name); }
};

// Fetches the documents that references outside the schema name (another
// file's URI): the caller's schema_resolver. The value returned must live as
// long as the fetcher.
class SchemaFetcher {
  public:
    virtual ~SchemaFetcher() = default;
    // The document at `uri` (absolute, without fragment), or an error.
    virtual Result<const YamlValue*> fetch(const std::string& uri) = 0;
};

struct SchemaOptions {
    bool assert_formats = false;  // OPT_SCHEMA_FORMAT
};

// The rules of one schema, read from its root; they point into the schema
// value (and the fetched documents), which must outlive them.
class CompiledSchema {
  public:
    // Fails on a pattern that does not compile, a reference that names
    // nothing, a document no fetcher provides, or when the stack runs out.
    static Result<std::unique_ptr<CompiledSchema>> compile(const YamlValue& schema,
                                                           SchemaFetcher* fetcher,
                                                           SchemaOptions options);

    const SchemaRule& root() const { return *root_; }
    const SchemaOptions& options() const { return options_; }
    // Whether any "$dynamicRef" depends on the dynamic scope.
    bool dynamic() const { return dynamic_; }

  private:
    friend class RuleReader;
    SchemaIndex index_;
    SchemaOptions options_;
    const SchemaRule* root_ = nullptr;
    bool dynamic_ = false;
    std::deque<SchemaRule> store_;
    std::deque<EnumIndex> enum_indexes_;
    std::deque<EcmaRegex> regexes_;
    std::deque<DynamicRef> dynamic_refs_;
    // The rule read from each schema mapping, by its entries' storage: a
    // schema whose parts are shared (or named by many references) is read
    // once.
    std::unordered_map<const YamlValue*, SchemaRule*> read_;
};

// The bits of the value kinds a "type" name allows (an unknown name allows
// every kind), and the bits a value of a kind has: one of them in a rule's
// mask means the type matches.
struct TypeBits {
    enum : std::uint8_t {
        kNull = 1,
        kBoolean = 2,
        kInteger = 4,
        kNumber = 8,
        kString = 16,
        kArray = 32,
        kObject = 64,
    };
};
std::uint8_t type_name_bits(std::string_view name);
// A table, not a switch: the kind changes from node to node, and a branch
// on it would be mispredicted about as often.
inline std::uint8_t value_type_bits(ValueKind kind) {
    static constexpr std::uint8_t bits[] = {
        TypeBits::kNull,                         // Null
        TypeBits::kBoolean,                      // Bool
        TypeBits::kInteger | TypeBits::kNumber,  // Int
        TypeBits::kInteger | TypeBits::kNumber,  // BigInt
        TypeBits::kNumber,                       // Float: not an integer, even an integral one
        TypeBits::kString,                       // String
        TypeBits::kArray,                        // Sequence
        TypeBits::kObject,                       // Mapping
        TypeBits::kNull,                         // Tagged
    };
    static_assert(std::size(bits) == static_cast<std::size_t>(ValueKind::Tagged) + 1);
    return bits[static_cast<std::size_t>(kind)];
}

// A length or count bound: an Int, or a finite Float without a fraction.
std::optional<double> count_bound(const YamlValue& v);

}  // namespace quarvel
