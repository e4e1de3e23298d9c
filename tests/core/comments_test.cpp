// Comment attachment and layout on composed syntax trees: inline comments and
// their spacing, head comments and blank lines, spacing after ':', comments
// next to keys and empty values, flow collections, feet and documents, byte
// order marks and CR LF, hostile sizes, the approximate end, and a generated
// corpus in which every comment must land exactly once.
#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"
#include "syntax/compose.hpp"

using namespace quarvel;

namespace {

SyntaxForest compose(std::string_view text, bool keep_empty = false) {
    auto r = compose_text(text, 0, keep_empty);
    if (!r) {
        CHECK_EQ(r.error().message, std::string("no error"));
        return {};
    }
    return std::move(*r);
}

// The comment fields of one node, defaults left out:
// "bb=2 head=[a|b] inline=note/3 pad=4 compact foot=[e]".
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
    if (c.value_pad) add("pad=" + std::to_string(c.value_pad));
    if (c.compact) add("compact");
    if (c.text && !c.text->foot.empty()) add("foot=" + list(c.text->foot));
    return s;
}

void inline_comments() {
    check::Case c("inline");
    {
        auto f = compose("a: 1   # note\n");
        CHECK_EQ(notes(f.roots[0].value(0)), std::string("inline=note/3 pad=1"));
        CHECK_EQ(notes(f.roots[0].key(0)), std::string(""));
        CHECK_EQ(notes(f.roots[0]), std::string(""));
    }
    {
        // The spacing is measured from where the node really ends, not from
        // its decoded text: quotes, escapes, alias names and brackets count.
        auto f = compose("q: \"\\u00e9\"  # a\nr: *x   # b\ns: [x, y]  # c\nt: v\t# d\n");
        const YamlNode& m = f.roots[0];
        CHECK_EQ(notes(m.value(0)), std::string("inline=a/2 pad=1"));
        CHECK_EQ(notes(m.value(1)), std::string("inline=b/3 pad=1"));
        CHECK_EQ(notes(m.value(2)), std::string("inline=c/2 pad=1"));
        CHECK_EQ(notes(m.value(2).children[0]), std::string(""));
        CHECK_EQ(notes(m.value(2).children[1]), std::string(""));
        CHECK_EQ(notes(m.value(3)), std::string("inline=d/1 pad=1"));
    }
    {
        // In a flow collection the comment goes to the node it follows.
        auto f = compose("[a, # c1\n b,  # c2\n c] # c3\n");
        const YamlNode& s = f.roots[0];
        CHECK_EQ(notes(s.children[0]), std::string("inline=c1/1"));
        CHECK_EQ(notes(s.children[1]), std::string("inline=c2/2"));
        CHECK_EQ(notes(s.children[2]), std::string(""));
        CHECK_EQ(notes(s), std::string("inline=c3/1"));
    }
    {
        auto f = compose("x: [p,\n  q]  # e\ny: [k: v] # f\nz: [[a], [b]] # g\n");
        const YamlNode& m = f.roots[0];
        CHECK_EQ(notes(m.value(0)), std::string("inline=e/2 pad=1"));
        CHECK_EQ(notes(m.value(0).children[1]), std::string(""));
        CHECK_EQ(notes(m.value(1)), std::string("inline=f/1 pad=1"));
        CHECK_EQ(notes(m.value(1).children[0].value(0)), std::string("pad=1"));
        CHECK_EQ(notes(m.value(2)), std::string("inline=g/1 pad=1"));
        CHECK_EQ(notes(m.value(2).children[1].children[0]), std::string(""));
    }
    {
        auto f = compose("{a: 1, # c\n b: 2}  # d\n");
        const YamlNode& m = f.roots[0];
        CHECK_EQ(notes(m.value(0)), std::string("inline=c/1 pad=1"));
        CHECK_EQ(notes(m), std::string("inline=d/2"));
    }
    {
        // A comment after a multi-line scalar's last line follows it.
        auto f = compose("a: \"x\n  y\"  # c\nb: p\n  q # d\n");
        CHECK_EQ(notes(f.roots[0].value(0)), std::string("inline=c/2 pad=1"));
        CHECK_EQ(notes(f.roots[0].value(1)), std::string("inline=d/1 pad=1"));
    }
}

