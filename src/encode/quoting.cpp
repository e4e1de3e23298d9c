// Plain-scalar safety: whether a string must be quoted to read back as the
// same string, and the double-quote escapes used when it is.
#include <cstring>

#include "encode/emitter.hpp"
#include "encode/scalar_style.hpp"
#include "resolver/resolver.hpp"

namespace quarvel {
namespace scalar_style {
namespace {

constexpr ByteTable build_table() {
    ByteTable t{};
    for (int b = 0; b < 0x20; ++b) t.cls[b] |= kControl | kEscape;
    t.cls[0x7F] |= kControl | kEscape;
    for (unsigned char c : std::string_view("\t !\"#%&'*,-:>?@[]`{|}")) t.cls[c] |= kStartIndicator;
    t.cls[static_cast<unsigned char>('#')] |= kInnerSpecial;
    t.cls[static_cast<unsigned char>(':')] |= kInnerSpecial;
    for (unsigned char c : std::string_view(",[]{}")) t.cls[c] |= kFlowIndicator;
    t.cls[static_cast<unsigned char>('"')] |= kEscape;
    t.cls[static_cast<unsigned char>('\\')] |= kEscape;
    return t;
}

constexpr ByteTable kTable = build_table();

// Words that a YAML 1.2 or 1.1 reader takes for null, a boolean, a special
// float or the merge key.
constexpr std::string_view kReservedWords[] = {
    "~",     "no",    "No",    "NO",    "on",    "On",    "ON",    "<<",    "yes",   "Yes",
    "YES",   "off",   "Off",   "OFF",   "...",   "null",  "Null",  "NULL",  "true",  "True",
    "TRUE",  ".inf",  ".Inf",  ".INF",  ".nan",  ".NaN",  ".NAN",  "false", "False", "FALSE",
    "-.inf", "-.Inf", "-.INF", "+.inf", "+.Inf", "+.INF",
};

bool is_reserved_word(std::string_view text) {
    if (text.size() > 5) return false;
    for (std::string_view w : kReservedWords)
        if (w == text) return true;
    return false;
}

// Check 7: control bytes anywhere after the first, " #", and ":" that ends
// the text or is followed by a space.
bool has_inner_indicator(std::string_view text) {
    const char* p = text.data();
    const std::size_t n = text.size();
    for (std::size_t i = 1; i < n; ++i) {
        const std::uint8_t cls = kTable.cls[static_cast<unsigned char>(p[i])];
        if (!(cls & (kControl | kInnerSpecial))) continue;
        if (cls & kControl) return true;
        if (p[i] == '#') {
            if (p[i - 1] == ' ') return true;
        } else if (i + 1 == n || p[i + 1] == ' ') {
            return true;
        }
    }
    return false;
}

bool is_number_kind(ResolvedKind k) {
    return k == ResolvedKind::Int || k == ResolvedKind::BigInt || k == ResolvedKind::Float;
}

// Check 8: text that either reader would take for a number.
bool reads_as_number(std::string_view text) {
    if (is_number_kind(resolve(ResolverMode::Core12, text, true).kind)) return true;
    if (text.find(':') != std::string_view::npos) return false;
    return is_number_kind(resolve(ResolverMode::Yaml11, text, true).kind);
}

}  // namespace

const ByteTable& byte_table() { return kTable; }

bool has_flow_indicator(std::string_view text) {
    for (char c : text)
        if (byte_class(c) & kFlowIndicator) return true;
    return false;
}

bool fits_literal(std::string_view text) {
    if (text.find('\n') == std::string_view::npos) return false;
    for (char c : text)
        if ((byte_class(c) & kControl) && c != '\t' && c != '\n') return false;
    const std::size_t first = text.find_first_not_of('\n');
    if (first == std::string_view::npos) return true;
    return text[first] != ' ' && text[first] != '\t';
}

bool fits_single_quotes(std::string_view text) {
    for (char c : text)
        if (c == '\'' || (byte_class(c) & kControl)) return false;
    return true;
}

void append_double_escaped(std::string_view text, std::string& out) {
    static constexpr char kHex[] = "0123456789abcdef";
    const char* p = text.data();
    const std::size_t n = text.size();
    std::size_t run = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(p[i]);
        if (!(kTable.cls[c] & kEscape)) continue;
        out.append(p + run, i - run);
        run = i + 1;
        switch (c) {
            case 0: out += "\\0"; break;
            case '\t': out += "\\t"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            default: {
                const char esc[4] = {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
                out.append(esc, 4);
            }
        }
    }
    out.append(p + run, n - run);
}

}  // namespace scalar_style

bool needs_quotes(std::string_view text) {
    using namespace scalar_style;
    if (text.empty()) return true;
    if (text.size() >= 3 && std::memcmp(text.data(), "\xEF\xBB\xBF", 3) == 0) return true;
    if (is_reserved_word(text)) return true;
    const char first = text.front();
    const char last = text.back();
    if (byte_class(first) & (kStartIndicator | kControl)) return true;  // checks 4 and 6
    if (last == ' ' || last == '\t') return true;
    if (has_inner_indicator(text)) return true;
    if ((first >= '0' && first <= '9') || first == '+' || first == '.') {
        if (reads_as_number(text)) return true;
    }
    // "... x" at the start of a line is a document end marker followed by
    // content; at column 0 (a root scalar or a root key) it would not read back.
    return text.size() > 3 && text.starts_with("...") && text[3] == ' ';
}

}  // namespace quarvel
