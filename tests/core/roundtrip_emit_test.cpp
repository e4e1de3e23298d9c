// The round-trip emitter: unmodified streams come back byte for byte; edited
// ones keep comments, spacing, styles and properties; and every scalar style
// written with random text reads back as that text.
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "compose_check.hpp"
#include "roundtrip/emitter.hpp"
#include "roundtrip/verify.hpp"
#include "text_lines.hpp"

using namespace quarvel;
using check::compose;
namespace rt = quarvel::roundtrip;

namespace {

// The value under a path of mapping keys (by text) and sequence indexes
// (written as "#0", "#1", ...).
YamlNode* find(YamlNode& node, std::initializer_list<std::string_view> path) {
    YamlNode* at = &node;
    for (std::string_view step : path) {
        if (step.starts_with('#')) {
            const std::size_t i = std::stoul(std::string(step.substr(1)));
            if (at->kind != NodeKind::Sequence || i >= at->children.size()) return nullptr;
            at = &at->children[i];
            continue;
        }
        YamlNode* next = nullptr;
        for (std::size_t i = 0; at->kind == NodeKind::Mapping && i < at->size(); ++i)
            if (at->key(i).text == step) next = &at->value(i);
        if (!next) return nullptr;
        at = next;
    }
    return at;
}

bool is_block(const YamlNode& n) {
    return n.scalar_style == ScalarStyle::Literal || n.scalar_style == ScalarStyle::Folded;
}

std::string emit(const SyntaxForest& f, std::string_view source, rt::EmitOptions options = {}) {
    auto out = rt::emit_stream(f.roots, source, options);
    CHECK(out.has_value());
    return out ? *out : std::string();
}

void unmodified_streams_are_copied() {
    const std::string_view texts[] = {
        "a:    1  # one\n\n\n#two\nb: [ x,   'y' ]\n",
        "\xEF\xBB\xBF# bom\r\nkey: value\r\nlist:\r\n- a\r\n",
        "--- !shape\n  # c\n- &a {x: 1}\n- *a\n...\n--- |+\n keep\n\n",
        "%YAML 1.2\n---\nk: \"esc\\u00e9\"\n",
        "",
    };
    for (std::string_view text : texts) {
        check::Case c{std::string(text)};
        auto f = compose(text, true);
        CHECK(!rt::any_modified(f.roots));
        CHECK_EQ(emit(f, text), std::string(text));
    }
}

struct EditCase {
    const char* name;
    std::string_view input;
    std::initializer_list<std::string_view> path;
    std::string_view new_text;
    std::string_view expected;
};

// One value's text is replaced; everything else keeps its bytes.
void single_edits() {
    const EditCase cases[] = {
        {"spacing of other comments",
         "a: 1   # one\nb: 2 # two\n",
         {"b"},
         "3",
         "a: 1   # one\nb: 3 # two\n"},
        {"comment text as written", "#top\na: 1  #x\nb: 2\n", {"b"}, "5", "#top\na: 1  #x\nb: 5\n"},
        {"byte order mark",
         "\xEF\xBB\xBF"
         "a: 1\n",
         {"a"},
         "2",
         "\xEF\xBB\xBF"
         "a: 2\n"},
        {"untouched literal", "s: |2-\n    x\nt: 1\n", {"t"}, "2", "s: |2-\n    x\nt: 2\n"},
        {"edited literal",
         "s: |\n      deep\nt: 1\n",
         {"s"},
         "new\ntext\n",
         "s: |\n  new\n  text\nt: 1\n"},
        {"indentless sequence", "k:\n- a\n- b\n", {"k", "#1"}, "c", "k:\n- a\n- c\n"},
        {"four-space sequence",
         "k:\n    - a\n    - b\n",
         {"k", "#0"},
         "z",
         "k:\n    - z\n    - b\n"},
        {"value below its key", "k:\n    'long'\nm: 1\n", {"m"}, "2", "k:\n    'long'\nm: 2\n"},
        {"flow collection kept",
         "f: [ 1,  2 ] # c\nm: x\n",
         {"m"},
         "y",
         "f: [ 1,  2 ] # c\nm: y\n"},
        {"blank lines and head comments",
         "a: 1\n\n# about b\n\nb: 2\n",
         {"a"},
         "0",
         "a: 0\n\n# about b\n\nb: 2\n"},
        {"second document gets a marker", "a: 1\n---\nb: 2\n", {"a"}, "9", "a: 9\n---\nb: 2\n"},
        {"comment above the marker",
         "# head\n--- # on marker\na: 1\n",
         {"a"},
         "2",
         "# head\n--- # on marker\na: 2\n"},
        {"root scalar that opened on the marker line",
         "--- %x\n---\na: 1\n",
         {"a"},
         "2",
         "--- %x\n---\na: 2\n"},
        {"kept block scalar ending in a line of blanks",
         "j: 1\nk: |+\n  a\n  \n# foot\n",
         {"j"},
         "2",
         "j: 2\nk: |+\n  a\n  \n# foot\n"},
        {"comment below a rewritten block scalar",
         "s: |\n   deep\n  # c\nk: 1\n",
         {"s"},
         "new\n",
         "s: |\n  new\n# c\nk: 1\n"},
        {"line broken by a lone carriage return",
         "k: a\r  b\nm: 1\n",
         {"m"},
         "2",
         "k: a b\nm: 2\n"},
        {"root key that stood off the line start",
         " %k: 1\n m: 1\n",
         {"m"},
         "2",
         " %k: 1\n m: 2\n"},
        {"key opening with a byte order mark",
         " \xEF\xBB\xBFk: 1\n m: 1\n",
         {"m"},
         "2",
         " \xEF\xBB\xBFk: 1\n m: 2\n"},
        {"root scalar opening with dashes on a line of their own",
         " ---\n a\n---\nm: 1\n",
         {"m"},
         "2",
         " ---\n a\n---\nm: 2\n"},
        {"pair in a flow sequence keyed by a flow sequence, copied as written",
         "f: [[a]: b]\nm: 1\n",
         {"m"},
         "2",
         "f: [[a]: b]\nm: 2\n"},
        {"plain text needing quotes", "a: 1\n", {"a"}, "x: y", "a: \"x: y\"\n"},
        {"empty plain text", "a: 1\n", {"a"}, "", "a: \"\"\n"},
        {"single quotes doubled", "a: 'q'\n", {"a"}, "it's", "a: 'it''s'\n"},
        {"tagged empty value", "a: !!str\nb: 1\n", {"b"}, "2", "a: !!str\nb: 2\n"},
    };
    for (const EditCase& ec : cases) {
        check::Case c{ec.name};
        auto f = compose(ec.input, true);
        YamlNode* node = find(f.roots.back(), ec.path);
        if (!node && ec.path.size() && f.roots.size() > 1) node = find(f.roots.front(), ec.path);
        if (!CHECK(node != nullptr)) continue;
        node->text = ec.new_text;
        node->comments.modified = true;
        CHECK_EQ(emit(f, ec.input), std::string(ec.expected));
    }
}

struct RewriteCase {
    const char* name;
    std::string_view input;
    std::string_view expected;
};

// Every node marked modified: the layout the emitter chooses itself.
void full_rewrites() {
    const RewriteCase cases[] = {
        {"anchored mapping item starts below its dash", "- &a\n  k: v\n- *a\n",
         "- &a\n  k: v\n- *a\n"},
        {"alias key keeps a space before the colon", "- &k a\n- {*k : 1}\n",
         "- &k a\n- {*k : 1}\n"},
        {"explicit key without a value", "? b\n&anchor c: 3\n", "? b\n: null\n&anchor c: 3\n"},
        {"block scalar key", "? |\n  lit\n: v\n", "? |\n  lit\n: v\n"},
        {"compact nested sequence", "- - a\n  - b\n- c\n", "- - a\n  - b\n- c\n"},
        {"literal starting with spaces", "k: |2\n    lead\n", "k: |2\n    lead\n"},
        {"folded keeps its line breaks", "k: >\n  a\n\n  b\n  c\n", "k: >\n  a\n\n  b c\n"},
        {"block scalar in flow becomes double-quoted", "[a, b]\n", "[a, b]\n"},
        {"tag through a %TAG handle", "%TAG !e! tag:example.com,2000:\n---\n!e!x 1\n",
         "%TAG !e! tag:example.com,2000:\n---\n!e!x 1\n"},
    };
    for (const RewriteCase& rc : cases) {
        check::Case c{rc.name};
        auto f = compose(rc.input, true);
        for (auto& r : f.roots) rt::mark_modified(r);
        const std::string out = emit(f, rc.input);
        CHECK_EQ(out, std::string(rc.expected));
        CHECK(rt::same_values(rc.input, out));
    }
}

// An empty root sits at the token that ended it, here the next "---"; its
// comment stays below its own marker rather than joining the literal above,
// which is copied as written.
void empty_document_after_literal() {
    check::Case c{"comment of an empty document after a literal"};
    const std::string_view input = "|\n---\n&o #\n---\nz\n";
    auto f = compose(input, true);
    rt::mark_modified(f.roots[1]);
    const std::string out = emit(f, input);
    CHECK_EQ(out, std::string("|\n---\n#\n&o\n---\nz\n"));
    CHECK(rt::same_values(input, out));
}

// Nulls made by edits follow the document's null style; an include boundary
// is written as its directive line.
void synthetic_nulls_and_directives() {
    const std::pair<NullStyle, std::string_view> styles[] = {
        {NullStyle::Empty, "a:\nb: 1\n"},
        {NullStyle::Keyword, "a: null\nb: 1\n"},
        {NullStyle::Tilde, "a: ~\nb: 1\n"},
    };
    for (const auto& [style, expected] : styles) {
        check::Case c{std::string(expected)};
        auto f = compose("a: 5\nb: 1\n");
        YamlNode& v = *find(f.roots[0], {"a"});
        v.kind = NodeKind::Null;
        v.text = {};
        v.synthetic = true;
        v.comments.modified = true;
        rt::EmitOptions options;
        options.null_style = style;
        CHECK_EQ(emit(f, "a: 5\nb: 1\n", options), std::string(expected));
    }
    {
        // "b:" above "&anchor c: 3" would hand the anchor to b's value.
        check::Case c{"empty value before a key with properties"};
        auto f = compose("b: 1\n&anchor c: 3\n");
        YamlNode& v = *find(f.roots[0], {"b"});
        v.kind = NodeKind::Null;
        v.synthetic = true;
        v.comments.modified = true;
        CHECK_EQ(emit(f, "b: 1\n&anchor c: 3\n"), std::string("b: null\n&anchor c: 3\n"));
    }
    // A value turned into a loaded-style null (with the properties given)
    // above a key that has properties of its own.
    struct EmptiedCase {
        const char* name;
        std::string_view input;
        std::initializer_list<std::string_view> path;
        std::optional<std::string_view> anchor, tag;
        std::string_view expected;
    };
    const EmptiedCase emptied[] = {
        {"empty value above a tagged key one level out",
         "a:\n  b: 1\n!t c: 1\n",
         {"a", "b"},
         {},
         {},
         "a:\n  b: null\n!t c: 1\n"},
        {"comment and blank line between",
         "a:\n  b: 1\n\n# c\n!t c: 1\n",
         {"a", "b"},
         {},
         {},
         "a:\n  b: null\n\n# c\n!t c: 1\n"},
        {"value of an anchor alone", "a: 1\n&k c: 1\n", {"a"}, "x", {}, "a: &x null\n&k c: 1\n"},
        {"value of a tag alone", "a: 1\n!k b: 1\n", {"a"}, {}, "!t", "a: !t\n? !k b\n: 1\n"},
    };
    for (const EmptiedCase& ec : emptied) {
        check::Case c{ec.name};
        auto f = compose(ec.input);
        YamlNode& v = *find(f.roots[0], ec.path);
        v.kind = NodeKind::Null;
        v.set_anchor(ec.anchor);
        v.set_tag(ec.tag);
        v.comments.modified = true;
        const std::string out = emit(f, ec.input);
        CHECK_EQ(out, std::string(ec.expected));
        CHECK(compose_text(out, 0, false).has_value());
    }
    check::Case c{"include directive"};
    auto f = compose("a: 1\nb: {x: 1}\n");
    YamlNode& b = *find(f.roots[0], {"b"});
    b.set_source(std::make_unique<IncludeSource>(IncludeSource{"!include", "x.yaml", 1, {}, {}}));
    // Written anew (here: its entry changed), a boundary is its directive line.
    b.comments.modified = true;
    CHECK_EQ(emit(f, "a: 1\nb: {x: 1}\n"), std::string("a: 1\nb: !include x.yaml\n"));
    auto inc = rt::emit_included_file(b);
    CHECK_EQ(inc ? *inc : std::string("failed"), std::string("{x: 1}\n"));
}

void declared_version() {
    const RewriteCase cases[] = {
        {"plain text", "a: 1\n", "%YAML 1.2\n---\na: 1\n"},
        {"existing line replaced", "%YAML 1.1\n---\na: 1\n", "%YAML 1.2\n---\na: 1\n"},
        {"marker kept", "--- a\n", "%YAML 1.2\n--- a\n"},
        {"other directives keep their marker", "%TAG !e! x:\n--- !e!a 1\n",
         "%YAML 1.2\n%TAG !e! x:\n--- !e!a 1\n"},
        {"comment before the marker", "# c\n---\na: 1\n", "%YAML 1.2\n# c\n---\na: 1\n"},
        {"lines ended by a carriage return alone", "\r%TAG !e! x:\r--- !e!a 1\r",
         "%YAML 1.2\n\r%TAG !e! x:\r--- !e!a 1\r"},
        {"byte order mark first",
         "\xEF\xBB\xBF"
         "a: 1\n",
         "\xEF\xBB\xBF%YAML 1.2\n---\na: 1\n"},
    };
    for (const RewriteCase& rc : cases) {
        check::Case c{rc.name};
        auto f = compose(rc.input, true);
        rt::EmitOptions options;
        options.declare_1_2 = true;
        const std::string out = emit(f, rc.input, options);
        CHECK_EQ(out, std::string(rc.expected));
        CHECK(compose_text(out, 0, true).has_value());
    }
}

// Random texts from pieces that trouble writers: indicators, quotes, blanks
// at the ends, line breaks, and characters some readers take for breaks.
std::string random_text(std::mt19937& rng) {
    static const std::string_view pieces[] = {"a",
                                              "b",
                                              " ",
                                              "  ",
                                              "\n",
                                              "\n\n",
                                              "\t",
                                              ":",
                                              ": ",
                                              "#",
                                              " #",
                                              "-",
                                              "- ",
                                              "?",
                                              "'",
                                              "\"",
                                              "\\",
                                              "[",
                                              "]",
                                              "{",
                                              "}",
                                              ",",
                                              "&",
                                              "*",
                                              "!",
                                              "|",
                                              ">",
                                              "%",
                                              "@",
                                              "`",
                                              "é",
                                              "\r",
                                              "\x01",
                                              "---",
                                              "...",
                                              "null",
                                              "\xC2\x85",
                                              "\xE2\x80\xA8",
                                              "\xEF\xBB\xBF",
                                              "~"};
    std::string s;
    const int n = std::uniform_int_distribution<int>(0, 8)(rng);
    for (int i = 0; i < n; ++i)
        s += pieces[std::uniform_int_distribution<std::size_t>(0, std::size(pieces) - 1)(rng)];
    return s;
}

struct Place {
    const char* name;
    std::string_view text;  // the target scalar is "x"
    std::initializer_list<std::string_view> path;
    bool key = false;
};

// The scalar at `place` is given a random text and style; the output must
// compose and the scalar read back with exactly that text.
void random_texts_read_back() {
    const Place places[] = {
        {"root", "x\n", {}},
        {"value", "k: x\nz: 1\n", {"k"}},
        {"nested value", "o:\n  k: x\n", {"o", "k"}},
        {"item", "- x\n- y\n", {"#0"}},
        {"compact item", "- - x\n", {"#0", "#0"}},
        {"flow item", "k: [x, y]\n", {"k", "#0"}},
        {"flow value", "k: {a: x}\n", {"k", "a"}},
        {"key", "x: 1\n", {}, true},
    };
    const ScalarStyle styles[] = {ScalarStyle::Plain, ScalarStyle::SingleQuoted,
                                  ScalarStyle::DoubleQuoted, ScalarStyle::Literal,
                                  ScalarStyle::Folded};
    std::mt19937 rng(20241208);
    for (const Place& place : places) {
        for (ScalarStyle style : styles) {
            for (int round = 0; round < 400; ++round) {
                const std::string text = random_text(rng);
                check::Case c{std::string(place.name) + " style " +
                              std::to_string(static_cast<int>(style)) + " " + check::quoted(text)};
                auto f = compose(place.text);
                YamlNode* node = place.key ? &f.roots[0].key(0) : find(f.roots[0], place.path);
                if (!CHECK(node != nullptr)) return;
                node->text = text;
                node->scalar_style = style;
                node->comments.modified = true;
                const std::string out = emit(f, place.text);
                auto again = compose_text(out, 0, false);
                if (!CHECK(again.has_value())) {
                    std::printf("output: %s\n", check::quoted(out).c_str());
                    continue;
                }
                YamlNode* back =
                    place.key ? &again->roots[0].key(0) : find(again->roots[0], place.path);
                if (!CHECK(back != nullptr)) continue;
                if (!CHECK_EQ(std::string(back->text), text))
                    std::printf("output: %s\n", check::quoted(out).c_str());
            }
        }
    }
}

// A random block document with comments, blank lines and every scalar style.
struct DocumentMaker {
    std::mt19937& rng;
    std::string out;
    int counter = 0;

    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng); }
    void line_extras(int indent) {
        if (pick(4) == 0) out += "\n";
        if (pick(3) == 0)
            out += std::string(indent, ' ') + "# head " + std::to_string(counter) + "\n";
    }
    void scalar(int indent) {
        static const char* words[] = {"plain", "two words", "'single'", "\"double\\t\"", "12", "~"};
        if (pick(6) == 0) {
            out += "|\n" + std::string(indent + 2, ' ') + "block " + std::to_string(counter) + "\n";
            return;
        }
        out += words[pick(6)];
        if (pick(3) == 0)
            out += std::string(1 + pick(3), ' ') + "# note " + std::to_string(counter);
        out += "\n";
    }
    void mapping(int indent, int depth) {
        const int n = 1 + pick(4);
        for (int i = 0; i < n; ++i) {
            ++counter;
            line_extras(indent);
            out += std::string(indent, ' ') + "key" + std::to_string(counter) + ":";
            node(indent, depth);
        }
    }
    void sequence(int indent, int depth) {
        const int n = 1 + pick(3);
        for (int i = 0; i < n; ++i) {
            ++counter;
            line_extras(indent);
            out += std::string(indent, ' ') + "-";
            node(indent, depth);
        }
    }
    void node(int indent, int depth) {
        const int kind = depth > 2 ? 0 : pick(4);
        if (kind == 2) {
            out += "\n";
            mapping(indent + 2, depth + 1);
        } else if (kind == 3) {
            out += "\n";
            sequence(indent + 2, depth + 1);
        } else {
            out += std::string(1 + pick(2), ' ');
            scalar(indent);
        }
    }
};

