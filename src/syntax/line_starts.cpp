#include "syntax/line_starts.hpp"

#include <algorithm>
#include <cstring>

namespace quarvel {

LineStarts::LineStarts(std::string_view text) : text_(text) {
    const bool bom = text.size() >= 3 && static_cast<unsigned char>(text[0]) == 0xEF &&
                     static_cast<unsigned char>(text[1]) == 0xBB &&
                     static_cast<unsigned char>(text[2]) == 0xBF;
    starts_.reserve(text.size() / 32 + 1);
    starts_.push_back(bom ? 3 : 0);
    const char* p = text.data();
    const char* end = p + text.size();
    if (std::memchr(p, '\r', text.size()) == nullptr) {
        // The common text, without a CR: only LF ends lines.
        while (const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p))) {
            p = static_cast<const char*>(lf) + 1;
            starts_.push_back(static_cast<std::uint64_t>(p - text.data()));
        }
        return;
    }
    while (p < end) {
        // Most lines end in LF; look for a CR only where one could be.
        const char* lf = static_cast<const char*>(std::memchr(p, '\n', end - p));
        const char* stop = lf ? lf : end;
        for (const char* q = static_cast<const char*>(std::memchr(p, '\r', stop - p)); q;
             q = static_cast<const char*>(std::memchr(q + 1, '\r', stop - q - 1))) {
            if (q + 1 == lf) break;  // CR LF: one break, counted at the LF
            starts_.push_back(static_cast<std::uint64_t>(q + 1 - text.data()));
            if (q + 1 >= stop) break;
        }
        if (!lf) break;
        starts_.push_back(static_cast<std::uint64_t>(lf + 1 - text.data()));
        p = lf + 1;
    }
}

std::uint32_t LineStarts::line_of(std::uint64_t offset) const {
    auto it = std::upper_bound(starts_.begin(), starts_.end(), offset);
    if (it == starts_.begin()) return 0;
    return static_cast<std::uint32_t>(it - starts_.begin() - 1);
}

std::uint32_t LineStarts::column_of(std::uint32_t line, std::uint64_t offset) const {
    std::uint64_t i = starts_[line];
    const std::uint64_t stop = std::min<std::uint64_t>(offset, text_.size());
    std::uint32_t column = 0;
    for (; i < stop; ++i)
        if ((static_cast<unsigned char>(text_[i]) & 0xC0) != 0x80) ++column;
    return column;
}

}  // namespace quarvel
