// Where things stand in the text a tree was composed from. The tree keeps
// offsets and comment texts; the layout of the lines around them (blank
// lines, the "-" above an item, "---" and "..." lines, "? " before a key,
// the bracket closing a flow collection) is read back from the text itself
// so that re-emission can put it back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "roundtrip/emitter.hpp"
#include "syntax/node.hpp"

namespace quarvel::roundtrip {

// "---" opening a line, followed by a blank or the line's end.
bool is_marker_line(std::string_view line);

class SourceLayout {
  public:
    explicit SourceLayout(SourceText source) : text_(source.text), file_id_(source.file_id) {}

    std::string_view text() const { return text_; }
    // The node was read from this text.
    bool holds(const YamlNode& node) const {
        return node.span.file_id == file_id_ && node.span.offset <= text_.size();
    }
    // The view points into this text (texts of the tree usually do).
    bool contains(std::string_view piece) const;

    // Where a comment text stands: its '#', the start of its line, its end,
    // and whether only blanks come before it on that line.
    struct Located {
        std::size_t hash;
        std::size_t line_start;
        std::size_t end;
        bool standalone;
    };
    std::optional<Located> locate_comment(std::string_view comment) const;

    // Blank lines right above the line holding `offset`.
    std::uint32_t blank_lines_above(std::size_t offset) const;

    // Just past the bracket closing a flow collection of this text.
    std::optional<std::size_t> flow_end(const YamlNode& node) const;
    // The start of the "---" line opening the document of a root.
    std::optional<std::size_t> marker_line(const YamlNode& root) const;
    // The start of the "..." line closing the document of a root.
    std::optional<std::size_t> document_end(const YamlNode& root) const;
    // The key was written after "? ".
    bool explicit_key(const YamlNode& key) const;
    // The start of the line holding the "-" of a block collection item that
    // begins on a later line than its dash.
    std::optional<std::size_t> dash_above(const YamlNode& item) const;

    // Just past the last character of the node's text, its properties
    // included (a block scalar's ends after its last line break). Nothing
    // when the tree cannot tell: an empty node without properties stands at
    // the token after it.
    std::optional<std::size_t> exact_end(const YamlNode& node) const;
    // Where an entry "? k" without a value ends: past a ':' alone on the
    // next content line, at the column of its "?" ("? k\n:"), else with
    // its key.
    std::optional<std::size_t> explicit_entry_end(const YamlNode& key) const;
    // Where the node's text ended as read, also for a collection whose last
    // entry an edit removed or added after it.
    std::optional<std::size_t> end_as_read(const YamlNode& node) const;
    // `end` less the comment lines (and the blank lines among them) that
    // end the text before it, at columns up to `column`.
    std::size_t before_trailing_comments(std::size_t end, std::uint32_t column) const;
    // The start of the line holding `offset`.
    std::size_t line_start(std::size_t offset) const;
    // The start of the line after the one holding `end` (the end of the text
    // when there is none); `end` itself when it already starts a line.
    std::size_t line_after(std::size_t end) const;
    // The start of the first line at or after `from` (a line start) holding
    // more than blanks and a comment.
    std::size_t first_content_line(std::size_t from) const;
    // Between `from` and `to` (line starts) stand only blank and comment
    // lines, directives and document markers: nothing of a document's content.
    bool only_markers(std::size_t from, std::size_t to) const;

    // Just past the bracket closing the one at `open`, read from the text
    // alone (quoted scalars and comments skipped), whatever the tree holds now.
    std::optional<std::size_t> matching_bracket(std::size_t open) const;
    // Where the node's text begins, its properties included.
    std::size_t start_with_properties(const YamlNode& node) const;

  private:
    std::optional<std::size_t> properties_end(const YamlNode& node) const;

    std::string_view text_;
    std::uint32_t file_id_;
};

}  // namespace quarvel::roundtrip
