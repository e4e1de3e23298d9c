// The token stream as a second composer reads it: comments taken as tokens
// are consumed, exact token ends, file numbers on every mark, the byte order
// mark flag, and the StreamEnd that stands in after a scanner error.
#include "scanner/token_stream.hpp"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "check.hpp"

namespace quarvel {

std::ostream& operator<<(std::ostream& o, TokenKind k) {
    static constexpr const char* names[] = {"StreamStart",
                                            "StreamEnd",
                                            "DocumentStart",
                                            "DocumentEnd",
                                            "Directive",
                                            "BlockMappingStart",
                                            "BlockSequenceStart",
                                            "BlockEnd",
                                            "BlockEntry",
                                            "FlowMappingStart",
                                            "FlowMappingEnd",
                                            "FlowSequenceStart",
                                            "FlowSequenceEnd",
                                            "FlowEntry",
                                            "Key",
                                            "Value",
                                            "Anchor",
                                            "Alias",
                                            "Tag",
                                            "Scalar"};
    return o << names[static_cast<int>(k)];
}

}  // namespace quarvel

namespace {

using quarvel::Comment;
using quarvel::Mark;
using quarvel::Token;
using quarvel::TokenKind;
using quarvel::TokenStream;
using quarvel::check::Case;

constexpr std::string_view kBom = "\xEF\xBB\xBF";

// The whole stream, consumed one token at a time and released behind.
struct Run {
    std::unique_ptr<TokenStream> stream;
    std::vector<Token> tokens;  // through StreamEnd (the stand-in after an error)
    std::vector<Comment> comments;
};

Run run_all(std::string_view text, std::uint32_t file = 0, bool keep_comments = true) {
    Run r{std::make_unique<TokenStream>(text, file, keep_comments), {}, {}};
    for (std::size_t i = 0;; ++i) {
        r.tokens.push_back(r.stream->at(i));
        // The reference at() gave is gone after a release: read the copy.
        r.stream->release_before(i + 1);
        if (r.tokens.back().kind == TokenKind::StreamEnd) break;
    }
    r.stream->take_comments(r.comments);
    return r;
}

bool has_source_text(TokenKind k) {
    return k == TokenKind::Scalar || k == TokenKind::Anchor || k == TokenKind::Alias ||
           k == TokenKind::Tag || k == TokenKind::Directive;
}

// Line and column of byte offsets, counted from the text itself.
struct Position {
    std::uint32_t line = 0;
    std::uint32_t column = 0;
};

class Positions {
  public:
    explicit Positions(std::string_view text) : text_(text) {
        line_starts_.push_back(text.starts_with(kBom) ? 3 : 0);
        for (std::size_t i = line_starts_[0]; i < text.size(); ++i) {
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
            if (text[i] == '\n' || text[i] == '\r') line_starts_.push_back(i + 1);
        }
    }

    Position of(std::uint64_t offset) const {
        const auto after = std::upper_bound(line_starts_.begin(), line_starts_.end(), offset);
        Position p{static_cast<std::uint32_t>(after - line_starts_.begin() - 1), 0};
        for (std::size_t i = line_starts_[p.line]; i < offset; ++i) {
            p.column += (static_cast<unsigned char>(text_[i]) & 0xC0) != 0x80;
        }
        return p;
    }

