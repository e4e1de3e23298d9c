// JSON string escaping checked against a byte-by-byte reference, over texts
// built to put special bytes at every position of the wide and narrow scans.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <random>
#include <string>
#include <string_view>

#include "check.hpp"
#include "encode/json_sink.hpp"

namespace quarvel::check {

inline std::string reference_json_string(std::string_view text) {
    static constexpr char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == 0xE2 && i + 2 < text.size() && static_cast<unsigned char>(text[i + 1]) == 0x80 &&
            (static_cast<unsigned char>(text[i + 2]) == 0xA8 ||
             static_cast<unsigned char>(text[i + 2]) == 0xA9)) {
            out += static_cast<unsigned char>(text[i + 2]) == 0xA8 ? "\\u2028" : "\\u2029";
            i += 2;
        } else if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c == '\b' || c == '\t' || c == '\n' || c == '\f' || c == '\r') {
            out += '\\';
            out += "btnfr"[std::string_view("\b\t\n\f\r").find(static_cast<char>(c))];
        } else if (c < 0x20) {
            out += "\\u00";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

inline std::string written_json_string(std::string_view text) {
    std::string out;
    TextSink sink(out);
    put_json_string(text, sink);
    return out;
}

// Short texts read sixteen bytes at a time must never read past their page:
// texts ending at the last byte before an unreadable page, the empty text
// pointing at that page itself included.
inline void json_page_edge_cases() {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    void* mapped =
        mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) return;
    char* edge = static_cast<char*>(mapped) + page;
    if (mprotect(edge, page, PROT_NONE) == 0) {
        for (std::size_t length = 0; length <= 17; ++length) {
            for (const char* fill : {"abcdefghijklmnopq", "ab\"cd\nefghijklmno"}) {
                char* text = edge - length;
                std::memcpy(text, fill, length);
                Case c("page edge, length " + std::to_string(length));
                CHECK_EQ(written_json_string({text, length}),
                         reference_json_string({text, length}));
            }
        }
    }
    munmap(mapped, 2 * page);
}

inline void json_escape_cases() {
    json_page_edge_cases();
    const std::string_view specials[] = {"\"",           "\\",   "\n",           "\x01",
                                         "\x1f",         "\x7f", "\xe2\x80\xa8", "\xe2\x80\xa9",
                                         "\xe2\x80\xa7", "\xe2", "\xc3\xa9",     " "};
    // Every special at every offset of texts of every length up to 40.
    for (std::size_t length = 0; length <= 40; ++length) {
        for (std::string_view special : specials) {
            for (std::size_t at = 0; at + special.size() <= length; ++at) {
                std::string text(length, 'a');
                text.replace(at, special.size(), special);
                Case c("length " + std::to_string(length) + " at " + std::to_string(at));
                CHECK_EQ(written_json_string(text), reference_json_string(text));
            }
        }
    }
    // Random mixtures, long texts crossing the chunk size included.
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const std::size_t length = round < 250 ? rng() % 64 : 4000 + rng() % 9000;
        while (text.size() < length) {
            const unsigned pick = rng() % 10;
            text += pick < 6 ? std::string(1, static_cast<char>('a' + rng() % 26))
                             : std::string(specials[rng() % std::size(specials)]);
        }
        Case c("random " + std::to_string(round));
        CHECK_EQ(written_json_string(text), reference_json_string(text));
    }
}

}  // namespace quarvel::check
