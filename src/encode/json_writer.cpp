// Value trees to JSON text, compact or indented, in one pass into one buffer.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "encode/emitter.hpp"
#include "support/stack.hpp"

namespace quarvel {
namespace {

constexpr std::string_view kCollectionKey = "a collection cannot be a JSON object key";

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

constexpr std::uint64_t has_zero_byte(std::uint64_t w) { return (w - kOnes) & ~w & kHighs; }

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

void append_int(std::int64_t i, std::string& out) {
    char buf[24];
    auto r = std::to_chars(buf, buf + sizeof buf, i);
    out.append(buf, r.ptr);
}

void append_indent(const JsonSettings& settings, std::size_t depth, std::string& out) {
    out.push_back('\n');
    out.append(depth * settings.indent, ' ');
}

const YamlValue& untag(const YamlValue& v) {
    const YamlValue* p = &v;
    while (p->kind == ValueKind::Tagged) p = &p->inner();
    return *p;
}

// The text of a scalar key; false for a collection.
bool key_text(const YamlValue& key, std::string& out) {
    const YamlValue& k = untag(key);
    switch (k.kind) {
        case ValueKind::Null:
            out.append("null");
            return true;
        case ValueKind::Bool:
            out.append(k.boolean ? "true" : "false");
            return true;
        case ValueKind::Int:
            append_int(k.integer, out);
            return true;
        case ValueKind::Float:
            json_float(k.real, out);
            return true;
        case ValueKind::BigInt:
        case ValueKind::String:
            out.append(k.text);
            return true;
        default:
            return false;
    }
}

class JsonWriter {
public:
    JsonWriter(const JsonSettings& settings, std::string& out) : settings_(settings), out_(out) {}

    bool write(const YamlValue& value, std::size_t depth) {
        const YamlValue& v = untag(value);
        switch (v.kind) {
            case ValueKind::Null:
                out_.append("null");
                return true;
            case ValueKind::Bool:
                out_.append(v.boolean ? "true" : "false");
                return true;
            case ValueKind::Int:
                append_int(v.integer, out_);
                return true;
            case ValueKind::BigInt:
                out_.append(v.text);
                return true;
            case ValueKind::Float:
                json_float(v.real, out_);
                return true;
            case ValueKind::String:
                json_string(v.text, out_);
                return true;
            case ValueKind::Sequence:
                return write_sequence(v, depth);
            case ValueKind::Mapping:
                return write_mapping(v, depth);
            case ValueKind::Tagged:
                break;
        }
        return true;
    }

private:
    bool write_child(const YamlValue& child, std::size_t depth) {
        if (child.is_collection() || child.kind == ValueKind::Tagged) {
            return ensure_stack([&] { return write(child, depth); });
        }
        return write(child, depth);
    }

    void open_member(bool first, std::size_t depth) {
        if (!first) out_.push_back(',');
        if (settings_.indent != 0) append_indent(settings_, depth + 1, out_);
    }

    void close(char bracket, std::size_t depth) {
        if (settings_.indent != 0) append_indent(settings_, depth, out_);
        out_.push_back(bracket);
    }

    void write_key_separator() {
        out_.push_back(':');
        if (settings_.indent != 0) out_.push_back(' ');
    }

    bool write_sequence(const YamlValue& v, std::size_t depth) {
        if (v.children.empty()) {
            out_.append("[]");
            return true;
        }
        out_.push_back('[');
        bool first = true;
        for (const YamlValue& item : v.children) {
            open_member(first, depth);
            first = false;
            if (!write_child(item, depth + 1)) return false;
        }
        close(']', depth);
        return true;
    }

    bool write_key(const YamlValue& key) {
        const YamlValue& k = untag(key);
        if (k.kind == ValueKind::String) {
            json_string(k.text, out_);
            return true;
        }
        scratch_.clear();
        if (!key_text(k, scratch_)) return false;
        json_string(scratch_, out_);
        return true;
    }

    bool write_mapping(const YamlValue& v, std::size_t depth) {
        std::size_t n = v.map_size();
        if (n == 0) {
            out_.append("{}");
            return true;
        }
        if (settings_.sort_keys && n >= 2) return write_sorted_mapping(v, depth);
        out_.push_back('{');
        for (std::size_t i = 0; i < n; ++i) {
            open_member(i == 0, depth);
            if (!write_key(v.key(i))) return false;
            write_key_separator();
            if (!write_child(v.value(i), depth + 1)) return false;
        }
        close('}', depth);
        return true;
    }

    struct Member {
        std::size_t offset;
        std::size_t length;
        const YamlValue* value;
    };

