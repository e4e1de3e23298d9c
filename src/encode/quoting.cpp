// Plain-scalar safety: whether a string must be quoted to read back as the
// same string, and the double-quote escapes used when it is.
#include <array>
#include <cstring>

#include "encode/emitter.hpp"
#include "encode/scalar_style.hpp"
#include "resolver/resolver.hpp"
#include "support/simd.hpp"

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
    t.cls[static_cast<unsigned char>('\'')] |= kApostrophe;
    for (unsigned char c : {0xC2, 0xE2, 0xEF}) t.cls[c] |= kAwkwardLead;
    return t;
}

constexpr ByteTable kTable = build_table();

bool eq(std::string_view text, const char (&word)[3]) {
    return std::memcmp(text.data(), word, 2) == 0;
}
bool eq(std::string_view text, const char (&word)[4]) {
    return std::memcmp(text.data(), word, 3) == 0;
}
bool eq(std::string_view text, const char (&word)[5]) {
    return std::memcmp(text.data(), word, 4) == 0;
}
bool eq(std::string_view text, const char (&word)[6]) {
    return std::memcmp(text.data(), word, 5) == 0;
}

// Words that a YAML 1.2 or 1.1 reader takes for null, a boolean, a special
// float or the merge key; the caller has checked the length.
bool is_reserved_word(std::string_view t) {
    switch (t.size()) {
        case 1:
            return t[0] == '~';
        case 2:
            return eq(t, "no") || eq(t, "No") || eq(t, "NO") || eq(t, "on") || eq(t, "On") ||
                   eq(t, "ON") || eq(t, "<<");
        case 3:
            return eq(t, "yes") || eq(t, "Yes") || eq(t, "YES") || eq(t, "off") || eq(t, "Off") ||
                   eq(t, "OFF") || eq(t, "...");
        case 4:
            switch (t[0]) {
                case 'n':
                case 'N':
                    return eq(t, "null") || eq(t, "Null") || eq(t, "NULL");
                case 't':
                case 'T':
                    return eq(t, "true") || eq(t, "True") || eq(t, "TRUE");
                case '.':
                    return eq(t, ".inf") || eq(t, ".Inf") || eq(t, ".INF") || eq(t, ".nan") ||
                           eq(t, ".NaN") || eq(t, ".NAN");
                default:
                    return false;
            }
        case 5:
            switch (t[0]) {
                case 'f':
                case 'F':
                    return eq(t, "false") || eq(t, "False") || eq(t, "FALSE");
                case '-':
                    return eq(t, "-.inf") || eq(t, "-.Inf") || eq(t, "-.INF");
                case '+':
                    return eq(t, "+.inf") || eq(t, "+.Inf") || eq(t, "+.INF");
                default:
                    return false;
            }
        default:
            return false;
    }
}

// Bytes that can occur in a number of either YAML version (digits, signs,
// radix prefixes, exponents, underscores, sexagesimal colons, .inf and .nan).
constexpr std::array<bool, 256> build_number_bytes() {
    std::array<bool, 256> ok{};
    for (unsigned char c : std::string_view("0123456789abcdefABCDEFxXoO_.+-:iInN")) ok[c] = true;
    return ok;
}
constexpr std::array<bool, 256> kNumberBytes = build_number_bytes();

bool may_be_number(std::string_view text) {
    for (char c : text)
        if (!kNumberBytes[static_cast<unsigned char>(c)]) return false;
    return true;
}

bool starts_with_bom(std::string_view text) {
    return text.size() >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
           static_cast<unsigned char>(text[1]) == 0xBB &&
           static_cast<unsigned char>(text[2]) == 0xBF;
}

bool is_number_kind(ResolvedKind k) {
    return k == ResolvedKind::Int || k == ResolvedKind::BigInt || k == ResolvedKind::Float;
}

// Text that a YAML 1.2 or a YAML 1.1 reader would take for a number, so it
// must be quoted to stay a string; YAML 1.1's base-60 forms (with ':') are
// left plain.
bool reads_as_number(std::string_view text) {
    if (!may_be_number(text)) return false;
    if (is_number_kind(resolve(ResolverMode::Core12, text, true).kind)) return true;
    if (text.find(':') != std::string_view::npos) return false;
    return is_number_kind(resolve(ResolverMode::Yaml11, text, true).kind);
}

}  // namespace

