#include "syntax/compose.hpp"

namespace quarvel {

// Placeholder until comment attachment lands: every comment goes to the foot.
void attach_comments(std::vector<YamlNode>& roots, std::span<const Comment> comments,
                     std::string_view, const LineStarts&) {
    if (roots.empty()) return;
    for (const Comment& c : comments) roots.back().comments.text_fields().foot.push_back(c.text);
}

std::pair<std::uint32_t, std::uint32_t> approximate_end(const YamlNode& node) {
    return {node.span.line, node.span.column};
}

}  // namespace quarvel
