// The JSON output buffer and the spellings of JSON scalars, shared by the
// writer of value trees and the direct writer of Python objects.
#pragma once

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace quarvel {

// Appends to a std::string through a raw cursor: the string is grown ahead
// (without zero-filling) and cut back to the written length when done, so
// each write is a bounds check and a copy rather than a library call.
class JsonSink {
  public:
    explicit JsonSink(std::string& s) : s_(s), pos_(s.size()) {}
    ~JsonSink() { s_.resize(pos_); }
    JsonSink(const JsonSink&) = delete;
    JsonSink& operator=(const JsonSink&) = delete;

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

inline void put_json_int(std::int64_t i, JsonSink& out) {
    char* p = out.room(24);
    out.commit(std::to_chars(p, p + 24, i).ptr);
}

// NaN and the infinities as null; else the shortest digits that read back,
// positional, with ".0" when they would read as an integer.
void put_json_float(double x, JsonSink& out);

// A double-quoted JSON string of UTF-8 text.
void put_json_string(std::string_view text, JsonSink& out);

// The layout between members: compact, or indented by `indent` spaces per level.
struct JsonLayout {
    unsigned indent = 0;

    void line_break(JsonSink& out, std::size_t depth) const {
        out.put('\n');
        out.spaces(depth * indent);
    }
    void open_member(JsonSink& out, bool first, std::size_t depth) const {
        if (!first) out.put(',');
        if (indent != 0) line_break(out, depth + 1);
    }
    void close(JsonSink& out, char bracket, std::size_t depth) const {
        if (indent != 0) line_break(out, depth);
        out.put(bracket);
    }
    void key_separator(JsonSink& out) const {
        if (indent != 0) {
            out.put(": ");
        } else {
            out.put(':');
        }
    }
};

}  // namespace quarvel