void heads_and_blank_lines() {
    check::Case c("heads");
    {
        auto f = compose("# top\na: 1\n# above b\n# twice\nb: 2\n\n\nc: 3\n");
        const YamlNode& m = f.roots[0];
        CHECK_EQ(notes(m), std::string("head=[top]"));  // the first key's comment is the root's
        CHECK_EQ(notes(m.key(1)), std::string("head=[above b|twice]"));
        CHECK_EQ(notes(m.key(2)), std::string("bb=2"));
    }
    {
        auto f = compose("a: 1\r\n\r\n# c\r\nb: 2  # d\r\n");
        CHECK_EQ(notes(f.roots[0].key(1)), std::string("bb=1 head=[c]"));
        CHECK_EQ(notes(f.roots[0].value(1)), std::string("inline=d/2 pad=1"));
    }
    {
        // Blank lines inside a quoted scalar are not blank lines before the
        // next key; escaped line breaks do not hide real blank lines.
        auto f = compose("a: \"x\n  y\n\n  z\"\nb: 1\nc: \"p\\nq\\nr\"\n\nd: 2\n");
        CHECK_EQ(notes(f.roots[0].key(1)), std::string(""));
        CHECK_EQ(notes(f.roots[0].key(3)), std::string("bb=1"));
    }
    {
        // An empty value has no line of its own: the blank lines and comments
        // after it belong to the next entry.
        auto f = compose("a:\n\n\nb: 1\nc:\n# about d\nd: 2\n");
        const YamlNode& m = f.roots[0];
        CHECK_EQ(notes(m.key(1)), std::string("bb=2"));
        CHECK_EQ(notes(m.key(3)), std::string("head=[about d]"));
        CHECK_EQ(notes(m.value(0)), std::string(""));
        CHECK_EQ(notes(m.value(2)), std::string(""));
    }
    {
        auto f = compose("-\n\n# c\n- x\n- a: 1\n\n  b: 2\n");
        const YamlNode& s = f.roots[0];
        CHECK_EQ(notes(s.children[0]), std::string(""));
        CHECK_EQ(notes(s.children[1]), std::string("bb=1 head=[c] pad=1"));
        CHECK_EQ(notes(s.children[2].key(1)), std::string("bb=1"));
    }
    {
        // Trailing blank lines of a block scalar are part of its source.
        auto f = compose("a: |\n  x\n\n\nb: 1\nc: >\n  y\n\n# c\n\nd: 2\n");
        const YamlNode& m = f.roots[0];
        CHECK_EQ(*m.value(0).comments.text->raw, std::string_view("|\n  x\n\n\n"));
        CHECK_EQ(notes(m.key(1)), std::string(""));
        CHECK_EQ(notes(m.key(3)), std::string("head=[c]"));
    }
    {
        auto f = compose("a:\n  - b\n\n  # c\n\n  - d\n");
        CHECK_EQ(notes(f.roots[0].value(0).children[1]), std::string("bb=1 head=[c] pad=1"));
    }
}

void value_spacing() {
    check::Case c("spacing");
    auto f = compose("a:    1\nb: &x  2\n'c':   3\nd: [x]\n");
    const YamlNode& m = f.roots[0];
    CHECK_EQ(m.value(0).comments.value_pad, 4u);
    CHECK_EQ(m.value(1).comments.value_pad, 0u);  // properties come between
    CHECK_EQ(m.value(2).comments.value_pad, 0u);  // only after plain keys
    CHECK_EQ(m.value(3).comments.value_pad, 1u);

    auto s = compose("-   x\n- - y\n-  [z]\n");
    const YamlNode& seq = s.roots[0];
    CHECK_EQ(notes(seq.children[0]), std::string("pad=3"));
    CHECK_EQ(notes(seq.children[1]), std::string("compact"));
    CHECK_EQ(notes(seq.children[2]), std::string("pad=2"));
}

