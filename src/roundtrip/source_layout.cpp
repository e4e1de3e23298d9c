#include "roundtrip/source_layout.hpp"

#include <algorithm>

namespace quarvel::roundtrip {

bool is_marker_line(std::string_view line) {
    return line.starts_with("---") &&
           (line.size() == 3 || line[3] == ' ' || line[3] == '\t' || line[3] == '\r');
}

// Blank lines right above the line a node starts on, in the known text: the
// gap between a node's head comments and the node.
std::uint32_t SourceLayout::blank_lines_above(std::size_t offset) const {
    const std::string_view text = text_;
    if (offset == 0 || offset > text.size()) return 0;
    std::size_t line_start = text.rfind('\n', offset - 1);
    if (line_start == std::string_view::npos) return 0;
    std::uint32_t blank = 0;
    while (true) {
        const std::size_t prev =
            line_start == 0 ? std::string_view::npos : text.rfind('\n', line_start - 1);
        const std::size_t from = prev == std::string_view::npos ? 0 : prev + 1;
        const std::string_view line = text.substr(from, line_start - from);
        if (line.find_first_not_of(" \t\r") != std::string_view::npos) break;
        ++blank;
        if (prev == std::string_view::npos) break;
        line_start = prev;
    }
    return blank;
}

// Just past the bracket that closes a flow collection of the known source.
// The collection's end is its last scalar's; only blanks, separators,
// indicators, comments, properties and the brackets of the collections
// along its last entries can follow. Anything else gives up.
std::optional<std::size_t> SourceLayout::flow_end(const YamlNode& node) const {
    const std::string_view text = text_;
    // The scan starts at the furthest end along the chain of last children:
    // a flow pair's end can lie before its value ("[: [x]]" ends at its empty
    // key), and with it every end above it.
    int open = 0;
    std::size_t pos = node.end_offset;
    const YamlNode* n = &node;
    for (; n->is_collection() && !n->children.empty(); n = &n->children.back()) {
        if (!is_flow_pair(*n)) ++open;
        pos = std::max<std::size_t>(pos, n->end_offset);
    }
    pos = std::max<std::size_t>(pos, n->end_offset);
    while (pos < text.size()) {
        const char c = text[pos];
        if (c == ']' || c == '}') {
            if (--open == 0) return pos + 1;
            ++pos;
        } else if (c == '[' || c == '{') {
            ++open;
            ++pos;
        } else if (c == '#') {
            pos = text.find('\n', pos);
        } else if (c == '!' || c == '&') {
            pos = text.find_first_of(" \t\r\n,[]{}", pos);
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == ':' ||
                   c == '?') {
            ++pos;
        } else {
            return {};
        }
    }
    return {};
}

std::optional<SourceLayout::Located> SourceLayout::locate_comment(std::string_view comment) const {
    if (!contains(comment)) return {};
    const std::string_view text = text_;
    std::size_t hash = static_cast<std::size_t>(comment.data() - text.data());
    const std::size_t end = hash + comment.size();
    while (hash > 0 && (text[hash - 1] == ' ' || text[hash - 1] == '\t')) --hash;
    if (hash == 0 || text[hash - 1] != '#') return {};
    --hash;
    const std::size_t nl = hash == 0 ? std::string_view::npos : text.rfind('\n', hash - 1);
    const std::size_t line_start = nl == std::string_view::npos ? 0 : nl + 1;
    const bool standalone = text.substr(line_start, hash - line_start).find_first_not_of(" \t") ==
                            std::string_view::npos;
    return Located{hash, line_start, end, standalone};
}

// The start of a "..." line after the node in the known source, with only
// blank and comment lines between.
std::optional<std::size_t> SourceLayout::document_end(const YamlNode& node) const {
    if (!holds(node)) return {};
    const std::string_view text = text_;
    std::size_t pos = node.end_offset;
    if (pos > text.size()) return {};
    if (pos > 0 && text[pos - 1] != '\n') {
        pos = text.find('\n', pos);
        if (pos == std::string_view::npos) return {};
        ++pos;
    }
    while (pos < text.size()) {
        const std::size_t end = std::min(text.find('\n', pos), text.size());
        const std::string_view line = text.substr(pos, end - pos);
        if (line.starts_with("...") &&
            (line.size() == 3 || line[3] == ' ' || line[3] == '\t' || line[3] == '\r'))
            return pos;
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (first != std::string_view::npos && line[first] != '#') return {};
        pos = end + 1;
    }
    return {};
}

// A key the source wrote after "? " keeps that form.
bool SourceLayout::explicit_key(const YamlNode& key) const {
    if (!holds(key)) return false;
    const std::string_view text = text_;
    if (key.span.offset == 0 || key.span.offset > text.size()) return false;
    const std::size_t nl = text.rfind('\n', key.span.offset - 1);
    const std::size_t start = nl == std::string_view::npos ? 0 : nl + 1;
    const std::string_view prefix = text.substr(start, key.span.offset - start);
    const std::size_t q = prefix.find('?');
    return q != std::string_view::npos && q + 1 < prefix.size() &&
           (prefix[q + 1] == ' ' || prefix[q + 1] == '\t') &&
           prefix.substr(0, q).find_first_not_of(" -\t") == std::string_view::npos;
}

// The start of the "---" line that opens the document of a root, when the
// known source has it above the root with only comments and blank lines
// between.
namespace {

// "!t &a # c": a line of node properties, which belong to the node below
// them (one an edit replaced has lost them).
bool only_properties(std::string_view line) {
    std::size_t pos = 0;
    while (true) {
        pos = line.find_first_not_of(" \t\r", pos);
        if (pos == std::string_view::npos || line[pos] == '#') return true;
        if (line[pos] != '!' && line[pos] != '&') return false;
        pos = line.find_first_of(" \t", pos);
        if (pos == std::string_view::npos) return true;
    }
}

}  // namespace

std::optional<std::size_t> SourceLayout::marker_line(const YamlNode& node) const {
    if (!holds(node)) return {};
    const std::string_view text = text_;
    // Properties may stand on lines of their own above the content.
    const std::size_t from = start_with_properties(node);
    std::size_t pos = from;
    bool own_line = true;
    while (true) {
        const std::size_t nl = pos == 0 ? std::string_view::npos : text.rfind('\n', pos - 1);
        const std::size_t start = nl == std::string_view::npos ? 0 : nl + 1;
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line = text.substr(start, end - start);
        // A root without content sits at the token that ended it, which can
        // be the next document's "---" at the start of its line: that marker
        // opens the next document, not this one.
        const bool next_documents = own_line && from == start;
        if ((is_marker_line(line) || line == "---") && !next_documents) return start;
        const std::size_t first = line.find_first_not_of(" \t\r");
        if (!own_line && first != std::string_view::npos && line[first] != '#' &&
            !only_properties(line))
            return {};
        if (start == 0) return {};
        own_line = false;
        pos = start - 1;
    }
}

bool SourceLayout::contains(std::string_view piece) const {
    const auto base = reinterpret_cast<std::uintptr_t>(text_.data());
    const auto at = reinterpret_cast<std::uintptr_t>(piece.data());
    return at >= base && at + piece.size() <= base + text_.size();
}

// The start of the line holding the dash of a block collection item that
// the source wrote below that dash ("-" then the entries on later lines),
// with only blank and comment lines between.
std::optional<std::size_t> SourceLayout::dash_above(const YamlNode& item) const {
    if (!holds(item)) return {};
    const std::string_view text = text_;
    if (item.span.offset > text.size()) return {};
    std::size_t nl =
        item.span.offset == 0 ? std::string_view::npos : text.rfind('\n', item.span.offset - 1);
    std::size_t start = nl == std::string_view::npos ? 0 : nl + 1;
    // The item must open its own line.
    if (text.substr(start, item.span.offset - start).find_first_not_of(' ') !=
        std::string_view::npos)
        return {};
    while (start > 0) {
        // The line before the one at `start` ends at start - 1.
        nl = start >= 2 ? text.rfind('\n', start - 2) : std::string_view::npos;
        const std::size_t from = nl == std::string_view::npos ? 0 : nl + 1;
        const std::string_view line = text.substr(from, start - 1 - from);
        const std::size_t first = line.find_first_not_of(" \t\r");
        start = from;
        if (first == std::string_view::npos || line[first] == '#') continue;
        if (line[first] != '-') return {};
        // After the dash only properties and a comment may follow.
        std::size_t pos = first + 1;
        while (pos < line.size()) {
            const char c = line[pos];
            if (c == ' ' || c == '\t' || c == '\r') {
                ++pos;
            } else if (c == '#') {
                return from;
            } else if (c == '&' || c == '!') {
                pos = std::min(line.find_first_of(" \t\r", pos), line.size());
            } else {
                return {};
            }
        }
        return from;
    }
    return {};
}

}  // namespace quarvel::roundtrip
