// Stable storage for text that cannot be a view into the input (escaped or
// folded scalars, strings taken from Python objects). Views handed out stay
// valid for the arena's lifetime, also across moves of the arena.
#pragma once

#include <cstddef>
#include <cstring>
#include <iterator>
#include <memory>
#include <string_view>
#include <vector>

namespace quarvel {

class Arena {
  public:
    Arena() = default;
    Arena(Arena&&) noexcept = default;
    Arena& operator=(Arena&&) noexcept = default;
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    std::string_view store(std::string_view text) {
        if (text.empty()) return {};
        char* p = allocate(text.size());
        std::memcpy(p, text.data(), text.size());
        return {p, text.size()};
    }

    // Moves every block of `other` into this arena; views into it stay valid.
    // Allocation goes on in the last block, so this arena's current block
    // stays last; an empty arena takes over `other`'s current block instead.
    void adopt(Arena&& other) {
        if (blocks_.empty()) {
            blocks_ = std::move(other.blocks_);
            used_ = other.used_;
            capacity_ = other.capacity_;
        } else {
            blocks_.insert(blocks_.end() - 1, std::make_move_iterator(other.blocks_.begin()),
                           std::make_move_iterator(other.blocks_.end()));
        }
        other.blocks_.clear();
        other.used_ = other.capacity_ = 0;
    }

  private:
    static constexpr std::size_t kBlock = 64 * 1024;

    char* allocate(std::size_t n) {
        if (n > kBlock / 4) {
            // Large texts get a block of their own so the current block keeps filling.
            blocks_.emplace_back(new char[n]);
            char* p = blocks_.back().get();
            if (blocks_.size() >= 2) std::swap(blocks_.back(), blocks_[blocks_.size() - 2]);
            return p;
        }
        if (capacity_ - used_ < n) {
            blocks_.emplace_back(new char[kBlock]);
            used_ = 0;
            capacity_ = kBlock;
        }
        char* p = blocks_.back().get() + used_;
        used_ += n;
        return p;
    }

    std::vector<std::unique_ptr<char[]>> blocks_;
    std::size_t used_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace quarvel
