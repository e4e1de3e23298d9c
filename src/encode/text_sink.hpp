// A text written through a raw cursor, for the JSON writers and the YAML
// emitter.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

namespace quarvel {

// Appends to a std::string through a raw cursor: the string is grown ahead
// (without zero-filling) and cut back to the written length when done, so
// each write is a bounds check and a copy rather than a library call. The
// cursor and the end of the room are kept as pointers, so a check reads
// nothing of the string itself.
class TextSink {
  public:
    explicit TextSink(std::string& s)
        : s_(s), cursor_(s.data() + s.size()), end_(s.data() + s.size()) {}
    ~TextSink() { s_.resize(position()); }
    TextSink(const TextSink&) = delete;
    TextSink& operator=(const TextSink&) = delete;

    // At least n writable bytes at the cursor.
    char* room(std::size_t n) {
        if (static_cast<std::size_t>(end_ - cursor_) < n) [[unlikely]]
            grow(n);
        return cursor_;
    }
    void commit(char* end) { cursor_ = end; }
    void put(char c) { *room(1) = c, ++cursor_; }
    void put(std::string_view t) {
        std::memcpy(room(t.size()), t.data(), t.size());
        cursor_ += t.size();
    }
    void spaces(std::size_t n) {
        std::memset(room(n), ' ', n);
        cursor_ += n;
    }
    void fill(std::size_t n, char c) {
        std::memset(room(n), c, n);
        cursor_ += n;
    }
    std::size_t position() const { return static_cast<std::size_t>(cursor_ - s_.data()); }
    void truncate(std::size_t pos) { cursor_ = s_.data() + pos; }

    // What was written so far.
    std::string_view written() const { return {s_.data(), position()}; }

    // Writes `t` at `pos` of what was written, moving what follows it on.
    void insert(std::size_t pos, std::string_view t) {
        room(t.size());
        char* at = s_.data() + pos;
        std::memmove(at + t.size(), at, static_cast<std::size_t>(cursor_ - at));
        std::memcpy(at, t.data(), t.size());
        cursor_ += t.size();
    }

    // Hands the text to `append` as a std::string, for writers that take
    // one, and goes on after what it appended.
    template <class Append>
    void append_to_string(Append&& append) {
        s_.resize(position());
        append(s_);
        const std::size_t pos = s_.size();
        s_.resize_and_overwrite(std::max(s_.capacity(), pos),
                                [](char*, std::size_t k) { return k; });
        cursor_ = s_.data() + pos;
        end_ = s_.data() + s_.size();
    }

  private:
    [[gnu::noinline]] void grow(std::size_t n) {
        const std::size_t pos = position();
        // Use the capacity already there before doubling it.
        std::size_t want = std::max(pos + n, s_.capacity());
        if (want == pos + n) want = std::max(s_.capacity() * 2, pos + n + 256);
        s_.resize_and_overwrite(want, [](char*, std::size_t k) { return k; });
        cursor_ = s_.data() + pos;
        end_ = s_.data() + s_.size();
    }

    std::string& s_;
    char* cursor_;
    char* end_;
};

}  // namespace quarvel
