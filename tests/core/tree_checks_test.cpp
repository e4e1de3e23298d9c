// The anchor index, the expanding copy and the checks on syntax trees
// (duplicate keys, 1.1 warnings, the 1.1 upgrade): on trees built by hand,
// then on trees composed from text.
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "check.hpp"
#include "compose_check.hpp"
#include "support/stack.hpp"
#include "syntax/anchors.hpp"
#include "syntax/checks.hpp"
#include "syntax/compose.hpp"

using namespace quarvel;
using check::compose;

namespace {

// --- building trees -------------------------------------------------------

YamlNode at(YamlNode n, std::uint32_t line, std::uint32_t column) {
    n.span.line = line;
    n.span.column = column;
    n.span.offset = std::uint64_t{line} * 100 + column;
    return n;
}

YamlNode scalar(std::string_view text, ScalarStyle style = ScalarStyle::Plain) {
    YamlNode n;
    n.kind = NodeKind::Scalar;
    n.text = text;
    n.scalar_style = style;
    return n;
}

YamlNode quoted(std::string_view text) {
    return scalar(text, ScalarStyle::DoubleQuoted);
}

YamlNode tagged(std::string_view tag, YamlNode n) {
    n.set_tag(tag);
    return n;
}

YamlNode anchored(std::string_view name, YamlNode n) {
    n.set_anchor(name);
    return n;
}

YamlNode alias(std::string_view name) {
    YamlNode n;
    n.kind = NodeKind::Alias;
    n.text = name;
    return n;
}

YamlNode null_node() {
    return YamlNode{};
}

YamlNode collection(NodeKind kind, NodeList& items) {
    YamlNode n;
    n.kind = kind;
    n.children = std::move(items);
    return n;
}

template <class... N>
YamlNode seq(N... items) {
    NodeList v;
    (v.push_back(std::move(items)), ...);
    return collection(NodeKind::Sequence, v);
}

// Keys and values alternate.
template <class... N>
YamlNode mapping(N... items) {
    NodeList v;
    (v.push_back(std::move(items)), ...);
    return collection(NodeKind::Mapping, v);
}

// "a12": a name with a number (built with append, which GCC 12 does not
// misreport as an overlapping copy).
std::string numbered(std::string_view prefix, std::size_t i) {
    std::string s(prefix);
    s.append(std::to_string(i));
    return s;
}

SyntaxForest forest_of(YamlNode root) {
    SyntaxForest f;
    f.roots.push_back(std::move(root));
    return f;
}

std::string identity(const YamlNode& key, ResolverMode mode = ResolverMode::Core12) {
    std::string out;
    CHECK(append_key_identity(key, mode, out));
    return out;
}

struct Outcome {
    bool ok = true;
    std::string message;
    int selector = -1;
    std::uint32_t line = 0, column = 0, file = 0;
    std::vector<std::string> warnings;  // their texts
};

Outcome run(SyntaxForest& f, const TreeCheckOptions& options) {
    Outcome out;
    Warnings warnings;
    auto status = check_tree(f, options, warnings, &out.file);
    for (const Warning& w : warnings) out.warnings.push_back(w.text);
    if (!status) {
        out.ok = false;
        out.message = status.error().message;
        out.selector = status.error().selector;
        out.line = status.error().line;
        out.column = status.error().column;
    }
    return out;
}

TreeCheckOptions errors() {
    TreeCheckOptions o;
    o.duplicate_keys_error = true;
    return o;
}

TreeCheckOptions warns() {
    TreeCheckOptions o;
    o.duplicate_keys_warn = true;
    return o;
}

std::size_t depth_of_sequences(const YamlNode* n) {
    std::size_t d = 0;
    while (n->kind == NodeKind::Sequence && n->children.size() == 1) {
        ++d;
        n = &n->children[0];
    }
    return d;
}

// --- anchor index ---------------------------------------------------------

void anchor_index() {
    check::Case c("anchor index");
    // Root 1: {&k key: &v [&i item, &dup first]}, root 2: &dup second.
    NodeList roots;
    roots.push_back(mapping(
        anchored("k", scalar("key")),
        anchored("v", seq(anchored("i", scalar("item")), anchored("dup", scalar("first"))))));
    roots.push_back(anchored("dup", scalar("second")));
    roots.push_back(anchored("k", scalar("third")));
    AnchorIndex index(roots);
    CHECK_EQ(index.size(), std::size_t{4});
    CHECK(index.find("k") == &roots[0].key(0));
    CHECK(index.find("v") == &roots[0].value(0));
    CHECK(index.find("i") == &roots[0].value(0).children[0]);
    // The first definition in document order wins, across roots too.
    CHECK(index.find("dup") == &roots[0].value(0).children[1]);
    CHECK(index.find("missing") == nullptr);
    CHECK(AnchorIndex{}.find("k") == nullptr);
}

// --- expanding copy -------------------------------------------------------

void copy_keeps_properties_and_expands() {
    check::Case c("copy keeps properties, expands aliases");
    NodeList roots;
    YamlNode target = at(anchored("t", tagged("!x", seq(scalar("a"), alias("u")))), 3, 2);
    target.style = CollectionStyle::Flow;
    target.comments.text_fields().inline_text = "note";
    target.explicit_start = true;
    roots.push_back(std::move(target));
    roots.push_back(anchored("u", at(scalar("b", ScalarStyle::SingleQuoted), 9, 4)));
    roots.push_back(mapping(scalar("k"), alias("t")));
    AnchorIndex index(roots);

    YamlNode copy = expanding_copy(roots[2], index);
    CHECK(copy.kind == NodeKind::Mapping);
    const YamlNode& t = copy.value(0);
    CHECK(t.kind == NodeKind::Sequence);
    CHECK(t.anchor() == std::optional<std::string_view>("t"));
    CHECK(t.tag() == std::optional<std::string_view>("!x"));
    CHECK(t.style == CollectionStyle::Flow);
    CHECK(t.comments.has_inline());
    CHECK_EQ(t.span.line, 3u);
    CHECK(!t.explicit_start);  // a root's flag does not travel with the copy
    CHECK_EQ(t.children.size(), std::size_t{2});
    CHECK(t.children[1].kind == NodeKind::Scalar);
    CHECK_EQ(t.children[1].text, std::string_view("b"));
    CHECK(t.children[1].scalar_style == ScalarStyle::SingleQuoted);
    CHECK_EQ(t.children[1].span.line, 9u);
    // The source is untouched.
    CHECK(roots[2].value(0).kind == NodeKind::Alias);

    YamlNode detached = expanding_copy(roots[2], index, CopyAnchors::Drop);
    CHECK(!detached.value(0).anchor());
    CHECK(!detached.value(0).children[1].anchor());
    CHECK(detached.value(0).tag().has_value());
}

void undefined_alias_is_null() {
    check::Case c("undefined alias");
    YamlNode root = seq(at(alias("nowhere"), 4, 6));
    NodeList roots;
    roots.push_back(std::move(root));
    YamlNode copy = expanding_copy(roots[0], AnchorIndex(roots));
    const YamlNode& n = copy.children[0];
    CHECK(n.kind == NodeKind::Null);
    CHECK_EQ(n.span.line, 4u);
    CHECK_EQ(n.span.column, 6u);
    CHECK_EQ(n.end_offset, n.span.offset);
    CHECK_EQ(n.end_line, 4u);
    CHECK_EQ(n.end_column, 6u);
}

// Anchor a0 is a scalar; anchor ai is a sequence holding *a(i-1). Copying
// *a(length) follows `length` nested aliases.
NodeList alias_chain(std::size_t length, std::vector<std::string>& names) {
    names.clear();
    for (std::size_t i = 0; i <= length; ++i) names.push_back(numbered("a", i));
    NodeList roots;
    roots.push_back(anchored(names[0], at(tagged("!!str", scalar("end")), 1, 1)));
    for (std::size_t i = 1; i <= length; ++i)
        roots.push_back(anchored(names[i], at(seq(alias(names[i - 1])), 1 + i, 1)));
    return roots;
}

void alias_depth_limit() {
    check::Case c("alias depth limit");
    std::vector<std::string> names;
    {
        // 100 nested aliases are still followed to the end.
        auto roots = alias_chain(100, names);
        AnchorIndex index(roots);
        YamlNode copy = expanding_copy(roots[100], index);
        CHECK_EQ(depth_of_sequences(&copy), std::size_t{100});
        const YamlNode* n = &copy;
        while (n->kind == NodeKind::Sequence) n = &n->children[0];
        CHECK(n->kind == NodeKind::Scalar);
        CHECK_EQ(n->text, std::string_view("end"));
    }
    {
        // Deeper chains stop with a null where the node the 101st alias
        // reaches starts (a49, on line 50).
        auto roots = alias_chain(150, names);
        AnchorIndex index(roots);
        YamlNode copy = expanding_copy(roots[150], index);
        CHECK_EQ(depth_of_sequences(&copy), std::size_t{101});
        const YamlNode* n = &copy;
        while (n->kind == NodeKind::Sequence) n = &n->children[0];
        CHECK(n->kind == NodeKind::Null);
        CHECK(!n->anchor() && !n->tag());
        CHECK_EQ(n->span.line, 50u);
        CHECK_EQ(n->end_offset, n->span.offset);
    }
    {
        // An alias inside the anchor it names is a cycle: read as conversion
        // reads it, the anchor once more with the alias inside it null, not
        // the anchor copied into itself 100 times.
        NodeList roots;
        roots.push_back(anchored("self", seq(alias("self"))));
        YamlNode copy = expanding_copy(roots[0], AnchorIndex(roots));
        CHECK_EQ(depth_of_sequences(&copy), std::size_t{2});
        CHECK(copy.children.front().children.front().kind == NodeKind::Null);
    }
}

std::uint64_t count_nodes(const YamlNode& n, std::uint64_t& nulls) {
    std::uint64_t total = 0;
    std::vector<const YamlNode*> pending{&n};
    while (!pending.empty()) {
        const YamlNode* x = pending.back();
        pending.pop_back();
        ++total;
        if (x->kind == NodeKind::Null) ++nulls;
        for (const YamlNode& c : x->children) pending.push_back(&c);
    }
    return total;
}

void expansion_budget() {
    {
        check::Case c("budget counts every node, aliases included");
        // [*x, *x] with x = [a, b]: the root, the first alias, x, a and b use
        // a budget of five; the second alias becomes a null where it stands.
        NodeList roots;
        roots.push_back(anchored("x", seq(scalar("a"), scalar("b"))));
        roots.push_back(seq(at(alias("x"), 7, 1), at(alias("x"), 7, 5)));
        YamlNode copy = expanding_copy(roots[1], AnchorIndex(roots), CopyAnchors::Keep, 5);
        CHECK_EQ(copy.children.size(), std::size_t{2});
        CHECK(copy.children[0].kind == NodeKind::Sequence);
        CHECK_EQ(copy.children[0].children.size(), std::size_t{2});
        CHECK(copy.children[1].kind == NodeKind::Null);
        CHECK_EQ(copy.children[1].span.column, 5u);
    }
}

void deep_trees() {
    check::Case c("trees deeper than the call stack");
    // Far deeper than composition allows, so every walk needs stack segments.
    constexpr std::size_t depth = 200'000;
    YamlNode root = anchored("bottom", scalar("x"));
    for (std::size_t i = 0; i < depth; ++i)
        root = i % 2 ? seq(std::move(root)) : mapping(scalar("k"), std::move(root));
    NodeList roots;
    roots.push_back(std::move(root));
    roots.push_back(alias("bottom"));
    AnchorIndex index(roots);
    CHECK(index.find("bottom") != nullptr);

    clear_stack_exhausted();
    YamlNode copy = expanding_copy(roots[0], index, CopyAnchors::Drop);
    CHECK(!stack_exhausted());
    CHECK(copy.kind == NodeKind::Sequence);
    const YamlNode* n = &copy;
    std::size_t levels = 0;
    while (!n->children.empty()) {
        n = &n->children.back();
        ++levels;
    }
    CHECK_EQ(levels, depth);
    CHECK(n->kind == NodeKind::Scalar && !n->anchor());

    SyntaxForest f;
    f.roots = std::move(roots);
    TreeCheckOptions o = errors();
    o.upgrade_1_1 = true;
    o.mode = ResolverMode::Yaml11;
    Outcome out = run(f, o);
    CHECK(out.ok);
    CHECK(!stack_exhausted());
}

// --- key identity ---------------------------------------------------------

void key_identities() {
    check::Case c("key identity texts");
    const auto y11 = ResolverMode::Yaml11;
    // Equal texts for the same key as the value composer reads it, different
    // texts for different keys.
    auto same = [&](const YamlNode& a, const YamlNode& b, ResolverMode m = ResolverMode::Core12) {
        return identity(a, m) == identity(b, m);
    };
    CHECK(!same(scalar("1"), quoted("1")));
    CHECK(same(tagged("!!str", scalar("1")), quoted("1")));
    CHECK(same(tagged("!!int", quoted("0x10")), scalar("16")));
    CHECK(same(scalar("0x10"), scalar("16")));
    CHECK(same(scalar("~"), null_node()));
    CHECK(same(tagged("!!str", null_node()), quoted("")));
    CHECK(!same(scalar("true"), quoted("true")));
    CHECK(!same(scalar("yes"), scalar("true")));
    CHECK(same(scalar("yes"), scalar("true"), y11));
    CHECK(same(scalar("010"), scalar("8"), y11));
    CHECK(!same(scalar("1.5"), quoted("1.5")));
    CHECK(!same(scalar("1"), scalar("1.0")));
    CHECK(same(scalar("-0.0"), scalar("0.0")));
    CHECK(same(scalar(".nan"), scalar(".NaN")));
    CHECK(same(scalar("1.0"), scalar("1.00")));
    CHECK(same(scalar("<<"), quoted("<<")));
    CHECK(same(scalar("99999999999999999999"), scalar("+99999999999999999999")));
    CHECK(!same(tagged("!t", scalar("a")), scalar("a")));
    CHECK(same(tagged("!", scalar("a")), scalar("a")));
    CHECK(!same(alias("a"), scalar("a")));
    CHECK(same(seq(scalar("a"), scalar("0x1"), seq()), seq(quoted("a"), scalar("1"), seq())));
    CHECK(!same(seq(scalar("a")), mapping(scalar("a"), null_node())));
    // Texts holding the delimiters never make two different keys equal.
    CHECK(identity(seq(scalar("a"), scalar("b"))) != identity(seq(quoted("a,s:b"))));
    CHECK(identity(mapping(scalar("a"), scalar("b"))) !=
          identity(mapping(quoted("a=s:b"), null_node())));
    CHECK(identity(seq(quoted("a\\"), scalar("b"))) != identity(seq(quoted("a\\,s:b"))));
}

void duplicates_error_mode() {
    {
        check::Case c("a repeated scalar key fails at the repeat");
        auto f = forest_of(mapping(at(scalar("a"), 0, 0), scalar("1"), at(scalar("b"), 1, 0),
                                   scalar("2"), at(scalar("a"), 2, 0), scalar("3")));
        f.roots[0].key(2).span.file_id = 7;
        Outcome out = run(f, errors());
        CHECK(!out.ok);
        CHECK_EQ(out.message, std::string("duplicate mapping key: a"));
        CHECK_EQ(out.selector, syntax_kind::duplicate_key);
        CHECK_EQ(out.line, 2u);
        CHECK_EQ(out.column, 0u);
        CHECK_EQ(out.file, 7u);
    }
    {
        check::Case c("a key other than a string is shown as its value");
        auto f = forest_of(mapping(scalar("0x1"), scalar("1"), at(scalar("1"), 4, 2), scalar("3")));
        Outcome out = run(f, errors());
        CHECK_EQ(out.message, std::string("duplicate mapping key: Int(1)"));
        CHECK_EQ(out.line, 4u);
        CHECK_EQ(out.column, 2u);
    }
    {
        check::Case c("complex keys");
        auto f = forest_of(mapping(seq(scalar("1"), scalar("a")), null_node(),
                                   seq(scalar("1"), quoted("a")), null_node()));
        CHECK_EQ(run(f, errors()).message,
                 std::string("duplicate mapping key: Sequence([Int(1), String(\"a\")])"));
        f = forest_of(mapping(mapping(scalar("2.0"), tagged("!t", quoted("x\"y"))), null_node(),
                              mapping(scalar("2.0"), tagged("!t", quoted("x\"y"))), null_node()));
        CHECK_EQ(run(f, errors()).message,
                 std::string("duplicate mapping key: Mapping([(Float(2.0), Tagged(\"!t\", "
                             "String(\"x\\\"y\")))])"));
        // An alias is the node it names.
        f = forest_of(mapping(anchored("a", scalar("0x2")), null_node(), alias("a"), null_node()));
        CHECK_EQ(run(f, errors()).message, std::string("duplicate mapping key: Int(2)"));
    }
    {
        check::Case c("keys that do not collide");
        auto f = forest_of(
            mapping(scalar("1"), null_node(), quoted("1"), null_node(), scalar("1.0"), null_node(),
                    scalar("true"), null_node(), quoted("true"), null_node(), null_node(),
                    null_node(), alias("a"), null_node(), alias("b"), null_node(), seq(scalar("1")),
                    null_node(), mapping(scalar("1"), null_node()), null_node()));
        CHECK(run(f, errors()).ok);
    }
    {
        check::Case c("merge keys repeat; quoted << does not merge");
        auto f = forest_of(mapping(scalar("<<"), mapping(scalar("a"), scalar("1")), scalar("<<"),
                                   mapping(scalar("b"), scalar("2")), quoted("<<"), scalar("3")));
        CHECK(run(f, errors()).ok);
        f.roots[0].children.push_back(at(quoted("<<"), 5, 1));
        f.roots[0].children.push_back(scalar("4"));
        Outcome out = run(f, errors());
        CHECK_EQ(out.message, std::string("duplicate mapping key: <<"));
        CHECK_EQ(out.line, 5u);
    }
    {
        check::Case c("the same key in different mappings");
        auto f = forest_of(mapping(scalar("a"),
                                   mapping(scalar("x"), null_node(), scalar("y"), null_node()),
                                   scalar("b"), mapping(scalar("x"), null_node()), scalar("x"),
                                   seq(mapping(scalar("a"), null_node()))));
        CHECK(run(f, errors()).ok);
    }
    {
        check::Case c("first duplicate in document order");
        // A key is compared once its value is read, as loading without the
        // tree compares it: the repeat of x inside the value of the repeated
        // a comes first.
        auto f = forest_of(mapping(
            scalar("a"), scalar("1"), at(scalar("a"), 1, 0),
            mapping(at(scalar("x"), 1, 4), null_node(), at(scalar("x"), 2, 4), null_node())));
        Outcome out = run(f, errors());
        CHECK_EQ(out.message, std::string("duplicate mapping key: x"));
        CHECK_EQ(out.line, 2u);
        // Without the inner repeat, the outer one is found; so is one in a
        // later root.
        f.roots[0].value(1).key(1).text = "y";
        out = run(f, errors());
        CHECK_EQ(out.message, std::string("duplicate mapping key: a"));
        CHECK_EQ(out.line, 1u);
        auto g = forest_of(scalar("top"));
        g.roots.push_back(mapping(scalar("k"), null_node(), at(scalar("k"), 9, 0), null_node()));
        CHECK_EQ(run(g, errors()).line, 9u);
    }
    {
        check::Case c("large mappings");
        // Past the linear comparison: keys are looked up by hash.
        std::vector<std::string> names;
        for (std::size_t i = 0; i < 5000; ++i) names.push_back(numbered("k", i));
        YamlNode m = mapping();
        for (const auto& n : names) {
            m.children.push_back(scalar(n));
            m.children.push_back(
                mapping(scalar(n), null_node()));  // nested keys use the same buffer
        }
        auto f = forest_of(std::move(m));
        CHECK(run(f, errors()).ok);
        f.roots[0].children.push_back(at(quoted("k4321"), 6000, 0));
        f.roots[0].children.push_back(null_node());
        Outcome out = run(f, errors());
        CHECK_EQ(out.message, std::string("duplicate mapping key: k4321"));
        CHECK_EQ(out.line, 6000u);
    }
}

void duplicates_warning_mode() {
    {
        check::Case c("every repeat warns and both entries stay");
        auto f =
            forest_of(mapping(scalar("a"), scalar("1"), at(scalar("a"), 1, 0), scalar("2"),
                              at(seq(scalar("1")), 2, 3), null_node(), at(seq(scalar("1")), 3, 3),
                              null_node(), at(scalar("a"), 4, 0), scalar("3")));
        Outcome out = run(f, warns());
        CHECK(out.ok);
        CHECK_EQ(out.warnings.size(), std::size_t{3});
        if (out.warnings.size() == 3) {
            CHECK_EQ(out.warnings[0],
                     std::string(
                         "duplicate mapping key 'a' at line 2, column 1; keeping the last value"));
            CHECK_EQ(out.warnings[1],
                     std::string("duplicate mapping key 'Sequence([Int(1)])' at line 4, column 4; "
                                 "keeping the last value"));
            CHECK_EQ(out.warnings[2],
                     std::string(
                         "duplicate mapping key 'a' at line 5, column 1; keeping the last value"));
        }
        CHECK_EQ(f.roots[0].size(), std::size_t{5});
    }
    {
        check::Case c("warnings in the order of loading without the tree");
        // 1.1 readings of the repeated key and its value come first.
        TreeCheckOptions o = warns();
        o.mode = ResolverMode::Yaml11;
        o.warn_1_1 = true;
        auto f = forest_of(mapping(at(scalar("yes"), 0, 0), scalar("1"), at(scalar("yes"), 1, 0),
                                   at(scalar("on"), 1, 5)));
        Outcome out = run(f, o);
        CHECK_EQ(out.warnings.size(), std::size_t{4});
        if (out.warnings.size() == 4) {
            CHECK(out.warnings[0].find("'yes'") != std::string::npos);
            CHECK(out.warnings[1].find("'yes'") != std::string::npos);
            CHECK(out.warnings[2].find("'on'") != std::string::npos);
            CHECK_EQ(out.warnings[3],
                     std::string("duplicate mapping key 'Bool(true)' at line 2, column 1; "
                                 "keeping the last value"));
        }
    }
}

// --- YAML 1.1 -------------------------------------------------------------

void upgrade() {
    check::Case c("upgrade to 1.2 spellings");
    TreeCheckOptions o;
    o.mode = ResolverMode::Yaml11;
    o.upgrade_1_1 = true;
    auto f = forest_of(
        mapping(scalar("yes"), scalar("on"), scalar("y"), scalar("OFF"), scalar("010"),
                scalar("0b101"), scalar("1:30"), scalar("1_000.5"), scalar("0x_1F"),
                seq(scalar("123_456_789_012_345_678_901"), scalar("hello"), quoted("yes"),
                    tagged("!!str", scalar("yes")), tagged("!!int", scalar("010")), scalar("true"),
                    scalar("12"), scalar("0o17"), scalar("1e3"), tagged("!x", scalar("1e3")))));
    Outcome out = run(f, o);
    CHECK(out.ok);
    CHECK(out.warnings.empty());
    const YamlNode& m = f.roots[0];
    const char* expected[] = {"true", "true", "true", "false", "8", "5", "90", "1000.5", "31"};
    for (std::size_t i = 0; i < 9; ++i) {
        CHECK_EQ(m.children[i].text, std::string_view(expected[i]));
        CHECK(m.children[i].comments.modified);
        CHECK(m.children[i].scalar_style == ScalarStyle::Plain);
    }
    const auto& items = m.value(4).children;
    CHECK_EQ(items[0].text, std::string_view("123456789012345678901"));
    CHECK(items[0].comments.modified);
    // Strings, quoted or tagged scalars and scalars both versions read alike
    // stay as they are.
    for (std::size_t i = 1; i <= 3; ++i) CHECK(!items[i].comments.modified);
    CHECK_EQ(items[3].text, std::string_view("yes"));
    CHECK_EQ(items[2].text, std::string_view("yes"));
    // A tag applies under both versions: !!int 010 is 8 in 1.1, 10 in 1.2.
    CHECK_EQ(items[4].text, std::string_view("8"));
    CHECK(!items[5].comments.modified && !items[6].comments.modified);
    // Strings that 1.2 would read as numbers keep their text and get quoted.
    for (std::size_t i : {7, 8}) {
        CHECK(items[i].scalar_style == ScalarStyle::SingleQuoted);
        CHECK(items[i].comments.modified);
    }
    CHECK_EQ(items[7].text, std::string_view("0o17"));
    CHECK(items[9].scalar_style == ScalarStyle::Plain && !items[9].comments.modified);

    // The PyYAML mode reads y as a string.
    o.mode = ResolverMode::PyYaml;
    auto g = forest_of(seq(scalar("y"), scalar("yes")));
    CHECK(run(g, o).ok);
    CHECK_EQ(g.roots[0].children[0].text, std::string_view("y"));
    CHECK_EQ(g.roots[0].children[1].text, std::string_view("true"));
}

// --- composed from text ---------------------------------------------------

void from_text() {
    {
        check::Case c("duplicates in a composed text");
        auto f = compose("top:\n  a: 1\n  b: 2\n  'a': 3\n");
        Outcome out = run(f, errors());
        CHECK_EQ(out.message, std::string("duplicate mapping key: a"));
        CHECK_EQ(out.line, 3u);
        CHECK_EQ(out.column, 2u);
        auto g = compose("{[1, a]: x, [1, 'a']: y, ? : z, : w}\n");
        out = run(g, warns());
        CHECK(out.ok);
        CHECK_EQ(out.warnings.size(), std::size_t{2});
        if (out.warnings.size() == 2) {
            CHECK_EQ(out.warnings[0],
                     std::string("duplicate mapping key 'Sequence([Int(1), String(\"a\")])' at "
                                 "line 1, column 13; keeping the last value"));
            CHECK(out.warnings[1].starts_with("duplicate mapping key 'Null' at line 1"));
        }
        auto h = compose("base: &b {x: 1}\nm:\n  <<: *b\n  <<: {y: 2}\n  1: one\n  '1': also\n");
        CHECK(run(h, errors()).ok);
    }
    {
        check::Case c("billion laughs");
        // Nine levels of ten aliases: 10^9 nodes expanded, cut at the budget.
        std::string text = "l0: &l0 lol\n";
        for (std::size_t i = 1; i <= 9; ++i) {
            text.append(numbered("l", i)).append(": &").append(numbered("l", i)).append(" [");
            for (int k = 0; k < 10; ++k) text.append(k ? ", *" : "*").append(numbered("l", i - 1));
            text += "]\n";
        }
        auto f = compose(text);
        AnchorIndex index(f.roots);
        CHECK_EQ(index.size(), std::size_t{10});
        YamlNode copy = expanding_copy(f.roots[0].value(9), index, CopyAnchors::Drop);
        CHECK(copy.kind == NodeKind::Sequence && !copy.anchor());
        CHECK_EQ(copy.children.size(), std::size_t{10});
        std::uint64_t nulls = 0;
        std::uint64_t total = count_nodes(copy, nulls);
        CHECK(nulls > 0);
        // Every node below the top is reached through an alias, and both
        // count against the budget.
        CHECK(total - nulls <= kExpandBudget / 2 + 1);
        CHECK(total - nulls >= kExpandBudget / 2 - 1);
    }
    {
        check::Case c("1.1 warnings and upgrade");
        auto f = compose(
            "enabled: yes\nmode: 0755\nname: 0o17\nratio: 1_000.5\nq: 'on'\nt: !!str no\n"
            "f: 1.5\n");
        TreeCheckOptions o;
        o.mode = ResolverMode::Yaml11;
        o.warn_1_1 = true;
        o.upgrade_1_1 = true;
        Outcome out = run(f, o);
        CHECK(out.ok);
        // Quoted, tagged and same-typed scalars raise nothing; the texts are
        // those written, before the upgrade rewrote them.
        std::vector<std::string> expected = {
            "YAML 1.1 syntax 'yes' resolves as bool in 1.1 but str in 1.2 at line 1, column 10",
            "YAML 1.1 syntax '0755' resolves as int in 1.1 but str in 1.2 at line 2, column 7",
            "YAML 1.1 syntax '1_000.5' resolves as float in 1.1 but str in 1.2 at line 4, "
            "column 8"};
        CHECK(out.warnings == expected);
        const YamlNode& m = f.roots[0];
        CHECK_EQ(m.value(0).text, std::string_view("true"));
        CHECK_EQ(m.value(1).text, std::string_view("493"));
        CHECK(m.value(2).scalar_style == ScalarStyle::SingleQuoted);
        CHECK_EQ(m.value(3).text, std::string_view("1000.5"));
        CHECK(!m.key(0).comments.modified && !m.value(4).comments.modified);
    }
}
}  // namespace

int main() {
    anchor_index();
    copy_keeps_properties_and_expands();
    undefined_alias_is_null();
    alias_depth_limit();
    expansion_budget();
    deep_trees();
    key_identities();
    duplicates_error_mode();
    duplicates_warning_mode();
    upgrade();
    from_text();
    return check::finish("tree_checks_test");
}
