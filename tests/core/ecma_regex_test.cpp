// Regular expressions of schema patterns: what each construct matches, which
// patterns are refused and with what message, the bounds on size, depth and
// time, malformed text, and searches from several threads at once.
//
// With --lines it is also the driver of test_ecma_regex_differential.py: it
// reads lines of "PATTERN TEXT" (each in hexadecimal) and prints 1 or 0 for
// a search, or "error: ..." when compiling or searching fails.
#include "support/ecma_regex.hpp"

#include <pthread.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "check.hpp"

namespace {

using quarvel::EcmaRegex;

// 1 or 0 for a search, "error: MESSAGE" when the pattern is refused or the
// search stopped.
std::string outcome(std::string_view pattern, std::string_view text) {
    auto re = EcmaRegex::compile(pattern);
    if (!re) return "error: " + re.error().message;
    auto found = re->search(text);
    if (!found) return "error: " + found.error().message;
    return *found ? "1" : "0";
}

struct SearchCase {
    const char* pattern;
    std::string_view text;
    bool found;
};

// clang-format off
const SearchCase kSearches[] = {
    // Searched, not anchored, unless ^ or $ says so; ^ and $ only at the ends
    // of the whole text, never at a line break.
    {"a+", "xxaxx", true},
    // Anchors as the automaton for ASCII text decides them: "^" only at the
    // start, "$" only at the end, both on the empty text, chained.
    {"$", "abc", true},
    {"^", "abc", true},
    {"$$", "", true},
    {"^^a$$", "a", true},
    {"a$b", "ab", false},
    {"(?:$|a)b", "xab", true},
    {"(?:$|a)b", "xb", false},
    {"^(?:a|$)$", "", true},
    {"x|^$", "", true},
    {"b^", "ab", false},
    {"^[a-z][a-z0-9-]*$", "web-01", true},
    {"^[a-z][a-z0-9-]*$", "web_01", false},
    {"^[0-9]+(/(tcp|udp))?$", "8080/udp", true},
    {"^[0-9]+(/(tcp|udp))?$", "8080/ud", false},
    {"[^a]", "aaa\u00e9", true},
    {"^a*$", "aaa", true},
    {"^a*$", "aab", false},
    {"^a*$", "", true},
    {"^abc$", "abc\n", false},
    {"^abc", "x\nabc", false},
    {"abc$", "abc\nx", false},
    {"f.*o", "xfoo", true},
    {"[0-9]{2,}", "a1b", false},
    {"[0-9]{2,}", "a12", true},
    {"^.*bar$", "foobar", true},
    {"a|^b", "cb", false},
    // Quantifiers, greedy and lazy.
    {"^a{3}$", "aaa", true},
    {"^a{3}$", "aaaa", false},
    {"^a{2,3}$", "aaaa", false},
    {"^a{2,}$", "aaaaaaa", true},
    {"^(?:ab){0,2}$", "ababab", false},
    {"^a{0}b$", "b", true},
    {"^a+?b$", "aaab", true},
    {"^a{2,3}?$", "aa", true},
    {"^(?:a|bc)*?d$", "abcad", true},
    {"^(?:)*$", "", true},
    {"^(?:a*)*b$", "aab", true},
    {"^(?:a?){3}b$", "ab", true},
    // Alternation and groups.
    {"^(?:cat|dog)s?$", "dogs", true},
    {"^(cat|dog)s?$", "cow", false},
    {"^(?<animal>cat|dog)$", "cat", true},
    {"^(|a)b$", "b", true},
    // '.' is any code point but a line terminator (LF, CR, U+2028, U+2029).
    {"^.$", "\xF0\x9F\x98\x80", true},
    {"^..$", "\xF0\x9F\x98\x80", false},
    {"^.$", "\n", false},
    {"^.$", "\r", false},
    {"^.$", "\xE2\x80\xA8", false},
    {"^.$", "\xE2\x80\xA9", false},
    {"^.$", "\x0B", true},
    {"^.$", "\xC2\x85", true},
    // Classes.
    {"^[abc]+$", "cab", true},
    {"^[^abc]$", "d", true},
    {"^[^abc]$", "a", false},
    {"^[^a]$", "\xF0\x9F\x98\x80", true},
    {"^[a-c-]+$", "a-c", true},
    {"^[-a]$", "-", true},
    {"^[\\d-]+$", "1-2", true},
    {"^[\\w.]+$", "a.b_c", true},
    {"^[\\b]$", "\b", true},
    {"^[\\-]$", "-", true},
    {"^[]$", "", false},
    {"[]", "a", false},
    {"^[^]$", "\n", true},
    {"^[[]$", "[", true},
    {"^[\\]]$", "]", true},
    {"^[\\u{1F600}-\\u{1F64F}]$", "\xF0\x9F\x98\x83", true},
    {"^[\\uD83D\\uDE00]$", "\xF0\x9F\x98\x80", true},
    {"^[\\p{Lu}\\d]+$", "A1\xC3\x89", true},
    {"^[^\\P{Ll}]+$", "ab\xC3\xA9", true},
    {"^[^\\P{Ll}]+$", "aB", false},
    // \d and \w are ASCII only; \s is white space and line terminators.
    {"^\\d+$", "0123456789", true},
    {"\\d", "\xDF\x80", false},                 // U+07C0 NKO DIGIT ZERO
    {"\\D", "\xDF\x80", true},
    {"\\d", "\xD9\xA3", false},                 // U+0663 ARABIC-INDIC DIGIT THREE
    {"^\\w+$", "aZ0_", true},
    {"\\w", "\xC3\xA9", false},                 // é
    {"^\\W$", "\xC3\xA9", true},
    {"\\wcole", "\xC3\xA9" "cole", false},
    {"^\\s$", "\t", true},
    {"^\\s$", "\x0B", true},
    {"^\\s$", "\x0C", true},
    {"^\\s$", " ", true},
    {"^\\s$", "\xC2\xA0", true},                // U+00A0
    {"^\\s$", "\xEF\xBB\xBF", true},            // U+FEFF
    {"^\\s$", "\xE2\x80\x83", true},            // U+2003, a Zs
    {"^\\s$", "\xE3\x80\x80", true},            // U+3000, a Zs
    {"^\\s$", "\xE2\x80\xA9", true},            // U+2029
    {"^\\s$", "\n", true},
    {"^\\s$", "\xE2\x80\x8B", false},           // U+200B is a format character
    {"^\\s$", "\xC2\x85", false},               // U+0085 is not white space here
    {"^\\S$", "\xC2\xA0", false},
    {"^\\S$", "\xE2\x80\x8B", true},
    // Character escapes.
    {"^\\t\\n\\v\\f\\r$", "\t\n\x0B\x0C\r", true},
    {"^\\0$", std::string_view("\0", 1), true},
    {"^\\cC$", "\x03", true},
    {"^\\cc$", "\x03", true},
    {"^\\cJ$", "\n", true},
    {"^\\x41\\x7a$", "Az", true},
    {"^\\u00e9$", "\xC3\xA9", true},
    {"^\\u{1F600}$", "\xF0\x9F\x98\x80", true},
    {"^\\u{0000000041}$", "A", true},
    {"^\\uD83D\\uDE00$", "\xF0\x9F\x98\x80", true},
    {"^\\^\\$\\\\\\.\\*\\+\\?\\(\\)\\[\\]\\{\\}\\|\\/$", "^$\\.*+?()[]{}|/", true},
    // Unicode property escapes, by short and long names.
    {"^\\p{L}+$", "\xC3\xA9" "cole", true},
    {"^\\p{Letter}cole$", "\xC3\xA9" "cole", true},
    {"^\\p{Lu}$", "\xC3\x89", true},
    {"^\\p{Lu}$", "\xC3\xA9", false},
    {"^\\p{Uppercase_Letter}$", "A", true},
    {"^\\p{General_Category=Lu}$", "A", true},
    {"^\\p{gc=Ll}$", "a", true},
    {"^\\p{Nd}+$", "4\xE0\xA5\xA8", true},     // 4 and DEVANAGARI DIGIT TWO
    {"^\\p{digit}+$", "\xD9\xA3", true},
    {"^\\P{Nd}$", "x", true},
    {"^\\P{Nd}$", "7", false},
    {"^\\p{N}$", "\xC2\xBD", true},            // ½ is No
    {"^\\p{P}+$", "!?", true},
    {"^\\p{Sc}$", "\xE2\x82\xAC", true},       // €
    {"^\\p{Zs}$", "\xC2\xA0", true},
    {"^\\p{Cc}$", "\x01", true},
    {"^\\p{Co}$", "\xEE\x80\x80", true},       // U+E000
    {"^\\p{Cn}$", "\xF4\x8F\xBF\xBF", true},   // U+10FFFF
    {"^\\p{Assigned}$", "\xF4\x8F\xBF\xBF", false},
    {"^\\p{Any}$", "\xF4\x8F\xBF\xBF", true},
    {"^\\p{ASCII}+$", "a~", true},
    {"^\\p{ASCII}$", "\xC3\xA9", false},
    {"^\\p{LC}$", "\xC7\x85", true},           // ǅ is Lt
    {"^\\p{M}$", "\xCC\x81", true},            // combining acute
    // Word boundaries: ASCII word characters only.
    {"\\bfoo\\b", "a foo b", true},
    {"\\bfoo\\b", "afoo", false},
    {"\\Bfoo", "afoo", true},
    {"\\b", "", false},
    {"\\B", "", true},
    {"\\b\xC3\xA9", " \xC3\xA9", false},
    {"^\\b$", "", false},
    // Lookahead and lookbehind.
    {"^(?=.*\\d)(?=.*[a-z]).{8,}$", "abcdefg1", true},
    {"^(?=.*\\d)(?=.*[a-z]).{8,}$", "abcdefgh", false},
    {"^(?!.*foo).*$", "xxfoxx", true},
    {"^(?!.*foo).*$", "xxfooxx", false},
    {"foo(?=bar)", "foobaz foobar", true},
    {"foo(?!bar)", "foobar", false},
    {"(?<=\\$)\\d+", "cost $42", true},
    {"(?<=\\$)\\d+", "cost 42", false},
    {"(?<!\\$)\\b\\d+", "$42", false},
    {"(?<!^)x", "x", false},
    {"(?<=^\\w+)x", "abcx", true},
    {"(?<=\\bfoo)bar", "foobar", true},
    {"(?<=\xC3\xA9)x", "\xC3\xA9x", true},
    {"(?<=(?<=a)b)c", "abc", true},
    {"(?<=(?<=x)b)c", "abc", false},
    {"(?<=(?=ab)a)b", "ab", true},
    {"(?=(?<=a))b", "ab", true},
    {"(?=(?<=a))a", "ab", false},
    {"^(?:(?=a)\\w)+$", "aaa", true},
    {"^(?:(?=a)\\w)+$", "aab", false},
    {"(?<=a{3})b", "aab", false},
    {"(?<=a{3})b", "aaab", true},
    // Back references, with the rules of this language: a group that has not
    // matched (or was reset by a new iteration) matches the empty string,
    // and a lookbehind matches right to left.
    {"^(a+)b\\1$", "aabaa", true},
    {"^(a+)b\\1$", "aaba", false},
    {"^(?<q>['\"]).*\\k<q>$", "'x'", true},
    {"^(?<q>['\"]).*\\k<q>$", "'x\"", false},
    {"\\k<q>(?<q>a)", "a", true},
    {"(a)|b\\1", "b", true},
    {"^\\1(a)$", "a", true},
    {"^(?:(a)|b)+\\1$", "ab", true},
    {"^(?=(a))\\1b$", "ab", true},
    {"^(?!(a))\\1b$", "b", true},
    {"(?<=\\1(a))b", "ab", false},
    {"(?<=\\1(a))b", "aab", true},
    {"^(\\w+)\\s\\1$", "hello hello", true},
    {"^(\\w+)\\s\\1$", "hello help", false},
    {"^(a*)*$", "aaa", true},
    {"^(a|ab)(c|bcd)(d*)\\3$", "abcd", true},
    {"^(?:(a)|b)\\1c$", "bc", true},
    {"(?<=(\\d+)(\\d+))$", "1053", true},
};
// clang-format on

struct BadPattern {
    const char* pattern;
    const char* message;
};

// clang-format off
const BadPattern kBadPatterns[] = {
    {"[", "unterminated character class at offset 0"},
    {"ab[cd", "unterminated character class at offset 2"},
    {"(", "unterminated group at offset 0"},
    {"a(b(c)", "unterminated group at offset 1"},
    {"(?:a", "unterminated group at offset 0"},
    {"(?=a", "unterminated group at offset 0"},
    {"a)", "unmatched ')' at offset 1"},
    {")", "unmatched ')' at offset 0"},
    {"{", "'{' must be escaped as '\\{' at offset 0"},
    {"a{", "'{' must be escaped as '\\{' at offset 1"},
    {"a{1", "'{' must be escaped as '\\{' at offset 1"},
    {"a{,5}", "'{' must be escaped as '\\{' at offset 1"},
    {"a{x}", "'{' must be escaped as '\\{' at offset 1"},
    {"}", "'}' must be escaped as '\\}' at offset 0"},
    {"]", "']' must be escaped as '\\]' at offset 0"},
    {"*a", "nothing to repeat at offset 0"},
    {"a|*", "nothing to repeat at offset 2"},
    {"a**", "nothing to repeat at offset 2"},
    {"a{1}{2}", "nothing to repeat at offset 4"},
    {"(*)", "nothing to repeat at offset 1"},
    {"{1}", "nothing to repeat at offset 0"},
    {"^*", "nothing to repeat at offset 1"},
    {"$+", "nothing to repeat at offset 1"},
    {"\\b*", "nothing to repeat at offset 2"},
    {"(?=a)*", "nothing to repeat at offset 5"},
    {"(?<=a)?", "nothing to repeat at offset 6"},
    {"(?!a){2}", "nothing to repeat at offset 5"},
    {"a{2,1}", "numbers out of order in quantifier at offset 1"},
    {"[b-a]", "range out of order in character class at offset 1"},
    {"[\\d-z]", "a class escape cannot bound a range at offset 1"},
    {"[a-\\w]", "a class escape cannot bound a range at offset 1"},
    {"\\", "'\\' at end of pattern at offset 0"},
    {"\\a", "invalid escape '\\a' at offset 0"},
    {"\\Z", "invalid escape '\\Z' at offset 0"},
    {"\\-", "invalid escape '\\-' at offset 0"},
    {"\\e", "invalid escape '\\e' at offset 0"},
    {"\\c", "'\\c' must be followed by a letter at offset 0"},
    {"\\c1", "'\\c' must be followed by a letter at offset 0"},
    {"[\\c_]", "'\\c' must be followed by a letter at offset 1"},
    {"\\x4", "'\\x' must be followed by two hexadecimal digits at offset 0"},
    {"\\u12", "invalid '\\u' escape at offset 0"},
    {"\\u{110000}", "invalid '\\u' escape at offset 0"},
    {"\\u{}", "invalid '\\u' escape at offset 0"},
    {"\\u{12", "invalid '\\u' escape at offset 0"},
    {"\\00", "invalid escape: '\\0' may not be followed by a digit at offset 0"},
    {"\\01", "invalid escape: '\\0' may not be followed by a digit at offset 0"},
    {"[\\1]", "invalid escape in character class at offset 1"},
    {"[\\B]", "invalid escape '\\B' at offset 1"},
    {"\\1", "back reference to group 1, but the pattern has 0 group(s) at offset 0"},
    {"(a)\\2", "back reference to group 2, but the pattern has 1 group(s) at offset 3"},
    {"(a)\\10", "back reference to group 10, but the pattern has 1 group(s) at offset 3"},
    {"\\k<a>", "back reference to an undefined group name at offset 0"},
    {"\\k", "'\\k' must be followed by '<name>' at offset 0"},
    {"(?<a>x)\\k", "'\\k' must be followed by '<name>' at offset 7"},
    {"(?<a>x)(?<a>y)", "duplicate group name at offset 7"},
    {"(?<>x)", "empty group name at offset 2"},
    {"(?<1a>x)", "invalid character in group name at offset 3"},
    {"(?<a", "unterminated group name at offset 2"},
    {"(?i:a)", "invalid group: '(?' must be followed by ':', '=', '!', '<=', '<!' or '<name>' at offset 0"},
    {"(?", "invalid group"},
    {"\\p", "'\\p' and '\\P' must be followed by '{property}' at offset 0"},
    {"\\p{L", "unterminated Unicode property escape at offset 0"},
    {"\\p{Foo}", "unknown or unsupported Unicode property at offset 0"},
    {"\\p{lu}", "unknown or unsupported Unicode property at offset 0"},
    {"\\p{gc=Foo}", "unknown General_Category value at offset 0"},
    {"\\p{Script=Greek}", "Unicode script properties are not supported at offset 0"},
    {"\\p{scx=Latn}", "Unicode script properties are not supported at offset 0"},
    {"\\p{Foo=Bar}", "unknown Unicode property at offset 0"},
    {"\\p{L-u}", "invalid character in Unicode property name at offset 4"},
    {"\xC3\xA9[", "unterminated character class at offset 1"},  // offsets count code points
    {"a\xFF", "pattern is not valid UTF-8 at byte 1"},
    {"\xED\xA0\x80", "pattern is not valid UTF-8 at byte 0"},  // an encoded surrogate
};
// clang-format on

void searches() {
    for (const SearchCase& c : kSearches) {
        quarvel::check::Case name(std::string(c.pattern) + " / " + std::string(c.text));
        CHECK_EQ(outcome(c.pattern, c.text), c.found ? "1" : "0");
    }
}

void bad_patterns() {
    for (const BadPattern& c : kBadPatterns) {
        quarvel::check::Case name(c.pattern);
        auto re = EcmaRegex::compile(c.pattern);
        if (!CHECK(!re)) continue;
        CHECK(re.error().family == quarvel::ErrorFamily::Argument);
        CHECK(re.error().message.find(c.message) != std::string::npos) ||
            std::printf("  message: %s\n", re.error().message.c_str());
    }
}

// Nesting, program size and counts at and past their bounds; what the
// backtracking matcher does past its step limit; and texts against which a
// backtracking engine would take exponential time, which must not.
void bounds() {
    std::string deep;
    for (int i = 0; i < 100; ++i) deep += "(?:";
    deep += "a";
    for (int i = 0; i < 100; ++i) deep += ")";
    CHECK_EQ(outcome(deep, "a"), "1");
    CHECK_EQ(outcome("(" + deep + ")", "a"),
             "error: pattern nests too deeply (more than 100 levels of groups) at offset 298");
    CHECK_EQ(outcome(std::string(100000, '('), ""),
             "error: pattern nests too deeply (more than 100 levels of groups) at offset 100");
    std::string deep_looks;
    for (int i = 0; i < 100; ++i) deep_looks += i % 2 ? "(?<=" : "(?=";
    for (int i = 0; i < 100; ++i) deep_looks += ")";
    CHECK_EQ(outcome(deep_looks, "x"), "1");

    const std::string too_large =
        "error: pattern is too large: it would compile to more than 100000 instructions";
    CHECK_EQ(outcome("(a{1000}){1000}", "a"), too_large);
    CHECK_EQ(outcome("a{4294967295}", "a"), too_large);
    CHECK_EQ(outcome("a{99999999999999999999}", "a"), too_large);
    CHECK_EQ(outcome("a{0,4294967295}", "a"), too_large);
    CHECK_EQ(outcome("^a{1000}$", std::string(1000, 'a')), "1");
    CHECK_EQ(outcome("^a{1000}$", std::string(999, 'a')), "0");
    CHECK_EQ(outcome("(?:){4294967295}x", "x"), "1");  // an empty body repeats in no time
    CHECK_EQ(outcome("(?:a{0}){4294967295}x", "x"), "1");

    const std::string step_limit =
        "error: regular expression search exceeded its step limit (1000000 steps): the pattern "
        "backtracks too much on this text";
    CHECK_EQ(outcome("^(a|a)*\\1b", std::string(64, 'a')), step_limit);
    CHECK_EQ(outcome("(a*)*\\1b", std::string(2000, 'a')), step_limit);

    // A bit per lookaround and position, 32 MiB at most.
    std::string many_looks;
    for (int i = 0; i < 300; ++i) many_looks += "(?=a)";
    CHECK_EQ(outcome(many_looks, std::string(1 << 20, 'a')),
             "error: regular expression search would need too much memory: 300 lookarounds over "
             "a text of 1048576 bytes");
    CHECK_EQ(outcome(many_looks, std::string(1 << 10, 'a')), "1");

    // Exponential for a backtracking engine, linear here: each would run for
    // years if it backtracked.
    const std::string as(200000, 'a');
    const auto started = std::chrono::steady_clock::now();
    CHECK_EQ(outcome("(a*)*b", as), "0");
    CHECK_EQ(outcome("^(a|aa)+$", as + "b"), "0");
    CHECK_EQ(outcome("((a+)+)+c", as), "0");
    CHECK_EQ(outcome("(x+x+)+y", std::string(50000, 'x')), "0");
    CHECK_EQ(outcome("^(?!.*foo).*$", as), "1");
    CHECK_EQ(outcome("(?=a+b)", as), "0");
    CHECK_EQ(outcome("(?<=b.*)c", as), "0");
    CHECK_EQ(outcome("(?<!a*b)a*c", as), "0");
    const auto seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    CHECK(seconds < 20);  // well under a second in a release build
}

// Bytes that are not UTF-8 read as U+FFFD, one per byte, in every matcher
// and in both directions.
void malformed_text() {
    const std::string bad = "a\xFF\xC3(\xE2\x82z\xF0\x9F\x98";
    CHECK_EQ(outcome("^a.{2}\\(.{2}z.{3}$", bad), "1");
    CHECK_EQ(outcome("^a\\uFFFD\\uFFFD\\(", bad), "1");
    CHECK_EQ(outcome("(?<=\\uFFFD{3})$", bad), "1");
    CHECK_EQ(outcome("(?<=\\uFFFD{4})$", bad), "0");
    CHECK_EQ(outcome("(?<=^a\\uFFFD\\uFFFD)\\(", bad), "1");
    CHECK_EQ(outcome("^(.)\\1", "\xFF\xFF"), "1");
    // A back reference compares bytes: two different malformed bytes differ.
    CHECK_EQ(outcome("(?<=\\1(.))$", "\xFF\xFE"), "0");
    CHECK_EQ(outcome("(?<=\\1(.))$", "\xFE\xFE"), "1");
    CHECK_EQ(outcome("\\u00e9", "\xC3"), "0");
    CHECK_EQ(outcome("^.$", "\xED\xA0\x80"), "0");  // an encoded surrogate is three bytes
    CHECK_EQ(outcome("^...$", "\xED\xA0\x80"), "1");
    CHECK_EQ(outcome("^.$", "\xC0\x80"), "0");  // an overlong form is two
    for (int b = 0x80; b < 0x100; ++b) {
        const std::string text(1, static_cast<char>(b));
        CHECK_EQ(outcome("^\\uFFFD$", text), "1");
        CHECK_EQ(outcome("(?<=^\\uFFFD)$", text), "1");
    }
}

// A pattern of literal characters (syntax characters escaped) is found
// exactly where std::string::find finds its text, and a compiled pattern
// answers the same every time it is searched.
void literal_property() {
    std::mt19937 rng(7);
    const std::string alphabet = "ab.*(\\";
    for (int round = 0; round < 3000; ++round) {
        std::string literal, pattern, text;
        for (int i = std::uniform_int_distribution<int>(0, 3)(rng); i > 0; --i) {
            const char c = alphabet[rng() % alphabet.size()];
            literal += c;
            if (c == '.' || c == '*' || c == '(' || c == '\\') pattern += '\\';
            pattern += c;
        }
        for (int i = std::uniform_int_distribution<int>(0, 8)(rng); i > 0; --i)
            text += alphabet[rng() % alphabet.size()];
        quarvel::check::Case name(pattern + " / " + text);
        auto re = EcmaRegex::compile(pattern);
        if (!CHECK(re.has_value())) continue;
        const bool expected = text.find(literal) != std::string::npos;
        CHECK_EQ(*re->search(text), expected);
        CHECK_EQ(*re->search(text), expected);
    }
}

// One compiled expression of each matcher, searched from several threads.
void threads() {
    const char* patterns[] = {"^(?:[a-z]+\\d)+$", "(?<=x)(?!y)\\w", "^(\\w)\\w*\\1$"};
    for (const char* pattern : patterns) {
        quarvel::check::Case name(pattern);
        auto re = EcmaRegex::compile(pattern);
        if (!CHECK(re.has_value())) continue;
        std::vector<std::string> texts;
        std::vector<bool> expected;
        for (int i = 0; i < 64; ++i) {
            std::string text;
            for (int k = 0; k < 5 + i % 7; ++k) text += "abxy19"[(i * 7 + k * 3) % 6];
            texts.push_back(text);
            expected.push_back(*re->search(text));
        }
        std::atomic<int> mismatches{0};
        std::vector<std::thread> pool;
        for (int t = 0; t < 4; ++t) {
            pool.emplace_back([&] {
                for (int round = 0; round < 200; ++round)
                    for (std::size_t i = 0; i < texts.size(); ++i)
                        if (*re->search(texts[i]) != expected[i]) ++mismatches;
            });
        }
        for (auto& t : pool) t.join();
        CHECK_EQ(mismatches.load(), 0);
    }
}

// The deepest patterns each matcher takes, compiled and searched on a thread
// with a 96 KiB stack: the parser, the compiler and the backtracking
// matcher's lookaround recursion move to a new stack segment when the stack
// runs low.
void small_stack() {
    std::vector<std::pair<std::string, std::string>> cases;
    std::string groups, looks;
    for (int i = 0; i < 100; ++i) {
        groups += i % 2 ? "(y|" : "(?:x|";
        looks += i % 2 ? "(?<=y|" : "(?=x|";
    }
    groups += "a";
    looks += "a";
    for (int i = 0; i < 100; ++i) {
        groups += ")*";
        looks += ")";
    }
    for (const std::string& p : {groups, looks, looks + "()\\1"}) {
        std::string got;
        auto job = [&] { got = outcome(p, "baaab"); };
        pthread_attr_t attr;
        pthread_attr_init(&attr);
        pthread_attr_setstacksize(&attr, 96 * 1024);
        pthread_t thread;
        auto run = [](void* f) -> void* {
            (*static_cast<decltype(job)*>(f))();
            return nullptr;
        };
        if (!CHECK(pthread_create(&thread, &attr, run, &job) == 0)) continue;
        pthread_join(thread, nullptr);
        pthread_attr_destroy(&attr);
        quarvel::check::Case name(p.substr(0, 12));
        CHECK_EQ(got, "1");
    }
}

std::string unhex(std::string_view hex) {
    std::string out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<char>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return out;
}

int lines() {
    std::string line;
    while (std::getline(std::cin, line)) {
        const std::size_t space = line.find(' ');
        const std::string pattern = unhex(line.substr(0, space));
        const std::string text = space == std::string::npos ? "" : unhex(line.substr(space + 1));
        std::cout << outcome(pattern, text) << '\n';
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string_view(argv[1]) == "--lines") return lines();
    searches();
    bad_patterns();
    bounds();
    malformed_text();
    literal_property();
    threads();
    small_stack();
    return quarvel::check::finish("ecma_regex_test");
}
