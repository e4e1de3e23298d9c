// Value trees to JSON text, compact or indented, in one pass into one buffer.
#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "encode/emitter.hpp"
#include "support/float_format.hpp"
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

// Appends to a std::string through a raw cursor: the string is grown ahead
// (without zero-filling) and cut back to the written length when done, so
// each write is a bounds check and a copy rather than a library call.
class Sink {
  public:
    explicit Sink(std::string& s) : s_(s), pos_(s.size()) {}
    ~Sink() { s_.resize(pos_); }
    Sink(const Sink&) = delete;
    Sink& operator=(const Sink&) = delete;

    // At least n writable bytes at the cursor.
    char* room(std::size_t n) {
        if (s_.size() - pos_ < n) [[unlikely]]
            grow(n);
        return s_.data() + pos_;
    }
    void commit(char* end) { pos_ = static_cast<std::size_t>(end - s_.data()); }
    void put(char c) { *room(1) = c, ++pos_; }
    void put(std::string_view t) {
        std::memcpy(room(t.size()), t.data(), t.size());
        pos_ += t.size();
    }
    void spaces(std::size_t n) {
        std::memset(room(n), ' ', n);
        pos_ += n;
    }
    std::size_t position() const { return pos_; }
    void truncate(std::size_t pos) { pos_ = pos; }

  private:
    [[gnu::noinline]] void grow(std::size_t n) {
        // Use the capacity already there before doubling it.
        std::size_t want = std::max(pos_ + n, s_.capacity());
        if (want == pos_ + n) want = std::max(s_.capacity() * 2, pos_ + n + 256);
        s_.resize_and_overwrite(want, [](char*, std::size_t k) { return k; });
    }

    std::string& s_;
    std::size_t pos_;
};

void put_int(std::int64_t i, Sink& out) {
    char* p = out.room(24);
    out.commit(std::to_chars(p, p + 24, i).ptr);
}

void put_float(double x, Sink& out);
void put_string(std::string_view text, Sink& out);

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
        case ValueKind::Int: {
            char buf[24];
            out.append(buf, std::to_chars(buf, buf + sizeof buf, k.integer).ptr);
            return true;
        }
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

    std::size_t position() const { return out_.position(); }
    void truncate(std::size_t pos) { out_.truncate(pos); }

    bool write(const YamlValue& value, std::size_t depth) {
        const YamlValue& v = untag(value);
        switch (v.kind) {
            case ValueKind::Null:
                out_.put("null");
                return true;
            case ValueKind::Bool:
                out_.put(v.boolean ? std::string_view("true") : std::string_view("false"));
                return true;
            case ValueKind::Int:
                put_int(v.integer, out_);
                return true;
            case ValueKind::BigInt:
                out_.put(v.text);
                return true;
            case ValueKind::Float:
                put_float(v.real, out_);
                return true;
            case ValueKind::String:
                put_string(v.text, out_);
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

    void line_break(std::size_t depth) {
        out_.put('\n');
        out_.spaces(depth * settings_.indent);
    }

    void open_member(bool first, std::size_t depth) {
        if (!first) out_.put(',');
        if (settings_.indent != 0) line_break(depth + 1);
    }

    void close(char bracket, std::size_t depth) {
        if (settings_.indent != 0) line_break(depth);
        out_.put(bracket);
    }

    void key_separator() {
        if (settings_.indent != 0) {
            out_.put(": ");
        } else {
            out_.put(':');
        }
    }

    bool write_sequence(const YamlValue& v, std::size_t depth) {
        if (v.children.empty()) {
            out_.put("[]");
            return true;
        }
        out_.put('[');
        const std::vector<YamlValue>& items = v.children;
        for (std::size_t i = 0; i < items.size(); ++i) {
            // Each nested container lives in its own allocation; fetching the
            // next one early hides most of the cache miss.
            if (i + 1 < items.size()) __builtin_prefetch(items[i + 1].children.data());
            open_member(i == 0, depth);
            if (!write_child(items[i], depth + 1)) return false;
        }
        close(']', depth);
        return true;
    }

    bool write_key(const YamlValue& key) {
        const YamlValue& k = untag(key);
        if (k.kind == ValueKind::String) {
            put_string(k.text, out_);
            return true;
        }
        scratch_.clear();
        if (!key_text(k, scratch_)) return false;
        put_string(scratch_, out_);
        return true;
    }

    bool write_mapping(const YamlValue& v, std::size_t depth) {
        std::size_t n = v.map_size();
        if (n == 0) {
            out_.put("{}");
            return true;
        }
        if (settings_.sort_keys && n >= 2) return write_sorted_mapping(v, depth);
        out_.put('{');
        for (std::size_t i = 0; i < n; ++i) {
            open_member(i == 0, depth);
            if (!write_key(v.key(i))) return false;
            key_separator();
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
        out_.put('{');
        bool first = true;
        for (const Member& m : members) {
            open_member(first, depth);
            first = false;
            put_string(text_of(m), out_);
            key_separator();
            if (!write_child(*m.value, depth + 1)) return false;
        }
        close('}', depth);
        return true;
    }

    const JsonSettings& settings_;
    Sink out_;
    std::string scratch_;
};

void put_float(double x, Sink& out) {
    if (!std::isfinite(x)) {
        out.put("null");
        return;
    }
    char digits[kMaxFloatDigits];
    FloatShape shape;
    shortest_digits(x, digits, shape);
    out.commit(write_positional(shape, digits, out.room(kMaxPositionalFloat)));
}

// Escapes [p, stop) into dst, which has room for 6 bytes per input byte
// (a U+2028 sequence may run up to two bytes past `stop`, within `end`).
// Returns the input position reached.
const char* escape_run(const char* p, const char* stop, const char* end, char*& dst) {
    static constexpr char kHex[] = "0123456789abcdef";
    char* d = dst;
    while (p < stop) {
        const char* run = p;
        while (stop - p >= 8 && !word_may_need_escape(p)) p += 8;
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

void put_string(std::string_view text, Sink& out) {
    // Long texts go in chunks so the worst-case room stays small.
    constexpr std::size_t kChunk = 4096;
    const char* p = text.data();
    const char* end = p + text.size();
    out.put('"');
    while (p < end) {
        const char* stop = end - p > static_cast<std::ptrdiff_t>(kChunk) ? p + kChunk : end;
        char* dst = out.room(6 * (static_cast<std::size_t>(stop - p) + 2));
        p = escape_run(p, stop, end, dst);
        out.commit(dst);
    }
    out.put('"');
}

}  // namespace

Status write_json(const YamlValue& root, const JsonSettings& settings, std::string& out) {
    bool ok;
    {
        JsonWriter writer(settings, out);
        std::size_t start = writer.position();
        ok = writer.write(root, 0);
        // Whatever was written before the failure is dropped.
        if (!ok) writer.truncate(start);
    }
    if (!ok && stack_exhausted()) return fail(stack_exhausted_error());
    if (!ok) return fail(Error::conversion(std::string(kCollectionKey), conversion_kind::encode));
    return {};
}

void json_float(double x, std::string& out) {
    Sink sink(out);
    put_float(x, sink);
}

void json_string(std::string_view text, std::string& out) {
    Sink sink(out);
    put_string(text, sink);
}

}  // namespace quarvel
