#include "scanner/prologue.hpp"

#include <charconv>

namespace quarvel {
namespace {

bool is_space(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

std::string_view trim(std::string_view s) {
    while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
    while (!s.empty() && is_space(s.back())) s.remove_suffix(1);
    return s;
}

std::string_view next_word(std::string_view& s) {
    while (!s.empty() && is_space(s.front())) s.remove_prefix(1);
    std::size_t n = 0;
    while (n < s.size() && !is_space(s[n])) ++n;
    std::string_view w = s.substr(0, n);
    s.remove_prefix(n);
    return w;
}

std::optional<std::uint32_t> parse_u32(std::string_view s) {
    if (!s.empty() && s.front() == '+') s.remove_prefix(1);
    if (s.empty()) return std::nullopt;
    std::uint32_t v = 0;
    auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc() || p != s.data() + s.size()) return std::nullopt;
    return v;
}

}  // namespace

std::optional<YamlVersion> sniff_version(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    while (!text.empty()) {
        std::size_t nl = text.find('\n');
        std::string_view line = text.substr(0, nl);
        text = nl == std::string_view::npos ? std::string_view{} : text.substr(nl + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        line = trim(line);
        if (line.empty() || line.front() == '#') continue;
        if (line.front() != '%') return std::nullopt;
        std::string_view rest = line.substr(1);
        if (next_word(rest) != "YAML") continue;
        std::string_view version = next_word(rest);
        if (version.empty() || version.front() == '#') continue;
        std::size_t dot = version.find('.');
        if (dot == std::string_view::npos) return std::nullopt;
        auto major = parse_u32(version.substr(0, dot));
        auto minor = parse_u32(version.substr(dot + 1));
        if (!major || !minor) return std::nullopt;
        return YamlVersion{*major, *minor};
    }
    return std::nullopt;
}

}  // namespace quarvel
