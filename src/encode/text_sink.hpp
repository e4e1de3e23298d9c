// A text written through a raw cursor, for the JSON writers and the YAML
// emitter.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "support/copy_text.hpp"

namespace quarvel {

// The memory a TextSink writes into: one block, filled from its start, that
// the sink asks to grow when it is full and tells its length when done. A
// std::string is one; the binding writes straight into the bytes object it
// returns, so that the text is never copied out of a buffer.
class TextStore {
  public:
    // Grows the block to at least `size` bytes, keeping its first `used`,
    // and by as much more as the store sees fit. Returns the block's start
    // and sets `size` to the bytes it now has. Throws std::bad_alloc when
    // there is no memory.
    virtual char* grow(std::size_t used, std::size_t& size) = 0;
    // The text is `used` bytes long and done.
    virtual void finish(std::size_t used) = 0;

  protected:
    ~TextStore() = default;
};

// A std::string as a store: its size is its room, cut back when done. It
// grows into the capacity it already has (a buffer kept from an earlier call)
// before it asks for more, and then at least doubles, so that a text written
// in small pieces is moved a bounded number of times.
class StringStore final : public TextStore {
  public:
    StringStore() = default;
    explicit StringStore(std::string& s) : s_(&s) {}
    char* grow(std::size_t, std::size_t& size) override {
        size = std::max({size + 256, s_->size() * 2, s_->capacity()});
        s_->resize_and_overwrite(size, [](char*, std::size_t k) { return k; });
        return s_->data();
    }
    void finish(std::size_t used) override { s_->resize(used); }
    std::string& text() { return *s_; }

  private:
    std::string* s_ = nullptr;
};

// Appends to a text store through a raw cursor: the store is grown ahead
// (without zero-filling) and cut back to the written length when done, so
// each write is a bounds check and a copy rather than a library call. The
// cursor and the end of the room are kept as pointers, so a check reads
// nothing of the store itself.
class TextSink {
  public:
    // Appends to `s`.
    explicit TextSink(std::string& s)
        : string_store_(s),
          store_(&string_store_),
          begin_(s.data()),
          cursor_(s.data() + s.size()),
          end_(s.data() + s.size()) {}
    // Writes into `store` from its start; nothing is allocated before the
    // first write.
    explicit TextSink(TextStore& store)
        : string_store_(), store_(&store), begin_(nullptr), cursor_(nullptr), end_(nullptr) {}
    ~TextSink() { store_->finish(position()); }
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
        copy_text(room(t.size()), t.data(), t.size());
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
    std::size_t position() const { return static_cast<std::size_t>(cursor_ - begin_); }
    void truncate(std::size_t pos) { cursor_ = begin_ + pos; }

    // What was written so far.
    std::string_view written() const { return {begin_, position()}; }

    // Writes `t` at `pos` of what was written, moving what follows it on.
    void insert(std::size_t pos, std::string_view t) {
        room(t.size());
        char* at = begin_ + pos;
        std::memmove(at + t.size(), at, static_cast<std::size_t>(cursor_ - at));
        std::memcpy(at, t.data(), t.size());
        cursor_ += t.size();
    }

    // Hands the text to `append` as a std::string, for writers that take
    // one, and goes on after what it appended. Only for a sink that appends
    // to a std::string.
    template <class Append>
    void append_to_string(Append&& append) {
        std::string& s = string_store_.text();
        s.resize(position());
        append(s);
        const std::size_t pos = s.size();
        s.resize_and_overwrite(std::max(s.capacity(), pos), [](char*, std::size_t k) { return k; });
        begin_ = s.data();
        cursor_ = begin_ + pos;
        end_ = begin_ + s.size();
    }

  private:
    [[gnu::noinline]] void grow(std::size_t n) {
        const std::size_t pos = position();
        std::size_t size = pos + n;
        begin_ = store_->grow(pos, size);
        cursor_ = begin_ + pos;
        end_ = begin_ + size;
    }

    StringStore string_store_;
    TextStore* store_;
    char* begin_;
    char* cursor_;
    char* end_;
};

}  // namespace quarvel
