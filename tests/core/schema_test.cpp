// Schema validation without Python: number spelling in messages, the
// validation copy's limits on large trees, and violations on composed text.
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "compose_check.hpp"
#include "schema/data_copy.hpp"
#include "schema/rules.hpp"
#include "schema/validate.hpp"
#include "value/value_identity.hpp"

using namespace quarvel;

namespace {

void number_spelling() {
    struct Case {
        double value;
        const char* text;
    };
    for (Case c : {Case{3, "3"}, Case{2.5, "2.5"}, Case{0.001, "0.001"}, Case{-7, "-7"},
                   Case{1e20, "100000000000000000000"}, Case{1e-7, "0.0000001"},
                   Case{0.1 + 0.2, "0.30000000000000004"}, Case{1.0 / 0.0, "inf"},
                   Case{-1.0 / 0.0, "-inf"}, Case{9007199254740993.0, "9007199254740992"}}) {
        check::Case name(c.text);
        CHECK_EQ(number_text(c.value), std::string(c.text));
    }
}

// The rules of a schema, read as loads reads them (no other documents).
std::unique_ptr<CompiledSchema> compiled(const YamlValue& schema) {
    auto rules = CompiledSchema::compile(schema, nullptr, {});
    return rules ? std::move(*rules) : nullptr;
}

YamlNode scalar(std::string_view text) {
    YamlNode n;
    n.kind = NodeKind::Scalar;
    n.text = text;
    return n;
}

// A million and more nodes written out (no aliases) are all copied; only
// copies made for aliases draw on the budget.
void large_tree_is_copied_in_full() {
    YamlNode root;
    root.kind = NodeKind::Sequence;
    const std::uint32_t n = 1'200'000;
    root.children.reserve(n);
    for (std::uint32_t i = 0; i < n; ++i) root.children.push_back(scalar("1"));
    root.children.back().text = "x";
    const auto copied = copy_for_validation(root, false);
    if (!CHECK(copied.has_value())) return;
    const DataCopy& copy = *copied;
    CHECK_EQ(copy.nodes.size(), std::size_t{n} + 1);
    CHECK(copy.nodes.back().kind == NodeKind::Scalar);

    Arena arena;
    const YamlValue items =
        YamlValue::mapping(arena, {YamlValue::string("type"), YamlValue::string("integer")});
    const YamlValue schema = YamlValue::mapping(arena, {YamlValue::string("items"), items});
    const auto rules = compiled(schema);
    if (!CHECK(rules != nullptr)) return;
    auto result = validate_document(root, false, *rules, ResolverMode::Core12);
    CHECK(result.has_value());
    if (result && CHECK_EQ(result->size(), std::size_t{1}))
        CHECK_EQ(result->front().path, std::string("$[1199999]"));
}

YamlValue type_schema(std::string_view type) {
    static Arena arena;  // lives as long as the program, like the schemas
    return YamlValue::mapping(arena, {YamlValue::string("type"), YamlValue::string(type)});
}

// The alias target is the latest definition before the alias, also for an
// alias inside an anchored node that is itself copied later.
void aliases_follow_the_latest_definition() {
    const std::string text = "a: &x 1\nl: &y [*x]\nc: &x two\nd: *y\ne: *x\n";
    SyntaxForest forest = check::compose(text);
    if (!CHECK_EQ(forest.roots.size(), std::size_t{1})) return;
    const auto copied = copy_for_validation(forest.roots[0], forest.has_aliases);
    if (!CHECK(copied.has_value())) return;
    const DataCopy& copy = *copied;
    // Root entries: a, l, c, d, e; d's copy holds [1], e reads "two".
    const DataNode& root = copy.nodes[0];
    const DataNode& d = copy.nodes[root.value(3)];
    const DataNode& e = copy.nodes[root.value(4)];
    CHECK(d.kind == NodeKind::Sequence);
    if (CHECK_EQ(d.count, 1u)) CHECK_EQ(copy.nodes[d.first].source->text, std::string_view("1"));
    CHECK_EQ(e.source->text, std::string_view("two"));
    // The alias's own position: line 3, column 3 (0-based).
    CHECK_EQ(d.line, 3u);
    CHECK_EQ(d.column, 3u);

    const auto rules = compiled(type_schema("array"));
    if (!CHECK(rules != nullptr)) return;
    auto result =
        validate_document(forest.roots[0], forest.has_aliases, *rules, ResolverMode::Core12);
    if (CHECK(result.has_value()) && CHECK_EQ(result->size(), std::size_t{1})) {
        CHECK_EQ(result->front().message, std::string("expected type array, found object"));
        const Error e2 = schema_violation_error(result->front());
        CHECK(e2.family == ErrorFamily::Schema);
        CHECK_EQ(e2.schema_path, std::string("$"));
    }
}

}  // namespace

// loads keeps a schema read into rules as a copy, and takes it for a later
// schema only when the two are identical: to the bit of every float, the kind
// of every scalar, and which parts are shared.
void kept_copies_are_identical() {
    Arena arena;
    const auto str = [](std::string_view s) { return YamlValue::string(s); };
    const YamlValue part =
        YamlValue::mapping(arena, ValueList{str("minimum"), YamlValue::from_int(1)});
    const auto schema = [&](const YamlValue& first, const YamlValue& second,
                            const YamlValue& bound) {
        return YamlValue::mapping(
            arena, ValueList{str("allOf"), YamlValue::sequence(arena, ValueList{first, second}),
                             str("maximum"), bound});
    };
    const YamlValue shared = schema(part, part, YamlValue::from_float(0.0));

    Arena kept_arena;
    const auto kept = copy_value(kept_arena, shared);
    CHECK(kept.has_value());
    CHECK(identical_values(*kept, shared));
    CHECK(identical_values(shared, *kept));
    // The copy owns its texts and keeps the sharing.
    const YamlValue& items = kept->children()[1];
    CHECK(items.children()[0].children().data() == items.children()[1].children().data());
    CHECK(items.children()[0].children()[0].text().data() != part.children()[0].text().data());

    const YamlValue twin =
        YamlValue::mapping(arena, ValueList{str("minimum"), YamlValue::from_int(1)});
    struct Case {
        const char* name;
        YamlValue other;
    };
    for (const Case& c : {
             Case{"equal parts, not shared", schema(part, twin, YamlValue::from_float(0.0))},
             Case{"negative zero", schema(part, part, YamlValue::from_float(-0.0))},
             Case{"an integer for a float", schema(part, part, YamlValue::from_int(0))},
             Case{"a boolean for a float", schema(part, part, YamlValue::from_bool(false))},
             Case{"another text", schema(part, part, str("0"))},
         }) {
        check::Case name(c.name);
        CHECK(!identical_values(*kept, c.other));
        CHECK(!identical_values(c.other, *kept));
    }
}

int main() {
    kept_copies_are_identical();
    number_spelling();
    large_tree_is_copied_in_full();
    aliases_follow_the_latest_definition();
    return check::finish("schema_test");
}
