#include "parser/directives.hpp"

#include <array>
#include <string>
#include <string_view>

namespace quarvel {
namespace {

// A line break separates words too: the writer passes whole source lines,
// the parser a token's text, and both must find the same words.
inline bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// The first few whitespace-separated words of a directive line.
struct Words {
    std::array<std::string_view, 4> word;
    std::size_t count = 0;
};

Words split_words(std::string_view line) {
    Words w;
    std::size_t i = 0;
    while (w.count < w.word.size()) {
        while (i < line.size() && is_blank(line[i])) ++i;
        if (i >= line.size()) break;
        std::size_t start = i;
        while (i < line.size() && !is_blank(line[i])) ++i;
        w.word[w.count++] = line.substr(start, i - start);
    }
    return w;
}

bool is_digits(std::string_view s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

bool is_version_number(std::string_view s) {
    std::size_t dot = s.find('.');
    return dot != std::string_view::npos && is_digits(s.substr(0, dot)) &&
           is_digits(s.substr(dot + 1));
}

bool valid_yaml_directive(const Words& w) {
    if (w.count < 2 || w.word[1].starts_with('#') || !is_version_number(w.word[1])) return false;
    return w.count < 3 || w.word[2].starts_with('#');
}

}  // namespace

std::optional<std::string_view> tag_directive_handle(std::string_view directive) {
    const Words w = split_words(directive);
    if (w.count < 3 || w.word[0] != "TAG") return std::nullopt;
    const std::string_view handle = w.word[1];
    if (handle.front() != '!' || handle.back() != '!') return std::nullopt;
    return handle;
}

std::optional<Error> apply_directive(const Token& token, DirectiveRun& run, TagHandles& handles) {
    Words w = split_words(token.text);
    if (w.count == 0) return std::nullopt;
    if (w.word[0] == "YAML") {
        if (!valid_yaml_directive(w)) return syntax_error("invalid %YAML directive", token.mark);
        if (run.seen_yaml) return syntax_error("duplicate %YAML directive", token.mark);
        run.seen_yaml = true;
        return std::nullopt;
    }
    if (w.word[0] == "TAG") {
        const auto handle = tag_directive_handle(token.text);
        if (!handle) return std::nullopt;
        if (!handles.define(*handle, w.word[2]))
            return syntax_error(
                "duplicate %TAG directive for handle '" + std::string(*handle) + "'", token.mark);
    }
    return std::nullopt;
}

}  // namespace quarvel
