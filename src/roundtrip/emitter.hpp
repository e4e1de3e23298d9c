// The round-trip emitter: syntax trees back to YAML text, keeping comments,
// blank lines, styles, properties, spacing after indicators, untouched block
// scalars and the directive lines of resolved includes. A stream whose trees
// hold no modified node comes back as its source text, byte for byte.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "encode/emitter.hpp"
#include "support/error.hpp"
#include "syntax/node.hpp"

namespace quarvel::roundtrip {

struct EmitOptions {
    NullStyle null_style = NullStyle::Empty;  // how nulls made by edits are written
    bool declare_1_2 = false;                 // a "%YAML 1.2" line opens the stream
    bool prefer_double_quotes = true;  // quotes for a plain scalar whose text cannot stay plain
    // The text as read, when the source handed over holds line feeds for its
    // lone carriage returns: an unchanged stream is written as read, and a
    // text whose lines all ended so gets carriage returns back.
    std::optional<std::string_view> text_as_read;
    // Every node is written anew with its layout normalised: block mappings
    // indented by two, block sequences below keys indented or level with
    // them as the document mostly has them, one space after ':' and '-',
    // standalone comments at the indentation of what they stand with, no
    // blanks at line ends outside scalars, one line break at the end. The
    // source text of scalars and flow collections is kept (their lines
    // moved along), so styles, escapes and comments stay.
    bool normalize_layout = false;
};

// The text a tree was composed from, with its file number: untouched
// scalars are then copied from it as written (escapes, line breaks and
// quoting kept), and blank lines below head comments come back.
struct SourceText {
    std::string_view text;
    std::uint32_t file_id = 0;
};

// Some node of the tree (keys, values and items included) has `modified`
// set. A tree too deep for the stack counts as modified, so that the caller
// re-emits and meets the stack error there instead of dropping edits.
bool tree_modified(const YamlNode& node);
bool any_modified(std::span<const YamlNode> roots);

// Appends one node written as a document root (with its "---" when it has
// explicit_start). The only failure is running out of stack.
Status emit_root(const YamlNode& node, const EmitOptions& options, std::string& out,
                 std::optional<SourceText> source = {});

// The whole stream (file number 0): `source` when it is known and nothing
// was modified, otherwise every root re-emitted with "---" between documents; then the
// "%YAML 1.2" line when the options ask for it. Normalising the layout, it
// fails where a comment would not stay in its place.
Result<std::string> emit_stream(std::span<const YamlNode> roots,
                                std::optional<std::string_view> source, const EmitOptions& options);

// The content of an included file whose tree is `node`: the node's content
// rather than its directive, keyword nulls, and a byte order mark first when
// the node has leading_bom. `source` is the file's loaded text, when known.
Result<std::string> emit_included_file(const YamlNode& node, std::optional<SourceText> source = {});

// Makes `text` open with "%YAML 1.2" (replacing a first %YAML line after an
// optional byte order mark) followed by "---" unless the text already opens
// its first document with one.
void declare_yaml_1_2(std::string& text);

}  // namespace quarvel::roundtrip
