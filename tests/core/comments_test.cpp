// Comment attachment and layout on composed syntax trees: inline comments and
// their spacing, head comments and blank lines, spacing after ':', comments
// next to keys and empty values, flow collections, feet and documents, byte
// order marks and CR LF, hostile sizes, the approximate end, and a generated
// corpus in which every comment must land exactly once.
#include <algorithm>
#include <initializer_list>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "compose_check.hpp"
#include "syntax/compose.hpp"

using namespace quarvel;
using check::compose;

namespace {

// The comment fields of one node, defaults left out (a value_pad of 1 means
// the same as 0): "bb=2 head=[a|b] inline=note/3 pad=4 compact foot=[e]".
std::string notes(const YamlNode& n) {
    std::string s;
    auto add = [&](const std::string& part) { s += (s.empty() ? "" : " ") + part; };
    auto list = [](const std::vector<std::string_view>& v) {
        std::string out = "[";
        for (std::size_t i = 0; i < v.size(); ++i) out += (i ? "|" : "") + std::string(v[i]);
        return out + "]";
    };
    const Comments& c = n.comments;
    if (c.blank_before) add("bb=" + std::to_string(c.blank_before));
    if (c.has_head()) add("head=" + list(c.text->head));
    if (c.has_inline())
        add("inline=" + std::string(*c.text->inline_text) + "/" +
            std::to_string(c.text->inline_spaces));
    if (c.value_pad > 1) add("pad=" + std::to_string(c.value_pad));
    if (c.compact) add("compact");
    if (c.text && !c.text->foot.empty()) add("foot=" + list(c.text->foot));
    return s;
}

// Every node with comment fields as "path notes", joined by "; ". Paths: r0
// is the first root, then k2 / v2 for the third entry's key / value, 1 for
// the second item: "r0.v1.0".
void render(const YamlNode& n, const std::string& path, std::string& out) {
    if (const std::string s = notes(n); !s.empty())
        out += (out.empty() ? "" : "; ") + path + " " + s;
    for (std::size_t i = 0; i < n.children.size(); ++i) {
        const std::string step = n.kind == NodeKind::Mapping
                                     ? (i % 2 ? "v" : "k") + std::to_string(i / 2)
                                     : std::to_string(i);
        render(n.children[i], path + "." + step, out);
    }
}

std::string layout(std::string_view text, bool keep_empty = false) {
    auto f = compose(text, keep_empty);
    std::string out;
    for (std::size_t i = 0; i < f.roots.size(); ++i) {
        std::string path = "r";
        path += std::to_string(i);
        render(f.roots[i], path, out);
    }
    return out;
}

struct Layout {
    std::string_view text;
    std::string_view want;
};

void check_layouts(const char* group, std::initializer_list<Layout> cases) {
    check::Case c(group);
    for (const Layout& l : cases) {
        check::Case tc{std::string(l.text)};
        CHECK_EQ(layout(l.text), std::string(l.want));
    }
}

void inline_comments() {
    check_layouts("inline",
                  {
                      {"a: 1   # note\n", "r0.v0 inline=note/3"},
                      // Spacing is measured from where the node really ends: quotes,
                      // escapes, alias names and brackets count.
                      {"q: \"\\u00e9\"  # a\nr: *x   # b\ns: [x, y]  # c\nt: v\t# d\n",
                       "r0.v0 inline=a/2; r0.v1 inline=b/3; r0.v2 inline=c/2; r0.v3 inline=d/1"},
                      // In a flow collection the comment goes to the node it follows.
                      {"[a, # c1\n b,  # c2\n c] # c3\n",
                       "r0 inline=c3/1; r0.0 inline=c1/1; r0.1 inline=c2/2"},
                      {"{a: 1, # c\n b: 2}  # d\n", "r0 inline=d/2; r0.v0 inline=c/1"},
                      {"x: [p,\n  q]  # e\ny: [k: v] # f\nz: [[a], [b]] # g\n",
                       "r0.v0 inline=e/2; r0.v1 inline=f/1; r0.v2 inline=g/1"},
                      // After the last line of a multi-line scalar.
                      {"a: \"x\n  y\"  # c\nb: p\n  q # d\n", "r0.v0 inline=c/2; r0.v1 inline=d/1"},
                      {"x # c\n", "r0 inline=c/1"},
                  });
}

void heads_and_blank_lines() {
    check_layouts("heads",
                  {
                      // The first key's comment is the root's.
                      {"# top\na: 1\n# above b\n# twice\nb: 2\n\n\nc: 3\n",
                       "r0 head=[top]; r0.k1 head=[above b|twice]; r0.k2 bb=2"},
                      {"a: 1\r\n\r\n# c\r\nb: 2  # d\r\n", "r0.k1 bb=1 head=[c]; r0.v1 inline=d/2"},
                      // Blank lines inside a quoted scalar are not before the next key;
                      // escaped line breaks do not hide real blank lines.
                      {"a: \"x\n  y\n\n  z\"\nb: 1\nc: \"p\\nq\\nr\"\n\nd: 2\n", "r0.k3 bb=1"},
                      // An empty node has no line of its own: blank lines and comments
                      // below it belong to the node that follows.
                      {"a:\n\n\nb: 1\nc:\n# about d\nd: 2\n", "r0.k1 bb=2; r0.k3 head=[about d]"},
                      {"-\n\n# c\n- x\n- a: 1\n\n  b: 2\n", "r0.1 bb=1 head=[c]; r0.2.k1 bb=1"},
                      // Trailing blank lines of a block scalar are part of its source.
                      {"a: |\n  x\n\n\nb: 1\nc: >\n  y\n\n# c\n\nd: 2\n", "r0.k3 head=[c]"},
                      {"a:\n  - b\n\n  # c\n\n  - d\n", "r0.v0.1 bb=1 head=[c]"},
                  });
}

void spacing_and_keys() {
    check_layouts("spacing", {
                                 // Only after plain keys, and not when properties come between.
                                 {"a:    1\nb: &x  2\n'c':   3\nd: [x]\n", "r0.v0 pad=4"},
                                 {"-   x\n- - y\n-  [z]\n", "r0.0 pad=3; r0.1 compact; r0.2 pad=2"},
                             });
    check_layouts("keys",
                  {
                      // After "key:" with the value below or empty: the value's inline.
                      {"k: # c\n  b: 1\nl: &x  # d\n  - e\nm: # f\n- g\nn: # h\no: 1\np: # i\n",
                       "r0.v0 inline=c/1; r0.v1 inline=d/2; r0.v2 inline=f/1; r0.v3 inline=h/1; "
                       "r0.v5 inline=i/1"},
                      // Lines between a key and a value without a head of its own join
                      // the key's head; a block collection value gives them to its first
                      // entry.
                      {"a:\n  # c\n  1  # d\nb: 2\n? k # e\n: v\n",
                       "r0.k0 head=[c]; r0.v0 inline=d/2; r0.k2 head=[e]"},
                      {"a:\n  # c\n  b: 1\n", "r0.v0.k0 head=[c]"},
                      {"a:\n  # c\n  - 1\n", "r0.v0.0 head=[c]"},
                      // The line where a block scalar stopped is not its inline comment,
                      // nor its mapping's.
                      {"a:\n  b: |\n    x\n  # c\n  d: 1\n", "r0.v0.k1 head=[c]"},
                  });
}

void feet_and_documents() {
    check_layouts("documents", {
                                   {"a: 1\n# end\n\n# really\n", "r0 foot=[end|really]"},
                                   {"a: 1\n# c\n---\nb: 2\n# e\n--- # g\nc: 3\n# h\n",
                                    "r1 head=[c]; r2 head=[e|g] foot=[h]"},
                                   {"\xEF\xBB\xBF# c\na: 1 # d\n", "r0 head=[c]; r0.v0 inline=d/1"},
                                   // No document: nothing holds the comments, nothing breaks.
                                   {"# only\n# comments\n", ""},
                               });
    check::Case c("documents");
    CHECK_EQ(layout("---\n# c\n", true), std::string("r0 foot=[c]"));
    CHECK(compose("\xEF\xBB\xBF"
                  "a: 1\n")
              .roots[0]
              .leading_bom);
    const std::string_view text = "a: |\n  keep  \n   this\n\n";
    CHECK_EQ(*compose(text).roots[0].value(0).comments.text->raw, text.substr(3));
}

void hostile_sizes() {
    check::Case c("hostile");
    {
        std::string text = "a: 1\n";
        for (int i = 0; i < 5000; ++i) text += "# line " + std::to_string(i) + "\n\n";
        text += "b: 2\n";
        for (int i = 0; i < 5000; ++i) text += "  # tail " + std::to_string(i) + "\n";
        auto f = compose(text);
        const auto& head = f.roots[0].key(1).comments.text->head;
        CHECK_EQ(head.size(), std::size_t{5000});
        CHECK_EQ(head.back(), std::string_view("line 4999"));
        CHECK_EQ(f.roots[0].comments.text->foot.size(), std::size_t{5000});
    }
    {
        std::string text;
        for (int i = 0; i < 100000; ++i) text += "#\n";
        CHECK(compose(text).roots.empty());
    }
    {
        // Deep nesting with a comment at every level, both styles.
        const int depth = 900;
        std::string flow;
        for (int i = 0; i < depth; ++i) flow += "[ # o" + std::to_string(i) + "\n";
        flow += "x";
        for (int i = 0; i < depth; ++i) flow += "] # c" + std::to_string(i) + "\n";
        auto f = compose(flow);
        const YamlNode* n = &f.roots[0];
        std::size_t taken = 0;
        for (int i = 0; i < depth; ++i) {
            taken += n->comments.has_head() ? n->comments.text->head.size() : 0;
            taken += n->comments.has_inline() ? 1 : 0;
            n = &n->children[0];
        }
        taken += n->comments.has_head() ? n->comments.text->head.size() : 0;
        CHECK_EQ(taken + f.roots[0].comments.text->foot.size(), std::size_t{2 * depth});

        std::string block;
        for (int i = 0; i < depth; ++i)
            block += std::string(2 * i, ' ') + "k: # v" + std::to_string(i) + "\n";
        block += std::string(2 * depth, ' ') + "x\n";
        auto g = compose(block);
        n = &g.roots[0];
        for (int i = 0; i + 1 < depth; ++i) {
            std::string want = "v";
            want += std::to_string(i);
            CHECK_EQ(std::string(*n->value(0).comments.text->inline_text), want);
            n = &n->value(0);
        }
    }
}

void approximate_ends() {
    check::Case c("approximate end");
    auto f = compose("k: \"ab\\ncde\"\nl: [x, {}]\nm: *a\n");
    const YamlNode& m = f.roots[0];
    using P = std::pair<std::uint32_t, std::uint32_t>;
    CHECK(approximate_end(m.key(0)) == P(0, 1));
    CHECK(approximate_end(m.value(0)) == P(1, 3));  // from the decoded text
    CHECK(approximate_end(m.value(1)) == P(1, 7));  // the empty mapping's start
    CHECK(approximate_end(m.value(1).children[1]) == P(1, 7));
    CHECK(approximate_end(m.value(2)) == P(2, 3));
    CHECK(approximate_end(m) == P(2, 3));
}

// ---- generated texts ----------------------------------------------------------

// Writes YAML-ish texts with uniquely labelled comments in every place a
// comment can go: lines between entries at any indentation, after values,
// after "key:", inside flow collections, between documents, at the end.
class Generator {
  public:
    explicit Generator(unsigned seed) : rng_(seed) {}

