// The YAML 1.2 core schema, plus the number syntaxes every mode shares.
#include <charconv>
#include <cstring>
#include <limits>

#include "resolver/resolver.hpp"
#include "resolver/syntax.hpp"
#include "support/core_tag.hpp"

namespace quarvel {
namespace resolver_detail {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();

// Index just past a run of decimal digits starting at i.
std::size_t skip_digits(std::string_view s, std::size_t i) {
    while (i < s.size() && is_digit(s[i])) ++i;
    return i;
}

// Exact decimal float syntax: from_chars alone would also take "inf", "nan",
// hexadecimal forms and a dangling exponent ("1e" as 1).
bool is_decimal_float_syntax(std::string_view s) {
    std::size_t i = 0;
    if (i < s.size() && is_sign(s[i])) ++i;
    std::size_t int_end = skip_digits(s, i);
    std::size_t digits = int_end - i;
    i = int_end;
    if (i < s.size() && s[i] == '.') {
        std::size_t frac_end = skip_digits(s, i + 1);
        digits += frac_end - (i + 1);
        i = frac_end;
    }
    if (digits == 0) return false;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        ++i;
        if (i < s.size() && is_sign(s[i])) ++i;
        std::size_t exp_end = skip_digits(s, i);
        if (exp_end == i) return false;
        i = exp_end;
    }
    return i == s.size();
}

// from_chars reports result_out_of_range without a value; decide between
// overflow (infinity) and underflow (zero) from the decimal exponent of the
// first significant digit. Only called on text that passed the syntax check.
bool overflows(std::string_view s) {
    std::size_t i = 0;
    if (i < s.size() && is_sign(s[i])) ++i;
    std::int64_t position = 0;  // decimal exponent of the first nonzero digit
    bool found = false;
    std::int64_t int_digits = 0;
    for (; i < s.size() && is_digit(s[i]); ++i) {
        if (!found && s[i] != '0') found = true;
        if (found) ++int_digits;
    }
    if (found) {
        position = int_digits - 1;
    } else if (i < s.size() && s[i] == '.') {
        std::int64_t zeros = 0;
        for (++i; i < s.size() && s[i] == '0'; ++i) ++zeros;
        position = -zeros - 1;
    }
    while (i < s.size() && s[i] != 'e' && s[i] != 'E') ++i;
    std::int64_t exponent = 0;
    if (i < s.size()) {
        ++i;
        bool negative = i < s.size() && s[i] == '-';
        if (i < s.size() && is_sign(s[i])) ++i;
        for (; i < s.size(); ++i) {
            if (exponent < 1'000'000'000) exponent = exponent * 10 + (s[i] - '0');
        }
        if (negative) exponent = -exponent;
    }
    return position + exponent > 0;
}

// True when the text contains '.', 'e' or 'E' (the gate before any float parse).
bool has_float_mark(std::string_view text) {
    for (char c : text) {
        if (c == '.' || c == 'e' || c == 'E') return true;
    }
    return false;
}

// Adds the digits of `text` in `base` to `magnitude`; false on a non-digit, on
// no digits at all, or when the magnitude would pass the signed 64-bit maximum.
bool accumulate_digits(std::string_view text, unsigned base, std::uint64_t& magnitude) {
    bool any = false;
    for (char c : text) {
        unsigned d = digit_value(c);
        if (d >= base) return false;
        if (magnitude > (kInt64Max - d) / base) return false;
        magnitude = magnitude * base + d;
        any = true;
    }
    return any;
}

// An optional sign, then 0x or 0X and hexadecimal digits, of any length.
bool is_hex_integer(std::string_view text) {
    if (!text.empty() && is_sign(text[0])) text.remove_prefix(1);
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
    for (char c : text.substr(2))
        if (digit_value(c) >= 16) return false;
    return true;
}

// An optional sign, then decimal digits without a leading 0 unless the digits
// are exactly "0".
bool is_decimal_integer(std::string_view text) {
    std::size_t i = 0;
    if (i < text.size() && is_sign(text[i])) ++i;
    std::size_t digits = 0;
    bool leading_zero = false;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (!is_digit(c)) return false;
        if (digits == 0) leading_zero = c == '0';
        ++digits;
    }
    return digits == 1 || (digits > 1 && !leading_zero);
}

}  // namespace

std::string_view core_tag_name(std::string_view tag) {
    if (tag.starts_with(kCoreTagPrefix)) return tag.substr(kCoreTagPrefix.size());
    if (tag.starts_with("!!")) return tag.substr(2);
    return {};
}

// A scalar tagged !!float may be any decimal number ("5", "1e5").
Resolved core_tagged_float(std::string_view text) {
    if (auto special = match_inf_nan(text)) return make_float(*special);
    double value = 0.0;
    return parse_decimal_float(text, value) ? make_float(value) : make_invalid();
}