void collect_one_line_scalars(YamlNode& node, std::vector<YamlNode*>& found) {
    for (std::size_t i = 0; i < node.children.size(); ++i) {
        YamlNode& c = node.children[i];
        const bool key = node.kind == NodeKind::Mapping && i % 2 == 0;
        if (!key && c.kind == NodeKind::Scalar && !is_block(c) && c.end_line == c.span.line)
            found.push_back(&c);
        collect_one_line_scalars(c, found);
    }
}

// Generated documents: one scalar edited changes its own line and no other,
// and the output reads back with the new text there.
void random_documents_one_edit() {
    std::mt19937 rng(99);
    static const char* replacements[] = {"new", "with: colon", "#hash", "", "it's", "x\ty", "true"};
    for (int round = 0; round < 300; ++round) {
        DocumentMaker maker{rng, {}, 0};
        maker.mapping(0, 0);
        const std::string text = maker.out;
        check::Case c{text};
        auto f = compose(text);
        std::vector<YamlNode*> scalars;
        if (f.roots.empty()) continue;
        collect_one_line_scalars(f.roots[0], scalars);
        if (scalars.empty()) continue;
        YamlNode& target =
            *scalars[static_cast<std::size_t>(maker.pick(static_cast<int>(scalars.size())))];
        const std::string replacement = replacements[maker.pick(7)];
        target.text = replacement;
        target.comments.modified = true;
        const std::string out = emit(f, text);
        const auto before = check::split_lines(text);
        const auto after = check::split_lines(out);
        if (!CHECK_EQ(after.size(), before.size())) {
            std::printf("output: %s\n", check::quoted(out).c_str());
            continue;
        }
        for (std::size_t i = 0; i < before.size(); ++i)
            if (i != target.span.line) CHECK_EQ(after[i], before[i]);
        auto again = compose_text(out, 0, false);
        if (!CHECK(again.has_value())) continue;
        std::vector<YamlNode*> back;
        collect_one_line_scalars(again->roots[0], back);
        bool seen = false;
        for (YamlNode* n : back)
            seen = seen || (n->span.line == target.span.line && n->text == replacement);
        CHECK(seen);
    }
}

}  // namespace

int main() {
    unmodified_streams_are_copied();
    single_edits();
    full_rewrites();
    empty_document_after_literal();
    synthetic_nulls_and_directives();
    declared_version();
    random_texts_read_back();
    random_documents_one_edit();
    return check::finish("roundtrip_emit_test");
}