    std::string text() {
        out_.clear();
        labels_.clear();
        anchors_ = 0;
        const int docs = 1 + pick(2);
        for (int d = 0; d < docs; ++d) {
            if (d > 0) {
                out_ += "---";
                trailing();
            }
            gap(0);
            switch (pick(4)) {
                case 0:
                    out_ += scalar();
                    trailing();
                    break;
                case 1:
                    out_ += flow(0, 2);
                    trailing();
                    break;
                case 2:
                    block_sequence(0, 3);
                    break;
                default:
                    block_mapping(0, 3);
            }
        }
        gap(0);
        return out_;
    }

    const std::vector<std::string>& labels() const { return labels_; }

  private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }
    bool chance(int percent) { return pick(100) < percent; }

    std::string label() {
        labels_.push_back("c" + std::to_string(labels_.size()));
        return labels_.back();
    }
    void trailing() {
        if (chance(40)) out_ += std::string(1 + pick(3), ' ') + "# " + label();
        out_ += '\n';
    }
    void gap(int indent) {
        for (int n = pick(4); n > 0; --n) {
            if (chance(40))
                out_ += '\n';
            else
                out_ += std::string(pick(indent + 1), ' ') + "# " + label() + "\n";
        }
    }
    std::string scalar() {
        switch (pick(7)) {
            case 0:
                return "'quoted " + std::to_string(pick(9)) + "'";
            case 1:
                return "\"esc\\naped\"";
            case 2:
                return std::to_string(pick(1000));
            case 3:
                return "&a" + std::to_string(anchors_++) + " anchored";
            case 4:
                return anchors_ > 0 ? "*a" + std::to_string(pick(anchors_)) : "plain";
            case 5:
                return "!t tagged";
            default:
                return "word" + std::to_string(pick(9));
        }
    }
    // A flow collection; lines after commas may hold comments.
    std::string flow(int indent, int depth) {
        const bool map = chance(40);
        std::string s = map ? "{" : "[";
        const int n = pick(4);
        for (int i = 0; i < n; ++i) {
            if (i > 0) {
                s += ",";
                const bool comment = chance(30);
                if (comment) s += "  # " + label();
                s += comment || chance(30) ? "\n" + std::string(indent + 2, ' ') : " ";
            }
            if (map) s += "k" + std::to_string(i) + ": ";
            s += depth > 0 && chance(25) ? flow(indent, depth - 1) : scalar();
        }
        return s + (map ? "}" : "]");
    }
    void value(int indent, int depth) {
        const int choice = depth > 0 ? pick(6) : pick(3);
        switch (choice) {
            case 0:
                out_ += std::string(1 + pick(3), ' ') + scalar();
                trailing();
                break;
            case 1:
                out_ += " " + flow(indent, 2);
                trailing();
                break;
            case 2:
                trailing();  // empty value
                break;
            case 3:
                out_ += " |";
                out_ += '\n';
                for (int n = 1 + pick(2); n > 0; --n)
                    out_ += std::string(indent + 2, ' ') + "text\n" + (chance(30) ? "\n" : "");
                break;
            case 4:
                trailing();
                block_mapping(indent + 2, depth - 1);
                break;
            default:
                trailing();
                block_sequence(chance(50) ? indent : indent + 2, depth - 1);
        }
    }
    void block_mapping(int indent, int depth) {
        for (int i = 0, n = 1 + pick(3); i < n; ++i) {
            gap(indent);
            out_ += std::string(indent, ' ') + "k" + std::to_string(i) + ":";
            value(indent, depth);
        }
    }
    void block_sequence(int indent, int depth) {
        for (int i = 0, n = 1 + pick(3); i < n; ++i) {
            gap(indent);
            out_ += std::string(indent, ' ') + "-";
            if (depth > 0 && chance(25)) {
                out_ += " k:";
                value(indent + 2, depth - 1);
            } else if (chance(20)) {
                trailing();  // empty item
            } else {
                out_ += std::string(1 + pick(2), ' ') + scalar();
                trailing();
            }
        }
    }

