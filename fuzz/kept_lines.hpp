// Untouched source lines survive an edit: every source line outside the
// lines the edits touched appears in the output, byte for byte and in the
// same order (other lines may come between them). Blank lines, spaces and
// tabs only, are left out.
#pragma once

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace quarvel::fuzz {

// The lines of a text without their breaks, numbered as the composer
// numbers them: a line ends at LF, CR LF or a CR alone.
inline std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find_first_of("\r\n", pos), text.size());
        lines.push_back(text.substr(pos, end - pos));
        pos = end + (text.substr(end, 2) == "\r\n" ? 2 : 1);
    }
    return lines;
}

// A line holding nothing but blanks or a comment.
inline bool comment_or_blank(std::string_view line) {
    const std::size_t at = line.find_first_not_of(" \t");
    return at == std::string_view::npos || line[at] == '#';
}

class TouchedLines {
  public:
    void add(std::uint32_t first, std::uint32_t last) { ranges_.push_back({first, last}); }

    bool touched(std::uint32_t line) const {
        for (const Range& r : ranges_)
            if (line >= r.first && line <= r.last) return true;
        return false;
    }

  private:
    struct Range {
        std::uint32_t first, last;
    };
    std::vector<Range> ranges_;
};

// The first untouched source line (0-based) that the output does not keep
// in order, or nullopt when all are kept.
inline std::optional<std::uint32_t> first_line_lost(std::string_view source,
                                                    std::string_view output,
                                                    const TouchedLines& touched) {
    const auto from = split_lines(source);
    const auto to = split_lines(output);
    std::size_t next = 0;
    for (std::uint32_t i = 0; i < from.size(); ++i) {
        // Blank lines are layout the emitter may write without their spaces.
        if (touched.touched(i) || from[i].find_first_not_of(" \t") == std::string_view::npos)
            continue;
        while (next < to.size() && to[next] != from[i]) ++next;
        if (next == to.size()) return i;
        ++next;
    }
    return std::nullopt;
}

}  // namespace quarvel::fuzz
