#include "encode/json_sink.hpp"

#include <array>
#include <bit>
#include <cmath>

#include "support/float_format.hpp"

namespace quarvel {
namespace {

// Per byte: 0 copies unchanged; 1 is a control character written as \u00XX;
// 2 is the lead byte of U+2028/U+2029 candidates; other values are the
// letter of a short escape (\n, \", ...).
constexpr std::array<unsigned char, 256> make_escape_table() {
    std::array<unsigned char, 256> t{};
    for (int c = 0; c < 0x20; ++c) t[c] = 1;
    t['\b'] = 'b';
    t['\t'] = 't';
    t['\n'] = 'n';
    t['\f'] = 'f';
    t['\r'] = 'r';
    t['"'] = '"';
    t['\\'] = '\\';
    t[0xE2] = 2;
    return t;
}
constexpr auto kEscape = make_escape_table();

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

constexpr std::uint64_t has_zero_byte(std::uint64_t w) {
    return (w - kOnes) & ~w & kHighs;
}

// Whether any of eight bytes is a control character, '"', '\\' or 0xE2, so
// runs of plain text are skipped a word at a time. False positives only
// cost a byte-wise look.
bool word_may_need_escape(const char* p) {
    std::uint64_t w;
    std::memcpy(&w, p, sizeof w);
    std::uint64_t control = (w - kOnes * 0x20) & ~w & kHighs;
    return (control | has_zero_byte(w ^ (kOnes * '"')) | has_zero_byte(w ^ (kOnes * '\\')) |
            has_zero_byte(w ^ (kOnes * 0xE2))) != 0;
}

// Skips bytes that are copied unchanged, many at a time; stops at or before
// the first byte that needs a look.
const char* skip_plain(const char* p, const char* stop) {
#ifdef QUARVEL_JSON_SSE2
    while (stop - p >= 16) {
        if (const unsigned mask = json_detail::special_bytes16(p))
            return p + std::countr_zero(mask);
        p += 16;
    }
#endif
    while (stop - p >= 8 && !word_may_need_escape(p)) p += 8;
    return p;
}

// Escapes [p, stop) into dst, which has room for 6 bytes per input byte
// (a U+2028 sequence may run up to two bytes past `stop`, within `end`).
// Returns the input position reached.
const char* escape_run(const char* p, const char* stop, const char* end, char*& dst) {
    static constexpr char kHex[] = "0123456789abcdef";
    char* d = dst;
    while (p < stop) {
        const char* run = p;
        p = skip_plain(p, stop);
        while (p != stop && kEscape[static_cast<unsigned char>(*p)] == 0) ++p;
        std::memcpy(d, run, static_cast<std::size_t>(p - run));
        d += p - run;
        if (p == stop) break;
        unsigned char code = kEscape[static_cast<unsigned char>(*p)];
        if (code == 2) {
            // U+2028 and U+2029 (E2 80 A8/A9) end statements in JavaScript.
            if (end - p >= 3 && static_cast<unsigned char>(p[1]) == 0x80 &&
                (static_cast<unsigned char>(p[2]) == 0xA8 ||
                 static_cast<unsigned char>(p[2]) == 0xA9)) {
                std::memcpy(d, p[2] == '\xA8' ? "\\u2028" : "\\u2029", 6);
                d += 6;
                p += 3;
            } else {
                *d++ = *p++;
            }
        } else if (code == 1) {
            char u[6] = {'\\', 'u', '0', '0', kHex[(*p >> 4) & 0xF], kHex[*p & 0xF]};
            std::memcpy(d, u, sizeof u);
            d += sizeof u;
            ++p;
        } else {
            *d++ = '\\';
            *d++ = static_cast<char>(code);
            ++p;
        }
    }
    dst = d;
    return p;
}

}  // namespace

void put_json_float(double x, TextSink& out) {
    if (!std::isfinite(x)) {
        out.put("null");
        return;
    }
    char digits[kMaxFloatDigits];
    FloatShape shape;
    shortest_digits(x, digits, shape);
    out.commit(write_positional(shape, digits, out.room(kMaxPositionalFloat)));
}

void put_json_string_escaped(std::string_view text, TextSink& out) {
    // Long texts go in chunks so the worst-case room stays small; a shorter
    // one takes one reservation for its quotes and any escapes.
    constexpr std::size_t kChunk = 4096;
    const char* p = text.data();
    const char* end = p + text.size();
    if (text.size() <= kChunk) {
        char* dst = out.room(6 * text.size() + 2);
        *dst++ = '"';
        // Most keys and values are short and plain: copy and test in one
        // loop, and escape (over the copy) only when some byte needs it.
        if (text.size() <= 16) {
            unsigned char special = 0;
            for (std::size_t i = 0; i < text.size(); ++i) {
                const auto c = static_cast<unsigned char>(p[i]);
                special |= kEscape[c];
                dst[i] = static_cast<char>(c);
            }
            if (special == 0) {
                dst[text.size()] = '"';
                out.commit(dst + text.size() + 1);
                return;
            }
        }
        escape_run(p, end, end, dst);
        *dst++ = '"';
        out.commit(dst);
        return;
    }
    out.put('"');
    while (p < end) {
        const char* stop = end - p > static_cast<std::ptrdiff_t>(kChunk) ? p + kChunk : end;
        char* dst = out.room(6 * (static_cast<std::size_t>(stop - p) + 2));
        p = escape_run(p, stop, end, dst);
        out.commit(dst);
    }
    out.put('"');
}

}  // namespace quarvel
