// Configuration directives on syntax trees: !include and the four
// !include_dir_* directives splice other files in, !secret takes values from
// secrets.yaml files, !env_var from the process environment. Every target
// stays inside the include root; every spliced node records the directive
// that produced it (YamlNode::source).
//
// The resolver never calls back into the application: values it could not
// find in soft mode come back as lists, for the caller to report.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "directives/file_system.hpp"
#include "support/error.hpp"
#include "syntax/node.hpp"

namespace quarvel {

inline constexpr std::size_t kMaxIncludeDepth = 50;
// Hostile trees can include one small file from many places at many levels;
// these bound the work one call does.
inline constexpr std::uint64_t kMaxIncludedFiles = 200'000;
inline constexpr std::uint64_t kMaxIncludedBytes = std::uint64_t{1} << 30;

struct DirectiveOptions {
    bool includes = false;
    bool secrets = false;
    bool env_vars = false;
    bool recursive_dirs = false;  // !include_dir_* descend into subdirectories
    bool soft_secrets = false;    // a missing secret loads as null and is listed
    bool soft_env_vars = false;   // the same for environment variables
    // Compose read files as strictly as the plain decoder reads them
    // (ComposeChecks); a file whose faults only that decoder can find
    // (aliases) or that fails only the strict checks is marked `recheck`.
    bool strict = false;
    bool reject_complex_keys = false;
    // Included files keep their comments: only documents to edit need them.
    bool keep_comments = true;
    // A directory walk with at least this many files still to read reads
    // them ahead on two threads, where the file system allows it.
    std::uint32_t read_ahead_from = 16;
};

// One source file: entry 0 is the root document (whose text the caller
// owns), the others are files read by directives, with their text.
struct SourceFile {
    std::string path;
    std::unique_ptr<const std::string> text;  // null for entry 0
    bool recheck = false;                     // strict composition could not vouch for the text
};

// Files by number in order of first use; a file read twice keeps its first
// number and is not read again.
struct FileTable {
    std::string root;  // the include root, canonical: where write-back may write
    std::vector<SourceFile> files;
    std::unordered_map<std::string, std::uint32_t> by_path;
};

// The table's paths by file number.
inline std::vector<std::string> file_paths(const FileTable& table) {
    std::vector<std::string> paths;
    paths.reserve(table.files.size());
    for (const SourceFile& f : table.files) paths.push_back(f.path);
    return paths;
}

// A secret or environment variable that was not found in soft mode.
struct MissingValue {
    std::string name;
    std::string file;        // the file holding the directive
    std::uint32_t line = 0;  // 0-based line of the directive
};

struct DirectiveOutcome {
    FileTable files;
    std::vector<MissingValue> missing_secrets;
    std::vector<MissingValue> missing_env_vars;
    Warnings warnings;
};

struct DirectiveInput {
    std::string include_dir;  // as given ("." when absent); may be relative
    std::string root_file;    // the root document's name in the file table
    DirectiveOptions options;
    // Runs work(arg), which reads and composes files and touches nothing of
    // the caller's, so that the caller's other threads may run meanwhile
    // (the binding releases the interpreter lock around it). None: run as is.
    void (*while_reading)(void (*work)(void*), void* arg) = nullptr;
};

// Resolves every directive in every root of `forest` (the root text's
// forest, file number 0). Included trees are spliced in; the storage their
// texts live in is handed to `forest` (arena) and to the outcome (file
// texts), so the forest must not outlive the outcome.
Result<DirectiveOutcome> resolve_directives(SyntaxForest& forest, const DirectiveInput& input,
                                            FileSystem& fs, Environment& env);

}  // namespace quarvel
