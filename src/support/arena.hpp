// Stable storage for text that cannot be a view into the input (escaped or
// folded scalars, strings taken from Python objects). Views handed out stay
// valid for the arena's lifetime, also across moves of the arena.
#pragma once

#include <cstddef>
#include <cstring>
#include <iterator>
#include <memory>
#include <new>
#include <string_view>
#include <type_traits>
#include <vector>

#include "support/copy_text.hpp"
#include "support/warm_memory.hpp"

namespace quarvel {

class Arena {
  public:
    Arena() = default;
    Arena(Arena&& other) noexcept
        : blocks_(std::move(other.blocks_)), used_(other.used_), capacity_(other.capacity_) {
        other.blocks_.clear();
        other.used_ = other.capacity_ = 0;
    }
    Arena& operator=(Arena&& other) noexcept {
        if (this != &other) {
            release_all();
            blocks_ = std::move(other.blocks_);
            used_ = other.used_;
            capacity_ = other.capacity_;
            other.blocks_.clear();
            other.used_ = other.capacity_ = 0;
        }
        return *this;
    }
    ~Arena() { release_all(); }
    Arena(const Arena&) = delete;
    Arena& operator=(const Arena&) = delete;

    std::string_view store(std::string_view text) {
        const std::size_t n = text.size();
        if (n == 0) return {};
        // Most texts are short: they go into the current block, without the
        // alignment arithmetic and without a call to memcpy.
        char* p = n <= kShortCopy && capacity_ - used_ >= n ? blocks_.back().data + used_ : nullptr;
        if (!p) {
            p = allocate(n);
            std::memcpy(p, text.data(), n);
            return {p, n};
        }
        used_ += n;
        copy_short(p, text.data(), n);
        return {p, n};
    }

    // Uninitialised room for `count` objects of a trivial type `T`, aligned
    // for it. std::bad_alloc when the size overflows or memory runs out.
    template <class T>
    T* allocate_array(std::size_t count) {
        static_assert(std::is_trivially_destructible_v<T> && alignof(T) <= 16);
        if (count == 0) return nullptr;
        if (count > (std::size_t{1} << 58) / sizeof(T)) throw std::bad_alloc();
        return reinterpret_cast<T*>(allocate(count * sizeof(T), alignof(T)));
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

    // Blocks come from the thread's warm memory (support/warm_memory.hpp).
    struct Block {
        char* data;
        std::size_t size;
    };

    char* allocate(std::size_t n, std::size_t align = 1) {
        if (n > kBlock / 4) {
            // Large texts get a block of their own so the current block keeps filling.
            blocks_.reserve(blocks_.size() + 1);
            blocks_.push_back(Block{static_cast<char*>(warm::allocate(n)), n});
            char* p = blocks_.back().data;
            if (blocks_.size() >= 2) std::swap(blocks_.back(), blocks_[blocks_.size() - 2]);
            return p;
        }
        // Blocks come from malloc, so an offset that is a multiple of `align`
        // is aligned; large texts and arrays have their own block.
        std::size_t at = (used_ + align - 1) / align * align;
        if (at > capacity_ || capacity_ - at < n) {
            blocks_.reserve(blocks_.size() + 1);
            blocks_.push_back(Block{static_cast<char*>(warm::allocate(kBlock)), kBlock});
            at = 0;
            capacity_ = kBlock;
        }
        used_ = at + n;
        return blocks_.back().data + at;
    }

    void release_all() noexcept {
        for (const Block& b : blocks_) warm::release(b.data, b.size);
        blocks_.clear();
    }

    std::vector<Block> blocks_;
    std::size_t used_ = 0;
    std::size_t capacity_ = 0;
};

}  // namespace quarvel
