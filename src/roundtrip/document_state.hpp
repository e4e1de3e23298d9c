// What a round-trip document owns: its syntax trees, the text they were
// composed from, where it came from, and the load options that decide how
// new values and the document itself are written.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "directives/resolve.hpp"
#include "resolver/resolver.hpp"
#include "support/error.hpp"
#include "syntax/node.hpp"

namespace quarvel {

// How nulls created by edits are spelled: "null", nothing, or "~".
enum class EditNullStyle : std::uint8_t { Keyword = 0, Empty = 1, Tilde = 2 };

struct DocumentSettings {
    bool prefer_double_quotes = true;  // new strings that need quotes get double quotes
    bool declare_1_2 = false;          // the output starts with a %YAML 1.2 line
    EditNullStyle null_style = EditNullStyle::Empty;
};

// The state is pinned in memory: the trees hold views into `source` and into
// the forest's arena, so it is neither copied nor moved once composed.
struct DocumentState {
    std::string source;  // UTF-8, byte order mark included
    SyntaxForest forest;
    std::optional<std::string> origin;
    // The origin's directory when it was recorded (origin_directory): save()
    // writes the origin only beneath it.
    std::optional<std::string> origin_dir;
    FileTable files;  // empty unless directives were resolved; entry 0 is the root
    DocumentSettings settings;
    // How plain scalars read when values are taken from the trees: the mode
    // the text was loaded in (its options and its %YAML directive).
    ResolverMode mode = ResolverMode::Core12;
    // The text as it was read, kept only when it broke lines with carriage
    // returns alone: `source` holds line feeds in their place (one byte for
    // one, so every offset stands), and its lines are told apart like any
    // other text's. An unedited document is written back as read.
    std::string text_as_read;

    DocumentState() = default;
    DocumentState(const DocumentState&) = delete;
    DocumentState& operator=(const DocumentState&) = delete;

    NodeList& roots() { return forest.roots; }
    const NodeList& roots() const { return forest.roots; }
    Arena& arena() { return forest.arena; }
};

// The directory of `origin` as it is now: canonical when it exists (its
// links resolved once, here), else lexically normalised.
std::string origin_directory(const std::string& origin);

// Takes `text` and composes it as file 0 (empty documents dropped).
Result<std::unique_ptr<DocumentState>> compose_document(std::string text,
                                                        const DocumentSettings& settings);

}  // namespace quarvel
