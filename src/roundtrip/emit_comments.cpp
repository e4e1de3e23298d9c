// Comments and blank lines: a comment of the known source is written as it
// stands there (its spacing after '#', its column when it stood apart from
// its node); blank lines are counted again from the source. A comment line
// never lands where it would become content of a block scalar.
#include "roundtrip/emit_writer.hpp"

namespace quarvel::roundtrip::emit {

// Notes the block scalar just written from `start`: where it ends, and
// whether its header keeps trailing empty lines as content.
void Writer::ended_block(std::size_t start) {
    block_end_ = out_.size();
    const std::string_view written(out_.data() + start, out_.size() - start);
    std::string_view header = written.substr(0, written.find('\n'));
    header = header.substr(0, header.find('#'));
    block_keeps_ = header.find('+') != std::string_view::npos;
}

bool Writer::right_after_block() const {
    if (block_end_ > out_.size()) return false;
    return std::string_view(out_).substr(block_end_).find_first_not_of(" \t\r\n") ==
           std::string_view::npos;
}

// Makes the output end with at least `count` empty lines: the empty lines
// that close a block scalar kept with "+" are the source's blank lines too.
void Writer::blank_lines(std::uint32_t count) {
    if (count == 0) return;
    // Below a block scalar kept with "+", empty lines would become its content.
    if (block_keeps_ && right_after_block()) return;
    if (out_.empty()) {
        out_.append(count, '\n');
        return;
    }
    if (!out_.ends_with('\n')) return;
    // Count the blank lines (blanks and carriage returns only) at the end.
    std::uint32_t have = 0;
    std::size_t end = out_.size() - 1;  // the line feed closing the last line
    while (have < count && end > 0) {
        const std::size_t nl = out_.rfind('\n', end - 1);
        if (nl == std::string::npos) break;
        const std::string_view line(out_.data() + nl + 1, end - nl - 1);
        if (line.find_first_not_of(" \t\r") != std::string_view::npos) break;
        ++have;
        end = nl;
    }
    if (have < count) out_.append(count - have, '\n');
}

// A comment of the known source is written as it was ("#note", "#  note");
// a standalone one keeps its own indentation unless it was level with the
// node it belongs to, in which case it follows that node. Normalising, it
// goes to the column of the collection it stood level with, or with
// `follow` to column n.
void Writer::comment_line(std::string_view text, std::size_t n, std::uint32_t column, bool follow) {
    if (const auto c = locate(text)) {
        const std::string_view src = source_->text();
        // Only spaces are copied: a tab before a comment is not accepted
        // everywhere a comment line can land.
        const std::string_view indent = src.substr(c->line_start, c->hash - c->line_start);
        const bool own_column = c->standalone && indent.size() != column && !right_after_block() &&
                                indent.find_first_not_of(' ') == std::string_view::npos;
        if (own_column && !normalize_)
            out_ += indent;
        else if (own_column && !follow)
            // Normalised, it keeps its place among the collections around
            // it ("  # b: 2" below the last entry of a nested mapping).
            spaces(level_of(indent.size()));
        else
            spaces(n);
        out_ += comment_source(*c);
        out_ += '\n';
        return;
    }
    spaces(n);
    out_ += '#';
    if (!text.empty()) {
        out_ += ' ';
        out_ += text;
    }
    out_ += '\n';
}

void Writer::head(const YamlNode& node, std::size_t n, std::size_t from, std::size_t until) {
    if (!node.comments.has_head()) return;
    const auto& lines = node.comments.text->head;
    for (std::size_t i = from; i < std::min(until, lines.size()); ++i) {
        const auto c = i > 0 ? locate(lines[i]) : std::nullopt;
        if (c) blank_lines(blank_lines_above(c->line_start));
        comment_line(lines[i], n, node.span.column);
    }
    if (in_source(node)) blank_lines(blank_lines_above(node.span.offset));
}

// Foot comments, with the "..." line the source closed the document with
// (between them where it stood).
void Writer::foot(const YamlNode& node) {
    const auto end = in_source(node) ? source_->document_end(node) : std::nullopt;
    bool ended = !end;
    if (node.comments.text) {
        for (std::string_view line : node.comments.text->foot) {
            const auto c = locate(line);
            if (!ended && c && c->hash > *end) {
                out_ += "...\n";
                ended = true;
            }
            if (c) blank_lines(blank_lines_above(c->line_start));
            comment_line(line, 0, 0);
        }
    }
    if (!ended) out_ += "...\n";
}

void Writer::foot_above(const YamlNode& node, std::size_t until) {
    if (!node.comments.text) return;
    for (std::string_view line : node.comments.text->foot) {
        const auto c = locate(line);
        if (c && c->hash >= until) continue;
        if (c) blank_lines(blank_lines_above(c->line_start));
        comment_line(line, 0, 0);
    }
}

std::string Writer::inline_comment(const YamlNode& node) const {
    std::string s;
    if (!node.comments.has_inline()) return s;
    const CommentText& t = *node.comments.text;
    s.append(std::max<std::uint32_t>(t.inline_spaces, 1), ' ');
    if (const auto c = locate(*t.inline_text)) {
        s += comment_source(*c);
        return s;
    }
    s += '#';
    if (!t.inline_text->empty()) {
        s += ' ';
        s += *t.inline_text;
    }
    return s;
}

// Block scalars end their own line (with their comment on the header).
void Writer::finish_line(const YamlNode& node) {
    if (out_.ends_with('\n')) return;
    out_ += inline_comment(node);
    out_ += '\n';
}

}  // namespace quarvel::roundtrip::emit
