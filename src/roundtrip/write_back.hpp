// Write-back of round-trip documents that span several files: which files
// an edit changed, the bytes of each, and the order they are written in.
//
// A node with a `source` is an include boundary: what lies below it belongs
// to another file, the one numbered `source->target_file_id` when that is
// present. Everything outside every boundary belongs to the root file.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "roundtrip/atomic_write.hpp"
#include "roundtrip/emitter.hpp"
#include "support/error.hpp"
#include "syntax/node.hpp"

namespace quarvel::roundtrip {

// One entry of the file table, indexed by file number; entry 0 is the root
// document. `text` is what the file was loaded from, when it was kept.
struct FileRecord {
    std::string path;
    std::optional<std::string_view> text;
};

struct FileBytes {
    std::string path;
    std::string bytes;
    // Where the write is confined: `rel` beneath the directory `root`. An
    // empty root writes `path` as named, following its links (a path the
    // caller chose).
    std::string root;
    std::string rel;
};

// Something in the node's own file changed: its flag or, through items,
// keys and values, a node below it that is not behind another boundary.
// A boundary itself counts as unchanged (its content is another file's),
// except that a mapping key is always looked into.
bool changed_within_file(const YamlNode& node);

// The files `save` writes, in order: each included file that changed (in
// document order, nested includes too), then the root file when `path` is
// given, or when a root changed, to `origin`. Fails when the root must be
// written and there is neither a path nor an origin.
struct SaveInput {
    std::span<const YamlNode> roots;
    std::span<const FileRecord> files;
    std::optional<std::string_view> root_text;  // the document's source, when kept
    EmitOptions options;                        // the document's null style and version
    std::optional<std::string> path;
    std::optional<std::string> origin;
    // The canonical directories writes are confined to: the include root
    // (included files) and the origin's directory as it was when recorded.
    std::string include_root;
    std::optional<std::string> origin_dir;
};
Result<std::vector<FileBytes>> plan_save(const SaveInput& input);

// Every included file: re-emitted when it changed or its text was not
// kept, otherwise its loaded text. A file included from several places
// appears once; different bytes for one path are the conflicting-edits
// error. Fails on an empty file table.
Result<std::vector<FileBytes>> collect_included_files(std::span<const YamlNode> roots,
                                                      std::span<const FileRecord> files,
                                                      std::string_view include_root = {});

// Writes one file atomically, confined as its FileBytes says.
detail::expected<void, WriteFailure> write_file(const FileBytes& file);

// Writes the files in order, each atomically, and returns the paths written.
// The first failure stops: earlier files stay written, later ones untouched.
detail::expected<std::vector<std::string>, WriteFailure> write_files(
    std::span<const FileBytes> files);

}  // namespace quarvel::roundtrip
