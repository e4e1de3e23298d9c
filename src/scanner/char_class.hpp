// Byte classes used by the scanner's inner loops.
#pragma once

#include <array>
#include <cstdint>

namespace quarvel::scan {

// Sentinel returned for positions past the end of the text.
inline constexpr int kEnd = -1;

inline constexpr bool is_blank(int c) {
    return c == ' ' || c == '\t';
}
inline constexpr bool is_break(int c) {
    return c == '\n' || c == '\r';
}
inline constexpr bool is_blank_or_break_or_end(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == kEnd;
}
inline constexpr bool is_flow_indicator(int c) {
    return c == ',' || c == '[' || c == ']' || c == '{' || c == '}';
}
inline constexpr bool is_hex_digit(int c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}
inline constexpr int hex_value(int c) {
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

// Bytes that interrupt a run of ordinary plain-scalar content: blanks,
// breaks and ':' everywhere, and the flow indicators inside flow collections.
// Every other byte (including all bytes of multi-byte characters) is copied
// as it stands, so the inner loop only has to look the byte up.
struct PlainStopTables {
    std::array<bool, 256> block{};
    std::array<bool, 256> flow{};
};

inline constexpr PlainStopTables make_plain_stop_tables() {
    PlainStopTables t;
    for (unsigned char c : {' ', '\t', '\n', '\r', ':'}) t.block[c] = t.flow[c] = true;
    for (unsigned char c : {',', '[', ']', '{', '}'}) t.flow[c] = true;
    return t;
}

inline constexpr PlainStopTables kPlainStop = make_plain_stop_tables();

// Bytes that end a run of ordinary quoted-scalar content.
inline constexpr std::array<bool, 256> make_quoted_stop(char quote) {
    std::array<bool, 256> t{};
    t['\n'] = t['\r'] = true;
    t[static_cast<unsigned char>(quote)] = true;
    if (quote == '"') t['\\'] = true;
    return t;
}

inline constexpr std::array<bool, 256> kSingleQuotedStop = make_quoted_stop('\'');
inline constexpr std::array<bool, 256> kDoubleQuotedStop = make_quoted_stop('"');

// True for bytes that begin a character (everything but UTF-8 continuation
// bytes); summing it over a byte range counts the characters in it.
inline constexpr bool starts_char(unsigned char b) {
    return (b & 0xC0) != 0x80;
}

}  // namespace quarvel::scan