    // Key texts go into one buffer for the whole object; sorting moves only
    // the small member records.
    bool write_sorted_mapping(const YamlValue& v, std::size_t depth) {
        std::size_t n = v.map_size();
        std::string keys;
        std::vector<Member> members;
        members.reserve(n);
        for (std::size_t i = 0; i < n; ++i) {
            std::size_t start = keys.size();
            if (!key_text(v.key(i), keys)) return false;
            members.push_back({start, keys.size() - start, &v.value(i)});
        }
        auto text_of = [&keys](const Member& m) {
            return std::string_view(keys).substr(m.offset, m.length);
        };
        // char_traits<char> compares as unsigned char: bytewise, a prefix first.
        std::stable_sort(members.begin(), members.end(),
                         [&](const Member& a, const Member& b) { return text_of(a) < text_of(b); });
        out_.push_back('{');
        bool first = true;
        for (const Member& m : members) {
            open_member(first, depth);
            first = false;
            json_string(text_of(m), out_);
            write_key_separator();
            if (!write_child(*m.value, depth + 1)) return false;
        }
        close('}', depth);
        return true;
    }

    const JsonSettings& settings_;
    std::string& out_;
    std::string scratch_;
};

}  // namespace

Status write_json(const YamlValue& root, const JsonSettings& settings, std::string& out) {
    std::size_t start = out.size();
    JsonWriter writer(settings, out);
    if (!writer.write(root, 0)) {
        out.resize(start);
        return fail(Error::conversion(std::string(kCollectionKey), conversion_kind::encode));
    }
    return {};
}

void json_float(double x, std::string& out) {
    if (!std::isfinite(x)) {
        out.append("null");
        return;
    }
    // Shortest round-trip digits come from the scientific form; they are then
    // laid out positionally (fixed notation in to_chars would print the exact
    // binary value of large numbers instead of the shortest digits).
    char sci[32];
    auto r = std::to_chars(sci, sci + sizeof sci, x, std::chars_format::scientific);
    std::string_view s(sci, static_cast<std::size_t>(r.ptr - sci));
    if (s[0] == '-') {
        out.push_back('-');
        s.remove_prefix(1);
    }
    std::size_t e_pos = s.find('e');
    int exponent = 0;
    std::from_chars(s.data() + e_pos + 1 + (s[e_pos + 1] == '+'), s.data() + s.size(), exponent);
    char digits[20];
    std::size_t count = 0;
    for (std::size_t i = 0; i < e_pos; ++i) {
        if (s[i] != '.') digits[count++] = s[i];
    }
    std::string_view d(digits, count);
    if (exponent < 0) {
        out.append("0.");
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out.append(d);
        return;
    }
    auto int_len = static_cast<std::size_t>(exponent) + 1;
    if (int_len >= count) {
        out.append(d);
        out.append(int_len - count, '0');
        out.append(".0");
    } else {
        out.append(d.substr(0, int_len));
        out.push_back('.');
        out.append(d.substr(int_len));
    }
}

void json_string(std::string_view text, std::string& out) {
    static constexpr char kHex[] = "0123456789abcdef";
    out.reserve(out.size() + text.size() + 2);
    out.push_back('"');
    const char* p = text.data();
    const char* end = p + text.size();
    const char* run = p;
    for (;;) {
        while (end - p >= 8 && !word_may_need_escape(p)) p += 8;
        while (p != end && kEscape[static_cast<unsigned char>(*p)] == 0) ++p;
        if (p == end) break;
        unsigned char code = kEscape[static_cast<unsigned char>(*p)];
        if (code == 2) {
            // U+2028 and U+2029 (E2 80 A8/A9) end statements in JavaScript.
            if (end - p >= 3 && static_cast<unsigned char>(p[1]) == 0x80 &&
                (static_cast<unsigned char>(p[2]) == 0xA8 || static_cast<unsigned char>(p[2]) == 0xA9)) {
                out.append(run, p);
                out.append(p[2] == '\xA8' ? "\\u2028" : "\\u2029");
                p += 3;
                run = p;
            } else {
                ++p;
            }
            continue;
        }
        out.append(run, p);
        if (code == 1) {
            char u[6] = {'\\', 'u', '0', '0', kHex[(*p >> 4) & 0xF], kHex[*p & 0xF]};
            out.append(u, sizeof u);
        } else {
            out.push_back('\\');
            out.push_back(static_cast<char>(code));
        }
        ++p;
        run = p;
    }
    out.append(run, p);
    out.push_back('"');
}

}  // namespace quarvel
