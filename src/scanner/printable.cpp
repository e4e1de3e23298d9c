#include "scanner/printable.hpp"

#include <cstring>

#include "support/utf8.hpp"

namespace quarvel::scan {
namespace {

using Block = unsigned char __attribute__((vector_size(16)));

// The bytes of a block that may begin an unprintable character: a C0 control other than
// tab and the breaks, DEL, or a lead byte that may begin a C1 control (0xC2)
// or U+FFFE/U+FFFF (0xEF). The lead bytes also begin printable characters
// ('é' does not, '°' does), so a hit is only a candidate.
Block candidates(const unsigned char* p) {
    Block v;
    std::memcpy(&v, p, sizeof v);
    const Block control = (v < 0x20) & (v != '\t') & (v != '\n') & (v != '\r');
    return control | (v == 0x7F) | (v == 0xC2) | (v == 0xEF);
}

bool any_set(Block hits) {
    std::uint64_t halves[2];
    std::memcpy(halves, &hits, sizeof halves);
    return (halves[0] | halves[1]) != 0;
}

// Four blocks at a time: one branch per 64 bytes on the common path.
bool span_may_hold_one(const unsigned char* p) {
    return any_set(candidates(p) | candidates(p + 16) | candidates(p + 32) | candidates(p + 48));
}

// Whether the character starting at byte i is unprintable; if so, `out`
// describes it.
bool unprintable_at(std::string_view text, std::size_t i, Unprintable& out) {
    const auto b = static_cast<unsigned char>(text[i]);
    auto byte = [&](std::size_t k) {
        return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0;
    };
    if (b < 0x20) {
        if (b == '\t' || b == '\n' || b == '\r') return false;
        out = {i, b, false};
        return true;
    }
    if (b == 0x7F) {
        out = {i, b, true};
        return true;
    }
    if (b == 0xC2) {
        const unsigned char c = byte(1);
        if (c < 0x80 || c > 0x9F || c == 0x85) return false;
        out = {i, c, true};
        return true;
    }
    if (b == 0xEF && byte(1) == 0xBF && (byte(2) == 0xBE || byte(2) == 0xBF)) {
        out = {i, byte(2) == 0xBE ? U'\uFFFE' : U'\uFFFF', true};
        return true;
    }
    return false;
}

}  // namespace

Unprintable next_unprintable(std::string_view text, std::size_t from) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const std::size_t n = text.size();
    Unprintable found;
    std::size_t i = from;
    while (i < n) {
        if (i + 64 <= n && !span_may_hold_one(p + i)) {
            i += 64;
            continue;
        }
        if (i + 16 <= n && !any_set(candidates(p + i))) {
            i += 16;
            continue;
        }
        const std::size_t stop = i + 16 <= n ? i + 16 : n;
        for (; i < stop; ++i) {
            if (unprintable_at(text, i, found)) return found;
        }
    }
    found.offset = n;
    return found;
}

namespace {

bool is_line_break(char32_t c) {
    return c == '\n' || c == '\r' || c == 0x85 || c == 0x2028 || c == 0x2029;
}

}  // namespace

std::optional<OffLine> first_off_line(std::string_view text) {
    const Unprintable unprintable = next_unprintable(text, 0);
    for (std::size_t i = 0; i < text.size();) {
        if (i == unprintable.offset) return OffLine{unprintable.code_point, false};
        const char32_t c = utf8::decode_at(text, i);
        if (is_line_break(c)) return OffLine{c, true};
        if (c == 0xFEFF) return OffLine{c, false};
        i += utf8::sequence_length(static_cast<unsigned char>(text[i]));
    }
    return std::nullopt;
}

}  // namespace quarvel::scan