  private:
    std::string_view text_;
    std::vector<std::uint64_t> line_starts_;
};

// What holds for every stream: marks agree with their offsets and carry the
// file, ends are exact where no source text is spanned, comments lie outside
// every token and each starts at a '#'.
void check_invariants(std::string_view text, const Run& r, std::uint32_t file) {
    const Positions positions(text);
    // Token starts never go back, so the source ranges come sorted by start;
    // with the largest end up to each range a comment inside any of them is
    // found by binary search.
    std::vector<std::uint64_t> starts, max_ends;
    std::uint64_t previous_start = 0;
    for (const Token& t : r.tokens) {
        const Position p = positions.of(t.mark.offset);
        CHECK_EQ(t.mark.line, p.line);
        CHECK_EQ(t.mark.column, p.column);
        CHECK_EQ(t.mark.file, file);
        CHECK(t.mark.offset >= previous_start);
        CHECK(t.end_offset >= t.mark.offset && t.end_offset <= text.size());
        if (!has_source_text(t.kind)) CHECK_EQ(t.end_offset, t.mark.offset);
        previous_start = t.mark.offset;
        if (t.end_offset > t.mark.offset) {
            starts.push_back(t.mark.offset);
            max_ends.push_back(std::max(t.end_offset, max_ends.empty() ? 0 : max_ends.back()));
        }
    }
    for (std::size_t k = 0; k < r.comments.size(); ++k) {
        const Comment& c = r.comments[k];
        const Position p = positions.of(c.offset);
        CHECK_EQ(c.line, p.line);
        CHECK_EQ(c.column, p.column);
        CHECK_EQ(c.file, file);
        CHECK(c.offset < text.size() && text[c.offset] == '#');
        if (k > 0) CHECK(r.comments[k - 1].offset < c.offset);
        const auto n = std::upper_bound(starts.begin(), starts.end(), c.offset) - starts.begin();
        if (n > 0) CHECK(max_ends[n - 1] <= c.offset);  // no token's source holds the comment
    }
}

// ---- comments -------------------------------------------------------------

struct ExpectedComment {
    std::string_view text;
    std::uint64_t offset;
    std::uint32_t line;
    std::uint32_t column;
};

struct CommentCase {
    const char* name;
    std::string_view text;
    std::vector<ExpectedComment> comments;
};

const std::vector<CommentCase>& comment_cases() {
    static const std::vector<CommentCase> cases = {
        {"head and inline",
         "# top\nkey: value  # after value\n",
         {{"top", 0, 0, 0}, {"after value", 18, 1, 12}}},
        {"only one space after '#' is dropped",
         "#  two\n#\tthree\n#\n",
         {{" two", 0, 0, 0}, {"\tthree", 7, 1, 0}, {"", 15, 2, 0}}},
        {"trailing Unicode white space is removed",
         "a: 1 # note \t\u00A0\u3000\r\nb: 2 #\u2003\n",
         {{"note", 5, 0, 5}, {"", 25, 1, 5}}},
        {"columns count characters", "\u00E9: \u00FC # c\n", {{"c", 7, 0, 5}}},
        {"a comment right after the byte order mark", "\xEF\xBB\xBF# c\nk: v\n", {{"c", 3, 0, 0}}},
        {"'#' after content is content", "a: 1#x\nb: c#d # e\n", {{"e", 14, 1, 7}}},
        {"'#' after a no-break space is content", "a: b\u00A0#c\n", {}},
        {"comments inside flow collections",
         "[a, # one\n  b]  # two\n",
         {{"one", 4, 0, 4}, {"two", 16, 1, 6}}},
        {"comments after document markers",
         "--- # d\na\n... # e\n",
         {{"d", 4, 0, 4}, {"e", 14, 2, 4}}},
        {"'#' inside scalars is content", "a: '# no'\nb: \"x # no\"\nc: |\n  # no\n  x\n", {}},
        {"a block scalar header comment is part of the scalar",
         "c: | # h\n  x\n# after\n",
         {{"after", 13, 2, 0}}},
        {"a comment line ends a multi-line plain scalar",
         "a: b\n  c\n  # k\nd: 1\n",
         {{"k", 11, 2, 2}}},
        {"a comment line less indented than a block scalar",
         "a: |\n    x\n  # k\n",
         {{"k", 13, 2, 2}}},
        {"a tab before '#'", "a: b\t# t\n", {{"t", 5, 0, 5}}},
        {"a comment at the end of the text", "a # z", {{"z", 2, 0, 2}}},
        {"carriage returns end lines", "# a\rb: 1 # c\r", {{"a", 0, 0, 0}, {"c", 9, 1, 5}}},
        {"a lone '#'", "#", {{"", 0, 0, 0}}},
    };
    return cases;
}

void test_comments_recorded() {
    for (const CommentCase& c : comment_cases()) {
        Case scope(c.name);
        const Run kept = run_all(c.text, 3, true);
        CHECK(!kept.stream->error());
        check_invariants(c.text, kept, 3);
        if (CHECK_EQ(kept.comments.size(), c.comments.size())) {
            for (std::size_t k = 0; k < c.comments.size(); ++k) {
                CHECK_EQ(kept.comments[k].text, c.comments[k].text);
                CHECK_EQ(kept.comments[k].offset, c.comments[k].offset);
                CHECK_EQ(kept.comments[k].line, c.comments[k].line);
                CHECK_EQ(kept.comments[k].column, c.comments[k].column);
            }
        }

        // Without keep_comments nothing is recorded and the tokens are the same.
        const Run plain = run_all(c.text, 3, false);
        CHECK(plain.comments.empty());
        if (CHECK_EQ(plain.tokens.size(), kept.tokens.size())) {
            for (std::size_t k = 0; k < kept.tokens.size(); ++k) {
                CHECK_EQ(plain.tokens[k].kind, kept.tokens[k].kind);
                CHECK_EQ(plain.tokens[k].mark.offset, kept.tokens[k].mark.offset);
                CHECK_EQ(plain.tokens[k].end_offset, kept.tokens[k].end_offset);
                CHECK_EQ(plain.tokens[k].text, kept.tokens[k].text);
            }
        }
    }
}

// A text long enough for the stream to drop consumed tokens many times,
// with comments in block and flow context, on block scalar headers and
// between documents.
std::string commented_text() {
    std::string s = "# first\n";
    for (int i = 0; i < 1500; ++i) {
        const std::string n = std::to_string(i);
        if (i % 100 == 99) s += "--- # document " + n + "\n";
        s += "# head " + n + "\nkey" + n + ": value" + n + "  # inline " + n + "\n";
        s += "list" + n + ": [a, b, # in flow " + n + "\n   c]\n";
        s += "text" + n + ": |  # header\n    line\n\n";
    }
    return s + "# last";
}

// Takes comments before each token as a composer would, releasing consumed
// tokens every `release_every` tokens, and checks that the comments taken
// at each token are exactly those before it.
void test_comments_taken_while_consuming() {
    const std::string text = commented_text();
    const Run reference = run_all(text, 0, true);
    CHECK(!reference.stream->error());
    CHECK_EQ(reference.comments.size(), 2u + 1500 * 3 + 15);
    check_invariants(text, reference, 0);

    for (std::size_t release_every : {std::size_t{1}, std::size_t{1000}}) {
        Case scope("release every " + std::to_string(release_every) + " tokens");
        TokenStream stream(text, 0, true);
        std::vector<Comment> taken;
        for (std::size_t i = 0;; ++i) {
            const Token& t = stream.at(i);
            const std::uint64_t start = t.mark.offset;
            const bool last = t.kind == TokenKind::StreamEnd;
            const std::size_t before = taken.size();
            stream.take_comments_before(start, taken);
            for (std::size_t k = before; k < taken.size(); ++k) CHECK(taken[k].offset < start);
            const auto expected =
                std::partition_point(reference.comments.begin(), reference.comments.end(),
                                     [start](const Comment& c) { return c.offset < start; });
            if (!CHECK_EQ(taken.size(),
                          static_cast<std::size_t>(expected - reference.comments.begin()))) {
                break;
            }
            for (const Comment& c : stream.comments()) CHECK(c.offset >= start);
            if (i % release_every == 0) stream.release_before(i + 1);
            if (last) break;
        }
        stream.take_comments(taken);
        CHECK(stream.comments().empty());
        if (CHECK_EQ(taken.size(), reference.comments.size())) {
            for (std::size_t k = 0; k < taken.size(); ++k) {
                CHECK_EQ(taken[k].offset, reference.comments[k].offset);
                CHECK_EQ(taken[k].text, reference.comments[k].text);
            }
        }
    }

    // A composer that stops early: drain() still records the rest.
    TokenStream stream(text, 0, true);
    std::vector<Comment> taken;
    for (std::size_t i = 0; i < 50; ++i)
        stream.take_comments_before(stream.at(i).mark.offset, taken);
    stream.drain();
    stream.take_comments(taken);
    CHECK_EQ(taken.size(), reference.comments.size());
    CHECK(!taken.empty() && taken.back().text == "last");
}

// ---- token ends -----------------------------------------------------------

struct Spanned {
    TokenKind kind;
    std::string_view source;  // text[mark.offset, end_offset)
};

struct EndCase {
    const char* name;
    std::string_view text;
    std::vector<Spanned> spans;  // the tokens with source text, in order
};

constexpr TokenKind S = TokenKind::Scalar;

const std::vector<EndCase>& end_cases() {
    static const std::vector<EndCase> cases = {
        {"plain scalars end after their last non-blank",
         "a: b c  # x\nd:   e\t\n",
         {{S, "a"}, {S, "b c"}, {S, "d"}, {S, "e"}}},
        {"multi-line plain scalar",
         "a: b\n  c   \n\n  d \ne: 1\n",
         {{S, "a"}, {S, "b\n  c   \n\n  d"}, {S, "e"}, {S, "1"}}},
        {"quoted keys end after the closing quote",
         "'a''b' : \"c\\\"d\"\n",
         {{S, "'a''b'"}, {S, "\"c\\\"d\""}}},
        {"multi-line double-quoted scalar", "a: \"b\n  c\"  \n", {{S, "a"}, {S, "\"b\n  c\""}}},
        {"flow collections",
         "[a , 'b' ,\"c\", {d: e} ]",
         {{S, "a"}, {S, "'b'"}, {S, "\"c\""}, {S, "d"}, {S, "e"}}},
        {"multi-line plain scalar in flow", "[a\n  b , c]", {{S, "a\n  b"}, {S, "c"}}},
        {"quoted key with an adjacent ':'", "{\"a\":b}", {{S, "\"a\""}, {S, "b"}}},
        {"block scalar with trailing empty lines",
         "a: |\n  x\n\n  y\n\nb: 1\n",
         {{S, "a"}, {S, "|\n  x\n\n  y\n\n"}, {S, "b"}, {S, "1"}}},
        {"nested block scalar ends past the indentation of the next line",
         "a:\n  b: >-\n    x\n    y\n  c: 1\n",
         {{S, "a"}, {S, "b"}, {S, ">-\n    x\n    y\n  "}, {S, "c"}, {S, "1"}}},
        {"keep-chomped block scalar at the end", "- |+\n  x\n\n", {{S, "|+\n  x\n\n"}}},
        {"block scalar without a final break", "- >\n  x", {{S, ">\n  x"}}},
        {"block scalar before a document-end marker", "--- |\n  x\n...\n", {{S, "|\n  x\n"}}},
        {"block scalar header comment",
         "a: | # h\n  x\nb: 1\n",
         {{S, "a"}, {S, "| # h\n  x\n"}, {S, "b"}, {S, "1"}}},
        {"empty block scalar", "a: |\nb: 1\n", {{S, "a"}, {S, "|\n"}, {S, "b"}, {S, "1"}}},
        {"properties and aliases end after their name",
         "a: &x !!str v\nb: *x\nc: !<tag:e.org,1:z> w\n",
         {{S, "a"},
          {TokenKind::Anchor, "&x"},
          {TokenKind::Tag, "!!str"},
          {S, "v"},
          {S, "b"},
          {TokenKind::Alias, "*x"},
          {S, "c"},
          {TokenKind::Tag, "!<tag:e.org,1:z>"},
          {S, "w"}}},
        {"directives end at their line break",
         "%YAML 1.2\n%TAG ! tag:e.org,1:\n--- x\n",
         {{TokenKind::Directive, "%YAML 1.2"},
          {TokenKind::Directive, "%TAG ! tag:e.org,1:"},
          {S, "x"}}},
        {"multi-byte characters", "\u00E9: \u00ABx\u00BB\n", {{S, "\u00E9"}, {S, "\u00ABx\u00BB"}}},
        {"after a byte order mark",
         "\xEF\xBB\xBF"
         "a: 'b'\n",
         {{S, "a"}, {S, "'b'"}}},
        {"CR LF line breaks",
         "a: b\r\n  c\r\nd: |\r\n  x\r\n",
         {{S, "a"}, {S, "b\r\n  c"}, {S, "d"}, {S, "|\r\n  x\r\n"}}},
    };
    return cases;
}

void test_token_ends() {
    for (const EndCase& c : end_cases()) {
        Case scope(c.name);
        const Run r = run_all(c.text, 0, true);
        CHECK(!r.stream->error());
        check_invariants(c.text, r, 0);
        std::vector<Spanned> got;
        for (const Token& t : r.tokens) {
            if (has_source_text(t.kind))
                got.push_back({t.kind, c.text.substr(t.mark.offset, t.end_offset - t.mark.offset)});
        }
        if (CHECK_EQ(got.size(), c.spans.size())) {
            for (std::size_t k = 0; k < got.size(); ++k) {
                CHECK_EQ(got[k].kind, c.spans[k].kind);
                CHECK_EQ(got[k].source, c.spans[k].source);
            }
        }
    }
}

// ---- file numbers and the byte order mark ---------------------------------

void test_file_numbers() {
    const std::string_view text =
        "%YAML 1.2\n--- # c\nseq:\n  - &a !!str x\n  - *a\n  - [1, {k: v}]\n? 'q'\n: \"d\"\nlit: "
        "|\n  t\n...\n";
    for (std::uint32_t file : {0u, 7u, 0xFFFFFFFFu}) {
        Case scope("file " + std::to_string(file));
        const Run r = run_all(text, file, true);
        CHECK(!r.stream->error());
        CHECK_EQ(r.stream->file(), file);
        check_invariants(text, r, file);
        CHECK_EQ(r.comments.size(), 1u);
        // The text holds every kind of token.
        for (int k = 0; k <= static_cast<int>(TokenKind::Scalar); ++k) {
            const auto kind = static_cast<TokenKind>(k);
            CHECK(std::any_of(r.tokens.begin(), r.tokens.end(),
                              [kind](const Token& t) { return t.kind == kind; }));
        }
    }
}

void test_leading_bom() {
    struct BomCase {
        const char* name;
        std::string_view text;
        bool bom;
        std::uint64_t first_offset;  // of the token after StreamStart
    };
    const std::string bom_only(kBom);
    const std::string bom_scalar = bom_only + "a";
    const std::string two_boms = bom_only + bom_only;
    const BomCase cases[] = {
        {"no mark", "a", false, 0},
        {"a mark before a scalar", bom_scalar, true, 3},
        {"only a mark", bom_only, true, 3},
        {"a mark after content is content", "a\xEF\xBB\xBF", false, 0},
        {"only the first mark is skipped", two_boms, true, 3},
        {"empty text", "", false, 0},
    };
    for (const BomCase& c : cases) {
        Case scope(c.name);
        TokenStream stream(c.text, 0, false);
        CHECK_EQ(stream.leading_bom(), c.bom);
        CHECK_EQ(stream.at(0).mark.offset, c.bom ? 3u : 0u);
        CHECK_EQ(stream.at(1).mark.offset, c.first_offset);
        CHECK_EQ(stream.at(1).mark.column, 0u);
    }
}

// ---- the end after a scanner error ----------------------------------------

struct ErrorCase {
    const char* name;
    std::string_view text;
    std::string_view message;
    Mark at;  // file filled in by the test
};

void test_end_after_error() {
    const std::vector<ErrorCase> cases = {
        {"unclosed flow collection",
         "a: [b",
         "unclosed flow collection at end of input",
         {5, 0, 0, 5}},
        {"tab indentation after a two-byte character",
         "\u00E9: x\n\tb: 1",
         "a tab cannot be used for indentation",
         {6, 0, 1, 0}},
        {"unknown escape", "\u00E4: \"\\q\"", "unknown escape character: '\\q'", {6, 0, 0, 5}},
        {"leading empty line wider than the content",
         "a: |\n    \n  x\n",
         "a leading empty line in a block scalar is indented more than the content",
         {7, 0, 1, 2}},
        {"sequence entry indented past its sequence",
         "- - a\n - b\n",
         "a sequence entry is indented past its sequence",
         {7, 0, 1, 1}},
        {"unclosed flow collection after a byte order mark",
         "\xEF\xBB\xBF[a",
         "unclosed flow collection at end of input",
         {5, 0, 0, 2}},
        {"'#' right after a flow collection",
         "[a]#c",
         "a comment must be preceded by whitespace",
         {3, 0, 0, 3}},
        {"'#' right after a block scalar indicator",
         "a: |#c\n",
         "a comment must be preceded by whitespace",
         {4, 0, 0, 4}},
        {"'#' right after a quoted scalar",
         "a: 'b'#c\n",
         "a comment must be preceded by whitespace",
         {6, 0, 0, 6}},
        {"an error on a later line",
         "\u00FC: 1\n\u00FC: [\n",
         "flow content must be indented more than its block context",
         {12, 0, 2, 0}},
    };
    for (std::uint32_t file : {0u, 12u}) {
        for (const ErrorCase& c : cases) {
            Case scope(std::string(c.name) + ", file " + std::to_string(file));
            const Run r = run_all(c.text, file, true);
            const auto& error = r.stream->error();
            if (!CHECK(error.has_value())) continue;
            CHECK_EQ(error->message, c.message);
            CHECK_EQ(error->line, c.at.line);
            CHECK_EQ(error->column, c.at.column);
            const Token& end = r.tokens.back();
            CHECK_EQ(end.kind, TokenKind::StreamEnd);
            CHECK_EQ(end.mark.offset, c.at.offset);
            CHECK_EQ(end.mark.file, file);
            CHECK_EQ(end.mark.line, c.at.line);
            CHECK_EQ(end.mark.column, c.at.column);
            CHECK_EQ(end.end_offset, c.at.offset);
            CHECK_EQ(r.tokens.front().kind, TokenKind::StreamStart);
            CHECK_EQ(r.tokens.front().mark.file, file);
            // Draining and asking again give the same end.
            r.stream->drain();
            const Token& again = r.stream->at(r.tokens.size() + 10);
            CHECK_EQ(again.kind, TokenKind::StreamEnd);
            CHECK_EQ(again.mark.offset, c.at.offset);
            CHECK_EQ(again.mark.file, file);
        }
    }

    // An error met by drain() after composition stopped early.
    const std::string_view text = "a: 1\nb: 2\nc: [\n";
    TokenStream stream(text, 4, false);
    for (std::size_t i = 0; i < 4; ++i) stream.at(i);
    CHECK(!stream.error());
    stream.drain();
    CHECK(stream.error().has_value());
    const Token& end = stream.at(100);
    CHECK_EQ(end.kind, TokenKind::StreamEnd);
    CHECK_EQ(end.mark.offset, text.size());
    CHECK_EQ(end.mark.line, 3u);
    CHECK_EQ(end.mark.file, 4u);
}

}  // namespace

int main() {
    test_comments_recorded();
    test_comments_taken_while_consuming();
    test_token_ends();
    test_file_numbers();
    test_leading_bom();
    test_end_after_error();
    return quarvel::check::finish("token_stream_test");
}
