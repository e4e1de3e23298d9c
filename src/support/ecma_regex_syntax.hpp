// The first stage of the regular-expression engine: pattern text to a syntax
// tree, with every rule of the Unicode-mode grammar checked (a pattern that
// does not parse is refused here, never guessed at), character classes and
// property escapes already reduced to code point sets, and back references
// resolved to group numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "support/error.hpp"

namespace quarvel::ecma_regex_detail {

inline constexpr char32_t kMaxCodePoint = 0x10FFFF;

// Groups may nest this deep (lookarounds and classes count as groups); the
// parser and the compiler recurse once per level, so the bound keeps their
// stack use small on any thread.
inline constexpr int kMaxNesting = 100;

// A set of code points as sorted, disjoint, non-adjacent closed ranges.
class CodeSet {
  public:
    struct Range {
        char32_t first;
        char32_t last;
    };

    void add(char32_t first, char32_t last) { ranges_.push_back({first, last}); }
    void add(char32_t c) { add(c, c); }
    void add(const CodeSet& other) {
        ranges_.insert(ranges_.end(), other.ranges_.begin(), other.ranges_.end());
    }
    // Sorts and merges the ranges added so far; every reader below expects it.
    void normalize();
    // The code points from 0 to U+10FFFF not in this (normalized) set.
    CodeSet complement() const;
    bool contains(char32_t c) const;
    bool empty() const { return ranges_.empty(); }
    const std::vector<Range>& ranges() const { return ranges_; }

  private:
    std::vector<Range> ranges_;
};

// The sets the class escapes and '.' stand for.
CodeSet digit_set();  // \d: 0-9
CodeSet word_set();   // \w: A-Z a-z 0-9 _
CodeSet space_set();  // \s: white space and line terminators
CodeSet dot_set();    // .: everything but a line terminator
bool is_word_char(char32_t c);

enum class NodeKind : std::uint8_t {
    Empty,
    Set,          // one code point of `set`
    Concat,       // kids in order
    Alternation,  // one of kids
    Repeat,       // kids[0], from `min` to `max` times
    Group,        // kids[0]; a capturing group when `group` > 0
    LineStart,    // ^ (start of the text: no multiline mode)
    LineEnd,      // $ (end of the text)
    WordBoundary,
    NotWordBoundary,
    Look,  // lookahead or lookbehind of kids[0]
    BackReference,
};

inline constexpr std::uint32_t kUnbounded = UINT32_MAX;

struct Node {
    NodeKind kind = NodeKind::Empty;
    std::vector<std::uint32_t> kids;  // indices into Ast::nodes
    CodeSet set;
    std::uint32_t min = 0;
    std::uint32_t max = 0;  // kUnbounded for * + {n,}
    bool greedy = true;
    bool behind = false;   // Look: lookbehind
    bool negated = false;  // Look: (?! or (?<!
    std::uint32_t group =
        0;  // Group: its number (0 for a non-capturing one); BackReference: the target
    // Group and Look: the capturing groups numbered inside, first .. last+1.
    std::uint32_t groups_begin = 0;
    std::uint32_t groups_end = 0;
};

struct Ast {
    std::vector<Node> nodes;
    std::uint32_t root = 0;
    std::uint32_t group_count = 0;  // capturing groups, numbered 1..group_count
    bool has_back_references = false;
};

// Parses a UTF-8 pattern. Errors name what is wrong and the offset, in code
// points from the start of the pattern, where it was found.
Result<Ast> parse_pattern(std::string_view pattern);

}  // namespace quarvel::ecma_regex_detail
