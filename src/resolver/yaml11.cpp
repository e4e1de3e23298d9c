// YAML 1.1 scalar rules: the wider boolean words, underscores in numbers,
// binary, octal with a leading 0 and base 60 (sexagesimal) numbers. The
// number forms are those of the YAML 1.1 type definitions, which the Python
// loaders implement as regular expressions; they are matched here by hand.
#include <string>

#include "resolver/resolver.hpp"
#include "resolver/syntax.hpp"

namespace quarvel {
namespace resolver_detail {
namespace {

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
            if (is_one_of(text, "yes", "Yes", "YES")) return true;
            return std::nullopt;
        case 'n':
        case 'N':
            if (text.size() == 1) {
                if (mode == ResolverMode::Yaml11) return false;
                return std::nullopt;
            }
            if (is_one_of(text, "no", "No", "NO")) return false;
            return std::nullopt;
        case 'o':
        case 'O':
            if (is_one_of(text, "on", "On", "ON")) return true;
            if (is_one_of(text, "off", "Off", "OFF")) return false;
            return std::nullopt;
        case 't':
        case 'T':
            if (is_one_of(text, "true", "True", "TRUE")) return true;
            return std::nullopt;
        case 'f':
        case 'F':
            if (is_one_of(text, "false", "False", "FALSE")) return false;
            return std::nullopt;
        default:
            return std::nullopt;
    }
}

// Index just past a run of digits and underscores starting at i.
std::size_t skip_digit_run(std::string_view s, std::size_t i) {
    while (i < s.size() && (is_digit(s[i]) || s[i] == '_')) ++i;
    return i;
}

bool has_digit(std::string_view s) {
    for (char c : s) {
        if (is_digit(c)) return true;
    }
    return false;
}

// A base 60 part after the first: one or two digits, at most 59 ("5", "05", "59").
bool sexagesimal_part(std::string_view part, unsigned& value) {
    if (part.size() == 1 && is_digit(part[0])) {
        value = static_cast<unsigned>(part[0] - '0');
        return true;
    }
    if (part.size() == 2 && part[0] >= '0' && part[0] <= '5' && is_digit(part[1])) {
        value = static_cast<unsigned>((part[0] - '0') * 10 + (part[1] - '0'));
        return true;
    }
    return false;
}

// A magnitude that records passing INT64_MAX instead of failing, so that a
// well-formed number too large for 64 bits reads as a big integer.
struct Magnitude {
    std::uint64_t value = 0;
    bool overflow = false;

