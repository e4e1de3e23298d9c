// Input bytes -> text decoding -> the tree composer with comments kept, then
// the invariants every node must keep: its end is not before its start, its
// end line and column agree with the line starts of the text, and the raw
// source of a block scalar is exactly the slice between its start and end.
#include <cstdint>
#include <cstdlib>

#include "fuzz_options.hpp"
#include "support/utf8.hpp"
#include "syntax/compose.hpp"

namespace {

void check(bool ok) {
    if (!ok) std::abort();
}

void check_node(const quarvel::YamlNode& n, std::string_view text,
                const quarvel::LineStarts& lines) {
    check(n.end_offset >= n.span.offset);
    check(n.end_offset <= text.size());
    const std::uint32_t line = lines.line_of(n.end_offset);
    check(n.end_line == line);
    check(n.end_column == lines.column_of(line, n.end_offset));
    if (n.comments.text && n.comments.text->raw)
        check(*n.comments.text->raw == text.substr(n.span.offset, n.end_offset - n.span.offset));
    for (const auto& c : n.children) check_node(c, text, lines);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto in = quarvel::fuzz::split_input(data, size);
    auto text = quarvel::utf8::decode_input(in.text);
    if (!text) return 0;
    const bool keep_empty = (in.flags & 1) != 0;
    auto forest = quarvel::compose_text(*text, 0, keep_empty);
    if (!forest) return 0;
    const quarvel::LineStarts lines(*text);
    for (const auto& root : forest->roots) check_node(root, *text, lines);
    return 0;
}