    std::mt19937 rng_;
    std::string out_;
    std::vector<std::string> labels_;
    int anchors_ = 0;
};

// The line of each label's comment.
std::vector<std::uint32_t> label_lines(std::string_view text, std::size_t count) {
    std::vector<std::uint32_t> lines(count);
    for (std::size_t i = 0; i < count; ++i) {
        const std::string mark = "# c" + std::to_string(i) + "\n";
        const std::size_t at = text.find(mark);
        lines[i] = static_cast<std::uint32_t>(std::count(text.begin(), text.begin() + at, '\n'));
    }
    return lines;
}

std::uint32_t line_of_label(const std::vector<std::uint32_t>& lines, std::string_view label) {
    return lines[std::stoul(std::string(label.substr(1)))];
}

// Collects the attached comments in the order the walk meets them (an inline
// comment from the key's line comes before the value itself) and checks each
// lies where its field says.
void gather(const YamlNode& n, bool is_key, const std::vector<std::uint32_t>& lines,
            std::vector<std::string>& out) {
    const CommentText* t = n.comments.text.get();
    const bool has_inline = t && t->inline_text;
    const bool inline_first = has_inline && line_of_label(lines, *t->inline_text) < n.span.line;
    if (inline_first) out.emplace_back(*t->inline_text);
    if (t)
        for (auto h : t->head) {
            if (!is_key) CHECK(line_of_label(lines, h) < n.span.line);
            out.emplace_back(h);
        }
    for (std::size_t i = 0; i < n.children.size(); ++i)
        gather(n.children[i], n.kind == NodeKind::Mapping && i % 2 == 0, lines, out);
    if (has_inline) {
        CHECK(!is_key);
        CHECK(t->inline_spaces >= 1);
        if (n.kind == NodeKind::Scalar && !inline_first)
            CHECK_EQ(line_of_label(lines, *t->inline_text), n.end_line);
        if (!inline_first) out.emplace_back(*t->inline_text);
    }
    if (t)
        for (auto h : t->foot) out.emplace_back(h);
}