    void push(unsigned base, unsigned digit) {
        if (overflow || value > (kInt64Max - digit) / base) {
            overflow = true;
            return;
        }
        value = value * base + digit;
    }
};

// Digits of `base` and underscores; false on any other character. `digits`
// counts the digits seen.
bool push_digits(std::string_view text, unsigned base, Magnitude& m, std::size_t& digits) {
    for (char c : text) {
        if (c == '_') continue;
        unsigned d = digit_value(c);
        if (d >= base) return false;
        m.push(base, d);
        ++digits;
    }
    return true;
}

// The shape of a 1.1 float, decided before any value is computed:
//   [-+]? [0-9][0-9_]* \. [0-9_]* ([eE][-+][0-9]+)?          decimal
//   [-+]? \. [0-9_]* ([eE][-+][0-9]+)?  (a digit required)    decimal
//   [-+]? [0-9][0-9_]* (:[0-5]?[0-9])+ \. [0-9_]*             base 60
// The PyYAML-compatible mode takes no sign before a leading dot and wants a
// digit right after it, as that loader does ("-.5" and "._5" are strings).
enum class FloatShape : std::uint8_t { None, Decimal, Sexagesimal };

// True when s[i..] is empty or an exponent with a sign and digits.
bool exponent_or_end(std::string_view s, std::size_t i) {
    if (i == s.size()) return true;
    if (s[i] != 'e' && s[i] != 'E') return false;
    if (i + 1 == s.size() || !is_sign(s[i + 1])) return false;
    std::size_t j = i + 2;
    if (j == s.size()) return false;
    while (j < s.size() && is_digit(s[j])) ++j;
    return j == s.size();
}

FloatShape float_shape(ResolverMode mode, std::string_view s) {
    std::size_t i = 0;
    bool signed_text = !s.empty() && is_sign(s[0]);
    if (signed_text) ++i;
    if (i == s.size()) return FloatShape::None;
    if (s[i] == '.') {
        if (mode == ResolverMode::PyYaml &&
            (signed_text || i + 1 == s.size() || !is_digit(s[i + 1]))) {
            return FloatShape::None;
        }
        std::size_t end = skip_digit_run(s, i + 1);
        if (!has_digit(s.substr(i + 1, end - i - 1))) return FloatShape::None;
        return exponent_or_end(s, end) ? FloatShape::Decimal : FloatShape::None;
    }
    if (!is_digit(s[i])) return FloatShape::None;
    i = skip_digit_run(s, i + 1);
    if (i == s.size()) return FloatShape::None;
    if (s[i] == '.') {
        return exponent_or_end(s, skip_digit_run(s, i + 1)) ? FloatShape::Decimal
                                                            : FloatShape::None;
    }
    if (s[i] != ':') return FloatShape::None;
    while (i < s.size() && s[i] == ':') {
        std::size_t end = i + 1;
        while (end < s.size() && is_digit(s[end])) ++end;
        unsigned part = 0;
        if (!sexagesimal_part(s.substr(i + 1, end - i - 1), part)) return FloatShape::None;
        i = end;
    }
    if (i == s.size() || s[i] != '.') return FloatShape::None;
    return skip_digit_run(s, i + 1) == s.size() ? FloatShape::Sexagesimal : FloatShape::None;
}

// Copies `text` without underscores into `small`, or into `large` when it
// does not fit; returns a view of the result (the text itself when it has none).
std::string_view without_underscores(std::string_view text, char (&small)[128],
                                     std::string& large) {
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

// A decimal float once its underscores are gone.
bool decimal_without_underscores(std::string_view text, double& out) {
    char small[128];
    std::string large;
    return parse_decimal_float(without_underscores(text, small, large), out);
}

// The value of a text of the base 60 float shape. The parts are added from
// the last one up, each times its power of 60, which is the order the Python
// loaders use: the result agrees with theirs to the last bit (while the
// powers of 60 are exact doubles, up to 60^13).
double sexagesimal_float(std::string_view text) {
    bool negative = false;
    if (is_sign(text[0])) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    std::size_t colon = text.rfind(':');
    double value = 0.0;
    decimal_without_underscores(text.substr(colon + 1), value);
    double weight = 1.0;
    while (colon != std::string_view::npos) {
        text = text.substr(0, colon);
        colon = text.rfind(':');
        double part = 0.0;
        decimal_without_underscores(text.substr(colon + 1), part);
        weight *= 60.0;
        value += part * weight;
    }
    return negative ? -value : value;
}

// The 1.1 integer forms, after an optional sign:
//   0b[01_]+  0x[0-9a-fA-F_]+  0[0-7_]*  [1-9][0-9_]*  [1-9][0-9_]*(:[0-5]?[0-9])+
// Prefixes are lower case; a '_' may follow the first digit but never lead.
// Sets `out` to an int, or a big int past 64 bits; false for any other text.
bool read_int_11(std::string_view text, Resolved& out) {
    bool negative = false;
    if (!text.empty() && is_sign(text[0])) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || !is_digit(text[0])) return false;
    Magnitude m;
    std::size_t digits = 0;
    if (text[0] == '0') {
        bool ok;
        if (text.size() > 1 && (text[1] == 'x' || text[1] == 'b')) {
            ok = push_digits(text.substr(2), text[1] == 'x' ? 16 : 2, m, digits) && digits > 0;
        } else {
            // 1.1 reads a leading 0 as octal: "010" is 8, "09" is no integer.
            ok = push_digits(text.substr(1), 8, m, digits);
        }
        if (!ok) return false;
    } else {
        std::size_t colon = text.find(':');
        if (!push_digits(text.substr(0, colon), 10, m, digits)) return false;
        while (colon != std::string_view::npos) {
            text.remove_prefix(colon + 1);
            colon = text.find(':');
            unsigned part = 0;
            if (!sexagesimal_part(text.substr(0, colon), part)) return false;
            m.push(60, part);
        }
    }
    out = m.overflow ? make_big_int() : make_int(apply_sign(m.value, negative));
    return true;
}

// An untagged scalar must have one of the float shapes; a scalar tagged as
// float may also be any decimal float once its underscores are gone ("5", "1e5").
bool parse_float_11(ResolverMode mode, std::string_view text, bool tagged, double& out) {
    if (auto special = match_inf_nan(text)) {
        out = *special;
        return true;
    }
    switch (float_shape(mode, text)) {
        case FloatShape::Decimal:
            return decimal_without_underscores(text, out);
        case FloatShape::Sexagesimal:
            out = sexagesimal_float(text);
            return true;
        case FloatShape::None:
            break;
    }
    return tagged && decimal_without_underscores(text, out);
}

// An untagged plain scalar that starts like a number.
Resolved resolve_number(ResolverMode mode, std::string_view text) {
    Resolved integer;
    if (read_int_11(text, integer)) return integer;
    double real = 0.0;
    if (parse_float_11(mode, text, false, real)) return make_float(real);
    return make_str();
}

}  // namespace

Resolved resolve_11(ResolverMode mode, std::string_view text, bool plain, std::string_view tag) {
    if (!tag.empty()) {
        std::string_view name = core_tag_name(tag);
        if (name == "int") {
            Resolved integer;
            return read_int_11(text, integer) ? integer : make_invalid();
        }
        if (name == "null") return make_null();
        if (name == "bool") {
            const auto b = bool_word_11(mode, text);
            return b ? make_bool(*b) : make_invalid();
        }
        if (name == "float") {
            double value = 0.0;
            return parse_float_11(mode, text, true, value) ? make_float(value) : make_invalid();
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
            if (is_one_of(text, "null", "Null", "NULL")) return make_null();
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
            break;
        default:
            if (!is_digit(text[0])) return make_str();
    }
    return resolve_number(mode, text);
}

}  // namespace resolver_detail
}  // namespace quarvel
