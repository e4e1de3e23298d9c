// YAML 1.1 scalar rules: the wider boolean words, underscores in numbers,
// binary, octal with a leading 0 and base 60 (sexagesimal) numbers.
#include <string>

#include "resolver/resolver.hpp"
#include "resolver/syntax.hpp"

namespace quarvel {
namespace resolver_detail {
namespace {

bool any_of3(std::string_view text, std::string_view a, std::string_view b, std::string_view c) {
    return text == a || text == b || text == c;
}

// The boolean words of 1.1; the PyYAML-compatible mode does not take the
// one-letter forms y and n.
std::optional<bool> bool_word_11(ResolverMode mode, std::string_view text) {
    if (text.empty()) return std::nullopt;
    switch (text[0]) {
        case 'y':
        case 'Y':
            if (text.size() == 1) {
                if (mode == ResolverMode::Yaml11) return true;
                return std::nullopt;
            }
            if (any_of3(text, "yes", "Yes", "YES")) return true;
            return std::nullopt;
        case 'n':
        case 'N':
            if (text.size() == 1) {
                if (mode == ResolverMode::Yaml11) return false;
                return std::nullopt;
            }
            if (any_of3(text, "no", "No", "NO")) return false;
            return std::nullopt;
        case 'o':
        case 'O':
            if (any_of3(text, "on", "On", "ON")) return true;
            if (any_of3(text, "off", "Off", "OFF")) return false;
            return std::nullopt;
        case 't':
        case 'T':
            if (any_of3(text, "true", "True", "TRUE")) return true;
            return std::nullopt;
        case 'f':
        case 'F':
            if (any_of3(text, "false", "False", "FALSE")) return false;
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

std::size_t next_non_underscore(std::string_view s, std::size_t i) {
    while (i < s.size() && s[i] == '_') ++i;
    return i;
}

// value = value * 60 + part, left to right; every part after the first is
// at most 59. `text` has no sign.
bool parse_base60_int(std::string_view text, std::uint64_t& magnitude) {
    magnitude = 0;
    bool first = true;
    while (true) {
        std::size_t colon = text.find(':');
        std::string_view part = text.substr(0, colon);
        std::uint64_t value = 0;
        if (!accumulate_digits(part, 10, true, value)) return false;
        if (!first && value > 59) return false;
        if (magnitude > (kInt64Max - value) / 60) return false;
        magnitude = magnitude * 60 + value;
        first = false;
        if (colon == std::string_view::npos) return true;
        text.remove_prefix(colon + 1);
    }
}

// Same construction for floats; the parts are unsigned decimal floats.
bool parse_base60_float(std::string_view text, double& out) {
    bool negative = false;
    if (!text.empty() && is_sign(text[0])) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    double value = 0.0;
    while (true) {
        std::size_t colon = text.find(':');
        std::string_view part = text.substr(0, colon);
        double part_value = 0.0;
        if (part.empty() || is_sign(part[0]) || !parse_decimal_float(part, part_value)) return false;
        value = value * 60.0 + part_value;
        if (colon == std::string_view::npos) break;
        text.remove_prefix(colon + 1);
    }
    out = negative ? -value : value;
    return true;
}

// Copies `text` without underscores into `small`, or into `large` when it
// does not fit; returns a view of the result (the text itself when it has none).
std::string_view without_underscores(std::string_view text, char (&small)[128], std::string& large) {
    if (text.find('_') == std::string_view::npos) return text;
    char* out = small;
    if (text.size() > sizeof small) {
        large.resize(text.size());
        out = large.data();
    }
    std::size_t n = 0;
    for (char c : text) {
        if (c != '_') out[n++] = c;
    }
    return {out, n};
}

}  // namespace

bool parse_float_11(std::string_view text, bool require_mark, double& out) {
    if (auto special = match_inf_nan(text)) {
        out = *special;
        return true;
    }
    char small[128];
    std::string large;
    std::string_view s = without_underscores(text, small, large);
    if (require_mark && !has_float_mark(s)) return false;
    if (s.find(':') != std::string_view::npos && s.find('.') != std::string_view::npos) {
        return parse_base60_float(s, out);
    }
    return parse_decimal_float(s, out);
}

Resolved resolve_11(ResolverMode mode, std::string_view text, bool plain, std::string_view tag) {
    if (!tag.empty()) {
        std::string_view name = core_tag_name(tag);
        if (name == "int") {
            std::int64_t value = 0;
            if (parse_int_11(text, value)) return make_int(value);
            if (is_decimal_integer(text, true)) return make_big_int();
            return make_int(0);
        }
        if (name == "null") return make_null();
        if (name == "bool") return make_bool(bool_word_11(mode, text).value_or(false));
        if (name == "float") {
            double value = 0.0;
            return make_float(parse_float_11(text, false, value) ? value : 0.0);
        }
        if (name == "merge") return make_merge();
        return make_str();
    }
    if (!plain) return make_str();
    if (text.empty()) return make_null();

    switch (text[0]) {
        case '~':
            return text.size() == 1 ? make_null() : make_str();
        case '<':
            return text == "<<" ? make_merge() : make_str();
        case 'n':
        case 'N':
            if (any_of3(text, "null", "Null", "NULL")) return make_null();
            [[fallthrough]];
        case 'y':
        case 'Y':
        case 'o':
        case 'O':
        case 't':
        case 'T':
        case 'f':
        case 'F':
            if (auto b = bool_word_11(mode, text)) return make_bool(*b);
            return make_str();
        case '+':
        case '-':
        case '.':
        case '_':
            break;
        default:
            if (!is_digit(text[0])) return make_str();
    }

    std::int64_t value = 0;
    if (parse_int_11(text, value)) return make_int(value);
    if (is_decimal_integer(text, true)) return make_big_int();
    double real = 0.0;
    if (parse_float_11(text, true, real)) return make_float(real);
    return make_str();
}

}  // namespace resolver_detail

using namespace resolver_detail;

bool parse_int_11(std::string_view text, std::int64_t& out) {
    bool negative = false;
    if (!text.empty() && is_sign(text[0])) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    std::size_t first = next_non_underscore(text, 0);
    if (first == text.size()) return false;  // a sign alone, or only underscores

    std::uint64_t magnitude = 0;
    if (text.find(':') != std::string_view::npos) {
        if (!parse_base60_int(text, magnitude)) return false;
    } else if (text[first] == '0') {
        std::size_t second = next_non_underscore(text, first + 1);
        if (second == text.size()) {
            magnitude = 0;
        } else {
            char p = text[second];
            std::string_view rest = text.substr(second + 1);
            bool ok;
            if (p == 'x' || p == 'X') {
                ok = accumulate_digits(rest, 16, true, magnitude);
            } else if (p == 'b' || p == 'B') {
                ok = accumulate_digits(rest, 2, true, magnitude);
            } else {
                // 1.1 reads a leading 0 as octal: "010" is 8, "09" is no integer.
                ok = accumulate_digits(text.substr(second), 8, true, magnitude);
            }
            if (!ok) return false;
        }
    } else if (!accumulate_digits(text, 10, true, magnitude)) {
        return false;
    }
    out = apply_sign(magnitude, negative);
    return true;
}

}  // namespace quarvel