const ByteTable& byte_table() {
    return kTable;
}

std::size_t awkward_at(std::string_view text, std::size_t i) {
    const auto b = [&](std::size_t k) {
        return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0u;
    };
    const unsigned c = b(0);
    if (c == 0xC2 && b(1) >= 0x80 && b(1) <= 0x9F) return 2;  // C1 controls, NEL among them
    if (c == 0xE2 && b(1) == 0x80 && (b(2) == 0xA8 || b(2) == 0xA9)) return 3;  // LS, PS
    if (c == 0xEF && b(1) == 0xBB && b(2) == 0xBF) return 3;                    // BOM
    if (c == 0xEF && b(1) == 0xBF && (b(2) == 0xBE || b(2) == 0xBF)) return 3;  // non-characters
    return 0;
}

bool has_awkward_unicode(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        if ((kTable.cls[static_cast<unsigned char>(text[i])] & kAwkwardLead) && awkward_at(text, i))
            return true;
    }
    return false;
}

namespace {

#ifdef QUARVEL_SSE2
// One bit per byte of v that scan_text must look at: a control character,
// '#', ':', '\'', a flow indicator, or any byte past ASCII (which includes
// the lead bytes of the awkward characters; the others are passed over by
// the byte-wise loop).
inline unsigned bytes_to_look_at(__m128i v) {
    const auto is = [v](char c) { return _mm_cmpeq_epi8(v, _mm_set1_epi8(c)); };
    // Signed, bytes past ASCII are below 0x20 too.
    const __m128i low = _mm_cmplt_epi8(v, _mm_set1_epi8(0x20));
    // '[' and '{', ']' and '}' differ only in the 0x20 bit.
    const __m128i folded = _mm_or_si128(v, _mm_set1_epi8(0x20));
    const __m128i brackets = _mm_or_si128(_mm_cmpeq_epi8(folded, _mm_set1_epi8('{')),
                                          _mm_cmpeq_epi8(folded, _mm_set1_epi8('}')));
    const __m128i marks =
        _mm_or_si128(_mm_or_si128(is('#'), is(':')), _mm_or_si128(is(','), is('\'')));
    const __m128i any = _mm_or_si128(_mm_or_si128(low, is(0x7F)), _mm_or_si128(brackets, marks));
    return static_cast<unsigned>(_mm_movemask_epi8(any));
}
#endif

// Where scan_text's byte-wise loop must start: the length of the text when
// no byte needs a look, or a position at or before the first that does.
inline std::size_t plain_prefix(const unsigned char* p, std::size_t n) {
    std::size_t i = 0;
#ifdef QUARVEL_SSE2
#ifndef QUARVEL_NO_OVERREAD
    // A short text in one read, past its end when that stays in its page.
    if (n > 0 && n < 16 && sixteen_in_page(p)) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
        return (bytes_to_look_at(v) & ((1U << n) - 1)) == 0 ? n : 0;
    }
#endif
    const auto clean = [p](std::size_t at) {
        return bytes_to_look_at(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p + at))) == 0;
    };
    for (; i + 16 <= n; i += 16)
        if (!clean(i)) return i;
    // The rest as the last sixteen bytes, read again in part.
    if (i != n && i != 0 && clean(n - 16)) return n;
#endif
    return i;
}

}  // namespace