Resolved resolve_core(std::string_view text, bool plain, std::string_view tag) {
    if (!tag.empty()) {
        std::string_view name = core_tag_name(tag);
        if (name == "int") {
            std::int64_t value = 0;
            if (parse_int_12(text, value)) return make_int(value);
            // Out of the 64-bit range: keep the digits rather than lose the
            // number. The tag says it is one, so a long hexadecimal is too.
            if (is_decimal_integer(text) || is_hex_integer(text)) return make_big_int();
            return make_invalid();
        }
        if (name == "null") return make_null();
        if (name == "bool") {
            if (is_one_of(text, "true", "True", "TRUE")) return make_bool(true);
            if (is_one_of(text, "false", "False", "FALSE")) return make_bool(false);
            return make_invalid();
        }
        if (name == "float") return core_tagged_float(text);
        return make_str();
    }
    if (!plain) return make_str();
    if (text.empty()) return make_null();

    // Fixed words first, by first byte and length; anything that cannot start
    // a number or a word is a string at once.
    switch (text[0]) {
        case '~':
            return text.size() == 1 ? make_null() : make_str();
        case '<':
            return text == "<<" ? make_merge() : make_str();
        case 'n':
        case 'N':
            return is_one_of(text, "null", "Null", "NULL") ? make_null() : make_str();
        case 't':
        case 'T':
            return is_one_of(text, "true", "True", "TRUE") ? make_bool(true) : make_str();
        case 'f':
        case 'F':
            return is_one_of(text, "false", "False", "FALSE") ? make_bool(false) : make_str();
        case '+':
        case '-':
        case '.':
            break;
        default:
            if (!is_digit(text[0])) return make_str();
    }

    if (text[0] != '.') {
        std::int64_t value = 0;
        if (parse_int_12(text, value)) return make_int(value);
        if (is_decimal_integer(text)) return make_big_int();
    }
    if (auto special = match_inf_nan(text)) return make_float(*special);
    if (has_float_mark(text)) {
        double value = 0.0;
        if (parse_decimal_float(text, value)) return make_float(value);
    }
    return make_str();
}

}  // namespace resolver_detail

using namespace resolver_detail;

const char* kind_name(ResolvedKind kind) {
    switch (kind) {
        case ResolvedKind::Null:
            return "null";
        case ResolvedKind::Bool:
            return "bool";
        case ResolvedKind::Int:
        case ResolvedKind::BigInt:
            return "int";
        case ResolvedKind::Float:
            return "float";
        case ResolvedKind::Str:
            return "str";
        case ResolvedKind::Merge:
            return "merge";
        case ResolvedKind::Invalid:
            return "invalid";
    }
    return "str";
}

std::string invalid_scalar_message(std::string_view text, std::string_view tag) {
    std::string shown(text.substr(0, 60));
    if (text.size() > 60) shown += "...";
    return "cannot read '" + shown + "' as !!" + std::string(core_tag_name(tag));
}

bool parse_int_12(std::string_view text, std::int64_t& out) {
    bool negative = false;
    if (!text.empty() && is_sign(text[0])) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return false;
    std::uint64_t magnitude = 0;
    if (text[0] == '0') {
        if (text.size() == 1) {
            out = 0;
            return true;
        }
        unsigned base = 0;
        if (text[1] == 'x' || text[1] == 'X') base = 16;
        if (text[1] == 'o' || text[1] == 'O') base = 8;
        // A leading 0 without a prefix ("017") is not a 1.2 integer.
        if (base == 0 || !accumulate_digits(text.substr(2), base, magnitude)) return false;
    } else if (!accumulate_digits(text, 10, magnitude)) {
        return false;
    }
    out = apply_sign(magnitude, negative);
    return true;
}

std::optional<double> match_inf_nan(std::string_view text) {
    if (text.size() < 4 || text.size() > 5) return std::nullopt;
    bool negative = false;
    std::string_view body = text;
    if (text[0] == '+' || text[0] == '-') {
        negative = text[0] == '-';
        body.remove_prefix(1);
    }
    if (body.size() != 4 || body[0] != '.') return std::nullopt;
    std::string_view word = body.substr(1);
    if (word == "inf" || word == "Inf" || word == "INF") return negative ? -kInf : kInf;
    // NaN has no signed spellings.
    if (body.size() == text.size() && (word == "nan" || word == "NaN" || word == "NAN")) {
        return std::numeric_limits<double>::quiet_NaN();
    }
    return std::nullopt;
}

bool parse_decimal_float(std::string_view text, double& out) {
    if (!is_decimal_float_syntax(text)) return false;
    std::string_view digits = text[0] == '+' ? text.substr(1) : text;
    double value = 0.0;
    auto [ptr, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec == std::errc::result_out_of_range) {
        value = overflows(text) ? kInf : 0.0;
        if (text[0] == '-') value = -value;
    } else if (ec != std::errc() || ptr != digits.data() + digits.size()) {
        return false;
    }
    out = value;
    return true;
}

}  // namespace quarvel
