// The tree composer: node kinds, properties as written, exact extents through
// multi-byte characters, CR LF line ends and a byte order mark, block scalar
// source, sequence item spacing, empty documents, and the invariants every
// node keeps.
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "compose_check.hpp"
#include "syntax/compose.hpp"

using namespace quarvel;
using check::compose;

namespace {

// "kind@line:column-end_line:end_column[offset,end_offset)" with 1-based positions.
std::string where(const YamlNode& n) {
    static const char* kinds[] = {"scalar", "seq", "map", "alias", "null"};
    return std::string(kinds[static_cast<int>(n.kind)]) + "@" + std::to_string(n.span.line + 1) +
           ":" + std::to_string(n.span.column + 1) + "-" + std::to_string(n.end_line + 1) + ":" +
           std::to_string(n.end_column + 1) + "[" + std::to_string(n.span.offset) + "," +
           std::to_string(n.end_offset) + ")";
}

// Every node: the end is not before the start, end line and column agree with
// the offset counted independently, and raw is the source slice.
void check_invariants(std::string_view text, const YamlNode& n) {
    CHECK(n.end_offset >= n.span.offset);
    CHECK(n.end_offset <= text.size());
    std::uint32_t line = 0, column = 0;
    for (std::uint64_t i = 0; i < n.end_offset && i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (i < 3 && text.starts_with("\xEF\xBB\xBF")) continue;
        if (c == '\n' || (c == '\r' && (i + 1 >= text.size() || text[i + 1] != '\n'))) {
            ++line;
            column = 0;
        } else if (c != '\r' && (c & 0xC0) != 0x80) {
            ++column;
        }
    }
    CHECK_EQ(n.end_line, line);
    CHECK_EQ(n.end_column, column);
    if (n.comments.text && n.comments.text->raw)
        CHECK_EQ(*n.comments.text->raw, text.substr(n.span.offset, n.end_offset - n.span.offset));
    for (const auto& c : n.children) check_invariants(text, c);
}

void shapes() {
    check::Case c("shapes");
    auto f = compose("a: 1\nb: [x, 'y']\n");
    CHECK_EQ(f.roots.size(), std::size_t{1});
    const YamlNode& root = f.roots[0];
    CHECK(root.kind == NodeKind::Mapping && root.style == CollectionStyle::Block);
    CHECK_EQ(where(root.key(0)), std::string("scalar@1:1-1:2[0,1)"));
    CHECK_EQ(where(root.value(0)), std::string("scalar@1:4-1:5[3,4)"));
    const YamlNode& seq = root.value(1);
    CHECK(seq.kind == NodeKind::Sequence && seq.style == CollectionStyle::Flow);
    CHECK(seq.children[1].scalar_style == ScalarStyle::SingleQuoted);
    CHECK_EQ(seq.children[1].text, std::string_view("y"));
    CHECK_EQ(where(seq.children[1]), std::string("scalar@2:8-2:11[12,15)"));
    CHECK_EQ(where(seq), std::string("seq@2:4-2:11[8,15)"));
    CHECK_EQ(where(root), std::string("map@1:1-2:11[0,15)"));
}

void properties_as_written() {
    check::Case c("properties");
    auto f = compose("%TAG !e! tag:example.com,2000:\n---\n- &b !!str v\n- *b\n- !t\n");
    const YamlNode& seq = f.roots[0];
    CHECK_EQ(*seq.children[0].anchor(), std::string_view("b"));
    CHECK_EQ(*seq.children[0].tag(), std::string_view("!!str"));  // unexpanded
    CHECK(seq.children[1].kind == NodeKind::Alias);
    CHECK_EQ(seq.children[1].text, std::string_view("b"));
    CHECK(seq.children[2].kind == NodeKind::Null);
    CHECK_EQ(*seq.children[2].tag(), std::string_view("!t"));
    CHECK(seq.explicit_start);
    auto e = compose("key: &a\nother:\n");
    CHECK(e.roots[0].value(0).kind == NodeKind::Null);
    CHECK_EQ(*e.roots[0].value(0).anchor(), std::string_view("a"));
    CHECK(!e.roots[0].value(1).anchor());
}

void flow_pairs_and_empty_items() {
    check::Case c("flow pairs");
    auto f = compose("[a: b, ? c, d]\n");
    const YamlNode& seq = f.roots[0];
    CHECK_EQ(seq.children.size(), std::size_t{3});
    const YamlNode& pair = seq.children[0];
    CHECK(pair.kind == NodeKind::Mapping && pair.style == CollectionStyle::Flow);
    // The pair starts with its key and ends with its value: "a: b".
    CHECK_EQ(pair.span.offset, std::uint64_t{1});
    CHECK_EQ(pair.end_offset, std::uint64_t{5});
    CHECK_EQ(pair.end_column, std::uint32_t{5});
    // An empty value stands at the token after it, where the pair then ends.
    auto k = compose("[a: ]\n");
    CHECK_EQ(k.roots[0].children[0].end_offset, std::uint64_t{4});
    CHECK(seq.children[1].kind == NodeKind::Mapping);
    CHECK(seq.children[1].value(0).kind == NodeKind::Null);
    // An empty entry of a block sequence stays an item.
    auto g = compose("- \n- a\n-\n");
    CHECK_EQ(g.roots[0].children.size(), std::size_t{3});
    CHECK(g.roots[0].children[0].kind == NodeKind::Null);
    CHECK(g.roots[0].children[2].kind == NodeKind::Null);
}

void exact_ends() {
    check::Case c("exact ends");
    // Multi-byte characters count one column each; the offsets are bytes.
    auto f = compose("é: \"ü\\n\"\n");
    CHECK_EQ(where(f.roots[0].key(0)), std::string("scalar@1:1-1:2[0,2)"));
    CHECK_EQ(where(f.roots[0].value(0)), std::string("scalar@1:4-1:9[4,10)"));
    // CR LF line ends and a byte order mark.
    auto g = compose(
        "\xEF\xBB\xBF"
        "a:\r\n  - x\r\n  - 'y\r\n    z'\r\n");
    CHECK(g.roots[0].leading_bom);
    CHECK_EQ(g.roots[0].span.offset, std::uint64_t{3});
    if (g.roots.empty()) return;
    const YamlNode& items = g.roots[0].value(0);
    CHECK_EQ(where(items.children[1]), std::string("scalar@3:5-4:7[18,28)"));
    CHECK_EQ(items.children[1].text, std::string_view("y z"));
    // A lone CR is a line break too.
    auto h = compose("a: 1\rb: 2\r");
    CHECK_EQ(where(h.roots[0].value(1)), std::string("scalar@2:4-2:5[8,9)"));
}

void block_scalars() {
    check::Case c("block scalars");
    const std::string_view text = "a:\n  b: |-\n    x\n     y\n\n  c: >\n    z\n";
    auto f = compose(text);
    const YamlNode& b = f.roots[0].value(0).value(0);
    CHECK(b.scalar_style == ScalarStyle::Literal);
    CHECK_EQ(b.text, std::string_view("x\n y"));
    // The raw source ends after the scalar's last line, without the next
    // line's indentation.
    CHECK_EQ(*b.comments.text->raw, std::string_view("|-\n    x\n     y\n\n"));
    const YamlNode& cc = f.roots[0].value(0).value(1);
    CHECK_EQ(*cc.comments.text->raw, std::string_view(">\n    z\n"));
    check_invariants(text, f.roots[0]);
}

void item_spacing() {
    check::Case c("item spacing");
    auto f = compose("-   x\n- - y\n- [z]\n- &a w\n-\n  q\n");
    const YamlNode& seq = f.roots[0];
    CHECK_EQ(seq.children[0].comments.value_pad, std::uint32_t{3});
    CHECK(seq.children[1].comments.compact);
    CHECK_EQ(seq.children[2].comments.value_pad, std::uint32_t{1});
    CHECK_EQ(seq.children[3].comments.value_pad, std::uint32_t{0});  // has an anchor
    CHECK_EQ(seq.children[4].comments.value_pad, std::uint32_t{0});  // on the next line
}

void documents() {
    check::Case c("documents");
    CHECK_EQ(compose("---\n---\n", true).roots.size(), std::size_t{2});
    CHECK_EQ(compose("---\n---\n", false).roots.size(), std::size_t{0});
    auto f = compose("---\n...\n", true);
    CHECK(f.roots[0].kind == NodeKind::Null && f.roots[0].explicit_start);
    CHECK_EQ(compose("# only\n", true).roots.size(), std::size_t{0});
    auto g = compose("a\n---\nb\n");
    CHECK(!g.roots[0].explicit_start && g.roots[1].explicit_start);
}

void errors() {
    check::Case c("errors");
    std::string deep(1001, '[');
    deep += std::string(1001, ']');
    auto r = compose_text(deep, 0, false);
    CHECK(!r);
    if (!r) CHECK_EQ(r.error().message, std::string("maximum nesting depth (1000) exceeded"));
    std::string ok(1000, '[');
    ok += std::string(1000, ']');
    CHECK(compose_text(ok, 0, false).has_value());
    auto s = compose_text("a: [1\nb: 2", 0, false);
    CHECK(!s);
}

void invariants_over_inputs() {
    check::Case c("invariants");
    const std::vector<std::string_view> texts = {
        "a: 1   # note\nb:\n  - x\n  - {p: q, r: [s]}\n",
        "? |\n  k\n: >-\n  v\n\n  w\n",
        "- \"multi\n  line\"\n- 'two\n\n  lines'\n- plain\n  continued\n",
        "\xEF\xBB\xBF# c\r\nk: \xE2\x82\xAC\r\n",
        "[a, b]: c\n{d: e}: f\n",
        "&x a: *x\n",
    };
    for (auto t : texts) {
        check::Case tc{std::string(t)};
        auto f = compose(t);
        for (const auto& r : f.roots) check_invariants(t, r);
    }
}

}  // namespace

int main() {
    shapes();
    properties_as_written();
    flow_pairs_and_empty_items();
    exact_ends();
    block_scalars();
    item_spacing();
    documents();
    errors();
    invariants_over_inputs();
    return check::finish("tree_test");
}
