// Pattern and text -> the regular-expression engine. The input is the
// pattern, a zero byte, and the text. Whatever the bytes, compiling and
// searching must return (an answer or an error); and:
// - a compiled pattern searched twice answers the same;
// - the pattern with a back reference added that matches nothing, which
//   moves it from the linear simulation to the backtracking matcher,
//   answers the same (unless the backtracker stopped at its step limit);
// - the pattern with an empty lookahead added, which keeps it on the
//   simulation (an automaton answers ASCII texts of patterns without
//   lookarounds), answers the same;
// - a pattern of the pattern bytes read as literal characters (syntax
//   characters escaped) is found in valid UTF-8 text exactly where
//   std::string_view::find finds those bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "support/ecma_regex.hpp"
#include "support/utf8.hpp"

namespace {

void check(bool ok, const char* what, std::string_view pattern, std::string_view text) {
    if (ok) return;
    std::fprintf(stderr, "regex: %s\n--- pattern\n%.*s\n--- text\n%.*s\n---\n", what,
                 static_cast<int>(pattern.size()), pattern.data(), static_cast<int>(text.size()),
                 text.data());
    std::abort();
}

// "1", "0" or the error's message.
std::string answer(const quarvel::EcmaRegex& re, std::string_view text) {
    auto found = re.search(text);
    if (!found) return "error: " + found.error().message;
    return *found ? "1" : "0";
}

bool is_step_limit(const std::string& a) {
    return a.find("step limit") != std::string::npos;
}

void literal_property(std::string_view bytes, std::string_view text) {
    if (bytes.empty() || quarvel::utf8::validate(bytes) || quarvel::utf8::validate(text)) return;
    std::string pattern;
    for (char c : bytes) {
        if (std::string_view("^$\\.*+?()[]{}|/").find(c) != std::string_view::npos) pattern += '\\';
        pattern += c;
    }
    auto re = quarvel::EcmaRegex::compile(pattern);
    check(re.has_value(), "a literal pattern does not compile", pattern, text);
    const bool expected = text.find(bytes) != std::string_view::npos;
    check(answer(*re, text) == (expected ? "1" : "0"), "a literal is not found where find finds it",
          pattern, text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    const std::size_t cut = input.find('\0');
    const std::string_view pattern = input.substr(0, cut);
    const std::string_view text = cut == std::string_view::npos ? "" : input.substr(cut + 1);
    // Long inputs only slow the search down (it is linear in the text and in
    // the program), without reaching new code.
    if (pattern.size() > 400 || text.size() > 2000) return 0;

    literal_property(pattern, text);
    auto re = quarvel::EcmaRegex::compile(pattern);
    if (!re) {
        check(!re.error().message.empty(), "an error without a message", pattern, text);
        return 0;
    }
    const std::string first = answer(*re, text);
    check(answer(*re, text) == first, "two searches answer differently", pattern, text);

    const std::string simulated = "(?:" + std::string(pattern) + ")(?=)";
    if (auto looked = quarvel::EcmaRegex::compile(simulated)) {
        const std::string second = answer(*looked, text);
        check(second == first || second.starts_with("error") || first.starts_with("error"),
              "the simulation answers otherwise than the automaton", pattern, text);
    }

    const std::string forced = "(?:" + std::string(pattern) + ")(?<fuzzEmpty>)\\k<fuzzEmpty>";
    if (auto backtracked = quarvel::EcmaRegex::compile(forced)) {
        const std::string second = answer(*backtracked, text);
        check(second == first || is_step_limit(second) || is_step_limit(first),
              "the backtracking matcher answers otherwise", pattern, text);
    }
    return 0;
}
