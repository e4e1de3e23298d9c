// Byte offsets at which each line of a text begins, for turning offsets into
// line and column without rescanning the text.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace quarvel {

class LineStarts {
  public:
    // Entry 0 is 0, or 3 after a leading byte order mark; a new line begins
    // after every LF, every CR LF pair and every CR not followed by LF.
    explicit LineStarts(std::string_view text);

    std::size_t count() const { return starts_.size(); }
    std::uint64_t start(std::uint32_t line) const { return starts_[line]; }
    // The line holding `offset`: the last start not greater than it.
    std::uint32_t line_of(std::uint64_t offset) const;
    // Characters (UTF-8 lead bytes) from the start of `line` to `offset`.
    std::uint32_t column_of(std::uint32_t line, std::uint64_t offset) const;

  private:
    std::string_view text_;
    std::vector<std::uint64_t> starts_;
};

}  // namespace quarvel
