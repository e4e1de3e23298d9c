// The lines of a text (split at line feeds, without them), for tests that
// compare texts line by line.
#pragma once

#include <string_view>
#include <vector>

namespace quarvel::check {

inline std::vector<std::string_view> split_lines(std::string_view s) {
    std::vector<std::string_view> lines;
    for (std::size_t pos = 0; pos < s.size();) {
        std::size_t end = s.find('\n', pos);
        if (end == std::string_view::npos) end = s.size();
        lines.push_back(s.substr(pos, end - pos));
        pos = end + 1;
    }
    return lines;
}

}  // namespace quarvel::check
