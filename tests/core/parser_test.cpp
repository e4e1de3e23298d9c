// The grammar with a second builder: a builder that renders the shape of
// what the parser recognised, with the policies a syntax tree needs (tags as
// written, a later anchor replacing an earlier one, aliases kept, empty
// documents kept). Checks that the token sequences of flow pairs, properties,
// indentless sequences and empty nodes make the structures they should.
#include "parser/parser.hpp"

#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"

using namespace quarvel;

namespace {

struct ShapeBuilder {
    using Node = std::string;
    struct Props {
        std::string anchor;
        std::string tag;
        bool any() const { return !anchor.empty() || !tag.empty(); }
    };
    struct Sequence {
        std::string text;
    };
    using Mapping = Sequence;

    ParseErrors& errors;
    std::vector<std::string> documents;

    static std::string prefix(const Props& p) {
        std::string s;
        if (!p.anchor.empty()) s += "&" + p.anchor + " ";
        if (!p.tag.empty()) s += p.tag + " ";
        return s;
    }
    static void append(std::string& text, const std::string& part) {
        if (text.size() > 2) text += ", ";
        text += part;
    }

    bool anchor(Props& p, const Token& t) {
        p.anchor = std::string(t.text);
        return true;
    }
    bool tag(Props& p, const Token& t, TagHandles&) {
        p.tag = std::string(t.text);  // kept as written
        return true;
    }
    bool scalar(const Token& t, const Props& p, Node& out) {
        out = prefix(p) + std::string(t.text);
        return true;
    }
    bool alias(const Token& t, Node& out) {
        out = "*";  // appended, not concatenated: GCC 12 misjudges "*" + string at -O3
        out += t.text;
        return true;
    }
    void empty(const Props& p, const Mark&, Node& out) { out = prefix(p) + "~"; }
    void node_done(const Props&, Node&) {}

    Sequence begin_sequence(const Props&, const Token&, CollectionStyle s) {
        return {s == CollectionStyle::Flow ? "F[" : "B["};
    }
    bool item(Sequence& seq, Node&& n, const Mark&, const Mark*) {
        append(seq.text, n);
        return true;
    }
    bool pair_item(Sequence& seq, Node&& k, const Mark&, Node&& v) {
        append(seq.text, "F{" + k + ": " + v + "}");
        return true;
    }
    bool end_sequence(Sequence& seq, const Props& p, Node& out) {
        out = prefix(p) + seq.text + "]";
        return true;
    }
    Mapping begin_mapping(const Props&, const Token&, CollectionStyle s) {
        return {s == CollectionStyle::Flow ? "F{" : "B{"};
    }
    bool key(const Node&, const Mark&) { return true; }
    bool pair(Mapping& map, Node&& k, const Mark&, Node&& v, const Mark&) {
        append(map.text, k + ": " + v);
        return true;
    }
    bool end_mapping(Mapping& map, const Props& p, Node& out) {
        out = prefix(p) + map.text + "}";
        return true;
    }
    bool end_document(Node&& root, bool, bool) {
        documents.push_back(std::move(root));
        return true;
    }
};

std::string shape(std::string_view text) {
    TokenStream tokens(text);
    ParseErrors errors;
    ShapeBuilder builder{errors, {}};
    Parser<ShapeBuilder> parser(tokens, builder, errors);
    if (!parser.parse_stream()) return "error: " + errors.take().message;
    if (tokens.error()) return "error: " + tokens.error()->message;
    std::string out;
    for (const auto& d : builder.documents) out += (out.empty() ? "" : " | ") + d;
    return out;
}

void expect(std::string_view text, std::string_view want) {
    check::Case c{std::string(text)};
    CHECK_EQ(shape(text), want);
}

}  // namespace

int main() {
    // Flow pairs with and without a Key token.
    expect("{a: b}", "F{a: b}");
    expect("{&x a: b}", "F{&x a: b}");
    expect("{[c]: d}", "F{F[c]: d}");
    expect("{? a : b, c}", "F{a: b, c: ~}");
    expect("{: v}", "F{~: v}");
    expect("[a: b, c]", "F[F{a: b}, c]");
    expect("[? a : b]", "F[F{a: b}]");
    expect("[[x]: y]", "F[F{F[x]: y}]");
    // Block collections, indentless sequences and empty nodes.
    expect("a: b\nc:\n", "B{a: b, c: ~}");
    expect("k:\n- x\n- y\nz: 1\n", "B{k: B[x, y], z: 1}");
    expect("- !t\n-\n- - a\n", "B[!t ~, ~, B[a]]");
    expect("? a\n: b\n? c\n", "B{a: b, c: ~}");
    expect("key: &a\n", "B{key: &a ~}");
    expect("&x a: b\n", "B{&x a: b}");
    expect("&m\nk: v\n", "&m B{k: v}");
    expect("*a : b\n", "B{*a: b}");
    // One anchor and one tag per node, whatever the builder; aliases stay,
    // empty explicit documents stay; a bare empty document is no document.
    expect("&a &b x", "error: a node cannot have two anchors");
    expect("!a\n!b x", "error: a node cannot have two tags");
    expect("- *a\n", "B[*a]");
    expect("---\n---\n", "~ | ~");
    expect("# only a comment\n", "");
    // Grammar errors belong to every builder.
    expect("[a]\nb", "error: trailing content after document");
    expect("? [a]\n: b\nx", "error: expected ':' after mapping key");
    expect("%YAML 1.2\na: 1", "error: directive must be followed by a document start (---)");
    expect("a: 1\n%YAML 1.2\n---\n",
           "error: a directive must be at the start of the stream or follow a document-end "
           "marker (...)");
    expect("? - a\n  - b\n: c\n", "error: a block collection cannot be a mapping key");
    std::string deep(1001, '[');
    deep += std::string(1001, ']');
    expect(deep, "error: maximum nesting depth (1000) exceeded");
    return check::finish("parser_test");
}