// Every comment of a generated text is attached once, in source order.
void generated_texts() {
    check::Case c("generated");
    int composed = 0;
    for (unsigned seed = 1; seed <= 3000; ++seed) {
        Generator gen(seed);
        const std::string text = gen.text();
        auto r = compose_text(text, 0, false);
        if (!r) continue;
        ++composed;
        check::Case tc(text);
        const auto lines = label_lines(text, gen.labels().size());
        std::vector<std::string> got;
        for (const YamlNode& root : r->roots) gather(root, false, lines, got);
        if (!CHECK(got == gen.labels())) break;
    }
    CHECK(composed > 2900);  // the generator writes valid YAML
}

}  // namespace

// Loading that only converts the tree reads no comments: no comment field is
// filled, and every position stays what the commented composition gives.
void without_comments() {
    const std::string_view text = "# top\n\na: 1  # one\n\n# head\nb:\n  - x # two\n# foot\n";
    ComposeChecks reading;
    reading.keep_comments = false;
    auto bare = compose_text(text, 0, false, reading);
    CHECK(bare.has_value());
    if (!bare) return;
    std::string out;
    render(bare->roots.front(), "r0", out);
    CHECK_EQ(out, std::string());
    auto full = compose(text);
    std::vector<const YamlNode*> a{&bare->roots.front()}, b{&full.roots.front()};
    while (!a.empty()) {
        const YamlNode* x = a.back();
        const YamlNode* y = b.back();
        a.pop_back();
        b.pop_back();
        CHECK_EQ(x->span.offset, y->span.offset);
        CHECK_EQ(x->end_offset, y->end_offset);
        CHECK_EQ(x->end_line, y->end_line);
        CHECK_EQ(x->children.size(), y->children.size());
        if (x->children.size() != y->children.size()) return;
        for (std::size_t i = 0; i < x->children.size(); ++i) {
            a.push_back(&x->children[i]);
            b.push_back(&y->children[i]);
        }
    }
}

int main() {
    inline_comments();
    heads_and_blank_lines();
    spacing_and_keys();
    feet_and_documents();
    hostile_sizes();
    approximate_ends();
    generated_texts();
    without_comments();
    return check::finish("comments_test");
}
