#include "support/utf8.hpp"

#include <cstdio>
#include <cstring>

namespace quarvel::utf8 {
namespace {

inline bool is_cont(unsigned char b) {
    return (b & 0xC0) == 0x80;
}

Error value_error(const char* message) {
    return Error::argument(message);
}

enum class Endian { Big, Little };

std::uint32_t read16(const unsigned char* p, Endian e) {
    return e == Endian::Big ? (std::uint32_t(p[0]) << 8) | p[1] : (std::uint32_t(p[1]) << 8) | p[0];
}

std::uint32_t read32(const unsigned char* p, Endian e) {
    if (e == Endian::Big)
        return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) |
               (std::uint32_t(p[2]) << 8) | p[3];
    return (std::uint32_t(p[3]) << 24) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) |
           p[0];
}

Result<std::string> from_utf16(std::string_view bytes, Endian e) {
    if (bytes.size() % 2 != 0)
        return fail(value_error("invalid UTF-16: byte count is not a multiple of 2"));
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t units = bytes.size() / 2;
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < units; ++i) {
        std::uint32_t u = read16(p + 2 * i, e);
        if (u >= 0xD800 && u <= 0xDBFF) {
            if (i + 1 >= units) return fail(value_error("invalid UTF-16: unpaired surrogate"));
            std::uint32_t lo = read16(p + 2 * (i + 1), e);
            if (lo < 0xDC00 || lo > 0xDFFF)
                return fail(value_error("invalid UTF-16: unpaired surrogate"));
            append(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
            ++i;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            return fail(value_error("invalid UTF-16: unpaired surrogate"));
        } else {
            append(out, u);
        }
    }
    return out;
}

Result<std::string> from_utf32(std::string_view bytes, Endian e) {
    if (bytes.size() % 4 != 0)
        return fail(value_error("invalid UTF-32: byte count is not a multiple of 4"));
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); i += 4) {
        std::uint32_t u = read32(p + i, e);
        if ((u >= 0xD800 && u <= 0xDFFF) || u > 0x10FFFF)
            return fail(value_error("invalid UTF-32: not a Unicode scalar value"));
        append(out, u);
    }
    return out;
}

// Length of the invalid sequence at s[i] (1 to 3), or none when the input
// ends before the sequence could be judged.
std::optional<std::size_t> fault_length(const unsigned char* s, std::size_t n, std::size_t i) {
    unsigned char b = s[i];
    std::size_t width = (b >= 0xC2 && b <= 0xDF)   ? 2
                        : (b >= 0xE0 && b <= 0xEF) ? 3
                        : (b >= 0xF0 && b <= 0xF4) ? 4
                                                   : 0;
    if (width == 0) return 1;
    unsigned char lo = 0x80;
    unsigned char hi = 0xBF;
    if (b == 0xE0) lo = 0xA0;
    if (b == 0xED) hi = 0x9F;
    if (b == 0xF0) lo = 0x90;
    if (b == 0xF4) hi = 0x8F;
    for (std::size_t k = 1; k < width; ++k) {
        if (i + k >= n) return std::nullopt;
        unsigned char c = s[i + k];
        if (k == 1 ? (c < lo || c > hi) : !is_cont(c)) return k;
    }
    return 0;  // a complete, valid sequence
}

}  // namespace

std::string quoted_literal(std::string_view text) {
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        char32_t cp = decode_at(text, i);
        std::size_t len = sequence_length(static_cast<unsigned char>(text[i]));
        switch (cp) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\t':
                out += "\\t";
                break;
            case 0:
                out += "\\0";
                break;
            default:
                if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) {
                    char buf[16];
                    std::snprintf(buf, sizeof buf, "\\u{%x}", static_cast<unsigned>(cp));
                    out += buf;
                } else {
                    out.append(text.substr(i, len));
                }
        }
        i += len;
    }
    out += '"';
    return out;
}

std::optional<Utf8Fault> validate(std::string_view bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    while (i < n) {
        // Eight ASCII bytes at a time.
        if (i + 8 <= n) {
            std::uint64_t w;
            std::memcpy(&w, s + i, 8);
            if ((w & 0x8080808080808080ULL) == 0) {
                i += 8;
                continue;
            }
        }
        if (s[i] < 0x80) {
            ++i;
            continue;
        }
        auto len = fault_length(s, n, i);
        if (!len) return Utf8Fault{i, std::nullopt};
        if (*len != 0) return Utf8Fault{i, *len};
        i += sequence_length(s[i]);
    }
    return std::nullopt;
}

std::string describe(const Utf8Fault& fault) {
    if (fault.error_len)
        return "invalid utf-8 sequence of " + std::to_string(*fault.error_len) +
               " bytes from index " + std::to_string(fault.valid_up_to);
    return "incomplete utf-8 byte sequence from index " + std::to_string(fault.valid_up_to);
}

// UTF-32 and UTF-16 by their byte order mark, else by the zero bytes that
// ASCII text has in those encodings; everything else is UTF-8.
std::optional<Result<std::string>> transcode_input(std::string_view bytes) {
    const auto* b = reinterpret_cast<const unsigned char*>(bytes.data());
    const std::size_t n = bytes.size();
    if (n >= 4) {
        if (b[0] == 0 && b[1] == 0 && b[2] == 0xFE && b[3] == 0xFF)
            return from_utf32(bytes, Endian::Big);
        if (b[0] == 0xFF && b[1] == 0xFE && b[2] == 0 && b[3] == 0)
            return from_utf32(bytes, Endian::Little);
    }
    if (n >= 2) {
        if (b[0] == 0xFE && b[1] == 0xFF) return from_utf16(bytes, Endian::Big);
        if (b[0] == 0xFF && b[1] == 0xFE) return from_utf16(bytes, Endian::Little);
    }
    if (n >= 4) {
        if (b[0] == 0 && b[1] == 0 && b[2] == 0) return from_utf32(bytes, Endian::Big);
        if (b[1] == 0 && b[2] == 0 && b[3] == 0) return from_utf32(bytes, Endian::Little);
    }
    if (n >= 2) {
        if (b[0] == 0) return from_utf16(bytes, Endian::Big);
        if (b[1] == 0) return from_utf16(bytes, Endian::Little);
    }
    return std::nullopt;
}

Status check_input(std::string_view bytes) {
    if (auto fault = validate(bytes))
        return fail(Error::argument("invalid UTF-8: " + describe(*fault)));
    return {};
}

Result<std::string> decode_input(std::string_view bytes) {
    if (auto transcoded = transcode_input(bytes)) return std::move(*transcoded);
    if (auto checked = check_input(bytes); !checked) return fail(std::move(checked.error()));
    return std::string(bytes);
}

Result<std::string> decode_input(std::string&& bytes) {
    if (auto transcoded = transcode_input(bytes)) return std::move(*transcoded);
    if (auto checked = check_input(bytes); !checked) return fail(std::move(checked.error()));
    return std::move(bytes);
}

}  // namespace quarvel::utf8