void comments_near_keys() {
    check::Case c("keys");
    {
        // After "key:" with the value below: the value's inline comment.
        auto f = compose("k: # c\n  b: 1\nl: &x  # d\n  - e\nm: # f\n- g\nn: # h\no: 1\np: # i\n");
        const YamlNode& m = f.roots[0];
        CHECK_EQ(notes(m.value(0)), std::string("inline=c/1"));
        CHECK_EQ(notes(m.value(1)), std::string("inline=d/2"));
        CHECK_EQ(notes(m.value(2)), std::string("inline=f/1"));
        CHECK_EQ(notes(m.value(3)), std::string("inline=h/1"));  // empty value
        CHECK_EQ(notes(m.value(5)), std::string("inline=i/1"));  // empty value at the end
        for (std::size_t i = 0; i < m.size(); ++i) CHECK_EQ(notes(m.key(i)), std::string(""));
    }
    {
        // Comments between a key and a value that holds no head of its own
        // join the key's head.
        auto f = compose("a:\n  # c\n  1  # d\nb: 2\n? k # e\n: v\n");
        const YamlNode& m = f.roots[0];
        CHECK_EQ(notes(m.key(0)), std::string("head=[c]"));
        CHECK_EQ(notes(m.value(0)), std::string("inline=d/2"));
        CHECK_EQ(notes(m.key(2)), std::string("head=[e]"));
    }
    {
        // A block collection value keeps the lines above it.
        auto f = compose("a:\n  # c\n  b: 1\n");
        CHECK_EQ(notes(f.roots[0].value(0)), std::string("head=[c]"));
    }
    {
        // A comment on the line where a block scalar stopped is not its
        // inline comment, nor its mapping's.
        auto f = compose("a:\n  b: |\n    x\n  # c\n  d: 1\n");
        const YamlNode& inner = f.roots[0].value(0);
        CHECK_EQ(notes(inner.value(0)), std::string("pad=1"));
        CHECK_EQ(notes(inner), std::string(""));
        CHECK_EQ(notes(inner.key(1)), std::string("head=[c]"));
    }
}

void feet_and_documents() {
    check::Case c("documents");
    {
        auto f = compose("a: 1\n# end\n\n# really\n");
        CHECK_EQ(notes(f.roots[0]), std::string("foot=[end|really]"));
    }
    {
        auto f = compose("a: 1\n# c\n---\nb: 2\n# e\n--- # g\nc: 3\n# h\n");
        CHECK_EQ(f.roots.size(), std::size_t{3});
        CHECK_EQ(notes(f.roots[0]), std::string(""));
        CHECK_EQ(notes(f.roots[1]), std::string("head=[c]"));
        CHECK_EQ(notes(f.roots[2]), std::string("head=[e|g] foot=[h]"));
    }
    {
        // No document: nothing to hold the comments, nothing breaks.
        auto f = compose("# only\n# comments\n");
        CHECK(f.roots.empty());
        auto g = compose("---\n# c\n", true);
        CHECK_EQ(g.roots.size(), std::size_t{1});
        CHECK_EQ(notes(g.roots[0]), std::string("foot=[c]"));
    }
    {
        auto f = compose("\xEF\xBB\xBF# c\na: 1 # d\n");
        CHECK(f.roots[0].leading_bom);
        CHECK_EQ(f.roots[0].span.offset, std::uint64_t{7});
        CHECK_EQ(notes(f.roots[0]), std::string("head=[c]"));
        CHECK_EQ(notes(f.roots[0].value(0)), std::string("inline=d/1 pad=1"));
    }
    {
        auto f = compose("x # c\n");
        CHECK_EQ(notes(f.roots[0]), std::string("inline=c/1"));
    }
    {
        const std::string_view text = "a: |\n  keep  \n   this\n\n";
        auto f = compose(text);
        CHECK_EQ(*f.roots[0].value(0).comments.text->raw, text.substr(3));
    }
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

int main() {
    inline_comments();
    heads_and_blank_lines();
    value_spacing();
    comments_near_keys();
    feet_and_documents();
    hostile_sizes();
    approximate_ends();
    generated_texts();
    return check::finish("comments_test");
}