TextTraits scan_text(std::string_view text) {
    constexpr std::uint8_t kMask =
        kControl | kInnerSpecial | kFlowIndicator | kApostrophe | kAwkwardLead;
    TextTraits t;
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    // Most strings hold no byte of interest: skip them sixteen, then eight at
    // a time.
    std::size_t i = plain_prefix(p, n);
    for (; i + 8 <= n; i += 8) {
        const auto* c = kTable.cls;
        if ((c[p[i]] | c[p[i + 1]] | c[p[i + 2]] | c[p[i + 3]] | c[p[i + 4]] | c[p[i + 5]] |
             c[p[i + 6]] | c[p[i + 7]]) &
            kMask)
            break;
    }
    for (; i < n; ++i) {
        const std::uint8_t cls = kTable.cls[p[i]];
        if (!(cls & kMask)) continue;
        const char c = static_cast<char>(p[i]);
        if (cls & kAwkwardLead) {
            if (awkward_at(text, i) != 0) t.control = t.odd_control = t.inner_indicator = true;
        } else if (cls & kControl) {
            t.control = true;
            if (c == '\n')
                t.line_feed = true;
            else if (c != '\t')
                t.odd_control = true;
            if (i > 0) t.inner_indicator = true;
        } else if (cls & kFlowIndicator) {
            t.flow_indicator = true;
        } else if (c == '\'') {
            t.apostrophe = true;
        } else if (i == 0) {
            // '#' or ':' as the first byte is judged by the first-byte check.
        } else if (c == '#') {
            if (p[i - 1] == ' ') t.inner_indicator = true;
        } else if (i + 1 == n || p[i + 1] == ' ') {
            t.inner_indicator = true;
        }
    }
    return t;
}

bool fits_literal(std::string_view text, const TextTraits& traits) {
    if (!traits.line_feed || traits.odd_control) return false;
    const std::size_t first = text.find_first_not_of('\n');
    if (first == std::string_view::npos) return true;
    return text[first] != ' ' && text[first] != '\t';
}

namespace {

constexpr char kHex[] = "0123456789abcdef";

// The escape of an awkward character of `len` bytes at p.
void append_awkward_escape(const unsigned char* p, std::size_t len, std::string& out) {
    if (len == 2) {
        if (p[1] == 0x85) {
            out += "\\N";
        } else {
            const char esc[4] = {'\\', 'x', kHex[p[1] >> 4], kHex[p[1] & 15]};
            out.append(esc, 4);
        }
    } else if (p[0] == 0xE2) {
        out += p[2] == 0xA8 ? "\\L" : "\\P";
    } else if (p[1] == 0xBB) {
        out += "\\uFEFF";
    } else {
        out += p[2] == 0xBE ? "\\uFFFE" : "\\uFFFF";
    }
}

}  // namespace

void append_double_escaped(std::string_view text, std::string& out) {
    const char* p = text.data();
    const std::size_t n = text.size();
    std::size_t run = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(p[i]);
        const std::uint8_t cls = kTable.cls[c];
        if (!(cls & (kEscape | kAwkwardLead))) continue;
        if (cls & kAwkwardLead) {
            const std::size_t len = awkward_at(text, i);
            if (len == 0) continue;
            out.append(p + run, i - run);
            append_awkward_escape(reinterpret_cast<const unsigned char*>(p + i), len, out);
            i += len - 1;
            run = i + 1;
            continue;
        }
        out.append(p + run, i - run);
        run = i + 1;
        switch (c) {
            case 0:
                out += "\\0";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            default: {
                const char esc[4] = {'\\', 'x', kHex[c >> 4], kHex[c & 15]};
                out.append(esc, 4);
            }
        }
    }
    out.append(p + run, n - run);
}

bool needs_quotes(std::string_view text, const TextTraits& traits) {
    if (text.empty()) return true;
    if (starts_with_bom(text)) return true;
    if (is_reserved_word(text)) return true;
    const char first = text.front();
    const char last = text.back();
    // The first-byte check: an indicator, a space or a tab cannot begin a plain
    // scalar, and a control byte rules plain out here as it does anywhere else.
    if (byte_class(first) & (kStartIndicator | kControl)) return true;
    if (last == ' ' || last == '\t') return true;
    if (traits.inner_indicator) return true;
    if ((first >= '0' && first <= '9') || first == '+' || first == '.') {
        if (reads_as_number(text)) return true;
    }
    // "... x" at the start of a line is a document end marker followed by
    // content; at column 0 (a root scalar or a root key) it would not read back.
    return text.size() > 3 && text.starts_with("...") && text[3] == ' ';
}

}  // namespace scalar_style

bool needs_quotes(std::string_view text) {
    return scalar_style::needs_quotes(text, scalar_style::scan_text(text));
}

}  // namespace quarvel
